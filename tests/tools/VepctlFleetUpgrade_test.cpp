// vepctl upgrade of several devices at once, as its users run it: against simulated devices
// that take the file by TFTP on their own addresses, store it, refuse a first write when busy
// and restart after it; and the choice of devices by ID, by type and all of them. The option
// rules on this host (nothing is sent).
//
//   pc       10.0.0.1/24 on a switched segment
//   devices  no address of its own; vepsim holds every device's address (10.0.0.100 upwards)
//            and serves TFTP on each, storing the files in a folder of the test
//   closed   10.0.0.50: one device without a TFTP server (its kernel refuses the upload)
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/NetnsBed.h"
#include "tests/support/PcOnLan.h"
#include "tests/support/ToolRun.h"

namespace scoutor::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAreArray;

const std::string kVepctl = SCOUTOR_BINARY_DIR "/tools/vepctl/vepctl";
const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";
constexpr const char* kClosedID = "02:00:00:00:01:00";

// ---- on this host: the option rules; a refused command line sends nothing ----

TEST(VepctlFleetUpgradeUsage, TheWaysToNameDevicesExcludeEachOtherAndOneIsNeeded) {
  const std::string file = SCOUTOR_SOURCE_DIR "/scripts/demo.sh";  // any existing file
  for (const std::string& arguments :
       {std::string(""), std::string(" 10.0.0.5 --all"),
        std::string(" 10.0.0.5 --device 00:0A:1B:2C:3D:4E"), std::string(" --type Camera --all"),
        std::string(" --device 00:0A:1B:2C:3D:4E --type Camera"),
        std::string(" 10.0.0.5 --parallel 2"), std::string(" 10.0.0.5 --verify-timeout 5"),
        std::string(" 10.0.0.5 --wait 100"), std::string(" --all --parallel 0"),
        std::string(" --all --parallel 65"), std::string(" --all --verify-timeout 0"),
        std::string(" --device 00:0A:1B")}) {
    const TRun run = RunOnHost(kVepctl + " upgrade " + file + arguments + " 2>&1");
    EXPECT_EQ(run.Exit, 2) << arguments << ": " << run.Output;
    EXPECT_THAT(run.Output, HasSubstr("--help tells more")) << arguments;
  }
}

TEST(VepctlFleetUpgradeUsage, HelpNamesTheFleetOptionsAndTheResultLines) {
  const TRun run = RunOnHost(kVepctl + " upgrade --help");
  EXPECT_EQ(run.Exit, 0);
  for (const char* text : {"--device", "--type", "--all", "--parallel", "--verify-timeout",
                           "--wait", "not heard again", "upgraded N of M; K failed"})
    EXPECT_THAT(run.Output, HasSubstr(text));
}

// ---- in a private network ----

// Device number i (from 0): its hardware address, IP address and stored file's name.
std::string Mac(int i) {
  char text[18];
  std::snprintf(text, sizeof text, "02:00:00:00:00:%02X", i + 1);
  return text;
}
std::string Address(int i) {
  return "10.0.0." + std::to_string(100 + i);
}
std::string StoredName(const std::string& mac) {
  std::string name = mac;
  std::replace(name.begin(), name.end(), ':', '-');
  return name + ".bin";
}

struct TSimDevice {
  std::string Name;
  std::string Type;
  std::string Extra;  // more key=value pairs of vepsim's device text
};

TSimDevice Sim(const std::string& name, const std::string& type = "Sensor",
               const std::string& extra = "") {
  return {name, type, extra};
}

class VepctlFleetUpgrade : public TPcOnLan {
 protected:
  void SetUp() override {
    SetUpPcOnLan("10.0.0.1/24");
    if (IsSkipped()) return;
    Devices = Bed->AddHost("devices");
    Bed->Attach(Devices, Lan, "eth0", "");
    Closed = Bed->AddHost("closed");
    Bed->Attach(Closed, Lan, "eth0", "");

    char pattern[] = "/tmp/scoutor-fleet-XXXXXX";
    Root = mkdtemp(pattern);
    Stored = Root + "/stored";
    std::filesystem::create_directory(Stored);
    // Not a multiple of any block size, so the last block is a short one.
    Firmware = Root + "/firmware.bin";
    std::mt19937 random(7);
    std::string bytes(100003, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    std::ofstream(Firmware, std::ios::binary) << bytes;
  }

  void TearDown() override {
    Bed.reset();
    if (!Root.empty()) std::filesystem::remove_all(Root);
  }

  // Starts vepsim with `devices` (device i at Mac(i), Address(i)), serving TFTP.
  void StartDevices(const std::vector<TSimDevice>& devices) {
    std::vector<std::string> argv = {kVepsim, "--hold-addresses", "eth0", "--tftp", Stored};
    for (std::size_t i = 0; i < devices.size(); ++i) {
      const int n = static_cast<int>(i);
      std::string text = "mac=" + Mac(n) + ",name=" + devices[i].Name + ",type=" + devices[i].Type +
                         ",ip=" + Address(n) + ",mask=255.255.255.0";
      if (!devices[i].Extra.empty()) text += "," + devices[i].Extra;
      argv.insert(argv.end(), {"--device", text});
    }
    Bed->Spawn(Devices, argv, Root + "/vepsim.log");
    WaitForUdpListener(*Bed, Devices, 17784);
    WaitForUdpListener(*Bed, Devices, 69);
  }

  // A device that answers discovery but has no TFTP server.
  void StartClosedDevice() {
    Bed->Spawn(Closed,
               {kVepsim, "--hold-addresses", "eth0", "--device",
                std::string("mac=") + kClosedID +
                    ",name=Closed-1,type=Sensor,ip=10.0.0.50,mask=255.255.255.0"},
               Root + "/closed.log");
    WaitForUdpListener(*Bed, Closed, 17784);
  }

  // Runs vepctl in the PC's namespace; standard error is dropped unless `withErrors`.
  TRun Vepctl(const std::string& arguments, bool withErrors = false) {
    return RunIn(*Bed, Pc, kVepctl + " " + arguments, withErrors);
  }

  // What the device with this hardware address stored (empty: nothing).
  std::string StoredBy(const std::string& mac) { return ReadFile(Stored + "/" + StoredName(mac)); }

  // The JSON result lines by ID, and the summary (the last line).
  static std::map<std::string, nlohmann::json> ResultsByID(
      const std::vector<nlohmann::json>& lines) {
    std::map<std::string, nlohmann::json> results;
    for (const nlohmann::json& line : lines)
      if (line.contains("id")) results[line.at("id").get<std::string>()] = line;
    return results;
  }

  std::string Devices;
  std::string Closed;
  std::string Root;
  std::string Stored;
  std::string Firmware;
};

// Twenty devices, four at a time: two refuse their first write and take the file after the
// pause, one never comes back after its restart; every other one is upgraded.
TEST_F(VepctlFleetUpgrade, TwentyDevicesFourAtATimeWithRetriesAndOneThatStaysSilent) {
  constexpr int kCount = 20;
  const std::vector<int> busy = {3, 11};
  constexpr int kSilent = 7;
  std::vector<TSimDevice> devices;
  for (int i = 0; i < kCount; ++i) {
    std::string extra;
    if (std::find(busy.begin(), busy.end(), i) != busy.end()) extra = "busy_first=1";
    if (i == kSilent) extra = "restart_ms=never";
    devices.push_back(Sim("Dev-" + std::to_string(i + 1), "Sensor", extra));
  }
  StartDevices(devices);

  const std::string log = Root + "/vepctl.log";
  // The diagnostics go to a file of their own, the results to the output.
  const TRun run =
      RunIn(*Bed, Pc,
            "{ " + kVepctl + " -d --json upgrade " + Firmware +
                " --all --parallel 4 --verify-timeout 15 --wait 1500 2>" + log + "; }");
  EXPECT_EQ(run.Exit, 1) << run.Output;
  const std::vector<nlohmann::json> lines = JsonLines(run.Output);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kCount + 1)) << run.Output;
  EXPECT_EQ(lines.back(), (nlohmann::json{{"error", "1 of 20 devices were not upgraded"},
                                          {"code", 1},
                                          {"upgraded", 19},
                                          {"devices", 20},
                                          {"failed", 1}}));
  const std::map<std::string, nlohmann::json> results = ResultsByID(lines);
  ASSERT_EQ(results.size(), static_cast<std::size_t>(kCount));
  for (int i = 0; i < kCount; ++i) {
    SCOPED_TRACE(Mac(i));
    const nlohmann::json& result = results.at(Mac(i));
    EXPECT_EQ(result.at("name"), "Dev-" + std::to_string(i + 1));
    EXPECT_EQ(result.at("ip"), Address(i));
    EXPECT_EQ(result.at("result"), 0);
    const bool wasBusy = std::find(busy.begin(), busy.end(), i) != busy.end();
    EXPECT_EQ(result.at("attempts"), wasBusy ? 2 : 1);
    EXPECT_EQ(result.at("status"), i == kSilent ? "not heard again" : "ok");
    EXPECT_EQ(result.at("succeeded"), i != kSilent);
    // The silent one took the file too; it only never answered again.
    EXPECT_EQ(StoredBy(Mac(i)), ReadFile(Firmware));
  }

  // Never more than four uploads at once, and four were reached.
  std::ifstream debug(log);
  const std::regex started(R"(: upload started \(attempt \d; (\d+) running\))");
  int most = 0;
  int starts = 0;
  for (std::string line; std::getline(debug, line);) {
    std::smatch match;
    if (!std::regex_search(line, match, started)) continue;
    ++starts;
    most = std::max(most, std::stoi(match[1]));
  }
  EXPECT_EQ(starts, kCount + static_cast<int>(busy.size()));
  EXPECT_EQ(most, 4);
}

// By type: an exact type, even one with glob characters, or a glob in any letter case.
TEST_F(VepctlFleetUpgrade, TypeMatchesExactlyOrAsAGlobInAnyCase) {
  StartDevices({Sim("Cam-1", "Camera"), Sim("Cam-2", "camera-hd"), Sim("Sensor-1", "Sensor"),
                Sim("Odd-1", "Cam[1]"), Sim("Odd-2", "Cam1")});
  TRun run = Vepctl("--json upgrade " + Firmware + " --type 'CAMERA*' --parallel 2 --wait 1500");
  ASSERT_EQ(run.Exit, 0) << run.Output;
  std::vector<nlohmann::json> lines = JsonLines(run.Output);
  ASSERT_EQ(lines.size(), 3u) << run.Output;
  EXPECT_EQ(lines.back(), (nlohmann::json{{"upgraded", 2}, {"devices", 2}, {"failed", 0}}));
  std::map<std::string, nlohmann::json> results = ResultsByID(lines);
  std::vector<std::string> ids;
  for (const auto& [id, result] : results) {
    ids.push_back(id);
    EXPECT_EQ(result.at("status"), "ok") << id;
  }
  EXPECT_THAT(ids, ElementsAre(Mac(0), Mac(1)));
  for (int i : {0, 1}) EXPECT_EQ(StoredBy(Mac(i)), ReadFile(Firmware)) << Mac(i);
  for (int i : {2, 3, 4}) EXPECT_EQ(StoredBy(Mac(i)), "") << Mac(i);

  // "Cam[1]" as a glob would take Cam1 only; it is the other device's exact type.
  run = Vepctl("--json upgrade " + Firmware + " --type 'Cam[1]' --wait 1500");
  ASSERT_EQ(run.Exit, 0) << run.Output;
  results = ResultsByID(JsonLines(run.Output));
  ASSERT_EQ(results.size(), 2u) << run.Output;
  EXPECT_TRUE(results.contains(Mac(3)));
  EXPECT_TRUE(results.contains(Mac(4)));

  run = Vepctl("upgrade " + Firmware + " --type Printer --wait 1000", true);
  EXPECT_EQ(run.Exit, 1);
  EXPECT_THAT(run.Output, HasSubstr("none of the 5 devices that answered the scan has a type "
                                    "matching 'Printer'"));
  EXPECT_EQ(StoredBy(Mac(2)), "");
}

// By ID, as text: each named device once (in any letter case), an unknown ID is not found, a
// device without a TFTP server fails with the reason; the others are upgraded.
TEST_F(VepctlFleetUpgrade, DevicesNamedByIDWithOneUnknownAndOneThatRefuses) {
  StartDevices({Sim("Dev-1"), Sim("Dev-2"), Sim("Dev-3")});
  StartClosedDevice();
  std::string lower = Mac(2);
  std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
  const TRun run = Vepctl("upgrade " + Firmware + " --device " + Mac(0) + " --device " + lower +
                          " --device " + Mac(2) + " --device 00:0A:1B:2C:3D:99 --device " +
                          kClosedID + " --parallel 3 --wait 1500");
  EXPECT_EQ(run.Exit, 1) << run.Output;
  std::vector<std::string> lines;
  std::istringstream in(run.Output);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 5u) << run.Output;
  // The unknown ID is known as soon as the scan is over; the rest end in any order.
  EXPECT_EQ(lines[0], "00:0A:1B:2C:3D:99\t\tnot found");
  EXPECT_THAT(std::vector<std::string>(lines.begin() + 1, lines.end() - 1),
              UnorderedElementsAreArray(
                  {Mac(0) + "\tDev-1\tok", Mac(2) + "\tDev-3\tok",
                   std::string(kClosedID) +
                       "\tClosed-1\tupload failed: Socket Error # 111 Connection refused."}));
  EXPECT_EQ(lines.back(), "upgraded 2 of 4; 2 failed");
  EXPECT_EQ(StoredBy(Mac(0)), ReadFile(Firmware));
  EXPECT_EQ(StoredBy(Mac(1)), "");
  EXPECT_EQ(StoredBy(Mac(2)), ReadFile(Firmware));
}

}  // namespace
}  // namespace scoutor::test
