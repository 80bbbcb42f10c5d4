#include "hostnet/AddressChooser.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "hostnet/AddressChoice.h"
#include "runtime/HeadlessLoop.h"
#include "tests/hostnet/MadeUpAdapterPlatform.h"
#include "tests/hostnet/MadeUpNeighbourTable.h"
#include "transport/SocketErrors.h"

namespace scoutor {
namespace {

using test::Adapter;
using test::TMadeUpAdapterPlatform;

// What a made-up candidate does when it is checked.
struct TBehaviour {
  TReachability Outcome = TReachability::NotReachable;
  int AfterMs = TReachabilityService::kTimeoutMs;
  std::string Error;
};

TBehaviour Answers(int afterMs) { return {TReachability::Reachable, afterMs, ""}; }
TBehaviour Silent(int afterMs) { return {TReachability::NotReachable, afterMs, ""}; }
TBehaviour Fails(int afterMs, const std::string& error) {
  return {TReachability::Failed, afterMs, error};
}


class AddressChooserTest : public ::testing::Test {
 protected:
  AddressChooserTest() {
    Platform.Report({Adapter("eth0", {{"192.168.1.10", "255.255.255.0"}}, "192.168.1.1")});
  }

  // Checks that end on the manual clock as Behaviours say (unknown addresses: silent).
  TCandidateChecks FakeChecks() {
    return {[this](const std::string& address, TCheckDone done, TCheckHeld) {
              const TBehaviour behaviour = Behaviours.count(address) != 0 ? Behaviours[address]
                                                                           : TBehaviour{};
              Checked.push_back(address);
              auto id = std::make_shared<TCheckId>();
              *id = Loop.StartSingleShot(
                  behaviour.AfterMs, [this, id, address, behaviour, done = std::move(done)] {
                    Out.erase(*id);
                    done({address, behaviour.Outcome, behaviour.Error});
                  });
              Out.insert(*id);
              MostOut = std::max(MostOut, Out.size());
              return *id;
            },
            [this](TCheckId id) {
              Loop.StopTimer(id);
              Out.erase(id);
            }};
  }

  // Runs one choice to its end on the manual clock (at most a minute of it).
  TAddressChoice Choose(const std::string& local, std::size_t window = TAddressChooser::kWindow) {
    TAddressChooser chooser(FakeChecks(), Loop, window);
    std::optional<TAddressChoice> choice;
    chooser.Start(local, [&](const TAddressChoice& result) { choice = result; });
    EXPECT_FALSE(choice) << "the result came inside Start";
    for (int ms = 0; ms < 60000 && !choice; ms += 10) Loop.Advance(Clock, 10);
    EXPECT_TRUE(choice.has_value());
    Ended = Clock.NowMs();
    return choice.value_or(TAddressChoice{});
  }

  // The one-by-one choice with the same candidates: a candidate answers when its check says
  // reachable or a host holds it.
  std::string OneByOne(const std::string& local) {
    std::string address = "none", mask, gateway;
    try {
      ChooseIPAddress(local, address, mask, gateway, [this](const std::string& candidate) {
        const TBehaviour behaviour =
            Behaviours.count(candidate) != 0 ? Behaviours[candidate] : TBehaviour{};
        if (behaviour.Outcome == TReachability::Failed) throw EIdException(behaviour.Error);
        return behaviour.Outcome == TReachability::Reachable ||
               Neighbours.Held.count(candidate) != 0;
      });
    } catch (const EIdException& error) {
      return std::string("error ") + error.what();
    }
    return address;
  }

  static std::string Outcome(const TAddressChoice& choice) {
    if (!choice.Error.empty()) return "error " + choice.Error;
    return choice.Found ? choice.Address : "none";
  }

  static std::string Host(int number) { return "192.168.1." + std::to_string(number); }

  TMadeUpAdapterPlatform Platform;
  test::TMadeUpNeighbourTable Neighbours;
  TManualClock Clock;
  THeadlessLoop Loop{Clock};
  std::map<std::string, TBehaviour> Behaviours;
  std::vector<std::string> Checked;
  std::set<TCheckId> Out;
  std::size_t MostOut = 0;
  std::int64_t Ended = 0;
};

TEST_F(AddressChooserTest, FirstFreeCandidateWinsWithTheAdaptersMaskAndGateway) {
  Behaviours[Host(11)] = Answers(3);
  Behaviours[Host(12)] = Answers(1);
  const TAddressChoice choice = Choose("192.168.1.10");
  EXPECT_TRUE(choice.Found);
  EXPECT_EQ(choice.Address, Host(13));
  EXPECT_EQ(choice.Mask, "255.255.255.0");
  EXPECT_EQ(choice.Gateway, "192.168.1.1");
  EXPECT_EQ(Checked.front(), Host(11));
  EXPECT_TRUE(Out.empty()) << "checks left running after the choice";
}

TEST_F(AddressChooserTest, AFreeCandidateThatEndsFirstWaitsForTheCandidatesBeforeIt) {
  Behaviours[Host(11)] = Answers(4000);
  Behaviours[Host(12)] = Silent(10);  // free, early
  EXPECT_EQ(Outcome(Choose("192.168.1.10")), Host(12));
  EXPECT_EQ(Ended, 4000);
}

TEST_F(AddressChooserTest, ASilentCandidateHeldByAHostIsInUseAndNeedNotTimeOut) {
  Behaviours[Host(11)] = Answers(2);
  Neighbours.Held = {Host(12), Host(13)};  // they answered ARP, not the echo
  EXPECT_EQ(Outcome(Choose("192.168.1.10")), Host(14));
  EXPECT_EQ(Ended, TReachabilityService::kTimeoutMs);  // only the free one's time-out
}

TEST_F(AddressChooserTest, TwoHundredSilentHoldersCostAboutOneTimeOut) {
  for (int host = 11; host <= 210; ++host) Neighbours.Held.insert(Host(host));
  EXPECT_EQ(Outcome(Choose("192.168.1.10")), Host(211));
  EXPECT_LE(Ended, TReachabilityService::kTimeoutMs + 7 * TAddressChooser::kNeighbourPollMs);
  EXPECT_LE(MostOut, TAddressChooser::kWindow);
}

TEST_F(AddressChooserTest, AFailedCheckReachedBeforeAFreeCandidateEndsTheChoiceWithItsText) {
  Behaviours[Host(11)] = Answers(1);
  Behaviours[Host(12)] = Fails(1, "Cannot allocate socket.");
  const TAddressChoice choice = Choose("192.168.1.10");
  EXPECT_FALSE(choice.Found);
  EXPECT_EQ(choice.Error, "Cannot allocate socket.");
}

TEST_F(AddressChooserTest, AFailedCheckAfterTheFreeCandidateDoesNotMatter) {
  Behaviours[Host(12)] = Fails(1, "Cannot allocate socket.");
  EXPECT_EQ(Outcome(Choose("192.168.1.10")), Host(11));
}

TEST_F(AddressChooserTest, EveryCandidateInUseGivesNothingAfterTheLast) {
  Platform.Report({Adapter("eth0", {{"10.0.0.9", "255.255.255.248"}}, "10.0.0.14")});
  for (int host = 8; host <= 15; ++host)
    Behaviours["10.0.0." + std::to_string(host)] = Answers(host);
  const TAddressChoice choice = Choose("10.0.0.9");
  EXPECT_FALSE(choice.Found);
  EXPECT_TRUE(choice.Error.empty());
  EXPECT_EQ(Checked, (std::vector<std::string>{"10.0.0.10", "10.0.0.11", "10.0.0.12",
                                               "10.0.0.13", "10.0.0.14"}));
}

TEST_F(AddressChooserTest, ALocalAddressThatIsNotConfiguredGivesNothingWithoutChecks) {
  const TAddressChoice choice = Choose("192.168.1.77");
  EXPECT_FALSE(choice.Found);
  EXPECT_TRUE(choice.Error.empty());
  EXPECT_TRUE(Checked.empty());
}

TEST_F(AddressChooserTest, SameChoiceAsOneByOneForMixesOfBusyFreeSilentAndFailing) {
  std::mt19937 random(1234);
  for (int round = 0; round < 40; ++round) {
    Behaviours.clear();
    Neighbours.Held.clear();
    Checked.clear();
    // Mostly busy hosts, answering fast or slow; some silent holders; rare failures; the
    // rest free. Window sizes vary too.
    for (int host = 1; host <= 254; ++host) {
      const int kind = std::uniform_int_distribution<int>(0, 99)(random);
      const int after = std::uniform_int_distribution<int>(1, 4999)(random);
      if (kind < 70)
        Behaviours[Host(host)] = Answers(after);
      else if (kind < 88)
        Neighbours.Held.insert(Host(host));
      else if (kind < 90)
        Behaviours[Host(host)] = Fails(after, "Socket Error # 105");
      else
        Behaviours[Host(host)] = Silent(after);
    }
    const std::size_t window = std::size_t{1} << (round % 7);
    const std::string expected = OneByOne("192.168.1.10");
    EXPECT_EQ(Outcome(Choose("192.168.1.10", window)), expected) << "round " << round;
    EXPECT_LE(MostOut, window);
    MostOut = 0;
  }
}

}  // namespace
}  // namespace scoutor
