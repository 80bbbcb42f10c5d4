#pragma once
// Reachability of several devices at once: each address gets one ICMP echo (up to 5 s) on a
// worker thread of its own, so a list of unreachable devices costs one time-out, not one per
// device. Every check uses its own echo client, and the client only counts the answer to its
// own request from its own host, so the checks cannot mistake each other's answers. The
// calling thread (the engine's main thread) keeps handling engine events meanwhile and
// reports the checks' errors to the log.
#include <string>
#include <vector>

#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

// One entry per address, in order: true when the address answered. A check that fails with
// an error counts as not answered.
std::vector<bool> PingAll(TSession& session, const std::vector<std::string>& addresses);

}  // namespace scoutor::vepctl
