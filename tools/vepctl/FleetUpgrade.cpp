// vepctl upgrade --device/--type/--all: one scan chooses the devices; each gets the file from a
// TFTP client of its own on the main loop, a few at a time, and counts as upgraded once it is
// heard again after its restart. No thread of its own: uploads, pauses and waits are timers
// and socket watches of the one loop.
#include "tools/vepctl/FleetUpgrade.h"

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/Timer.h"
#include "tools/vepctl/DeviceScan.h"
#include "tools/vepctl/DeviceSelection.h"
#include "tools/vepctl/DeviceUpgrade.h"
#include "tools/vepctl/FleetProgress.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

namespace {

using TPhase = TDeviceUpgrade::TPhase;
using TEnd = TDeviceUpgrade::TEnd;

// While devices restart, a discovery broadcast goes out this often.
constexpr int kDiscoveryIntervalMs = 1000;

class TFleetUpgrade {
 public:
  TFleetUpgrade(TSession& session, const TOutput& output, const TUpgradeOptions& options,
                const TDeviceSelection& selection, bool debug);
  ~TFleetUpgrade();
  TFleetUpgrade(const TFleetUpgrade&) = delete;
  TFleetUpgrade& operator=(const TFleetUpgrade&) = delete;

  int Run();

 private:
  void Changed(const TDeviceUpgrade& device);
  void StartUploads();
  TDeviceUpgrade* NextToStart() const;
  int Count(TPhase phase) const;
  void Broadcast();
  void Reply(const TDeviceInfo& reply);
  void PrintResult(const TDeviceUpgrade& device);
  void PrintMissing(const std::string& id);
  void ShowProgress();
  void Log(const std::string& line);
  int Summary();

  TSession& Session;
  const TOutput& Output;
  const TUpgradeOptions& Options;
  const bool Debug;
  std::vector<std::unique_ptr<TDeviceUpgrade>> Devices;
  std::unordered_map<std::string, TDeviceUpgrade*> ByID;
  std::vector<std::string> Missing;
  TFleetProgress Progress;
  TTimer Discovery;
  std::size_t Ended = 0;
  int Upgraded = 0;
  bool Starting = false;  // inside StartUploads, whose starts report phase changes
};

TFleetUpgrade::TFleetUpgrade(TSession& session, const TOutput& output,
                             const TUpgradeOptions& options, const TDeviceSelection& selection,
                             bool debug)
    : Session(session),
      Output(output),
      Options(options),
      Debug(debug),
      Missing(selection.Missing),
      Progress(isatty(STDERR_FILENO) == 1) {
  const TDeviceUpgrade::TSettings settings{options.File, options.Retries,
                                           options.VerifyTimeoutS * 1000};
  for (const TDeviceInfo& device : selection.Chosen) {
    auto upgrade = std::make_unique<TDeviceUpgrade>(device, settings);
    TDeviceUpgrade& one = *upgrade;
    one.OnPhaseChange = [this, &one] { Changed(one); };
    one.OnProgress = [this] { ShowProgress(); };
    ByID[device.ID] = &one;
    Devices.push_back(std::move(upgrade));
  }
  Discovery.SetInterval(kDiscoveryIntervalMs);
  Discovery.OnTimer = [this] { Broadcast(); };
}

TFleetUpgrade::~TFleetUpgrade() {
  Session.Vep().OnDeviceFound.Set(nullptr, {});
}

int TFleetUpgrade::Run() {
  for (const std::string& id : Missing) PrintMissing(id);
  Session.Vep().OnDeviceFound.Set(
      this, [this](TVEPInterface&, const TDeviceInfo& reply) { Reply(reply); });
  StartUploads();
  ShowProgress();
  // Every device ends: an upload ends with its last acknowledgement or a time-out, a pause
  // and the wait for the restarted device with their timers.
  Session.Wait([this] { return Ended == Devices.size(); }, -1);
  Progress.Hide();
  return Summary();
}

void TFleetUpgrade::Changed(const TDeviceUpgrade& device) {
  const std::string& id = device.Device().ID;
  switch (device.Phase()) {
    case TPhase::Pausing:
      Log(id + ": upload refused (" + OneLine(device.Outcome().Reason.value_or("")) +
          "); one more attempt in " +
          std::to_string(TUpgradeAttempts::kRetryPauseMs / 1000) + " s");
      break;
    case TPhase::Restarting:
      Log(id + ": uploaded; waiting to hear it again");
      Discovery.SetEnabled(true);  // broadcasts go out while any device restarts
      break;
    case TPhase::Ended:
      ++Ended;
      if (device.End() == TEnd::Upgraded) ++Upgraded;
      PrintResult(device);
      break;
    case TPhase::Queued:
    case TPhase::Uploading:
    case TPhase::RetryDue:
      break;
  }
  if (Count(TPhase::Restarting) == 0) Discovery.SetEnabled(false);
  StartUploads();
  ShowProgress();
}

void TFleetUpgrade::StartUploads() {
  if (Starting) return;
  Starting = true;
  while (Count(TPhase::Uploading) < Options.Parallel) {
    TDeviceUpgrade* next = NextToStart();
    if (next == nullptr) break;
    next->StartUpload();
    Log(next->Device().ID + ": upload started (attempt " + std::to_string(next->AttemptCount()) + "; " +
        std::to_string(Count(TPhase::Uploading)) + " running)");
  }
  Starting = false;
}

// A second attempt goes before every first one: its pause has already kept it waiting.
TDeviceUpgrade* TFleetUpgrade::NextToStart() const {
  for (TPhase phase : {TPhase::RetryDue, TPhase::Queued})
    for (const auto& device : Devices)
      if (device->Phase() == phase) return device.get();
  return nullptr;
}

int TFleetUpgrade::Count(TPhase phase) const {
  return static_cast<int>(
      std::count_if(Devices.begin(), Devices.end(),
                    [phase](const auto& device) { return device->Phase() == phase; }));
}

void TFleetUpgrade::Broadcast() {
  Session.Vep().Discover();
  for (const auto& device : Devices) device->Asked();
}

void TFleetUpgrade::Reply(const TDeviceInfo& reply) {
  const auto found = ByID.find(reply.ID);
  if (found != ByID.end()) found->second->Heard();
}

void TFleetUpgrade::PrintResult(const TDeviceUpgrade& device) {
  const TDeviceInfo& info = device.Device();
  const TUpgradeOutcome& outcome = device.Outcome();
  TRecord record = {{"id", info.ID}, {"name", info.Name}, {"ip", info.IPAddress}};
  std::string status;
  switch (device.End()) {
    case TEnd::Upgraded:
      record["status"] = "ok";
      status = "ok";
      break;
    case TEnd::UploadFailed: {
      const std::string reason = OneLine(outcome.Reason.value_or("unknown failure"));
      record["status"] = "upload failed";
      status = "upload failed: " + reason;
      record["reason"] = reason;
      break;
    }
    case TEnd::NotHeardAgain:
      record["status"] = "not heard again";
      status = "not heard again within " + std::to_string(Options.VerifyTimeoutS) + " s";
      break;
  }
  record["attempts"] = device.AttemptCount();
  record["result"] = outcome.Code();
  record["succeeded"] = device.End() == TEnd::Upgraded;
  Progress.Hide();
  Output.Record(record, Printable(info.ID) + '\t' + Printable(info.Name) + '\t' + status);
}

void TFleetUpgrade::PrintMissing(const std::string& id) {
  const TRecord record = {
      {"id", id},      {"name", ""},        {"ip", ""},          {"status", "not found"},
      {"attempts", 0}, {"result", nullptr}, {"succeeded", false}};
  Output.Record(record, id + "\t\tnot found");
}

void TFleetUpgrade::ShowProgress() {
  TFleetCounts counts;
  counts.Devices = static_cast<int>(Devices.size());
  for (const auto& device : Devices) {
    switch (device->Phase()) {
      case TPhase::Uploading:
        ++counts.Uploading;
        counts.Sent += device->Sent();
        counts.Total += device->Total();
        break;
      case TPhase::Pausing:
        ++counts.Pausing;
        break;
      case TPhase::Restarting:
        ++counts.Restarting;
        break;
      case TPhase::Ended:
        ++counts.Ended;
        break;
      case TPhase::Queued:
      case TPhase::RetryDue:
        break;
    }
  }
  Progress.Show(counts);
}

void TFleetUpgrade::Log(const std::string& line) {
  if (!Debug || !Session.Vep().LogLine) return;
  Progress.Hide();
  Session.Vep().LogLine(line);
}

int TFleetUpgrade::Summary() {
  const int devices = static_cast<int>(Devices.size() + Missing.size());
  const int failed = devices - Upgraded;
  const TRecord record = {{"upgraded", Upgraded}, {"devices", devices}, {"failed", failed}};
  const std::string text = "upgraded " + std::to_string(Upgraded) + " of " +
                           std::to_string(devices) + "; " + std::to_string(failed) + " failed";
  if (failed == 0) {
    Output.Record(record, text);
    return 0;
  }
  // The summary is the failure itself; with --json it is also the error object.
  if (!Output.Json()) Output.Record(record, text);
  return Output.Error(
      1, std::to_string(failed) + " of " + std::to_string(devices) + " devices were not upgraded",
      record);
}

// Why nothing was chosen: no device answered, or none has the type asked for.
std::string NoneSelected(const TDeviceScan& scan, const TUpgradeOptions& options) {
  if (scan.Devices().empty()) return "no device answered the scan; nothing to upgrade";
  return "none of the " + std::to_string(scan.Devices().size()) +
         " devices that answered the scan has a type matching '" +
         Printable(options.Type.value_or("")) + "'; nothing to upgrade";
}

}  // namespace

int RunFleetUpgrade(const TUpgradeOptions& options, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  TSession session(global.Debug);
  TDeviceScan scan(session);
  const std::vector<std::string> wanted = RequestedIDs(options);
  std::function<bool()> allFound;
  // Devices named by ID end the scan as soon as all of them answered.
  if (!wanted.empty())
    allFound = [&] {
      return std::all_of(wanted.begin(), wanted.end(),
                         [&scan](const std::string& id) { return scan.Find(id) != nullptr; });
    };
  scan.Run(options.WaitMs, allFound);
  const TDeviceSelection selection = SelectDevices(scan.Devices(), options);
  if (selection.Chosen.empty() && selection.Missing.empty())
    return output.Error(1, NoneSelected(scan, options), {{"file", options.File}, {"devices", 0}});
  TFleetUpgrade upgrade(session, output, options, selection, global.Debug);
  return upgrade.Run();
}

}  // namespace scoutor::vepctl
