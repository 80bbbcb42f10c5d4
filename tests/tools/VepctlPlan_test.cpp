// vepctl set-ip --plan: the reader of plans on its own (no network), then plans run against
// simulated devices in a private namespace network: refused as a whole with the line named
// and nothing sent, a dry run, two hundred devices applied and read back, and devices that do
// not answer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/NetnsBed.h"
#include "tests/support/PcOnLan.h"
#include "tests/support/ToolRun.h"
#include "tools/vepctl/Plans.h"

namespace scoutor::test {
namespace {

using ::testing::HasSubstr;
using vepctl::ParseIPPlan;
using vepctl::TIPPlan;
using vepctl::TPlanProblem;

const std::string kVepctl = SCOUTOR_BINARY_DIR "/tools/vepctl/vepctl";
const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";

// "LINE: text" for each problem, for messages that show them all.
std::string Listed(const TIPPlan& plan) {
  std::string text;
  for (const TPlanProblem& problem : plan.Problems)
    text += std::to_string(problem.Line) + ": " + problem.Text + "\n";
  return text;
}

// The one problem of a plan that should have exactly one.
TPlanProblem OnlyProblem(const std::string& text) {
  const TIPPlan plan = ParseIPPlan(text);
  EXPECT_EQ(plan.Problems.size(), 1u) << Listed(plan);
  return plan.Problems.empty() ? TPlanProblem{} : plan.Problems.front();
}

// ---- the reader: no network ----

TEST(IPPlanReader, ColumnsComeInAnyOrderAndAddressesAndIDsTakeTheirCanonicalForm) {
  const TIPPlan plan = ParseIPPlan(
      "Gateway, IP ,mask,ID,dhcp\n"
      "010.000.000.254,010.000.000.009,255.255.255.000,00:0a:1b:2c:3d:4e,no\n"
      ",,,0:A:1B:2C:3D:5,Yes\n");
  ASSERT_TRUE(plan.Problems.empty()) << Listed(plan);
  ASSERT_EQ(plan.Rows.size(), 2u);
  EXPECT_EQ(plan.Rows[0].Line, 2);
  EXPECT_EQ(plan.Rows[0].ID, "00:0A:1B:2C:3D:4E");
  EXPECT_FALSE(plan.Rows[0].DHCP);
  EXPECT_EQ(plan.Rows[0].Address, "10.0.0.9");
  EXPECT_EQ(plan.Rows[0].Mask, "255.255.255.0");
  EXPECT_EQ(plan.Rows[0].Gateway, "10.0.0.254");
  EXPECT_EQ(plan.Rows[1].ID, "00:0A:1B:2C:3D:05");
  EXPECT_TRUE(plan.Rows[1].DHCP);
  EXPECT_EQ(plan.Rows[1].Address, "");
}

TEST(IPPlanReader, CommentsBlankLinesQuotesAndLineEndingsAreAccepted) {
  const TIPPlan plan = ParseIPPlan(
      "\xEF\xBB\xBF# devices of hall 2\r\n"
      "\r\n"
      "id,dhcp,ip,mask,gateway\r\n"
      "  # the sensors\r\n"
      "\"00:0A:1B:2C:3D:4E\", \"0\" ,\"10.0.0.9\",255.255.255.0,\"10.0.0.254\"\r\n"
      "   \t\r\n"
      "\"00:0A:1B:2C:3D:4F\",TRUE,\"\",,\n"
      "00:0A:1B:2C:3D:50,0,10.0.0.11,255.255.255.0,0.0.0.0");
  ASSERT_TRUE(plan.Problems.empty()) << Listed(plan);
  ASSERT_EQ(plan.Rows.size(), 3u);
  EXPECT_EQ(plan.Rows[0].Line, 5);
  EXPECT_EQ(plan.Rows[0].Address, "10.0.0.9");
  EXPECT_EQ(plan.Rows[1].Line, 7);
  EXPECT_TRUE(plan.Rows[1].DHCP);
  EXPECT_EQ(plan.Rows[2].Line, 8);
  EXPECT_EQ(plan.Rows[2].Gateway, "0.0.0.0");
}

TEST(IPPlanReader, EveryDHCPSpellingIsReadAndAnyOtherIsNamed) {
  for (const char* yes : {"1", "yes", "true", "YES", "True"})
    EXPECT_TRUE(
        ParseIPPlan(std::string("id,dhcp,ip,mask,gateway\n00:0A:1B:2C:3D:4E,") + yes + ",,,\n")
            .Rows.at(0)
            .DHCP)
        << yes;
  for (const char* no : {"0", "no", "false", "No", "FALSE"})
    EXPECT_FALSE(ParseIPPlan(std::string("id,dhcp,ip,mask,gateway\n00:0A:1B:2C:3D:4E,") + no +
                             ",10.0.0.9,255.255.255.0,0.0.0.0\n")
                     .Rows.at(0)
                     .DHCP)
        << no;
  const TPlanProblem problem = OnlyProblem("id,dhcp,ip,mask,gateway\n00:0A:1B:2C:3D:4E,on,,,\n");
  EXPECT_EQ(problem.Line, 2);
  EXPECT_EQ(problem.ID, "00:0A:1B:2C:3D:4E");
  EXPECT_EQ(problem.Text, "dhcp: 'on' is none of 1, 0, yes, no, true, false");
}

// Line breaks inside quotes count, and a row's number is the line it begins on.
TEST(IPPlanReader, ProblemsNameTheLineTheirRowBeginsOn) {
  const TIPPlan plan = ParseIPPlan(
      "# plan\n"
      "id,dhcp,ip,mask,gateway\n"
      "\n"
      "\"00:0A:1B:2C:3D:4E\",0,10.0.0.9,\"255.255.255.0\",\"10.0.0.254\"\n"
      "# next: a quoted field over two lines\n"
      "\"00:0A:1B\n:2C:3D:4F\",1,,,\n"
      "00:0A:1B:2C:3D:50,0,10.0.0.0,255.255.255.0,0.0.0.0\n");
  ASSERT_EQ(plan.Problems.size(), 2u) << Listed(plan);
  EXPECT_EQ(plan.Problems[0].Line, 6);
  EXPECT_THAT(plan.Problems[0].Text, HasSubstr("id: not a device ID"));
  EXPECT_EQ(plan.Problems[1].Line, 8);
  EXPECT_THAT(plan.Problems[1].Text, HasSubstr("network address"));

  const TPlanProblem later = OnlyProblem(
      "id,dhcp,ip,mask,gateway\n"
      "\"00:0A:1B:2C:3D:4E\",1,,,\"\"\n"
      "00:0A:1B:2C:3D:50,0,10.0.0.0,255.255.255.0,0.0.0.0\n");
  EXPECT_EQ(later.Line, 3);
  EXPECT_EQ(later.Text, "10.0.0.0 is the network address of its subnet (mask 255.255.255.0)");
}

TEST(IPPlanReader, TheHeaderMustNameEachColumnOnceAndNothingElse) {
  EXPECT_EQ(OnlyProblem("id,dhcp,ip,mask\n00:0A:1B:2C:3D:4E,1,,\n").Text,
            "the header line lacks the column 'gateway' (the columns are id, dhcp, ip, mask, "
            "gateway)");
  EXPECT_EQ(OnlyProblem("id,dhcp,ip,mask,gateway,name\n00:0A:1B:2C:3D:4E,1,,,,x\n").Text,
            "the header line names an unknown column 'name' (the columns are id, dhcp, ip, "
            "mask, gateway)");
  EXPECT_EQ(OnlyProblem("id,dhcp,ip,IP,mask,gateway\n00:0A:1B:2C:3D:4E,1,,,,\n").Text,
            "the header line names the column 'ip' twice");
  // A plan without its header: the first row is taken for one, and refused.
  const TIPPlan headless = ParseIPPlan("00:0A:1B:2C:3D:4E,1,,,\n");
  ASSERT_FALSE(headless.Problems.empty());
  EXPECT_EQ(headless.Problems[0].Line, 1);
  EXPECT_THAT(headless.Problems[0].Text, HasSubstr("unknown column '00:0A:1B:2C:3D:4E'"));
}

TEST(IPPlanReader, EveryBadRowIsListedWithItsLineAndTheGoodOnesAreKept) {
  const TIPPlan plan = ParseIPPlan(
      "id,dhcp,ip,mask,gateway\n"
      "00:0A:1B:2C:3D:4E,0,10.0.0.9,255.255.255.0,10.0.0.254\n"     // 2: good
      "00:0A:1B:2C:3D,1,,,\n"                                       // 3: short ID
      "00:0A:1B:2C:3D:50,1,10.0.0.10,,\n"                           // 4: DHCP with an address
      "00:0A:1B:2C:3D:51,0,10.0.0.11,255.255.255.0,\n"              // 5: no gateway
      "00:0A:1B:2C:3D:52,0,10.0.0.300,255.255.255.0,0.0.0.0\n"      // 6: not an address
      "00:0A:1B:2C:3D:53,0,10.0.0.13,255.0.255.0,0.0.0.0\n"         // 7: not a mask
      "00:0A:1B:2C:3D:54,0,10.0.0.14,255.255.255.0,10.0.1.1\n"      // 8: gateway elsewhere
      "00:0A:1B:2C:3D:55,0,10.0.0.15,255.255.255.0\n"               // 9: a field short
      "00:0A:1B:2C:3D:56,0,\"10.0.0.16\"x,255.255.255.0,0.0.0.0\n"  // 10: text after a quote
      "00:0A:1B:2C:3D:57,0,10.0.0.17,255.255.255.0,0.0.0.0\n"       // 11: good
      "00:0A:1B:2C:3D:58,0,10.0.\"0.18\",255.255.255.0,0.0.0.0\n"   // 12: a stray quote
      "00:0A:1B:2C:3D:59,0,\"10.0.0.19,255.255.255.0,0.0.0.0\n");   // 13: never closed
  const std::vector<std::pair<int, std::string>> expected = {
      {3, "id: not a device ID"},
      {4, "a DHCP row takes no ip, mask or gateway"},
      {5, "a static row needs ip, mask and gateway"},
      {6, "ip: not a dotted IPv4 address (four numbers 0 to 255): 10.0.0.300"},
      {7, "the mask 255.0.255.0 is not a subnet mask"},
      {8, "the gateway 10.0.1.1 is outside the subnet of 10.0.0.14"},
      {9, "the row has 4 fields where the header line names 5"},
      {10, "text after the closing quote of a field"},
      {12, "a quote inside a field that does not begin with one"},
      {13, "a quoted field is not closed"},
  };
  ASSERT_EQ(plan.Problems.size(), expected.size()) << Listed(plan);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(plan.Problems[i].Line, expected[i].first) << Listed(plan);
    EXPECT_THAT(plan.Problems[i].Text, HasSubstr(expected[i].second));
  }
  ASSERT_EQ(plan.Rows.size(), 2u);
  EXPECT_EQ(plan.Rows[0].Line, 2);
  EXPECT_EQ(plan.Rows[1].Line, 11);
}

// IDs and addresses are compared in their canonical forms.
TEST(IPPlanReader, NoDeviceAndNoAddressMayComeTwice) {
  TPlanProblem problem = OnlyProblem(
      "id,dhcp,ip,mask,gateway\n"
      "00:0A:1B:2C:3D:4E,1,,,\n"
      "00:0A:1B:2C:3D:4F,1,,,\n"
      "00:0a:1b:2c:3d:4e,0,10.0.0.9,255.255.255.0,0.0.0.0\n");
  EXPECT_EQ(problem.Line, 4);
  EXPECT_EQ(problem.Text, "the device 00:0A:1B:2C:3D:4E is already planned on line 2");

  problem = OnlyProblem(
      "id,dhcp,ip,mask,gateway\n"
      "00:0A:1B:2C:3D:4E,0,10.0.0.9,255.255.255.0,0.0.0.0\n"
      "00:0A:1B:2C:3D:4F,0,010.000.000.009,255.255.0.0,0.0.0.0\n");
  EXPECT_EQ(problem.Line, 3);
  EXPECT_EQ(problem.ID, "00:0A:1B:2C:3D:4F");
  EXPECT_EQ(problem.Text, "the address 10.0.0.9 is already planned on line 2");

  // Two DHCP rows share no address.
  EXPECT_TRUE(ParseIPPlan("id,dhcp,ip,mask,gateway\n00:0A:1B:2C:3D:4E,1,,,\n"
                          "00:0A:1B:2C:3D:4F,1,,,\n")
                  .Problems.empty());
}

TEST(IPPlanReader, AnEmptyPlanOrAHeaderAloneIsRefused) {
  for (const char* text : {"", "\n\n", "# nothing yet\n"}) {
    const TPlanProblem problem = OnlyProblem(text);
    EXPECT_EQ(problem.Line, 0) << text;
    EXPECT_THAT(problem.Text, HasSubstr("the plan is empty")) << text;
  }
  const TPlanProblem problem = OnlyProblem("id,dhcp,ip,mask,gateway\n# later\n");
  EXPECT_EQ(problem.Line, 0);
  EXPECT_EQ(problem.Text, "the plan names no device: it has a header only");
}

TEST(IPPlanReader, AFileThatCannotBeReadIsAProblemOfTheWholeFile) {
  TIPPlan plan = vepctl::ReadIPPlanFile("/nonexistent/plan.csv");
  ASSERT_EQ(plan.Problems.size(), 1u);
  EXPECT_EQ(plan.Problems[0].Line, 0);
  EXPECT_EQ(plan.Problems[0].Text, "cannot be read: No such file or directory");
  plan = vepctl::ReadIPPlanFile(::testing::TempDir());
  ASSERT_EQ(plan.Problems.size(), 1u);
  EXPECT_EQ(plan.Problems[0].Text, "cannot be read: it is a directory");

  const std::string path = ::testing::TempDir() + "plan-" + std::to_string(getpid()) + ".csv";
  std::ofstream(path) << "id,dhcp,ip,mask,gateway\n00:0A:1B:2C:3D:4E,1,,,\n";
  plan = vepctl::ReadIPPlanFile(path);
  std::filesystem::remove(path);
  EXPECT_TRUE(plan.Problems.empty()) << Listed(plan);
  EXPECT_EQ(plan.Rows.size(), 1u);
}

// ---- in a private network: a PC and a crowd of simulated devices on one switched segment ----
//
//   pc     10.0.0.1/24 (default route via 10.0.0.254, which does not exist)
//   crowd  devices 02:00:00:00:10:00 upwards at 10.0.0.20 upwards (/24, gateway 10.0.0.254);
//          their addresses are held on its interface, so they answer pings and ARP
// Plans move devices to 10.0.1.0/24, where nothing answers.

std::string CrowdID(int i) {
  char text[18];
  std::snprintf(text, sizeof text, "02:00:00:00:%02X:%02X", 0x10 + i / 256, i % 256);
  return text;
}
std::string CrowdAddress(int i) {
  return "10.0.0." + std::to_string(20 + i);
}
std::string PlannedAddress(int i) {
  return "10.0.1." + std::to_string(1 + i);
}

// A static row that moves crowd device `i` to its planned address.
std::string MoveRow(int i) {
  return CrowdID(i) + ",0," + PlannedAddress(i) + ",255.255.255.0,10.0.1.254\n";
}

constexpr const char* kHeader = "id,dhcp,ip,mask,gateway\n";

class VepctlPlanNetwork : public TPcOnLan {
 protected:
  void SetUp() override {
    SetUpPcOnLan("10.0.0.1/24");
    if (IsSkipped()) return;
    Bed->Run(Pc, "ip route add default via 10.0.0.254");
    char pattern[] = "/tmp/scoutor-plan-XXXXXX";
    Dir = mkdtemp(pattern);
  }

  void TearDown() override {
    Bed.reset();
    if (!Dir.empty()) std::filesystem::remove_all(Dir);
  }

  void StartCrowd(int count) {
    const std::string crowd = Bed->AddHost("crowd");
    Bed->Attach(crowd, Lan, "eth0", "");
    Bed->Spawn(crowd,
               {kVepsim, "--hold-addresses", "eth0", "--count", std::to_string(count), "--ip-base",
                CrowdAddress(0), "--mask", "255.255.255.0", "--gateway", "10.0.0.254", "--mac-base",
                CrowdID(0)},
               CrowdLog());
    WaitForUdpListener(*Bed, crowd, 17784);
  }

  // One more device on a host of its own at `hostAddress`, with extra vepsim options; the
  // device's address is `deviceAddress` (its host's own unless given).
  void StartLoner(const std::string& name, const std::string& id, const std::string& hostAddress,
                  const std::vector<std::string>& options, std::string deviceAddress = "") {
    if (deviceAddress.empty()) deviceAddress = hostAddress;
    const std::string host = Bed->AddHost(name);
    Bed->Attach(host, Lan, "eth0", hostAddress + "/24");
    std::vector<std::string> argv = {kVepsim};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"--device", "mac=" + id + ",ip=" + deviceAddress +
                                             ",mask=255.255.255.0,gw=10.0.0.254"});
    Bed->Spawn(host, argv, Dir + "/" + name + ".log");
    WaitForUdpListener(*Bed, host, 17784);
  }

  std::string CrowdLog() const { return Dir + "/crowd.log"; }
  // Whether the crowd's simulator has carried out any set-IP (it logs each one).
  bool CrowdWasSet() const { return ReadFile(CrowdLog()).find(" set to ") != std::string::npos; }

  void WritePlan(const std::string& text, const std::string& name = "plan.csv") {
    std::ofstream(Dir + "/" + name, std::ios::binary) << text;
  }

  // Runs vepctl in the PC's namespace from the plan's directory, so that messages name the
  // plan as "plan.csv".
  TRun Vepctl(const std::string& arguments, bool withErrors = false) {
    return RunIn(*Bed, Pc, "cd " + Dir + " && " + kVepctl + " " + arguments, withErrors);
  }

  // The settings the device reports, as get-ip prints them with --json.
  nlohmann::json Settings(const std::string& id) {
    const TRun run = Vepctl("--json get-ip " + id + " --wait 2000");
    EXPECT_EQ(run.Exit, 0) << id;
    return run.Exit == 0 ? nlohmann::json::parse(run.Output) : nlohmann::json();
  }

  static nlohmann::json Expected(const std::string& id, const std::string& ip,
                                 const std::string& mask, const std::string& gateway) {
    return {{"id", id},     {"dhcp", false},      {"ip", ip},
            {"mask", mask}, {"gateway", gateway}, {"interface", "10.0.0.1"}};
  }
  static nlohmann::json Unmoved(int i) {
    return Expected(CrowdID(i), CrowdAddress(i), "255.255.255.0", "10.0.0.254");
  }
  static nlohmann::json Moved(int i) {
    return Expected(CrowdID(i), PlannedAddress(i), "255.255.255.0", "10.0.1.254");
  }

  std::string Dir;
};

TEST_F(VepctlPlanNetwork, UsageErrorsSendNothing) {
  WritePlan(std::string(kHeader) + MoveRow(0));
  for (const char* arguments :
       {"set-ip --plan plan.csv 02:00:00:00:10:00", "set-ip --plan plan.csv --dhcp",
        "set-ip --plan plan.csv --ip 10.0.1.1 --mask 255.255.255.0 --gateway 0.0.0.0",
        "set-ip 02:00:00:00:10:00 --dhcp --dry-run", "set-ip --plan plan.csv --in-flight 0",
        "set-ip --dhcp", "set-ip"}) {
    const TRun run = Vepctl(arguments, true);
    EXPECT_EQ(run.Exit, 2) << arguments;
    EXPECT_THAT(run.Output, HasSubstr("--help tells more")) << arguments;
  }
}

// One problem per plan, the other rows being good: the whole plan is refused, the line named,
// and no device is sent anything.
TEST_F(VepctlPlanNetwork, APlanWithOneProblemIsRefusedWholeWithItsLineNamed) {
  StartCrowd(5);
  const std::string pinged = Bed->AddHost("pinged");
  Bed->Attach(pinged, Lan, "eth0", "10.0.0.9/24");
  struct TCase {
    std::string Row;  // line 5 of the plan
    std::string Problem;
  };
  const std::vector<TCase> cases = {
      {CrowdID(2) + ",0,10.0.1.0,255.255.255.0,10.0.1.254\n",
       "10.0.1.0 is the network address of its subnet (mask 255.255.255.0)"},
      {CrowdID(2) + ",0," + PlannedAddress(0) + ",255.255.255.0,10.0.1.254\n",
       "the address 10.0.1.1 is already planned on line 3"},
      {"00:0A:1B:2C:3D:99,1,,,\n",
       "the device 00:0A:1B:2C:3D:99 did not answer the scan (listening 1500 ms)"},
      {CrowdID(2) + ",0," + CrowdAddress(4) + ",255.255.255.0,10.0.0.254\n",
       "10.0.0.24 is already in use by device " + CrowdID(4) +
           " (it answered the scan from there) (--force sends it anyway)"},
      {CrowdID(2) + ",0,10.0.0.9,255.255.255.0,10.0.0.254\n",
       "10.0.0.9 is already in use by a host that answers a ping there (--force sends it "
       "anyway)"},
  };
  for (const TCase& plan : cases) {
    WritePlan("# two good rows, then the one in question\n" + std::string(kHeader) + MoveRow(0) +
              MoveRow(1) + plan.Row);
    TRun run = Vepctl("set-ip --plan plan.csv --wait 1500", true);
    EXPECT_EQ(run.Exit, 2) << plan.Row;
    EXPECT_THAT(run.Output, HasSubstr("plan.csv:5: " + plan.Problem + "\n")) << run.Output;
    EXPECT_THAT(run.Output, HasSubstr("plan refused (1 problem); nothing was sent to any device"));

    run = Vepctl("--json set-ip --plan plan.csv --wait 1500");
    EXPECT_EQ(run.Exit, 2);
    const std::vector<nlohmann::json> lines = JsonLines(run.Output);
    ASSERT_EQ(lines.size(), 2u) << run.Output;
    EXPECT_EQ(lines[0].at("error"), plan.Problem);
    EXPECT_EQ(lines[0].at("code"), 2);
    EXPECT_EQ(lines[0].at("file"), "plan.csv");
    EXPECT_EQ(lines[0].at("line"), 5);
    EXPECT_EQ(lines[1].at("problems"), 1);
  }
  EXPECT_FALSE(CrowdWasSet()) << ReadFile(CrowdLog());
  for (int i : {0, 1, 2}) EXPECT_EQ(Settings(CrowdID(i)), Unmoved(i));
}

TEST_F(VepctlPlanNetwork, EveryProblemOfAPlanIsListed) {
  StartCrowd(3);
  WritePlan(std::string(kHeader) + MoveRow(0) + "00:0A:1B:2C:3D:98,1,,,\n" + MoveRow(1) +
            "00:0A:1B:2C:3D:99,1,,,\n" + CrowdID(2) + ",0,10.0.0.1,255.255.255.0,0.0.0.0\n");
  const TRun run = Vepctl("set-ip --plan plan.csv --wait 1500", true);
  EXPECT_EQ(run.Exit, 2);
  EXPECT_THAT(run.Output, HasSubstr("plan.csv:3: the device 00:0A:1B:2C:3D:98 did not answer"));
  EXPECT_THAT(run.Output, HasSubstr("plan.csv:5: the device 00:0A:1B:2C:3D:99 did not answer"));
  EXPECT_THAT(run.Output,
              HasSubstr("plan.csv:6: 10.0.0.1 is already in use by this host (interface eth0)"));
  EXPECT_THAT(run.Output, HasSubstr("plan refused (3 problems)"));
  EXPECT_FALSE(CrowdWasSet());
}

TEST_F(VepctlPlanNetwork, ADryRunChecksThePlanAndChangesNothing) {
  StartCrowd(3);
  WritePlan(std::string(kHeader) + MoveRow(0) + MoveRow(1) + CrowdID(2) + ",yes,,,\n");
  TRun run = Vepctl("set-ip --plan plan.csv --dry-run --wait 1500");
  EXPECT_EQ(run.Exit, 0);
  EXPECT_EQ(run.Output, "plan OK: 3 devices\n");
  run = Vepctl("--json set-ip --plan plan.csv --dry-run --wait 1500");
  EXPECT_EQ(run.Exit, 0);
  EXPECT_EQ(nlohmann::json::parse(run.Output),
            (nlohmann::json{{"file", "plan.csv"}, {"plan", "ok"}, {"devices", 3}}));

  // An address in use passes with --force, as with set-ip of one device.
  WritePlan(std::string(kHeader) + CrowdID(0) + ",0," + CrowdAddress(1) +
            ",255.255.255.0,10.0.0.254\n");
  EXPECT_EQ(Vepctl("set-ip --plan plan.csv --dry-run --wait 1500").Exit, 2);
  run = Vepctl("set-ip --plan plan.csv --dry-run --force --wait 1500");
  EXPECT_EQ(run.Exit, 0);
  EXPECT_EQ(run.Output, "plan OK: 1 device\n");

  EXPECT_FALSE(CrowdWasSet());
  for (int i : {0, 1, 2}) EXPECT_EQ(Settings(CrowdID(i)), Unmoved(i));
}

TEST_F(VepctlPlanNetwork, CommentsQuotesAndAnyColumnOrderAreAppliedAsWritten) {
  StartCrowd(3);
  WritePlan(
      "# hall 2\r\n"
      "\"mask\",gateway,ID,dhcp,ip\r\n"
      "\r\n"
      "255.255.255.000,\"010.0.1.254\",\"" +
      CrowdID(0) +
      "\",\"no\",10.0.1.1\r\n"
      "  # the second one takes DHCP\r\n"
      ",,\"" +
      CrowdID(1) + "\",\"true\",\r\n");
  TRun run = Vepctl("set-ip --plan plan.csv --wait 1500");
  EXPECT_EQ(run.Exit, 0);
  EXPECT_THAT(run.Output, HasSubstr(CrowdID(0) + "\tok\t10.0.1.1\n"));
  EXPECT_THAT(run.Output, HasSubstr(CrowdID(1) + "\tok\tdhcp\n"));
  EXPECT_THAT(run.Output, HasSubstr("applied 2 of 2; 0 failed\n"));
  EXPECT_EQ(Settings(CrowdID(0)), Moved(0));
  EXPECT_EQ(Settings(CrowdID(1)).at("dhcp"), true);
  EXPECT_EQ(Settings(CrowdID(2)), Unmoved(2));
}

TEST_F(VepctlPlanNetwork, TwoHundredDevicesAreAppliedAndReadBack) {
  constexpr int kDevices = 200;
  StartCrowd(kDevices);
  std::string plan = kHeader;
  for (int i = 0; i < kDevices; ++i) plan += MoveRow(i);
  WritePlan(plan);
  const TRun run = Vepctl("--json set-ip --plan plan.csv");
  ASSERT_EQ(run.Exit, 0) << run.Output;
  const std::vector<nlohmann::json> lines = JsonLines(run.Output);
  ASSERT_EQ(lines.size(), kDevices + 1u);
  std::map<std::string, nlohmann::json> results;
  for (int i = 0; i < kDevices; ++i) results[lines[i].at("id")] = lines[i];
  for (int i = 0; i < kDevices; ++i) {
    const nlohmann::json& result = results[CrowdID(i)];
    EXPECT_EQ(result.at("result"), "ok") << result;
    EXPECT_EQ(result.at("line"), i + 2);
    EXPECT_EQ(result.at("ip"), PlannedAddress(i));
    // A device answers its set-IP from where it was.
    EXPECT_EQ(result.at("ack_from"), CrowdAddress(i));
  }
  EXPECT_EQ(lines.back(), (nlohmann::json{{"applied", kDevices},
                                          {"devices", kDevices},
                                          {"failed", 0},
                                          {"in_flight", 16},
                                          {"most_in_flight", 16}}));

  // Read back by get-ip, one run each.
  std::string ids;
  for (int i = 0; i < kDevices; ++i) ids += " " + CrowdID(i);
  const std::string readBack =
      Bed->Run(Pc, "for id in" + ids + "; do " + kVepctl + " --json get-ip $id --wait 2000; done");
  const std::vector<nlohmann::json> settings = JsonLines(readBack);
  ASSERT_EQ(settings.size(), static_cast<std::size_t>(kDevices));
  for (int i = 0; i < kDevices; ++i) EXPECT_EQ(settings[i], Moved(i));
}

// One device never acknowledges (its simulator ignores set-IP), one acknowledges but never
// tells its settings (it ignores get-IP), and one acknowledges but keeps its old settings (two
// simulators play it: one takes the set-IP and ignores get-IP, the other tells the settings it
// always had): their lines say so, the others are applied.
TEST_F(VepctlPlanNetwork, ADeviceThatDoesNotAnswerFailsAndTheOthersAreApplied) {
  StartCrowd(3);
  const std::string deaf = "00:0A:1B:2C:3D:60";
  const std::string mute = "00:0A:1B:2C:3D:61";
  const std::string stubborn = "00:0A:1B:2C:3D:62";
  StartLoner("deaf", deaf, "10.0.0.8", {"--ignore", "set-ip"});
  StartLoner("mute", mute, "10.0.0.10", {"--ignore", "get-ip"});
  StartLoner("takes", stubborn, "10.0.0.12", {"--ignore", "get-ip"});
  StartLoner("keeps", stubborn, "10.0.0.13", {"--ignore", "set-ip", "--ignore", "discover"},
             "10.0.0.12");
  WritePlan(std::string(kHeader) + MoveRow(0) + deaf + ",0,10.0.1.60,255.255.255.0,0.0.0.0\n" +
            MoveRow(1) + mute + ",1,,,\n" + MoveRow(2) + stubborn +
            ",0,10.0.1.62,255.255.255.0,0.0.0.0\n");
  TRun run = Vepctl("set-ip --plan plan.csv --wait 1000 --in-flight 2");
  EXPECT_EQ(run.Exit, 1);
  EXPECT_THAT(run.Output, HasSubstr(deaf + "\tfailed\tno acknowledgement within 1000 ms\n"));
  EXPECT_THAT(run.Output,
              HasSubstr(mute + "\tfailed\tacknowledged, but no answer to get-IP within 1000 ms\n"));
  EXPECT_THAT(run.Output,
              HasSubstr(stubborn + "\tfailed\tthe device reports other settings: dhcp=off "
                                   "ip=10.0.0.12 mask=255.255.255.0 gateway=10.0.0.254\n"));
  for (int i : {0, 1, 2})
    EXPECT_THAT(run.Output, HasSubstr(CrowdID(i) + "\tok\t" + PlannedAddress(i) + "\n"));
  EXPECT_THAT(run.Output, HasSubstr("applied 3 of 6; 3 failed\n"));
  for (int i : {0, 1, 2}) EXPECT_EQ(Settings(CrowdID(i)), Moved(i));
  EXPECT_EQ(Settings(deaf), Expected(deaf, "10.0.0.8", "255.255.255.0", "10.0.0.254"));

  // With one device under way at a time the order is the plan's, and JSON tells why.
  WritePlan(std::string(kHeader) + MoveRow(0) + deaf + ",1,,,\n");
  run = Vepctl("--json set-ip --plan plan.csv --wait 1000 --in-flight 1");
  EXPECT_EQ(run.Exit, 1);
  const std::vector<nlohmann::json> lines = JsonLines(run.Output);
  ASSERT_EQ(lines.size(), 3u) << run.Output;
  EXPECT_EQ(lines[0].at("result"), "ok");
  EXPECT_EQ(lines[1], (nlohmann::json{{"id", deaf},
                                      {"line", 3},
                                      {"dhcp", true},
                                      {"result", "failed"},
                                      {"reason", "no acknowledgement within 1000 ms"}}));
  EXPECT_EQ(lines[2].at("most_in_flight"), 1);
  EXPECT_EQ(lines[2].at("failed"), 1);
}

}  // namespace
}  // namespace scoutor::test
