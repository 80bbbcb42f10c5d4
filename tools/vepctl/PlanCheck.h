#pragma once
// The checks of an IP plan on the network, before anything is sent to a device: every planned
// device answers one scan, and unless forced, no planned static address is in use already, by
// this host, by another device of the scan, or by a host that answers a ping or that the
// kernel's neighbour table holds afterwards: the checks set-ip makes for its one address
// (AddressUse.h). A device that answers the scan from its planned address is no conflict.
// The pings of all addresses run at once, during the scan. Main thread only.
#include <string>
#include <vector>

#include "tools/vepctl/IPPlan.h"
#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

// The problems found, in the order of the rows. The scan listens `scanWaitMs`; with `force`
// it ends as soon as every planned device has answered, as no other device's address matters.
// The refusal of an address in use: "ADDRESS is already in use by USER (--force ...)".
std::string InUseProblem(const std::string& address, const std::string& user);

std::vector<TPlanProblem> CheckPlanOnNetwork(TSession& session, const std::vector<TPlanRow>& rows,
                                             bool force, int scanWaitMs);

}  // namespace scoutor::vepctl
