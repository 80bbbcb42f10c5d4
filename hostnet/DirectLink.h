#pragma once
// Whether the routing table puts an address directly on an Ethernet-like interface: a connected
// route (no gateway) out of an interface with a link-layer address that speaks ARP. Such an
// address can be resolved and reached below the IP stack; any other (behind a gateway, on a
// point-to-point link or loopback, one of the host's own addresses, no route at all) cannot.
// Asks the routing table (RouteQuery.h) and the interface; both answer at once, so it may be
// asked on the loop's thread. Any thread; reads the calling thread's network namespace.
#include <optional>

#include "transport/IPv4Text.h"
#include "transport/LinkLayerSocket.h"

namespace scoutor {

struct TDirectLink {
  int InterfaceIndex = 0;
  TAddressBytes Source{};  // the interface's address that the route chooses as source
  TMacAddress Mac{};       // the interface's own link-layer address
};

std::optional<TDirectLink> DirectLinkTo(const TAddressBytes& target);

}  // namespace scoutor
