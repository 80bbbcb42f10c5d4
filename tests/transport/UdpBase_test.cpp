#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string>

#include "transport/SocketBinding.h"
#include "transport/SocketErrors.h"
#include "transport/UdpBase.h"

namespace scoutor {
namespace {

int BroadcastOption(const TSocketBinding& binding) {
  int value = -7;
  socklen_t length = sizeof value;
  getsockopt(binding.Handle(), SOL_SOCKET, SO_BROADCAST, &value, &length);
  return value;
}

int LocalPort(const TSocketBinding& binding) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(binding.Handle(), reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// A peer on 127.0.0.1 for the client to talk to.
class UdpBase : public ::testing::Test {
 protected:
  void SetUp() override {
    Peer.IP = "127.0.0.1";
    Peer.Open(SOCK_DGRAM, 0);
    Peer.BindLocal();
  }
  TSocketBinding Peer;
  TUdpBase Client;
};

TEST_F(UdpBase, DefaultsAreInactiveWithAnEightKilobyteBuffer) {
  EXPECT_FALSE(Client.Active());
  EXPECT_EQ(Client.BufferSize, 8192);
  EXPECT_EQ(Client.ReceiveTimeout, -2);
  EXPECT_EQ(Client.Port, 0);
  EXPECT_EQ(Client.Host, "");
  EXPECT_FALSE(Client.BroadcastEnabled());
}

TEST_F(UdpBase, SendBytesOpensTheSocketAndTheSystemPicksItsPort) {
  Client.Host = "127.0.0.1";
  Client.Port = Peer.Port;
  Client.SendBytes({0x00, 0x02, 0x2F, 0x00});
  ASSERT_TRUE(Client.Active());
  ASSERT_TRUE(Peer.WaitReadable(5000));
  std::uint8_t got[8] = {};
  std::string fromIP;
  int fromPort = 0;
  ASSERT_EQ(Peer.ReceiveFrom(got, sizeof got, fromIP, fromPort), 4);
  EXPECT_EQ(got[2], 0x2F);
  EXPECT_EQ(fromPort, LocalPort(Client.GetSocket()));
  EXPECT_NE(fromPort, 0);
}

TEST_F(UdpBase, ReplyComesBackWithItsPeer) {
  Client.SendBytesTo("LOCALHOST", Peer.Port, {'h', 'i'});
  const int clientPort = LocalPort(Client.GetSocket());
  Peer.Transmit("127.0.0.1", clientPort, "reply", 5);
  std::string peerIP;
  int peerPort = 0;
  const TBytes got = Client.ReceiveBytes(peerIP, peerPort, 5000);
  EXPECT_EQ(std::string(got.begin(), got.end()), "reply");
  EXPECT_EQ(peerIP, "127.0.0.1");
  EXPECT_EQ(peerPort, Peer.Port);
}

TEST_F(UdpBase, LongerDatagramIsCutToTheBufferSize) {
  Client.BufferSize = 4;
  Client.SendDatagram("127.0.0.1", Peer.Port, "x", 1);
  Peer.Transmit("127.0.0.1", LocalPort(Client.GetSocket()), "0123456789", 10);
  std::string peerIP;
  int peerPort = 0;
  const TBytes got = Client.ReceiveBytes(peerIP, peerPort, 5000);
  EXPECT_EQ(std::string(got.begin(), got.end()), "0123");
}

TEST_F(UdpBase, ReceiveWithoutTrafficReturnsZeroAndAnEmptyPeer) {
  Client.ReceiveTimeout = 100;
  char buffer[16];
  std::string peerIP = "stale";
  int peerPort = 99;
  EXPECT_EQ(Client.ReceiveInto(buffer, sizeof buffer, peerIP, peerPort), 0);
  EXPECT_EQ(peerIP, "");
  EXPECT_EQ(peerPort, 0);
  EXPECT_TRUE(Client.ReceiveBytes(peerIP, peerPort, 0).empty());
}

TEST_F(UdpBase, EmptyDatagramRaisesReceiveErrorZeroBytes) {
  Client.SendDatagram("127.0.0.1", Peer.Port, "x", 1);
  Peer.Transmit("127.0.0.1", LocalPort(Client.GetSocket()), "", 0);
  std::string peerIP;
  int peerPort = 0;
  try {
    Client.ReceiveBytes(peerIP, peerPort, 5000);
    FAIL() << "empty datagram accepted";
  } catch (const EIdUDPReceiveErrorZeroBytes& e) {
    EXPECT_STREQ(e.what(), "UDP Receive Error = 0.");
  }
}

TEST_F(UdpBase, BroadcastOptionIsWrittenAtOpeningAndAtOnceWhileActive) {
  TSocketBinding& socket = Client.GetSocket();
  EXPECT_EQ(BroadcastOption(socket), 0);
  Client.SetBroadcastEnabled(true);
  EXPECT_NE(BroadcastOption(socket), 0);
  Client.SetBroadcastEnabled(false);
  EXPECT_EQ(BroadcastOption(socket), 0);
}

TEST_F(UdpBase, BroadcastSetBeforeOpeningIsAppliedWhenOpened) {
  Client.SetBroadcastEnabled(true);
  EXPECT_FALSE(Client.Active());
  EXPECT_NE(BroadcastOption(Client.GetSocket()), 0);
}

TEST_F(UdpBase, DeactivationClosesTheSocketAndTheNextUseOpensAnother) {
  Client.SetActive(true);
  ASSERT_TRUE(Client.Active());
  Client.SetActive(false);
  EXPECT_FALSE(Client.Active());
  Client.SendDatagram("127.0.0.1", Peer.Port, "again", 5);
  EXPECT_TRUE(Client.Active());
  EXPECT_TRUE(Peer.WaitReadable(5000));
}

}  // namespace
}  // namespace scoutor
