// The TFTP write client against Debian's tftpd-hpa, each in a network namespace of its own,
// joined by a veth link: what the client uploads arrives byte for byte, blocking or driven by an
// event loop.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "runtime/HeadlessLoop.h"
#include "tests/support/NetnsBed.h"
#include "transport/TftpClient.h"
#include "transport/TftpErrors.h"

namespace scoutor {
namespace {

using TBytes = std::vector<std::uint8_t>;

TBytes RandomBytes(std::size_t size) {
  std::mt19937 generator(static_cast<unsigned>(size));
  TBytes bytes(size);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
  return bytes;
}

class TftpHpaTest : public ::testing::Test {
 protected:
  static constexpr const char* kServerAddress = "10.69.0.1";
  static constexpr const char* kClientAddress = "10.69.0.2";

  void SetUp() override {
    SCOUTOR_REQUIRE_NETNS();
    Bed = std::make_unique<test::TNetnsBed>();
    ServerNs = Bed->AddHost("tftpd");
    ClientNs = Bed->AddHost("client");
    Bed->Link(ServerNs, "eth0", std::string(kServerAddress) + "/24", ClientNs, "eth0",
              std::string(kClientAddress) + "/24");
    Bed->PinNeighbours(ServerNs, "eth0", kServerAddress, ClientNs, "eth0", kClientAddress);
    char pattern[] = "/tmp/scoutor-tftpd-XXXXXX";
    Root = mkdtemp(pattern);
    Served = Root + "/served";
    std::filesystem::create_directory(Served);
    // tftpd-hpa drops to the user "nobody", who must be able to create files here.
    chmod(Served.c_str(), 0777);
  }

  void TearDown() override {
    Bed.reset();
    if (!Root.empty()) std::filesystem::remove_all(Root);
  }

  // Starts tftpd-hpa on the server's port 69, creating uploaded files in Served, and waits
  // until it listens.
  void StartServer(const std::vector<std::string>& extraOptions = {}) {
    std::vector<std::string> argv = {"/usr/sbin/in.tftpd", "--foreground",
                                     "--address",          std::string(kServerAddress) + ":69",
                                     "--create",           "--secure"};
    argv.insert(argv.end(), extraOptions.begin(), extraOptions.end());
    argv.push_back(Served);
    Bed->Spawn(ServerNs, argv, Root + "/tftpd.log");
    for (int attempt = 0; attempt < 100; ++attempt) {
      if (!Bed->Run(ServerNs, "ss -Hlun 'sport = :69'").empty()) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    FAIL() << "tftpd-hpa does not listen on port 69";
  }

  std::string WriteLocal(const std::string& name, const TBytes& content) {
    const std::string path = Root + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
    return path;
  }

  // Uploads the local file from the client's namespace; returns the running totals that the
  // work events reported.
  std::vector<std::int64_t> Upload(const std::string& path, const std::string& remoteName) {
    return Bed->InNamespace(ClientNs, [&] {
      TTftpClient client;
      client.Host = kServerAddress;
      std::vector<std::int64_t> totals;
      client.OnWork = [&](TTransportComponent&, TWorkMode, std::int64_t total) {
        totals.push_back(total);
      };
      client.Upload(path, remoteName);
      return totals;
    });
  }

  // UDP datagrams sent from the client's namespace so far (a 1504-byte data packet leaves
  // Ethernet as two fragments, so link counters would count it twice).
  long DatagramsSentByClient() {
    return std::stol(Bed->Run(
        ClientNs, "awk '/^Udp:/ { if (header) { print $5; exit } header = 1 }' /proc/net/snmp"));
  }

  // What the server stored under `name`, once it holds `size` bytes (the server may still be
  // writing when the client has its last acknowledgement).
  TBytes Stored(const std::string& name, std::size_t size) {
    const std::string path = Served + "/" + name;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::error_code error;
      if (std::filesystem::file_size(path, error) == size && !error) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::ifstream file(path, std::ios::binary);
    return TBytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  std::unique_ptr<test::TNetnsBed> Bed;
  std::string ServerNs;
  std::string ClientNs;
  std::string Root;
  std::string Served;
};

TEST_F(TftpHpaTest, FileArrivesByteIdenticalIn1500ByteBlocks) {
  StartServer();
  const TBytes content = RandomBytes(300000);
  const auto totals = Upload(WriteLocal("firmware.bin", content), "firmware.bin");
  EXPECT_EQ(Stored("firmware.bin", content.size()), content);
  ASSERT_EQ(totals.size(), 300000u / 1500u + 1);  // 200 full blocks and one empty one
  EXPECT_EQ(totals.front(), 1500);
  EXPECT_EQ(totals.back(), 300000);
}

TEST_F(TftpHpaTest, UploadDrivenByAnEventLoopArrivesByteIdenticalAndEndsAfterTheWorkEnd) {
  StartServer();
  const TBytes content = RandomBytes(300000);
  const std::string path = WriteLocal("firmware.bin", content);
  std::vector<std::string> events;
  Bed->InNamespace(ClientNs, [&] {
    THeadlessLoop loop;
    TTftpClient client;
    client.Host = kServerAddress;
    int blocks = 0;
    client.OnWork = [&](TTransportComponent&, TWorkMode, std::int64_t) { ++blocks; };
    client.OnWorkEnd = [&](TTransportComponent&, TWorkMode) {
      events.push_back(std::to_string(blocks) + " blocks, end");
    };
    client.StartUpload(loop, path, "firmware.bin", [&](std::exception_ptr error) {
      events.push_back(error ? "failed" : "done");
    });
    loop.RunUntil([&] { return !client.Uploading(); }, 30000);
  });
  EXPECT_EQ(events, (std::vector<std::string>{"201 blocks, end", "done"}));
  EXPECT_EQ(Stored("firmware.bin", content.size()), content);
}

TEST_F(TftpHpaTest, ServerRefusingTheBlockSizeOptionGets512ByteBlocks) {
  StartServer({"--refuse", "blksize"});
  const TBytes content = RandomBytes(100000);
  const auto totals = Upload(WriteLocal("firmware.bin", content), "firmware.bin");
  EXPECT_EQ(Stored("firmware.bin", content.size()), content);
  ASSERT_EQ(totals.size(), 100000u / 512u + 1);
  EXPECT_EQ(totals.front(), 512);
}

TEST_F(TftpHpaTest, ServerWithSmallerBlockLimitIsFollowed) {
  StartServer({"--blocksize", "1024"});
  const TBytes content = RandomBytes(50000);
  const auto totals = Upload(WriteLocal("firmware.bin", content), "firmware.bin");
  EXPECT_EQ(Stored("firmware.bin", content.size()), content);
  EXPECT_EQ(totals.front(), 1024);
}

TEST_F(TftpHpaTest, EmptyFileArrivesEmpty) {
  StartServer();
  const auto totals = Upload(WriteLocal("empty.bin", {}), "empty.bin");
  EXPECT_TRUE(std::filesystem::exists(Served + "/empty.bin"));
  EXPECT_TRUE(Stored("empty.bin", 0).empty());
  EXPECT_EQ(totals, std::vector<std::int64_t>{0});
}

TEST_F(TftpHpaTest, ExactMultipleOfTheBlockSizeArrivesWhole) {
  StartServer();
  const TBytes content = RandomBytes(4500);
  const auto totals = Upload(WriteLocal("three-blocks.bin", content), "three-blocks.bin");
  EXPECT_EQ(Stored("three-blocks.bin", content.size()), content);
  EXPECT_EQ(totals, (std::vector<std::int64_t>{1500, 3000, 4500, 4500}));
}

TEST_F(TftpHpaTest, ClientStalledPastTheServersRetransmissionSendsNoBlockTwiceAfterwards) {
  StartServer();
  const TBytes content = RandomBytes(1500 * 1000);
  const std::string path = WriteLocal("firmware.bin", content);
  const long sentBefore = DatagramsSentByClient();
  Bed->InNamespace(ClientNs, [&] {
    TTftpClient client;
    client.Host = kServerAddress;
    int blocks = 0;
    // Stalls longer than the server waits before it acknowledges block 10 once more (1 s).
    client.OnWork = [&](TTransportComponent&, TWorkMode, std::int64_t) {
      if (++blocks == 10) std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    };
    client.Upload(path, "firmware.bin");
  });
  EXPECT_EQ(Stored("firmware.bin", content.size()), content);
  // The request, 1001 data blocks and a few extra copies around the stall; answering every
  // repeated acknowledgement would send each later block twice (or more).
  EXPECT_LT(DatagramsSentByClient() - sentBefore, 1100);
}

TEST_F(TftpHpaTest, ServersRefusalArrivesAsItsErrorKindWithItsText) {
  StartServer();
  const std::string path = WriteLocal("firmware.bin", RandomBytes(1000));
  try {
    Upload(path, "no-such-directory/firmware.bin");
    ADD_FAILURE() << "the upload succeeded";
  } catch (const EIdTFTPFileNotFound& error) {
    EXPECT_FALSE(std::string(error.what()).empty());
  }
}

// tftpd-hpa answers from a port of its own, which a firewall on the client's host takes for a
// stranger's. The client (root: it has the capability) hears the replies below the firewall and
// ends the upload with the reason, where its waits (4 s, the request sent three times more)
// would have ended only after 16 s with "Timeout".
TEST_F(TftpHpaTest, RepliesTheClientsFirewallDropsEndTheUploadAtOnceNamingTheFirewall) {
  if (!Bed->AddConnectionFirewall(ClientNs)) GTEST_SKIP() << "needs nft (nftables)";
  StartServer();
  const std::string path = WriteLocal("firmware.bin", RandomBytes(3000));
  std::string reason = "no failure";
  const auto start = std::chrono::steady_clock::now();
  Bed->InNamespace(ClientNs, [&] {
    TTftpClient client;
    client.Host = kServerAddress;
    client.Retries = 3;
    try {
      client.Upload(path, "firmware.bin");
    } catch (const EIdTFTPException& error) {
      reason = error.what();
    }
  });
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_THAT(reason, ::testing::MatchesRegex(
                          "The host firewall drops the TFTP replies of 10\\.69\\.0\\.1 \\(UDP "
                          "from its port [0-9]+ to port [0-9]+ here\\): allow incoming UDP from "
                          "10\\.69\\.0\\.1, or enable the firewall's TFTP connection tracking"));
  // Before even the first wait would have ended.
  EXPECT_LT(elapsed, std::chrono::milliseconds(4000));
}

}  // namespace
}  // namespace scoutor
