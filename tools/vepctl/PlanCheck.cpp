#include "tools/vepctl/PlanCheck.h"

#include <map>
#include <set>
#include <string>

#include "hostnet/NeighbourTable.h"
#include "hostnet/ReachabilityService.h"
#include "tools/vepctl/AddressSafety.h"
#include "tools/vepctl/DeviceScan.h"

namespace scoutor::vepctl {

namespace {

bool Checked(const TPlanRow& row, bool force) {
  return !force && !row.DHCP;
}

}  // namespace

std::vector<TPlanProblem> CheckPlanOnNetwork(TSession& session, const std::vector<TPlanRow>& rows,
                                             bool force, int scanWaitMs) {
  // Every address a host might answer for is pinged while the scan listens.
  TReachabilityService service(MainLoop());
  std::map<std::string, TCheckResult> checks;
  std::size_t checking = 0;
  for (const TPlanRow& row : rows) {
    if (!Checked(row, force) || !LocalUser(row.Address).empty()) continue;
    ++checking;
    service.Check(row.Address, [&](const TCheckResult& result) {
      checks[result.Address] = result;
      --checking;
    });
  }

  std::set<std::string> planned;
  for (const TPlanRow& row : rows) planned.insert(row.ID);
  std::size_t plannedFound = 0;
  std::map<std::string, std::set<std::string>> answeredFrom;  // address: the IDs heard there
  TDeviceScan scan(session);
  scan.OnReply = [&](const TDeviceInfo& reply) { answeredFrom[reply.IPAddress].insert(reply.ID); };
  scan.OnNewDevice = [&](const TDeviceInfo& device) { plannedFound += planned.count(device.ID); };
  if (force)
    scan.Run(scanWaitMs, [&] { return plannedFound == planned.size(); });
  else
    scan.Run(scanWaitMs);
  // Every check ends, with its answer, its time-out or its failure.
  session.Wait([&checking] { return checking == 0; }, -1);
  const std::set<std::string> held =
      checks.empty() ? std::set<std::string>() : NeighbourTable().HeldAddresses();

  std::vector<TPlanProblem> problems;
  for (const TPlanRow& row : rows) {
    if (scan.Find(row.ID) == nullptr)
      problems.push_back({row.Line, row.ID,
                          "the device " + row.ID + " did not answer the scan (listening " +
                              std::to_string(scanWaitMs) + " ms)"});
    if (!Checked(row, force)) continue;
    std::string user = LocalUser(row.Address);
    if (user.empty()) {
      const auto heard = answeredFrom.find(row.Address);
      if (heard != answeredFrom.end() && heard->second.contains(row.ID)) continue;  // its own
      if (heard != answeredFrom.end())
        user = DeviceUser(*heard->second.begin());
      else
        user = HostUser(checks.at(row.Address), held);
    }
    if (!user.empty()) problems.push_back({row.Line, row.ID, InUseProblem(row.Address, user)});
  }
  return problems;
}

}  // namespace scoutor::vepctl
