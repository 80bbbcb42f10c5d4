#pragma once
// Reachability of any number of addresses at once, without blocking the loop: every check sends
// one ICMP echo request over the service's one ICMP socket (raw where allowed, else the
// unprivileged ICMP socket) and ends with the answer to its own request, an ICMP error quoting
// it, or the 5000 ms time-out. Results are delivered on the loop's thread as each check ends.
// Requests are paced so that the host's own neighbour table never overflows (a device must not
// be reported unreachable because our host ran out of room): at most half of the table's hard
// limit (gc_thresh3) of checks are out unanswered, the rest wait in order; requests also wait
// while all but a sixty-fourth of the table (at least 16 entries) is pinned; a request the
// kernel refuses for want of room (a full neighbour table, ENOBUFS) waits and goes again, and
// a full send buffer (EAGAIN) is waited out until the socket is writable. The time-out of a
// check runs from the moment its request went out. A check that cannot be made (no ICMP
// socket can be opened, the send fails) ends as Failed with the error's text, never as
// NotReachable. No thread, one socket for all checks, open while checks are pending. Loop
// thread only.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runtime/EventLoop.h"

namespace scoutor {

enum class TReachability { Reachable, NotReachable, Failed };

struct TCheckResult {
  std::string Address;
  TReachability Outcome = TReachability::NotReachable;
  // Failed: what went wrong; NotReachable: why the request could not leave (no route), or
  // empty when it left and went unanswered.
  std::string Error;
};

using TCheckId = std::uint64_t;
using TCheckDone = std::function<void(const TCheckResult& result)>;

class TReachabilityService {
 public:
  explicit TReachabilityService(TEventLoop& loop = MainLoop());
  // With at most `maxOutstanding` checks out unanswered at once (tests use small numbers).
  TReachabilityService(TEventLoop& loop, std::size_t maxOutstanding);
  ~TReachabilityService();  // pending checks end without their callbacks
  TReachabilityService(const TReachabilityService&) = delete;
  TReachabilityService& operator=(const TReachabilityService&) = delete;

  // Starts one check of `address` (dotted text). `done` runs later on the loop's thread, never
  // inside Check, exactly once unless the check is cancelled first.
  TCheckId Check(const std::string& address, TCheckDone done);
  // A cancelled check's callback never runs; unknown or ended checks are ignored.
  void Cancel(TCheckId id);
  void CancelAll();
  std::size_t Pending() const;  // checks started and not yet ended or cancelled

  static constexpr int kTimeoutMs = 5000;
  // Half of /proc/sys/net/ipv4/neigh/default/gc_thresh3 (1024 when it cannot be read).
  static std::size_t DefaultOutstandingLimit();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};

}  // namespace scoutor
