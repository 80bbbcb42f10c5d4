#include "tools/vepctl/PlanCheck.h"

#include <memory>
#include <set>
#include <string>

#include "appmodel/AddressUse.h"
#include "hostnet/ReachabilityService.h"
#include "tools/vepctl/DeviceScan.h"

namespace scoutor::vepctl {

namespace {

bool Checked(const TPlanRow& row, bool force) {
  return !force && !row.DHCP;
}

}  // namespace

std::string InUseProblem(const std::string& address, const std::string& user) {
  return address + " is already in use by " + user + " (--force sends it anyway)";
}

std::vector<TPlanProblem> CheckPlanOnNetwork(TSession& session, const std::vector<TPlanRow>& rows,
                                             bool force, int scanWaitMs) {
  // Every address is checked while the scan listens, the pings all at once.
  TReachabilityService service(MainLoop());
  const TCandidateChecks ping{[&service](const std::string& address, TCheckDone done) {
                                return service.Check(address, std::move(done));
                              },
                              [&service](TCheckId id) { service.Cancel(id); }};
  std::vector<std::unique_ptr<TAddressUseCheck>> checks(rows.size());
  std::size_t checking = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (!Checked(rows[i], force)) continue;
    checks[i] = std::make_unique<TAddressUseCheck>(ping);
    ++checking;
    checks[i]->Start(rows[i].Address, rows[i].ID, [&checking] { --checking; });
  }

  std::set<std::string> planned;
  for (const TPlanRow& row : rows) planned.insert(row.ID);
  std::size_t plannedFound = 0;
  TDeviceScan scan(session);
  scan.OnNewDevice = [&](const TDeviceInfo& device) { plannedFound += planned.count(device.ID); };
  if (force)
    scan.Run(scanWaitMs, [&] { return plannedFound == planned.size(); });
  else
    scan.Run(scanWaitMs);
  // Every check ends, with the ping's answer, its time-out or its failure.
  session.Wait([&checking] { return checking == 0; }, -1);

  std::vector<TPlanProblem> problems;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TPlanRow& row = rows[i];
    if (scan.Find(row.ID) == nullptr)
      problems.push_back({row.Line, row.ID,
                          "the device " + row.ID + " did not answer the scan (listening " +
                              std::to_string(scanWaitMs) + " ms)"});
    if (!checks[i]) continue;
    if (const std::string user = checks[i]->User(scan.Devices()); !user.empty())
      problems.push_back({row.Line, row.ID, InUseProblem(row.Address, user)});
  }
  return problems;
}

}  // namespace scoutor::vepctl
