#include "hostnet/Reachability.h"

#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/RoutedNetwork.h"
#include "transport/SocketErrors.h"

namespace scoutor {
namespace {

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

TEST_F(PingAddressTest, SocketErrorsPassThrough) {
  const std::string lonely = Bed->AddHost("lonely");  // loopback only: no route anywhere
  EXPECT_THROW(Bed->InNamespace(lonely, [] { return PingAddress("10.9.0.254"); }),
               EIdSocketError);
}

// Runs `check` in a child process inside `ns` as user and group nobody, without capabilities;
// returns "true", "false", or "error: <message>".
std::string AsNobodyIn(const std::string& ns, const std::function<bool()>& check) {
  int out[2];
  if (pipe(out) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    std::string result;
    try {
      TNetnsBed::EnterOnThisThread(ns);
      if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
        throw std::runtime_error("cannot become nobody");
      if (socket(AF_INET, SOCK_RAW, IPPROTO_ICMP) >= 0)
        throw std::runtime_error("raw socket allowed");
      result = check() ? "true" : "false";
    } catch (const std::exception& e) {
      result = std::string("error: ") + e.what();
    }
    if (write(out[1], result.data(), result.size()) < 0) _exit(2);
    _exit(0);
  }
  close(out[1]);
  std::string result;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) result.append(buffer, n);
  close(out[0]);
  waitpid(pid, nullptr, 0);
  return result;
}

TEST_F(PingAddressTest, UserAdmittedByThePingGroupRangeChecksWithoutRawSocketRights) {
  Bed->Run(Client, "sysctl -qw net.ipv4.ping_group_range='0 2147483647'");
  EXPECT_EQ(AsNobodyIn(Client, [] { return PingAddress("10.8.0.2"); }), "true");
  EXPECT_EQ(AsNobodyIn(Client, [] { return PingAddress("10.9.0.1"); }), "true");
  EXPECT_EQ(AsNobodyIn(Client, [] { return PingAddress("10.77.0.9"); }), "false");
}

TEST_F(PingAddressTest, UserWithNeitherRightGetsTheSocketAllocationError) {
  Bed->Run(Client, "sysctl -qw net.ipv4.ping_group_range='1 0'");
  EXPECT_EQ(AsNobodyIn(Client, [] { return PingAddress("10.8.0.2"); }),
            "error: Cannot allocate socket.");
}

}  // namespace
}  // namespace scoutor
