// The engine's firmware upgrade against a TFTP server played by the test on loopback: the
// progress events in order, the result codes and the failure diagnostic, for the blocking
// UpgradeDevice and for StartUpgrade on the main loop (with time on a manual clock).
#include <gtest/gtest.h>
#include <poll.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/VEPEngine.h"
#include "runtime/Clock.h"
#include "runtime/HeadlessLoop.h"
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
  const std::string text =
      std::string("/") + '\0' + "octet" + '\0' + "blksize" + '\0' + "1500" + '\0';
  TScriptedTftpServer::TBytes expected = {0x00, 0x02};
  for (char c : text) expected.push_back(static_cast<std::uint8_t>(c));
  EXPECT_EQ(request.Bytes, expected);
  Server.Reply(TScriptedTftpServer::Ack(0));
  EXPECT_EQ(Server.AcknowledgeAll(512).size(), 1000u);
  EXPECT_EQ(Finish(), 0);
  EXPECT_EQ(Seen,
            (std::vector<std::string>{"started 1000", "progress 512", "progress 1000", "ended 0"}));
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

TEST_F(VEPUpgradeTest, AMissingFileGivesThreeWithoutAnyProgressEvent) {
  EXPECT_EQ(Engine.UpgradeDevice("/nonexistent/image.bin", "127.0.0.1"), 3);
  EXPECT_EQ(Seen,
            (std::vector<std::string>{
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

TEST_F(VEPUpgradeTest, AnUpgradeWhileAnotherRunsOnTheLoopFailsWithThreeAndLeavesItAlone) {
  THeadlessLoop loop;
  TMainLoopScope scope(loop);
  int started = -1;
  ASSERT_TRUE(
      Engine.StartUpgrade(Image, "127.0.0.1",
                          [&](const TUpgradeOutcome& outcome) { started = outcome.Code(); }));
  EXPECT_EQ(Engine.UpgradeDevice(Image, "127.0.0.2"), 3);
  EXPECT_EQ(Seen, (std::vector<std::string>{
                      "message Upgrade failed with reason: An upload is already running"}));
  loop.Pump();
  Server.ExpectRequest();  // the first upload still goes to its device, not to 127.0.0.2
  Server.Reply(TScriptedTftpServer::Error(2, "enough"));
  loop.RunUntil([&] { return started != -1; }, 5000);
  EXPECT_EQ(started, 1);
}

// StartUpgrade: the same upgrade driven by the main loop, on a manual clock.
class VEPStartUpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Seen.clear();
    Engine.SetApplicationCallback(&Record, MessageEventsFlag);
    Engine.Tftp().Port = Server.RequestPort();
    std::ofstream(Image, std::ios::binary) << std::string(1000, 'F');
  }
  void TearDown() override { std::remove(Image.c_str()); }

  // Starts the upgrade of `file`; its result is recorded as "done <code>" among the events.
  bool Start(const std::string& file) {
    return Engine.StartUpgrade(file, "127.0.0.1", [](const TUpgradeOutcome& outcome) {
      Seen.push_back("done " + std::to_string(outcome.Code()));
    });
  }
  // Lets the engine take what the server has just sent: waits until it has reached the
  // client's socket, then runs what the loop has ready.
  void Deliver() {
    pollfd ready{Engine.Tftp().GetSocket().Handle(), POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 5000), 1) << "nothing reached the engine";
    Loop.Pump();
  }
  // Plays a device that answers the request with `reply`.
  void Answer(const TScriptedTftpServer::TBytes& reply) {
    Loop.Pump();
    Server.ExpectRequest();
    Server.Reply(reply);
    Deliver();
  }

  TManualClock Clock;
  THeadlessLoop Loop{Clock};
  TMainLoopScope Scope{Loop};  // before the engine: its timers and the upload use this loop
  TVEP Engine;
  TScriptedTftpServer Server;
  std::string Image = "/tmp/scoutor-start-upgrade-" + std::to_string(getpid()) + ".bin";
};

TEST_F(VEPStartUpgradeTest, ProgressEventsThenTheResultComeInOrderOnTheLoop) {
  ASSERT_TRUE(Start(Image));
  EXPECT_TRUE(Engine.Upgrading());
  EXPECT_TRUE(Seen.empty());
  Answer(TScriptedTftpServer::OptionAck("blksize", "600"));
  EXPECT_EQ(TScriptedTftpServer::Block(Server.Expect().Bytes), 1);
  Server.Reply(TScriptedTftpServer::Ack(1));
  Deliver();
  EXPECT_EQ(TScriptedTftpServer::Data(Server.Expect().Bytes).size(), 400u);
  Server.Reply(TScriptedTftpServer::Ack(2));
  Deliver();
  EXPECT_EQ(Seen, (std::vector<std::string>{"started 1000", "progress 600", "progress 1000",
                                            "ended 0", "done 0"}));
  EXPECT_FALSE(Engine.Upgrading());
}

TEST_F(VEPStartUpgradeTest, DeviceErrorsGiveTheirCodesAfterTheEndAndTheDiagnostic) {
  const std::vector<std::pair<std::uint16_t, int>> codes = {{2, 1}, {1, 2}, {4, 3}, {0, 3}};
  for (const auto& [tftpCode, result] : codes) {
    SCOPED_TRACE("TFTP error code " + std::to_string(tftpCode));
    Seen.clear();
    ASSERT_TRUE(Start(Image));
    Answer(TScriptedTftpServer::Error(tftpCode, "Flash busy"));
    EXPECT_EQ(Seen, (std::vector<std::string>{"started 1000", "ended 0",
                                              "message Upgrade failed with reason: Flash busy",
                                              "done " + std::to_string(result)}));
  }
}

TEST_F(VEPStartUpgradeTest, ADeviceThatNeverAnswersGivesThreeWithTimeoutAfterFourSeconds) {
  ASSERT_TRUE(Start(Image));
  Loop.Pump();
  Server.ExpectRequest();
  Loop.Advance(Clock, 3999);
  EXPECT_TRUE(Engine.Upgrading());
  Loop.Advance(Clock, 1);
  EXPECT_EQ(Seen,
            (std::vector<std::string>{"started 1000", "ended 0",
                                      "message Upgrade failed with reason: Timeout", "done 3"}));
}

TEST_F(VEPStartUpgradeTest, AMissingFileGivesThreeLaterWithoutAnyProgressEvent) {
  ASSERT_TRUE(Start("/nonexistent/image.bin"));
  EXPECT_TRUE(Seen.empty());  // not inside the start call
  Loop.Pump();
  EXPECT_EQ(Seen, (std::vector<std::string>{
                      "message Upgrade failed with reason: Cannot open file /nonexistent/image.bin",
                      "done 3"}));
  EXPECT_FALSE(Engine.Upgrading());
}

TEST_F(VEPStartUpgradeTest, ASecondStartWhileOneRunsIsRefused) {
  ASSERT_TRUE(Start(Image));
  bool secondDone = false;
  EXPECT_FALSE(Engine.StartUpgrade(Image, "127.0.0.2", [&](const TUpgradeOutcome&) { secondDone = true; }));
  Answer(TScriptedTftpServer::OptionAck("blksize", "1500"));
  Server.Expect();
  Server.Reply(TScriptedTftpServer::Ack(1));
  Deliver();
  EXPECT_EQ(Seen.back(), "done 0");
  EXPECT_FALSE(secondDone);
  // Once it has ended, the next one may start.
  EXPECT_TRUE(Start(Image));
  Loop.Pump();
  Server.ExpectRequest();
}

}  // namespace
}  // namespace scoutor
