#include "appmodel/VEPInterface.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "appmodel/DebugMode.h"
#include "appmodel/DeviceRequest.h"
#include "runtime/HeadlessLoop.h"

namespace scoutor {
namespace {

// What the interface object asked of the engine, recorded by fake exported functions.
struct TEngineCalls {
  std::vector<std::int64_t> DiscoverTimes;
  std::vector<TVEPNodeID> GetIPs;
  std::vector<std::string> SetIPs;
  TVEPApplicationCallback Callback = nullptr;
  int Flags = -1;
  TManualClock* Clock = nullptr;
};
TEngineCalls* Calls = nullptr;

TVEPFunctions RecordingFunctions() {
  return {
      [](TVEPApplicationCallback callback, unsigned char flags) {
        Calls->Callback = callback;
        Calls->Flags = flags;
      },
      [] { Calls->DiscoverTimes.push_back(Calls->Clock->NowMs()); },
      [](const unsigned char* id) {
        TVEPNodeID node;
        std::copy(id, id + 8, node.begin());
        Calls->GetIPs.push_back(node);
      },
      [](const unsigned char* id, const char* address, const char* mask, const char* gateway,
         unsigned char dhcp) {
        Calls->SetIPs.push_back(std::to_string(id[7]) + " " + address + " " + mask + " " +
                                gateway + " " + std::to_string(dhcp));
      },
  };
}

class VEPInterfaceTest : public ::testing::Test {
 protected:
  VEPInterfaceTest() {
    Calls = &Recorded;
    Recorded.Clock = &Clock;
  }
  void TearDown() override {
    Calls = nullptr;
    SetDebugMode(false);
  }

  TManualClock Clock;
  THeadlessLoop Loop{Clock};
  TEngineCalls Recorded;
};

TEST_F(VEPInterfaceTest, RegistersItsCallbackWithMessageEventsOnlyInDebugMode) {
  {
    TVEPInterface quiet(Loop, RecordingFunctions());
    EXPECT_EQ(Recorded.Flags, 0);
    EXPECT_EQ(Recorded.Callback, &TVEPInterface::HandleEngineEvent);
    EXPECT_EQ(CurrentInterface(), &quiet);
  }
  EXPECT_EQ(CurrentInterface(), nullptr);
  SetDebugMode(true);
  TVEPInterface debug(Loop, RecordingFunctions());
  EXPECT_EQ(Recorded.Flags, MessageEventsFlag);
}

TEST_F(VEPInterfaceTest, AScanBroadcastsFiveTimesHalfASecondApartAndEndsAtTheFifthTick) {
  TVEPInterface vep(Loop, RecordingFunctions());
  std::vector<std::pair<std::int64_t, int>> progress;
  std::vector<std::int64_t> done;
  vep.OnScanProgress.Set(this, [&](TVEPInterface&, int step) {
    progress.emplace_back(Clock.NowMs(), step);
  });
  vep.OnScanDone.Set(this, [&](TVEPInterface&) { done.push_back(Clock.NowMs()); });

  vep.StartScan();
  Loop.Advance(Clock, 5000);

  EXPECT_EQ(Recorded.DiscoverTimes, (std::vector<std::int64_t>{0, 500, 1000, 1500, 2000}));
  EXPECT_EQ(progress, (std::vector<std::pair<std::int64_t, int>>{
                          {0, 0}, {500, 1}, {1000, 1}, {1500, 1}, {2000, 1}}));
  EXPECT_EQ(done, std::vector<std::int64_t>{2500});
  EXPECT_FALSE(vep.Scanning());
}

TEST_F(VEPInterfaceTest, AScanStartedDuringAScanKeepsTheRunningTimersRhythm) {
  TVEPInterface vep(Loop, RecordingFunctions());
  std::vector<std::int64_t> done;
  vep.OnScanDone.Set(this, [&](TVEPInterface&) { done.push_back(Clock.NowMs()); });

  vep.StartScan();
  Loop.Advance(Clock, 700);
  vep.StartScan();  // at 700 ms: broadcast at once, then four more at the timer's own ticks
  Loop.Advance(Clock, 5000);

  EXPECT_EQ(Recorded.DiscoverTimes,
            (std::vector<std::int64_t>{0, 500, 700, 1000, 1500, 2000, 2500}));
  EXPECT_EQ(done, std::vector<std::int64_t>{3000});
}

TEST_F(VEPInterfaceTest, RequestsGoToTheEngineWithTheirArgumentsInOrder) {
  TVEPInterface vep(Loop, RecordingFunctions());
  const TVEPNodeID id = {0x00, 0x01, 0x00, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E};
  vep.GetIP(id);
  vep.SetIP(id, "10.0.0.7", "255.0.0.0", "10.0.0.1", true);
  EXPECT_EQ(Recorded.GetIPs, std::vector<TVEPNodeID>{id});
  EXPECT_EQ(Recorded.SetIPs, std::vector<std::string>{"78 10.0.0.7 255.0.0.0 10.0.0.1 1"});
}

class VEPInterfaceDispatchTest : public VEPInterfaceTest {
 protected:
  void Raise(std::uint32_t event, void* record) { TVEPInterface::HandleEngineEvent(event, record); }

  TVEPInterface Vep{Loop, RecordingFunctions()};
  std::vector<TDeviceInfo> Found;
  std::vector<TDeviceInfo> Configs;
};

TEST_F(VEPInterfaceDispatchTest, ADeviceFoundEventBecomesARecordWithoutSettings) {
  Vep.OnDeviceFound.Set(this, [&](TVEPInterface&, const TDeviceInfo& d) { Found.push_back(d); });
  TVEPDeviceEvent event{"00:0A:1B:2C:3D:4E", "192.168.1.5", "192.168.1.20", "AP-1", "Bridge"};
  Raise(vepDeviceFound, &event);
  TDeviceInfo expected;
  expected.Name = "AP-1";
  expected.Type = "Bridge";
  expected.IPAddress = "192.168.1.20";
  expected.ID = "00:0A:1B:2C:3D:4E";
  expected.Interface = "192.168.1.5";
  EXPECT_EQ(Found, std::vector<TDeviceInfo>{expected});
}

TEST_F(VEPInterfaceDispatchTest, SettingsAndAcknowledgementsBothGoToTheConfigSlot) {
  Vep.OnIPConfig.Set(this, [&](TVEPInterface&, const TDeviceInfo& d) { Configs.push_back(d); });
  TVEPIPConfigEvent settings{"00:0A:1B:2C:3D:4E", "192.168.1.5", "10.0.0.7", "255.0.0.0",
                             "10.0.0.1", 1};
  TVEPIPSetEvent acknowledgement{"00:0A:1B:2C:3D:4E", "10.0.0.7"};
  Raise(vepIPConfig, &settings);
  Raise(vepIPSet, &acknowledgement);

  ASSERT_EQ(Configs.size(), 2u);
  EXPECT_TRUE(Configs[0].DHCP);
  EXPECT_EQ(Configs[0].SubnetMask, "255.0.0.0");
  EXPECT_EQ(Configs[0].DefaultGateway, "10.0.0.1");
  EXPECT_EQ(Configs[0].Interface, "192.168.1.5");
  EXPECT_EQ(Configs[0].Name, "");
  TDeviceInfo ack;
  ack.ID = "00:0A:1B:2C:3D:4E";
  ack.IPAddress = "10.0.0.7";
  EXPECT_EQ(Configs[1], ack);
}

// A request hears only its own device's reply of its own kind: a late get-IP reply is no
// acknowledgement, a late acknowledgement no settings, another device's reply nothing, and
// two requests wait side by side (the IP dialog beside Auto IP).
TEST_F(VEPInterfaceDispatchTest, ARequestTakesOnlyItsDevicesReplyOfItsKind) {
  TDeviceRequest set(Vep, Loop), get(Vep, Loop);
  std::vector<TDeviceInfo> acknowledgements, settings;
  set.OnAnswer = [&](const TDeviceInfo& d) { acknowledgements.push_back(d); };
  get.OnAnswer = [&](const TDeviceInfo& d) { settings.push_back(d); };
  set.SetIP("00:0a:1b:2c:3d:4e", {false, "10.0.0.7", "255.0.0.0", ""}, 0);
  get.GetIP("00:0A:1B:2C:3D:99", 0);
  EXPECT_EQ(Recorded.SetIPs, std::vector<std::string>{"78 10.0.0.7 255.0.0.0 0.0.0.0 0"});

  TVEPIPConfigEvent lateSettings{"00:0A:1B:2C:3D:4E", "192.168.1.5", "10.0.0.7", "255.0.0.0",
                                 "10.0.0.1", 0};
  Raise(vepIPConfig, &lateSettings);
  TVEPIPSetEvent otherDevice{"00:0A:1B:2C:3D:99", "10.0.0.9"};
  Raise(vepIPSet, &otherDevice);
  EXPECT_TRUE(acknowledgements.empty());
  EXPECT_TRUE(settings.empty());

  TVEPIPSetEvent acknowledgement{"00:0A:1B:2C:3D:4E", "10.0.0.7"};
  Raise(vepIPSet, &acknowledgement);
  TVEPIPConfigEvent reply{"00:0A:1B:2C:3D:99", "192.168.1.5", "10.0.0.9", "255.0.0.0", "", 1};
  Raise(vepIPConfig, &reply);
  ASSERT_EQ(acknowledgements.size(), 1u);
  EXPECT_EQ(acknowledgements[0].IPAddress, "10.0.0.7");
  ASSERT_EQ(settings.size(), 1u);
  EXPECT_TRUE(settings[0].DHCP);

  // Stopped, it hears nothing more; the slot of the windows still hears everything.
  Vep.OnIPConfig.Set(this, [&](TVEPInterface&, const TDeviceInfo& d) { Configs.push_back(d); });
  set.Stop();
  Raise(vepIPSet, &acknowledgement);
  EXPECT_EQ(acknowledgements.size(), 1u);
  EXPECT_EQ(Configs.size(), 1u);
}

TEST_F(VEPInterfaceDispatchTest, ARequestEndsByItsTimeOutOnceAndAListenerMayStopOthers) {
  TDeviceRequest first(Vep, Loop), second(Vep, Loop);
  int timeOuts = 0, secondAnswers = 0;
  first.OnTimeOut = [&] { ++timeOuts; };
  first.GetIP("00:0A:1B:2C:3D:4E", 3000);
  Loop.Advance(Clock, 2999);
  EXPECT_EQ(timeOuts, 0);
  EXPECT_TRUE(first.Waiting());
  Loop.Advance(Clock, 1);
  EXPECT_EQ(timeOuts, 1);
  EXPECT_FALSE(first.Waiting());
  Loop.Advance(Clock, 10000);
  EXPECT_EQ(timeOuts, 1);

  // The first answer stops the other request, whose listener must not run for it any more.
  first.OnAnswer = [&](const TDeviceInfo&) { second.Stop(); };
  second.OnAnswer = [&](const TDeviceInfo&) { ++secondAnswers; };
  first.GetIP("00:0A:1B:2C:3D:4E", 0);
  second.GetIP("00:0A:1B:2C:3D:4E", 0);
  TVEPIPConfigEvent reply{"00:0A:1B:2C:3D:4E", "192.168.1.5", "10.0.0.7", "255.0.0.0", "", 0};
  Raise(vepIPConfig, &reply);
  EXPECT_EQ(secondAnswers, 0);
}

TEST_F(VEPInterfaceDispatchTest, RecordsOwnTheirTextsAfterTheEngineRecordIsGone) {
  Vep.OnDeviceFound.Set(this, [&](TVEPInterface&, const TDeviceInfo& d) { Found.push_back(d); });
  {
    std::string name = "AP-1";
    TVEPDeviceEvent event{"00:0A:1B:2C:3D:4E", "1.2.3.4", "1.2.3.5", name.c_str(), ""};
    Raise(vepDeviceFound, &event);
    name.assign("XXXX");
  }
  EXPECT_EQ(Found.at(0).Name, "AP-1");
}

TEST_F(VEPInterfaceDispatchTest, MessagesBecomeLogLinesAndProgressGoesToTheUpgradeReceiver) {
  std::vector<std::string> lines;
  std::vector<std::pair<int, int>> progress;
  Vep.LogLine = [&](const std::string& line) { lines.push_back(line); };
  Vep.HandleUpgradeProgress = [&](std::uint32_t, const TVEPProgressEvent& p) {
    progress.emplace_back(p.Kind, p.Value);
  };
  TVEPMessageEvent message{"Address mismatch"};
  TVEPProgressEvent started{upStarted, 1000};
  Raise(vepMessage, &message);
  Raise(vepUpgradeProgress, &started);
  EXPECT_EQ(lines, std::vector<std::string>{"Address mismatch"});
  EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{upStarted, 1000}}));
}

TEST_F(VEPInterfaceDispatchTest, EventsWithEmptySlotsOrUnknownCodesAreDroppedQuietly) {
  TVEPDeviceEvent event{"00:0A:1B:2C:3D:4E", "1.2.3.4", "1.2.3.5", "AP-1", "Bridge"};
  Raise(vepDeviceFound, &event);
  Raise(99, &event);
  Vep.OnDeviceFound.Set(this, [&](TVEPInterface&, const TDeviceInfo& d) { Found.push_back(d); });
  Raise(99, &event);
  EXPECT_TRUE(Found.empty());
}

TEST_F(VEPInterfaceTest, EventsAfterTheObjectIsDestroyedReachNobody) {
  int calls = 0;
  {
    TVEPInterface vep(Loop, RecordingFunctions());
    vep.OnDeviceFound.Set(this, [&](TVEPInterface&, const TDeviceInfo&) { ++calls; });
    vep.StartScan();
  }
  TVEPDeviceEvent event{"00:0A:1B:2C:3D:4E", "1.2.3.4", "1.2.3.5", "AP-1", "Bridge"};
  TVEPInterface::HandleEngineEvent(vepDeviceFound, &event);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(Loop.TimerCount(), 0u);  // the destroyed object's rescan timer is stopped
}

}  // namespace
}  // namespace scoutor
