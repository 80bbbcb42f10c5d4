#pragma once
// Tells when a peer's datagrams to a local UDP port reach the host but never the socket on that
// port. A host firewall that accepts only what belongs to a connection it knows drops a reply
// that comes from another port than the request went to, as a TFTP server's transfer port
// does; the waiting socket sees nothing, so its owner could only wait out its time-outs. A
// packet receiver (PacketReceiver.h) on the interface the route to the peer takes hears such
// datagrams below the firewall. When one is heard and the owner has not stopped the watch within
// kGraceMs, the watch reports the drop, once. The owner stops it (destroys it) as soon as its
// socket receives a datagram from the peer: then the peer's replies get through.
// Needs CAP_NET_RAW, as the receiver does: Open gives no watch without it, nor when no route
// leads to the peer or the packet socket cannot be opened; the owner then waits as it would
// without one. Loop thread only.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "runtime/SingleShot.h"
#include "transport/PacketReceiver.h"

namespace scoutor {

class TDroppedReplyWatch {
 public:
  // How long a datagram heard below the IP stack may take to reach the socket's owner: far
  // longer than the stack and a busy loop need, well short of a TFTP wait for a reply.
  static constexpr int kGraceMs = 1000;
  // Called on the loop's thread with the source port of the first datagram that never arrived.
  using TDropped = std::function<void(std::uint16_t sourcePort)>;

  // Watches for datagrams from `peer` (dotted) to the local UDP port `localPort`.
  static std::unique_ptr<TDroppedReplyWatch> Open(TEventLoop& loop, const std::string& peer,
                                                  std::uint16_t localPort, TDropped dropped);
  TDroppedReplyWatch(const TDroppedReplyWatch&) = delete;
  TDroppedReplyWatch& operator=(const TDroppedReplyWatch&) = delete;

 private:
  TDroppedReplyWatch(TEventLoop& loop, TDropped dropped);
  void Heard(const TPacketDatagram& datagram);

  TEventLoop& Loop;
  TDropped Dropped;
  std::optional<std::uint16_t> FirstSourcePort;  // of the first datagram heard
  TSingleShot Grace;
  std::unique_ptr<TPacketReceiver> Receiver;
};

}  // namespace scoutor
