#include "tools/vepctl/PlanCommand.h"

#include <cstdio>
#include <vector>

#include "tools/vepctl/IPPlan.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/PlanApply.h"
#include "tools/vepctl/PlanCheck.h"
#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

namespace {

void Status(const std::string& text) {
  std::fprintf(stderr, "vepctl: %s\n", text.c_str());
}

std::string Counted(std::size_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// Lists every problem ("plan.csv:7: ...", and with --json one error object each) and refuses
// the plan.
int Refuse(const TOutput& output, const std::string& file,
           const std::vector<TPlanProblem>& problems) {
  for (const TPlanProblem& problem : problems) {
    const std::string place = file + (problem.Line > 0 ? ":" + std::to_string(problem.Line) : "");
    std::fprintf(stderr, "%s: %s\n", Printable(place).c_str(), Printable(problem.Text).c_str());
    if (!output.Json()) continue;
    TRecord record = {{"error", problem.Text}, {"code", 2}, {"file", file}};
    if (problem.Line > 0) record["line"] = problem.Line;
    if (!problem.ID.empty()) record["id"] = problem.ID;
    output.Record(record, {});
  }
  return output.Error(
      2,
      "plan refused (" + Counted(problems.size(), "problem") + "); nothing was sent to any device",
      {{"file", file}, {"problems", problems.size()}});
}

void PrintOutcome(const TOutput& output, const TPlanOutcome& outcome) {
  const TPlanRow& row = *outcome.Row;
  TRecord record = {{"id", row.ID}, {"line", row.Line}, {"dhcp", row.DHCP}};
  if (!row.DHCP) {
    record["ip"] = row.Address;
    record["mask"] = row.Mask;
    record["gateway"] = row.Gateway;
  }
  record["result"] = outcome.Confirmed ? "ok" : "failed";
  if (!outcome.AckFrom.empty()) record["ack_from"] = outcome.AckFrom;
  if (!outcome.Confirmed) record["reason"] = outcome.Reason;
  const std::string text =
      row.ID + (outcome.Confirmed ? "\tok\t" + (row.DHCP ? std::string("dhcp") : row.Address)
                                  : "\tfailed\t" + outcome.Reason);
  output.Record(record, text);
}

}  // namespace

int RunIPPlan(const TPlanOptions& options, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  const TIPPlan plan = ReadIPPlanFile(options.File);
  if (!plan.Problems.empty()) return Refuse(output, options.File, plan.Problems);
  const std::size_t devices = plan.Rows.size();

  TSession session(global.Debug);
  Status("checking " + Counted(devices, "device") + ": one scan (" +
         std::to_string(options.WaitMs) + " ms)" +
         (options.Force ? std::string() : " and a ping of every static address"));
  const std::vector<TPlanProblem> problems =
      CheckPlanOnNetwork(session, plan.Rows, options.Force, options.WaitMs);
  if (!problems.empty()) return Refuse(output, options.File, problems);
  if (options.DryRun) {
    output.Record({{"file", options.File}, {"plan", "ok"}, {"devices", devices}},
                  "plan OK: " + Counted(devices, "device"));
    return 0;
  }

  Status("applying to " + Counted(devices, "device") + ", at most " +
         std::to_string(options.InFlight) + " at a time");
  std::size_t confirmed = 0;
  TPlanApplier applier(session, plan.Rows, static_cast<std::size_t>(options.InFlight),
                       options.WaitMs);
  applier.OnDeviceDone = [&](const TPlanOutcome& outcome) {
    confirmed += outcome.Confirmed ? 1 : 0;
    PrintOutcome(output, outcome);
  };
  applier.Run();
  const std::size_t failed = devices - confirmed;
  output.Record({{"applied", confirmed},
                 {"devices", devices},
                 {"failed", failed},
                 {"in_flight", options.InFlight},
                 {"most_in_flight", applier.MostInFlight()}},
                "applied " + std::to_string(confirmed) + " of " + std::to_string(devices) + "; " +
                    std::to_string(failed) + " failed");
  return failed == 0 ? 0 : 1;
}

}  // namespace scoutor::vepctl
