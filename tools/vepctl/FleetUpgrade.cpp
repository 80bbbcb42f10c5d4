// vepctl upgrade --device/--type/--all: one scan chooses the devices; each gets the file from a
// TFTP client of its own on the main loop, a few at a time, and counts as upgraded once it is
// heard again after its restart. No thread of its own: uploads, pauses and waits are timers
// and socket watches of the one loop.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "appmodel/DeviceInfo.h"
#include "appmodel/DeviceOrder.h"
#include "appmodel/UpgradeAttempts.h"
#include "protocol/UpgradeOutcome.h"
#include "protocol/VepWire.h"
#include "runtime/EventLoop.h"
#include "runtime/SingleShot.h"
#include "runtime/Timer.h"
#include "tools/vepctl/Commands.h"
#include "tools/vepctl/Listing.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/Session.h"
#include "tools/vepctl/Upgrade.h"
#include "transport/TftpClient.h"

namespace scoutor::vepctl {

namespace {

// Which devices of one scan an upgrade of several devices is for: those named by ID, those of
// a type, or all that answered.
struct TDeviceSelection {
  std::vector<TDeviceInfo> Chosen;   // by ID: in the order named; otherwise in the scan's order
  std::vector<std::string> Missing;  // IDs named that no device of the scan has
};

// The IDs named by --device in the form the scan lists them (upper case), each once, in the
// order first named.
std::vector<std::string> RequestedIDs(const TUpgradeOptions& options) {
  std::vector<std::string> ids;
  for (const std::string& text : options.DeviceIDs) {
    const std::string id = IDText(DeviceNodeID(text));
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  }
  return ids;
}

// A type matches a pattern equal to it, or one it matches as a glob (*, ?, [...]) in any
// letter case.
bool TypeMatches(const std::string& type, const std::string& pattern) {
  return type == pattern || PatternMatches(pattern, type);
}

TDeviceSelection SelectDevices(const std::vector<TDeviceInfo>& scanned,
                               const TUpgradeOptions& options) {
  TDeviceSelection selection;
  if (!options.DeviceIDs.empty()) {
    for (const std::string& id : RequestedIDs(options)) {
      const auto found = std::find_if(scanned.begin(), scanned.end(),
                                      [&id](const TDeviceInfo& device) { return device.ID == id; });
      if (found == scanned.end())
        selection.Missing.push_back(id);
      else
        selection.Chosen.push_back(*found);
    }
    return selection;
  }
  for (const TDeviceInfo& device : scanned)
    if (options.All || TypeMatches(device.Type, *options.Type)) selection.Chosen.push_back(device);
  return selection;
}

// One device's part in an upgrade of several devices, on the main loop: the attempts of its
// upgrade (UpgradeAttempts.h) by a TFTP client of its own, then the wait until the device,
// restarting with its new firmware, is heard again. Each attempt's upload waits in the queue
// until whoever runs it starts it (it keeps their number down); it also sends the discovery
// broadcasts and hands over the replies. Main thread only.
class TDeviceUpgrade {
 public:
  enum class TPhase {
    Queued,  // waiting for its first upload to start
    Uploading,
    Pausing,     // refused once; waiting before the second attempt
    RetryDue,    // the pause is over; waiting for its second upload to start
    Restarting,  // uploaded; listening for the device
    Ended,
  };
  enum class TEnd { Upgraded, UploadFailed, NotHeardAgain };

  struct TSettings {
    std::string File;
    std::optional<int> Retries;  // the TFTP client's, when given
    int HeardWithinMs = 0;       // from the end of the upload
  };

  TDeviceUpgrade(const TDeviceInfo& device, const TSettings& settings);
  TDeviceUpgrade(const TDeviceUpgrade&) = delete;
  TDeviceUpgrade& operator=(const TDeviceUpgrade&) = delete;

  // After every change of phase, and after every data block sent.
  std::function<void()> OnPhaseChange;
  std::function<void()> OnProgress;

  // Starts the upload of the attempt that waits; only while Queued or RetryDue.
  void StartUpload();
  // A discovery broadcast has just gone out: while restarting, the device's replies count
  // from now on, never earlier ones that may still be on their way.
  void Asked();
  // A discovery reply of this device came.
  void Heard();

  const TDeviceInfo& Device() const { return Info; }
  TPhase Phase() const { return Current; }
  TEnd End() const { return Ending; }  // once Ended
  // Of the last attempt.
  const TUpgradeOutcome& Outcome() const { return Attempts.Outcome(); }
  int AttemptCount() const { return Attempts.Attempts(); }
  std::int64_t Sent() const { return SentBytes; }
  std::int64_t Total() const { return TotalBytes; }

 private:
  void Queue(TAttemptDone done);
  void AttemptsChanged();
  void Finish(TEnd end);
  void SetPhase(TPhase phase);

  const TDeviceInfo Info;
  const TSettings Settings;
  TTftpClient Client;
  TUpgradeAttempts Attempts;
  TAttemptDone Queued;  // the end of the upload that waits for its start
  TSingleShot Deadline;
  TPhase Current = TPhase::Queued;
  TEnd Ending = TEnd::Upgraded;
  bool Listening = false;  // restarting, and a broadcast went out since the upload ended
  std::int64_t SentBytes = 0;
  std::int64_t TotalBytes = 0;
};

TDeviceUpgrade::TDeviceUpgrade(const TDeviceInfo& device, const TSettings& settings)
    : Info(device),
      Settings(settings),
      Attempts([this](const std::string&, const std::string&, TAttemptDone done) {
        Queue(std::move(done));
      }) {
  if (Settings.Retries) Client.Retries = *Settings.Retries;
  Client.OnWorkBegin = [this](TTransportComponent&, TWorkMode, std::int64_t total) {
    TotalBytes = total;
  };
  Client.OnWork = [this](TTransportComponent&, TWorkMode, std::int64_t sent) {
    SentBytes = sent;
    if (OnProgress) OnProgress();
  };
  Attempts.OnPhaseChange = [this] { AttemptsChanged(); };
  // Its first upload waits in the queue from the start.
  Attempts.Start(Settings.File, Info.IPAddress);
}

void TDeviceUpgrade::Queue(TAttemptDone done) {
  Queued = std::move(done);
  SetPhase(Attempts.Attempts() == 1 ? TPhase::Queued : TPhase::RetryDue);
}

void TDeviceUpgrade::StartUpload() {
  if (Current != TPhase::Queued && Current != TPhase::RetryDue)
    throw std::logic_error("an upload of " + Info.ID + " started out of turn");
  SentBytes = 0;
  TotalBytes = 0;
  ClientUpload(Client)(Settings.File, Info.IPAddress, std::exchange(Queued, nullptr));
  SetPhase(TPhase::Uploading);
}

// An attempt's upload is queued by Queue, so only the pause and the end are news here.
void TDeviceUpgrade::AttemptsChanged() {
  switch (Attempts.Phase()) {
    case TUpgradeAttempts::TPhase::Pausing:
      SetPhase(TPhase::Pausing);
      break;
    case TUpgradeAttempts::TPhase::Ended:
      if (!Attempts.Outcome().Succeeded()) {
        Finish(TEnd::UploadFailed);
        break;
      }
      Deadline.Start(MainLoop(), Settings.HeardWithinMs, [this] { Finish(TEnd::NotHeardAgain); });
      SetPhase(TPhase::Restarting);
      break;
    case TUpgradeAttempts::TPhase::Idle:
    case TUpgradeAttempts::TPhase::Uploading:
      break;
  }
}

void TDeviceUpgrade::Asked() {
  if (Current == TPhase::Restarting) Listening = true;
}

void TDeviceUpgrade::Heard() {
  if (Current == TPhase::Restarting && Listening) Finish(TEnd::Upgraded);
}

void TDeviceUpgrade::Finish(TEnd end) {
  Deadline.Stop();
  Listening = false;
  Ending = end;
  SetPhase(TPhase::Ended);
}

void TDeviceUpgrade::SetPhase(TPhase phase) {
  Current = phase;
  if (OnPhaseChange) OnPhaseChange();
}

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
  TSession session(global);
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
