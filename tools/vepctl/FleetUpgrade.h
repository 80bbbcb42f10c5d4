#pragma once
// vepctl upgrade of several devices chosen from one scan (by ID, by type, or all).
#include "tools/vepctl/Commands.h"
#include "tools/vepctl/UpgradeOptions.h"

namespace scoutor::vepctl {

// Scans, uploads the file to every device chosen, at most options.Parallel at once, and waits
// for each to be heard again after its restart; prints one result line per device as it
// ends, then the summary. 0 when every device was upgraded, else 1.
int RunFleetUpgrade(const TUpgradeOptions& options, const TGlobalOptions& global);

}  // namespace scoutor::vepctl
