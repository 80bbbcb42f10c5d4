#pragma once
// vepctl set-ip --plan: new IP settings for every device of a CSV file (IPPlan.h). The whole
// plan is checked first, the file (IPPlan.h) and then the network (PlanCheck.h); any problem
// refuses it as a whole, each listed as "FILE:LINE: text", and nothing is sent. Otherwise,
// unless a dry run, every row is applied and confirmed (PlanApply.h), with one result line per
// device as it ends and a summary line.
#include <string>

#include "tools/vepctl/Commands.h"

namespace scoutor::vepctl {

struct TPlanOptions {
  std::string File;
  bool DryRun = false;
  bool Force = false;  // skip the in-use checks of the addresses
  int InFlight = 16;   // devices under way at once
  int WaitMs = 3000;   // the scan, and each device's wait for each of its two answers
};

// 0: applied and confirmed (a dry run: the plan is good), 1: some device failed, 2: refused.
int RunIPPlan(const TPlanOptions& options, const TGlobalOptions& global);

}  // namespace scoutor::vepctl
