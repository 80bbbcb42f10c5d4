#pragma once
// Reachability of any number of addresses at once, without blocking the loop. Each check takes
// one of two paths, chosen by the target's route:
// - a target that the routing table puts directly on an Ethernet-like interface, when the
//   program may open packet sockets (root or CAP_NET_RAW): the link layer's path
//   (LinkLayerChecks.h), which resolves the target with ARP itself, paced per interface, and
//   leaves the host's neighbour table alone;
// - every other target (behind a gateway, a point-to-point link, loopback, the host's own
//   addresses, no route), and every target without the capability: the kernel's path
//   (KernelPathChecks.h), one ICMP socket, paced on the host's neighbour table.
// Both end a check with its echo's answer, an ICMP error quoting it, or a time-out, and tell
// which path they took. Results are delivered on the loop's thread as each check ends, never
// inside Check. Loop thread only.
#include <cstddef>
#include <memory>
#include <string>

#include "hostnet/ReachabilityCheck.h"
#include "runtime/Clock.h"
#include "runtime/EventLoop.h"

namespace scoutor {

struct TReachabilityOptions {
  // Checks out unanswered at once on the kernel's path; 0: DefaultOutstandingLimit().
  std::size_t MaxOutstanding = 0;
  // Whether targets on an Ethernet-like link take the link layer's path where allowed.
  bool LinkLayer = true;
  // ARP requests an interface may send in a second on the link layer's path.
  unsigned ArpPerSecond = 1000;
  // The loop's clock, which the pacing reads; null: the machine's monotonic clock.
  const TClock* Clock = nullptr;
  // Told of every check as it ends, before its own callback (diagnostics: which path it took).
  TCheckDone Ended;
};

class TReachabilityService {
 public:
  explicit TReachabilityService(TEventLoop& loop = MainLoop(), TReachabilityOptions options = {});
  ~TReachabilityService();  // pending checks end without their callbacks
  TReachabilityService(const TReachabilityService&) = delete;
  TReachabilityService& operator=(const TReachabilityService&) = delete;

  // Starts one check of `address` (dotted text). `done` runs later on the loop's thread, never
  // inside Check, exactly once unless the check is cancelled first. `held`, when given, runs
  // before `done` as soon as a host is known to hold the address (an ARP reply on the link
  // layer's path; the kernel's path leaves this to the neighbour table).
  TCheckId Check(const std::string& address, TCheckDone done, TCheckHeld held = {});
  // A cancelled check's callback never runs; unknown or ended checks are ignored.
  void Cancel(TCheckId id);
  void CancelAll();
  std::size_t Pending() const;  // checks started and not yet ended or cancelled

  static constexpr int kTimeoutMs = kCheckTimeoutMs;
  // Half of /proc/sys/net/ipv4/neigh/default/gc_thresh3 (1024 when it cannot be read).
  static std::size_t DefaultOutstandingLimit();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};

}  // namespace scoutor
