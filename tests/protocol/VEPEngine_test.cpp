// The engine's checks, decoding and event dispatch, fed with datagram bytes directly; the
// host's adapters come from a made-up adapter source.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "hostnet/Adapters.h"
#include "protocol/VEPEngine.h"
#include "runtime/Notifier.h"
#include "tests/support/Hex.h"

namespace scoutor {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using test::Hex;

class TMadeUpAdapters : public TAdapterPlatform {
 public:
  explicit TMadeUpAdapters(std::vector<TAdapterRecord> adapters) : List(std::move(adapters)) {}
  bool Load(std::string&) override { return true; }
  std::optional<std::size_t> InterfaceCount() override { return List.size() + 1; }  // + lo
  std::optional<std::vector<TAdapterRecord>> Adapters() override { return List; }

 private:
  std::vector<TAdapterRecord> List;
};

// Everything the engine said, in order: notices as "box <caption>: <text>", events as
// "<code> field|field|...".
std::vector<std::string>* Said = nullptr;

class TRecordingNotifier : public TNotifier {
 public:
  TNoticeAnswer Show(const std::string& caption, const std::string& text,
                     TNoticeButtons buttons) override {
    EXPECT_EQ(buttons, TNoticeButtons::OkCancel);
    Said->push_back("box " + caption + ": " + text);
    return TNoticeAnswer::Cancel;
  }
};

void RecordEvent(std::uint32_t event, void* record) {
  std::string line = std::to_string(event) + " ";
  switch (event) {
    case vepMessage:
      line += static_cast<TVEPMessageEvent*>(record)->Text;
      break;
    case vepDeviceFound: {
      const auto& e = *static_cast<TVEPDeviceEvent*>(record);
      line += std::string(e.ID) + "|" + e.Interface + "|" + e.IPAddress + "|" + e.Name + "|" +
              e.Type;
      break;
    }
    case vepIPConfig: {
      const auto& e = *static_cast<TVEPIPConfigEvent*>(record);
      line += std::string(e.ID) + "|" + e.Interface + "|" + e.IPAddress + "|" + e.SubnetMask +
              "|" + e.DefaultGateway + "|" + std::to_string(e.DHCP);
      break;
    }
    case vepIPSet: {
      const auto& e = *static_cast<TVEPIPSetEvent*>(record);
      line += std::string(e.ID) + "|" + e.IPAddress;
      break;
    }
  }
  Said->push_back(line);
}

// Replies from device 00:0A:1B:2C:3D:4E to the host 192.168.1.5.
const std::string kToHost = "00 02 C0 A8 01 05 45 78 ";
const std::string kFromDevice = "00 01 00 0A 1B 2C 3D 4E ";
const std::string kReplyFixed = "01 00 C0 01 00 00 01 00 01 ";  // Fixed1, Fixed2, Flags, Class
const std::string kNameAndType = " 02 04 41 50 2D 31  03 06 42 72 69 64 67 65";

class VEPEngineDispatch : public ::testing::Test {
 protected:
  VEPEngineDispatch() {
    Said = &Lines;
    SetNotifier(&Notices);
  }
  ~VEPEngineDispatch() override {
    SetNotifier(nullptr);
    SetAdapterPlatform(nullptr);
    Said = nullptr;
  }

  // An engine on a host whose one adapter has 192.168.1.5.
  void StartOnOneAdapter() {
    Start({{"eth0", {{"192.168.1.5", "255.255.255.0"}}, "192.168.1.1"}});
  }
  void Start(std::vector<TAdapterRecord> adapters) {
    Adapters = std::make_unique<TMadeUpAdapters>(std::move(adapters));
    SetAdapterPlatform(Adapters.get());
    Engine = std::make_unique<TVEP>();
  }

  // Hands `bytes` to the engine as received from `from` on a binding with local address
  // `local`.
  void Receive(const TVEPDatagram& bytes, const std::string& from = "10.0.0.7",
               const std::string& local = "0.0.0.0") {
    TSocketBinding binding;
    binding.IP = local;
    binding.Port = kVEPPort;
    binding.RemoteIP = from;
    binding.RemotePort = kVEPPort;
    TByteStream stream(bytes.data(), bytes.size());
    Engine->HandleDatagram(Engine->Endpoint(), stream, binding);
  }

  std::vector<std::string> Lines;
  TRecordingNotifier Notices;
  std::unique_ptr<TMadeUpAdapters> Adapters;
  std::unique_ptr<TVEP> Engine;
};

TEST_F(VEPEngineDispatch, HostIDComesFromTheFirstConfiguredAddress) {
  Start({{"eth0", {{"0.0.0.0", "0.0.0.0"}}, "0.0.0.0"},
         {"eth1", {{"192.168.1.5", "255.255.255.0"}, {"10.1.1.1", "255.0.0.0"}}, "0.0.0.0"}});
  EXPECT_EQ(Engine->HostID(), (TVEPNodeID{0x00, 0x02, 0xC0, 0xA8, 0x01, 0x05, 0x45, 0x78}));
  EXPECT_EQ(Engine->HostAddressText(), "192.168.1.5");
}

TEST_F(VEPEngineDispatch, HostWithoutAddressUsesZeros) {
  Start({{"eth0", {{"0.0.0.0", "0.0.0.0"}}, "0.0.0.0"}});
  EXPECT_EQ(Engine->HostID(), (TVEPNodeID{0x00, 0x02, 0, 0, 0, 0, 0x45, 0x78}));
  EXPECT_EQ(Engine->HostAddressText(), "0.0.0.0");
}

TEST_F(VEPEngineDispatch, OneAdapterMeansOneAnyAddressBinding) {
  StartOnOneAdapter();
  EXPECT_FALSE(Engine->MultiBinding());
  EXPECT_EQ(Engine->Endpoint().Bindings.Count(), 0u);
  EXPECT_EQ(Engine->Endpoint().DefaultPort(), kVEPPort);
}

TEST_F(VEPEngineDispatch, SeveralAdaptersGiveOneBindingPerConfiguredAddress) {
  Start({{"eth0", {{"10.0.0.1", "255.255.255.0"}, {"10.0.5.1", "255.255.255.0"}}, "0.0.0.0"},
         {"eth1", {{"0.0.0.0", "0.0.0.0"}}, "0.0.0.0"},
         {"eth2", {{"172.16.0.1", "255.255.0.0"}}, "0.0.0.0"}});
  ASSERT_TRUE(Engine->MultiBinding());
  TSocketBindings& bindings = Engine->Endpoint().Bindings;
  ASSERT_EQ(bindings.Count(), 3u);
  EXPECT_EQ(bindings[0].IP, "10.0.0.1");
  EXPECT_EQ(bindings[1].IP, "10.0.5.1");
  EXPECT_EQ(bindings[2].IP, "172.16.0.1");
  for (std::size_t i = 0; i < bindings.Count(); ++i) EXPECT_EQ(bindings[i].Port, kVEPPort);
}

TEST_F(VEPEngineDispatch, SeveralAdaptersWithoutAddressesFallBackToTheAnyAddress) {
  Start({{"eth0", {{"0.0.0.0", "0.0.0.0"}}, "0.0.0.0"},
         {"eth1", {{"0.0.0.0", "0.0.0.0"}}, "0.0.0.0"}});
  EXPECT_FALSE(Engine->MultiBinding());
  EXPECT_EQ(Engine->Endpoint().Bindings.Count(), 0u);
}

TEST_F(VEPEngineDispatch, ARestrictionBindsOnlyItsAddressesEachOnItsOwn) {
  Start({{"eth0", {{"10.0.0.1", "255.255.255.0"}, {"10.0.5.1", "255.255.255.0"}}, "0.0.0.0"},
         {"eth2", {{"172.16.0.1", "255.255.0.0"}}, "0.0.0.0"}});
  Engine->RestrictBindings({"172.16.0.1", "10.0.5.1"});
  ASSERT_TRUE(Engine->MultiBinding());
  TSocketBindings& bindings = Engine->Endpoint().Bindings;
  ASSERT_EQ(bindings.Count(), 2u);
  EXPECT_EQ(bindings[0].IP, "10.0.5.1");
  EXPECT_EQ(bindings[1].IP, "172.16.0.1");
}

// On one adapter the engine would bind the any-address, which hears every interface.
TEST_F(VEPEngineDispatch, ARestrictionOnAHostWithOneAdapterStillBindsTheAddress) {
  StartOnOneAdapter();
  Engine->RestrictBindings({"192.168.1.5"});
  ASSERT_TRUE(Engine->MultiBinding());
  ASSERT_EQ(Engine->Endpoint().Bindings.Count(), 1u);
  EXPECT_EQ(Engine->Endpoint().Bindings[0].IP, "192.168.1.5");
}

TEST_F(VEPEngineDispatch, ARestrictionToAnAddressTheHostLacksSendsNothing) {
  StartOnOneAdapter();
  Engine->RestrictBindings({"10.9.9.9"});
  EXPECT_TRUE(Engine->MultiBinding());
  EXPECT_EQ(Engine->Endpoint().Bindings.Count(), 0u);
  EXPECT_EQ(Engine->Endpoint().DefaultPort(), 0);
  Engine->SendDiscover();
  EXPECT_EQ(Engine->Endpoint().CurrentBinding(), nullptr);  // no socket was opened
}

TEST_F(VEPEngineDispatch, DiscoverReplyRaisesDeviceFound) {
  StartOnOneAdapter();
  Engine->SetApplicationCallback(&RecordEvent, 0);
  Receive(Hex(kToHost + kFromDevice + kReplyFixed + "00 01" + kNameAndType), "10.0.0.7");
  EXPECT_THAT(Lines, ElementsAre("1 00:0A:1B:2C:3D:4E|192.168.1.5|10.0.0.7|AP-1|Bridge"));
}

TEST_F(VEPEngineDispatch, ReplyHeaderFieldsOutsideTheChecksAreNotLookedAt) {
  StartOnOneAdapter();
  Engine->SetApplicationCallback(&RecordEvent, 0);
  // Source bytes 0-1, Fixed1, Fixed2 and Flags bits 1-7 carry rubbish.
  Receive(Hex(kToHost + "77 88 00 0A 1B 2C 3D 4E  AA BB CC DD FE  00 01 00 01  00 01"));
  EXPECT_THAT(Lines, ElementsAre("1 00:0A:1B:2C:3D:4E|192.168.1.5|10.0.0.7||"));
}

TEST_F(VEPEngineDispatch, OnAHostWithSeveralAdaptersInterfaceIsTheReceivingBinding) {
  Start({{"eth0", {{"192.168.1.5", "255.255.255.0"}}, "0.0.0.0"},
         {"eth1", {{"10.0.0.1", "255.255.255.0"}}, "0.0.0.0"}});
  Engine->SetApplicationCallback(&RecordEvent, 0);
  Receive(Hex(kToHost + kFromDevice + kReplyFixed + "00 01" + kNameAndType), "10.0.0.7",
          "10.0.0.1");
  EXPECT_THAT(Lines, ElementsAre("1 00:0A:1B:2C:3D:4E|10.0.0.1|10.0.0.7|AP-1|Bridge"));
}

TEST_F(VEPEngineDispatch, OwnRequestHeardBackIsReportedAndDropped) {
  StartOnOneAdapter();
  Engine->SetApplicationCallback(&RecordEvent, MessageEventsFlag);
  Receive(Hex("01 00 00 00 00 00 00 00 00 02 C0 A8 01 05 45 78 01 00 C0 01 01 00 01 00 01 00 01"));
  EXPECT_THAT(Lines, ElementsAre("0 Received a request"));
}

TEST_F(VEPEngineDispatch, DestinationDifferingInItsLastByteIsAnAddressMismatch) {
  StartOnOneAdapter();
  Engine->SetApplicationCallback(&RecordEvent, MessageEventsFlag);
  Receive(Hex("00 02 C0 A8 01 05 45 79 " + kFromDevice + kReplyFixed + "00 01" + kNameAndType));
  EXPECT_THAT(Lines, ElementsAre("0 Address mismatch"));
}

TEST_F(VEPEngineDispatch, ShortDatagramsGiveNothing) {
  StartOnOneAdapter();
  Engine->SetApplicationCallback(&RecordEvent, MessageEventsFlag | MessageBoxFlag);
  const TVEPDatagram full = Hex(kToHost + kFromDevice + kReplyFixed + "00 01");
  Receive(TVEPDatagram(full.begin(), full.end() - 1));  // 26 bytes
  Receive({});
  EXPECT_THAT(Lines, IsEmpty());
}

TEST_F(VEPEngineDispatch, UnknownClassAndUnknownMethod) {
  StartOnOneAdapter();
  Engine->SetApplicationCallback(&RecordEvent, MessageEventsFlag);
  Receive(Hex(kToHost + kFromDevice + "01 00 C0 01 00  00 01 00 02  00 01" + kNameAndType));
  Receive(Hex(kToHost + kFromDevice + kReplyFixed + "00 04"));
  EXPECT_THAT(Lines, ElementsAre("0 Unknown class", "0 Unknown method in class VEP"));
}

TEST_F(VEPEngineDispatch, SetIPReplyRaisesIPSetWhateverFollowsTheHeader) {
  StartOnOneAdapter();
  Engine->SetApplicationCallback(&RecordEvent, MessageEventsFlag);
  Receive(Hex(kToHost + kFromDevice + kReplyFixed + "00 03"), "10.0.0.7");
  Receive(Hex(kToHost + kFromDevice + kReplyFixed + "00 03  09 FF 01"), "10.0.0.7");
  EXPECT_THAT(Lines, ElementsAre("3 00:0A:1B:2C:3D:4E|10.0.0.7", "3 00:0A:1B:2C:3D:4E|10.0.0.7"));
}

TEST_F(VEPEngineDispatch, GetIPReplyRaisesIPConfig) {
  StartOnOneAdapter();
  Engine->SetApplicationCallback(&RecordEvent, 0);
  Receive(Hex(kToHost + kFromDevice + kReplyFixed +
              "00 02  04 01 00  05 04 0A 00 00 09  06 04 FF 00 00 00  07 04 0A 00 00 01"),
          "10.0.0.7");
  EXPECT_THAT(Lines,
              ElementsAre("2 00:0A:1B:2C:3D:4E|192.168.1.5|10.0.0.9|255.0.0.0|10.0.0.1|0"));
}

TEST_F(VEPEngineDispatch, GetIPReplyWithoutAddressGivesTheSourceAddress) {
  StartOnOneAdapter();
  Engine->SetApplicationCallback(&RecordEvent, 0);
  Receive(Hex(kToHost + kFromDevice + kReplyFixed + "00 02  04 01 01"), "10.0.0.7");
  EXPECT_THAT(Lines, ElementsAre("2 00:0A:1B:2C:3D:4E|192.168.1.5|10.0.0.7|||1"));
}

TEST_F(VEPEngineDispatch, FailedDecodingGivesItsDiagnosticAndNoEvent) {
  StartOnOneAdapter();
  Engine->SetApplicationCallback(&RecordEvent, MessageEventsFlag);
  Receive(Hex(kToHost + kFromDevice + kReplyFixed + "00 01  02 09 41 50"));
  Receive(Hex(kToHost + kFromDevice + kReplyFixed + "00 02  05 09 0A"));
  EXPECT_THAT(Lines,
              ElementsAre("0 Not enough bytes in stream", "0 Not enough bytes in the stream"));
}

TEST_F(VEPEngineDispatch, UnknownCodeIsReportedBeforeTheDeviceEvent) {
  StartOnOneAdapter();
  Engine->SetApplicationCallback(&RecordEvent, MessageEventsFlag);
  Receive(Hex(kToHost + kFromDevice + kReplyFixed + "00 01  09 01 00" + kNameAndType));
  EXPECT_THAT(Lines, ElementsAre("0 Unknown code",
                                 "1 00:0A:1B:2C:3D:4E|192.168.1.5|10.0.0.7|AP-1|Bridge"));
}

TEST_F(VEPEngineDispatch, WithoutFlagsDiagnosticsGoNowhere) {
  StartOnOneAdapter();
  Engine->SetApplicationCallback(&RecordEvent, 0);
  Receive(Hex(kToHost + kFromDevice + kReplyFixed + "00 04"));
  EXPECT_THAT(Lines, IsEmpty());
  EXPECT_FALSE(Engine->ForwardMessages());
  EXPECT_FALSE(Engine->ShowMessageBoxes());
}

TEST_F(VEPEngineDispatch, AFlagOnceSetStaysSet) {
  StartOnOneAdapter();
  Engine->SetApplicationCallback(&RecordEvent, MessageEventsFlag);
  Engine->SetApplicationCallback(&RecordEvent, 0);
  EXPECT_TRUE(Engine->ForwardMessages());
  EXPECT_FALSE(Engine->ShowMessageBoxes());
  Engine->SetApplicationCallback(&RecordEvent, 0xFC);  // bits 2-7 mean nothing
  EXPECT_FALSE(Engine->ShowMessageBoxes());
  Receive(Hex(kToHost + kFromDevice + kReplyFixed + "00 04"));
  EXPECT_THAT(Lines, ElementsAre("0 Unknown method in class VEP"));
}

TEST_F(VEPEngineDispatch, BoxIsShownBeforeTheMessageEvent) {
  StartOnOneAdapter();
  Engine->SetApplicationCallback(&RecordEvent, MessageEventsFlag | MessageBoxFlag);
  Receive(Hex(kToHost + kFromDevice + "01 00 C0 01 00  00 01 00 02  00 01"));
  EXPECT_THAT(Lines, ElementsAre("box HalvexVEP Exception: Unknown class", "0 Unknown class"));
}

TEST_F(VEPEngineDispatch, ReportMessageRoutesAnyText) {
  StartOnOneAdapter();
  Engine->SetApplicationCallback(&RecordEvent, MessageBoxFlag);
  Engine->ReportMessage("Upgrade failed with reason: x");
  Engine->SetApplicationCallback(&RecordEvent, MessageEventsFlag);
  Engine->ReportMessage("second");
  EXPECT_THAT(Lines, ElementsAre("box HalvexVEP Exception: Upgrade failed with reason: x",
                                 "box HalvexVEP Exception: second", "0 second"));
}

TEST_F(VEPEngineDispatch, WithoutCallbackRepliesRaiseNothingButDiagnosticsStillShow) {
  StartOnOneAdapter();
  Engine->SetApplicationCallback(nullptr, MessageEventsFlag | MessageBoxFlag);
  Receive(Hex(kToHost + kFromDevice + kReplyFixed + "00 01" + kNameAndType));
  Receive(Hex(kToHost + kFromDevice + kReplyFixed + "00 02  04 01 01"));
  Receive(Hex(kToHost + kFromDevice + kReplyFixed + "00 03"));
  Receive(Hex(kToHost + kFromDevice + kReplyFixed + "00 01  09 01 00"));
  EXPECT_THAT(Lines, ElementsAre("box HalvexVEP Exception: Unknown code"));
}

}  // namespace
}  // namespace scoutor
