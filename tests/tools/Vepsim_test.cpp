// The device simulator as the host meets it: requests broadcast from a host namespace, replies
// read byte by byte from a plain UDP socket there.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/NetnsBed.h"

namespace scoutor {
namespace {

using TBytes = std::vector<std::uint8_t>;
using ::testing::ElementsAreArray;

const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";

// "00 02 0A 00" -> the bytes; spaces only help the eye.
TBytes Hex(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (c != ' ') digits += c;
  EXPECT_EQ(digits.size() % 2, 0u) << text;
  TBytes bytes;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return bytes;
}

TBytes Join(std::initializer_list<TBytes> parts) {
  TBytes all;
  for (const TBytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// The host 10.0.0.1 and the two devices the fixture starts with.
const std::string kHostID = "00 02 0A 00 00 01 45 78";
const std::string kAp1 = "00 01 00 0A 1B 2C 3D 4E";
const std::string kCam2 = "00 01 00 0A 1B 2C 3D 4F";
const std::string kDiscoveryID = "01 00 00 00 00 00 00 00";
const std::string kRequestMiddle = "01 00 C0 01 01 00 01 00 01";  // Fixed1, Fixed2, Flags, Class
const std::string kReplyMiddle = "01 00 C0 01 00 00 01 00 01";

TBytes DiscoverRequest() {
  return Hex(kDiscoveryID + kHostID + kRequestMiddle + "00 01");
}
TBytes GetIPRequest(const std::string& device) {
  return Hex(device + kHostID + kRequestMiddle + "00 02");
}
TBytes SetIPRequest(const std::string& device, const std::string& body) {
  return Hex(device + kHostID + kRequestMiddle + "00 03" + body);
}

// The good replies of AP-1 (10.0.0.7/24, gateway 10.0.0.1, static) to the host.
TBytes Ap1DiscoverReply() {
  return Hex(kHostID + kAp1 + kReplyMiddle + "00 01" + "02 04 41 50 2D 31" +
             "03 06 42 72 69 64 67 65");
}
TBytes Ap1GetIPReply() {
  return Hex(kHostID + kAp1 + kReplyMiddle + "00 02" + "04 01 00" + "05 04 0A 00 00 07" +
             "06 04 FF FF FF 00" + "07 04 0A 00 00 01");
}

struct TDatagram {
  TBytes Bytes;
  std::string From;  // source address
  std::string To;    // destination address in the IP header
};

std::uint16_t MethodOf(const TDatagram& d) {
  return d.Bytes.size() >= 27 ? static_cast<std::uint16_t>(d.Bytes[25] << 8 | d.Bytes[26]) : 0;
}

// Sends `requests` as broadcasts from port 17784 out of `ifName` and collects what comes back
// (except the host's own requests) until `done` says so or 10 s have passed.
std::vector<TDatagram> Exchange(const std::string& ifName, const std::vector<TBytes>& requests,
                                const std::function<bool(const std::vector<TDatagram>&)>& done) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  EXPECT_GE(fd, 0);
  const int on = 1;
  const int buffer = 8 << 20;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
  setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, ifName.c_str(), ifName.size());
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(17784);
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  sockaddr_in broadcast{};
  broadcast.sin_family = AF_INET;
  broadcast.sin_port = htons(17784);
  broadcast.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  for (const TBytes& request : requests)
    EXPECT_EQ(sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&broadcast),
                     sizeof broadcast),
              static_cast<ssize_t>(request.size()));

  std::vector<TDatagram> received;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done(received) && std::chrono::steady_clock::now() < deadline) {
    pollfd readable{fd, POLLIN, 0};
    if (poll(&readable, 1, 100) <= 0) continue;
    std::uint8_t data[2048];
    sockaddr_in from{};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    iovec io{data, sizeof data};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t size = recvmsg(fd, &message, 0);
    if (size < 0) continue;
    TDatagram datagram{TBytes(data, data + size), inet_ntoa(from.sin_addr), ""};
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c))
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
        datagram.To = inet_ntoa(reinterpret_cast<in_pktinfo*>(CMSG_DATA(c))->ipi_addr);
    bool own = false;
    for (const TBytes& request : requests) own = own || datagram.Bytes == request;
    if (!own) received.push_back(datagram);
  }
  close(fd);
  return received;
}

// Done once `count` discovery replies (the sentinel at the end of a test's requests) are in.
std::function<bool(const std::vector<TDatagram>&)> UntilDiscoveryReplies(std::size_t count) {
  return [count](const std::vector<TDatagram>& received) {
    std::size_t found = 0;
    for (const TDatagram& d : received) found += MethodOf(d) == 1 && d.Bytes.size() > 27;
    return found >= count;
  };
}

std::function<bool(const std::vector<TDatagram>&)> UntilCount(std::size_t count) {
  return [count](const std::vector<TDatagram>& received) { return received.size() >= count; };
}

// What came before the discovery replies that close an exchange: one simulator answers
// requests in the order they arrive, so these are the answers to the earlier requests.
std::vector<TDatagram> BeforeDiscoveryReplies(const std::vector<TDatagram>& received) {
  std::vector<TDatagram> before;
  for (const TDatagram& d : received) {
    if (MethodOf(d) == 1) break;
    before.push_back(d);
  }
  return before;
}

class VepsimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SCOUTOR_REQUIRE_NETNS();
    Host = Bed.AddHost("host");
    Device = Bed.AddHost("dev");
    Lan = Bed.AddSegment("lan");
    Bed.Attach(Host, Lan, "eth0", "10.0.0.1/24");
    // 10.0.0.5 is the device namespace's primary address; 10.0.0.7 is AP-1's own.
    Bed.Attach(Device, Lan, "eth0", "10.0.0.5/24");
    Bed.Run(Device, "ip addr add 10.0.0.7/24 dev eth0");
  }

  // Starts vepsim in `ns` and waits until it listens; its log is kept for failure messages.
  pid_t Start(const std::string& ns, std::vector<std::string> arguments) {
    static int started = 0;
    const std::string log = ::testing::TempDir() + "vepsim-" + std::to_string(getpid()) + "-" +
                            std::to_string(started++) + ".log";
    unlink(log.c_str());
    Logs.push_back(log);
    arguments.insert(arguments.begin(), kVepsim);
    const pid_t pid = Bed.Spawn(ns, arguments, log);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (LogOf(Logs.size() - 1).find("listening") == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline)
        ADD_FAILURE() << "vepsim did not start: " << LogOf(Logs.size() - 1);
      if (std::chrono::steady_clock::now() > deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pid;
  }

  std::string LogOf(std::size_t index) const {
    std::ifstream file(Logs[index]);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  }

  pid_t StartTwoDevices(std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments = {
        "--device",
        "mac=00:0A:1B:2C:3D:4E,name=AP-1,type=Bridge,ip=10.0.0.7,mask=255.255.255.0,gw=10.0.0.1",
        "--device",
        "mac=00:0a:1b:2c:3d:4f,name=Cam-2,type=Camera,ip=10.0.0.9,mask=255.255.255.0,dhcp=1"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return Start(Device, arguments);
  }

  std::vector<TDatagram> FromHost(const std::vector<TBytes>& requests,
                                  const std::function<bool(const std::vector<TDatagram>&)>& done) {
    return Bed.InNamespace(Host, [&] { return Exchange("eth0", requests, done); });
  }

  void TearDown() override {
    for (const std::string& log : Logs) unlink(log.c_str());
  }

  test::TNetnsBed Bed;
  std::string Host, Device, Lan;
  std::vector<std::string> Logs;
};

TEST_F(VepsimTest, EveryDeviceAnswersDiscoveryWithNameAndTypeByBroadcast) {
  StartTwoDevices();
  const auto replies = FromHost({DiscoverRequest()}, UntilCount(2));
  ASSERT_EQ(replies.size(), 2u);
  std::map<std::string, TDatagram> byName;
  for (const TDatagram& d : replies) byName[d.Bytes.size() == 41 ? "AP-1" : "Cam-2"] = d;

  EXPECT_THAT(byName["AP-1"].Bytes, ElementsAreArray(Ap1DiscoverReply()));
  EXPECT_THAT(byName["Cam-2"].Bytes,
              ElementsAreArray(Hex(kHostID + kCam2 + kReplyMiddle + "00 01" +
                                   "02 05 43 61 6D 2D 32" + "03 06 43 61 6D 65 72 61")));
  // AP-1's address is on the interface: it replies from there; Cam-2's (10.0.0.9) is not, so
  // it replies from the interface's primary address.
  EXPECT_EQ(byName["AP-1"].From, "10.0.0.7");
  EXPECT_EQ(byName["Cam-2"].From, "10.0.0.5");
  EXPECT_EQ(byName["AP-1"].To, "255.255.255.255");
}

TEST_F(VepsimTest, GetIPIsAnsweredByTheAddressedDeviceOnly) {
  StartTwoDevices();
  const auto replies = FromHost({GetIPRequest(kAp1), DiscoverRequest()}, UntilDiscoveryReplies(2));
  ASSERT_TRUE(UntilDiscoveryReplies(2)(replies));
  const auto answers = BeforeDiscoveryReplies(replies);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_THAT(answers[0].Bytes, ElementsAreArray(Ap1GetIPReply()));
  EXPECT_EQ(answers[0].From, "10.0.0.7");
}

TEST_F(VepsimTest, SetIPIsAnsweredByTheAddressedDeviceOnlyAndChangesWhatGetIPReports) {
  StartTwoDevices();
  // Cam-2 (DHCP) becomes static 10.0.0.50/24 with gateway 10.0.0.1, then AP-1 goes to DHCP.
  const auto replies = FromHost(
      {SetIPRequest(kCam2, "0A 00 00 32  FF FF FF 00  0A 00 00 01  00"), GetIPRequest(kCam2),
       SetIPRequest(kAp1, "FF FF FF FF  FF FF FF FF  FF FF FF FF  01"), GetIPRequest(kAp1),
       DiscoverRequest()},
      UntilDiscoveryReplies(2));
  ASSERT_TRUE(UntilDiscoveryReplies(2)(replies));
  const auto answers = BeforeDiscoveryReplies(replies);
  ASSERT_EQ(answers.size(), 4u);
  EXPECT_THAT(answers[0].Bytes, ElementsAreArray(Hex(kHostID + kCam2 + kReplyMiddle + "00 03")));
  EXPECT_THAT(answers[1].Bytes, ElementsAreArray(Hex(kHostID + kCam2 + kReplyMiddle + "00 02" +
                                                     "04 01 00" + "05 04 0A 00 00 32" +
                                                     "06 04 FF FF FF 00" + "07 04 0A 00 00 01")));
  EXPECT_THAT(answers[2].Bytes, ElementsAreArray(Hex(kHostID + kAp1 + kReplyMiddle + "00 03")));
  // DHCP on: the flag changes, the address, mask and gateway stay.
  EXPECT_THAT(answers[3].Bytes, ElementsAreArray(Hex(kHostID + kAp1 + kReplyMiddle + "00 02" +
                                                     "04 01 01" + "05 04 0A 00 00 07" +
                                                     "06 04 FF FF FF 00" + "07 04 0A 00 00 01")));
}

// A device that never acknowledges a set-IP: it neither answers nor changes.
TEST_F(VepsimTest, IgnoredRequestsAreNeitherAnsweredNorCarriedOut) {
  StartTwoDevices({"--ignore", "set-ip"});
  const auto replies = FromHost(
      {SetIPRequest(kCam2, "0A 00 00 32  FF FF FF 00  0A 00 00 01  00"), GetIPRequest(kCam2),
       DiscoverRequest()},
      UntilDiscoveryReplies(2));
  ASSERT_TRUE(UntilDiscoveryReplies(2)(replies));
  const auto answers = BeforeDiscoveryReplies(replies);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_THAT(answers[0].Bytes, ElementsAreArray(Hex(kHostID + kCam2 + kReplyMiddle + "00 02" +
                                                     "04 01 01" + "05 04 0A 00 00 09" +
                                                     "06 04 FF FF FF 00" + "07 04 00 00 00 00")));
  const std::string usage =
      Bed.Run(Device, kVepsim + " --ignore upgrade --count 1 2>&1; echo exit=$?");
  EXPECT_THAT(usage,
              ::testing::HasSubstr("--ignore takes discover, get-ip or set-ip, not upgrade"));
  EXPECT_THAT(usage, ::testing::HasSubstr("exit=2"));
}

TEST_F(VepsimTest, RepliesForeignClassesShortDatagramsAndUnaddressedRequestsAreIgnored) {
  StartTwoDevices();
  const auto replies = FromHost(
      {
          // A reply (Flags 00) to the discovery destination.
          Hex(kDiscoveryID + kHostID + "01 00 C0 01 00 00 01 00 01 00 01"),
          // Class 00 01 00 02.
          Hex(kDiscoveryID + kHostID + "01 00 C0 01 01 00 01 00 02 00 01"),
          // Method 4.
          Hex(kAp1 + kHostID + kRequestMiddle + "00 04"),
          // 26 bytes: a discovery request without its last byte.
          Hex(kDiscoveryID + kHostID + kRequestMiddle + "00"),
          // A set-IP request without its body.
          Hex(kAp1 + kHostID + kRequestMiddle + "00 03"),
          // Get-IP to everybody: nobody is addressed.
          Hex(kDiscoveryID + kHostID + kRequestMiddle + "00 02"),
          // Get-IP to a device that is not here.
          GetIPRequest("00 01 00 0A 1B 2C 3D 50"),
          DiscoverRequest(),
      },
      UntilDiscoveryReplies(2));
  ASSERT_TRUE(UntilDiscoveryReplies(2)(replies));
  EXPECT_TRUE(BeforeDiscoveryReplies(replies).empty());
}

TEST_F(VepsimTest, UnicastRepliesGoToTheRequestsSource) {
  StartTwoDevices({"--unicast"});
  const auto replies = FromHost({GetIPRequest(kAp1)}, UntilCount(1));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_THAT(replies[0].Bytes, ElementsAreArray(Ap1GetIPReply()));
  EXPECT_EQ(replies[0].To, "10.0.0.1");
}

TEST_F(VepsimTest, DevicesAreReadFromAJsonFile) {
  const std::string file = ::testing::TempDir() + "vepsim-" + std::to_string(getpid()) + ".json";
  std::ofstream(file) << R"({"devices": [{"mac": "00:0A:1B:2C:3D:4E", "name": "AP-1",
      "type": "Bridge", "ip": "10.0.0.7", "mask": "255.255.255.0", "gw": "10.0.0.1",
      "dhcp": false}]})";
  Start(Device, {"--config", file});
  const auto replies = FromHost({GetIPRequest(kAp1), DiscoverRequest()}, UntilDiscoveryReplies(1));
  unlink(file.c_str());
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_THAT(replies[0].Bytes, ElementsAreArray(Ap1GetIPReply()));
  EXPECT_THAT(replies[1].Bytes, ElementsAreArray(Ap1DiscoverReply()));
}

TEST_F(VepsimTest, ADeviceInAForeignSubnetIsStillHeard) {
  const std::string foreign = Bed.AddHost("foreign");
  Bed.Attach(foreign, Lan, "eth0", "192.168.77.7/24");
  Start(foreign, {"--device", "mac=00:0A:1B:2C:3D:4E,name=AP-1,type=Bridge,ip=192.168.77.7"});
  const auto replies = FromHost({DiscoverRequest()}, UntilCount(1));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_THAT(replies[0].Bytes, ElementsAreArray(Ap1DiscoverReply()));
  EXPECT_EQ(replies[0].From, "192.168.77.7");
  EXPECT_EQ(replies[0].To, "255.255.255.255");
}

TEST_F(VepsimTest, ReaddressMovesTheDevicesAddressOnItsInterface) {
  const std::string solo = Bed.AddHost("solo");
  Bed.Attach(solo, Lan, "eth0", "10.0.0.7/24");
  // Cam-2's 10.0.0.8 is a secondary address of AP-1's subnet: it must survive AP-1's move.
  Bed.Run(solo, "ip addr add 10.0.0.8/24 dev eth0");
  Start(solo, {"--readdress", "eth0", "--device",
               "mac=00:0A:1B:2C:3D:4E,name=AP-1,type=Bridge,ip=10.0.0.7,mask=255.255.255.0",
               "--device", "mac=00:0A:1B:2C:3D:4F,name=Cam-2,type=Camera,ip=10.0.0.8"});
  Bed.Run(Host, "ping -c1 -W1 10.0.0.7");

  const auto replies =
      FromHost({SetIPRequest(kAp1, "0A 00 00 2A  FF FF FF 00  0A 00 00 01  00")}, UntilCount(1));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].From, "10.0.0.7");  // answered before moving
  // The move follows the set-IP reply at once, before the next request is read.
  const auto after = FromHost({GetIPRequest(kAp1)}, UntilCount(1));
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].From, "10.0.0.42");

  EXPECT_THAT(
      Bed.Run(solo, "ip -4 -o addr show dev eth0"),
      ::testing::AllOf(::testing::HasSubstr("10.0.0.42/24"), ::testing::HasSubstr("10.0.0.8/24"),
                       ::testing::Not(::testing::HasSubstr("10.0.0.7"))));
  EXPECT_THAT(Bed.Run(solo, "ip route show default"), ::testing::HasSubstr("via 10.0.0.1"));
  Bed.Run(Host, "ping -c1 -W1 10.0.0.42");
  Bed.Run(Host, "ping -c1 -W1 10.0.0.8");
  Bed.Run(Host, "! ping -c1 -W1 10.0.0.7");
}

TEST_F(VepsimTest, HeldAddressesAnswerPingsAndRepliesWhileItRunsAndGoAtTheEnd) {
  const std::string crowd = Bed.AddHost("crowd");
  Bed.Attach(crowd, Lan, "eth0", "");
  const pid_t pid = Start(crowd, {"--hold-addresses", "eth0", "--count", "3", "--ip-base",
                                  "10.0.0.20", "--mask", "255.255.255.0"});
  EXPECT_EQ(Bed.Run(crowd, "ip -4 -o addr show dev eth0 | awk '{print $4}'"),
            "10.0.0.20/24\n10.0.0.21/24\n10.0.0.22/24\n");
  Bed.Run(Host, "ping -c1 -W1 10.0.0.22");
  const auto replies = FromHost({GetIPRequest("00 01 02 00 00 00 00 02")}, UntilCount(1));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].From, "10.0.0.21");
  Bed.Stop(pid);
  EXPECT_EQ(Bed.Run(crowd, "ip -4 -o addr show dev eth0"), "");
}

TEST_F(VepsimTest, AThousandDevicesWithJitterAllAnswerFiveDiscoveries) {
  Start(Device, {"--count", "1000", "--mac-base", "02:00:00:00:10:00", "--ip-base", "10.0.1.0",
                 "--jitter", "50"});
  const std::vector<TBytes> fiveScans(5, DiscoverRequest());
  const auto replies = FromHost(fiveScans, UntilCount(5000));
  ASSERT_EQ(replies.size(), 5000u);
  std::map<std::string, int> answersPerDevice;
  for (const TDatagram& d : replies) {
    ASSERT_GE(d.Bytes.size(), 27u);
    answersPerDevice[std::string(d.Bytes.begin() + 8, d.Bytes.begin() + 16)]++;
  }
  ASSERT_EQ(answersPerDevice.size(), 1000u);
  for (const auto& [id, count] : answersPerDevice) EXPECT_EQ(count, 5);
  // Consecutive hardware addresses: 02:00:00:00:10:00 up to 02:00:00:00:13:E7.
  EXPECT_EQ(answersPerDevice.begin()->first, std::string("\x00\x01\x02\x00\x00\x00\x10\x00", 8));
  EXPECT_EQ(answersPerDevice.rbegin()->first, std::string("\x00\x01\x02\x00\x00\x00\x13\xE7", 8));
}

TEST_F(VepsimTest, StopsCleanlyOnSigtermWithItsFigures) {
  const pid_t pid = StartTwoDevices();
  FromHost({DiscoverRequest()}, UntilCount(2));
  const int status = Bed.Stop(pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_THAT(LogOf(0), ::testing::HasSubstr("stopped: 1 requests, 2 replies sent"));
}

// Without a usable device list it says why and ends with 1 before touching the network.
TEST(VepsimArguments, RepeatedHardwareAddressesAreRefused) {
  const std::string log = ::testing::TempDir() + "vepsim-args-" + std::to_string(getpid());
  const std::string command = kVepsim + " --device mac=00:0A:1B:2C:3D:4E,name=A --device " +
                              "mac=00:0a:1b:2c:3d:4e,name=B 2>" + log;
  const int status = std::system(command.c_str());
  std::ifstream file(log);
  std::ostringstream text;
  text << file.rdbuf();
  unlink(log.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_EQ(text.str(), "vepsim: hardware address 00:0A:1B:2C:3D:4E is given twice\n");
}

// Usage errors end with 2 before touching the network, as vepctl's do.
TEST(VepsimArguments, CountsOutOfBoundsAndUnknownOptionsAreUsageErrors) {
  const std::string log = ::testing::TempDir() + "vepsim-count-" + std::to_string(getpid());
  const auto exitOf = [&](const std::string& arguments) {
    const int status = std::system((kVepsim + " " + arguments + " 2>" + log).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  const auto logText = [&] {
    std::ifstream file(log);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  };
  EXPECT_EQ(exitOf("--count -1"), 2);
  EXPECT_THAT(logText(), ::testing::HasSubstr("--count must be a whole number from 0 to 65536"));
  EXPECT_EQ(exitOf("--count 65537"), 2);
  EXPECT_EQ(exitOf("--count many"), 2);
  EXPECT_EQ(exitOf("--count 10 --ip-base 255.255.255.250"), 2);
  EXPECT_THAT(logText(), ::testing::HasSubstr("too many devices for the given hardware or IP base"));
  EXPECT_EQ(exitOf("--no-such-option"), 2);
  unlink(log.c_str());
}

// Damaged replies: each mode turns AP-1's discovery reply into the bytes below, and with
// --malformed-then-good the good reply follows.
struct TMalformedCase {
  const char* Mode;
  std::function<TBytes()> Expected;
};

void PrintTo(const TMalformedCase& c, std::ostream* out) {
  *out << c.Mode;
}

class VepsimMalformedTest : public VepsimTest,
                            public ::testing::WithParamInterface<TMalformedCase> {};

TEST_P(VepsimMalformedTest, ProducesTheDamagedBytesThenTheGoodReply) {
  Start(Device, {"--malformed", GetParam().Mode, "--malformed-then-good", "--device",
                 "mac=00:0A:1B:2C:3D:4E,name=AP-1,type=Bridge,ip=10.0.0.7"});
  const auto replies = FromHost({DiscoverRequest()}, UntilCount(2));
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_THAT(replies[0].Bytes, ElementsAreArray(GetParam().Expected()));
  EXPECT_THAT(replies[1].Bytes, ElementsAreArray(Ap1DiscoverReply()));
}

const std::string kAp1Elements = "02 04 41 50 2D 31  03 06 42 72 69 64 67 65";

INSTANTIATE_TEST_SUITE_P(
    Modes, VepsimMalformedTest,
    ::testing::Values(
        TMalformedCase{"short", [] { return Hex(kHostID + kAp1 + kReplyMiddle + "00"); }},
        TMalformedCase{"overlong-element",
                       [] {
                         return Hex(kHostID + kAp1 + kReplyMiddle + "00 01" + kAp1Elements +
                                    "02 20 58 58");
                       }},
        TMalformedCase{
            "wrong-class",
            [] { return Hex(kHostID + kAp1 + "01 00 C0 01 00 00 01 00 02 00 01" + kAp1Elements); }},
        TMalformedCase{"wrong-method",
                       [] { return Hex(kHostID + kAp1 + kReplyMiddle + "00 04" + kAp1Elements); }},
        TMalformedCase{"wrong-destination",
                       [] {
                         return Hex("00 02 0A 00 00 01 45 79" + kAp1 + kReplyMiddle + "00 01" +
                                    kAp1Elements);
                       }},
        TMalformedCase{"oversize",
                       [] {
                         // 41 good bytes, then an element of code 7F with 157 zero bytes.
                         return Join({Ap1DiscoverReply(), Hex("7F 9D"), TBytes(157, 0)});
                       }},
        TMalformedCase{"empty", [] { return TBytes(); }},
        TMalformedCase{"request-flag",
                       [] {
                         return Hex(kHostID + kAp1 + "01 00 C0 01 01 00 01 00 01 00 01" +
                                    kAp1Elements);
                       }}),
    [](const ::testing::TestParamInfo<TMalformedCase>& modeInfo) {
      std::string name = modeInfo.param.Mode;
      std::erase(name, '-');
      return name;
    });

}  // namespace
}  // namespace scoutor
