#include "hostnet/DirectLink.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>

namespace scoutor {

namespace {

struct TRouteQuery {
  nlmsghdr Header;
  rtmsg Route;
  char Attributes[64];
};

// The route the kernel would take to `target`; false when it has none or cannot be asked.
bool AskRoute(const TAddressBytes& target, rtmsg& route, int& interfaceIndex, bool& viaGateway,
              std::optional<TAddressBytes>& source) {
  const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return false;
  // The kernel answers inside the send; the time-out only guards against the unexpected.
  const timeval patience{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);

  TRouteQuery query{};
  query.Header.nlmsg_type = RTM_GETROUTE;
  query.Header.nlmsg_flags = NLM_F_REQUEST;
  query.Header.nlmsg_seq = 1;
  query.Route.rtm_family = AF_INET;
  query.Route.rtm_dst_len = 32;
  rtattr* destination = reinterpret_cast<rtattr*>(query.Attributes);
  destination->rta_type = RTA_DST;
  destination->rta_len = RTA_LENGTH(4);
  std::memcpy(RTA_DATA(destination), target.data(), 4);
  query.Header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg)) + RTA_SPACE(4);

  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  bool found = false;
  alignas(nlmsghdr) char answer[4096];
  if (sendto(fd, &query, query.Header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
             sizeof kernel) >= 0) {
    const ssize_t length = recv(fd, answer, sizeof answer, 0);
    const nlmsghdr* header = reinterpret_cast<const nlmsghdr*>(answer);
    if (length > 0 && NLMSG_OK(header, static_cast<unsigned>(length)) &&
        header->nlmsg_type == RTM_NEWROUTE) {
      route = *static_cast<const rtmsg*>(NLMSG_DATA(header));
      int remaining = static_cast<int>(RTM_PAYLOAD(header));
      for (const rtattr* attribute = RTM_RTA(static_cast<const rtmsg*>(NLMSG_DATA(header)));
           RTA_OK(attribute, remaining); attribute = RTA_NEXT(attribute, remaining)) {
        if (attribute->rta_type == RTA_OIF)
          std::memcpy(&interfaceIndex, RTA_DATA(attribute), sizeof interfaceIndex);
        else if (attribute->rta_type == RTA_GATEWAY)
          viaGateway = true;
        else if (attribute->rta_type == RTA_PREFSRC && RTA_PAYLOAD(attribute) == 4)
          std::memcpy(source.emplace().data(), RTA_DATA(attribute), 4);
      }
      found = true;
    }
  }
  close(fd);
  return found;
}

}  // namespace

std::optional<TDirectLink> DirectLinkTo(const TAddressBytes& target) {
  rtmsg route{};
  int interfaceIndex = 0;
  bool viaGateway = false;
  std::optional<TAddressBytes> source;
  if (!AskRoute(target, route, interfaceIndex, viaGateway, source)) return std::nullopt;
  if (route.rtm_type != RTN_UNICAST || viaGateway || !source || interfaceIndex <= 0)
    return std::nullopt;
  const std::optional<TMacAddress> mac = EthernetAddressOf(interfaceIndex);
  if (!mac) return std::nullopt;
  return TDirectLink{interfaceIndex, *source, *mac};
}

}  // namespace scoutor
