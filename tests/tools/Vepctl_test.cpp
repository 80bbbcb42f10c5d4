// vepctl as its users run it: usage errors, help and ID conversion on this host (nothing is
// sent), and, inside a private namespace network with simulated devices, discovery with
// reachability, the IP settings round trip, Auto IP and the engine lock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/NetnsBed.h"
#include "tests/support/PcOnLan.h"
#include "tests/support/ToolRun.h"

namespace scoutor::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kVepctl = SCOUTOR_BINARY_DIR "/tools/vepctl/vepctl";
const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";

// Runs vepctl on this host with `arguments`. Only for commands that send nothing.
TRun RunHere(const std::string& arguments) {
  return RunOnHost(kVepctl + " " + arguments);
}

// ---- on this host: nothing reaches the network ----

TEST(VepctlUsage, NoCommandIsAUsageError) {
  const TRun run = RunHere("2>&1");
  EXPECT_EQ(run.Exit, 2);
  EXPECT_THAT(run.Output, HasSubstr("--help"));
}

TEST(VepctlUsage, AnUnknownCommandIsAUsageError) {
  EXPECT_EQ(RunHere("frobnicate 2>/dev/null").Exit, 2);
}

// mac-to-id checks its text as every other command checks an ID.
TEST(VepctlUsage, AGarbledDeviceIDIsAUsageErrorInEveryCommand) {
  for (const char* arguments : {"get-ip 00:0A:1B", "mac-to-id hello"}) {
    const TRun run = RunHere(std::string(arguments) + " 2>&1");
    EXPECT_EQ(run.Exit, 2) << arguments;
    EXPECT_THAT(run.Output, HasSubstr("not a device ID")) << arguments;
  }
  EXPECT_EQ(RunHere("auto-ip 00:0A:1B:2C:3D:XY 2>/dev/null").Exit, 2);
  EXPECT_EQ(RunHere("mac-to-id 1:2:3 2>/dev/null").Exit, 2);
}

TEST(VepctlUsage, SetIPNeedsDHCPOrAWholeStaticConfiguration) {
  EXPECT_EQ(RunHere("set-ip 00:0A:1B:2C:3D:4E 2>/dev/null").Exit, 2);
  EXPECT_EQ(RunHere("set-ip 00:0A:1B:2C:3D:4E --ip 10.0.0.5 2>/dev/null").Exit, 2);
  EXPECT_EQ(RunHere("set-ip 00:0A:1B:2C:3D:4E --dhcp --ip 10.0.0.5 --mask 255.255.255.0 "
                    "--gateway 10.0.0.1 2>/dev/null")
                .Exit,
            2);
  EXPECT_EQ(RunHere("set-ip 00:0A:1B:2C:3D:4E --ip 10.0.0.500 --mask 255.255.255.0 "
                    "--gateway 10.0.0.1 2>/dev/null")
                .Exit,
            2);
}

TEST(VepctlUsage, UpgradeOfAMissingFileIsAUsageError) {
  EXPECT_EQ(RunHere("upgrade /nonexistent/firmware.bin 10.0.0.5 2>/dev/null").Exit, 2);
}

TEST(VepctlUsage, UpgradeTakesADottedAddressAndACountOfRetries) {
  const std::string file = SCOUTOR_SOURCE_DIR "/scripts/demo.sh";  // any existing file
  EXPECT_EQ(RunHere("upgrade " + file + " device.example 2>/dev/null").Exit, 2);
  EXPECT_EQ(RunHere("upgrade " + file + " 10.0.0.5 --retries -1 2>/dev/null").Exit, 2);
  EXPECT_EQ(RunHere("upgrade " + file + " 10.0.0.5 --retries many 2>/dev/null").Exit, 2);
}

TEST(VepctlUsage, HelpListsEveryCommandAndTheGlobalOptions) {
  const TRun run = RunHere("--help");
  EXPECT_EQ(run.Exit, 0);
  for (const char* command : {"discover", "get-ip", "set-ip", "auto-ip", "upgrade", "ping",
                              "choose-ip", "mac-to-id", "--json", "-d"})
    EXPECT_THAT(run.Output, HasSubstr(command));
}

TEST(VepctlUsage, EveryCommandHasHelp) {
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"discover", "--ping"},   {"get-ip", "--wait"},   {"set-ip", "--gateway"},
      {"auto-ip", "--force"},   {"upgrade", "ADDRESS"}, {"ping", "ADDRESS"},
      {"choose-ip", "LOCAL-ADDRESS"}, {"mac-to-id", "TEXT"}};
  for (const auto& [command, option] : expected) {
    const TRun run = RunHere(command + " --help");
    EXPECT_EQ(run.Exit, 0) << command;
    EXPECT_THAT(run.Output, HasSubstr(option)) << command;
  }
}

TEST(VepctlUsage, MacToIDPrintsTheEightBytesOfTheNodeID) {
  TRun run = RunHere("mac-to-id 00:0a:1b:2c:3d:4e");
  EXPECT_EQ(run.Exit, 0);
  EXPECT_EQ(run.Output, "00 01 00 0A 1B 2C 3D 4E\n");

  run = RunHere("--json mac-to-id 00:0A:1B:2C:3D:4E");
  EXPECT_EQ(run.Exit, 0);
  EXPECT_EQ(nlohmann::json::parse(run.Output),
            (nlohmann::json{{"id_text", "00:0A:1B:2C:3D:4E"},
                            {"node_id", "00 01 00 0A 1B 2C 3D 4E"}}));
}

TEST(VepctlUsage, AnUnknownCommandIsNamedWithTheClosestCommand) {
  const TRun run = RunHere("dicover 2>&1");
  EXPECT_EQ(run.Exit, 2);
  EXPECT_THAT(run.Output, HasSubstr("unknown command 'dicover'; did you mean 'discover'?"));
  EXPECT_THAT(RunHere("set-iq 00:0A:1B:2C:3D:4E 2>&1").Output, HasSubstr("did you mean 'set-ip'?"));
}

TEST(VepctlUsage, VersionIsTheProjectsVersion) {
  const TRun run = RunHere("--version");
  EXPECT_EQ(run.Exit, 0);
  EXPECT_EQ(run.Output, "vepctl " SCOUTOR_VERSION "\n");
}

TEST(VepctlUsage, AFullDiskOnStandardOutputEndsWithExitOne) {
  EXPECT_EQ(RunHere("mac-to-id 00:0A:1B:2C:3D:4E > /dev/full 2>/dev/null").Exit, 1);
  EXPECT_EQ(RunHere("--help > /dev/full 2>/dev/null").Exit, 1);
}

TEST(VepctlUsage, WithJsonEveryErrorIsOneObjectWithItsCode) {
  TRun run = RunHere("--json mac-to-id hello 2>/dev/null");
  EXPECT_EQ(run.Exit, 2);
  std::vector<nlohmann::json> lines = JsonLines(run.Output);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].at("code"), 2);
  EXPECT_THAT(lines[0].at("error").get<std::string>(), HasSubstr("not a device ID"));

  run = RunHere("--json frobnicate 2>/dev/null");
  lines = JsonLines(run.Output);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].at("command"), "frobnicate");

  run = RunHere("set-ip 00:0A:1B:2C:3D:4E --ip 10.0.0.0 --mask 255.255.255.0 --gateway 0.0.0.0 "
                "--json 2>/dev/null");
  EXPECT_EQ(run.Exit, 2);
  lines = JsonLines(run.Output);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].at("code"), 2);
  EXPECT_EQ(lines[0].at("id"), "00:0A:1B:2C:3D:4E");
  EXPECT_EQ(lines[0].at("new_ip"), "10.0.0.0");
}

// These refusals come before the engine starts: nothing is sent.
TEST(VepctlUsage, SetIPRefusesSettingsThatCannotWork) {
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"--ip 0.0.0.0 --mask 255.255.255.0 --gateway 0.0.0.0", "0.0.0.0 is no address"},
      {"--ip 255.255.255.255 --mask 255.255.255.0 --gateway 0.0.0.0", "the broadcast address"},
      {"--ip 10.0.0.0 --mask 255.255.255.0 --gateway 0.0.0.0", "network address of its subnet"},
      {"--ip 10.0.0.255 --mask 255.255.255.0 --gateway 0.0.0.0", "broadcast address of its subnet"},
      {"--ip 010.001.002.063 --mask 255.255.255.192 --gateway 0.0.0.0",
       "10.1.2.63 is the broadcast address of its subnet"},
      {"--ip 10.0.0.5 --mask 255.0.255.0 --gateway 0.0.0.0", "not a subnet mask"},
      {"--ip 10.0.0.5 --mask 0.0.0.0 --gateway 0.0.0.0", "not a subnet mask"},
      {"--ip 10.0.0.5 --mask 255.255.255.254 --gateway 0.0.0.0", "at most /30"},
      {"--ip 10.0.0.5 --mask 255.255.255.255 --gateway 0.0.0.0", "at most /30"},
      {"--ip 10.0.0.5 --mask 255.255.255.0 --gateway 10.0.1.1", "outside the subnet"},
      {"--ip 10.0.0.5 --mask 255.255.255.0 --gateway 10.0.0.5", "the device's own address"},
  };
  for (const auto& [settings, message] : refused) {
    const TRun run = RunHere("set-ip 00:0A:1B:2C:3D:4E " + settings + " --force 2>&1");
    EXPECT_EQ(run.Exit, 2) << settings;
    EXPECT_THAT(run.Output, HasSubstr(message)) << settings;
  }
}

TEST(VepctlUsage, AnEmptyFirmwareFileIsRefusedUnlessAllowed) {
  char pattern[] = "/tmp/scoutor-empty-XXXXXX";
  const int descriptor = mkstemp(pattern);
  ASSERT_GE(descriptor, 0);
  close(descriptor);
  const TRun run = RunHere(std::string("upgrade ") + pattern + " 10.0.0.5 2>&1");
  std::filesystem::remove(pattern);
  EXPECT_EQ(run.Exit, 2);
  EXPECT_THAT(run.Output, HasSubstr("is empty (--allow-empty sends it)"));
}

// ---- in a private network: a PC and two simulated devices on one switched segment ----
//
//   pc    10.0.0.1/24 (default route via 10.0.0.254, which does not exist)
//   near  10.0.0.7/24      device Sensor-1, 00:0A:1B:2C:3D:4E, reachable
//   far   192.168.50.9/24  device Camera-2, 00:0A:1B:2C:3D:50, in a foreign subnet: it hears
//                          broadcasts but cannot answer a ping; its simulator really moves its
//                          address on a static set-IP

constexpr const char* kNearID = "00:0A:1B:2C:3D:4E";
constexpr const char* kFarID = "00:0A:1B:2C:3D:50";

class VepctlNetwork : public TPcOnLan {
 protected:
  void SetUp() override {
    SetUpPcOnLan("10.0.0.1/24");
    if (IsSkipped()) return;
    const std::string& lan = Lan;
    Bed->Run(Pc, "ip route add default via 10.0.0.254");
    Near = Bed->AddHost("near");
    Bed->Attach(Near, lan, "eth0", "10.0.0.7/24");
    Far = Bed->AddHost("far");
    Bed->Attach(Far, lan, "eth0", "192.168.50.9/24");
  }

  void StartDevices() {
    Bed->Spawn(Near, {kVepsim, "--device",
                      std::string("mac=") + kNearID +
                          ",name=Sensor-1,type=Bridge,ip=10.0.0.7,mask=255.255.255.0,gw=10.0.0.254"});
    Bed->Spawn(Far, {kVepsim, "--readdress", "eth0", "--device",
                     std::string("mac=") + kFarID +
                         ",name=Camera-2,type=Camera,ip=192.168.50.9,mask=255.255.255.0,"
                         "gw=192.168.50.1"});
    WaitForListener(Near, 17784);
    WaitForListener(Far, 17784);
  }

  void WaitForListener(const std::string& ns, int port) { WaitForUdpListener(*Bed, ns, port); }

  // Runs vepctl in the PC's namespace; standard error is dropped unless `withErrors`.
  TRun Vepctl(const std::string& arguments, bool withErrors = false) {
    return RunIn(*Bed, Pc, kVepctl + " " + arguments, withErrors);
  }

  static const nlohmann::json* DeviceWithID(const std::vector<nlohmann::json>& devices,
                                            const std::string& id) {
    for (const auto& device : devices)
      if (device.at("id") == id) return &device;
    return nullptr;
  }

  const std::string& LanOf() const { return Lan; }

  std::string Near;
  std::string Far;
};

TEST_F(VepctlNetwork, DiscoverWithoutDevicesSaysSoNamingTheInterfacesAsked) {
  TRun run = Vepctl("--json discover --wait 2600");
  EXPECT_EQ(run.Exit, 1);
  const std::vector<nlohmann::json> lines = JsonLines(run.Output);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].at("devices"), 0);
  run = Vepctl("discover --wait 600", true);
  EXPECT_EQ(run.Exit, 1);
  EXPECT_THAT(run.Output, HasSubstr("no device answered the scan (asked through eth0 10.0.0.1)"));
}

TEST_F(VepctlNetwork, DiscoverListsEverySimulatedDeviceOnceWithItsInterface) {
  StartDevices();
  const TRun run = Vepctl("discover --json");
  ASSERT_EQ(run.Exit, 0) << run.Output;
  const std::vector<nlohmann::json> devices = JsonLines(run.Output);
  ASSERT_EQ(devices.size(), 2U) << run.Output;  // five broadcasts, one line per device
  const nlohmann::json* near = DeviceWithID(devices, kNearID);
  const nlohmann::json* far = DeviceWithID(devices, kFarID);
  ASSERT_NE(near, nullptr);
  ASSERT_NE(far, nullptr);
  EXPECT_EQ(*near, (nlohmann::json{{"name", "Sensor-1"},
                                   {"type", "Bridge"},
                                   {"ip", "10.0.0.7"},
                                   {"id", kNearID},
                                   {"interface", "10.0.0.1"},
                                   {"duplicate_ip", false}}));
  EXPECT_EQ(far->at("ip"), "192.168.50.9");
  EXPECT_EQ(far->at("name"), "Camera-2");
}

TEST_F(VepctlNetwork, DiscoverWithPingTellsTheDeviceInAForeignSubnetIsNotReachable) {
  StartDevices();
  const TRun run = Vepctl("discover --ping --json");
  ASSERT_EQ(run.Exit, 0) << run.Output;
  const std::vector<nlohmann::json> devices = JsonLines(run.Output);
  ASSERT_EQ(devices.size(), 2U) << run.Output;
  EXPECT_EQ(DeviceWithID(devices, kNearID)->at("reachable"), true);
  EXPECT_EQ(DeviceWithID(devices, kFarID)->at("reachable"), false);
}

TEST_F(VepctlNetwork, TextOutputIsOneTabSeparatedLinePerDevice) {
  StartDevices();
  const TRun run = Vepctl("discover");
  ASSERT_EQ(run.Exit, 0);
  EXPECT_THAT(run.Output,
              HasSubstr("Sensor-1\tBridge\t10.0.0.7\t00:0A:1B:2C:3D:4E\t10.0.0.1\n"));
  EXPECT_THAT(run.Output,
              HasSubstr("Camera-2\tCamera\t192.168.50.9\t00:0A:1B:2C:3D:50\t10.0.0.1\n"));
}

TEST_F(VepctlNetwork, SetIPThenGetIPShowsTheNewSettings) {
  StartDevices();
  TRun run = Vepctl(std::string("--json get-ip ") + kNearID);
  ASSERT_EQ(run.Exit, 0);
  EXPECT_EQ(nlohmann::json::parse(run.Output),
            (nlohmann::json{{"id", kNearID},
                            {"dhcp", false},
                            {"ip", "10.0.0.7"},
                            {"mask", "255.255.255.0"},
                            {"gateway", "10.0.0.254"},
                            {"interface", "10.0.0.1"}}));

  // The device's own address is no conflict.
  run = Vepctl(std::string("--json set-ip ") + kNearID +
               " --ip 10.0.0.7 --mask 255.255.0.0 --gateway 10.0.0.253 --wait 1000");
  ASSERT_EQ(run.Exit, 0);
  EXPECT_EQ(nlohmann::json::parse(run.Output), (nlohmann::json{{"id", kNearID},
                                                               {"dhcp", false},
                                                               {"new_ip", "10.0.0.7"},
                                                               {"mask", "255.255.0.0"},
                                                               {"gateway", "10.0.0.253"},
                                                               {"acknowledged", true},
                                                               {"ack_from", "10.0.0.7"}}));

  run = Vepctl(std::string("get-ip ") + kNearID);
  ASSERT_EQ(run.Exit, 0);
  EXPECT_EQ(run.Output,
            "id=00:0A:1B:2C:3D:4E dhcp=off ip=10.0.0.7 mask=255.255.0.0 gateway=10.0.0.253 "
            "interface=10.0.0.1\n");

  run = Vepctl(std::string("--json set-ip ") + kNearID + " --dhcp");
  ASSERT_EQ(run.Exit, 0);
  run = Vepctl(std::string("--json get-ip ") + kNearID);
  ASSERT_EQ(run.Exit, 0);
  EXPECT_EQ(nlohmann::json::parse(run.Output).at("dhcp"), true);
}

TEST_F(VepctlNetwork, LeadingZerosAreDecimalInEveryCommand) {
  StartDevices();
  TRun run = Vepctl(std::string("--json set-ip ") + kNearID +
                    " --ip 010.000.000.009 --mask 255.255.255.000 --gateway 010.000.000.254"
                    " --wait 1000");
  ASSERT_EQ(run.Exit, 0) << run.Output;
  EXPECT_EQ(nlohmann::json::parse(run.Output).at("new_ip"), "10.0.0.9");
  run = Vepctl(std::string("--json get-ip ") + kNearID);
  ASSERT_EQ(run.Exit, 0);
  const nlohmann::json settings = nlohmann::json::parse(run.Output);
  EXPECT_EQ(settings.at("ip"), "10.0.0.9");
  EXPECT_EQ(settings.at("mask"), "255.255.255.0");
  EXPECT_EQ(settings.at("gateway"), "10.0.0.254");

  run = Vepctl("--json ping 010.000.000.007");
  EXPECT_EQ(run.Exit, 0);
  EXPECT_EQ(nlohmann::json::parse(run.Output).at("address"), "10.0.0.7");
  EXPECT_EQ(Vepctl("ping 10.0.0.07.1").Exit, 2);
  EXPECT_EQ(Vepctl("choose-ip 0x0a.0.0.1").Exit, 2);
}

TEST_F(VepctlNetwork, SetIPRefusesAnAddressInUseUnlessForced) {
  StartDevices();
  const std::string reachable = Bed->AddHost("reachable");
  Bed->Attach(reachable, LanOf(), "eth0", "10.0.0.20/24");
  const std::string silent = Bed->AddHost("silent");
  Bed->Attach(silent, LanOf(), "eth0", "10.0.0.21/24");
  Bed->Run(silent, "sysctl -qw net.ipv4.icmp_echo_ignore_all=1");
  const std::vector<std::pair<std::string, std::string>> inUse = {
      {"10.0.0.1 --mask 255.255.255.0", "this host (interface eth0)"},
      {"192.168.50.9 --mask 255.255.255.0", std::string("device ") + kFarID},
      {"10.0.0.20 --mask 255.255.255.0", "a host that answers a ping"},
      // As root the check resolves the address itself and sees the ARP answer.
      {"10.0.0.21 --mask 255.255.255.0", "a host that answers ARP there but not a ping"},
  };
  for (const auto& [settings, user] : inUse) {
    const std::string command =
        std::string("--json set-ip ") + kNearID + " --gateway 0.0.0.0 --wait 1000 --ip " + settings;
    TRun run = Vepctl(command, true);
    EXPECT_EQ(run.Exit, 2) << settings;
    EXPECT_THAT(run.Output, HasSubstr("already in use by " + user)) << settings;
    run = Vepctl(command + " --force");
    EXPECT_EQ(run.Exit, 0) << settings;
    EXPECT_EQ(JsonLines(run.Output).at(0).at("acknowledged"), true) << settings;
  }
}

// A device that answers 1.5 s late: the acknowledgement of a set-ip that gave up at once
// reaches the get-ip that follows, before that get-ip's own answer.
TEST_F(VepctlNetwork, GetIPTakesNoLateSetIPAcknowledgementForItsAnswer) {
  Bed->Spawn(Near, {kVepsim, "--delay", "1500", "--device",
                    std::string("mac=") + kNearID + ",ip=10.0.0.7,mask=255.255.255.0,gw=10.0.0.254"});
  WaitForListener(Near, 17784);
  EXPECT_EQ(Vepctl(std::string("set-ip ") + kNearID + " --dhcp --wait 0").Exit, 1);
  const TRun run = Vepctl(std::string("--json get-ip ") + kNearID + " --wait 5000");
  ASSERT_EQ(run.Exit, 0);
  const nlohmann::json settings = nlohmann::json::parse(run.Output);
  EXPECT_EQ(settings.at("dhcp"), true);
  EXPECT_EQ(settings.at("mask"), "255.255.255.0");
}

// The other way round: a device that answers get-IP 1.5 s late and never acknowledges a
// set-IP. The settings reply to a get-ip that gave up at once reaches the set-ip that follows,
// which must not take it for its acknowledgement.
TEST_F(VepctlNetwork, SetIPTakesNoLateGetIPReplyForItsAcknowledgement) {
  Bed->Spawn(Near, {kVepsim, "--delay", "1500", "--ignore", "set-ip", "--device",
                    std::string("mac=") + kNearID + ",ip=10.0.0.7,mask=255.255.255.0,gw=10.0.0.254"});
  WaitForListener(Near, 17784);
  EXPECT_EQ(Vepctl(std::string("get-ip ") + kNearID + " --wait 0").Exit, 1);
  const TRun run = Vepctl(std::string("set-ip ") + kNearID + " --dhcp --wait 5000", true);
  EXPECT_EQ(run.Exit, 1);
  EXPECT_THAT(run.Output, HasSubstr("Communication Failed: no acknowledgement from " +
                                    std::string(kNearID) + " within 5000 ms"));
}

TEST_F(VepctlNetwork, GetIPWithoutAnAnswerSaysSoAndExitsOne) {
  StartDevices();
  const TRun run = Vepctl("get-ip 00:0A:1B:2C:3D:99 --wait 500", true);
  EXPECT_EQ(run.Exit, 1);
  EXPECT_THAT(run.Output, HasSubstr("Communication Failed"));
}

TEST_F(VepctlNetwork, AutoIPGivesTheUnreachableDeviceAnAddressThatAnswersAPing) {
  StartDevices();
  TRun run = Vepctl(std::string("--json auto-ip ") + kFarID);
  ASSERT_EQ(run.Exit, 0) << run.Output;
  const nlohmann::json result = nlohmann::json::parse(run.Output);
  EXPECT_EQ(result.at("old_ip"), "192.168.50.9");
  EXPECT_EQ(result.at("changed"), true);
  // The first address after the PC's own that no one answers for.
  EXPECT_EQ(result.at("ip"), "10.0.0.2");
  EXPECT_EQ(result.at("mask"), "255.255.255.0");
  EXPECT_EQ(result.at("gateway"), "10.0.0.254");
  EXPECT_EQ(result.at("reachable"), true);

  // The device really moved: it answers there, for anyone.
  EXPECT_EQ(Vepctl("ping 10.0.0.2").Exit, 0);
  EXPECT_THAT(Bed->Run(Far, "ip -4 -o addr show dev eth0"), HasSubstr("10.0.0.2/24"));
}

TEST_F(VepctlNetwork, AutoIPLeavesADeviceThatAnswersAPingAlone) {
  StartDevices();
  const TRun run = Vepctl(std::string("--json auto-ip ") + kNearID);
  ASSERT_EQ(run.Exit, 0);
  const nlohmann::json result = nlohmann::json::parse(run.Output);
  EXPECT_EQ(result.at("changed"), false);
  EXPECT_EQ(result.at("ip"), "10.0.0.7");
  EXPECT_EQ(result.at("reachable"), true);
}

TEST_F(VepctlNetwork, AutoIPOfADeviceThatDoesNotAnswerTheScanFails) {
  StartDevices();
  const TRun run = Vepctl("auto-ip 00:0A:1B:2C:3D:99 --wait 800", true);
  EXPECT_EQ(run.Exit, 1);
  EXPECT_THAT(run.Output, HasSubstr("did not answer the scan"));
}

TEST_F(VepctlNetwork, PingAndChooseIPWorkOnThePCsSubnet) {
  StartDevices();
  EXPECT_EQ(Vepctl("ping 10.0.0.7").Exit, 0);
  // -d tells the path: the link layer with the capability, the kernel's without it.
  EXPECT_THAT(Vepctl("-d --arp-rate 10 ping 10.0.0.7", true).Output,
              HasSubstr("check 10.0.0.7 (link layer): reachable"));
  Bed->Run(Pc, "sysctl -qw net.ipv4.ping_group_range='0 2147483647'");
  EXPECT_THAT(Bed->Run(Pc, "setpriv --reuid=65534 --regid=65534 --clear-groups " + kVepctl +
                               " -d ping 10.0.0.7 2>&1"),
              HasSubstr("check 10.0.0.7 (kernel): reachable"));
  EXPECT_EQ(Vepctl("--arp-rate 0 ping 10.0.0.7").Exit, 2);
  const TRun run = Vepctl("--json choose-ip 10.0.0.1");
  ASSERT_EQ(run.Exit, 0);
  EXPECT_EQ(nlohmann::json::parse(run.Output),
            (nlohmann::json{{"interface", "10.0.0.1"},
                            {"ip", "10.0.0.2"},
                            {"mask", "255.255.255.0"},
                            {"gateway", "10.0.0.254"}}));
}

TEST_F(VepctlNetwork, DiscoverWithPingChecksTwoHundredDevicesAtOnce) {
  StartDevices();
  // A crowd of devices whose addresses 10.0.0.20-219 answer pings.
  const std::string crowd = Bed->AddHost("crowd");
  Bed->Attach(crowd, LanOf(), "eth0", "");
  Bed->Spawn(crowd, {kVepsim, "--hold-addresses", "eth0", "--count", "200", "--ip-base",
                     "10.0.0.20", "--mask", "255.255.255.0", "--mac-base", "02:00:00:00:10:00"});
  WaitForListener(crowd, 17784);
  const TRun run = Vepctl("--json discover --ping");
  ASSERT_EQ(run.Exit, 0);
  const std::vector<nlohmann::json> devices = JsonLines(run.Output);
  ASSERT_EQ(devices.size(), 202U);
  int reachable = 0;
  for (const auto& device : devices)
    if (device.at("reachable") == true) ++reachable;
  EXPECT_EQ(reachable, 201);
  EXPECT_EQ(DeviceWithID(devices, kFarID)->at("reachable"), false);
}

TEST_F(VepctlNetwork, ACheckThatCannotBeMadeIsShownAsFailedWithItsReason) {
  StartDevices();
  Bed->Run(Pc, "sysctl -qw net.ipv4.ping_group_range='1 0'");
  const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  const std::string json = Bed->Run(Pc, nobody + kVepctl + " --json discover --ping 2>/dev/null");
  const std::vector<nlohmann::json> devices = JsonLines(json);
  ASSERT_EQ(devices.size(), 2U) << json;
  for (const auto& device : devices) {
    EXPECT_TRUE(device.at("reachable").is_null());
    EXPECT_EQ(device.at("error"), "Cannot allocate socket.");
  }
  const std::string text = Bed->Run(Pc, nobody + kVepctl + " discover --ping 2>/dev/null");
  EXPECT_THAT(text, HasSubstr("10.0.0.1\tcheck failed: Cannot allocate socket.\n"));
  const std::string ping = Bed->Run(Pc, nobody + kVepctl + " ping 10.0.0.7; echo exit=$?");
  EXPECT_EQ(ping, "10.0.0.7 check failed: Cannot allocate socket.\nexit=1\n");
}

// The routing table's refusal is an answer, shown with its reason: not a failure to check.
TEST_F(VepctlNetwork, AnAddressWithoutARouteIsNotReachableWithTheReason) {
  const std::string lonely = Bed->AddHost("lonely");  // loopback only: no route anywhere
  EXPECT_EQ(Bed->Run(lonely, kVepctl + " ping 203.0.113.9; echo exit=$?"),
            "203.0.113.9 not reachable: Socket Error # 101 Network is unreachable.\nexit=1\n");
  const std::vector<nlohmann::json> json =
      JsonLines(Bed->Run(lonely, kVepctl + " --json ping 203.0.113.9 || true"));
  ASSERT_EQ(json.size(), 1U);
  EXPECT_EQ(json[0].at("reachable"), false);
  EXPECT_EQ(json[0].at("reason"), "Socket Error # 101\r\nNetwork is unreachable.");
  EXPECT_THAT(Bed->Run(lonely, kVepctl + " -d ping 203.0.113.9 2>&1 || true"),
              HasSubstr("check 203.0.113.9 (kernel): not reachable: Socket Error # 101 Network "
                        "is unreachable.\n"));
}

TEST_F(VepctlNetwork, ChooseIPPassesOverAHostThatDropsEchoRequestsButHoldsItsAddress) {
  const std::string silent = Bed->AddHost("silent");
  Bed->Attach(silent, LanOf(), "eth0", "10.0.0.2/24");
  Bed->Run(silent, "sysctl -qw net.ipv4.icmp_echo_ignore_all=1");
  const TRun run = Vepctl("--json choose-ip 10.0.0.1");
  ASSERT_EQ(run.Exit, 0);
  EXPECT_EQ(nlohmann::json::parse(run.Output).at("ip"), "10.0.0.3");
}

TEST_F(VepctlNetwork, ASecondCopyInTheSameNamespaceIsRefused) {
  const pid_t first = Bed->Spawn(Pc, {kVepctl, "discover", "--wait", "20000"});
  // Bounded wait until the first copy holds the engine lock (an abstract Unix socket).
  bool held = false;
  for (int i = 0; i < 500 && !held; ++i) {
    held = Bed->Run(Pc, "cat /proc/net/unix").find("HalvexVEPMutex") != std::string::npos;
    if (!held) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(held);
  const TRun run = Vepctl("--json discover", true);
  EXPECT_EQ(run.Exit, 1);
  EXPECT_THAT(run.Output, HasSubstr("another process"));
  Bed->Stop(first);
}


// ---- firmware upgrade: Debian's tftpd-hpa plays the device's TFTP server ----

class VepctlUpgrade : public VepctlNetwork {
 protected:
  void SetUp() override {
    VepctlNetwork::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    char pattern[] = "/tmp/scoutor-vepctl-XXXXXX";
    Root = mkdtemp(pattern);
    Served = Root + "/served";
    std::filesystem::create_directory(Served);
    // tftpd-hpa drops to the user "nobody", who must be able to create files here.
    chmod(Served.c_str(), 0777);
    // Devices take their image under the name "/".
    std::ofstream(Root + "/map") << "r ^/$ firmware.bin\n";
    Firmware = Root + "/firmware.bin";
    std::ofstream file(Firmware, std::ios::binary);
    for (int i = 0; i < 40000; ++i) file.put(static_cast<char>(i * 7));
  }

  void TearDown() override {
    Bed.reset();
    if (!Root.empty()) std::filesystem::remove_all(Root);
  }

  void StartTftpServer() {
    Bed->Spawn(Near, {"/usr/sbin/in.tftpd", "--foreground", "--address", "10.0.0.7:69",
                      "--create", "--secure", "--map-file", Root + "/map", Served},
               Root + "/tftpd.log");
    WaitForListener(Near, 69);
  }

  std::string Stored() { return ReadFile(Served + "/firmware.bin"); }

  std::string Root;
  std::string Served;
  std::string Firmware;
};

TEST_F(VepctlUpgrade, TheImageArrivesAndTheResultIsZero) {
  StartTftpServer();
  const TRun run = Vepctl("--json upgrade " + Firmware + " 10.0.0.7");
  ASSERT_EQ(run.Exit, 0) << run.Output;
  EXPECT_EQ(nlohmann::json::parse(run.Output),
            (nlohmann::json{{"file", Firmware},
                            {"address", "10.0.0.7"},
                            {"result", 0},
                            {"attempts", 1},
                            {"succeeded", true}}));
  // The server may still be writing when the client has its last acknowledgement.
  for (int i = 0; i < 100 && Stored().size() < 40000; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(Stored(), ReadFile(Firmware));
}

TEST_F(VepctlUpgrade, ProgressGoesToStandardErrorAsPlainLinesWithoutATerminal) {
  StartTftpServer();
  const TRun run = Vepctl("upgrade " + Firmware + " 10.0.0.7", true);
  ASSERT_EQ(run.Exit, 0) << run.Output;
  EXPECT_THAT(run.Output, HasSubstr("progress   0% 0/40000 bytes\n"));
  EXPECT_THAT(run.Output, HasSubstr("progress 100% 40000/40000 bytes\n"));
  EXPECT_THAT(run.Output, HasSubstr("result=0 Upgrade succeeded\n"));
}

TEST_F(VepctlUpgrade, ADeviceThatRefusesAccessGetsOneMoreAttemptTenSecondsLater) {
  // An image that is not world-writable: tftpd-hpa answers every write to it with an access
  // violation (it has to be able to open it, so it belongs to the server's user "nobody").
  const std::string image = Served + "/firmware.bin";
  std::ofstream(image) << "old image";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  ASSERT_EQ(chown(image.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  chmod(image.c_str(), 0600);
  StartTftpServer();
  const auto start = std::chrono::steady_clock::now();
  const TRun run = Vepctl("upgrade " + Firmware + " 10.0.0.7", true);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(run.Exit, 1);
  EXPECT_THAT(run.Output, HasSubstr("First Upgrade Failed"));
  EXPECT_THAT(run.Output, HasSubstr("Delay 10 seconds"));
  EXPECT_THAT(run.Output, HasSubstr("Attempting second upgrade"));
  EXPECT_THAT(run.Output, HasSubstr("Second Upgrade Failed"));
  EXPECT_THAT(run.Output, HasSubstr("result=1 Upgrade Failed"));
  // The pause is a lower bound, not a race: it cannot end early.
  EXPECT_GE(elapsed, std::chrono::seconds(10));
  EXPECT_EQ(Stored(), "old image");
}

// The kernel of a host without a TFTP server answers port unreachable, which ends the upload
// at once; its four-second wait would say "Timeout" instead.
TEST_F(VepctlUpgrade, NoServerMeansResultThreeWithTheReasonAndNoSecondAttempt) {
  TRun run = Vepctl("--json upgrade " + Firmware + " 010.000.000.007");
  EXPECT_EQ(run.Exit, 1);
  const nlohmann::json result = nlohmann::json::parse(run.Output);
  EXPECT_EQ(result.at("address"), "10.0.0.7");
  EXPECT_EQ(result.at("result"), 3);
  EXPECT_EQ(result.at("attempts"), 1);
  EXPECT_EQ(result.at("code"), 1);
  EXPECT_THAT(result.at("reason").get<std::string>(), HasSubstr("Connection refused"));

  run = Vepctl("upgrade " + Firmware + " 10.0.0.7", true);
  EXPECT_THAT(run.Output,
              HasSubstr("result=3 Upgrade Failed: Socket Error # 111 Connection refused."));
  EXPECT_THAT(run.Output,
              HasSubstr("Upgrade failed with reason: Socket Error # 111 Connection refused."));
}

// tftpd-hpa answers from a port of its own, which the PC's firewall drops as belonging to no
// connection. With the capability (root) the failure says so at once; without it (as nobody)
// the upload waits out its 4 s and its "Timeout" carries the hint at a firewall.
TEST_F(VepctlUpgrade, BehindAFirewallThatDropsTheDevicesRepliesTheReasonNamesIt) {
  if (!Bed->AddConnectionFirewall(Pc)) GTEST_SKIP() << "needs nft (nftables)";
  StartTftpServer();
  TRun run = Vepctl("--json upgrade --retries 3 " + Firmware + " 10.0.0.7");
  EXPECT_EQ(run.Exit, 1);
  const nlohmann::json result = nlohmann::json::parse(run.Output);
  EXPECT_EQ(result.at("result"), 3);
  EXPECT_EQ(result.at("attempts"), 1);
  const std::string reason = result.at("reason").get<std::string>();
  EXPECT_THAT(reason, StartsWith("The host firewall drops the TFTP replies of 10.0.0.7 (UDP from "
                                 "its port "));
  EXPECT_THAT(reason, HasSubstr("here): allow incoming UDP from 10.0.0.7"));

  chmod(Root.c_str(), 0755);  // for nobody to read the image
  run = RunIn(*Bed, Pc,
              "setpriv --reuid=65534 --regid=65534 --clear-groups " + kVepctl + " upgrade " +
                  Firmware + " 10.0.0.7",
              true);
  EXPECT_THAT(run.Output, HasSubstr("result=3 Upgrade Failed: Timeout (a host firewall may drop "
                                    "the devices' replies"));
}

}  // namespace
}  // namespace scoutor::test
