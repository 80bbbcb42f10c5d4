// vepsim's device sources as functions: how a --device text and a --config file give a device
// its upload behaviour (busy_first, restart_ms), and what they refuse.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "tools/vepsim/DeviceSources.h"

namespace scoutor {
namespace {

using ::testing::HasSubstr;

std::string RefusalOf(const std::function<void()>& parse) {
  try {
    parse();
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "(no refusal)";
}

TEST(VepsimDeviceText, BusyFirstAndRestartAreReadAndDefaultToNone) {
  TSimDevice device = ParseDeviceText("mac=02:00:00:00:00:01");
  EXPECT_FALSE(device.BusyFirst);
  EXPECT_FALSE(device.Restart);  // the command line's --restart-ms then

  device = ParseDeviceText("mac=02:00:00:00:00:01,busy_first=1,restart_ms=3000");
  EXPECT_TRUE(device.BusyFirst);
  EXPECT_EQ(device.Restart, (TRestartTime{false, 3000}));

  device = ParseDeviceText("mac=02:00:00:00:00:01,busy_first=off,restart_ms=never");
  EXPECT_FALSE(device.BusyFirst);
  EXPECT_EQ(device.Restart, (TRestartTime{true, 0}));
  EXPECT_EQ(ParseDeviceText("mac=02:00:00:00:00:01,restart_ms=0").Restart, (TRestartTime{}));
}

TEST(VepsimDeviceText, UnusableBusyFirstAndRestartValuesAreRefusedByName) {
  EXPECT_THAT(RefusalOf([] { ParseDeviceText("mac=02:00:00:00:00:01,busy_first=yes"); }),
              HasSubstr("bad busy_first flag 'yes' (want 0 or 1)"));
  for (const char* value : {"-1", "1.5", "3s", "", "86400001", "99999999999", "Never"})
    EXPECT_THAT(RefusalOf([&] {
                  ParseDeviceText(std::string("mac=02:00:00:00:00:01,restart_ms=") + value);
                }),
                HasSubstr("bad restart_ms '" + std::string(value) +
                          "' (want a whole number of milliseconds from 0 to 86400000 or never)"))
        << value;
  // The dhcp flag keeps its own name in its refusal.
  EXPECT_THAT(RefusalOf([] { ParseDeviceText("mac=02:00:00:00:00:01,dhcp=2"); }),
              HasSubstr("bad dhcp flag '2'"));
}

TEST(VepsimRestartTime, IsPlainMillisecondsUpToADayOrNever) {
  EXPECT_EQ(ParseRestartTime("0"), (TRestartTime{false, 0}));
  EXPECT_EQ(ParseRestartTime("86400000"), (TRestartTime{false, 86400000}));
  EXPECT_EQ(ParseRestartTime("never"), (TRestartTime{true, 0}));
  EXPECT_FALSE(ParseRestartTime("+5"));
  EXPECT_FALSE(ParseRestartTime(" 5"));
  EXPECT_FALSE(ParseRestartTime("0x10"));
}

TEST(VepsimDeviceFile, BusyFirstAndRestartAreReadFromJson) {
  const auto devices = ParseDeviceList(R"([
      {"mac": "02:00:00:00:00:01", "busy_first": true, "restart_ms": 2500},
      {"mac": "02:00:00:00:00:02", "busy_first": 0, "restart_ms": "never"},
      {"mac": "02:00:00:00:00:03"}])");
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_TRUE(devices[0].BusyFirst);
  EXPECT_EQ(devices[0].Restart, (TRestartTime{false, 2500}));
  EXPECT_FALSE(devices[1].BusyFirst);
  EXPECT_EQ(devices[1].Restart, (TRestartTime{true, 0}));
  EXPECT_FALSE(devices[2].BusyFirst);
  EXPECT_FALSE(devices[2].Restart);
}

TEST(VepsimDeviceFile, UnusableBusyFirstAndRestartValuesAreRefusedWithTheDevicesIndex) {
  for (const char* value : {"2", "0.5", "\"true\"", "null"})
    EXPECT_THAT(RefusalOf([&] {
                  ParseDeviceList(std::string(R"([{"mac": "02:00:00:00:00:01", "busy_first": )") +
                                  value + "}]");
                }),
                HasSubstr("device 0: \"busy_first\" must be true, false, 1 or 0, not " +
                          std::string(value)))
        << value;
  for (const char* value : {"-1", "2500.5", "86400001", "1e300", "\"3000\"", "\"Never\"", "true"})
    EXPECT_THAT(RefusalOf([&] {
                  ParseDeviceList(std::string(R"([{"mac": "02:00:00:00:00:01"},
                      {"mac": "02:00:00:00:00:02", "restart_ms": )") +
                                  value + "}]");
                }),
                HasSubstr("device 1: \"restart_ms\" must be a whole number of milliseconds "
                          "from 0 to 86400000 or \"never\", not "))
        << value;
}

}  // namespace
}  // namespace scoutor
