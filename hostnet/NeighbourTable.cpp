#include "hostnet/NeighbourTable.h"

#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <fstream>
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

// The kernel frees an entry nobody uses that failed, or that has not changed for 5 s; a
// second more keeps clear of the edge. The ages in a dump are in clock ticks.
constexpr long kFreeableAfterSeconds = 6;

struct TTableRead {
  std::set<std::string> Held;
  std::size_t Freeable = 0;  // entries of this namespace the kernel could free now
};

bool Freeable(const ndmsg* entry, const nda_cacheinfo* info) {
  if (info == nullptr || info->ndm_refcnt != 0) return false;
  if ((entry->ndm_state & NUD_FAILED) != 0) return true;
  static const long ticks = sysconf(_SC_CLK_TCK) * kFreeableAfterSeconds;
  return (entry->ndm_state & NUD_STALE) != 0 && static_cast<long>(info->ndm_updated) >= ticks;
}

// Takes one RTM_NEWNEIGH message into `read`.
void TakeEntry(const nlmsghdr* message, TTableRead& read) {
  const auto* entry = static_cast<const ndmsg*>(NLMSG_DATA(message));
  if (entry->ndm_family != AF_INET) return;
  const TAddressBytes* address = nullptr;
  const nda_cacheinfo* info = nullptr;
  bool linkLayer = false;
  int length = static_cast<int>(RTM_PAYLOAD(message));
  for (const rtattr* attribute = RTM_RTA(entry); RTA_OK(attribute, length);
       attribute = RTA_NEXT(attribute, length)) {
    if (attribute->rta_type == NDA_DST && RTA_PAYLOAD(attribute) == 4)
      address = static_cast<const TAddressBytes*>(RTA_DATA(attribute));
    else if (attribute->rta_type == NDA_LLADDR && RTA_PAYLOAD(attribute) > 0)
      linkLayer = true;
    else if (attribute->rta_type == NDA_CACHEINFO && RTA_PAYLOAD(attribute) >= sizeof *info)
      info = static_cast<const nda_cacheinfo*>(RTA_DATA(attribute));
  }
  if (Freeable(entry, info)) ++read.Freeable;
  if ((entry->ndm_state & kResolved) == 0) return;
  // NOARP entries (point-to-point links) have no link-layer address and still are held.
  if (address != nullptr && (linkLayer || (entry->ndm_state & NUD_NOARP) != 0))
    read.Held.insert(TSocketStack::AddressToText(*address));
}

// The number of entries of the whole table: the first field of the first line of numbers in
// arp_cache, in hexadecimal (the same on every line). Only the host's first namespace has the
// file; from any other, it is read through the first process, which normally lives there.
std::optional<std::size_t> TableEntries() {
  for (const char* path : {"/proc/net/stat/arp_cache", "/proc/1/net/stat/arp_cache"}) {
    std::ifstream stat(path);
    std::string heading;
    std::size_t entries = 0;
    if (std::getline(stat, heading) && stat >> std::hex >> entries) return entries;
  }
  return std::nullopt;
}

class TKernelNeighbourTable final : public TNeighbourTable {
 public:
  std::set<std::string> HeldAddresses() override { return Read().Held; }

  std::optional<std::size_t> PinnedEntries() override {
    const std::optional<std::size_t> entries = TableEntries();
    if (!entries) return std::nullopt;
    const std::size_t freeable = Read().Freeable;
    return *entries > freeable ? *entries - freeable : 0;
  }

 private:
  static TTableRead Read() {
    TTableRead read;
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return read;
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
      Receive(fd, read);
    close(fd);
    return read;
  }

  static void Receive(int fd, TTableRead& read) {
    std::vector<unsigned char> buffer(32768);  // suitably aligned for netlink headers
    for (;;) {
      const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
      if (got <= 0) return;
      auto remaining = static_cast<unsigned>(got);
      for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer.data());
           NLMSG_OK(message, remaining); message = NLMSG_NEXT(message, remaining)) {
        if (message->nlmsg_type == NLMSG_DONE || message->nlmsg_type == NLMSG_ERROR) return;
        if (message->nlmsg_type == RTM_NEWNEIGH) TakeEntry(message, read);
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
