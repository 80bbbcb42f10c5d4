
#include "tools/vepctl/Plans.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "appmodel/AddressUse.h"
#include "appmodel/DeviceRequest.h"
#include "appmodel/IPSettings.h"
#include "hostnet/ReachabilityService.h"
#include "protocol/VepWire.h"
#include "tools/vepctl/Commands.h"
#include "tools/vepctl/Listing.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

namespace {

enum TColumn { kID, kDHCP, kIP, kMask, kGateway, kColumnCount };
constexpr std::array<std::string_view, kColumnCount> kColumnNames = {"id", "dhcp", "ip", "mask",
                                                                     "gateway"};
constexpr std::string_view kColumnList = "id, dhcp, ip, mask, gateway";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  });
  return text;
}

std::optional<bool> DHCPFlag(const std::string& text) {
  const std::string value = Lower(text);
  if (value == "1" || value == "yes" || value == "true") return true;
  if (value == "0" || value == "no" || value == "false") return false;
  return std::nullopt;
}

// Where each column sits in a row, read from the header line.
using TLayout = std::array<std::size_t, kColumnCount>;

class TPlanReader {
 public:
  TIPPlan Read(std::string_view text) {
    const std::vector<TCsvRecord> records = ReadCsvRecords(text);
    if (records.empty()) {
      Problem(0, {},
              std::string("the plan is empty: it needs a header line naming ") +
                  std::string(kColumnList) + " and a row per device");
    } else if (const std::optional<TLayout> layout = Header(records.front())) {
      for (std::size_t i = 1; i < records.size(); ++i) Row(records[i], *layout);
      if (records.size() == 1) Problem(0, {}, "the plan names no device: it has a header only");
      Duplicates();
    }
    std::stable_sort(Plan.Problems.begin(), Plan.Problems.end(),
                     [](const TPlanProblem& a, const TPlanProblem& b) { return a.Line < b.Line; });
    return std::move(Plan);
  }

 private:
  void Problem(int line, const std::string& id, const std::string& text) {
    Plan.Problems.push_back({line, id, text});
  }

  std::optional<TLayout> Header(const TCsvRecord& record) {
    if (!record.Problem.empty()) {
      Problem(record.Line, {}, "header line: " + record.Problem);
      return std::nullopt;
    }
    constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);
    TLayout layout;
    layout.fill(kAbsent);
    bool good = true;
    for (std::size_t i = 0; i < record.Fields.size(); ++i) {
      const std::string name = Lower(record.Fields[i]);
      const auto known = std::find(kColumnNames.begin(), kColumnNames.end(), name);
      if (known == kColumnNames.end()) {
        Problem(record.Line, {},
                "the header line names an unknown column '" + record.Fields[i] +
                    "' (the columns are " + std::string(kColumnList) + ")");
        good = false;
        continue;
      }
      std::size_t& position = layout[static_cast<std::size_t>(known - kColumnNames.begin())];
      if (position != kAbsent) {
        Problem(record.Line, {}, "the header line names the column '" + name + "' twice");
        good = false;
      }
      position = i;
    }
    for (std::size_t column = 0; column < kColumnCount; ++column)
      if (layout[column] == kAbsent) {
        Problem(record.Line, {},
                "the header line lacks the column '" + std::string(kColumnNames[column]) +
                    "' (the columns are " + std::string(kColumnList) + ")");
        good = false;
      }
    Width = record.Fields.size();
    if (!good) return std::nullopt;
    return layout;
  }

  void Row(const TCsvRecord& record, const TLayout& layout) {
    if (!record.Problem.empty()) {
      Problem(record.Line, {}, record.Problem);
      return;
    }
    if (record.Fields.size() != Width) {
      Problem(record.Line, {},
              "the row has " + std::to_string(record.Fields.size()) +
                  " fields where the header line names " + std::to_string(Width));
      return;
    }
    const auto field = [&](TColumn column) -> const std::string& {
      return record.Fields[layout[column]];
    };
    TPlanRow row;
    row.Line = record.Line;
    const std::size_t problemsBefore = Plan.Problems.size();

    std::string id = field(kID);
    if (const std::string why = DeviceIDText()(id); !why.empty())
      Problem(row.Line, {}, "id: " + why);
    else
      row.ID = IDText(DeviceNodeID(id));

    const std::array<std::string, 3> addresses = {field(kIP), field(kMask), field(kGateway)};
    const auto given = std::count_if(addresses.begin(), addresses.end(),
                                     [](const std::string& text) { return !text.empty(); });
    const std::optional<bool> dhcp = DHCPFlag(field(kDHCP));
    if (!dhcp) {
      Problem(row.Line, row.ID,
              "dhcp: '" + field(kDHCP) + "' is none of 1, 0, yes, no, true, false");
    } else if (*dhcp) {
      row.DHCP = true;
      if (given != 0)
        Problem(row.Line, row.ID, "a DHCP row takes no ip, mask or gateway (leave them empty)");
    } else if (given != 3) {
      Problem(row.Line, row.ID, "a static row needs ip, mask and gateway (gateway 0.0.0.0: none)");
    } else {
      ReadAddresses(addresses, row);
    }
    if (Plan.Problems.size() == problemsBefore) Plan.Rows.push_back(row);
    // A row with problems still takes part in the search for duplicates with what it names.
    Named.push_back({row.Line, row.ID, row.Address});
  }

  // The ip, mask and gateway of a static row into `row`, if each reads as an address and
  // together they can work.
  void ReadAddresses(std::array<std::string, 3> texts, TPlanRow& row) {
    constexpr std::array<TColumn, 3> kAddressColumns = {kIP, kMask, kGateway};
    bool readable = true;
    for (std::size_t i = 0; i < texts.size(); ++i)
      if (const std::string why = IPv4Text()(texts[i]); !why.empty()) {
        Problem(row.Line, row.ID, std::string(kColumnNames[kAddressColumns[i]]) + ": " + why);
        readable = false;
      }
    if (!readable) return;
    if (const std::string why = SendingProblem({false, texts[0], texts[1], texts[2]}); !why.empty()) {
      Problem(row.Line, row.ID, why);
      return;
    }
    row.Address = texts[0];
    row.Mask = texts[1];
    row.Gateway = texts[2];
  }

  void Duplicates() {
    std::map<std::string, int> firstLineOfID;
    std::map<std::string, int> firstLineOfAddress;
    for (const TNamed& named : Named) {
      if (!named.ID.empty())
        if (const auto [id, isNew] = firstLineOfID.emplace(named.ID, named.Line); !isNew)
          Problem(named.Line, named.ID,
                  "the device " + named.ID + " is already planned on line " +
                      std::to_string(id->second));
      if (named.Address.empty()) continue;
      if (const auto [address, isNew] = firstLineOfAddress.emplace(named.Address, named.Line);
          !isNew)
        Problem(named.Line, named.ID,
                "the address " + named.Address + " is already planned on line " +
                    std::to_string(address->second));
    }
  }

  // What a row names, for the duplicates: its device and its static address (or empty).
  struct TNamed {
    int Line;
    std::string ID;
    std::string Address;
  };

  TIPPlan Plan;
  std::vector<TNamed> Named;
  std::size_t Width = 0;
};

}  // namespace

TIPPlan ParseIPPlan(std::string_view text) {
  return TPlanReader().Read(text);
}

TIPPlan ReadIPPlanFile(const std::string& path) {
  const auto unreadable = [](const std::string& why) {
    TIPPlan plan;
    plan.Problems.push_back({0, {}, "cannot be read: " + why});
    return plan;
  };
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) return unreadable("it is a directory");
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) return unreadable(errno != 0 ? std::strerror(errno) : "it cannot be opened");
  std::string text;
  std::array<char, 65536> buffer;
  while (file.read(buffer.data(), buffer.size()) || file.gcount() > 0)
    text.append(buffer.data(), static_cast<std::size_t>(file.gcount()));
  if (file.bad()) return unreadable("a read failed");
  return ParseIPPlan(text);
}

namespace {

bool Checked(const TPlanRow& row, bool force) {
  return !force && !row.DHCP;
}

}  // namespace

std::string InUseProblem(const std::string& address, const std::string& user) {
  return InUseText(address, user) + " (--force sends it anyway)";
}

// The checks of a plan on the network: every planned device answers one scan, and no planned
// static address is in use. The problems found, in the order of the rows. The scan listens
// `scanWaitMs`; with `force` it ends as soon as every planned device has answered, as no other
// device's address matters.
std::vector<TPlanProblem> CheckPlanOnNetwork(TSession& session, const std::vector<TPlanRow>& rows,
                                             bool force, int scanWaitMs) {
  // Every address is checked while the scan listens, the pings all at once.
  const TCandidateChecks ping = ChecksOf(session.Reachability());
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

// Applies the rows of a checked IP plan, many devices at a time: each device is sent its
// set-IP, its acknowledgement awaited (up to a wait counted from the send), then its settings
// asked for (get-IP, the same wait from that request) and compared with its row. Each device
// has a request of its own (DeviceRequest.h), which hears only that device's answer of the
// kind it waits for, so any number of devices can be between their set-IP and their settings
// at once, and a late reply or a repeated acknowledgement is passed over.
// No more than the in-flight limit of devices are under way at once; when one ends, the next
// row's set-IP goes out at once, from inside the event that ended it. Nothing blocks: the
// steps run in the engine's events and in single-shot timers on the main loop. Main thread.
struct TPlanOutcome {
  const TPlanRow* Row = nullptr;
  bool Confirmed = false;  // acknowledged, and the settings read back are the row's
  std::string AckFrom;     // where the acknowledgement came from; empty without one
  std::string Reason;      // why not, unless confirmed
};

class TPlanApplier {
 public:
  TPlanApplier(TSession& session, const std::vector<TPlanRow>& rows, std::size_t inFlight,
               int waitMs);
  ~TPlanApplier();
  TPlanApplier(const TPlanApplier&) = delete;
  TPlanApplier& operator=(const TPlanApplier&) = delete;

  // Called as each device ends, confirmed or not.
  std::function<void(const TPlanOutcome& outcome)> OnDeviceDone;

  // Runs until every row has ended; each ends within two waits of its set-IP.
  void Run();

  // The most devices that were under way at once.
  std::size_t MostInFlight() const { return MostUnderWay; }

 private:
  enum class TStage { Queued, AwaitAcknowledgement, AwaitSettings, Ended };
  struct TDevice {
    const TPlanRow* Row = nullptr;
    TStage Stage = TStage::Queued;
    std::string AckFrom;
    std::unique_ptr<TDeviceRequest> Request;
  };

  void StartMore();
  void Answered(TDevice& device, const TDeviceInfo& answer);
  void TimedOut(TDevice& device);
  void End(TDevice& device, bool confirmed, const std::string& reason);

  TSession& Session;
  const std::size_t Limit;
  const int WaitMs;
  const int RequestTimeoutMs;
  std::vector<std::unique_ptr<TDevice>> Devices;
  std::size_t NextQueued = 0;
  std::size_t UnderWay = 0;
  std::size_t MostUnderWay = 0;
  std::size_t EndedCount = 0;
};

namespace {

// What the device reports when its settings are not the row's.
std::string SettingsDiffer(const TDeviceInfo& settings) {
  return "the device reports other settings: dhcp=" + std::string(settings.DHCP ? "on" : "off") +
         " ip=" + Printable(settings.IPAddress) + " mask=" + Printable(settings.SubnetMask) +
         " gateway=" + Printable(settings.DefaultGateway);
}

bool Matches(const TPlanRow& row, const TDeviceInfo& settings) {
  // With DHCP the device's address is whatever the server gave it.
  if (row.DHCP) return settings.DHCP;
  return !settings.DHCP && settings.IPAddress == row.Address && settings.SubnetMask == row.Mask &&
         settings.DefaultGateway == row.Gateway;
}

}  // namespace

TPlanApplier::TPlanApplier(TSession& session, const std::vector<TPlanRow>& rows,
                           std::size_t inFlight, int waitMs)
    : Session(session), Limit(inFlight), WaitMs(waitMs),
      // A request's time-out of 0 is none; --wait 0 asks for the shortest wait instead.
      RequestTimeoutMs(std::max(waitMs, 1)) {
  for (const TPlanRow& row : rows) {
    auto device = std::make_unique<TDevice>();
    TDevice& one = *device;
    one.Row = &row;
    one.Request = std::make_unique<TDeviceRequest>(session.Vep());
    one.Request->OnAnswer = [this, &one](const TDeviceInfo& answer) { Answered(one, answer); };
    one.Request->OnTimeOut = [this, &one] { TimedOut(one); };
    Devices.push_back(std::move(device));
  }
}

// The requests stop listening as they go, so answers that come later reach nothing.
TPlanApplier::~TPlanApplier() = default;

void TPlanApplier::Run() {
  StartMore();
  // Every device ends: with its settings, or at the time-out of one of its two requests.
  Session.Wait([this] { return EndedCount == Devices.size(); }, -1);
}

void TPlanApplier::StartMore() {
  while (UnderWay < Limit && NextQueued < Devices.size()) {
    TDevice& device = *Devices[NextQueued++];
    const TPlanRow& row = *device.Row;
    device.Stage = TStage::AwaitAcknowledgement;
    ++UnderWay;
    MostUnderWay = std::max(MostUnderWay, UnderWay);
    device.Request->SetIP(row.ID, {row.DHCP, row.Address, row.Mask, row.Gateway},
                          RequestTimeoutMs);
  }
}

void TPlanApplier::Answered(TDevice& device, const TDeviceInfo& answer) {
  if (device.Stage == TStage::AwaitAcknowledgement) {
    device.AckFrom = answer.IPAddress;
    device.Stage = TStage::AwaitSettings;
    device.Request->GetIP(device.Row->ID, RequestTimeoutMs);
    return;
  }
  const bool confirmed = Matches(*device.Row, answer);
  End(device, confirmed, confirmed ? std::string() : SettingsDiffer(answer));
}

void TPlanApplier::TimedOut(TDevice& device) {
  End(device, false,
      device.Stage == TStage::AwaitAcknowledgement
          ? "no acknowledgement within " + std::to_string(WaitMs) + " ms"
          : "acknowledged, but no answer to get-IP within " + std::to_string(WaitMs) + " ms");
}

void TPlanApplier::End(TDevice& device, bool confirmed, const std::string& reason) {
  device.Request->Stop();
  device.Stage = TStage::Ended;
  --UnderWay;
  ++EndedCount;
  if (OnDeviceDone) OnDeviceDone({device.Row, confirmed, device.AckFrom, reason});
  StartMore();
}

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

  TSession session(global);
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
