#include "hostnet/ReachabilityService.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "runtime/HeadlessLoop.h"
#include "tests/hostnet/MadeUpNeighbourTable.h"
#include "tests/support/RoutedNetwork.h"
#include "tests/support/RunAsNobody.h"
#include "transport/ByteOrder.h"
#include "transport/IcmpPacket.h"

namespace scoutor {
namespace {

using test::AsNobodyIn;

const char* Name(TReachability outcome) {
  switch (outcome) {
    case TReachability::Reachable:
      return "reachable";
    case TReachability::NotReachable:
      return "not reachable";
    case TReachability::Failed:
      return "failed";
  }
  return "?";
}

// The kernel's path alone, with at most `maxOutstanding` checks out (0: the default).
TReachabilityOptions KernelPath(std::size_t maxOutstanding = 0) {
  TReachabilityOptions options;
  options.MaxOutstanding = maxOutstanding;
  options.LinkLayer = false;
  return options;
}

// One service on a headless loop with a manual clock; the results as they end, in order.
struct TChecker {
  TManualClock Clock;
  THeadlessLoop Loop{Clock};
  TReachabilityService Service;
  std::vector<std::pair<std::string, std::string>> Ended;  // address, outcome (and error)

  explicit TChecker(TReachabilityOptions options = KernelPath())
      : Service(Loop, WithClock(options, Clock)) {}

  static TReachabilityOptions WithClock(TReachabilityOptions options, const TClock& clock) {
    options.Clock = &clock;
    return options;
  }

  TCheckId Check(const std::string& address) {
    return Service.Check(address, [this](const TCheckResult& result) {
      std::string outcome = Name(result.Outcome);
      if (!result.Error.empty()) outcome += ": " + result.Error;
      Ended.emplace_back(result.Address, outcome);
    });
  }

  // Serves the socket in real time (the manual clock stands still) until `count` checks have
  // ended, for at most five seconds.
  void ServeUntilEnded(std::size_t count) {
    for (int i = 0; i < 500 && Ended.size() < count; ++i) {
      Loop.Pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // The outcome of the one check that ends when the time-out has passed.
  std::string SoleOutcomeAfterTimeOut() {
    Loop.Advance(Clock, TReachabilityService::kTimeoutMs);
    return Ended.size() == 1 ? Ended[0].second : std::to_string(Ended.size()) + " ended";
  }

  std::string OutcomeOf(const std::string& address) const {
    for (const auto& [ended, outcome] : Ended)
      if (ended == address) return outcome;
    return "pending";
  }
};

// From the calling thread's namespace: ICMP unreachables to `client` quoting echo requests to
// `target` with identifier 0xBEEF (no service in the test process uses it) and sequence
// numbers 0 to 9.
void SendStrayUnreachables(const std::string& client, const std::string& target) {
  const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  ASSERT_GE(fd, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  const TAddressBytes clientBytes = TSocketStack::TextToAddress(client);
  std::memcpy(&to.sin_addr.s_addr, clientBytes.data(), 4);
  for (std::uint16_t sequence = 0; sequence < 10; ++sequence) {
    std::vector<std::uint8_t> icmp = {3, 1, 0, 0, 0, 0, 0, 0,
                                      0x45, 0, 0, 72, 0, 0, 0, 0, 127, 1, 0, 0};
    icmp.insert(icmp.end(), clientBytes.begin(), clientBytes.end());
    const TAddressBytes targetBytes = TSocketStack::TextToAddress(target);
    icmp.insert(icmp.end(), targetBytes.begin(), targetBytes.end());
    std::uint8_t request[kEchoRequestLength];
    BuildEchoRequest(request, 0xBEEF, sequence, 0);
    icmp.insert(icmp.end(), request, request + 8);
    PutBE16(icmp.data() + 2, InternetChecksum(icmp.data(), icmp.size()));
    sendto(fd, icmp.data(), icmp.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
  close(fd);
}

class ReachabilityServiceTest : public test::TRoutedNetworkTest {
 protected:
  void SetUp() override {
    TRoutedNetworkTest::SetUp();
    if (IsSkipped()) return;
    // More dead addresses on the client's link, like 10.9.0.3: frames go out, nobody takes them.
    for (int host = 4; host <= 6; ++host)
      Bed->Run(Client, "ip neigh add 10.9.0." + std::to_string(host) +
                           " lladdr 02:00:00:00:00:9" + std::to_string(host) +
                           " dev eth0 nud permanent");
  }

  void InClient(const std::function<void()>& work) { Bed->InNamespace(Client, work); }

  // Another program pings the far host meanwhile, so echo replies not ours reach the socket.
  void StartForeignPings() {
    Bed->Spawn(Client, {"ping", "-n", "-q", "-i", "0.2", "10.8.0.2"}, "/dev/null");
    for (int i = 0; i < 50 && IcmpCounter("InEchoReps") < 1; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_GE(IcmpCounter("InEchoReps"), 1) << "the other program's pings got no answer";
  }
};

TEST_F(ReachabilityServiceTest, ManyChecksAtOnceEachGetTheAnswerToItsOwnRequest) {
  StartForeignPings();
  std::string batch;
  for (int host = 100; host < 160; ++host)
    batch += "addr add 10.9.0." + std::to_string(host) + "/24 dev eth0\n";
  Bed->Run(Router, "printf '" + batch + "' | ip -batch -");
  InClient([] {
    TChecker checker;
    std::map<std::string, std::string> expected = {
        {"10.9.0.254", "reachable"}, {"10.8.0.2", "reachable"},  {"10.9.0.1", "reachable"},
        {"127.0.0.1", "reachable"},  {"10.77.0.9", "not reachable"},  // the router's
        {"10.77.0.10", "not reachable"}};                              // "unreachable"
    for (int host = 100; host < 160; ++host) expected["10.9.0." + std::to_string(host)] = "reachable";
    for (const auto& [address, outcome] : expected) checker.Check(address);
    checker.Check("10.9.0.3");  // nobody answers: only the time-out ends it
    EXPECT_TRUE(checker.Ended.empty()) << "a result came inside Check";

    checker.ServeUntilEnded(expected.size());
    ASSERT_EQ(checker.Ended.size(), expected.size());
    for (const auto& [address, outcome] : expected)
      EXPECT_EQ(checker.OutcomeOf(address), outcome) << address;
    EXPECT_EQ(checker.OutcomeOf("10.9.0.3"), "pending");

    checker.Loop.Advance(checker.Clock, TReachabilityService::kTimeoutMs);
    EXPECT_EQ(checker.OutcomeOf("10.9.0.3"), "not reachable");
    EXPECT_EQ(checker.Service.Pending(), 0u);
  });
}

TEST_F(ReachabilityServiceTest, StrayIcmpErrorsAboutOtherRequestsDoNotEndACheck) {
  StartForeignPings();
  InClient([this] {
    TChecker checker;
    checker.Check("10.9.0.3");
    checker.Loop.Pump();  // the request goes out
    // Unreachables from the router quoting requests to 10.9.0.3 of another program (same
    // sequence numbers, another identifier): none answers the check.
    Bed->InNamespace(Router, [] { SendStrayUnreachables("10.9.0.1", "10.9.0.3"); });
    for (int i = 0; i < 50; ++i) {
      checker.Loop.Pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(checker.Ended.empty());
    EXPECT_EQ(checker.SoleOutcomeAfterTimeOut(), "not reachable");
  });
}

TEST_F(ReachabilityServiceTest, ResultsArriveInTheOrderTheirChecksEnd) {
  InClient([] {
    TChecker checker;
    checker.Check("10.9.0.3");  // ends at 5000
    checker.Loop.Advance(checker.Clock, 1000);
    checker.Check("10.9.0.4");  // ends at 6000
    checker.Check("10.9.0.254");
    checker.ServeUntilEnded(1);
    checker.Loop.Advance(checker.Clock, 4000);
    EXPECT_EQ(checker.Ended.size(), 2u);
    checker.Loop.Advance(checker.Clock, 1000);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"10.9.0.254", "reachable"}, {"10.9.0.3", "not reachable"}, {"10.9.0.4", "not reachable"}};
    EXPECT_EQ(checker.Ended, expected);
  });
}

TEST_F(ReachabilityServiceTest, ChecksBeyondTheOutstandingLimitWaitAndTimeOutFromTheirOwnSend) {
  InClient([] {
    TChecker checker(KernelPath(2));
    for (const char* address : {"10.9.0.3", "10.9.0.4", "10.9.0.5", "10.9.0.6"})
      checker.Check(address);
    checker.Loop.Advance(checker.Clock, 4999);
    EXPECT_TRUE(checker.Ended.empty());
    checker.Loop.Advance(checker.Clock, 1);
    EXPECT_EQ(checker.Ended.size(), 2u);  // the first two; the others were sent just now
    checker.Loop.Advance(checker.Clock, 4999);
    EXPECT_EQ(checker.Ended.size(), 2u);
    checker.Loop.Advance(checker.Clock, 1);
    ASSERT_EQ(checker.Ended.size(), 4u);
    EXPECT_EQ(checker.Ended[2].first, "10.9.0.5");
    EXPECT_EQ(checker.Ended[3].first, "10.9.0.6");
  });
}

TEST_F(ReachabilityServiceTest, RequestsWaitWhileTheHostsNeighbourTableIsCrowded) {
  InClient([] {
    test::TMadeUpNeighbourTable neighbours;
    neighbours.Pinned = 1000000;  // far beyond three quarters of any limit
    TChecker checker;
    checker.Check("10.9.0.3");
    checker.Loop.Advance(checker.Clock, 20000);
    EXPECT_TRUE(checker.Ended.empty()) << "the request went out, or the check gave up";
    neighbours.Pinned = 0;
    checker.Loop.Advance(checker.Clock, 1000);  // the next look finds room: it goes out
    EXPECT_TRUE(checker.Ended.empty());
    EXPECT_EQ(checker.SoleOutcomeAfterTimeOut(), "not reachable");
  });
}

TEST_F(ReachabilityServiceTest, ACancelledCheckNeverReportsAndFreesItsPlace) {
  InClient([] {
    TChecker checker(KernelPath(1));
    const TCheckId dead = checker.Check("10.9.0.3");
    checker.Check("10.9.0.254");
    EXPECT_EQ(checker.Service.Pending(), 2u);
    checker.Loop.Pump();
    checker.Service.Cancel(dead);
    checker.Service.Cancel(dead);  // again: ignored
    checker.ServeUntilEnded(1);
    checker.Loop.Advance(checker.Clock, 10000);
    const std::vector<std::pair<std::string, std::string>> expected = {{"10.9.0.254", "reachable"}};
    EXPECT_EQ(checker.Ended, expected);

    checker.Check("10.9.0.3");
    checker.Check("10.9.0.4");
    checker.Service.CancelAll();
    EXPECT_EQ(checker.Service.Pending(), 0u);
    checker.Loop.Advance(checker.Clock, 10000);
    EXPECT_EQ(checker.Ended.size(), 1u);
  });
}

TEST_F(ReachabilityServiceTest, AServiceDestroyedFromACallbackStopsCleanly) {
  InClient([] {
    TManualClock clock;
    THeadlessLoop loop(clock);
    auto service = std::make_unique<TReachabilityService>(loop);
    int calls = 0;
    for (const char* address : {"10.9.0.254", "10.9.0.1", "127.0.0.1"})
      service->Check(address, [&](const TCheckResult&) {
        ++calls;
        service.reset();
      });
    for (int i = 0; i < 500 && calls == 0; ++i) {
      loop.Pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    loop.Advance(clock, 10000);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(loop.TimerCount(), 0u);
    EXPECT_EQ(loop.WatchCount(), 0u);
  });
}

// The routing table's refusal is an answer: without a route the address is not reachable.
TEST_F(ReachabilityServiceTest, ASendWithoutARouteEndsTheCheckAsNotReachableWithTheReason) {
  const std::string lonely = Bed->AddHost("lonely");  // loopback only: no route anywhere
  Bed->InNamespace(lonely, [] {
    TChecker checker;
    checker.Check("10.9.0.254");
    checker.Check("127.0.0.1");
    checker.ServeUntilEnded(2);
    EXPECT_EQ(checker.OutcomeOf("10.9.0.254"),
              "not reachable: Socket Error # 101\r\nNetwork is unreachable.");
    EXPECT_EQ(checker.OutcomeOf("127.0.0.1"), "reachable");
  });
}

// The outcomes of checks made as nobody, as one text.
std::string CheckAsNobody(const std::vector<std::string>& addresses) {
  TChecker checker;
  for (const std::string& address : addresses) checker.Check(address);
  EXPECT_TRUE(checker.Ended.empty());
  checker.ServeUntilEnded(addresses.size());
  std::string outcomes;
  for (const std::string& address : addresses)
    outcomes += address + " " + checker.OutcomeOf(address) + "; ";
  return outcomes;
}

TEST_F(ReachabilityServiceTest, WithoutAnyIcmpSocketEveryCheckFailsWithTheReason) {
  Bed->Run(Client, "sysctl -qw net.ipv4.ping_group_range='1 0'");
  EXPECT_EQ(AsNobodyIn(Client, [] { return CheckAsNobody({"10.8.0.2", "10.9.0.3"}); }),
            "10.8.0.2 failed: Cannot allocate socket.; 10.9.0.3 failed: Cannot allocate socket.; ");
}

TEST_F(ReachabilityServiceTest, TheUnprivilegedDatagramSocketGivesTheSameOutcomes) {
  Bed->Run(Client, "sysctl -qw net.ipv4.ping_group_range='0 2147483647'");
  EXPECT_EQ(AsNobodyIn(Client,
                       [] { return CheckAsNobody({"10.8.0.2", "10.9.0.1", "10.77.0.9"}); }),
            "10.8.0.2 reachable; 10.9.0.1 reachable; 10.77.0.9 not reachable; ");
}

}  // namespace
}  // namespace scoutor
