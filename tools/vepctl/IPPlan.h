#pragma once
// An IP plan: new IP settings for many devices, one CSV row per device (CsvRecords.h) under a
// header line that names the columns id, dhcp, ip, mask and gateway, in any order. Each row
// is checked as set-ip checks its arguments: the ID as a device ID, dhcp as 1, 0, yes, no,
// true or false, a DHCP row with ip, mask and gateway empty, a static row with all three as
// dotted addresses whose settings can work (SettingsProblem). Across the rows no device and
// no static address may come twice. These checks need no network; PlanCheck.h adds those
// that do. Plain functions.
#include <string>
#include <string_view>
#include <vector>

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

}  // namespace scoutor::vepctl
