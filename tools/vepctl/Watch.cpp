// vepctl watch: scans again and again and reports what changed: devices that appeared, that
// are gone, that changed their address, name, type or interface. Runs until Ctrl-C or SIGTERM,
// which end it at once with exit 0.
#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "tools/vepctl/Commands.h"
#include "tools/vepctl/DeviceChanges.h"
#include "appmodel/DeviceOrder.h"
#include "tools/vepctl/DeviceRecord.h"
#include "tools/vepctl/DeviceScan.h"
#include "tools/vepctl/ScanSelection.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/Session.h"
#include "tools/vepctl/StopSignals.h"

namespace scoutor::vepctl {

namespace {

// A scan's broadcasts alone take 2 s.
constexpr int kShortestIntervalSeconds = 3;

struct TWatchOptions {
  int EverySeconds = 10;
  int WaitMs = 3000;
  TScanSelection Selection;
};

const char* EventName(TDeviceEvent::TKind kind) {
  switch (kind) {
    case TDeviceEvent::TKind::Appeared:
      return "appeared";
    case TDeviceEvent::TKind::Gone:
      return "gone";
    case TDeviceEvent::TKind::Changed:
      break;
  }
  return "changed";
}

// "appeared\tNAME\tTYPE\tIP\tID\tIF", "gone\t...", "changed\tID\tip 10.0.0.5 -> 10.0.0.9";
// as JSON {"event":"appeared","name":...} or {"event":"changed","id":...,"changes":{"ip":
// {"old":"10.0.0.5","new":"10.0.0.9"}}}.
void PrintEvent(const TOutput& output, const TDeviceEvent& event) {
  TRecord record = {{"event", EventName(event.Kind)}};
  std::string text = EventName(event.Kind);
  if (event.Kind != TDeviceEvent::TKind::Changed) {
    record.update(DeviceFields(event.Device));
    output.Record(record, text + '\t' + DeviceText(event.Device));
    return;
  }
  record["id"] = event.Device.ID;
  text += '\t' + Printable(event.Device.ID);
  TRecord changes = TRecord::object();
  for (const TFieldChange& change : event.Changes) {
    changes[change.Field] = {{"old", change.Old}, {"new", change.New}};
    text += '\t' + change.Field + ' ' + Printable(change.Old) + " -> " + Printable(change.New);
  }
  record["changes"] = changes;
  output.Record(record, text);
}

// One scan's devices that the filters select, by name, each with every interface it was heard
// through.
std::vector<TSighting> Scan(TSession& session, const TWatchOptions& options) {
  std::map<std::string, std::vector<std::string>> interfaces;
  TDeviceScan scan(session);
  scan.OnReply = [&interfaces](const TDeviceInfo& reply) {
    std::vector<std::string>& heardThrough = interfaces[reply.ID];
    if (std::find(heardThrough.begin(), heardThrough.end(), reply.Interface) == heardThrough.end())
      heardThrough.push_back(reply.Interface);
  };
  scan.Run(options.WaitMs, StopRequested);
  std::vector<TDeviceInfo> devices = scan.Devices();
  SortDevices(devices, TDeviceOrder::Name);
  std::vector<TSighting> sightings;
  for (const TDeviceInfo& device : devices)
    if (options.Selection.Selects(device)) sightings.push_back({device, interfaces[device.ID]});
  return sightings;
}

int RunWatch(const TWatchOptions& options, const TGlobalOptions& global) {
  using TClock = std::chrono::steady_clock;
  const TOutput output(global.Json);
  CatchStopSignals();
  TSession session(global.Debug);
  options.Selection.Restrict(session, options.Selection.Interfaces());
  TDeviceChanges changes;
  while (!StopRequested()) {
    const auto next = TClock::now() + std::chrono::seconds(options.EverySeconds);
    const std::vector<TSighting> heard = Scan(session, options);
    // A scan cut short by a stop would report every device it missed.
    if (StopRequested()) break;
    for (const TDeviceEvent& event : changes.Update(heard)) PrintEvent(output, event);
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(next - TClock::now()).count();
    if (left > 0) session.Wait(StopRequested, static_cast<int>(left));
  }
  return 0;
}

}  // namespace

void AddWatchCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto options = std::make_shared<TWatchOptions>();
  CLI::App* command = app.add_subcommand("watch", "Scan again and again and report what changes");
  command->footer(
      "Scans every --every seconds (each scan listens --wait ms) and prints one line\n"
      "per change, or one JSON object with --json:\n"
      "  appeared NAME TYPE IP ID INTERFACE   a device answered for the first time\n"
      "  gone NAME TYPE IP ID INTERFACE       two scans in a row missed it\n"
      "  changed ID FIELD OLD -> NEW ...      its ip, name, type or interface changed\n"
      "(tab-separated). The first scan reports every device as appeared. --filter and\n"
      "--interface choose the devices as in discover. Runs until Ctrl-C or SIGTERM,\n"
      "then exits 0 at once.");
  command->add_option("--every", options->EverySeconds, "Start a scan this often")
      ->option_text("S (default 10, at least 3)")
      ->check(CLI::Range(kShortestIntervalSeconds, 86400));
  command->add_option("--wait", options->WaitMs, "Listen this long from each scan's start")
      ->option_text("MS (default 3000)")
      ->check(CLI::Range(0, 600000));
  options->Selection.AddOptions(*command);
  command->callback([options, &global, &exitCode] { exitCode = RunWatch(*options, global); });
}

}  // namespace scoutor::vepctl
