// The orders devices are listed in and the filters that choose them, as the window and vepctl
// both use them.
#include "appmodel/DeviceOrder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/DeviceRecords.h"

namespace scoutor {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

using test::Device;

std::vector<std::string> IDsOf(const std::vector<TDeviceInfo>& devices) {
  std::vector<std::string> ids;
  for (const TDeviceInfo& device : devices) ids.push_back(device.ID);
  return ids;
}

TDeviceFilter Filter(const std::string& expression) {
  std::string problem;
  const std::optional<TDeviceFilter> filter = TDeviceFilter::Parse(expression, problem);
  EXPECT_TRUE(filter) << expression << ": " << problem;
  return filter.value_or(*TDeviceFilter::Parse("*", problem));
}

TEST(DeviceFilter, APatternMatchesTheNameOrTheTypeInAnyCase) {
  const TDeviceInfo camera = Device("Gate-7", "IP Camera", "10.0.0.7", "00:0A:1B:2C:3D:4E");
  EXPECT_TRUE(Filter("gate-?").Matches(camera));
  EXPECT_TRUE(Filter("*CAMERA").Matches(camera));
  EXPECT_TRUE(Filter("[gh]ate*").Matches(camera));
  EXPECT_FALSE(Filter("gate").Matches(camera));  // the whole name, not a part of it
  EXPECT_FALSE(Filter("sensor*").Matches(camera));
  EXPECT_FALSE(Filter("10.0.0.7").Matches(camera));  // an address without '/' is a pattern
}

TEST(DeviceFilter, ASubnetMatchesTheAddressesInsideIt) {
  const TDeviceFilter subnet = Filter("10.0.0.0/28");
  EXPECT_TRUE(subnet.Matches(Device("a", "t", "10.0.0.0", "1")));
  EXPECT_TRUE(subnet.Matches(Device("a", "t", "10.0.0.15", "1")));
  EXPECT_FALSE(subnet.Matches(Device("a", "t", "10.0.0.16", "1")));
  EXPECT_FALSE(subnet.Matches(Device("a", "t", "11.0.0.1", "1")));
  // Host bits in the expression are cleared; leading zeros are decimal.
  EXPECT_TRUE(Filter("010.000.000.200/24").Matches(Device("a", "t", "10.0.0.9", "1")));
  EXPECT_TRUE(Filter("0.0.0.0/0").Matches(Device("a", "t", "203.0.113.5", "1")));
  EXPECT_TRUE(Filter("192.168.1.5/32").Matches(Device("a", "t", "192.168.1.5", "1")));
  EXPECT_FALSE(Filter("192.168.1.5/32").Matches(Device("a", "t", "192.168.1.4", "1")));
  // A device whose address cannot be read lies in no subnet.
  EXPECT_FALSE(Filter("0.0.0.0/0").Matches(Device("a", "t", "", "1")));
}

TEST(DeviceFilter, ASubnetThatCannotBeReadIsRefusedWithTheReason) {
  for (const char* bad :
       {"10.0.0.0/33", "10.0.0.0/", "10.0.0/24", "10.0.0.0/-1", "/24", "10.0.0.0/2 4",
        "10.0.0.256/8", "10.0.0.0/24/8", "cam/*", "0x0a.0.0.0/8"}) {
    std::string problem;
    EXPECT_FALSE(TDeviceFilter::Parse(bad, problem)) << bad;
    EXPECT_THAT(problem, HasSubstr("not a subnet")) << bad;
    EXPECT_THAT(problem, HasSubstr(bad)) << bad;
  }
}

TEST(DeviceFilter, EveryFilterMustMatch) {
  const TDeviceInfo camera = Device("Gate-7", "Camera", "10.0.0.7", "1");
  EXPECT_TRUE(MatchesAll({}, camera));
  EXPECT_TRUE(MatchesAll({Filter("10.0.0.0/24"), Filter("cam*")}, camera));
  EXPECT_FALSE(MatchesAll({Filter("10.0.1.0/24"), Filter("cam*")}, camera));
  EXPECT_FALSE(MatchesAll({Filter("10.0.0.0/24"), Filter("sensor*")}, camera));
}

TEST(DeviceOrder, AddressesSortAsNumbersAndTiesGoByID) {
  std::vector<TDeviceInfo> devices = {
      Device("a", "t", "10.0.0.10", "00:00:00:00:00:03", "192.168.1.2"),
      Device("b", "t", "10.0.0.9", "00:00:00:00:00:02", "10.0.0.1"),
      Device("c", "t", "10.0.0.100", "00:00:00:00:00:05", "192.168.1.10"),
      Device("d", "t", "10.0.0.9", "00:00:00:00:00:01", "192.168.1.2"),
      Device("e", "t", "9.255.255.255", "00:00:00:00:00:04", "192.168.1.2")};
  SortDevices(devices, TDeviceOrder::IP);
  EXPECT_THAT(IDsOf(devices),
              ElementsAre("00:00:00:00:00:04", "00:00:00:00:00:01", "00:00:00:00:00:02",
                          "00:00:00:00:00:03", "00:00:00:00:00:05"));
  SortDevices(devices, TDeviceOrder::Interface);
  EXPECT_THAT(IDsOf(devices),
              ElementsAre("00:00:00:00:00:02", "00:00:00:00:00:01", "00:00:00:00:00:03",
                          "00:00:00:00:00:04", "00:00:00:00:00:05"));
  SortDevices(devices, TDeviceOrder::ID);
  EXPECT_THAT(IDsOf(devices),
              ElementsAre("00:00:00:00:00:01", "00:00:00:00:00:02", "00:00:00:00:00:03",
                          "00:00:00:00:00:04", "00:00:00:00:00:05"));
}

TEST(DeviceOrder, NamesSortCaseSensitivelyTiesByIDAndNoneKeepsTheOrder) {
  // The test runs in the C locale: byte by byte, capitals first.
  std::vector<TDeviceInfo> devices = {Device("beta", "t", "1.1.1.1", "00:00:00:00:00:09"),
                                      Device("Beta", "t", "1.1.1.1", "00:00:00:00:00:08"),
                                      Device("alpha", "t", "1.1.1.1", "00:00:00:00:00:07"),
                                      Device("beta", "t", "1.1.1.1", "00:00:00:00:00:01")};
  SortDevices(devices, TDeviceOrder::None);
  EXPECT_THAT(IDsOf(devices), ElementsAre("00:00:00:00:00:09", "00:00:00:00:00:08",
                                          "00:00:00:00:00:07", "00:00:00:00:00:01"));
  SortDevices(devices, TDeviceOrder::Name);
  EXPECT_THAT(IDsOf(devices), ElementsAre("00:00:00:00:00:08", "00:00:00:00:00:07",
                                          "00:00:00:00:00:01", "00:00:00:00:00:09"));
}

TEST(DeviceOrder, ComesBeforeOrdersOnePairAsTheSortDoes) {
  const TDeviceInfo nine = Device("b", "t", "10.0.0.9", "00:00:00:00:00:02", "192.168.1.10");
  const TDeviceInfo ten = Device("a", "t", "10.0.0.10", "00:00:00:00:00:01", "192.168.1.2");
  EXPECT_TRUE(ComesBefore(nine, ten, TDeviceOrder::IP));
  EXPECT_FALSE(ComesBefore(ten, nine, TDeviceOrder::IP));
  EXPECT_TRUE(ComesBefore(ten, nine, TDeviceOrder::Name));
  EXPECT_TRUE(ComesBefore(ten, nine, TDeviceOrder::ID));
  EXPECT_TRUE(ComesBefore(ten, nine, TDeviceOrder::Interface));
  // Equal in the column: the ID decides, and a device never comes before itself.
  const TDeviceInfo twin = Device("b", "t", "10.0.0.9", "00:00:00:00:00:01", "192.168.1.10");
  EXPECT_TRUE(ComesBefore(twin, nine, TDeviceOrder::IP));
  EXPECT_FALSE(ComesBefore(nine, twin, TDeviceOrder::Name));
  EXPECT_FALSE(ComesBefore(nine, nine, TDeviceOrder::IP));
  // None keeps the order they came in.
  EXPECT_FALSE(ComesBefore(nine, ten, TDeviceOrder::None));
  EXPECT_FALSE(ComesBefore(ten, nine, TDeviceOrder::None));
}

}  // namespace
}  // namespace scoutor
