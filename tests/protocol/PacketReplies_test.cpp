// Replies that the IP stack drops before the engine's UDP socket sees them, heard through the
// packet socket of the interface they come in on: a device outside the laptop's subnet under
// reverse-path filtering, devices behind a host firewall that drops what belongs to no
// connection; and a reply both paths hear is handled once. Each case also runs without the
// capability (as nobody), where the same devices stay unheard.
//
//   pc    eth0 10.0.0.1/24, no default route
//   near  10.0.0.7/24 on the same segment; far 10.1.2.3/24 on it too, outside pc's subnet
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/VEPEngine.h"
#include "runtime/HeadlessLoop.h"
#include "tests/support/NetnsBed.h"
#include "tests/support/PcOnLan.h"
#include "tests/support/ToolRun.h"

namespace scoutor::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kVepctl = SCOUTOR_BINARY_DIR "/tools/vepctl/vepctl";
const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";
// vepctl without privileges: no capability, so no packet socket.
const std::string kAsNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";

class PacketReplies : public TPcOnLan {
 protected:
  void SetUp() override { SetUpPcOnLan("10.0.0.1/24"); }

  void AddDevice(const std::string& name, const std::string& address, const std::string& spec) {
    const std::string ns = Bed->AddHost(name);
    Bed->Attach(ns, Lan, "eth0", address);
    Bed->Spawn(ns, {kVepsim, "--device", spec});
    WaitForUdpListener(*Bed, ns, 17784);
  }

  // What vepctl lists in the PC's namespace: the device names, and its debug lines.
  struct TListing {
    std::set<std::string> Names;
    std::string Debug;
  };
  TListing Discover(const std::string& prefix = "") {
    const std::string output =
        Bed->Run(Pc, prefix + kVepctl + " -d --json discover --wait 2000 2>&1; true");
    TListing listing;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
      const bool json = line.starts_with("{");
      if (json && nlohmann::json::parse(line).contains("name"))  // not the summary of a failure
        listing.Names.insert(nlohmann::json::parse(line).at("name").get<std::string>());
      else if (!json)
        listing.Debug += line + "\n";
    }
    return listing;
  }
};

TEST_F(PacketReplies, ADeviceOutsideTheSubnetIsListedDespiteReversePathFiltering) {
  Bed->Run(Pc, "sysctl -qw net.ipv4.conf.all.rp_filter=2 net.ipv4.conf.eth0.rp_filter=2");
  ASSERT_EQ(Bed->Run(Pc, "ip -4 route show default"), "");
  AddDevice("near", "10.0.0.7/24", "mac=02:00:00:00:00:07,name=Near,ip=10.0.0.7");
  AddDevice("far", "10.1.2.3/24", "mac=02:00:00:00:01:03,name=Far,ip=10.1.2.3");

  const TListing listing = Discover();
  EXPECT_EQ(listing.Names, (std::set<std::string>{"Far", "Near"}));
  EXPECT_THAT(listing.Debug, HasSubstr("reply from 10.1.2.3 heard on the packet socket of eth0"));
  // Without the packet socket the kernel keeps the far device's replies from every socket.
  const TListing unprivileged = Discover(kAsNobody);
  EXPECT_EQ(unprivileged.Names, (std::set<std::string>{"Near"}));
  EXPECT_THAT(unprivileged.Debug, HasSubstr("no packet socket (needs root or cap_net_raw)"));
  // It is told why, with both remedies; with the capability it is not.
  EXPECT_THAT(unprivileged.Debug,
              HasSubstr("dropped by reverse-path filtering on eth0 (rp_filter=2): no route leads "
                        "back to them. To hear them, grant vepctl the capability"));
  EXPECT_THAT(listing.Debug, Not(HasSubstr("reverse-path filtering")));
}

TEST_F(PacketReplies, DevicesBehindAFirewallThatDropsWhatBelongsToNoConnectionAreListed) {
  if (!Bed->AddConnectionFirewall(Pc)) GTEST_SKIP() << "needs nft (nftables)";
  AddDevice("near", "10.0.0.7/24", "mac=02:00:00:00:00:07,name=Near,ip=10.0.0.7");
  AddDevice("next", "10.0.0.8/24", "mac=02:00:00:00:00:08,name=Next,ip=10.0.0.8");

  EXPECT_EQ(Discover().Names, (std::set<std::string>{"Near", "Next"}));
  const TListing unprivileged = Discover(kAsNobody);
  EXPECT_EQ(unprivileged.Names, std::set<std::string>{});
  EXPECT_THAT(unprivileged.Debug, HasSubstr("no device answered the scan"));
  EXPECT_THAT(unprivileged.Debug, HasSubstr("a host firewall may drop the devices' replies"));
}

// What the application callback of an engine received.
struct TFound {
  std::vector<std::string> Devices;  // "ID|Interface|IPAddress"
  std::vector<std::string> Messages;
};
TFound* Found = nullptr;

void RecordFound(std::uint32_t event, void* record) {
  if (event == vepDeviceFound) {
    const auto& e = *static_cast<TVEPDeviceEvent*>(record);
    Found->Devices.push_back(std::string(e.ID) + "|" + e.Interface + "|" + e.IPAddress);
  } else if (event == vepMessage) {
    Found->Messages.push_back(static_cast<TVEPMessageEvent*>(record)->Text);
  }
}

class PacketRepliesToTheEngine : public PacketReplies {
 protected:
  // Runs the engine in the PC's namespace on a headless loop: `rounds` discovery broadcasts,
  // each followed by 600 ms, well past the moment both copies of a reply are in and the packet
  // socket's copy is due. Returns the count of devices found after each round.
  std::vector<std::size_t> Scan(int rounds) {
    Found = &Events;
    std::vector<std::size_t> afterEachRound;
    Bed->InNamespace(Pc, [&] {
      THeadlessLoop loop;
      TMainLoopScope scope(loop);
      TVEP engine;
      engine.SetApplicationCallback(&RecordFound, MessageEventsFlag);
      for (int i = 0; i < rounds; ++i) {
        engine.SendDiscover();
        loop.RunUntil([] { return false; }, 600);
        afterEachRound.push_back(Events.Devices.size());
      }
      PacketSockets = Bed->Run(Pc, "cat /proc/net/packet");
    });
    Found = nullptr;
    return afterEachRound;
  }

  TFound Events;
  std::string PacketSockets;  // /proc/net/packet of the PC's namespace while the engine ran
};

TEST_F(PacketRepliesToTheEngine, AReplyBothPathsHearIsOneEventAndEachRepeatedReplyIsOneMore) {
  AddDevice("near", "10.0.0.7/24", "mac=02:00:00:00:00:07,name=Near,ip=10.0.0.7");
  EXPECT_THAT(Scan(3), ElementsAre(1u, 2u, 3u));
  // The engine did listen with a packet socket (a line besides the heading).
  EXPECT_GE(std::count(PacketSockets.begin(), PacketSockets.end(), '\n'), 2) << PacketSockets;
  for (const std::string& device : Events.Devices)
    EXPECT_EQ(device, "02:00:00:00:00:07|10.0.0.1|10.0.0.7");
  for (const std::string& message : Events.Messages)
    EXPECT_THAT(message, Not(HasSubstr("packet socket")));
}

TEST_F(PacketRepliesToTheEngine, WithTwoInterfacesAReplyHeardOnlyByThePacketSocketNamesItsOwn) {
  const std::string second = Bed->AddSegment("lan2");
  Bed->Attach(Pc, second, "eth1", "10.1.0.1/24");
  Bed->Run(Pc, "sysctl -qw net.ipv4.conf.all.rp_filter=2 net.ipv4.conf.eth1.rp_filter=2");
  const std::string far = Bed->AddHost("far");
  Bed->Attach(far, second, "eth0", "10.9.2.3/24");
  Bed->Spawn(far, {kVepsim, "--device", "mac=02:00:00:00:09:03,name=Far,ip=10.9.2.3"});
  WaitForUdpListener(*Bed, far, 17784);
  AddDevice("near", "10.0.0.7/24", "mac=02:00:00:00:00:07,name=Near,ip=10.0.0.7");

  EXPECT_THAT(Scan(2), ElementsAre(2u, 4u));
  std::sort(Events.Devices.begin(), Events.Devices.end());
  EXPECT_THAT(
      Events.Devices,
      ElementsAre("02:00:00:00:00:07|10.0.0.1|10.0.0.7", "02:00:00:00:00:07|10.0.0.1|10.0.0.7",
                  "02:00:00:00:09:03|10.1.0.1|10.9.2.3", "02:00:00:00:09:03|10.1.0.1|10.9.2.3"));
  EXPECT_EQ(std::count(Events.Messages.begin(), Events.Messages.end(),
                       "reply from 10.9.2.3 heard on the packet socket of eth1"),
            2);
}

}  // namespace
}  // namespace scoutor::test
