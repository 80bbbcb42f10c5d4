#include "transport/LocalInterfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

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

}  // namespace scoutor
