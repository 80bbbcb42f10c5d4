#include "transport/LocalInterfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "transport/SocketStack.h"

namespace scoutor {

std::vector<TLocalInterface> TLocalInterfaces::List() {
  std::vector<TLocalInterface> list;
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) return list;
  for (const ifaddrs* entry = all; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    TLocalInterface item;
    item.Device = entry->ifa_name;
    // A labelled address ("eth0:1") lives on the device the label starts with.
    const std::size_t colon = item.Device.find(':');
    if (colon != std::string::npos) item.Device.resize(colon);
    item.Index = static_cast<int>(if_nametoindex(item.Device.c_str()));
    if (item.Index == 0) continue;
    sockaddr_in address{};
    std::memcpy(&address, entry->ifa_addr, sizeof address);
    TAddressBytes bytes;
    std::memcpy(bytes.data(), &address.sin_addr.s_addr, 4);
    item.Address = TSocketStack::AddressToText(bytes);
    if ((entry->ifa_flags & IFF_BROADCAST) != 0 && entry->ifa_broadaddr != nullptr &&
        entry->ifa_broadaddr->sa_family == AF_INET) {
      std::memcpy(&address, entry->ifa_broadaddr, sizeof address);
      std::memcpy(bytes.data(), &address.sin_addr.s_addr, 4);
      item.BroadcastAddress = TSocketStack::AddressToText(bytes);
    }
    item.Up = (entry->ifa_flags & IFF_UP) != 0;
    item.Loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
    item.Broadcast = (entry->ifa_flags & IFF_BROADCAST) != 0;
    list.push_back(item);
  }
  freeifaddrs(all);
  return list;
}

const TLocalInterface* TLocalInterfaces::WithAddress(const std::vector<TLocalInterface>& list,
                                                     const std::string& address) {
  for (const TLocalInterface& item : list)
    if (item.Address == address) return &item;
  return nullptr;
}

// Connecting a UDP socket makes the kernel look up the route and pick the source address
// without a packet leaving. A peer that is one of the host's own addresses is reached through
// the loopback device, whichever device holds the address.
std::optional<TRouteToPeer> TLocalInterfaces::RouteTo(const std::vector<TLocalInterface>& list,
                                                      const std::string& peer) {
  const std::optional<TAddressBytes> peerBytes = ParseDottedIPv4(peer);
  if (!peerBytes) return std::nullopt;
  const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return std::nullopt;
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(9);  // any port: connect only routes
  std::memcpy(&remote.sin_addr.s_addr, peerBytes->data(), 4);
  sockaddr_in local{};
  socklen_t length = sizeof local;
  const bool routed =
      connect(probe, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0 &&
      getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length) == 0;
  close(probe);
  if (!routed) return std::nullopt;
  TAddressBytes source;
  std::memcpy(source.data(), &local.sin_addr.s_addr, 4);
  const std::string sourceText = TSocketStack::AddressToText(source);

  const TLocalInterface* through = WithAddress(list, sourceText);
  if (through == nullptr) return std::nullopt;
  const bool ownAddress =
      WithAddress(list, DottedIPv4(*peerBytes)) != nullptr || (*peerBytes)[0] == 127;
  if (ownAddress) {
    const auto loopback = std::find_if(list.begin(), list.end(),
                                       [](const TLocalInterface& item) { return item.Loopback; });
    if (loopback == list.end()) return std::nullopt;
    through = &*loopback;
  }
  return TRouteToPeer{through->Device, through->Index, sourceText};
}

}  // namespace scoutor
