// The engine against simulated devices in a private network of namespaces: scans across two
// segments, configuration replies, damaged replies, and the engine lock.
//
//   pc    eth0 10.0.0.1/24 on segment "a", eth1 10.1.0.1/24 on segment "b" (two-segment tests)
//         or eth0 10.0.0.1/24 alone (one-adapter tests)
//   devices on "a": 10.0.0.7 and, in a foreign subnet, 192.168.50.9; on "b": 10.1.0.9
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/StartEngine.h"
#include "protocol/VEPEngine.h"
#include "runtime/HeadlessLoop.h"
#include "runtime/Notifier.h"
#include "tests/support/NetnsBed.h"

namespace scoutor {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using test::TNetnsBed;

const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";

// What the application callback received, and on which thread.
struct TRecord {
  std::vector<std::string> Devices;  // "ID|Interface|IPAddress|Name|Type"
  std::vector<std::string> Configs;  // "ID|Interface|IPAddress|SubnetMask|DefaultGateway|DHCP"
  std::vector<std::string> Acks;     // "ID|IPAddress"
  std::vector<std::string> Messages;
  std::vector<std::thread::id> Threads;
};
TRecord* Record = nullptr;

void RecordEvent(std::uint32_t event, void* record) {
  Record->Threads.push_back(std::this_thread::get_id());
  switch (event) {
    case vepMessage:
      Record->Messages.push_back(static_cast<TVEPMessageEvent*>(record)->Text);
      break;
    case vepDeviceFound: {
      const auto& e = *static_cast<TVEPDeviceEvent*>(record);
      Record->Devices.push_back(std::string(e.ID) + "|" + e.Interface + "|" + e.IPAddress + "|" +
                                e.Name + "|" + e.Type);
      break;
    }
    case vepIPConfig: {
      const auto& e = *static_cast<TVEPIPConfigEvent*>(record);
      Record->Configs.push_back(std::string(e.ID) + "|" + e.Interface + "|" + e.IPAddress + "|" +
                                e.SubnetMask + "|" + e.DefaultGateway + "|" +
                                std::to_string(e.DHCP));
      break;
    }
    case vepIPSet: {
      const auto& e = *static_cast<TVEPIPSetEvent*>(record);
      Record->Acks.push_back(std::string(e.ID) + "|" + e.IPAddress);
      break;
    }
  }
}

class TRecordingNotifier : public TNotifier {
 public:
  TNoticeAnswer Show(const std::string& caption, const std::string& text,
                     TNoticeButtons buttons) override {
    Notices.push_back(caption + ": " + text +
                      (buttons == TNoticeButtons::OkCancel ? " [OK/Cancel]" : ""));
    return TNoticeAnswer::Ok;
  }
  std::vector<std::string> Notices;
};

// A scan as the application runs it: up to five discovery broadcasts 500 ms apart, ending
// early once `done` holds.
bool Scan(THeadlessLoop& loop, TVEP& engine, const std::function<bool()>& done) {
  for (int i = 0; i < 5 && !done(); ++i) {
    engine.SendDiscover();
    loop.RunUntil(done, 500);
  }
  return done();
}

class VEPEngineNetwork : public ::testing::Test {
 protected:
  void SetUp() override {
    SCOUTOR_REQUIRE_NETNS();
    Bed = std::make_unique<TNetnsBed>();
    Record = &Events;
    SegmentA = Bed->AddSegment("a");
    Pc = Bed->AddHost("pc");
    Bed->Attach(Pc, SegmentA, "eth0", "10.0.0.1/24");
  }
  void TearDown() override { Record = nullptr; }

  void AddSecondSegment() {
    SegmentB = Bed->AddSegment("b");
    Bed->Attach(Pc, SegmentB, "eth1", "10.1.0.1/24");
  }

  // Starts a simulated device in a namespace of its own on `segment`.
  void AddDevice(const std::string& name, const std::string& segment, const std::string& address,
                 const std::string& spec, std::vector<std::string> options = {}) {
    const std::string ns = Bed->AddHost(name);
    Bed->Attach(ns, segment, "eth0", address);
    std::vector<std::string> argv = {kVepsim, "--device", spec};
    argv.insert(argv.end(), options.begin(), options.end());
    Bed->Spawn(ns, argv);
    WaitForListener(ns);
  }

  void WaitForListener(const std::string& ns) {
    for (int i = 0; i < 500; ++i) {
      if (Bed->Run(ns, "ss -Huan").find(":17784") != std::string::npos) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FAIL() << "no simulated device listens in " << ns;
  }

  // Runs `work` on a thread in the PC's namespace with a headless main loop and an engine.
  void OnPc(const std::function<void(THeadlessLoop&, TVEP&)>& work, std::uint8_t flags = 0) {
    Bed->InNamespace(Pc, [&] {
      THeadlessLoop loop;
      TMainLoopScope scope(loop);
      TVEP engine;
      engine.SetApplicationCallback(&RecordEvent, flags);
      work(loop, engine);
    });
  }

  // The diagnostics other than the engine's own broadcasts heard back.
  std::vector<std::string> FromDevices() const {
    std::vector<std::string> messages;
    for (const std::string& message : Events.Messages)
      if (message != "Received a request") messages.push_back(message);
    return messages;
  }

  std::unique_ptr<TNetnsBed> Bed;
  std::string SegmentA, SegmentB, Pc;
  TRecord Events;
};

TEST_F(VEPEngineNetwork, ScanFindsDevicesOnTwoSegmentsAndInAForeignSubnet) {
  AddSecondSegment();
  AddDevice("near", SegmentA, "10.0.0.7/24", "mac=00:0A:1B:2C:3D:4E,name=AP-1,type=Bridge");
  AddDevice("far", SegmentA, "192.168.50.9/24",
            "mac=00:0A:1B:2C:3D:50,name=Camera-2,type=Camera");
  AddDevice("other", SegmentB, "10.1.0.9/24", "mac=00:0A:1B:2C:3D:51,name=Sensor-3,type=Sensor");
  std::thread::id loopThread;
  OnPc([&](THeadlessLoop& loop, TVEP& engine) {
    loopThread = std::this_thread::get_id();
    EXPECT_TRUE(engine.MultiBinding());
    EXPECT_TRUE(Scan(loop, engine, [&] { return Events.Devices.size() >= 3; }));
  });
  // Each device may answer every broadcast of the scan: compare the distinct findings.
  std::sort(Events.Devices.begin(), Events.Devices.end());
  Events.Devices.erase(std::unique(Events.Devices.begin(), Events.Devices.end()),
                       Events.Devices.end());
  EXPECT_THAT(Events.Devices,
              UnorderedElementsAre("00:0A:1B:2C:3D:4E|10.0.0.1|10.0.0.7|AP-1|Bridge",
                                   "00:0A:1B:2C:3D:50|10.0.0.1|192.168.50.9|Camera-2|Camera",
                                   "00:0A:1B:2C:3D:51|10.1.0.1|10.1.0.9|Sensor-3|Sensor"));
  ASSERT_FALSE(Events.Threads.empty());
  for (const std::thread::id& thread : Events.Threads) EXPECT_EQ(thread, loopThread);
}

// Distinct devices found, sorted: each may answer every broadcast of a scan.
std::vector<std::string> Distinct(std::vector<std::string> devices) {
  std::sort(devices.begin(), devices.end());
  devices.erase(std::unique(devices.begin(), devices.end()), devices.end());
  return devices;
}

TEST_F(VEPEngineNetwork, AnAddressGainedWhileRunningIsBoundForTheNextScanAndOneLostGivesNoError) {
  SegmentB = Bed->AddSegment("b");
  Bed->Attach(Pc, SegmentB, "eth1", "");  // the cable is in, the address comes later
  AddDevice("near", SegmentA, "10.0.0.7/24", "mac=00:0A:1B:2C:3D:4E,name=AP-1,type=Bridge");
  AddDevice("other", SegmentB, "10.1.0.9/24", "mac=00:0A:1B:2C:3D:51,name=Sensor-3,type=Sensor");
  const auto fullScan = [](THeadlessLoop& loop, TVEP& engine) {
    Scan(loop, engine, [] { return false; });
  };
  std::vector<std::string> before, gained, lost;
  OnPc(
      [&](THeadlessLoop& loop, TVEP& engine) {
        EXPECT_TRUE(engine.MultiBinding());
        fullScan(loop, engine);
        before = Distinct(Events.Devices);

        Bed->Run(Pc, "ip addr add 10.1.0.1/24 dev eth1");
        loop.Pump();  // the loop hears of it while idle
        Events.Devices.clear();
        fullScan(loop, engine);
        gained = Distinct(Events.Devices);

        Bed->Run(Pc, "ip addr del 10.0.0.1/24 dev eth0");
        loop.Pump();
        Events.Devices.clear();
        fullScan(loop, engine);
        lost = Distinct(Events.Devices);
      },
      MessageEventsFlag);
  EXPECT_THAT(before, ElementsAre("00:0A:1B:2C:3D:4E|10.0.0.1|10.0.0.7|AP-1|Bridge"));
  EXPECT_THAT(gained, ElementsAre("00:0A:1B:2C:3D:4E|10.0.0.1|10.0.0.7|AP-1|Bridge",
                                  "00:0A:1B:2C:3D:51|10.1.0.1|10.1.0.9|Sensor-3|Sensor"));
  EXPECT_THAT(lost, ElementsAre("00:0A:1B:2C:3D:51|10.1.0.1|10.1.0.9|Sensor-3|Sensor"));
  EXPECT_THAT(FromDevices(), IsEmpty());
}

TEST_F(VEPEngineNetwork, ChangesThatLeaveTheBindingsAsTheyWereKeepTheEndpointOpen) {
  AddSecondSegment();
  AddDevice("near", SegmentA, "10.0.0.7/24", "mac=00:0A:1B:2C:3D:4E,name=AP-1,type=Bridge");
  OnPc([&](THeadlessLoop& loop, TVEP& engine) {
    engine.SendDiscover();
    TSocketBinding* opened = engine.Endpoint().CurrentBinding();
    ASSERT_NE(opened, nullptr);
    const int socket = opened->Handle();
    Bed->Run(Pc, "ip addr add 127.0.0.9/8 dev lo");  // loopback is no adapter
    loop.Pump();
    EXPECT_TRUE(Scan(loop, engine, [&] { return !Events.Devices.empty(); }));
    EXPECT_EQ(engine.Endpoint().Bindings[0].Handle(), socket);
  });
}

TEST_F(VEPEngineNetwork, WithOneAdapterInterfaceIsTheHostAddress) {
  AddDevice("near", SegmentA, "10.0.0.7/24", "mac=00:0A:1B:2C:3D:4E,name=AP-1,type=Bridge");
  OnPc([&](THeadlessLoop& loop, TVEP& engine) {
    EXPECT_FALSE(engine.MultiBinding());
    EXPECT_EQ(engine.HostAddressText(), "10.0.0.1");
    EXPECT_TRUE(Scan(loop, engine, [&] { return !Events.Devices.empty(); }));
  });
  EXPECT_EQ(Events.Devices.at(0), "00:0A:1B:2C:3D:4E|10.0.0.1|10.0.0.7|AP-1|Bridge");
}

TEST_F(VEPEngineNetwork, GetIPAndSetIPRepliesGiveTheirEvents) {
  AddDevice("far", SegmentA, "192.168.50.9/24",
            "mac=00:0A:1B:2C:3D:50,ip=192.168.50.9,mask=255.255.255.0,gw=192.168.50.1,dhcp=0");
  TVEPNodeID device{};
  IDFromText("00:0A:1B:2C:3D:50", device);
  OnPc([&](THeadlessLoop& loop, TVEP& engine) {
    engine.SendGetIP(device);
    EXPECT_TRUE(loop.RunUntil([&] { return Events.Configs.size() == 1; }, 5000));
    engine.SendSetIP(device, "...", "...", "...", 1);
    EXPECT_TRUE(loop.RunUntil([&] { return Events.Acks.size() == 1; }, 5000));
    engine.SendGetIP(device);
    EXPECT_TRUE(loop.RunUntil([&] { return Events.Configs.size() == 2; }, 5000));
  });
  EXPECT_THAT(Events.Configs,
              ElementsAre("00:0A:1B:2C:3D:50|10.0.0.1|192.168.50.9|255.255.255.0|192.168.50.1|0",
                          "00:0A:1B:2C:3D:50|10.0.0.1|192.168.50.9|255.255.255.0|192.168.50.1|1"));
  EXPECT_THAT(Events.Acks, ElementsAre("00:0A:1B:2C:3D:50|192.168.50.9"));
}

TEST_F(VEPEngineNetwork, OwnBroadcastHeardBackIsReportedAsARequest) {
  OnPc(
      [&](THeadlessLoop& loop, TVEP& engine) {
        engine.SendDiscover();
        EXPECT_TRUE(loop.RunUntil([&] { return !Events.Messages.empty(); }, 5000));
      },
      MessageEventsFlag);
  EXPECT_THAT(Events.Messages, Contains("Received a request"));
  EXPECT_THAT(Events.Devices, IsEmpty());
}

TEST_F(VEPEngineNetwork, DamagedRepliesGiveTheirDiagnosticsAndNoDevice) {
  AddDevice("d1", SegmentA, "10.0.0.11/24", "mac=02:00:00:00:00:01",
            {"--malformed", "wrong-destination"});
  AddDevice("d2", SegmentA, "10.0.0.12/24", "mac=02:00:00:00:00:02",
            {"--malformed", "wrong-class"});
  AddDevice("d3", SegmentA, "10.0.0.13/24", "mac=02:00:00:00:00:03",
            {"--malformed", "wrong-method"});
  AddDevice("d4", SegmentA, "10.0.0.14/24", "mac=02:00:00:00:00:04", {"--malformed", "oversize"});
  OnPc(
      [&](THeadlessLoop& loop, TVEP& engine) {
        engine.SendDiscover();
        EXPECT_TRUE(loop.RunUntil([&] { return FromDevices().size() >= 4; }, 5000));
      },
      MessageEventsFlag);
  const std::vector<std::string> fromDevices = FromDevices();
  EXPECT_THAT(fromDevices, UnorderedElementsAre("Address mismatch", "Unknown class",
                                                "Unknown method in class VEP",
                                                "Buffer size is too small"));
  EXPECT_THAT(Events.Devices, IsEmpty());
}

TEST_F(VEPEngineNetwork, ShortAndEmptyDatagramsAreDroppedAndTheGoodReplyAfterThemCounts) {
  AddDevice("d1", SegmentA, "10.0.0.11/24", "mac=02:00:00:00:00:01,name=A,type=T",
            {"--malformed", "empty", "--malformed-then-good"});
  AddDevice("d2", SegmentA, "10.0.0.12/24", "mac=02:00:00:00:00:02,name=B,type=T",
            {"--malformed", "short", "--malformed-then-good"});
  OnPc(
      [&](THeadlessLoop& loop, TVEP& engine) {
        engine.SendDiscover();
        EXPECT_TRUE(loop.RunUntil([&] { return Events.Devices.size() == 2; }, 5000));
      },
      MessageEventsFlag);
  EXPECT_THAT(Events.Devices, UnorderedElementsAre("02:00:00:00:00:01|10.0.0.1|10.0.0.11|A|T",
                                                   "02:00:00:00:00:02|10.0.0.1|10.0.0.12|B|T"));
  for (const std::string& message : Events.Messages) EXPECT_EQ(message, "Received a request");
}

TEST_F(VEPEngineNetwork, StartEngineCreatesTheEngineOnceAndASecondStartFails) {
  AddDevice("near", SegmentA, "10.0.0.7/24", "mac=00:0A:1B:2C:3D:4E,name=AP-1,type=Bridge");
  TRecordingNotifier notifier;
  SetNotifier(&notifier);
  Bed->InNamespace(Pc, [&] {
    THeadlessLoop loop;
    TMainLoopScope scope(loop);
    ASSERT_TRUE(StartEngine());
    TVEP* const first = EngineInstance.get();
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(StartEngine());
    EXPECT_EQ(EngineInstance.get(), first);
    EngineInstance->SetApplicationCallback(&RecordEvent, 0);
    EXPECT_TRUE(Scan(loop, *EngineInstance, [&] { return !Events.Devices.empty(); }));
    EngineInstance.reset();  // while its loop still runs
  });
  SetNotifier(nullptr);
  EXPECT_THAT(notifier.Notices,
              ElementsAre("HalvexVEP Error: HalvexVEP.dll is already running on this system, "
                          "Please terminate the old application first [OK/Cancel]"));
  EXPECT_THAT(Events.Devices, Contains("00:0A:1B:2C:3D:4E|10.0.0.1|10.0.0.7|AP-1|Bridge"));
}

}  // namespace
}  // namespace scoutor
