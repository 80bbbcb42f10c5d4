#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>
#include <vector>

#include "transport/SocketBinding.h"
#include "transport/SocketBindings.h"
#include "transport/SocketErrors.h"

namespace scoutor {
namespace {

// A UDP binding on 127.0.0.1 with a port the system chose.
void OpenOnLoopback(TSocketBinding& binding) {
  binding.IP = "127.0.0.1";
  binding.Port = 0;
  binding.Open(SOCK_DGRAM, 0);
  binding.BindLocal();
}

TEST(SocketBinding, BindConflictRaisesCouldNotBindWithItsOwnText) {
  TSocketBinding first;
  OpenOnLoopback(first);
  TSocketBinding second;
  second.IP = "127.0.0.1";
  second.Port = first.Port;
  second.Open(SOCK_DGRAM, 0);
  try {
    second.BindLocal();
    FAIL() << "the second bind succeeded";
  } catch (const EIdSocketError& e) {
    FAIL() << "generic socket error instead: " << e.what();
  } catch (const EIdCouldNotBindSocket& e) {
    EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_TRUE(second.Allocated());  // the socket stays open, unbound
}

TEST(SocketBinding, OtherBindFailureIsTheGenericSocketError) {
  TSocketBinding binding;
  binding.IP = "192.0.2.1";  // not an address of this host
  binding.Open(SOCK_DGRAM, 0);
  try {
    binding.BindLocal();
    FAIL() << "bound to a foreign address";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), EADDRNOTAVAIL);
    EXPECT_STREQ(e.what(), "Socket Error # 99\r\nCannot assign requested address.");
  }
}

TEST(SocketBinding, AnyAddressPortZeroReadsBackTheChosenPort) {
  TSocketBinding binding;
  binding.Open(SOCK_DGRAM, 0);
  binding.BindLocal();
  EXPECT_EQ(binding.IP, "0.0.0.0");
  EXPECT_NE(binding.Port, 0);
}

TEST(SocketBinding, CloseClearsTheLocalAddressUnlessToldNotToAndAlwaysTheRemote) {
  TSocketBinding binding;
  OpenOnLoopback(binding);
  const int port = binding.Port;
  binding.SetRemote("10.0.0.7", 17784);
  binding.Close(false);
  EXPECT_FALSE(binding.Allocated());
  EXPECT_EQ(binding.IP, "127.0.0.1");
  EXPECT_EQ(binding.Port, port);
  EXPECT_EQ(binding.RemoteIP, "");
  EXPECT_EQ(binding.RemotePort, 0);

  binding.Open(SOCK_DGRAM, 0);
  binding.SetRemote("10.0.0.7", 17784);
  binding.Close();
  EXPECT_EQ(binding.IP, "");
  EXPECT_EQ(binding.Port, 0);
  EXPECT_EQ(binding.RemoteIP, "");
  EXPECT_EQ(binding.RemotePort, 0);
  EXPECT_EQ(binding.Handle(), kInvalidSocket);
}

TEST(SocketBinding, CloseOfAClosedBindingChangesNothing) {
  TSocketBinding binding;
  binding.IP = "10.0.0.1";
  binding.Port = 17784;
  binding.SetRemote("10.0.0.7", 69);
  binding.Close();
  EXPECT_EQ(binding.IP, "10.0.0.1");
  EXPECT_EQ(binding.Port, 17784);
  EXPECT_EQ(binding.RemoteIP, "10.0.0.7");
}

TEST(SocketBinding, OpeningAgainKeepsTheConfiguredAddress) {
  TSocketBinding binding;
  OpenOnLoopback(binding);
  const int port = binding.Port;
  binding.Open(SOCK_DGRAM, 0);
  EXPECT_EQ(binding.IP, "127.0.0.1");
  EXPECT_EQ(binding.Port, port);
  binding.BindLocal();  // the earlier socket is closed, so its port is free again
  EXPECT_EQ(binding.Port, port);
}

TEST(SocketBinding, WaitReadableOnAClosedBindingRaisesClosedGracefully) {
  TSocketBinding binding;
  EXPECT_THROW(binding.WaitReadable(0), EIdConnClosedGracefully);
}

TEST(SocketBinding, WaitReadableWithTimeoutZeroOnAnIdleSocketIsFalse) {
  TSocketBinding binding;
  OpenOnLoopback(binding);
  EXPECT_FALSE(binding.WaitReadable(0));
}

TEST(SocketBinding, DatagramTravelsWithItsSourceAddressAndPort) {
  TSocketBinding receiver, sender;
  OpenOnLoopback(receiver);
  OpenOnLoopback(sender);
  const std::uint8_t bytes[5] = {0x00, 0x01, 0xFE, 0x45, 0x78};
  sender.Transmit("127.0.0.1", receiver.Port, bytes, sizeof bytes);
  ASSERT_TRUE(receiver.WaitReadable(5000));
  std::uint8_t got[16] = {};
  std::string fromIP;
  int fromPort = 0;
  ASSERT_EQ(receiver.ReceiveFrom(got, sizeof got, fromIP, fromPort), 5);
  EXPECT_EQ(std::vector<std::uint8_t>(got, got + 5), std::vector<std::uint8_t>(bytes, bytes + 5));
  EXPECT_EQ(fromIP, "127.0.0.1");
  EXPECT_EQ(fromPort, sender.Port);

  sender.Transmit("127.0.0.1", receiver.Port, "abc", 3);
  ASSERT_TRUE(receiver.WaitReadable(5000));
  EXPECT_EQ(receiver.Receive(got, sizeof got), 3);
}

TEST(SocketBinding, OversizedDatagramRaisesPackageSizeTooBig) {
  TSocketBinding sender;
  OpenOnLoopback(sender);
  const std::vector<std::uint8_t> huge(70000, 0x55);
  EXPECT_THROW(sender.Transmit("127.0.0.1", 9, huge.data(), huge.size()), EIdPackageSizeTooBig);
  EXPECT_TRUE(sender.Allocated());
}

TEST(SocketBinding, FailedOptionRaisesSocketError) {
  TSocketBinding binding;
  binding.Open(SOCK_DGRAM, 0);
  try {
    binding.SetOption(SOL_SOCKET, 12345, 1);
    FAIL() << "unknown option accepted";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), ENOPROTOOPT);
  }
}

TEST(SocketBinding, BroadcastOptionReadsBackAsWritten) {
  TSocketBinding binding;
  binding.Open(SOCK_DGRAM, 0);
  binding.SetOption(SOL_SOCKET, SO_BROADCAST, -1);
  int value = 0;
  socklen_t length = sizeof value;
  getsockopt(binding.Handle(), SOL_SOCKET, SO_BROADCAST, &value, &length);
  EXPECT_NE(value, 0);
}

// ---- The collection ----------------------------------------------------------------------

TEST(SocketBindings, NewBindingGetsTheDefaultPortAndNoAddress) {
  TSocketBindings bindings;
  bindings.DefaultPort = 17784;
  TSocketBinding& added = bindings.AddBinding();
  EXPECT_EQ(bindings.Count(), 1u);
  EXPECT_EQ(&bindings[0], &added);
  EXPECT_EQ(added.IP, "");
  EXPECT_EQ(added.Port, 17784);
  EXPECT_EQ(added.RemoteIP, "");
  EXPECT_FALSE(added.Allocated());
}

TEST(SocketBindings, FindByHandleFindsOnlyOpenSockets) {
  TSocketBindings bindings;
  TSocketBinding& a = bindings.AddBinding();
  TSocketBinding& b = bindings.AddBinding();
  bindings.AddBinding();  // never opened
  a.Open(SOCK_DGRAM, 0);
  b.Open(SOCK_DGRAM, 0);
  EXPECT_EQ(bindings.FindByHandle(a.Handle()), &a);
  EXPECT_EQ(bindings.FindByHandle(b.Handle()), &b);
  EXPECT_EQ(bindings.FindByHandle(kInvalidSocket), nullptr);
  const TSocketHandle old = b.Handle();
  b.Close();
  if (old != a.Handle()) {
    EXPECT_EQ(bindings.FindByHandle(old), nullptr);
  }
}

TEST(SocketBindings, CopyFromCopiesAddressesButNoSocketsNorDefaultPort) {
  TSocketBindings prepared;
  prepared.DefaultPort = 17784;
  TSocketBinding& a = prepared.AddBinding();
  a.IP = "10.0.0.1";
  TSocketBinding& b = prepared.AddBinding();
  b.IP = "192.168.5.1";
  b.SetRemote("192.168.5.9", 4000);
  b.Open(SOCK_DGRAM, 0);

  TSocketBindings target;
  target.AddBinding().IP = "1.1.1.1";
  target.CopyFrom(prepared);
  ASSERT_EQ(target.Count(), 2u);
  EXPECT_EQ(target.DefaultPort, 0);
  EXPECT_EQ(target[0].IP, "10.0.0.1");
  EXPECT_EQ(target[0].Port, 17784);
  EXPECT_EQ(target[1].IP, "192.168.5.1");
  EXPECT_EQ(target[1].RemoteIP, "192.168.5.9");
  EXPECT_EQ(target[1].RemotePort, 4000);
  EXPECT_FALSE(target[1].Allocated());
}

}  // namespace
}  // namespace scoutor
