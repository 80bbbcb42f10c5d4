#include "tools/vepctl/Metrics.h"

#include <cstdio>

#include "tools/vepctl/Output.h"

namespace scoutor::vepctl {

namespace {

// Valid UTF-8, with every invalid byte replaced as the JSON lines replace it.
std::string ValidUtf8(const std::string& text) {
  const std::string json = TRecord(text).dump(-1, ' ', false, TRecord::error_handler_t::replace);
  return TRecord::parse(json).get<std::string>();
}

void Family(std::string& text, const char* name, const char* help) {
  text += std::string("# HELP ") + name + ' ' + help + '\n';
  text += std::string("# TYPE ") + name + " gauge\n";
}

// Seconds to the millisecond.
std::string Seconds(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.3f", value);
  return buffer;
}

}  // namespace

std::string LabelValue(const std::string& text) {
  std::string quoted = "\"";
  for (char c : ValidUtf8(text)) {
    if (c == '\\' || c == '"') quoted += '\\';
    if (c == '\n') {
      quoted += "\\n";
      continue;
    }
    quoted += c;
  }
  return quoted + '"';
}

std::string MetricsText(const TScanMetrics& scan) {
  std::string text;
  Family(text, "vep_device_info", "A device that answered the last scan (always 1).");
  for (const TDeviceInfo& device : scan.Devices)
    text += "vep_device_info{id=" + LabelValue(device.ID) + ",name=" + LabelValue(device.Name) +
            ",type=" + LabelValue(device.Type) + ",ip=" + LabelValue(device.IPAddress) +
            ",interface=" + LabelValue(device.Interface) + "} 1\n";
  Family(text, "vep_device_reachable",
         "Whether the device answered a ping after the last scan (1) or not (0).");
  for (std::size_t i = 0; i < scan.Devices.size() && i < scan.Checks.size(); ++i) {
    const TReachability outcome = scan.Checks[i].Outcome;
    // A check that could not be made says nothing about the device.
    if (outcome == TReachability::Failed) continue;
    text += "vep_device_reachable{id=" + LabelValue(scan.Devices[i].ID) + "} " +
            (outcome == TReachability::Reachable ? "1" : "0") + '\n';
  }
  Family(text, "vep_devices", "Devices that answered the last scan.");
  text += "vep_devices " + std::to_string(scan.Devices.size()) + '\n';
  Family(text, "vep_scan_duration_seconds",
         "How long the last scan took, its reachability checks included.");
  text += "vep_scan_duration_seconds " + Seconds(scan.DurationSeconds) + '\n';
  Family(text, "vep_last_scan_timestamp_seconds",
         "When the last scan ended, in seconds since the Unix epoch.");
  text += "vep_last_scan_timestamp_seconds " + Seconds(scan.EndedAtSeconds) + '\n';
  return text;
}

}  // namespace scoutor::vepctl
