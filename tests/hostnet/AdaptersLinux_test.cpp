// The adapter operations over the Linux kernel's own configuration, read inside network
// namespaces that the tests build.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>

#include "hostnet/Adapters.h"
#include "hostnet/FormatIPv4.h"
#include "tests/hostnet/MadeUpAdapterPlatform.h"
#include "tests/support/NetnsBed.h"

namespace scoutor {
namespace {

struct TLookup {
  bool Found = false;
  std::uint32_t Address = 0;
  std::uint32_t Mask = 0;
  std::uint32_t Gateway = 0;
};

TLookup Lookup(const std::string& wanted) {
  TLookup lookup;
  lookup.Address = HostOrderAddress(wanted);
  lookup.Found = FindLocalAddress(lookup.Address, lookup.Mask, lookup.Gateway);
  return lookup;
}

// A host namespace with, in this order of creation: lan0 (index 20) holding 192.168.7.10/24
// and 10.20.0.5/16 (the latter under the label lan0:sec), with default routes via 192.168.7.1
// (metric 100) and 192.168.7.254 (metric 300); and wan0 (index 10) without any IPv4 address,
// with a default route via 10.9.9.1. The other ends of both links sit in a peer namespace.
class LinuxAdaptersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SCOUTOR_REQUIRE_NETNS();
    SetAdapterPlatform(nullptr);
    SetNotifier(&Recorder);
    Host = Bed.AddHost("host");
    Peer = Bed.AddHost("peer");
    Bed.Run(Host, "ip link add name lan0 index 20 type veth peer name lan0p netns " + Peer);
    Bed.Run(Host, "ip link add name wan0 index 10 type veth peer name wan0p netns " + Peer);
    Bed.Run(Peer, "ip link set lan0p up && ip link set wan0p up");
    Bed.Run(Host,
            "ip addr add 192.168.7.10/24 dev lan0 && "
            "ip addr add 10.20.0.5/16 dev lan0 label lan0:sec && "
            "ip link set lan0 up && ip link set wan0 up && "
            "ip route add default via 192.168.7.254 dev lan0 metric 300 && "
            "ip route add default via 192.168.7.1 dev lan0 metric 100 && "
            "ip route add default via 10.9.9.1 dev wan0 onlink metric 200");
  }
  void TearDown() override { SetNotifier(nullptr); }

  test::TNetnsBed Bed;
  test::TRecordingNotifier Recorder;
  std::string Host;
  std::string Peer;
};

TEST_F(LinuxAdaptersTest, CountIncludesLoopbackLessOne) {
  EXPECT_EQ(Bed.InNamespace(Host, [] { return CountAdapters(); }), 2u);
  EXPECT_TRUE(Recorder.Notices.empty());
}

TEST_F(LinuxAdaptersTest, AdaptersComeInIndexOrderWithoutLoopback) {
  const TAdapterList list = Bed.InNamespace(Host, [] {
    auto fetched = GetAdapterList();
    return fetched ? *fetched : TAdapterList{};
  });
  ASSERT_EQ(list.Adapters.size(), 2u);

  const TAdapterRecord& wan = list.Adapters[0];
  EXPECT_EQ(wan.Name, "wan0");
  ASSERT_EQ(wan.Addresses.size(), 1u);
  EXPECT_EQ(wan.Addresses[0].Address, "0.0.0.0");
  EXPECT_EQ(wan.Addresses[0].Mask, "0.0.0.0");
  EXPECT_EQ(wan.Gateway, "10.9.9.1");

  const TAdapterRecord& lan = list.Adapters[1];
  EXPECT_EQ(lan.Name, "lan0");
  ASSERT_EQ(lan.Addresses.size(), 2u);
  EXPECT_EQ(lan.Addresses[0].Address, "192.168.7.10");
  EXPECT_EQ(lan.Addresses[0].Mask, "255.255.255.0");
  EXPECT_EQ(lan.Addresses[1].Address, "10.20.0.5");
  EXPECT_EQ(lan.Addresses[1].Mask, "255.255.0.0");
  EXPECT_EQ(lan.Gateway, "192.168.7.1");
}

TEST_F(LinuxAdaptersTest, AnyAddressIsTheFirstConfiguredOne) {
  const TLookup any = Bed.InNamespace(Host, [] { return Lookup("0.0.0.0"); });
  EXPECT_TRUE(any.Found);
  EXPECT_EQ(FormatIPv4(htonl(any.Address)), "192.168.7.10");
  EXPECT_EQ(FormatIPv4(htonl(any.Mask)), "255.255.255.0");
  EXPECT_EQ(FormatIPv4(htonl(any.Gateway)), "192.168.7.1");
}

TEST_F(LinuxAdaptersTest, SecondAddressHasItsMaskAndTheAdaptersGateway) {
  const TLookup second = Bed.InNamespace(Host, [] { return Lookup("10.20.0.5"); });
  EXPECT_TRUE(second.Found);
  EXPECT_EQ(FormatIPv4(htonl(second.Address)), "10.20.0.5");
  EXPECT_EQ(FormatIPv4(htonl(second.Mask)), "255.255.0.0");
  EXPECT_EQ(FormatIPv4(htonl(second.Gateway)), "192.168.7.1");
}

TEST_F(LinuxAdaptersTest, UnknownAddressGivesTheFirstConfiguredMaskAndGateway) {
  const TLookup unknown = Bed.InNamespace(Host, [] { return Lookup("192.168.7.99"); });
  EXPECT_FALSE(unknown.Found);
  EXPECT_EQ(FormatIPv4(htonl(unknown.Mask)), "255.255.255.0");
  EXPECT_EQ(FormatIPv4(htonl(unknown.Gateway)), "192.168.7.1");
}

TEST_F(LinuxAdaptersTest, ConfigurationChangeIsSeenByTheNextCall) {
  Bed.Run(Host, "ip addr add 192.168.8.10/24 dev wan0");
  const TLookup any = Bed.InNamespace(Host, [] { return Lookup("0.0.0.0"); });
  EXPECT_TRUE(any.Found);
  EXPECT_EQ(FormatIPv4(htonl(any.Address)), "192.168.8.10");
  EXPECT_EQ(FormatIPv4(htonl(any.Gateway)), "10.9.9.1");
}

TEST_F(LinuxAdaptersTest, NamespaceWithOnlyLoopbackHasNoAdapter) {
  const std::string bare = Bed.AddHost("bare");
  const auto [count, adapters, any] = Bed.InNamespace(bare, [] {
    auto list = GetAdapterList();
    return std::tuple{CountAdapters(), list ? static_cast<int>(list->Adapters.size()) : -1,
                      Lookup("0.0.0.0")};
  });
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(adapters, 0);
  EXPECT_FALSE(any.Found);
  EXPECT_EQ(any.Address, 0u);
  EXPECT_EQ(any.Mask, 0u);
  EXPECT_EQ(any.Gateway, 0u);
  EXPECT_TRUE(Recorder.Notices.empty());
}

}  // namespace
}  // namespace scoutor
