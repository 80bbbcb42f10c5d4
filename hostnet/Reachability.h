#pragma once
// The reachability check: does the host at an address answer one ICMP echo request right now?
// Blocks the calling thread until the answer, or for the echo client's 5000 ms time-out.
#include <string>

namespace scoutor {

// True when an echo answer came back; false on a time-out or an ICMP error answering the
// request (unreachable, time exceeded). Errors of the echo client (socket cannot be opened,
// send fails, unreadable answer) pass through. Every check uses a fresh client.
bool PingAddress(const std::string& address);

}  // namespace scoutor
