// vepctl's lists and what follows them: discover as text, TSV, CSV and JSON, sorted, filtered,
// asked through one interface, with devices that share an address flagged; watch reporting
// what changes; web handing a device's page to the browser. First the parts on their own, then
// the commands inside private namespace networks with simulated devices.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/DeviceRecords.h"
#include "tests/support/NetnsBed.h"
#include "tests/support/PcOnLan.h"
#include "tests/support/ToolRun.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/Listing.h"
#include "tools/vepctl/Options.h"

namespace scoutor::test {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using vepctl::TDeviceEvent;

const std::string kVepctl = SCOUTOR_BINARY_DIR "/tools/vepctl/vepctl";
const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";

// ---- the parts ----

TEST(VepctlFields, CsvQuotesOnlyFieldsWithACommaAQuoteOrALineBreak) {
  EXPECT_EQ(vepctl::CsvField("Sensor-1"), "Sensor-1");
  EXPECT_EQ(vepctl::CsvField(""), "");
  EXPECT_EQ(vepctl::CsvField("Comma, Inc."), "\"Comma, Inc.\"");
  EXPECT_EQ(vepctl::CsvField("Say \"hi\""), "\"Say \"\"hi\"\"\"");
  EXPECT_EQ(vepctl::CsvField("\""), "\"\"\"\"");
  EXPECT_EQ(vepctl::CsvField("two\nlines"), "\"two\nlines\"");
  EXPECT_EQ(vepctl::CsvField("carriage\rreturn"), "\"carriage\rreturn\"");
  // Neither a tab nor a leading space nor UTF-8 needs quotes.
  EXPECT_EQ(vepctl::CsvField("tab\there"), "tab\there");
  EXPECT_EQ(vepctl::CsvField(" Grüße ✓"), " Grüße ✓");
  EXPECT_EQ(vepctl::CsvLine({"a", "b,c", "", "d\"e"}), "a,\"b,c\",,\"d\"\"e\"");
}

TEST(VepctlFields, TsvShowsControlCharactersAsQuestionMarks) {
  EXPECT_EQ(vepctl::TsvField("tab\there"), "tab?here");
  EXPECT_EQ(vepctl::TsvField("two\r\nlines"), "two??lines");
  EXPECT_EQ(vepctl::TsvField("Comma, \"Inc.\" Grüße"), "Comma, \"Inc.\" Grüße");
  EXPECT_EQ(vepctl::TsvLine({"a\tb", "", "c"}), "a?b\t\tc");
}

TEST(VepctlSharedAddresses, EachAddressHeldTwiceIsNamedWithItsDevices) {
  const std::vector<TDeviceInfo> devices = {Device("a", "t", "10.0.0.50", "00:00:00:00:00:0B"),
                                            Device("b", "t", "10.0.0.7", "00:00:00:00:00:01"),
                                            Device("c", "t", "10.0.0.50", "00:00:00:00:00:0A"),
                                            Device("d", "t", "10.0.0.6", "00:00:00:00:00:02"),
                                            Device("e", "t", "10.0.0.50", "00:00:00:00:00:03"),
                                            Device("f", "t", "10.0.0.6", "00:00:00:00:00:04")};
  const std::vector<vepctl::TSharedAddress> shared = vepctl::SharedAddresses(devices);
  ASSERT_EQ(shared.size(), 2u);
  EXPECT_EQ(vepctl::SharedAddressText(shared[0]),
            "2 devices share IP address 10.0.0.6: 00:00:00:00:00:02, 00:00:00:00:00:04");
  EXPECT_EQ(vepctl::SharedAddressText(shared[1]),
            "3 devices share IP address 10.0.0.50: 00:00:00:00:00:03, 00:00:00:00:00:0A, "
            "00:00:00:00:00:0B");
  EXPECT_TRUE(vepctl::IsShared(shared, "10.0.0.50"));
  EXPECT_FALSE(vepctl::IsShared(shared, "10.0.0.7"));
  EXPECT_THAT(vepctl::SharedAddresses({devices[1], devices[3]}), IsEmpty());
}

std::vector<vepctl::TSighting> Heard(const std::vector<TDeviceInfo>& devices) {
  std::vector<vepctl::TSighting> sightings;
  for (const TDeviceInfo& device : devices) sightings.push_back({device, {device.Interface}});
  return sightings;
}

TEST(VepctlChanges, TheFirstScanReportsEveryDeviceAsAppeared) {
  vepctl::TDeviceChanges changes;
  const TDeviceInfo a = Device("A", "t", "10.0.0.5", "1"), b = Device("B", "t", "10.0.0.6", "2");
  const std::vector<TDeviceEvent> events = changes.Update(Heard({a, b}));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].Kind, TDeviceEvent::TKind::Appeared);
  EXPECT_EQ(events[0].Device, a);
  EXPECT_EQ(events[1].Device, b);
  EXPECT_THAT(changes.Update(Heard({b, a})), IsEmpty());
}

TEST(VepctlChanges, ADeviceIsGoneOnlyWhenTwoScansInARowMissedIt) {
  vepctl::TDeviceChanges changes;
  const TDeviceInfo a = Device("A", "t", "10.0.0.5", "1"), b = Device("B", "t", "10.0.0.6", "2");
  changes.Update(Heard({a, b}));
  EXPECT_THAT(changes.Update(Heard({a})), IsEmpty());
  EXPECT_THAT(changes.Update(Heard({a, b})), IsEmpty());  // one miss is forgotten
  EXPECT_THAT(changes.Update(Heard({a})), IsEmpty());
  std::vector<TDeviceEvent> events = changes.Update(Heard({a}));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Kind, TDeviceEvent::TKind::Gone);
  EXPECT_EQ(events[0].Device, b);
  EXPECT_THAT(changes.Update(Heard({a})), IsEmpty());
  // Back after it was gone: it appears again.
  events = changes.Update(Heard({a, b}));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Kind, TDeviceEvent::TKind::Appeared);
}

TEST(VepctlChanges, ChangedFieldsComeWithTheirOldAndNewValues) {
  vepctl::TDeviceChanges changes;
  changes.Update(Heard({Device("A", "Camera", "10.0.0.5", "1", "10.0.0.1")}));
  const TDeviceInfo moved = Device("A2", "Camera", "10.0.0.9", "1", "10.1.0.1");
  const std::vector<TDeviceEvent> events = changes.Update(Heard({moved}));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Kind, TDeviceEvent::TKind::Changed);
  EXPECT_EQ(events[0].Device, moved);
  ASSERT_EQ(events[0].Changes.size(), 3u);
  EXPECT_EQ(events[0].Changes[0].Field, "ip");
  EXPECT_EQ(events[0].Changes[0].Old, "10.0.0.5");
  EXPECT_EQ(events[0].Changes[0].New, "10.0.0.9");
  EXPECT_EQ(events[0].Changes[1].Field, "name");
  EXPECT_EQ(events[0].Changes[2].Field, "interface");
  EXPECT_EQ(events[0].Changes[2].New, "10.1.0.1");
  EXPECT_THAT(changes.Update(Heard({moved})), IsEmpty());
}

// Which interface's reply comes first may differ from scan to scan.
TEST(VepctlChanges, ADeviceStillHeardThroughItsInterfaceKeepsIt) {
  vepctl::TDeviceChanges changes;
  changes.Update(Heard({Device("A", "t", "10.0.0.5", "1", "10.0.0.1")}));
  const TDeviceInfo firstThroughOther = Device("A", "t", "10.0.0.5", "1", "10.1.0.1");
  EXPECT_THAT(changes.Update({{firstThroughOther, {"10.1.0.1", "10.0.0.1"}}}), IsEmpty());
  const std::vector<TDeviceEvent> events = changes.Update({{firstThroughOther, {"10.1.0.1"}}});
  ASSERT_EQ(events.size(), 1u);
  ASSERT_EQ(events[0].Changes.size(), 1u);
  EXPECT_EQ(events[0].Changes[0].Field, "interface");
  EXPECT_EQ(events[0].Changes[0].Old, "10.0.0.1");
}

TEST(VepctlInterfaces, OneIsChosenByItsNameOrByItsAddress) {
  const std::vector<TLocalInterface> interfaces = {
      {"eth0", 2, "10.0.0.1", true, false, true, "10.0.0.255"},
      {"eth0", 2, "10.0.5.1", true, false, true, "10.0.5.255"},
      {"eth1", 3, "10.1.0.1", true, false, true, "10.1.0.255"}};
  std::vector<TLocalInterface> chosen = vepctl::ChosenInterfaces(interfaces, "eth0");
  ASSERT_EQ(chosen.size(), 2u);
  EXPECT_EQ(chosen[1].Address, "10.0.5.1");
  chosen = vepctl::ChosenInterfaces(interfaces, "010.001.000.001");
  ASSERT_EQ(chosen.size(), 1u);
  EXPECT_EQ(chosen[0].Device, "eth1");
  EXPECT_THAT(vepctl::ChosenInterfaces(interfaces, "eth2"), IsEmpty());
  EXPECT_THAT(vepctl::ChosenInterfaces(interfaces, "10.1.0.2"), IsEmpty());
  EXPECT_EQ(vepctl::DescribeInterfaces(interfaces), "eth0 10.0.0.1, eth0 10.0.5.1, eth1 10.1.0.1");
}

// Help sends nothing, so it runs on this host.
TEST(VepctlListingHelp, NamesTheCommandsTheirOptionsAndTheOutputForms) {
  EXPECT_THAT(RunOnHost(kVepctl + " --help").Output,
              AllOf(HasSubstr("watch"), HasSubstr("web")));
  EXPECT_THAT(RunOnHost(kVepctl + " discover --help").Output,
              AllOf(HasSubstr("--format text|tsv|csv|json"), HasSubstr("--sort"),
                    HasSubstr("--filter EXPR"), HasSubstr("--interface NAME|ADDRESS"),
                    HasSubstr("name,type,ip,id,interface,duplicate_ip")));
  EXPECT_THAT(RunOnHost(kVepctl + " watch --help").Output,
              AllOf(HasSubstr("--every"), HasSubstr("appeared"), HasSubstr("gone"),
                    HasSubstr("changed"), HasSubstr("SIGTERM")));
  EXPECT_THAT(RunOnHost(kVepctl + " web --help").Output, HasSubstr("xdg-open"));
}

// ---- in private networks ----

// A folder of files for one test, removed at its end.
class TScratch {
 public:
  TScratch() {
    char pattern[] = "/tmp/scoutor-listing-XXXXXX";
    Root = mkdtemp(pattern);
  }
  ~TScratch() { std::filesystem::remove_all(Root); }
  std::string Path(const std::string& name) const { return Root + "/" + name; }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }

 private:
  std::string Root;
};

// Waits (bounded) until `done` holds; false when it never did.
bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The five devices of one simulator that holds their addresses, so each answers from its own.
// Name, ID and address orders all differ.
constexpr const char* kAwkwardDevices = R"([
  {"mac": "02:00:00:00:00:05", "name": "Plain",
   "type": "Bridge", "ip": "10.0.0.10", "mask": "255.255.0.0"},
  {"mac": "02:00:00:00:00:03", "name": "Comma, Inc.",
   "type": "Camera", "ip": "10.0.0.100", "mask": "255.255.0.0"},
  {"mac": "02:00:00:00:00:01", "name": "Say \"hi\"",
   "type": "Sensor", "ip": "10.0.0.9", "mask": "255.255.0.0"},
  {"mac": "02:00:00:00:00:04", "name": "Grüße ✓ 日本",
   "type": "CAMERA", "ip": "10.0.1.5", "mask": "255.255.0.0"},
  {"mac": "02:00:00:00:00:02", "name": "two\nlines\tand a tab",
   "type": "Gate", "ip": "10.0.0.20", "mask": "255.255.0.0"}
])";

//   pc       10.0.0.1/16 on the segment lan
//   devices  the five devices above, their addresses held on its eth0 (mask /16)
class VepctlListing : public TPcOnLan {
 protected:
  void SetUp() override { SetUpPcOnLan("10.0.0.1/16"); }

  void StartAwkwardDevices() {
    const std::string devices = Bed->AddHost("devices");
    Bed->Attach(devices, Lan, "eth0", "");
    Bed->Spawn(devices, {kVepsim, "--hold-addresses", "eth0", "--config",
                         Files.Write("devices.json", kAwkwardDevices)});
    WaitForUdpListener(*Bed, devices, 17784);
  }

  // Two devices in one simulator answer from their host's one address.
  void StartTwins() {
    const std::string twins = Bed->AddHost("twins");
    Bed->Attach(twins, Lan, "eth0", "10.0.0.50/16");
    Bed->Spawn(twins, {kVepsim, "--device", "mac=02:00:00:00:00:0B,name=Twin-B,ip=10.0.0.50",
                       "--device", "mac=02:00:00:00:00:0A,name=Twin-A,ip=10.0.0.50"});
    WaitForUdpListener(*Bed, twins, 17784);
  }

  // vepctl in the PC's namespace (C locale, so names sort byte by byte).
  TRun Vepctl(const std::string& arguments, bool withErrors = false) {
    return RunIn(*Bed, Pc, "LC_ALL=C " + kVepctl + " " + arguments, withErrors);
  }

  // The same with standard error written to `file`.
  TRun Vepctl(const std::string& arguments, const std::string& file) {
    return RunIn(*Bed, Pc, "{ LC_ALL=C " + kVepctl + " " + arguments + " 2> " + file + "; }");
  }

  std::vector<std::string> Names(const std::string& arguments) {
    const TRun run = Vepctl("--json discover --wait 2500 " + arguments);
    EXPECT_EQ(run.Exit, 0) << arguments;
    std::vector<std::string> names;
    for (const nlohmann::json& device : JsonLines(run.Output)) names.push_back(device.at("name"));
    return names;
  }

  // A CSV or TSV file as Python's csv module reads it (with `dialect`, its reader's further
  // arguments): one object of texts per row.
  nlohmann::json ReadWithPython(const std::string& file, const std::string& dialect = "") {
    const TRun run = RunOnHost(
        "python3 -c 'import csv, json, sys; f = open(sys.argv[1], newline=\"\", "
        "encoding=\"utf-8\"); print(json.dumps(list(csv.DictReader(f" +
        dialect + "))))' " + file);
    EXPECT_EQ(run.Exit, 0) << run.Output;
    return nlohmann::json::parse(run.Output);
  }

  TScratch Files;
};

// The JSON rows as texts: booleans as true/false, unknown as empty, and with `printable`
// control characters as '?'.
nlohmann::json AsTexts(const std::vector<nlohmann::json>& rows, bool printable) {
  nlohmann::json texts = nlohmann::json::array();
  for (const nlohmann::json& row : rows) {
    nlohmann::json text = nlohmann::json::object();
    for (const auto& [key, value] : row.items()) {
      std::string field = value.is_boolean() ? (value.get<bool>() ? "true" : "false")
                          : value.is_null()  ? ""
                                             : value.get<std::string>();
      if (printable)
        for (char& c : field)
          if (static_cast<unsigned char>(c) < 0x20) c = '?';
      text[key] = field;
    }
    texts.push_back(text);
  }
  return texts;
}

TEST_F(VepctlListing, CsvAndTsvReadBackWithPythonEqualTheJsonList) {
  StartAwkwardDevices();
  const TRun json = Vepctl("--json discover --wait 2500");
  ASSERT_EQ(json.Exit, 0);
  const std::vector<nlohmann::json> rows = JsonLines(json.Output);
  ASSERT_EQ(rows.size(), 5u) << json.Output;
  EXPECT_EQ(rows[0].at("name"), "Comma, Inc.");
  EXPECT_EQ(rows[0].at("duplicate_ip"), false);

  const std::string csv = Files.Path("list.csv");
  ASSERT_EQ(Vepctl("discover --format csv --wait 2500 > " + csv).Exit, 0);
  EXPECT_THAT(ReadFile(csv), HasSubstr("name,type,ip,id,interface,duplicate_ip\n"
                                       "\"Comma, Inc.\",Camera,10.0.0.100,02:00:00:00:00:03,"
                                       "10.0.0.1,false\n"));
  EXPECT_THAT(ReadFile(csv), HasSubstr("\"Say \"\"hi\"\"\""));
  EXPECT_EQ(ReadWithPython(csv), AsTexts(rows, false));

  const std::string tsv = Files.Path("list.tsv");
  ASSERT_EQ(Vepctl("discover --format tsv --wait 2500 > " + tsv).Exit, 0);
  EXPECT_THAT(ReadFile(tsv), HasSubstr("two?lines?and a tab\tGate\t10.0.0.20\t"));
  EXPECT_EQ(ReadWithPython(tsv, ", delimiter=\"\\t\", quoting=csv.QUOTE_NONE"),
            AsTexts(rows, true));
}

TEST_F(VepctlListing, WithPingTheTablesGainReachableAndError) {
  StartAwkwardDevices();
  const TRun run = Vepctl("discover --ping --format csv --filter 'plain' --wait 2500");
  ASSERT_EQ(run.Exit, 0);
  EXPECT_EQ(run.Output,
            "name,type,ip,id,interface,duplicate_ip,reachable,error\n"
            "Plain,Bridge,10.0.0.10,02:00:00:00:00:05,10.0.0.1,false,true,\n");
  const std::vector<nlohmann::json> rows =
      JsonLines(Vepctl("discover --format json --ping --filter 'plain' --wait 2500").Output);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("reachable"), true);
}

TEST_F(VepctlListing, SortedByNameByAddressAsNumbersByIDOrAsTheyAnswered) {
  StartAwkwardDevices();
  const std::string awkward = "two\nlines\tand a tab";
  EXPECT_THAT(Names(""),
              ElementsAre("Comma, Inc.", "Grüße ✓ 日本", "Plain", "Say \"hi\"", awkward));
  EXPECT_THAT(Names("--sort ip"),
              ElementsAre("Say \"hi\"", "Plain", awkward, "Comma, Inc.", "Grüße ✓ 日本"));
  EXPECT_THAT(Names("--sort id"),
              ElementsAre("Say \"hi\"", awkward, "Comma, Inc.", "Grüße ✓ 日本", "Plain"));
  // All were heard through one interface: the ties go by ID.
  EXPECT_EQ(Names("--sort interface"), Names("--sort id"));
  EXPECT_EQ(Names("--sort none").size(), 5u);

  const TRun text = Vepctl("discover --sort ip --wait 2500");
  ASSERT_EQ(text.Exit, 0);
  EXPECT_THAT(text.Output, HasSubstr("Say \"hi\"\tSensor\t10.0.0.9\t02:00:00:00:00:01\t10.0.0.1\n"
                                     "Plain\tBridge\t10.0.0.10\t"));
  EXPECT_EQ(Vepctl("discover --sort address").Exit, 2);
}

TEST_F(VepctlListing, FiltersByPatternBySubnetAndByBoth) {
  StartAwkwardDevices();
  // Patterns match the name or the type, in any case.
  EXPECT_THAT(Names("--filter 'cam*'"), ElementsAre("Comma, Inc.", "Grüße ✓ 日本"));
  EXPECT_THAT(Names("--filter PLAIN"), ElementsAre("Plain"));
  EXPECT_THAT(Names("--filter 10.0.0.0/28"), ElementsAre("Plain", "Say \"hi\""));
  EXPECT_THAT(Names("--filter 10.0.0.0/24 --filter 'cam*'"), ElementsAre("Comma, Inc."));
  EXPECT_THAT(Names("--filter '*' --filter 10.0.1.0/24"), ElementsAre("Grüße ✓ 日本"));

  const TRun none = Vepctl("discover --filter 'printer*' --wait 2500", true);
  EXPECT_EQ(none.Exit, 1);
  EXPECT_THAT(none.Output, HasSubstr("none of the 5 devices that answered matches the filters"));
}

TEST_F(VepctlListing, DevicesThatShareAnAddressAreFlaggedAndWarnedAbout) {
  StartAwkwardDevices();
  StartTwins();
  const std::string warning =
      "vepctl: warning: 2 devices share IP address 10.0.0.50: 02:00:00:00:00:0A, "
      "02:00:00:00:00:0B\n";
  const std::string errors = Files.Path("errors");
  TRun run = Vepctl("--json discover --wait 2500", errors);
  ASSERT_EQ(run.Exit, 0);
  std::vector<nlohmann::json> rows = JsonLines(run.Output);
  ASSERT_EQ(rows.size(), 7u);
  for (const nlohmann::json& row : rows)
    EXPECT_EQ(row.at("duplicate_ip"), row.at("ip") == "10.0.0.50") << row.dump();
  EXPECT_EQ(ReadFile(errors), warning);

  // Filtered out or not, a twin still shares its address.
  run = Vepctl("discover --filter Twin-A --wait 2500", errors);
  ASSERT_EQ(run.Exit, 0);
  EXPECT_EQ(run.Output,
            "Twin-A\tSimulated\t10.0.0.50\t02:00:00:00:00:0A\t10.0.0.1\tduplicate IP\n");
  EXPECT_EQ(ReadFile(errors), warning);

  run = Vepctl("discover --format csv --filter 'twin-*' --wait 2500");
  EXPECT_THAT(run.Output,
              HasSubstr("Twin-B,Simulated,10.0.0.50,02:00:00:00:00:0B,10.0.0.1,true\n"));

  // Streaming, the flag is not known yet; the warning still comes at the end.
  run = Vepctl("--json discover --sort none --wait 2500", errors);
  ASSERT_EQ(run.Exit, 0);
  rows = JsonLines(run.Output);
  ASSERT_EQ(rows.size(), 7u);
  for (const nlohmann::json& row : rows) EXPECT_TRUE(row.at("duplicate_ip").is_null());
  EXPECT_EQ(ReadFile(errors), warning);
  run = Vepctl("discover --sort none --wait 2500");
  EXPECT_THAT(run.Output, Not(HasSubstr("duplicate IP")));
  run = Vepctl("discover --format tsv --sort none --filter Twin-A --wait 2500");
  EXPECT_EQ(run.Output,
            "name\ttype\tip\tid\tinterface\tduplicate_ip\n"
            "Twin-A\tSimulated\t10.0.0.50\t02:00:00:00:00:0A\t10.0.0.1\t\n");
}

TEST_F(VepctlListing, ABadSubnetOrFormatIsAUsageError) {
  for (const char* arguments :
       {"--filter 10.0.0.0/33", "--filter 10.0.0/8", "--format xml", "--json --format csv"}) {
    const TRun run = Vepctl(std::string("discover ") + arguments, true);
    EXPECT_EQ(run.Exit, 2) << arguments;
  }
  EXPECT_THAT(Vepctl("discover --filter 10.0.0.0/33", true).Output, HasSubstr("not a subnet"));
}

//   pc     eth0 10.0.0.1/24 on segment left, eth1 10.1.0.1/24 on segment right
//   left   10.0.0.7, device Left-1; right  10.1.0.7, device Right-1
class VepctlInterfaceChoice : public VepctlListing {
 protected:
  void SetUp() override {
    SCOUTOR_REQUIRE_NETNS();
    Bed = std::make_unique<TNetnsBed>();
    const std::string left = Bed->AddSegment("left");
    const std::string right = Bed->AddSegment("right");
    Pc = Bed->AddHost("pc");
    Bed->Attach(Pc, left, "eth0", "10.0.0.1/24");
    Bed->Attach(Pc, right, "eth1", "10.1.0.1/24");
    Left = Bed->AddHost("left");
    Bed->Attach(Left, left, "eth0", "10.0.0.7/24");
    const std::string rightHost = Bed->AddHost("right");
    Bed->Attach(rightHost, right, "eth0", "10.1.0.7/24");
    LeftLog = Files.Path("left.log");
    Bed->Spawn(Left, {kVepsim, "-v", "--device", "mac=02:00:00:00:01:01,name=Left-1,ip=10.0.0.7"},
               LeftLog);
    Bed->Spawn(rightHost, {kVepsim, "--device", "mac=02:00:00:00:02:01,name=Right-1,ip=10.1.0.7"});
    WaitForUdpListener(*Bed, Left, 17784);
    WaitForUdpListener(*Bed, rightHost, 17784);
  }

  std::string Left;
  std::string LeftLog;
};

TEST_F(VepctlInterfaceChoice, OnlyTheDevicesOfTheChosenInterfacesSegmentAreListed) {
  TRun run = Vepctl("discover --sort name --wait 2500");
  ASSERT_EQ(run.Exit, 0);
  EXPECT_EQ(run.Output,
            "Left-1\tSimulated\t10.0.0.7\t02:00:00:00:01:01\t10.0.0.1\n"
            "Right-1\tSimulated\t10.1.0.7\t02:00:00:00:02:01\t10.1.0.1\n");

  const std::size_t heardBefore = ReadFile(LeftLog).size();
  ASSERT_GT(heardBefore, 0u);  // the scan through every interface reached it
  run = Vepctl("discover --interface eth1 --wait 2500");
  ASSERT_EQ(run.Exit, 0);
  EXPECT_EQ(run.Output, "Right-1\tSimulated\t10.1.0.7\t02:00:00:00:02:01\t10.1.0.1\n");
  // Not a reply filtered away: no request went out on the other segment.
  EXPECT_EQ(ReadFile(LeftLog).size(), heardBefore) << ReadFile(LeftLog);

  run = Vepctl("discover --interface 10.0.0.1 --sort ip --wait 2500");
  ASSERT_EQ(run.Exit, 0);
  EXPECT_EQ(run.Output, "Left-1\tSimulated\t10.0.0.7\t02:00:00:00:01:01\t10.0.0.1\n");
  run = Vepctl("discover --interface eth0 --filter 'right*' --wait 2500", true);
  EXPECT_EQ(run.Exit, 1);
  EXPECT_THAT(run.Output, HasSubstr("none of the 1 devices that answered matches the filters"));
}

TEST_F(VepctlInterfaceChoice, AnUnknownInterfaceIsAUsageErrorNamingTheOnesThereAre) {
  for (const char* choice : {"eth7", "10.0.0.2", "lo"}) {
    const TRun run = Vepctl(std::string("discover --interface ") + choice, true);
    EXPECT_EQ(run.Exit, 2) << choice;
    EXPECT_THAT(run.Output, HasSubstr(std::string("no interface '") + choice + "'")) << choice;
    EXPECT_THAT(run.Output, HasSubstr("there are: eth0 10.0.0.1, eth1 10.1.0.1")) << choice;
  }
  EXPECT_EQ(Vepctl("watch --interface eth7").Exit, 2);
}

// ---- watch ----

//   pc      10.0.0.1/24, runs vepctl watch
//   near    10.0.0.7, device Sensor-1, there all along
//   late    10.0.0.8, device Camera-2, started later, re-addressed, then stopped
//   admin   10.0.0.2, another PC that sends the set-IP
class VepctlWatch : public VepctlListing {
 protected:
  void SetUp() override {
    VepctlListing::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Near = Bed->AddHost("near");
    Bed->Attach(Near, Lan, "eth0", "10.0.0.7/16");
    Bed->Spawn(Near, {kVepsim, "--device", "mac=02:00:00:00:00:07,name=Sensor-1,ip=10.0.0.7"});
    WaitForUdpListener(*Bed, Near, 17784);
    Log = Files.Path("watch.log");
  }

  pid_t StartWatch(const std::string& arguments) {
    std::vector<std::string> argv = {kVepctl};
    std::istringstream words(arguments);
    for (std::string word; words >> word;) argv.push_back(word);
    // The new program empties the log only once it runs: an earlier watch's lines must not be
    // taken for its own meanwhile.
    std::filesystem::remove(Log);
    return Bed->Spawn(Pc, argv, Log);
  }

  // The JSON events printed so far (the log also holds standard error).
  std::vector<nlohmann::json> Events() {
    std::vector<nlohmann::json> events;
    std::istringstream lines(ReadFile(Log));
    for (std::string line; std::getline(lines, line);)
      if (line.starts_with("{")) events.push_back(nlohmann::json::parse(line));
    return events;
  }

  bool HasEvent(const nlohmann::json& wanted) {
    for (const nlohmann::json& event : Events())
      if (event == wanted) return true;
    return false;
  }

  bool AwaitEvent(const nlohmann::json& wanted) {
    return WaitUntil([&] { return HasEvent(wanted); }, std::chrono::seconds(20));
  }

  static nlohmann::json Appeared(const std::string& name, const std::string& ip,
                                 const std::string& id) {
    return {{"event", "appeared"},    {"name", name}, {"type", "Simulated"}, {"ip", ip}, {"id", id},
            {"interface", "10.0.0.1"}};
  }

  std::string Near;
  std::string Log;
};

TEST_F(VepctlWatch, ReportsADeviceThatAppearsMovesAndVanishes) {
  const pid_t watch = StartWatch("--json watch --every 3 --wait 1000");
  ASSERT_TRUE(AwaitEvent(Appeared("Sensor-1", "10.0.0.7", "02:00:00:00:00:07"))) << ReadFile(Log);

  const std::string late = Bed->AddHost("late");
  Bed->Attach(late, Lan, "eth0", "10.0.0.8/16");
  const pid_t camera = Bed->Spawn(late, {kVepsim, "--readdress", "eth0", "--device",
                                         "mac=02:00:00:00:00:08,name=Camera-2,ip=10.0.0.8,"
                                         "mask=255.255.0.0"});
  WaitForUdpListener(*Bed, late, 17784);
  ASSERT_TRUE(AwaitEvent(Appeared("Camera-2", "10.0.0.8", "02:00:00:00:00:08"))) << ReadFile(Log);

  // Another PC gives the camera a new address; its simulator really moves there.
  const std::string admin = Bed->AddHost("admin");
  Bed->Attach(admin, Lan, "eth0", "10.0.0.2/16");
  const TRun set = RunIn(*Bed, admin,
                         kVepctl +
                             " set-ip 02:00:00:00:00:08 --ip 10.0.0.9 --mask 255.255.0.0 "
                             "--gateway 0.0.0.0 --force");
  ASSERT_EQ(set.Exit, 0) << set.Output;
  ASSERT_TRUE(AwaitEvent({{"event", "changed"},
                          {"id", "02:00:00:00:00:08"},
                          {"changes", {{"ip", {{"old", "10.0.0.8"}, {"new", "10.0.0.9"}}}}}}))
      << ReadFile(Log);

  Bed->Stop(camera);
  nlohmann::json gone = Appeared("Camera-2", "10.0.0.9", "02:00:00:00:00:08");
  gone["event"] = "gone";
  ASSERT_TRUE(AwaitEvent(gone)) << ReadFile(Log);

  const int status = Bed->Stop(watch, SIGINT);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  // The device that stayed was reported once, and nothing else about it.
  int aboutNear = 0;
  for (const nlohmann::json& event : Events())
    if (event.at("id") == "02:00:00:00:00:07") ++aboutNear;
  EXPECT_EQ(aboutNear, 1) << ReadFile(Log);
  EXPECT_EQ(Events().size(), 4u) << ReadFile(Log);
}

TEST_F(VepctlWatch, TextLinesAreTabSeparated) {
  const pid_t watch = StartWatch("watch --every 3 --wait 1000 --filter sensor-*");
  const std::string line = "appeared\tSensor-1\tSimulated\t10.0.0.7\t02:00:00:00:00:07\t10.0.0.1\n";
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(Log).find(line) != std::string::npos; },
                        std::chrono::seconds(20)))
      << ReadFile(Log);
  const int status = Bed->Stop(watch, SIGTERM);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadFile(Log), line);
}

// A long interval: only the signal can end it within the two seconds Stop waits.
TEST_F(VepctlWatch, CtrlCOrSIGTERMEndItAtOnceWithExitZero) {
  for (const int signal : {SIGINT, SIGTERM}) {
    const pid_t watch = StartWatch("--json watch --every 600");
    ASSERT_TRUE(AwaitEvent(Appeared("Sensor-1", "10.0.0.7", "02:00:00:00:00:07"))) << signal;
    const int status = Bed->Stop(watch, signal);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << signal << ": " << status;
  }
  // In the middle of a scan too.
  const pid_t watch = StartWatch("watch --wait 600000");
  ASSERT_TRUE(WaitUntil(
      [&] {
        return Bed->Run(Pc, "cat /proc/net/unix").find("HalvexVEPMutex") != std::string::npos;
      },
      std::chrono::seconds(5)));
  const int status = Bed->Stop(watch, SIGINT);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(VepctlWatch, AnIntervalBelowThreeSecondsIsAUsageError) {
  EXPECT_EQ(Vepctl("watch --every 2").Exit, 2);
  EXPECT_EQ(Vepctl("watch --every 0").Exit, 2);
}

// ---- web ----

class VepctlWeb : public VepctlWatch {
 protected:
  void SetUp() override {
    VepctlWatch::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    std::filesystem::create_directories(Files.Path("bin"));
    std::filesystem::create_directories(Files.Path("empty"));
  }

  // A stand-in xdg-open that writes its arguments to a file and exits with `code`.
  void StandInOpener(int code) {
    const std::string script =
        Files.Write("bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + Opened() + "\nexit " +
                                        std::to_string(code) + "\n");
    chmod(script.c_str(), 0755);
  }
  std::string Opened() const { return Files.Path("opened"); }

  TRun Web(const std::string& arguments, const std::string& path) {
    return RunIn(*Bed, Pc, "PATH=" + path + " " + kVepctl + " web " + arguments, true);
  }
};

TEST_F(VepctlWeb, AnAddressOrAnIDBecomesTheDevicesURLForTheBrowser) {
  StandInOpener(0);
  TRun run = Web("010.000.000.007", Files.Path("bin"));
  EXPECT_EQ(run.Exit, 0);
  EXPECT_EQ(run.Output, "http://10.0.0.7/\n");
  EXPECT_EQ(ReadFile(Opened()), "http://10.0.0.7/\n");

  std::filesystem::remove(Opened());
  run = Web("02:00:00:00:00:07", Files.Path("bin"));
  EXPECT_EQ(run.Exit, 0);
  EXPECT_EQ(run.Output, "http://10.0.0.7/\n");
  EXPECT_EQ(ReadFile(Opened()), "http://10.0.0.7/\n");

  run = RunIn(*Bed, Pc, "PATH=" + Files.Path("bin") + " " + kVepctl + " --json web 10.0.0.7");
  EXPECT_EQ(JsonLines(run.Output).at(0), (nlohmann::json{{"url", "http://10.0.0.7/"}}));
}

TEST_F(VepctlWeb, AMissingOrFailingOpenerOrAnUnknownDeviceIsAFailure) {
  TRun run = Web("10.0.0.7", Files.Path("empty"));
  EXPECT_EQ(run.Exit, 1);
  EXPECT_THAT(run.Output, HasSubstr("http://10.0.0.7/\n"));
  EXPECT_THAT(run.Output, HasSubstr("xdg-open cannot be run: No such file or directory"));

  StandInOpener(3);
  run = Web("10.0.0.7", Files.Path("bin"));
  EXPECT_EQ(run.Exit, 1);
  EXPECT_THAT(run.Output, HasSubstr("could not open http://10.0.0.7/ (xdg-open exited with 3)"));

  std::filesystem::remove(Opened());
  run = Web("02:00:00:00:00:99 --wait 800", Files.Path("bin"));
  EXPECT_EQ(run.Exit, 1);
  EXPECT_THAT(run.Output, HasSubstr("device 02:00:00:00:00:99 did not answer the scan"));
  EXPECT_EQ(ReadFile(Opened()), "");  // nothing was opened

  EXPECT_EQ(Web("device.example", Files.Path("bin")).Exit, 2);
}

}  // namespace
}  // namespace scoutor::test
