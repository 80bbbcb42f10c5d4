#pragma once
// The reachability check: does the host at an address answer one ICMP echo request right now?
// Blocks the calling thread until the answer, or for the 5000 ms time-out.
#include <string>

namespace scoutor {

// True when an echo answer came back; false on a time-out, an ICMP error answering the request
// (unreachable, time exceeded) or a send that the routing table refuses (no route). A check
// that cannot be made (no ICMP socket can be opened, the send fails) throws EIdException with
// the reason. Each call checks on a reachability service of its own (ReachabilityService.h),
// taking the link layer's path where the target's route and the capability allow it.
bool PingAddress(const std::string& address);

}  // namespace scoutor
