// The engine's firmware upgrade against a TFTP server played by the test on loopback: the
// progress events in order, the result codes and the failure diagnostic.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/VEPEngine.h"
#include "tests/support/ScriptedTftpServer.h"

namespace scoutor {
namespace {

using test::TScriptedTftpServer;

// What the application callback saw, in order: "started 1000", "message ...", ...
std::vector<std::string> Seen;

void Record(std::uint32_t event, void* record) {
  if (event == vepUpgradeProgress) {
    const auto& progress = *static_cast<TVEPProgressEvent*>(record);
    static const char* kKinds[] = {"started", "progress", "ended"};
    Seen.push_back(std::string(kKinds[progress.Kind]) + " " + std::to_string(progress.Value));
  } else if (event == vepMessage) {
    Seen.push_back(std::string("message ") + static_cast<TVEPMessageEvent*>(record)->Text);
  }
}

class VEPUpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Seen.clear();
    Engine.SetApplicationCallback(&Record, MessageEventsFlag);
    Engine.Tftp().Port = Server.RequestPort();
    Engine.Tftp().ReceiveTimeout = 2000;
    std::ofstream(Image, std::ios::binary) << std::string(1000, 'F');
  }
  void TearDown() override { std::remove(Image.c_str()); }

  // Runs the upgrade on a thread of its own while the test plays the server.
  void StartUpgrade(const std::string& file) {
    Upgrading = std::thread([this, file] { Result = Engine.UpgradeDevice(file, "127.0.0.1"); });
  }
  int Finish() {
    Upgrading.join();
    return Result;
  }

  TVEP Engine;
  TScriptedTftpServer Server;
  std::string Image = "/tmp/scoutor-upgrade-" + std::to_string(getpid()) + ".bin";
  std::thread Upgrading;
  int Result = -1;
};

TEST_F(VEPUpgradeTest, ASuccessfulTransferReportsStartProgressPerBlockEndAndResultZero) {
  StartUpgrade(Image);
  const auto request = Server.ExpectRequest();
  // A write request for "/" in octet mode, asking for 1500-byte blocks.
  const std::string text = std::string("/") + '\0' + "octet" + '\0' + "blksize" + '\0' + "1500" + '\0';
  TScriptedTftpServer::TBytes expected = {0x00, 0x02};
  for (char c : text) expected.push_back(static_cast<std::uint8_t>(c));
  EXPECT_EQ(request.Bytes, expected);
  Server.Reply(TScriptedTftpServer::Ack(0));
  EXPECT_EQ(Server.AcknowledgeAll(512).size(), 1000u);
  EXPECT_EQ(Finish(), 0);
  EXPECT_EQ(Seen, (std::vector<std::string>{"started 1000", "progress 512", "progress 1000",
                                            "ended 0"}));
}

TEST_F(VEPUpgradeTest, AccessViolationGivesResultOneAfterTheEndOfTheTransfer) {
  StartUpgrade(Image);
  Server.ExpectRequest();
  Server.Reply(TScriptedTftpServer::Error(2, "Flash busy"));
  EXPECT_EQ(Finish(), 1);
  EXPECT_EQ(Seen, (std::vector<std::string>{"started 1000", "ended 0",
                                            "message Upgrade failed with reason: Flash busy"}));
}

TEST_F(VEPUpgradeTest, FileNotFoundGivesTwoAndAnyOtherTftpErrorGivesThree) {
  StartUpgrade(Image);
  Server.ExpectRequest();
  Server.Reply(TScriptedTftpServer::Error(1, "No such file"));
  EXPECT_EQ(Finish(), 2);

  StartUpgrade(Image);
  Server.ExpectRequest();
  Server.Reply(TScriptedTftpServer::Error(4, "Illegal"));
  EXPECT_EQ(Finish(), 3);
  EXPECT_EQ(Seen.back(), "message Upgrade failed with reason: Illegal");
}

TEST_F(VEPUpgradeTest, ADeviceThatNeverAnswersGivesThreeWithTimeout) {
  Engine.Tftp().ReceiveTimeout = 200;
  StartUpgrade(Image);
  Server.ExpectRequest();
  EXPECT_EQ(Finish(), 3);
  EXPECT_EQ(Seen.back(), "message Upgrade failed with reason: Timeout");
}

TEST_F(VEPUpgradeTest, AMissingFileGivesThreeWithoutAnyProgressEvent) {
  EXPECT_EQ(Engine.UpgradeDevice("/nonexistent/image.bin", "127.0.0.1"), 3);
  EXPECT_EQ(Seen, (std::vector<std::string>{
                      "message Upgrade failed with reason: Cannot open file /nonexistent/image.bin"}));
}

TEST_F(VEPUpgradeTest, WithoutACallbackTheTransferAndItsResultAreTheSame) {
  Engine.SetApplicationCallback(nullptr, 0);
  StartUpgrade(Image);
  Server.ExpectRequest();
  Server.Reply(TScriptedTftpServer::OptionAck("blksize", "1500"));
  EXPECT_EQ(Server.AcknowledgeAll(1500).size(), 1000u);
  EXPECT_EQ(Finish(), 0);
  EXPECT_TRUE(Seen.empty());
}

}  // namespace
}  // namespace scoutor
