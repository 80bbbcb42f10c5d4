// The metrics text of vepctl exporter, on its own: one scan's devices and checks as Prometheus
// series, with label values that devices fill with any bytes. The exporter itself runs in
// the test bed (tests/ops/exporter.sh).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tools/vepctl/Metrics.h"

namespace scoutor::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using vepctl::LabelValue;
using vepctl::MetricsText;
using vepctl::TScanMetrics;

TDeviceInfo Device(const std::string& name, const std::string& ip, const std::string& id) {
  TDeviceInfo device;
  device.Name = name;
  device.Type = "Camera";
  device.IPAddress = ip;
  device.ID = id;
  device.Interface = "10.0.0.1";
  return device;
}

TCheckResult Check(const std::string& address, TReachability outcome) {
  return {address, outcome, outcome == TReachability::Failed ? "Cannot allocate socket." : ""};
}

TEST(VepctlMetrics, EveryDeviceHasOneInfoSeriesAndItsReachability) {
  TScanMetrics scan;
  scan.Devices = {Device("AP-1", "10.0.0.7", "00:0A:1B:2C:3D:4E"),
                  Device("Far-3", "192.168.77.7", "00:0A:1B:2C:3D:50")};
  scan.Checks = {Check("10.0.0.7", TReachability::Reachable),
                 Check("192.168.77.7", TReachability::NotReachable)};
  scan.DurationSeconds = 2.0125;
  scan.EndedAtSeconds = 1700000000.5;
  const std::string text = MetricsText(scan);
  EXPECT_THAT(text, HasSubstr("# TYPE vep_device_info gauge\n"
                              "vep_device_info{id=\"00:0A:1B:2C:3D:4E\",name=\"AP-1\","
                              "type=\"Camera\",ip=\"10.0.0.7\",interface=\"10.0.0.1\"} 1\n"
                              "vep_device_info{id=\"00:0A:1B:2C:3D:50\",name=\"Far-3\","
                              "type=\"Camera\",ip=\"192.168.77.7\",interface=\"10.0.0.1\"} 1\n"));
  EXPECT_THAT(text, HasSubstr("vep_device_reachable{id=\"00:0A:1B:2C:3D:4E\"} 1\n"
                              "vep_device_reachable{id=\"00:0A:1B:2C:3D:50\"} 0\n"));
  EXPECT_THAT(text, HasSubstr("\nvep_devices 2\n"));
  EXPECT_THAT(text, HasSubstr("\nvep_scan_duration_seconds 2.013\n"));  // to the millisecond
  EXPECT_THAT(text, HasSubstr("\nvep_last_scan_timestamp_seconds 1700000000.500\n"));
}

TEST(VepctlMetrics, ACheckThatCouldNotBeMadeHasNoReachabilitySample) {
  TScanMetrics scan;
  scan.Devices = {Device("AP-1", "10.0.0.7", "00:0A:1B:2C:3D:4E")};
  scan.Checks = {Check("10.0.0.7", TReachability::Failed)};
  const std::string text = MetricsText(scan);
  EXPECT_THAT(text, HasSubstr("vep_device_info{id=\"00:0A:1B:2C:3D:4E\""));
  EXPECT_THAT(text, Not(HasSubstr("vep_device_reachable{")));
}

TEST(VepctlMetrics, AScanThatHeardNothingStillHasEveryFamilyAndNoSeries) {
  const std::string text = MetricsText({});
  EXPECT_THAT(text, Not(HasSubstr("vep_device_info{")));
  EXPECT_THAT(text, HasSubstr("# TYPE vep_device_reachable gauge\n"));
  EXPECT_THAT(text, HasSubstr("\nvep_devices 0\n"));
}

TEST(VepctlMetrics, LabelValuesEscapeQuotesBackslashesAndLineBreaks) {
  EXPECT_EQ(LabelValue("Say \"hi\""), "\"Say \\\"hi\\\"\"");
  EXPECT_EQ(LabelValue("C:\\cam"), "\"C:\\\\cam\"");
  EXPECT_EQ(LabelValue("two\nlines"), "\"two\\nlines\"");
  EXPECT_EQ(LabelValue("Caméra"), "\"Caméra\"");
}

TEST(VepctlMetrics, InvalidUtf8InALabelBecomesTheReplacementCharacter) {
  const std::string invalid = std::string("Cam\xFF") + "1";
  EXPECT_EQ(LabelValue(invalid), std::string("\"Cam\xEF\xBF\xBD") + "1\"");
  EXPECT_EQ(LabelValue("\xC3"), "\"\xEF\xBF\xBD\"");  // a sequence cut short
}

}  // namespace
}  // namespace scoutor::test
