#include "hostnet/AddressChoice.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/hostnet/MadeUpAdapterPlatform.h"
#include "tests/support/NetnsBed.h"

namespace scoutor {
namespace {

using test::Adapter;
using test::TMadeUpAdapterPlatform;

class ChooseIPAddressTest : public ::testing::Test {
 protected:
  // Records every candidate checked; those in Answering answer.
  bool Choose(const std::string& local) {
    return ChooseIPAddress(local, Address, Mask, Gateway, [this](const std::string& candidate) {
      Checked.push_back(candidate);
      return Answering.count(candidate) != 0;
    });
  }
  // Every host of 192.168.1.0/24 answers.
  void EveryHostOf192_168_1Answers() {
    for (int host = 0; host <= 255; ++host) Answering.insert("192.168.1." + std::to_string(host));
  }
  void ExpectOutputsUntouched() {
    EXPECT_EQ(Address, "untouched");
    EXPECT_EQ(Mask, "untouched");
    EXPECT_EQ(Gateway, "untouched");
  }

  TMadeUpAdapterPlatform Platform;
  std::set<std::string> Answering;
  std::vector<std::string> Checked;
  std::string Address = "untouched";
  std::string Mask = "untouched";
  std::string Gateway = "untouched";
};

TEST_F(ChooseIPAddressTest, FirstHostThatDoesNotAnswerIsChosen) {
  Platform.Report({Adapter("eth0", {{"192.168.1.10", "255.255.255.0"}}, "192.168.1.1")});
  Answering = {"192.168.1.11", "192.168.1.12"};
  EXPECT_TRUE(Choose("192.168.1.10"));
  EXPECT_EQ(Checked, (std::vector<std::string>{"192.168.1.11", "192.168.1.12", "192.168.1.13"}));
  EXPECT_EQ(Address, "192.168.1.13");
  EXPECT_EQ(Mask, "255.255.255.0");
  EXPECT_EQ(Gateway, "192.168.1.1");
}

TEST_F(ChooseIPAddressTest, CandidatesRunUpToTheTopThenFromTheBottomUpToTheOwnHost) {
  Platform.Report({Adapter("eth0", {{"192.168.1.10", "255.255.255.0"}}, "192.168.1.1")});
  EveryHostOf192_168_1Answers();
  EXPECT_FALSE(Choose("192.168.1.10"));
  std::vector<std::string> expected;
  for (int host = 11; host <= 254; ++host) expected.push_back("192.168.1." + std::to_string(host));
  for (int host = 1; host <= 9; ++host) expected.push_back("192.168.1." + std::to_string(host));
  EXPECT_EQ(Checked, expected);
  ExpectOutputsUntouched();
}

TEST_F(ChooseIPAddressTest, OwnHost254StartsAt1SkippingBroadcastAndNetwork) {
  Platform.Report({Adapter("eth0", {{"192.168.1.254", "255.255.255.0"}}, "192.168.1.1")});
  EveryHostOf192_168_1Answers();
  EXPECT_FALSE(Choose("192.168.1.254"));
  ASSERT_EQ(Checked.size(), 253u);
  EXPECT_EQ(Checked.front(), "192.168.1.1");
  EXPECT_EQ(Checked.back(), "192.168.1.253");
}

TEST_F(ChooseIPAddressTest, SlashThirtyTriesOnlyTheOtherHost) {
  Platform.Report({Adapter("eth0", {{"10.0.0.1", "255.255.255.252"}}, "10.0.0.2")});
  Answering = {"10.0.0.2"};
  EXPECT_FALSE(Choose("10.0.0.1"));
  EXPECT_EQ(Checked, (std::vector<std::string>{"10.0.0.2"}));
  ExpectOutputsUntouched();
}

TEST_F(ChooseIPAddressTest, SlashThirtyOneAndThirtyTwoHaveNoCandidateAtAll) {
  Platform.Report({Adapter("eth0", {{"10.0.0.1", "255.255.255.254"}}),
                   Adapter("eth1", {{"10.0.1.1", "255.255.255.255"}}),
                   Adapter("eth2", {{"10.0.2.0", "255.255.255.254"}})});
  EXPECT_FALSE(Choose("10.0.0.1"));
  EXPECT_FALSE(Choose("10.0.1.1"));
  EXPECT_FALSE(Choose("10.0.2.0"));
  EXPECT_TRUE(Checked.empty());
  ExpectOutputsUntouched();
}

TEST_F(ChooseIPAddressTest, SlashTwentyNineWhereAllAnswerTakesFiveChecksThenGivesUp) {
  Platform.Report({Adapter("eth0", {{"10.0.0.9", "255.255.255.248"}}, "10.0.0.14")});
  Answering = {"10.0.0.8",  "10.0.0.9",  "10.0.0.10", "10.0.0.11",
               "10.0.0.12", "10.0.0.13", "10.0.0.14", "10.0.0.15"};
  EXPECT_FALSE(Choose("10.0.0.9"));
  EXPECT_EQ(Checked, (std::vector<std::string>{"10.0.0.10", "10.0.0.11", "10.0.0.12",
                                               "10.0.0.13", "10.0.0.14"}));
  ExpectOutputsUntouched();
}

TEST_F(ChooseIPAddressTest, AnyLocalAddressSearchesTheFirstConfiguredSubnet) {
  Platform.Report({Adapter("eth0", {{"0.0.0.0", "0.0.0.0"}}),
                   Adapter("eth1", {{"172.16.4.20", "255.255.252.0"}}, "172.16.4.1"),
                   Adapter("eth2", {{"10.0.0.5", "255.0.0.0"}}, "10.0.0.1")});
  EXPECT_TRUE(Choose("0.0.0.0"));
  EXPECT_EQ(Checked, (std::vector<std::string>{"172.16.4.21"}));
  EXPECT_EQ(Address, "172.16.4.21");
  EXPECT_EQ(Mask, "255.255.252.0");
  EXPECT_EQ(Gateway, "172.16.4.1");
}

TEST_F(ChooseIPAddressTest, AnyLocalAddressWithNothingConfiguredGivesFalseWithoutChecks) {
  Platform.Report({Adapter("eth0", {{"0.0.0.0", "0.0.0.0"}})});
  EXPECT_FALSE(Choose("0.0.0.0"));
  EXPECT_TRUE(Checked.empty());
  ExpectOutputsUntouched();
}

TEST_F(ChooseIPAddressTest, SecondAddressOfAnAdapterSearchesItsOwnSubnet) {
  Platform.Report(
      {Adapter("eth0", {{"10.0.0.5", "255.0.0.0"}, {"172.16.0.5", "255.255.0.0"}}, "10.0.0.1")});
  EXPECT_TRUE(Choose("172.16.0.5"));
  EXPECT_EQ(Address, "172.16.0.6");
  EXPECT_EQ(Mask, "255.255.0.0");
  EXPECT_EQ(Gateway, "10.0.0.1");
}

TEST_F(ChooseIPAddressTest, AdapterWithoutGatewayGivesGateway0_0_0_0) {
  Platform.Report({Adapter("eth0", {{"192.168.1.10", "255.255.255.0"}})});
  EXPECT_TRUE(Choose("192.168.1.10"));
  EXPECT_EQ(Address, "192.168.1.11");
  EXPECT_EQ(Gateway, "0.0.0.0");
}

TEST_F(ChooseIPAddressTest, AddressThatIsNotConfiguredGivesFalseWithoutCheckOrMessage) {
  Platform.Report({Adapter("eth0", {{"192.168.1.10", "255.255.255.0"}}, "192.168.1.1")});
  EXPECT_FALSE(Choose("192.168.1.77"));
  EXPECT_FALSE(Choose("not an address"));
  EXPECT_TRUE(Checked.empty());
  EXPECT_TRUE(Platform.Recorder.Notices.empty());
  ExpectOutputsUntouched();
}

TEST_F(ChooseIPAddressTest, UnreadableConfigurationGivesFalseAfterItsMessage) {
  Platform.Report({Adapter("eth0", {{"192.168.1.10", "255.255.255.0"}}, "192.168.1.1")});
  Platform.LoadFailure = "HalvexVEP : Couldn't read the IP configuration";
  EXPECT_FALSE(Choose("192.168.1.10"));
  EXPECT_TRUE(Checked.empty());
  EXPECT_EQ(Platform.Recorder.Notices.size(), 1u);
  ExpectOutputsUntouched();
}

TEST_F(ChooseIPAddressTest, CheckThatFailsEndsTheChoiceAtOnce) {
  Platform.Report({Adapter("eth0", {{"192.168.1.10", "255.255.255.0"}}, "192.168.1.1")});
  int checks = 0;
  EXPECT_THROW(ChooseIPAddress("192.168.1.10", Address, Mask, Gateway,
                               [&](const std::string& candidate) -> bool {
                                 ++checks;
                                 if (candidate == "192.168.1.12")
                                   throw std::runtime_error("Socket Error # 1");
                                 return true;
                               }),
               std::runtime_error);
  EXPECT_EQ(checks, 2);
  ExpectOutputsUntouched();
}

// With real pings on a segment where 10.0.0.2 answers and 10.0.0.3 is taken by a host that
// answers pings or, in the second case, drops echo requests but holds its address (the
// one-by-one echo rule would hand 10.0.0.3 out and make an address conflict). The choice is
// 10.0.0.4 either way, after the full check of it.
class ChooseIPAddressOnASegment : public ::testing::Test {
 protected:
  void SetUp() override {
    SCOUTOR_REQUIRE_NETNS();
    const std::string segment = Bed.AddSegment("lan");
    Host = Bed.AddHost("host");
    Bed.Attach(Host, segment, "eth0", "10.0.0.1/29");
    Bed.Attach(Bed.AddHost("a"), segment, "eth0", "10.0.0.2/29");
    Third = Bed.AddHost("b");
    Bed.Attach(Third, segment, "eth0", "10.0.0.3/29");
  }

  struct TChoice {
    bool Chosen = false;
    std::string Address, Mask, Gateway;
  };
  TChoice Choose() {
    return Bed.InNamespace(Host, [] {
      TChoice result;
      result.Chosen = ChooseIPAddress("10.0.0.1", result.Address, result.Mask, result.Gateway);
      return result;
    });
  }

  test::TNetnsBed Bed;
  std::string Host, Third;
};

TEST_F(ChooseIPAddressOnASegment, PicksTheFirstAddressThatNobodyAnswers) {
  const TChoice choice = Choose();
  EXPECT_TRUE(choice.Chosen);
  EXPECT_EQ(choice.Address, "10.0.0.4");
  EXPECT_EQ(choice.Mask, "255.255.255.248");
  EXPECT_EQ(choice.Gateway, "0.0.0.0");
}

TEST_F(ChooseIPAddressOnASegment, PassesOverAHostThatDropsEchoRequestsButHoldsItsAddress) {
  Bed.Run(Third, "sysctl -qw net.ipv4.icmp_echo_ignore_all=1");
  EXPECT_EQ(Choose().Address, "10.0.0.4");
}

}  // namespace
}  // namespace scoutor
