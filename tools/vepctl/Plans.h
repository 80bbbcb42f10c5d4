#pragma once
// vepctl set-ip --plan: new IP settings for many devices, one CSV row per device under a
// header line that names the columns id, dhcp, ip, mask and gateway, in any order. Each row is
// checked as set-ip checks its arguments: the ID as a device ID, dhcp as 1, 0, yes, no, true
// or false, a DHCP row with ip, mask and gateway empty, a static row with all three as dotted
// addresses whose settings can work (SendingProblem). Across the rows no device and no static
// address may come twice. Then the network: every planned device answers one scan and, unless
// forced, no planned static address is in use already (AddressUse.h). Any problem refuses the
// plan as a whole, each listed as "FILE:LINE: text", and nothing is sent. Otherwise, unless a
// dry run, every row is applied and confirmed, with one result line per device as it ends and
// a summary line.
#include <string>
#include <string_view>
#include <vector>

#include "tools/vepctl/Options.h"

namespace scoutor::vepctl {

struct TPlanRow {
  int Line = 0;    // where the row begins in the file, counted from 1
  std::string ID;  // canonical ID text ("00:0A:1B:2C:3D:4E")
  bool DHCP = false;
  std::string Address;  // canonical dotted texts; empty for a DHCP row
  std::string Mask;
  std::string Gateway;  // 0.0.0.0: none
};

struct TPlanProblem {
  int Line = 0;    // 0: the file as a whole
  std::string ID;  // the row's device, when its ID could be read
  std::string Text;
};

struct TIPPlan {
  std::vector<TPlanRow> Rows;          // the rows without problems of their own, in file order
  std::vector<TPlanProblem> Problems;  // in the order of their lines
};

// Reads and checks the plan in `text`.
TIPPlan ParseIPPlan(std::string_view text);
// The same for a file; a file that cannot be read is a problem of the file as a whole.
TIPPlan ReadIPPlanFile(const std::string& path);

// The refusal of an address in use, by set-ip and plans alike: "ADDRESS is already in use by
// USER (--force sends it anyway)".
std::string InUseProblem(const std::string& address, const std::string& user);

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
