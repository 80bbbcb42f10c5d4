#pragma once
// Reachability checks and the address choice for vepctl, on the engine's main loop: one
// reachability service checks every address at once over one ICMP socket (no thread, no
// socket per device) while the engine keeps handling its events. Main thread only.
#include <string>
#include <vector>

#include "hostnet/AddressChooser.h"
#include "hostnet/ReachabilityService.h"
#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

// One result per address, in order. Failed checks are also reported to the log.
std::vector<TCheckResult> CheckAll(TSession& session, const std::vector<std::string>& addresses);

// Auto IP's choice of a free address in the subnet of `localAddress`, run to its end.
TAddressChoice ChooseFreeAddress(TSession& session, const std::string& localAddress);

}  // namespace scoutor::vepctl
