#include "hostnet/Reachability.h"


#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/RoutedNetwork.h"
#include "tests/support/RunAsNobody.h"
#include "transport/SocketErrors.h"

namespace scoutor {
namespace {

using test::AsNobodyIn;
using test::TNetnsBed;

class PingAddressTest : public test::TRoutedNetworkTest {
 protected:
  bool PingFromClient(const std::string& address) {
    return Bed->InNamespace(Client, [&] { return PingAddress(address); });
  }
};

TEST_F(PingAddressTest, AddressThatAnswersIsReachable) {
  EXPECT_TRUE(PingFromClient("10.9.0.254"));
  EXPECT_TRUE(PingFromClient("10.8.0.2"));
}

TEST_F(PingAddressTest, OwnAddressIsReachable) {
  EXPECT_TRUE(PingFromClient("10.9.0.1"));
  EXPECT_TRUE(PingFromClient("127.0.0.1"));
}

TEST_F(PingAddressTest, RouterAnsweringUnreachableMakesTheAddressUnreachable) {
  EXPECT_FALSE(PingFromClient("10.77.0.9"));
}

TEST_F(PingAddressTest, ChecksInARowDoNotInfluenceEachOther) {
  EXPECT_TRUE(PingFromClient("10.8.0.2"));
  EXPECT_FALSE(PingFromClient("10.77.0.9"));
  EXPECT_TRUE(PingFromClient("10.8.0.2"));
}

// The one slow case: nobody answers for the full five seconds, while another program's echo
// exchange with a live host goes on beside the check.
TEST_F(PingAddressTest, DeadAddressStaysUnreachableWhileAnotherProgramPings) {
  Bed->Spawn(Client, {"ping", "-n", "-q", "-i", "0.2", "10.9.0.254"}, "/dev/null");
  for (int i = 0; i < 50 && IcmpCounter("InEchoReps") < 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const long before = IcmpCounter("InEchoReps");
  ASSERT_GE(before, 1) << "the other program's pings got no answer";
  EXPECT_FALSE(PingFromClient("10.9.0.3"));
  EXPECT_GT(IcmpCounter("InEchoReps"), before);
}

// The routing table's refusal is an answer, not a failure to check.
TEST_F(PingAddressTest, AnAddressWithoutARouteIsNotReachable) {
  const std::string lonely = Bed->AddHost("lonely");  // loopback only: no route anywhere
  EXPECT_FALSE(Bed->InNamespace(lonely, [] { return PingAddress("10.9.0.254"); }));
}

// The check's answer as the child process reports it.
std::string Answers(const std::string& address) { return PingAddress(address) ? "true" : "false"; }

TEST_F(PingAddressTest, UserAdmittedByThePingGroupRangeChecksWithoutRawSocketRights) {
  Bed->Run(Client, "sysctl -qw net.ipv4.ping_group_range='0 2147483647'");
  EXPECT_EQ(AsNobodyIn(Client, [] { return Answers("10.8.0.2"); }), "true");
  EXPECT_EQ(AsNobodyIn(Client, [] { return Answers("10.9.0.1"); }), "true");
  EXPECT_EQ(AsNobodyIn(Client, [] { return Answers("10.77.0.9"); }), "false");
}

TEST_F(PingAddressTest, UserWithNeitherRightGetsTheSocketAllocationError) {
  Bed->Run(Client, "sysctl -qw net.ipv4.ping_group_range='1 0'");
  EXPECT_EQ(AsNobodyIn(Client, [] { return Answers("10.8.0.2"); }),
            "error: Cannot allocate socket.");
}

}  // namespace
}  // namespace scoutor
