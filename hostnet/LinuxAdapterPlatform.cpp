#include "hostnet/LinuxAdapterPlatform.h"

#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>

#include "hostnet/FormatIPv4.h"

namespace scoutor {

namespace {

struct TInterface {
  unsigned Index;
  std::string Name;
};

// Every interface of the namespace, loopback included, in index order.
std::optional<std::vector<TInterface>> ListInterfaces() {
  std::unique_ptr<struct if_nameindex, decltype(&if_freenameindex)> all(if_nameindex(),
                                                                         &if_freenameindex);
  if (!all) return std::nullopt;
  std::vector<TInterface> interfaces;
  for (const struct if_nameindex* entry = all.get(); entry->if_index != 0; ++entry)
    interfaces.push_back({entry->if_index, entry->if_name});
  std::sort(interfaces.begin(), interfaces.end(),
            [](const TInterface& a, const TInterface& b) { return a.Index < b.Index; });
  return interfaces;
}

// What getifaddrs tells about one interface.
struct TInterfaceAddresses {
  unsigned Flags = 0;
  std::vector<TAdapterAddress> Addresses;
};

std::uint32_t IPv4Of(const sockaddr* address) {
  if (address == nullptr || address->sa_family != AF_INET) return 0;
  sockaddr_in inet;
  std::memcpy(&inet, address, sizeof inet);
  return inet.sin_addr.s_addr;
}

// Flags and IPv4 addresses by interface name. An address with a label ("eth0:1") belongs to
// the interface named before the colon (interface names cannot hold one).
std::optional<std::map<std::string, TInterfaceAddresses>> ReadAddresses() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return std::nullopt;
  std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> guard(list, &freeifaddrs);
  std::map<std::string, TInterfaceAddresses> byName;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_name == nullptr) continue;
    std::string name = entry->ifa_name;
    name = name.substr(0, name.find(':'));
    TInterfaceAddresses& info = byName[name];
    info.Flags = entry->ifa_flags;
    if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET)
      info.Addresses.push_back(
          {FormatIPv4(IPv4Of(entry->ifa_addr)), FormatIPv4(IPv4Of(entry->ifa_netmask))});
  }
  return byName;
}

// Closes the descriptor it holds.
class TDescriptor {
 public:
  explicit TDescriptor(int fd) : Fd(fd) {}
  ~TDescriptor() {
    if (Fd >= 0) close(Fd);
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  int Get() const { return Fd; }

 private:
  int Fd;
};

struct TDefaultRoute {
  std::uint32_t Gateway;  // network order
  std::uint32_t Metric;
};

using TDefaultRoutes = std::map<unsigned, TDefaultRoute>;  // by interface index

bool ReadU32(const rtattr* attribute, std::uint32_t& value) {
  if (RTA_PAYLOAD(attribute) < sizeof value) return false;
  std::memcpy(&value, RTA_DATA(attribute), sizeof value);
  return true;
}

// Keeps, for each interface, the gateway of its default route with the lowest metric (the
// first one reported among equals).
void Offer(TDefaultRoutes& routes, unsigned index, std::uint32_t gateway, std::uint32_t metric) {
  const auto [it, added] = routes.try_emplace(index, TDefaultRoute{gateway, metric});
  if (!added && metric < it->second.Metric) it->second = {gateway, metric};
}

// The next hops of a multipath route: (interface index, gateway) pairs.
void OfferHops(TDefaultRoutes& routes, const rtattr* multipath, std::uint32_t metric) {
  auto* hop = static_cast<rtnexthop*>(RTA_DATA(multipath));
  int left = static_cast<int>(RTA_PAYLOAD(multipath));
  while (RTNH_OK(hop, left)) {
    int length = static_cast<int>(hop->rtnh_len) - static_cast<int>(RTNH_LENGTH(0));
    for (rtattr* attribute = RTNH_DATA(hop); RTA_OK(attribute, length);
         attribute = RTA_NEXT(attribute, length)) {
      std::uint32_t gateway = 0;
      if (attribute->rta_type == RTA_GATEWAY && ReadU32(attribute, gateway))
        Offer(routes, static_cast<unsigned>(hop->rtnh_ifindex), gateway, metric);
    }
    left -= static_cast<int>(RTNH_ALIGN(hop->rtnh_len));
    hop = RTNH_NEXT(hop);
  }
}

// Takes one route message of the dump into account when it is an IPv4 default route of the
// main table that goes through a gateway.
void TakeRoute(TDefaultRoutes& routes, nlmsghdr* header) {
  if (header->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) return;
  auto* route = static_cast<rtmsg*>(NLMSG_DATA(header));
  if (route->rtm_family != AF_INET || route->rtm_dst_len != 0 || route->rtm_type != RTN_UNICAST)
    return;
  std::uint32_t table = route->rtm_table;
  std::uint32_t metric = 0;
  std::uint32_t outInterface = 0;
  std::uint32_t gateway = 0;
  const rtattr* multipath = nullptr;
  int length = static_cast<int>(RTM_PAYLOAD(header));
  for (rtattr* attribute = RTM_RTA(route); RTA_OK(attribute, length);
       attribute = RTA_NEXT(attribute, length)) {
    switch (attribute->rta_type) {
      case RTA_TABLE: ReadU32(attribute, table); break;
      case RTA_PRIORITY: ReadU32(attribute, metric); break;
      case RTA_OIF: ReadU32(attribute, outInterface); break;
      case RTA_GATEWAY: ReadU32(attribute, gateway); break;
      case RTA_MULTIPATH: multipath = attribute; break;
      default: break;
    }
  }
  if (table != RT_TABLE_MAIN) return;
  if (gateway != 0 && outInterface != 0) Offer(routes, outInterface, gateway, metric);
  if (multipath != nullptr) OfferHops(routes, multipath, metric);
}

// The default gateway of each interface from the main IPv4 routing table of the calling
// thread's namespace (a netlink socket lives in the namespace of the thread that opens it).
std::optional<TDefaultRoutes> ReadDefaultRoutes() {
  TDescriptor socketFd(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
  if (socketFd.Get() < 0) return std::nullopt;
  const timeval patience{1, 0};  // the kernel answers at once; this only stops a hang
  setsockopt(socketFd.Get(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);

  constexpr std::uint32_t kSequence = 1;
  struct {
    nlmsghdr Header;
    rtmsg Route;
  } request{};
  request.Header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
  request.Header.nlmsg_type = RTM_GETROUTE;
  request.Header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.Header.nlmsg_seq = kSequence;
  request.Route.rtm_family = AF_INET;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(socketFd.Get(), &request, request.Header.nlmsg_len, 0,
             reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) < 0)
    return std::nullopt;

  TDefaultRoutes routes;
  std::vector<std::uint32_t> buffer(8192);  // 32 KiB, aligned for the message headers
  constexpr int kMaxBatches = 65536;
  for (int batch = 0; batch < kMaxBatches; ++batch) {
    const ssize_t received =
        recv(socketFd.Get(), buffer.data(), buffer.size() * sizeof(std::uint32_t), 0);
    if (received <= 0) return std::nullopt;
    int left = static_cast<int>(received);
    for (auto* header = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(header, left);
         header = NLMSG_NEXT(header, left)) {
      if (header->nlmsg_seq != kSequence) continue;
      if (header->nlmsg_type == NLMSG_DONE) return routes;
      if (header->nlmsg_type == NLMSG_ERROR) return std::nullopt;
      if (header->nlmsg_type == RTM_NEWROUTE) TakeRoute(routes, header);
    }
  }
  return std::nullopt;
}

}  // namespace

bool TLinuxAdapterPlatform::Load(std::string&) { return true; }

std::optional<std::size_t> TLinuxAdapterPlatform::InterfaceCount() {
  const auto interfaces = ListInterfaces();
  if (!interfaces) return std::nullopt;
  return interfaces->size();
}

std::optional<std::vector<TAdapterRecord>> TLinuxAdapterPlatform::Adapters() {
  const auto interfaces = ListInterfaces();
  const auto addresses = ReadAddresses();
  const auto routes = ReadDefaultRoutes();
  if (!interfaces || !addresses || !routes) return std::nullopt;

  std::vector<TAdapterRecord> adapters;
  for (const TInterface& interface : *interfaces) {
    TAdapterRecord adapter;
    adapter.Name = interface.Name;
    if (const auto found = addresses->find(interface.Name); found != addresses->end()) {
      if ((found->second.Flags & IFF_LOOPBACK) != 0) continue;
      adapter.Addresses = found->second.Addresses;
    }
    if (adapter.Addresses.empty()) adapter.Addresses.push_back({"0.0.0.0", "0.0.0.0"});
    if (const auto route = routes->find(interface.Index); route != routes->end())
      adapter.Gateway = FormatIPv4(route->second.Gateway);
    adapters.push_back(std::move(adapter));
  }
  return adapters;
}

}  // namespace scoutor
