#include "hostnet/NeighbourTable.h"

#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <vector>

#include "transport/SocketStack.h"

namespace scoutor {

namespace {

constexpr std::uint16_t kResolved =
    NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT | NUD_NOARP;

struct TDumpRequest {
  nlmsghdr Header;
  ndmsg Neighbour;
};

// Adds the address of one RTM_NEWNEIGH message to `held` when its entry is resolved.
void TakeEntry(const nlmsghdr* message, std::set<std::string>& held) {
  const auto* entry = static_cast<const ndmsg*>(NLMSG_DATA(message));
  if (entry->ndm_family != AF_INET || (entry->ndm_state & kResolved) == 0) return;
  const TAddressBytes* address = nullptr;
  bool linkLayer = false;
  int length = static_cast<int>(RTM_PAYLOAD(message));
  for (const rtattr* attribute = RTM_RTA(entry); RTA_OK(attribute, length);
       attribute = RTA_NEXT(attribute, length)) {
    if (attribute->rta_type == NDA_DST && RTA_PAYLOAD(attribute) == 4)
      address = static_cast<const TAddressBytes*>(RTA_DATA(attribute));
    else if (attribute->rta_type == NDA_LLADDR && RTA_PAYLOAD(attribute) > 0)
      linkLayer = true;
  }
  // NOARP entries (point-to-point links) have no link-layer address and still are held.
  if (address != nullptr && (linkLayer || (entry->ndm_state & NUD_NOARP) != 0))
    held.insert(TSocketStack::AddressToText(*address));
}

class TKernelNeighbourTable final : public TNeighbourTable {
 public:
  std::set<std::string> HeldAddresses() override {
    std::set<std::string> held;
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return held;
    // A dump is answered at once; the limit only guards against a kernel that never ends it.
    const timeval limit{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    TDumpRequest request{};
    request.Header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg));
    request.Header.nlmsg_type = RTM_GETNEIGH;
    request.Header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.Header.nlmsg_seq = 1;
    request.Neighbour.ndm_family = AF_INET;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(fd, &request, request.Header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) >= 0)
      Receive(fd, held);
    close(fd);
    return held;
  }

 private:
  static void Receive(int fd, std::set<std::string>& held) {
    std::vector<unsigned char> buffer(32768);  // suitably aligned for netlink headers
    for (;;) {
      const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
      if (got <= 0) return;
      auto remaining = static_cast<unsigned>(got);
      for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer.data()); NLMSG_OK(message, remaining);
           message = NLMSG_NEXT(message, remaining)) {
        if (message->nlmsg_type == NLMSG_DONE || message->nlmsg_type == NLMSG_ERROR) return;
        if (message->nlmsg_type == RTM_NEWNEIGH) TakeEntry(message, held);
      }
    }
  }
};

TNeighbourTable* Installed = nullptr;

}  // namespace

TNeighbourTable& NeighbourTable() {
  static TKernelNeighbourTable kernel;
  return Installed != nullptr ? *Installed : kernel;
}

void SetNeighbourTable(TNeighbourTable* table) { Installed = table; }

}  // namespace scoutor
