#pragma once
// Reachability checks on the link layer, for targets that the routing table puts directly on
// an Ethernet-like interface (DirectLink.h). The check resolves the target itself and sends
// the echo in a frame of its own, on one packet socket per interface, so the host's neighbour
// table is neither filled nor waited for and thousands of checks run at once:
// - an ARP request for the target, tried three times one second apart as the kernel does; the
//   ARP requests of an interface are paced (at most `arpPerSecond`, spread over the second);
// - on the ARP reply, the echo request, in a frame to the link-layer address that answered,
//   from the interface's address that the route chose;
// - the echo reply (identifier, sequence and target as on the kernel's path) marks the target
//   reachable, an ICMP error quoting the request not reachable at once;
// - no ARP reply within three seconds: not reachable; an ARP reply but no echo reply within the
//   time-out: not reachable, and held (a host has the address and drops echo requests).
// Results are delivered on the loop's thread, never inside Start. No thread; the sockets are
// open while checks are pending on their interfaces. Loop thread only.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "hostnet/DirectLink.h"
#include "hostnet/ReachabilityCheck.h"
#include "runtime/Clock.h"
#include "runtime/EventLoop.h"

namespace scoutor {

class TLinkLayerChecks {
 public:
  static constexpr int kArpTries = 3;
  static constexpr int kArpIntervalMs = 1000;

  // `clock` is the loop's clock (the pacing reads it); `identifier` goes into the echo requests.
  TLinkLayerChecks(TEventLoop& loop, const TClock& clock, unsigned arpPerSecond,
                   std::uint16_t identifier);
  ~TLinkLayerChecks();  // pending checks end without their callbacks
  TLinkLayerChecks(const TLinkLayerChecks&) = delete;
  TLinkLayerChecks& operator=(const TLinkLayerChecks&) = delete;

  // Starts a check of `target` (written `address`) over `link`. False, with nothing started,
  // when the interface's packet socket cannot be opened (no capability): the caller takes the
  // kernel's path instead, and `done` and `held` are left as they were. `held` may be empty.
  bool Start(TCheckId id, const std::string& address, const TAddressBytes& target,
             const TDirectLink& link, TCheckDone&& done, TCheckHeld&& held);
  bool Cancel(TCheckId id);  // false when the check is not (or no longer) here
  void CancelAll();
  std::size_t Pending() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};

}  // namespace scoutor
