#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "transport/SocketBinding.h"
#include "transport/SocketErrors.h"
#include "transport/SocketStack.h"
#include "transport/TransportComponent.h"
#include "tests/support/NetnsBed.h"

namespace scoutor {
namespace {

// ---- Error texts and kinds ---------------------------------------------------------------

TEST(SocketErrors, KnownCodeGivesNumberLineBreakAndText) {
  EXPECT_EQ(TSocketStack::TranslateError(ECONNRESET),
            "Socket Error # 104\r\nConnection reset by peer.");
  const EIdSocketError error(ECONNRESET);
  EXPECT_STREQ(error.what(), "Socket Error # 104\r\nConnection reset by peer.");
  EXPECT_EQ(error.LastError(), 104);
}

TEST(SocketErrors, UnknownCodeEndsRightAfterTheLineBreak) {
  EXPECT_EQ(TSocketStack::TranslateError(11001), "Socket Error # 11001\r\n");
}

TEST(SocketErrors, TextsAreKeptLetterForLetter) {
  EXPECT_EQ(TSocketStack::TranslateError(EWOULDBLOCK), "Socket Error # 11\r\nOperation would block. ");
  EXPECT_EQ(TSocketStack::TranslateError(ENOTEMPTY), "Socket Error # 39\r\nDirectory not empty");
  EXPECT_EQ(TSocketStack::TranslateError(EADDRINUSE), "Socket Error # 98\r\nAddress already in use.");
  EXPECT_EQ(TSocketStack::TranslateError(ENETUNREACH),
            "Socket Error # 101\r\nNetwork is unreachable.");
  EXPECT_EQ(TSocketStack::TranslateError(EHOSTUNREACH), "Socket Error # 113\r\nNo route to host.");
}

TEST(SocketErrors, KindsHaveTheirParentsAndFixedMessages) {
  static_assert(std::is_base_of_v<EIdSocketHandleError, EIdCouldNotBindSocket>);
  static_assert(std::is_base_of_v<EIdSocketHandleError, EIdPackageSizeTooBig>);
  static_assert(std::is_base_of_v<EIdSocketHandleError, EIdNotAllBytesSent>);
  static_assert(std::is_base_of_v<EIdStackError, EIdStackSetSizeExceeded>);
  static_assert(std::is_base_of_v<EIdStackError, EIdStackInitializationFailed>);
  static_assert(std::is_base_of_v<EIdException, EIdSocketError>);
  static_assert(std::is_base_of_v<EIdException, EIdInvalidSocket>);
  static_assert(std::is_base_of_v<EIdException, EIdConnClosedGracefully>);
  static_assert(std::is_base_of_v<EIdException, EIdSocketHandleError>);
  static_assert(std::is_base_of_v<EIdException, EIdStackError>);
  static_assert(!std::is_base_of_v<EIdSocketError, EIdCouldNotBindSocket>);
  EXPECT_STREQ(EIdInvalidSocket().what(), "Cannot allocate socket.");
  EXPECT_STREQ(EIdCouldNotBindSocket().what(),
               "Could not bind socket. Address and port are already in use.");
  EXPECT_STREQ(EIdPackageSizeTooBig().what(), "Package Size Too Big.");
  EXPECT_STREQ(EIdNotAllBytesSent().what(), "Not all bytes sent.");
  EXPECT_STREQ(EIdConnClosedGracefully().what(), "Connection Closed Gracefully.");
  EXPECT_STREQ(EIdStackSetSizeExceeded().what(), "Set Size Exceeded.");
  EXPECT_STREQ(EIdStackInitializationFailed().what(), "Winsock Initialization Error.");
  EXPECT_STREQ(EIdNoBindingsSpecified().what(), "No bindings specified.");
  EXPECT_STREQ(EIdUDPReceiveErrorZeroBytes().what(), "UDP Receive Error = 0.");
}

TEST(SocketErrors, CheckResultPassesSuccessAndToleratedCodesAndRaisesTheRest) {
  EXPECT_FALSE(TSocketStack::CheckResult(0));
  EXPECT_FALSE(TSocketStack::CheckResult(5, {EINTR}));
  errno = EADDRINUSE;
  EXPECT_TRUE(TSocketStack::CheckResult(-1, {EADDRINUSE}));
  errno = ECONNREFUSED;
  try {
    TSocketStack::CheckResult(-1, {EADDRINUSE});
    FAIL() << "no error raised";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), ECONNREFUSED);
    EXPECT_STREQ(e.what(), "Socket Error # 111\r\nConnection refused.");
  }
}

// ---- Address texts -----------------------------------------------------------------------

TEST(SocketAddresses, DottedAddressNeedsFourNumbersFrom0To255) {
  EXPECT_TRUE(TSocketStack::IsDottedAddress("192.168.1.20"));
  EXPECT_TRUE(TSocketStack::IsDottedAddress("0.0.0.0"));
  EXPECT_TRUE(TSocketStack::IsDottedAddress("255.255.255.255"));
  EXPECT_FALSE(TSocketStack::IsDottedAddress("192.168.1.256"));
  EXPECT_FALSE(TSocketStack::IsDottedAddress("192.168.1"));
  EXPECT_FALSE(TSocketStack::IsDottedAddress("a.b.c.d"));
  EXPECT_FALSE(TSocketStack::IsDottedAddress("1.2.3.4.5"));
  EXPECT_FALSE(TSocketStack::IsDottedAddress("1..3.4"));
  EXPECT_FALSE(TSocketStack::IsDottedAddress(""));
  EXPECT_FALSE(TSocketStack::IsDottedAddress("device.local"));
}

TEST(SocketAddresses, TextAndBytesConvertBothWays) {
  EXPECT_EQ(TSocketStack::AddressToText({10, 0, 200, 7}), "10.0.200.7");
  EXPECT_EQ(TSocketStack::TextToAddress("192.168.1.20"), (TAddressBytes{192, 168, 1, 20}));
  EXPECT_THROW(TSocketStack::TextToAddress("a.b.c.d"), std::invalid_argument);
  EXPECT_THROW(TSocketStack::TextToAddress("192.168.1"), std::invalid_argument);
}

TEST(SocketAddresses, OutOfRangePartIsRefusedRatherThanCutToAByte) {
  EXPECT_THROW(TSocketStack::TextToAddress("192.168.1.256"), std::invalid_argument);
}

TEST(SocketAddresses, LocalhostInAnyCaseNeedsNoLookup) {
  EXPECT_EQ(TSocketStack::LookupAddress("localhost"), "127.0.0.1");
  EXPECT_EQ(TSocketStack::LookupAddress("LocalHost"), "127.0.0.1");
  EXPECT_EQ(TSocketStack::LookupAddress("LOCALHOST"), "127.0.0.1");
}

TEST(SocketAddresses, DottedAddressIsReturnedUnchanged) {
  EXPECT_EQ(TSocketStack::LookupAddress("10.1.2.3"), "10.1.2.3");
  EXPECT_EQ(TSocketStack::LookupAddress("255.255.255.255"), "255.255.255.255");
}

TEST(SocketAddresses, FailedLookupRaisesSocketError) {
  SCOUTOR_REQUIRE_NETNS();
  // In a namespace with only loopback, so a resolver query cannot leave the machine.
  test::TNetnsBed bed;
  const std::string ns = bed.AddHost("lookup");
  bed.InNamespace(ns, [] {
    EXPECT_THROW(TSocketStack::LookupAddress("no-such-device.invalid"), EIdSocketError);
  });
}

// ---- Readiness wait ----------------------------------------------------------------------

class SocketWait : public ::testing::Test {
 protected:
  // A UDP socket bound to 127.0.0.1 on a port the system chooses.
  int LoopbackSocket(int& port) {
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    Opened.push_back(s);
    return s;
  }
  void SendTo(int port, const char* text) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sendto(s, text, std::strlen(text), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    close(s);
  }
  void TearDown() override {
    for (int s : Opened) close(s);
  }
  std::vector<int> Opened;
};

TEST_F(SocketWait, SixtyFiveSocketsInOneListAreRefusedSixtyFourAccepted) {
  int port = 0;
  std::vector<TSocketHandle> list;
  for (int i = 0; i < 64; ++i) list.push_back(LoopbackSocket(port));
  std::vector<TSocketHandle> copy = list;
  EXPECT_EQ(TSocketStack::WaitForSockets(&copy, nullptr, nullptr, 0), 0);
  EXPECT_TRUE(copy.empty());
  list.push_back(LoopbackSocket(port));
  EXPECT_THROW(TSocketStack::WaitForSockets(&list, nullptr, nullptr, 0), EIdStackSetSizeExceeded);
  EXPECT_EQ(list.size(), 65u);
}

TEST_F(SocketWait, LimitHoldsPerListNotForAllListsTogether) {
  int port = 0;
  std::vector<TSocketHandle> read, error;
  for (int i = 0; i < 64; ++i) read.push_back(LoopbackSocket(port));
  for (int i = 0; i < 64; ++i) error.push_back(LoopbackSocket(port));
  EXPECT_EQ(TSocketStack::WaitForSockets(&read, nullptr, &error, 0), 0);
}

TEST_F(SocketWait, ListsKeepOnlyTheirReadySocketsInTheirOwnOrder) {
  int p1 = 0, p2 = 0, p3 = 0;
  const int s1 = LoopbackSocket(p1);
  const int s2 = LoopbackSocket(p2);
  const int s3 = LoopbackSocket(p3);
  SendTo(p3, "three");
  SendTo(p1, "one");
  std::vector<TSocketHandle> read{s3, s2, s1};
  std::vector<TSocketHandle> write{s2};
  EXPECT_EQ(TSocketStack::WaitForSockets(&read, &write, nullptr, 1000), 3);
  EXPECT_EQ(read, (std::vector<TSocketHandle>{s3, s1}));
  EXPECT_EQ(write, (std::vector<TSocketHandle>{s2}));
}

TEST_F(SocketWait, NoLimitWaitReturnsWhenASocketIsReady) {
  int port = 0;
  const int s = LoopbackSocket(port);
  SendTo(port, "x");
  std::vector<TSocketHandle> read{s};
  EXPECT_EQ(TSocketStack::WaitForSockets(&read, nullptr, nullptr, -2), 1);
}

TEST_F(SocketWait, ClosedHandleFailsTheWait) {
  int port = 0;
  const int s = LoopbackSocket(port);
  Opened.pop_back();
  close(s);
  std::vector<TSocketHandle> read{s};
  EXPECT_EQ(TSocketStack::WaitForSockets(&read, nullptr, nullptr, 0), -1);
}

TEST_F(SocketWait, HandlesAboveTheSelectLimitWork) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_max < 2048) GTEST_SKIP() << "cannot open descriptors above 1024 here";
  const rlimit saved = limit;
  limit.rlim_cur = 2048;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
  int port = 0;
  const int s = LoopbackSocket(port);
  const int high = dup2(s, 1500);
  ASSERT_EQ(high, 1500);
  SendTo(port, "high");
  std::vector<TSocketHandle> read{high};
  EXPECT_EQ(TSocketStack::WaitForSockets(&read, nullptr, nullptr, 1000), 1);
  EXPECT_EQ(read, std::vector<TSocketHandle>{1500});
  close(high);
  setrlimit(RLIMIT_NOFILE, &saved);
}

// ---- Transport components ----------------------------------------------------------------

class TWorker : public TTransportComponent {
 public:
  using TTransportComponent::BeginWork;
  using TTransportComponent::DoWork;
  using TTransportComponent::EndWork;
};

TEST(TransportComponent, LiveComponentsAreCounted) {
  const int before = TSocketStack::LiveComponents();
  {
    TWorker a;
    TWorker b;
    EXPECT_EQ(TSocketStack::LiveComponents(), before + 2);
  }
  EXPECT_EQ(TSocketStack::LiveComponents(), before);
}

TEST(TransportComponent, OnlyTheOutermostWorkStepRaisesBeginAndEnd) {
  TWorker worker;
  std::vector<std::string> events;
  worker.OnWorkBegin = [&](TTransportComponent&, TWorkMode, std::int64_t max) {
    events.push_back("begin " + std::to_string(max));
  };
  worker.OnWork = [&](TTransportComponent&, TWorkMode, std::int64_t count) {
    events.push_back("work " + std::to_string(count));
  };
  worker.OnWorkEnd = [&](TTransportComponent&, TWorkMode) { events.push_back("end"); };

  worker.BeginWork(TWorkMode::Write, 1000);
  worker.DoWork(TWorkMode::Write, 512);
  worker.BeginWork(TWorkMode::Write, 77);  // nested: no event, total unchanged
  worker.DoWork(TWorkMode::Write, 488);
  worker.EndWork(TWorkMode::Write);
  worker.EndWork(TWorkMode::Write);
  EXPECT_EQ(events, (std::vector<std::string>{"begin 1000", "work 512", "work 1000", "end"}));
}

TEST(TransportComponent, WorkOutsideABeginAndAnEndTooManyRaiseNothing) {
  TWorker worker;
  int calls = 0;
  worker.OnWork = [&](TTransportComponent&, TWorkMode, std::int64_t) { ++calls; };
  worker.OnWorkEnd = [&](TTransportComponent&, TWorkMode) { ++calls; };
  worker.DoWork(TWorkMode::Write, 10);
  worker.EndWork(TWorkMode::Write);
  EXPECT_EQ(calls, 0);
  worker.BeginWork(TWorkMode::Write, 10);
  worker.EndWork(TWorkMode::Write);
  worker.EndWork(TWorkMode::Write);
  EXPECT_EQ(calls, 1);
}

TEST(TransportComponent, ReadAndWriteWorkAreCountedApart) {
  TWorker worker;
  std::vector<std::string> events;
  worker.OnWork = [&](TTransportComponent&, TWorkMode mode, std::int64_t count) {
    events.push_back((mode == TWorkMode::Read ? "read " : "write ") + std::to_string(count));
  };
  worker.BeginWork(TWorkMode::Read, 0);
  worker.BeginWork(TWorkMode::Write, 0);
  worker.DoWork(TWorkMode::Read, 3);
  worker.DoWork(TWorkMode::Write, 5);
  worker.DoWork(TWorkMode::Read, 3);
  EXPECT_EQ(events, (std::vector<std::string>{"read 3", "write 5", "read 6"}));
}

}  // namespace
}  // namespace scoutor
