#include "transport/IcmpEchoClient.h"

#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/Clock.h"
#include "tests/support/RoutedNetwork.h"
#include "tests/support/RunAsNobody.h"
#include "transport/ByteOrder.h"
#include "transport/IcmpPacket.h"
#include "transport/SocketErrors.h"

namespace scoutor {
namespace {

using test::AsNobodyIn;
using test::TNetnsBed;

class IcmpEchoClientTest : public test::TRoutedNetworkTest {
 protected:
  // One PingOnce in the client's namespace; returns the last reply.
  TReplyStatus PingFromClient(const std::string& host, int timeToLive = 128) {
    return Bed->InNamespace(Client, [&] {
      TIcmpEchoClient client;
      client.Host = host;
      client.TimeToLive = timeToLive;
      client.PingOnce();
      return client.ReplyStatus();
    });
  }
};

TEST_F(IcmpEchoClientTest, LiveHostAnswersWithAnEchoReplyReadFromItsIpHeader) {
  const TReplyStatus reply = PingFromClient("10.8.0.2");
  EXPECT_EQ(reply.ReplyKind, rkEcho);
  EXPECT_EQ(reply.MessageType, 0);
  EXPECT_EQ(reply.FromAddress, "10.8.0.2");
  EXPECT_EQ(reply.Ttl, 63);  // 64 from the far host, one hop through the router
  EXPECT_EQ(reply.ReceivedBytes, 20 + 52);
  EXPECT_EQ(reply.SequenceNumber, 0);
  EXPECT_GE(reply.ElapsedMs, 0);
  EXPECT_LT(reply.ElapsedMs, 5000);
}

TEST_F(IcmpEchoClientTest, OneClientSendsSequenceZeroThenOneWithTheFixedLayout) {
  Bed->InNamespace(Client, [&] {
    TIcmpEchoClient client;
    client.Host = "10.9.0.254";
    for (std::uint16_t expected : {0, 1}) {
      const auto before = static_cast<std::uint32_t>(SteadyClock().NowMs());
      client.PingOnce();
      const auto after = static_cast<std::uint32_t>(SteadyClock().NowMs());
      const auto request = client.Request();
      ASSERT_EQ(request.size(), 52u);
      EXPECT_EQ(request[0], 8);
      EXPECT_EQ(request[1], 0);
      EXPECT_EQ(GetLE16(&request[4]), static_cast<std::uint16_t>(getpid() & 0xFFFF));
      EXPECT_EQ(GetLE16(&request[6]), expected);
      EXPECT_GE(GetLE32(&request[8]), before);
      EXPECT_LE(GetLE32(&request[8]), after);
      for (int i = 12; i < 20; ++i) EXPECT_EQ(request[i], 0) << "byte " << i;
      for (int i = 20; i < 52; ++i) EXPECT_EQ(request[i], 0x45) << "byte " << i;
      std::uint32_t sum = 0;
      for (std::size_t i = 0; i < 52; i += 2) sum += GetBE16(&request[i]);
      while (sum > 0xFFFF) sum = (sum >> 16) + (sum & 0xFFFF);
      EXPECT_EQ(sum, 0xFFFFu);

      EXPECT_EQ(client.ReplyStatus().ReplyKind, rkEcho);
      EXPECT_EQ(client.ReplyStatus().SequenceNumber, expected);
    }
    EXPECT_EQ(client.SequenceCounter(), 2);
  });
}

TEST_F(IcmpEchoClientTest, OnReplySeesTheRecordJustBeforeItBecomesTheLastReply) {
  Bed->InNamespace(Client, [&] {
    TIcmpEchoClient client;
    client.Host = "10.9.0.254";
    int calls = 0;
    client.OnReply = [&](TIcmpEchoClient& sender, const TReplyStatus& status) {
      ++calls;
      EXPECT_EQ(&sender, &client);
      EXPECT_EQ(status.ReplyKind, rkEcho);
      EXPECT_EQ(status.FromAddress, "10.9.0.254");
      EXPECT_EQ(sender.ReplyStatus().ReplyKind, rkError);  // not recorded yet
    };
    client.PingOnce();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(client.ReplyStatus().FromAddress, "10.9.0.254");
  });
}

TEST_F(IcmpEchoClientTest, RouterThatKnowsNoWayAnswersUnreachable) {
  const TReplyStatus reply = PingFromClient("10.77.0.9");
  EXPECT_EQ(reply.ReplyKind, rkUnreachable);
  EXPECT_EQ(reply.MessageType, 3);
  EXPECT_EQ(reply.FromAddress, "10.9.0.254");
  EXPECT_EQ(reply.SequenceNumber, 0);
}

TEST_F(IcmpEchoClientTest, RequestWhoseTimeToLiveRunsOutOnTheWayGivesTtlExceeded) {
  const TReplyStatus reply = PingFromClient("10.8.0.2", 1);
  EXPECT_EQ(reply.ReplyKind, rkTtlExceeded);
  EXPECT_EQ(reply.MessageType, 11);
  EXPECT_EQ(reply.FromAddress, "10.9.0.254");
}

TEST_F(IcmpEchoClientTest, OwnAddressAnswers) {
  EXPECT_EQ(PingFromClient("10.9.0.1").ReplyKind, rkEcho);
  EXPECT_EQ(PingFromClient("LOCALHOST").ReplyKind, rkEcho);
}

int OpenSocketCount() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (dirent* entry = readdir(dir)) {
    char target[256] = {};
    const std::string path = std::string("/proc/self/fd/") + entry->d_name;
    if (readlink(path.c_str(), target, sizeof target - 1) > 0 &&
        std::strncmp(target, "socket:", 7) == 0)
      ++count;
  }
  closedir(dir);
  return count;
}

TEST_F(IcmpEchoClientTest, PingOnceClosesItsSocket) {
  Bed->InNamespace(Client, [&] {
    TIcmpEchoClient client;
    client.Host = "10.9.0.254";
    const int before = OpenSocketCount();
    client.PingOnce();
    EXPECT_EQ(OpenSocketCount(), before);
  });
}

TEST_F(IcmpEchoClientTest, FailedSendRaisesTheSocketErrorAndKeepsTheSocketUntilDestroyed) {
  const std::string lonely = Bed->AddHost("lonely");  // loopback only: no route anywhere
  Bed->InNamespace(lonely, [&] {
    const int before = OpenSocketCount();
    {
      TIcmpEchoClient client;
      client.Host = "10.9.0.254";
      try {
        client.PingOnce();
        ADD_FAILURE() << "PingOnce returned";
      } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), ENETUNREACH);
        EXPECT_STREQ(e.what(), "Socket Error # 101\r\nNetwork is unreachable.");
      }
      EXPECT_EQ(OpenSocketCount(), before + 1);
    }
    EXPECT_EQ(OpenSocketCount(), before);
  });
}

// Sends, from the router's namespace every 100 ms until stopped, ICMP errors to the client
// that do not answer the client's request to `target` with sequence 0: a redirect quoting that
// very request, and an unreachable quoting the same request with another sequence number.
class TStrayErrorSender {
 public:
  TStrayErrorSender(TNetnsBed& bed, const std::string& routerNs, const std::string& target)
      : Thread([this, &bed, routerNs, target] {
          TNetnsBed::EnterOnThisThread(routerNs);
          const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
          if (fd < 0) return;
          sockaddr_in client{};
          client.sin_family = AF_INET;
          client.sin_addr.s_addr = htonl(0x0A090001);  // 10.9.0.1
          for (int round = 0; round < 100 && !Done; ++round) {
            for (const auto& message : {Quoting(5, target, 0), Quoting(3, target, 7)}) {
              sendto(fd, message.data(), message.size(), 0,
                     reinterpret_cast<const sockaddr*>(&client), sizeof client);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
          }
          close(fd);
        }) {}
  ~TStrayErrorSender() {
    Done = true;
    Thread.join();
  }

 private:
  static std::vector<std::uint8_t> Quoting(std::uint8_t type, const std::string& target,
                                           std::uint16_t sequence) {
    std::vector<std::uint8_t> icmp = {type, 1, 0, 0, 10, 9, 0, 254,  // gateway for a redirect
                                      0x45, 0, 0, 72, 0, 0, 0, 0, 127, 1, 0, 0, 10, 9, 0, 1};
    const TAddressBytes to = TSocketStack::TextToAddress(target);
    icmp.insert(icmp.end(), to.begin(), to.end());
    std::uint8_t request[kEchoRequestLength];
    BuildEchoRequest(request, static_cast<std::uint16_t>(getpid() & 0xFFFF), sequence, 0);
    icmp.insert(icmp.end(), request, request + 8);
    PutBE16(icmp.data() + 2, InternetChecksum(icmp.data(), icmp.size()));
    return icmp;
  }

  std::atomic<bool> Done{false};
  std::thread Thread;
};

// The one slow case: the full five seconds pass while other ICMP traffic reaches the host.
TEST_F(IcmpEchoClientTest, DeadAddressTimesOutWhileOtherIcmpTrafficPassesBy) {
  Bed->Spawn(Client, {"ping", "-n", "-q", "-i", "0.2", "10.8.0.2"}, "/dev/null");
  for (int i = 0; i < 50 && IcmpCounter("InEchoReps") < 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const long echoRepliesBefore = IcmpCounter("InEchoReps");
  const long redirectsBefore = IcmpCounter("InRedirects");
  ASSERT_GE(echoRepliesBefore, 1) << "the other program's pings got no answer";

  TReplyStatus reply;
  {
    TStrayErrorSender strays(*Bed, Router, "10.9.0.3");
    reply = PingFromClient("10.9.0.3");
  }
  EXPECT_EQ(reply.ReplyKind, rkTimedOut);
  EXPECT_EQ(reply.ReceivedBytes, 0);
  EXPECT_EQ(reply.FromAddress, "0.0.0.0");
  EXPECT_EQ(reply.MessageType, 0);
  EXPECT_EQ(reply.Ttl, 0);
  EXPECT_EQ(reply.SequenceNumber, 1);  // the counter after the request with 0
  EXPECT_GT(IcmpCounter("InEchoReps"), echoRepliesBefore);
  EXPECT_GT(IcmpCounter("InRedirects"), redirectsBefore);
}

TEST_F(IcmpEchoClientTest, LiveHostAnswerIsFoundAmongOtherEchoTraffic) {
  Bed->Spawn(Client, {"ping", "-n", "-q", "-i", "0.2", "10.8.0.2"}, "/dev/null");
  for (int i = 0; i < 50 && IcmpCounter("InEchoReps") < 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_GE(IcmpCounter("InEchoReps"), 1);
  const TReplyStatus reply = PingFromClient("10.9.0.254");
  EXPECT_EQ(reply.ReplyKind, rkEcho);
  EXPECT_EQ(reply.FromAddress, "10.9.0.254");
  EXPECT_EQ(reply.Ttl, 64);
}

std::string Describe(const TReplyStatus& reply) {
  std::ostringstream text;
  text << "kind " << int(reply.ReplyKind) << " type " << int(reply.MessageType) << " from "
       << reply.FromAddress << " ttl " << int(reply.Ttl) << " seq " << reply.SequenceNumber
       << " bytes " << reply.ReceivedBytes;
  return text.str();
}

std::string PingAsNobody(const std::string& host) {
  if (socket(AF_INET, SOCK_RAW, IPPROTO_ICMP) >= 0) return "raw socket allowed";
  TIcmpEchoClient client;
  client.Host = host;
  client.PingOnce();
  return Describe(client.ReplyStatus());
}

TEST_F(IcmpEchoClientTest, WithoutRawSocketRightsTheDatagramSocketGivesTheSameRecords) {
  Bed->Run(Client, "sysctl -qw net.ipv4.ping_group_range='0 2147483647'");
  EXPECT_EQ(AsNobodyIn(Client, [] { return PingAsNobody("10.8.0.2"); }),
            "kind 0 type 0 from 10.8.0.2 ttl 63 seq 0 bytes 72");
  EXPECT_EQ(AsNobodyIn(Client, [] { return PingAsNobody("10.9.0.1"); }).substr(0, 7), "kind 0 ");
  const std::string unreachable = AsNobodyIn(Client, [] { return PingAsNobody("10.77.0.9"); });
  EXPECT_EQ(unreachable.substr(0, unreachable.find(" ttl")), "kind 3 type 3 from 10.9.0.254");
  const std::string exceeded = AsNobodyIn(Client, [] {
    TIcmpEchoClient client;
    client.Host = "10.8.0.2";
    client.TimeToLive = 1;
    client.PingOnce();
    return Describe(client.ReplyStatus());
  });
  EXPECT_EQ(exceeded.substr(0, exceeded.find(" ttl")), "kind 4 type 11 from 10.9.0.254");
}

TEST_F(IcmpEchoClientTest, WithNeitherRawSocketRightsNorPingGroupNoSocketCanBeAllocated) {
  Bed->Run(Client, "sysctl -qw net.ipv4.ping_group_range='1 0'");
  EXPECT_EQ(AsNobodyIn(Client, [] { return PingAsNobody("10.8.0.2"); }),
            "error: Cannot allocate socket.");
}

}  // namespace
}  // namespace scoutor
