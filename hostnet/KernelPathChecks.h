#pragma once
// Reachability checks on the kernel's path: every check sends one ICMP echo request over one
// ICMP socket (raw where allowed, else the unprivileged ICMP socket) and ends with the answer to
// its own request, an ICMP error quoting it, or the time-out. The kernel resolves the target's
// link-layer address itself, in the host's neighbour table, so requests are paced on that
// table (a device must not be reported unreachable because our host ran out of room): at most
// `maxOutstanding` checks are out unanswered, the rest wait in order; requests also wait while
// all but a sixty-fourth of the table (at least 16 entries) is pinned; a request the kernel
// refuses for want of room (ENOBUFS) waits and goes again, and a full send buffer (EAGAIN) is
// waited out until the socket is writable. The time-out runs from the moment a request went
// out. A send the routing table refuses (no route) ends the check as NotReachable with the
// reason; a check that cannot be made (no ICMP socket can be opened, the send fails) ends as
// Failed with the error's text. No thread, one socket for all checks, open while checks are
// pending. Loop thread only.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "hostnet/ReachabilityCheck.h"
#include "runtime/EventLoop.h"

namespace scoutor {

// The hard limit of the host's neighbour table (gc_thresh3; 1024 when it cannot be read).
std::size_t NeighbourLimit();

class TKernelPathChecks {
 public:
  // `identifier` goes into the echo requests (a datagram socket puts its own in its place).
  TKernelPathChecks(TEventLoop& loop, std::size_t maxOutstanding, std::uint16_t identifier);
  ~TKernelPathChecks();  // pending checks end without their callbacks
  TKernelPathChecks(const TKernelPathChecks&) = delete;
  TKernelPathChecks& operator=(const TKernelPathChecks&) = delete;

  // `done` runs later on the loop's thread, never inside Start, once unless cancelled first.
  void Start(TCheckId id, const std::string& address, TCheckDone done);
  bool Cancel(TCheckId id);  // false when the check is not (or no longer) here
  void CancelAll();
  std::size_t Pending() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};

}  // namespace scoutor
