// vepsim as a complete device: firmware uploads by TFTP to each device's own address, from
// Debian's atftp, from vepctl and from a plain UDP socket that writes the packets by hand; the
// busy first upload, the restart after an upload, and the TFTP port that follows a set-IP.
//
//   pc   10.0.0.1/24   atftp, vepctl and the hand-written client
//   dev  (no address)  vepsim --hold-addresses eth0 --tftp <store>: AP-1 10.0.0.7, AP-2 10.0.0.8
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/NetnsBed.h"
#include "tests/support/PcOnLan.h"
#include "tests/support/ToolRun.h"

namespace scoutor::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using TBytes = std::vector<std::uint8_t>;
using TClock = std::chrono::steady_clock;

const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";
const std::string kVepctl = SCOUTOR_BINARY_DIR "/tools/vepctl/vepctl";

const std::string kAp1 = "mac=02:00:00:00:00:01,name=AP-1,ip=10.0.0.7,mask=255.255.255.0";
const std::string kAp2 = "mac=02:00:00:00:00:02,name=AP-2,ip=10.0.0.8,mask=255.255.255.0";
const std::string kAp1Id = "02:00:00:00:00:01";
const std::string kAp2Id = "02:00:00:00:00:02";
const std::string kAp1File = "02-00-00-00-00-01.bin";

// ---- packets as the hand-written client sends and expects them ----

TBytes Op(std::uint8_t opcode, std::uint16_t number) {
  return {0, opcode, static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)};
}

// Opcode (1 read, 2 write), then each text with its zero byte.
TBytes Request(std::uint8_t opcode, const std::vector<std::string>& texts) {
  TBytes packet = {0, opcode};
  for (const std::string& text : texts) {
    packet.insert(packet.end(), text.begin(), text.end());
    packet.push_back(0);
  }
  return packet;
}

TBytes Data(std::uint16_t block, const TBytes& bytes) {
  TBytes packet = Op(3, block);
  packet.insert(packet.end(), bytes.begin(), bytes.end());
  return packet;
}

TBytes Pattern(std::size_t size, int seed) {
  TBytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + seed);
  return bytes;
}

std::string AsText(const TBytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

struct TReceived {
  TBytes Bytes;
  std::uint16_t Port = 0;  // the sender's
};

// A UDP socket of the PC's namespace on a port of its own, for writing TFTP by hand.
class THandClient {
 public:
  THandClient(TNetnsBed& bed, const std::string& pc) {
    Fd = bed.InNamespace(pc, [] {
      const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in any{};
      any.sin_family = AF_INET;
      if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0)
        throw std::runtime_error("no client socket");
      return fd;
    });
  }
  ~THandClient() { close(Fd); }
  THandClient(const THandClient&) = delete;
  THandClient& operator=(const THandClient&) = delete;

  void Send(const TBytes& packet, const std::string& address, std::uint16_t port) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    ASSERT_EQ(
        sendto(Fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
        static_cast<ssize_t>(packet.size()));
  }

  // The next datagram within `ms` milliseconds.
  std::optional<TReceived> Receive(int ms) const {
    pollfd readable{Fd, POLLIN, 0};
    if (poll(&readable, 1, ms) <= 0) return std::nullopt;
    std::uint8_t data[70000];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t size =
        recvfrom(Fd, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (size < 0) return std::nullopt;
    return TReceived{TBytes(data, data + size), ntohs(from.sin_port)};
  }

 private:
  int Fd = -1;
};

class VepsimTftp : public TPcOnLan {
 protected:
  void SetUp() override {
    SetUpPcOnLan("10.0.0.1/24");
    if (IsSkipped()) return;
    Dev = Bed->AddHost("dev");
    Bed->Attach(Dev, Lan, "eth0", "");
    char pattern[] = "/tmp/scoutor-vepsim-tftp-XXXXXX";
    Root = mkdtemp(pattern);
    Store = Root + "/store";
    std::filesystem::create_directory(Store);
    Firmware = Root + "/firmware.bin";
    WriteFile(Firmware, Pattern(100000, 3));
  }

  void TearDown() override {
    Bed.reset();
    if (!Root.empty()) std::filesystem::remove_all(Root);
  }

  static void WriteFile(const std::string& path, const TBytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }

  // Starts vepsim in the device namespace with its addresses held and uploads going to Store.
  pid_t Start(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {kVepsim, "--hold-addresses", "eth0", "--tftp", Store, "-v"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Log = Root + "/vepsim-" + std::to_string(Started++) + ".log";
    const pid_t pid = Bed->Spawn(Dev, argv, Log);
    // Port 69 of every device opens before the VEP port.
    WaitForUdpListener(*Bed, Dev, 17784);
    return pid;
  }

  pid_t StartTwoDevices(const std::string& ap1Extra = "", const std::string& ap2Extra = "") {
    return Start({"--device", kAp1 + ap1Extra, "--device", kAp2 + ap2Extra});
  }

  std::string LogText() const { return ReadFile(Log); }

  TRun Atftp(const std::string& address, const std::string& options = "") {
    return RunIn(*Bed, Pc, "atftp " + options + " --put -l " + Firmware + " -r / " + address, true);
  }

  // Standard error is dropped unless `withErrors`, then it is mixed into the output.
  TRun Vepctl(const std::string& arguments, bool withErrors = false) {
    return RunIn(*Bed, Pc, kVepctl + " " + arguments, withErrors);
  }

  // The IDs of the devices that answer one discovery scan of `waitMs`.
  std::set<std::string> Discovered(int waitMs) {
    const TRun run = RunIn(*Bed, Pc, kVepctl + " --json discover --wait " + std::to_string(waitMs));
    std::set<std::string> ids;
    for (const nlohmann::json& line : JsonLines(run.Output))
      if (line.contains("id")) ids.insert(line.at("id").get<std::string>());
    return ids;
  }

  // Every name in the store, temporary files included.
  std::set<std::string> StoreNames() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Store))
      names.insert(entry.path().filename().string());
    return names;
  }

  std::string Dev;
  std::string Root, Store, Firmware, Log;
  int Started = 0;
};

// ---- uploads by real clients ----

// The file is renamed into place before the last block is acknowledged: when the client is
// done, it is there.
TEST_F(VepsimTftp, AnAtftpUploadIsStoredByteIdenticalUnderTheDevicesHardwareAddress) {
  const pid_t pid = StartTwoDevices();
  const TRun run = Atftp("10.0.0.7");
  ASSERT_EQ(run.Exit, 0) << run.Output << LogText();
  EXPECT_EQ(StoreNames(), std::set<std::string>{kAp1File});
  EXPECT_EQ(ReadFile(Store + "/" + kAp1File), ReadFile(Firmware));
  Bed->Stop(pid);
  EXPECT_THAT(LogText(), HasSubstr("AP-1 (02:00:00:00:00:01) stored an upload of 100000 bytes"));
  EXPECT_THAT(LogText(),
              HasSubstr("send errors, 1 uploads stored, 0 refused, 0 failed, 0 abandoned"));
}

TEST_F(VepsimTftp, TheBlockSizeAskedForIsAcknowledgedAndUsed) {
  StartTwoDevices();
  const TRun run = Atftp("10.0.0.8", "--trace --option 'blksize 1428'");
  ASSERT_EQ(run.Exit, 0) << run.Output;
  EXPECT_THAT(run.Output, HasSubstr("received OACK <blksize: 1428,"));
  EXPECT_THAT(run.Output, HasSubstr("DATA <block: 1, size 1428>"));
  // 100000 bytes are 70 blocks of 1428 and one of 40.
  EXPECT_THAT(run.Output, HasSubstr("DATA <block: 71, size 40>"));
  EXPECT_EQ(ReadFile(Store + "/02-00-00-00-00-02.bin"), ReadFile(Firmware));
}

// vepctl asks for 1500-byte blocks and goes by its own client's rules.
TEST_F(VepsimTftp, VepctlUpgradesADeviceWithResultZero) {
  StartTwoDevices();
  const TRun run = Vepctl("--json upgrade " + Firmware + " 10.0.0.7");
  ASSERT_EQ(run.Exit, 0) << run.Output;
  EXPECT_EQ(nlohmann::json::parse(run.Output).at("result"), 0);
  EXPECT_EQ(ReadFile(Store + "/" + kAp1File), ReadFile(Firmware));
}

TEST_F(VepsimTftp, TwentyDevicesTakeTwentyUploadsAtOnce) {
  Start({"--count", "20", "--ip-base", "10.0.0.20", "--mask", "255.255.255.0"});
  std::string uploads;
  for (int i = 0; i < 20; ++i)
    uploads += "atftp --option 'blksize 1024' --put -l " + Firmware + " -r / 10.0.0." +
               std::to_string(20 + i) + " 2>/dev/null & pids=\"$pids $!\"; ";
  // Every client's exit code, in order.
  const std::string codes =
      Bed->Run(Pc, uploads + "for pid in $pids; do wait $pid; printf %s $?; done");
  EXPECT_EQ(codes, std::string(20, '0'));
  const std::set<std::string> names = StoreNames();
  ASSERT_EQ(names.size(), 20u);
  for (const std::string& name : names)
    EXPECT_EQ(ReadFile(Store + "/" + name), ReadFile(Firmware)) << name;
  EXPECT_TRUE(names.count("02-00-00-00-00-14.bin"));  // the twentieth of 02:00:00:00:00:01
}

// Two devices that were given one address: as on a real network, only one of them can have
// the uploads to it.
TEST_F(VepsimTftp, OfTwoDevicesOnOneAddressTheFirstTakesTheUploads) {
  Start({"--device", kAp1, "--device", "mac=02:00:00:00:00:03,name=Twin,ip=10.0.0.7"});
  ASSERT_EQ(Atftp("10.0.0.7").Exit, 0);
  EXPECT_EQ(StoreNames(), std::set<std::string>{kAp1File});
  EXPECT_THAT(LogText(), HasSubstr("Twin (02:00:00:00:00:03) has the address of AP-1 "
                                   "(02:00:00:00:00:01): uploads to 10.0.0.7 go to that one"));
}

// ---- busy first, restart ----

TEST_F(VepsimTftp, ABusyFirstDeviceRefusesItsFirstUploadWithAccessViolation) {
  const pid_t pid = StartTwoDevices(",busy_first=1");
  // The other device takes its first upload.
  ASSERT_EQ(Atftp("10.0.0.8").Exit, 0);

  const TRun first = Atftp("10.0.0.7");
  EXPECT_NE(first.Exit, 0);
  EXPECT_THAT(first.Output, HasSubstr("Device busy, try again"));
  EXPECT_EQ(StoreNames(), std::set<std::string>{"02-00-00-00-00-02.bin"});

  const TRun second = Atftp("10.0.0.7");
  EXPECT_EQ(second.Exit, 0) << second.Output;
  EXPECT_EQ(ReadFile(Store + "/" + kAp1File), ReadFile(Firmware));
  Bed->Stop(pid);
  EXPECT_THAT(LogText(), HasSubstr("2 uploads stored, 1 refused"));
}

// The upgrade's second attempt, ten seconds after a refusal, is the one that succeeds.
TEST_F(VepsimTftp, VepctlGetsThroughToABusyFirstDeviceOnItsSecondAttempt) {
  Start({"--busy-first", "--device", kAp1});
  const TRun run = Vepctl("upgrade " + Firmware + " 10.0.0.7", true);
  EXPECT_EQ(run.Exit, 0) << run.Output;
  EXPECT_THAT(run.Output, HasSubstr("First Upgrade Failed"));
  EXPECT_THAT(run.Output, HasSubstr("Second upgrade succeeded"));
  EXPECT_THAT(run.Output, HasSubstr("result=0 Upgrade succeeded"));
  EXPECT_EQ(ReadFile(Store + "/" + kAp1File), ReadFile(Firmware));
  EXPECT_THAT(LogText(), HasSubstr("AP-1 (02:00:00:00:00:01) refused a request from 10.0.0.1:"));
  EXPECT_THAT(LogText(), HasSubstr("error 2, Device busy, try again"));
}

TEST_F(VepsimTftp, AfterAnUploadTheDeviceAnswersNoDiscoveryUntilItsRestartTimeHasPassed) {
  StartTwoDevices(",restart_ms=4000");
  ASSERT_EQ(Discovered(600), (std::set<std::string>{kAp1Id, kAp2Id}));

  const auto uploadStarted = TClock::now();
  ASSERT_EQ(Atftp("10.0.0.7").Exit, 0);
  // Right after: only the other device answers.
  EXPECT_EQ(Discovered(600), std::set<std::string>{kAp2Id});
  EXPECT_THAT(LogText(), HasSubstr("AP-1 (02:00:00:00:00:01) restarts with its new firmware: "
                                   "silent for 4000 ms"));

  // Back once the time has passed: bounded, 20 scans of about a second.
  bool back = false;
  for (int scan = 0; scan < 20 && !back; ++scan) back = Discovered(600).count(kAp1Id) != 0;
  EXPECT_TRUE(back);
  // It cannot have come back early.
  EXPECT_GE(TClock::now() - uploadStarted, std::chrono::milliseconds(4000));
}

TEST_F(VepsimTftp, ADeviceThatRestartsForGoodNeverAnswersAgain) {
  Start({"--restart-ms", "never", "--device", kAp1, "--device", kAp2 + ",restart_ms=0"});
  ASSERT_EQ(Atftp("10.0.0.7").Exit, 0);
  ASSERT_EQ(Atftp("10.0.0.8").Exit, 0);
  for (int scan = 0; scan < 3; ++scan) EXPECT_EQ(Discovered(1000), std::set<std::string>{kAp2Id});
  EXPECT_EQ(Vepctl("get-ip " + kAp1Id + " --wait 1000").Exit, 1);
  EXPECT_EQ(Vepctl("get-ip " + kAp2Id + " --wait 1000").Exit, 0);
}

// ---- the address follows a set-IP ----

TEST_F(VepsimTftp, AStaticSetIPMovesTheHeldAddressAndTheTftpPort) {
  StartTwoDevices();
  const TRun set = Vepctl("--json set-ip " + kAp1Id +
                          " --ip 10.0.0.42 --mask 255.255.0.0 --gateway 0.0.0.0 --wait 1000");
  ASSERT_EQ(set.Exit, 0) << set.Output;
  // The move follows the acknowledgement: bounded wait until the interface shows it.
  std::string addresses;
  for (int i = 0; i < 200; ++i) {
    addresses = Bed->Run(Dev, "ip -4 -o addr show dev eth0 | awk '{print $4}'");
    if (addresses.find("10.0.0.42/16") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  EXPECT_EQ(addresses, "10.0.0.8/24\n10.0.0.42/16\n");
  const std::string listening = Bed->Run(Dev, "ss -Huan 'sport = :69'");
  EXPECT_THAT(listening, HasSubstr("10.0.0.42:69"));
  EXPECT_THAT(listening, Not(HasSubstr("10.0.0.7:69")));

  const TRun run = Atftp("10.0.0.42");
  ASSERT_EQ(run.Exit, 0) << run.Output;
  EXPECT_EQ(ReadFile(Store + "/" + kAp1File), ReadFile(Firmware));
  // A set-IP to DHCP leaves the address where it is.
  ASSERT_EQ(Vepctl("set-ip " + kAp1Id + " --dhcp --wait 1000").Exit, 0);
  EXPECT_THAT(Bed->Run(Dev, "ss -Huan 'sport = :69'"), HasSubstr("10.0.0.42:69"));
}

// ---- the protocol by hand ----

TEST_F(VepsimTftp, TheOptionAcknowledgementAndEveryAcknowledgementComeFromTheTransfersOwnPort) {
  StartTwoDevices();
  THandClient client(*Bed, Pc);
  client.Send(Request(2, {"/", "octet", "blksize", "1428"}), "10.0.0.7", 69);
  const auto oack = client.Receive(3000);
  ASSERT_TRUE(oack);
  EXPECT_EQ(AsText(oack->Bytes), AsText(Request(6, {"blksize", "1428"})));
  EXPECT_NE(oack->Port, 69);

  const TBytes full = Pattern(1428, 1), rest = Pattern(100, 2);
  client.Send(Data(1, full), "10.0.0.7", oack->Port);
  auto ack = client.Receive(3000);
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->Bytes, Op(4, 1));
  EXPECT_EQ(ack->Port, oack->Port);
  // A repeat of block 1 (our acknowledgement was lost, as the client sees it) is acknowledged
  // again and not stored twice.
  client.Send(Data(1, full), "10.0.0.7", oack->Port);
  ack = client.Receive(3000);
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->Bytes, Op(4, 1));
  client.Send(Data(2, rest), "10.0.0.7", oack->Port);
  ack = client.Receive(3000);
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->Bytes, Op(4, 2));

  TBytes expected = full;
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(ReadFile(Store + "/" + kAp1File), AsText(expected));
}

TEST_F(VepsimTftp, WithoutOptionsTheRequestIsAcknowledgedAsBlockZeroAndBlocksAre512Bytes) {
  StartTwoDevices();
  THandClient client(*Bed, Pc);
  // An unknown option and an unusable block size are ignored.
  client.Send(Request(2, {"image", "OCTET", "colour", "blue", "blksize", "7"}), "10.0.0.7", 69);
  const auto ack0 = client.Receive(3000);
  ASSERT_TRUE(ack0);
  EXPECT_EQ(ack0->Bytes, Op(4, 0));
  client.Send(Data(1, Pattern(512, 1)), "10.0.0.7", ack0->Port);
  ASSERT_TRUE(client.Receive(3000));
  // A block of exactly 512 bytes is not the last: nothing is stored yet.
  EXPECT_EQ(StoreNames().count(kAp1File), 0u);
  client.Send(Data(2, {}), "10.0.0.7", ack0->Port);
  const auto ack2 = client.Receive(3000);
  ASSERT_TRUE(ack2);
  EXPECT_EQ(ack2->Bytes, Op(4, 2));
  EXPECT_EQ(ReadFile(Store + "/" + kAp1File), AsText(Pattern(512, 1)));
}

// A device that writes its flash acknowledges a block only once it is written, and a repeat
// of that block meanwhile brings no stale acknowledgement of the block before.
TEST_F(VepsimTftp, AWritingDeviceAcknowledgesEachBlockAfterItsWriteTime) {
  Start({"--device", kAp1, "--write-ms", "300"});
  THandClient client(*Bed, Pc);
  client.Send(Request(2, {"image", "octet"}), "10.0.0.7", 69);
  const auto ack0 = client.Receive(3000);
  ASSERT_TRUE(ack0);
  const auto sent = std::chrono::steady_clock::now();
  client.Send(Data(1, Pattern(512, 1)), "10.0.0.7", ack0->Port);
  client.Send(Data(1, Pattern(512, 1)), "10.0.0.7", ack0->Port);
  const auto ack1 = client.Receive(3000);
  ASSERT_TRUE(ack1);
  EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(300));
  EXPECT_EQ(ack1->Bytes, Op(4, 1));
  client.Send(Data(2, Pattern(10, 2)), "10.0.0.7", ack0->Port);
  const auto ack2 = client.Receive(3000);
  ASSERT_TRUE(ack2);
  EXPECT_EQ(ack2->Bytes, Op(4, 2));
  TBytes whole = Pattern(512, 1);
  const TBytes tail = Pattern(10, 2);
  whole.insert(whole.end(), tail.begin(), tail.end());
  EXPECT_EQ(ReadFile(Store + "/" + kAp1File), AsText(whole));
}

TEST_F(VepsimTftp, ReadsOtherModesAndStrangersAreRefusedWithTheirErrorCodes) {
  StartTwoDevices();
  THandClient client(*Bed, Pc), stranger(*Bed, Pc);
  client.Send(Request(1, {"/", "octet"}), "10.0.0.7", 69);
  auto error = client.Receive(3000);
  ASSERT_TRUE(error);
  EXPECT_EQ(AsText(error->Bytes),
            AsText(Op(5, 4)) + "Only uploads are taken, no read requests" + std::string(1, '\0'));

  client.Send(Request(2, {"/", "netascii"}), "10.0.0.7", 69);
  error = client.Receive(3000);
  ASSERT_TRUE(error);
  EXPECT_EQ(AsText(error->Bytes),
            AsText(Op(5, 4)) + "Only octet mode is taken" + std::string(1, '\0'));

  // Data sent to port 69 is no request.
  client.Send(Data(1, Pattern(10, 0)), "10.0.0.7", 69);
  error = client.Receive(3000);
  ASSERT_TRUE(error);
  EXPECT_EQ(AsText(error->Bytes),
            AsText(Op(5, 4)) + "Illegal TFTP operation" + std::string(1, '\0'));

  // A stranger writing to a transfer's port is told so; the transfer goes on.
  client.Send(Request(2, {"/", "octet"}), "10.0.0.7", 69);
  const auto ack0 = client.Receive(3000);
  ASSERT_TRUE(ack0);
  stranger.Send(Data(1, Pattern(10, 0)), "10.0.0.7", ack0->Port);
  error = stranger.Receive(3000);
  ASSERT_TRUE(error);
  EXPECT_EQ(AsText(error->Bytes), AsText(Op(5, 5)) + "Unknown transfer ID" + std::string(1, '\0'));
  client.Send(Data(1, Pattern(20, 5)), "10.0.0.7", ack0->Port);
  const auto ack1 = client.Receive(3000);
  ASSERT_TRUE(ack1);
  EXPECT_EQ(ack1->Bytes, Op(4, 1));
  EXPECT_EQ(ReadFile(Store + "/" + kAp1File), AsText(Pattern(20, 5)));
  EXPECT_EQ(StoreNames(), std::set<std::string>{kAp1File});
}

// The client stops after one block: the device repeats its acknowledgement about once a second,
// gives up after about five seconds of silence and removes what it had.
TEST_F(VepsimTftp, AnAbandonedUploadIsAcknowledgedAgainThenRemovedWithoutAFile) {
  const pid_t pid = StartTwoDevices();
  THandClient client(*Bed, Pc);
  client.Send(Request(2, {"/", "octet"}), "10.0.0.7", 69);
  const auto ack0 = client.Receive(3000);
  ASSERT_TRUE(ack0);
  client.Send(Data(1, Pattern(512, 1)), "10.0.0.7", ack0->Port);
  ASSERT_TRUE(client.Receive(3000));
  // Under way: only the temporary file.
  const std::set<std::string> during = StoreNames();
  ASSERT_EQ(during.size(), 1u);
  EXPECT_THAT(*during.begin(), HasSubstr("." + kAp1File + "."));

  int repeats = 0;
  while (const auto again = client.Receive(4000)) {
    EXPECT_EQ(again->Bytes, Op(4, 1));
    if (++repeats == 10) break;  // bounded, whatever happens
  }
  EXPECT_GE(repeats, 2);
  EXPECT_LE(repeats, 6);
  for (int i = 0; i < 100 && !StoreNames().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(StoreNames().empty());
  Bed->Stop(pid);
  EXPECT_THAT(LogText(), HasSubstr("was abandoned after 512 bytes: the client was silent for 5 s"));
  EXPECT_THAT(LogText(), HasSubstr("0 uploads stored, 0 refused, 0 failed, 1 abandoned"));
}

// A store that went away: the system's own reason, as error code 0.
TEST_F(VepsimTftp, AStoreThatCannotBeWrittenIsReportedWithTheSystemsReason) {
  StartTwoDevices();
  std::filesystem::remove(Store);
  THandClient client(*Bed, Pc);
  client.Send(Request(2, {"/", "octet"}), "10.0.0.7", 69);
  const auto error = client.Receive(3000);
  ASSERT_TRUE(error);
  EXPECT_EQ(AsText(error->Bytes),
            AsText(Op(5, 0)) + "No such file or directory" + std::string(1, '\0'));
}

// ---- usage: refused before anything is opened (a device list that cannot be read would end
// the program next, still before the network) ----

const std::string kUnreadableDevice = " --device mac=zz";

TEST(VepsimTftpArguments, TftpNeedsHeldAddressesAndAnExistingDirectory) {
  TRun run = RunOnHost(kVepsim + kUnreadableDevice + " --tftp /tmp 2>&1");
  EXPECT_EQ(run.Exit, 2);
  EXPECT_THAT(run.Output, HasSubstr("--tftp requires --hold-addresses"));
  run = RunOnHost(kVepsim + kUnreadableDevice +
                  " --hold-addresses eth0 --tftp /nonexistent/store 2>&1");
  EXPECT_EQ(run.Exit, 2);
  EXPECT_THAT(run.Output, HasSubstr("/nonexistent/store"));
}

TEST(VepsimTftpArguments, ARestartTimeIsMillisecondsOrNever) {
  for (const char* value : {"-1", "1.5", "86400001", "soon", ""}) {
    const TRun run = RunOnHost(kVepsim + kUnreadableDevice + " --restart-ms '" + value + "' 2>&1");
    EXPECT_EQ(run.Exit, 2) << value;
    EXPECT_THAT(run.Output, HasSubstr("--restart-ms")) << value;
  }
}

TEST(VepsimTftpArguments, HelpNamesTheUploadOptions) {
  const TRun run = RunOnHost(kVepsim + " --help");
  EXPECT_EQ(run.Exit, 0);
  for (const char* option :
       {"--tftp DIR", "--busy-first", "--restart-ms MS|never", "busy_first", "restart_ms"})
    EXPECT_THAT(run.Output, HasSubstr(option));
}

}  // namespace
}  // namespace scoutor::test
