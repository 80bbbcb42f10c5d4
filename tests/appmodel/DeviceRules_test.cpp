// The device rules that the window and vepctl share: which settings may be sent, who uses an
// address already, and the attempts of an upgrade.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "appmodel/AddressUse.h"
#include "appmodel/IPSettings.h"
#include "appmodel/UpgradeAttempts.h"
#include "runtime/HeadlessLoop.h"
#include "tests/hostnet/MadeUpNeighbourTable.h"

namespace scoutor {
namespace {

TEST(IPSettingsTest, StaticSettingsNeedThreeCompleteAddressesThatCanWork) {
  const TSettingsFieldNames names{"IP address", "Subnet mask", "Default gateway"};
  // A typo, a partly filled field, an untouched mask: none of them reaches a device.
  EXPECT_EQ(SendingProblem({false, "10.77.1.299", "255.255.255.0", "10.77.1.1"}, names),
            "IP address 10.77.1.299 is not a complete address (four numbers from 0 to 255)");
  EXPECT_EQ(SendingProblem({false, "10.77.1.", "255.255.255.0", ""}, names),
            "IP address 10.77.1. is not a complete address (four numbers from 0 to 255)");
  EXPECT_EQ(SendingProblem({false, "10.77.1.9", "", ""}, names), "Subnet mask is empty");
  EXPECT_EQ(SendingProblem({false, "10.77.1.9", "255.255.255.0", "10.77.1"}, names),
            "Default gateway 10.77.1 is not a complete address (four numbers from 0 to 255)");
  EXPECT_EQ(SendingProblem({false, "10.77.1.0", "255.255.255.0", ""}, names),
            "10.77.1.0 is the network address of its subnet (mask 255.255.255.0)");
  EXPECT_EQ(SendingProblem({false, "10.77.1.9", "255.0.255.0", ""}, names),
            "the mask 255.0.255.0 is not a subnet mask (one run of ones from the top)");
  EXPECT_EQ(SendingProblem({false, "10.77.1.9", "255.255.255.0", "10.77.2.1"}, names),
            "the gateway 10.77.2.1 is outside the subnet of 10.77.1.9 (mask 255.255.255.0)");
  EXPECT_EQ(SendingProblem({false, "10.77.1.9", "255.255.255.0", "10.77.1.9"}),
            "the gateway 10.77.1.9 is the device's own address");
  EXPECT_EQ(SendingProblem({false, "10.77.1.9", "255.255.255.254", ""}),
            "the mask 255.255.255.254 leaves no room for a device, its gateway and a broadcast "
            "address (at most /30, 255.255.255.252)");
  EXPECT_EQ(SendingProblem({false, "10.77.1.9", "255.255.255.0", "10.77.1.1"}), "");
  // A DHCP request is never refused, whatever its fields hold.
  EXPECT_EQ(SendingProblem({true, "...", "", "300.1.1.1"}), "");
}

TEST(IPSettingsTest, WhatIsSentIsCanonicalAndDhcpCarriesZerosForWhatIsNoAddress) {
  EXPECT_EQ(SettingsToSend({false, "010.077.001.009", "255.255.255.000", ""}),
            (TIPSettings{false, "10.77.1.9", "255.255.255.0", "0.0.0.0"}));
  // An address typed before switching to DHCP still goes with the request.
  EXPECT_EQ(SettingsToSend({true, "10.77.1.9", "10.77.1.", ""}),
            (TIPSettings{true, "10.77.1.9", "0.0.0.0", "0.0.0.0"}));
  EXPECT_EQ(CompleteAddress("1.2.3.4"), "1.2.3.4");
  EXPECT_EQ(CompleteAddress("1.2.3.256"), std::nullopt);
  EXPECT_EQ(CompleteAddress("1.2.3"), std::nullopt);
}

class AddressUseTest : public ::testing::Test {
 protected:
  // A ping that answers as the test says, later on the loop; `held`: a host answered ARP.
  TCandidateChecks Ping(TReachability outcome, bool held = false) {
    return {[this, outcome, held](const std::string& address, TCheckDone done, TCheckHeld) {
              ++Pings;
              Loop.Post([address, outcome, held, done] {
                done({address, outcome, {}, TCheckPath::LinkLayer, held});
              });
              return TCheckId{1};
            },
            [this](TCheckId) { ++Cancelled; }};
  }
  std::string UserOf(TAddressUseCheck& check, const std::string& address,
                     const std::vector<TDeviceInfo>& scan = {}) {
    bool checked = false;
    check.Start(address, "00:0A:1B:2C:3D:4E", [&] { checked = true; });
    EXPECT_FALSE(checked);  // never inside Start
    Loop.Advance(Clock, 10);
    EXPECT_TRUE(checked);
    return check.User(scan);
  }

  TManualClock Clock;
  THeadlessLoop Loop{Clock};
  test::TMadeUpNeighbourTable Neighbours;
  int Pings = 0;
  int Cancelled = 0;
};

TEST_F(AddressUseTest, NamesThisHostAnotherDeviceAndHostsTheNeighbourTableOrAPingKnows) {
  TAddressUseCheck quick({}, Loop);
  EXPECT_EQ(UserOf(quick, "127.0.0.1"), "this host (interface lo)");
  TDeviceInfo other;
  other.ID = "00:0A:1B:2C:3D:99";
  other.IPAddress = "10.9.9.9";
  EXPECT_EQ(UserOf(quick, "10.9.9.9", {other}),
            "device 00:0A:1B:2C:3D:99 (it answered the scan from there)");
  EXPECT_EQ(UserOf(quick, "10.9.9.8", {other}), "");
  Neighbours.Held = {"10.9.9.8"};
  EXPECT_EQ(UserOf(quick, "10.9.9.8"),
            "a host that the kernel's neighbour table knows there (it answered ARP)");

  TAddressUseCheck pinging(Ping(TReachability::Reachable), Loop);
  EXPECT_EQ(UserOf(pinging, "10.9.9.7"), "a host that answers a ping there");
  // On the link layer the neighbour table learns nothing: the check itself says who holds it.
  TAddressUseCheck holding(Ping(TReachability::NotReachable, true), Loop);
  EXPECT_EQ(UserOf(holding, "10.9.9.6"), "a host that answers ARP there but not a ping");
  TAddressUseCheck silent(Ping(TReachability::NotReachable), Loop);
  EXPECT_EQ(UserOf(silent, "10.9.9.7"), "");
  EXPECT_EQ(Pings, 3);
}

TEST_F(AddressUseTest, TheDeviceItselfAtTheAddressIsNoConflictAndACancelledCheckIsSilent) {
  TDeviceInfo self;
  self.ID = "00:0A:1B:2C:3D:4E";
  self.IPAddress = "10.9.9.9";
  Neighbours.Held = {"10.9.9.9"};
  TAddressUseCheck check(Ping(TReachability::Reachable), Loop);
  EXPECT_EQ(UserOf(check, "10.9.9.9", {self}), "");

  bool checked = false;
  check.Start("10.9.9.5", self.ID, [&] { checked = true; });
  EXPECT_TRUE(check.Running());
  check.Cancel();
  Loop.Advance(Clock, 100);
  EXPECT_FALSE(checked);
  EXPECT_EQ(Cancelled, 1);
}

// Uploads that end as the test scripts them, each on a later turn of the loop, recording when
// they started.
class UpgradeAttemptsTest : public ::testing::Test {
 protected:
  TUpload ScriptedUpload() {
    return [this](const std::string& file, const std::string& address, TAttemptDone done) {
      Started.push_back(Clock.NowMs());
      EXPECT_EQ(file, "fw.bin");
      EXPECT_EQ(address, "10.0.0.7");
      TUpgradeOutcome outcome = Script.front();
      Script.pop_front();
      Loop.Post([done, outcome] { done(outcome); });
    };
  }
  std::vector<std::string> Run(TUpgradeAttempts& attempts) {
    std::vector<std::string> lines;
    attempts.OnLogLine = [&](const std::string& line) { lines.push_back(line); };
    attempts.Start("fw.bin", "10.0.0.7");
    for (int step = 0; step < 200 && attempts.Phase() != TUpgradeAttempts::TPhase::Ended; ++step)
      Loop.Advance(Clock, 100);
    EXPECT_EQ(attempts.Phase(), TUpgradeAttempts::TPhase::Ended);
    return lines;
  }

  TManualClock Clock;
  THeadlessLoop Loop{Clock};
  std::deque<TUpgradeOutcome> Script;
  std::vector<std::int64_t> Started;
};

TEST_F(UpgradeAttemptsTest, AFirstRefusalIsTriedOnceMoreTenSecondsLater) {
  Script = {{TUpgradeResult::AccessRefused, "Access violation"}, {TUpgradeResult::Done, {}}};
  TUpgradeAttempts attempts(ScriptedUpload(), Loop);
  EXPECT_EQ(Run(attempts),
            (std::vector<std::string>{"First Upgrade Failed", "Delay 10 seconds",
                                      "Attempting second upgrade", "Second upgrade succeeded"}));
  ASSERT_EQ(Started.size(), 2u);
  EXPECT_EQ(Started[1] - Started[0], TUpgradeAttempts::kRetryPauseMs);
  EXPECT_TRUE(attempts.Outcome().Succeeded());
  EXPECT_EQ(attempts.Attempts(), 2);
}

TEST_F(UpgradeAttemptsTest, OnlyTheFirstRefusalIsTriedAgainAndTheReasonIsKept) {
  Script = {{TUpgradeResult::AccessRefused, "Access violation"},
            {TUpgradeResult::AccessRefused, "Access violation"}};
  TUpgradeAttempts twice(ScriptedUpload(), Loop);
  EXPECT_EQ(Run(twice).back(), "Second Upgrade Failed");
  EXPECT_EQ(twice.Outcome().Code(), 1);

  Script = {{TUpgradeResult::FileNotFound, "File not found"}};
  TUpgradeAttempts notFound(ScriptedUpload(), Loop);
  EXPECT_EQ(Run(notFound), std::vector<std::string>{"Upgrade Failed"});
  EXPECT_EQ(notFound.Outcome().Code(), 2);
  EXPECT_EQ(notFound.Outcome().Reason, "File not found");

  Script = {{TUpgradeResult::Done, {}}};
  TUpgradeAttempts done(ScriptedUpload(), Loop);
  EXPECT_EQ(Run(done), std::vector<std::string>{"Upgrade succeeded"});
  EXPECT_EQ(Started.size(), 4u);
}

TEST_F(UpgradeAttemptsTest, AnUploadThatEndsAfterItsUpgradeIsGoneFindsNothing) {
  Script = {{TUpgradeResult::Done, {}}};
  {
    TUpgradeAttempts attempts(ScriptedUpload(), Loop);
    attempts.Start("fw.bin", "10.0.0.7");
  }
  Loop.Advance(Clock, 10);  // the upload's end is posted after the object went
  EXPECT_EQ(Started.size(), 1u);
}

}  // namespace
}  // namespace scoutor
