#include "transport/RouteQuery.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>

namespace scoutor {

namespace {

struct TRouteRequest {
  nlmsghdr Header;
  rtmsg Route;
  char Attributes[64];
};

}  // namespace

std::optional<TRoute> QueryRoute(const TAddressBytes& target) {
  const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return std::nullopt;
  // The kernel answers inside the send; the time-out only guards against the unexpected.
  const timeval patience{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);

  TRouteRequest request{};
  request.Header.nlmsg_type = RTM_GETROUTE;
  request.Header.nlmsg_flags = NLM_F_REQUEST;
  request.Header.nlmsg_seq = 1;
  request.Route.rtm_family = AF_INET;
  request.Route.rtm_dst_len = 32;
  rtattr* destination = reinterpret_cast<rtattr*>(request.Attributes);
  destination->rta_type = RTA_DST;
  destination->rta_len = RTA_LENGTH(4);
  std::memcpy(RTA_DATA(destination), target.data(), 4);
  request.Header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg)) + RTA_SPACE(4);

  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  std::optional<TRoute> found;
  alignas(nlmsghdr) char answer[4096];
  if (sendto(fd, &request, request.Header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
             sizeof kernel) >= 0) {
    const ssize_t length = recv(fd, answer, sizeof answer, 0);
    const nlmsghdr* header = reinterpret_cast<const nlmsghdr*>(answer);
    // An error (no route) comes as NLMSG_ERROR.
    if (length > 0 && NLMSG_OK(header, static_cast<unsigned>(length)) &&
        header->nlmsg_type == RTM_NEWROUTE) {
      const rtmsg* route = static_cast<const rtmsg*>(NLMSG_DATA(header));
      TRoute& result = found.emplace();
      result.Unicast = route->rtm_type == RTN_UNICAST;
      result.Local = route->rtm_type == RTN_LOCAL;
      int remaining = static_cast<int>(RTM_PAYLOAD(header));
      for (const rtattr* attribute = RTM_RTA(route); RTA_OK(attribute, remaining);
           attribute = RTA_NEXT(attribute, remaining)) {
        if (attribute->rta_type == RTA_OIF)
          std::memcpy(&result.InterfaceIndex, RTA_DATA(attribute), sizeof result.InterfaceIndex);
        else if (attribute->rta_type == RTA_GATEWAY)
          result.ViaGateway = true;
        else if (attribute->rta_type == RTA_PREFSRC && RTA_PAYLOAD(attribute) == 4)
          std::memcpy(result.Source.emplace().data(), RTA_DATA(attribute), 4);
      }
    }
  }
  close(fd);
  return found;
}

}  // namespace scoutor
