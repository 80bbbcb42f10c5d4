#include "hostnet/DirectLink.h"

#include "transport/RouteQuery.h"

namespace scoutor {

std::optional<TDirectLink> DirectLinkTo(const TAddressBytes& target) {
  const std::optional<TRoute> route = QueryRoute(target);
  if (!route || !route->Unicast || route->ViaGateway || !route->Source ||
      route->InterfaceIndex <= 0)
    return std::nullopt;
  const std::optional<TMacAddress> mac = EthernetAddressOf(route->InterfaceIndex);
  if (!mac) return std::nullopt;
  return TDirectLink{route->InterfaceIndex, *route->Source, *mac};
}

}  // namespace scoutor
