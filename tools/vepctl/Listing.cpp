
#include "tools/vepctl/Listing.h"

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "appmodel/DeviceInfo.h"
#include "appmodel/DeviceOrder.h"
#include "hostnet/MissingReplies.h"
#include "hostnet/ReachabilityService.h"
#include "protocol/VepWire.h"
#include "tools/vepctl/Commands.h"
#include "tools/vepctl/Options.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/Session.h"
#include "transport/IPv4Text.h"

namespace scoutor::vepctl {

bool TDeviceScan::Run(int waitMs, const std::function<bool()>& enough) {
  TVEPInterface& vep = Session.Vep();
  vep.OnDeviceFound.Set(this, [this](TVEPInterface&, const TDeviceInfo& reply) { Reply(reply); });
  vep.StartScan();
  const bool ended = Session.Wait(enough, waitMs);
  // Replies that come after the scan must not reach this object any more.
  vep.OnDeviceFound.Set(nullptr, {});
  return ended;
}

const TDeviceInfo* TDeviceScan::Find(const std::string& id) const {
  for (const TDeviceInfo& device : Found)
    if (device.ID == id) return &device;
  return nullptr;
}

void TDeviceScan::Reply(const TDeviceInfo& reply) {
  if (OnReply) OnReply(reply);
  if (Find(reply.ID) != nullptr) return;
  Found.push_back(reply);
  if (OnNewDevice) OnNewDevice(Found.back());
}

namespace {

constexpr int kMissedScansForGone = 2;

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

void Compare(std::vector<TFieldChange>& changes, const char* field, const std::string& old,
             const std::string& now) {
  if (old != now) changes.push_back({field, old, now});
}

}  // namespace

std::vector<TDeviceEvent> TDeviceChanges::Update(const std::vector<TSighting>& heard) {
  std::vector<TDeviceEvent> events;
  std::vector<bool> seen(Known.size(), false);
  for (const TSighting& sighting : heard) {
    TDeviceInfo now = sighting.Device;
    const auto known = std::find_if(Known.begin(), Known.end(), [&now](const TKnown& entry) {
      return entry.Device.ID == now.ID;
    });
    if (known == Known.end()) {
      Known.push_back({now, 0});
      seen.push_back(true);
      events.push_back({TDeviceEvent::TKind::Appeared, now, {}});
      continue;
    }
    seen[static_cast<std::size_t>(known - Known.begin())] = true;
    known->Missed = 0;
    TDeviceInfo& old = known->Device;
    if (Contains(sighting.Interfaces, old.Interface)) now.Interface = old.Interface;
    std::vector<TFieldChange> changes;
    Compare(changes, "ip", old.IPAddress, now.IPAddress);
    Compare(changes, "name", old.Name, now.Name);
    Compare(changes, "type", old.Type, now.Type);
    Compare(changes, "interface", old.Interface, now.Interface);
    old = now;
    if (!changes.empty()) events.push_back({TDeviceEvent::TKind::Changed, now, changes});
  }
  std::vector<TKnown> kept;
  for (std::size_t i = 0; i < Known.size(); ++i) {
    if (!seen[i] && ++Known[i].Missed >= kMissedScansForGone) {
      events.push_back({TDeviceEvent::TKind::Gone, Known[i].Device, {}});
      continue;
    }
    kept.push_back(Known[i]);
  }
  Known = std::move(kept);
  return events;
}

std::vector<TDeviceInfo> SelectedDevices(const std::vector<TDeviceInfo>& devices,
                                         const TScanSelection& selection) {
  std::vector<TDeviceInfo> selected;
  for (const TDeviceInfo& device : devices)
    if (selection.Selects(device)) selected.push_back(device);
  return selected;
}

std::vector<TSharedAddress> SharedAddresses(const std::vector<TDeviceInfo>& devices) {
  std::vector<TDeviceInfo> byAddress = devices;
  SortDevices(byAddress, TDeviceOrder::IP);  // and by ID within one address
  std::vector<TSharedAddress> shared;
  for (std::size_t first = 0; first < byAddress.size();) {
    std::size_t end = first + 1;
    while (end < byAddress.size() && byAddress[end].IPAddress == byAddress[first].IPAddress) ++end;
    if (end - first > 1) {
      TSharedAddress entry{byAddress[first].IPAddress, {}};
      for (std::size_t i = first; i < end; ++i) entry.IDs.push_back(byAddress[i].ID);
      shared.push_back(std::move(entry));
    }
    first = end;
  }
  return shared;
}

bool IsShared(const std::vector<TSharedAddress>& shared, const std::string& address) {
  return std::any_of(shared.begin(), shared.end(),
                     [&address](const TSharedAddress& entry) { return entry.Address == address; });
}

std::string SharedAddressText(const TSharedAddress& shared) {
  std::string text = std::to_string(shared.IDs.size()) + " devices share IP address " +
                     Printable(shared.Address) + ":";
  for (std::size_t i = 0; i < shared.IDs.size(); ++i)
    text += (i == 0 ? " " : ", ") + Printable(shared.IDs[i]);
  return text;
}

// The device list of vepctl discover in its four forms. Text: one line per device, its columns
// separated by tabs, no header; with --ping the check's outcome follows, and a device whose IP
// address another device holds too ends with the column "duplicate IP". TSV and CSV: a header
// line, then one line per device with the columns name, type, ip, id, interface, duplicate_ip
// (and reachable, error with --ping); booleans are "true" or "false", empty when unknown.
// JSON: one object per device with the same fields, unknown as null (an "error" field only
// for a check that failed). Main thread only.
enum class TListFormat { Text, Tsv, Csv, Json };

class TDeviceTable {
 public:
  // `output` prints JSON exactly when `format` is Json. `withReachability` adds the columns of
  // the checks, which every row then has.
  TDeviceTable(const TOutput& output, TListFormat format, bool withReachability);

  // The header line of TSV and CSV; nothing in the other forms.
  void Header() const;
  // One device; `sharedAddress` tells whether another device holds its IP address too (none
  // while that is not known yet), `check` is its reachability check.
  void Row(const TDeviceInfo& device, std::optional<bool> sharedAddress,
           const std::optional<TCheckResult>& check) const;

 private:
  std::string Line(const std::vector<std::string>& fields) const;

  const TOutput& Output;
  TListFormat Format;
  bool WithReachability;
};

namespace {

constexpr const char* kSharedAddressMark = "duplicate IP";

std::string BooleanText(std::optional<bool> value) {
  if (!value) return {};
  return *value ? "true" : "false";
}

TRecord BooleanValue(std::optional<bool> value) {
  if (!value) return nullptr;
  return *value;
}

}  // namespace

TDeviceTable::TDeviceTable(const TOutput& output, TListFormat format, bool withReachability)
    : Output(output), Format(format), WithReachability(withReachability) {}

std::string TDeviceTable::Line(const std::vector<std::string>& fields) const {
  return Format == TListFormat::Csv ? CsvLine(fields) : TsvLine(fields);
}

void TDeviceTable::Header() const {
  if (Format != TListFormat::Tsv && Format != TListFormat::Csv) return;
  std::vector<std::string> columns = {"name", "type", "ip", "id", "interface", "duplicate_ip"};
  if (WithReachability) {
    columns.push_back("reachable");
    columns.push_back("error");
  }
  Output.Record({}, Line(columns));
}

void TDeviceTable::Row(const TDeviceInfo& device, std::optional<bool> sharedAddress,
                       const std::optional<TCheckResult>& check) const {
  if (Format == TListFormat::Tsv || Format == TListFormat::Csv) {
    std::vector<std::string> fields = {device.Name, device.Type,      device.IPAddress,
                                       device.ID,   device.Interface, BooleanText(sharedAddress)};
    if (check) {
      const bool failed = check->Outcome == TReachability::Failed;
      fields.push_back(failed ? "" : BooleanText(check->Outcome == TReachability::Reachable));
      fields.push_back(failed ? check->Error : "");
    }
    Output.Record({}, Line(fields));
    return;
  }
  TRecord record = DeviceFields(device);
  record["duplicate_ip"] = BooleanValue(sharedAddress);
  std::string text = DeviceText(device);
  if (check) text += '\t' + AddReachability(record, *check);
  if (sharedAddress.value_or(false)) text += std::string("\t") + kSharedAddressMark;
  Output.Record(record, text);
}

// Hands a URL to the desktop's browser: runs `xdg-open URL` (found on PATH) and waits for it.
// Blocks the calling thread until xdg-open returns.

// Empty on success; otherwise why the URL was not handed over ("xdg-open cannot be run: No
// such file or directory", "xdg-open exited with 3").
std::string OpenInBrowser(const std::string& url);

namespace {

constexpr const char* kOpener = "xdg-open";

}  // namespace

std::string OpenInBrowser(const std::string& url) {
  std::string program = kOpener;
  std::string argument = url;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  if (const int error = posix_spawnp(&child, kOpener, nullptr, nullptr, argv, environ); error != 0)
    return std::string(kOpener) + " cannot be run: " + std::strerror(error);
  int status = 0;
  while (waitpid(child, &status, 0) < 0)
    if (errno != EINTR)
      return std::string("waiting for ") + kOpener + " failed: " + std::strerror(errno);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
  if (WIFEXITED(status))
    return std::string(kOpener) + " exited with " + std::to_string(WEXITSTATUS(status));
  return std::string(kOpener) + " was ended by signal " + std::to_string(WTERMSIG(status));
}

// vepctl discover: lists the devices that answer one scan, as text, TSV, CSV or JSON, in an
// order of choice, optionally filtered and with their reachability.
namespace {

struct TDiscoverOptions {
  bool Ping = false;
  int WaitMs = 3000;
  TListFormat Format = TListFormat::Text;
  TDeviceOrder Order = TDeviceOrder::Name;
  TScanSelection Selection;
};

int RunDiscover(const TDiscoverOptions& options, const TGlobalOptions& global) {
  const TListFormat format = global.Json ? TListFormat::Json : options.Format;
  const TOutput output(format == TListFormat::Json);
  const std::vector<TLocalInterface> asked = options.Selection.Interfaces();
  TSession session(global);
  options.Selection.Restrict(session, asked);
  const TDeviceTable table(output, format, options.Ping);
  TDeviceScan scan(session);
  // Unsorted and without pings, every device is shown as soon as it answers; whether another
  // device shares its address is not known then.
  const bool streaming = options.Order == TDeviceOrder::None && !options.Ping;
  if (streaming) {
    table.Header();
    scan.OnNewDevice = [&](const TDeviceInfo& device) {
      if (options.Selection.Selects(device)) table.Row(device, std::nullopt, std::nullopt);
    };
  }
  scan.Run(options.WaitMs);

  std::vector<TDeviceInfo> listed = SelectedDevices(scan.Devices(), options.Selection);
  // An address that two devices answer from is a conflict on the network, whether or not the
  // filters show both.
  const std::vector<TSharedAddress> shared = SharedAddresses(scan.Devices());
  if (!streaming) {
    SortDevices(listed, options.Order);
    std::vector<TCheckResult> checks;
    if (options.Ping) {
      std::vector<std::string> addresses;
      for (const TDeviceInfo& device : listed) addresses.push_back(device.IPAddress);
      checks = CheckAll(session, addresses);
    }
    table.Header();
    for (std::size_t i = 0; i < listed.size(); ++i)
      table.Row(listed[i], IsShared(shared, listed[i].IPAddress),
                options.Ping ? std::optional<TCheckResult>(checks[i]) : std::nullopt);
  }
  for (const TSharedAddress& address : shared)
    std::fprintf(stderr, "vepctl: warning: %s\n", SharedAddressText(address).c_str());

  if (scan.Devices().empty()) {
    std::string text = "no device answered the scan (asked through " + DescribeInterfaces(asked) + ")";
    if (const std::string hint = FirewallHint("vepctl"); !hint.empty()) text += "; " + hint;
    return output.Error(1, text, {{"devices", 0}});
  }
  if (listed.empty())
    return output.Error(1,
                        "none of the " + std::to_string(scan.Devices().size()) +
                            " devices that answered matches the filters",
                        {{"devices", 0}});
  return 0;
}

}  // namespace

void AddDiscoverCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto options = std::make_shared<TDiscoverOptions>();
  CLI::App* command = app.add_subcommand("discover", "List the devices that answer a scan");
  command->footer(
      "Sends five discovery broadcasts 500 ms apart and lists each device that\n"
      "answers once: name, type, IP address, ID and the local interface that heard\n"
      "it. The list comes when the scan is over, sorted (by name unless --sort says\n"
      "otherwise); with --sort none each device is shown as soon as its first reply\n"
      "comes. Text lines are tab-separated, without a header; a device whose IP\n"
      "address another device answers from too ends with \"duplicate IP\" (not known\n"
      "while streaming), and standard error warns once per such address. TSV and CSV\n"
      "have a header line: name,type,ip,id,interface,duplicate_ip (and reachable,error\n"
      "with --ping). With --ping the list follows the reachability checks; a check\n"
      "that could not be made is shown as failed, with the reason. When no device\n"
      "answers (or none matches the filters), says so on standard error, naming the\n"
      "interfaces asked, and exits 1.");
  command->add_flag("--ping", options->Ping,
                    "Also check whether each device answers a ping (all at once, up to 5 s each)");
  command->add_option("--wait", options->WaitMs, "Listen this long from the scan's start")
      ->option_text("MS (default 3000)")
      ->check(CLI::Range(0, 600000));
  const std::map<std::string, TListFormat> formats = {{"text", TListFormat::Text},
                                                      {"tsv", TListFormat::Tsv},
                                                      {"csv", TListFormat::Csv},
                                                      {"json", TListFormat::Json}};
  CLI::Option* format =
      command->add_option("--format", options->Format, "Output form (--json: --format json)")
          ->option_text("text|tsv|csv|json (default text)")
          ->transform(CLI::CheckedTransformer(formats));
  const std::map<std::string, TDeviceOrder> orders = {{"name", TDeviceOrder::Name},
                                                      {"ip", TDeviceOrder::IP},
                                                      {"id", TDeviceOrder::ID},
                                                      {"interface", TDeviceOrder::Interface},
                                                      {"none", TDeviceOrder::None}};
  command
      ->add_option("--sort", options->Order,
                   "Order of the list; ties go by ID (none: as the devices answer)")
      ->option_text("name|ip|id|interface|none (default name)")
      ->transform(CLI::CheckedTransformer(orders));
  options->Selection.AddOptions(*command);
  command->callback([options, format, &global, &exitCode] {
    if (global.Json && format->count() > 0 && options->Format != TListFormat::Json)
      throw CLI::ValidationError("--format", "--json asks for JSON; give one of the two");
    exitCode = RunDiscover(*options, global);
  });
}

// vepctl watch: scans again and again and reports what changed: devices that appeared, that
// are gone, that changed their address, name, type or interface. Runs until Ctrl-C or SIGTERM,
// which end it at once with exit 0.
namespace {

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
  const TOutput output(global.Json);
  CatchStopSignals();
  TSession session(global);
  options.Selection.Restrict(session, options.Selection.Interfaces());
  TDeviceChanges changes;
  RepeatUntilStopped(session, options.EverySeconds, [&] {
    const std::vector<TSighting> heard = Scan(session, options);
    // A scan cut short by a stop would report every device it missed.
    if (StopRequested()) return;
    for (const TDeviceEvent& event : changes.Update(heard)) PrintEvent(output, event);
  });
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
      ->check(CLI::Range(kShortestScanIntervalSeconds, 86400));
  command->add_option("--wait", options->WaitMs, "Listen this long from each scan's start")
      ->option_text("MS (default 3000)")
      ->check(CLI::Range(0, 600000));
  options->Selection.AddOptions(*command);
  command->callback([options, &global, &exitCode] { exitCode = RunWatch(*options, global); });
}

// vepctl web: the main window's Web action. Opens a device's web page ("http://" + its IP
// address + "/") in the desktop's browser; a device named by its ID is found by a scan first.
namespace {

struct TWebOptions {
  std::string Device;
  int WaitMs = 3000;
};

// Accepts a dotted IPv4 address (made canonical) or a device ID.
const CLI::Validator& AddressOrDeviceID() {
  static const CLI::Validator validator(
      [](std::string& text) -> std::string {
        if (const std::optional<std::string> canonical = CanonicalIPv4(text)) {
          text = *canonical;
          return {};
        }
        std::string asID = text;
        if (DeviceIDText()(asID).empty()) return {};
        return "neither a dotted IPv4 address nor a device ID (e.g. 10.0.0.7 or "
               "00:0A:1B:2C:3D:4E): " +
               text;
      },
      "");
  return validator;
}

int RunWeb(const TWebOptions& options, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  std::string address = options.Device;
  TRecord record;
  if (!CanonicalIPv4(address)) {
    const std::string id = IDText(DeviceNodeID(options.Device));
    TSession session(global);
    TDeviceScan scan(session);
    scan.Run(options.WaitMs, [&] { return scan.Find(id) != nullptr; });
    const TDeviceInfo* found = scan.Find(id);
    if (found == nullptr)
      return output.Error(1, "device " + id + " did not answer the scan", {{"id", id}});
    address = found->IPAddress;
    record["id"] = id;
  }
  const std::string url = "http://" + address + "/";
  record["url"] = url;
  output.Record(record, Printable(url));
  const std::string problem = OpenInBrowser(url);
  if (!problem.empty())
    return output.Error(1, "could not open " + url + " (" + problem + "); open it in your browser",
                        {{"url", url}});
  return 0;
}

}  // namespace

void AddWebCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto options = std::make_shared<TWebOptions>();
  CLI::App* command = app.add_subcommand("web", "Open a device's web page in the browser");
  command->footer(
      "Prints the URL (http://ADDRESS/) and hands it to xdg-open. A device given by\n"
      "its ID is found by a scan (listening up to --wait ms) and its address used.\n"
      "Exit 1 when the device does not answer or xdg-open is missing or fails.");
  command->add_option("DEVICE", options->Device, "The device's ID or its IP address")
      ->required()
      ->type_name("ID|ADDRESS")
      ->transform(AddressOrDeviceID());
  command->add_option("--wait", options->WaitMs, "Listen this long for a device given by ID")
      ->option_text("MS (default 3000)")
      ->check(CLI::Range(0, 600000));
  command->callback([options, &global, &exitCode] { exitCode = RunWeb(*options, global); });
}

}  // namespace scoutor::vepctl
