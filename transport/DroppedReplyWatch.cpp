#include "transport/DroppedReplyWatch.h"

#include <utility>
#include <vector>

#include "transport/RawSocketPrivilege.h"
#include "transport/RouteQuery.h"
#include "transport/SocketErrors.h"

namespace scoutor {

std::unique_ptr<TDroppedReplyWatch> TDroppedReplyWatch::Open(TEventLoop& loop,
                                                             const std::string& peer,
                                                             std::uint16_t localPort,
                                                             TDropped dropped) {
  if (!TRawSocketPrivilege::Available()) return nullptr;
  const std::optional<TAddressBytes> peerAddress = ParseDottedIPv4(peer);
  if (!peerAddress) return nullptr;
  // The replies come back by the interface the route leaves by: loopback for the host's own
  // addresses.
  const std::optional<TRoute> route = QueryRoute(*peerAddress);
  if (!route || !route->Source || route->InterfaceIndex <= 0) return nullptr;
  TPacketMatch match;
  match.Port = localPort;
  match.Destinations = {*route->Source};
  match.Source = peerAddress;
  std::unique_ptr<TDroppedReplyWatch> watch(new TDroppedReplyWatch(loop, std::move(dropped)));
  try {
    watch->Receiver = std::make_unique<TPacketReceiver>(
        route->InterfaceIndex, std::move(match), loop,
        [raw = watch.get()](const TPacketDatagram& datagram) { raw->Heard(datagram); });
  } catch (const EIdSocketError&) {
    return nullptr;  // the capability is only permitted, or the interface just went away
  }
  return watch;
}

TDroppedReplyWatch::TDroppedReplyWatch(TEventLoop& loop, TDropped dropped)
    : Loop(loop), Dropped(std::move(dropped)) {}

void TDroppedReplyWatch::Heard(const TPacketDatagram& datagram) {
  if (FirstSourcePort) return;  // the grace runs from the first one
  FirstSourcePort = datagram.SourcePort;
  Grace.Start(Loop, kGraceMs, [this] {
    // The owner may destroy this watch from inside the report.
    const TDropped report = Dropped;
    report(*FirstSourcePort);
  });
}

}  // namespace scoutor
