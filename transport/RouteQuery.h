#pragma once
// Where the routing table sends a packet for an address, asked of the kernel through a netlink
// route query as `ip route get` asks it: nothing is sent, and the answer comes at once, so it
// may be asked on the loop's thread. Any thread; reads the calling thread's network namespace.
#include <optional>

#include "transport/IPv4Text.h"

namespace scoutor {

struct TRoute {
  bool Unicast = false;  // a plain route to another host (not local, broadcast, unreachable)
  bool Local = false;    // one of the host's own addresses: the packet goes through loopback
  bool ViaGateway = false;
  int InterfaceIndex = 0;               // the interface the packet leaves by
  std::optional<TAddressBytes> Source;  // the address the route chooses as source
};

// None when no route leads there (or the kernel cannot be asked).
std::optional<TRoute> QueryRoute(const TAddressBytes& target);

}  // namespace scoutor
