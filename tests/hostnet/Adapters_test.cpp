#include "hostnet/Adapters.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>

#include "hostnet/FormatIPv4.h"
#include "tests/hostnet/MadeUpAdapterPlatform.h"

namespace scoutor {
namespace {

using test::Adapter;
using test::TMadeUpAdapterPlatform;

constexpr std::uint32_t kUntouched = 0xDEADBEEF;

// A network-order value from its four bytes as they lie in memory.
std::uint32_t NetworkOrder(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  std::uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

TEST(FormatIPv4, WritesTheFourBytesInNetworkOrder) {
  EXPECT_EQ(FormatIPv4(NetworkOrder(0xC0, 0xA8, 0x01, 0x0A)), "192.168.1.10");
  EXPECT_EQ(FormatIPv4(NetworkOrder(0x0A, 0x00, 0x00, 0x07)), "10.0.0.7");
  EXPECT_EQ(FormatIPv4(NetworkOrder(0xFF, 0xFF, 0xFF, 0xFF)), "255.255.255.255");
  EXPECT_EQ(FormatIPv4(0), "0.0.0.0");
}

TEST(HostOrderAddress, GivesTheFirstNumberAsTheMostSignificantByte) {
  EXPECT_EQ(HostOrderAddress("192.168.1.10"), 0xC0A8010Au);
  EXPECT_EQ(HostOrderAddress("0.0.0.0"), 0u);
}

TEST(HostOrderAddress, FollowsInetAddrIncludingItsShortForms) {
  EXPECT_EQ(HostOrderAddress("10.1"), 0x0A000001u);
  EXPECT_EQ(HostOrderAddress("0x7f.1"), 0x7F000001u);
}

TEST(HostOrderAddress, TurnsARejectedTextInto255_255_255_255) {
  EXPECT_EQ(HostOrderAddress("not an address"), 0xFFFFFFFFu);
  EXPECT_EQ(HostOrderAddress("192.168.1.300"), 0xFFFFFFFFu);
  EXPECT_EQ(HostOrderAddress(""), 0xFFFFFFFFu);
}

class AdaptersTest : public ::testing::Test {
 protected:
  TMadeUpAdapterPlatform Platform;
  std::uint32_t Address = 0;
  std::uint32_t Mask = kUntouched;
  std::uint32_t Gateway = kUntouched;
};

TEST_F(AdaptersTest, AnyAddressSkipsAnAdapterWithoutAddress) {
  Platform.Report({Adapter("eth0", {{"0.0.0.0", "0.0.0.0"}}),
                   Adapter("eth1", {{"192.168.1.10", "255.255.255.0"}}, "192.168.1.1")});
  EXPECT_TRUE(FindLocalAddress(Address, Mask, Gateway));
  EXPECT_EQ(Address, 0xC0A8010Au);
  EXPECT_EQ(Mask, 0xFFFFFF00u);
  EXPECT_EQ(Gateway, 0xC0A80101u);
}

TEST_F(AdaptersTest, AnyAddressTakesTheFirstAdapterThatHasOne) {
  Platform.Report({Adapter("eth0", {{"10.0.0.5", "255.0.0.0"}}, "10.0.0.1"),
                   Adapter("eth1", {{"192.168.1.10", "255.255.255.0"}}, "192.168.1.1")});
  EXPECT_TRUE(FindLocalAddress(Address, Mask, Gateway));
  EXPECT_EQ(Address, 0x0A000005u);
  EXPECT_EQ(Mask, 0xFF000000u);
  EXPECT_EQ(Gateway, 0x0A000001u);
}

TEST_F(AdaptersTest, OnlyAdapterWithoutAddressGivesNothingButStillCounts) {
  Platform.Report({Adapter("eth0", {{"0.0.0.0", "0.0.0.0"}})});
  EXPECT_FALSE(FindLocalAddress(Address, Mask, Gateway));
  EXPECT_EQ(Address, 0u);
  EXPECT_EQ(Mask, 0u);
  EXPECT_EQ(Gateway, 0u);
  EXPECT_EQ(CountAdapters(), 1u);
  EXPECT_TRUE(Platform.Recorder.Notices.empty());
}

TEST_F(AdaptersTest, SecondAddressOfAnAdapterHasItsOwnMaskAndTheAdaptersFirstGateway) {
  Platform.Report(
      {Adapter("eth0", {{"10.0.0.5", "255.0.0.0"}, {"172.16.0.5", "255.255.0.0"}}, "10.0.0.1")});
  Address = HostOrderAddress("172.16.0.5");
  EXPECT_TRUE(FindLocalAddress(Address, Mask, Gateway));
  EXPECT_EQ(Address, 0xAC100005u);
  EXPECT_EQ(Mask, 0xFFFF0000u);
  EXPECT_EQ(Gateway, 0x0A000001u);
}

TEST_F(AdaptersTest, WantedAddressOnALaterAdapterIsFound) {
  Platform.Report({Adapter("eth0", {{"10.0.0.5", "255.0.0.0"}}, "10.0.0.1"),
                   Adapter("eth1", {{"192.168.1.10", "255.255.255.0"}})});
  Address = HostOrderAddress("192.168.1.10");
  EXPECT_TRUE(FindLocalAddress(Address, Mask, Gateway));
  EXPECT_EQ(Address, 0xC0A8010Au);
  EXPECT_EQ(Mask, 0xFFFFFF00u);
  EXPECT_EQ(Gateway, 0u);
}

TEST_F(AdaptersTest, AddressNoAdapterHasGivesTheFirstConfiguredMaskAndGateway) {
  Platform.Report({Adapter("eth0", {{"0.0.0.0", "0.0.0.0"}}),
                   Adapter("eth1", {{"10.0.0.5", "255.0.0.0"}}, "10.0.0.1"),
                   Adapter("eth2", {{"192.168.1.10", "255.255.255.0"}}, "192.168.1.1")});
  Address = HostOrderAddress("192.168.9.9");
  EXPECT_FALSE(FindLocalAddress(Address, Mask, Gateway));
  EXPECT_EQ(Mask, 0xFF000000u);
  EXPECT_EQ(Gateway, 0x0A000001u);
  EXPECT_TRUE(Platform.Recorder.Notices.empty());
}

TEST_F(AdaptersTest, SameAddressOnTwoAdaptersReportsTheFirstAdapter) {
  Platform.Report({Adapter("eth0", {{"0.0.0.0", "0.0.0.0"}}),
                   Adapter("eth1", {{"192.168.1.10", "255.255.255.0"}}, "192.168.1.1"),
                   Adapter("eth2", {{"192.168.1.10", "255.255.0.0"}}, "192.168.1.254")});
  Address = HostOrderAddress("192.168.1.10");
  EXPECT_TRUE(FindLocalAddress(Address, Mask, Gateway));
  EXPECT_EQ(Mask, 0xFFFFFF00u);
  EXPECT_EQ(Gateway, 0xC0A80101u);
}

TEST_F(AdaptersTest, EveryCallReadsTheConfigurationAnew) {
  Platform.Report({Adapter("eth0", {{"10.0.0.5", "255.0.0.0"}})});
  EXPECT_TRUE(FindLocalAddress(Address, Mask, Gateway));
  EXPECT_EQ(Address, 0x0A000005u);
  Platform.Report({Adapter("eth0", {{"10.0.0.6", "255.0.0.0"}}), Adapter("eth1", {})});
  Address = 0;
  EXPECT_TRUE(FindLocalAddress(Address, Mask, Gateway));
  EXPECT_EQ(Address, 0x0A000006u);
  EXPECT_EQ(CountAdapters(), 2u);
}

TEST_F(AdaptersTest, CountAdaptersIsTheInterfaceCountLessOne) {
  Platform.Count = 4;
  EXPECT_EQ(CountAdapters(), 3u);
  Platform.Count = 1;
  EXPECT_EQ(CountAdapters(), 0u);
}

TEST_F(AdaptersTest, CountAdaptersIsZeroWhenTheCountCannotBeRead) {
  Platform.Count = std::nullopt;
  EXPECT_EQ(CountAdapters(), 0u);
  EXPECT_TRUE(Platform.Recorder.Notices.empty());
}

TEST_F(AdaptersTest, CountAdaptersOfNoInterfaceAtAllIsZeroNotAWrappedNumber) {
  Platform.Count = 0;
  EXPECT_EQ(CountAdapters(), 0u);
}

TEST_F(AdaptersTest, AdapterListKeepsThePlatformsOrderAndEntries) {
  Platform.Report(
      {Adapter("wan0", {{"0.0.0.0", "0.0.0.0"}}, "10.9.9.1"),
       Adapter("lan0", {{"192.168.7.10", "255.255.255.0"}, {"10.20.0.5", "255.255.0.0"}})});
  auto list = GetAdapterList();
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->Adapters.size(), 2u);
  EXPECT_EQ(list->Adapters[0].Name, "wan0");
  EXPECT_EQ(list->Adapters[0].Gateway, "10.9.9.1");
  EXPECT_EQ(list->Adapters[1].Name, "lan0");
  ASSERT_EQ(list->Adapters[1].Addresses.size(), 2u);
  EXPECT_EQ(list->Adapters[1].Addresses[1].Address, "10.20.0.5");
  EXPECT_EQ(list->Adapters[1].Addresses[1].Mask, "255.255.0.0");
  EXPECT_EQ(list->Adapters[1].Gateway, "0.0.0.0");
  FreeAdapterList(std::move(list));
}

TEST_F(AdaptersTest, ListLargerThanTheFirstGuessIsFetchedWithOneRetry) {
  Platform.Report({Adapter("eth0", {{"10.0.0.5", "255.0.0.0"}}),
                   Adapter("eth1", {{"10.1.0.5", "255.255.0.0"}}),
                   Adapter("eth2", {{"10.2.0.5", "255.255.0.0"}})});
  Platform.Count = 2;  // room for one adapter record at first
  const auto list = GetAdapterList();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->Adapters.size(), 3u);
  EXPECT_EQ(Platform.AdapterCalls, 2);
  EXPECT_TRUE(Platform.Recorder.Notices.empty());
}

TEST_F(AdaptersTest, ListStillTooLargeAfterTheRetryGivesNoneWithoutMessage) {
  const auto one = Adapter("eth0", {{"10.0.0.5", "255.0.0.0"}});
  Platform.Count = 2;
  Platform.Lists = {std::vector{one, one}, std::vector{one, one, one}};
  EXPECT_EQ(GetAdapterList(), nullptr);
  EXPECT_EQ(Platform.AdapterCalls, 2);
  EXPECT_TRUE(Platform.Recorder.Notices.empty());
}

TEST_F(AdaptersTest, OnlyLoopbackGivesAnEmptyListNotAFailure) {
  Platform.Report({});
  const auto list = GetAdapterList();
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->Adapters.empty());
  Mask = Gateway = kUntouched;
  EXPECT_FALSE(FindLocalAddress(Address, Mask, Gateway));
  EXPECT_EQ(Address, 0u);
  EXPECT_EQ(Mask, 0u);
  EXPECT_EQ(Gateway, 0u);
}

TEST_F(AdaptersTest, UnreadableListGivesNoneWithoutMessageAndLeavesTheOutputsAlone) {
  Platform.Count = 3;
  Platform.Lists = {std::nullopt};
  EXPECT_EQ(GetAdapterList(), nullptr);
  Address = 0x0A000005;
  EXPECT_FALSE(FindLocalAddress(Address, Mask, Gateway));
  EXPECT_EQ(Address, 0x0A000005u);
  EXPECT_EQ(Mask, kUntouched);
  EXPECT_EQ(Gateway, kUntouched);
  EXPECT_TRUE(Platform.Recorder.Notices.empty());
}

TEST_F(AdaptersTest, UnreadableInterfaceCountLeavesTheOutputsAlone) {
  Platform.Report({Adapter("eth0", {{"10.0.0.5", "255.0.0.0"}})});
  Platform.Count = std::nullopt;
  Address = 0x0A000005;
  EXPECT_FALSE(FindLocalAddress(Address, Mask, Gateway));
  EXPECT_EQ(Address, 0x0A000005u);
  EXPECT_EQ(Mask, kUntouched);
  EXPECT_EQ(GetAdapterList(), nullptr);
  EXPECT_EQ(Platform.AdapterCalls, 0);
}

TEST_F(AdaptersTest, InterfaceCountTooLargeForABufferShowsTheMemoryMessage) {
  Platform.Report({Adapter("eth0", {{"10.0.0.5", "255.0.0.0"}})});
  Platform.Count = std::numeric_limits<std::size_t>::max();
  EXPECT_EQ(GetAdapterList(), nullptr);
  ASSERT_EQ(Platform.Recorder.Notices.size(), 1u);
  EXPECT_EQ(Platform.Recorder.Notices[0].Caption, "HalvexVEP Error");
  EXPECT_EQ(Platform.Recorder.Notices[0].Text, "HalvexVEP : Couldn't allocate memory");
  EXPECT_EQ(Platform.AdapterCalls, 0);
}

TEST_F(AdaptersTest, LoadFailureShowsItsMessageAnewOnEachCall) {
  Platform.Report({Adapter("eth0", {{"10.0.0.5", "255.0.0.0"}}, "10.0.0.1")});
  Platform.LoadFailure = "HalvexVEP : Couldn't read the IP configuration";
  EXPECT_FALSE(LoadAdapterAccess());
  EXPECT_EQ(CountAdapters(), 0u);
  EXPECT_EQ(GetAdapterList(), nullptr);
  Address = 0;
  EXPECT_FALSE(FindLocalAddress(Address, Mask, Gateway));
  EXPECT_EQ(Address, 0u);
  EXPECT_EQ(Mask, kUntouched);
  EXPECT_EQ(Gateway, kUntouched);

  ASSERT_EQ(Platform.Recorder.Notices.size(), 4u);
  for (const auto& notice : Platform.Recorder.Notices) {
    EXPECT_EQ(notice.Caption, "HalvexVEP Error");
    EXPECT_EQ(notice.Text, "HalvexVEP : Couldn't read the IP configuration");
    EXPECT_EQ(notice.Buttons, TNoticeButtons::OkCancel);
  }
  EXPECT_EQ(Platform.LoadCalls, 4);
  EXPECT_EQ(Platform.AdapterCalls, 0);
}

TEST_F(AdaptersTest, SuccessfulLoadIsKeptForGood) {
  Platform.Report({Adapter("eth0", {{"10.0.0.5", "255.0.0.0"}})});
  Platform.LoadFailure = "HalvexVEP : Couldn't read the IP configuration";
  EXPECT_FALSE(LoadAdapterAccess());
  Platform.LoadFailure.clear();
  EXPECT_TRUE(LoadAdapterAccess());
  Platform.LoadFailure = "HalvexVEP : Couldn't read the IP configuration";
  EXPECT_TRUE(LoadAdapterAccess());
  EXPECT_EQ(CountAdapters(), 1u);
  EXPECT_TRUE(FindLocalAddress(Address, Mask, Gateway));
  EXPECT_EQ(Platform.LoadCalls, 2);
  EXPECT_EQ(Platform.Recorder.Notices.size(), 1u);
}

}  // namespace
}  // namespace scoutor
