#pragma once
// The text that vepctl exporter serves: one finished scan in Prometheus's text exposition format
// (version 0.0.4). Label values come from devices and may hold any bytes: invalid UTF-8 is
// replaced as the JSON output replaces it, and backslashes, double quotes and line breaks are
// escaped. Plain functions, any thread.
#include <string>
#include <vector>

#include "appmodel/DeviceInfo.h"
#include "hostnet/ReachabilityService.h"

namespace scoutor::vepctl {

struct TScanMetrics {
  std::vector<TDeviceInfo> Devices;  // as the scan heard them
  std::vector<TCheckResult> Checks;  // one per device, in the same order
  double DurationSeconds = 0;        // from the first broadcast to the last check's end
  double EndedAtSeconds = 0;         // since the Unix epoch
};

// vep_device_info (labels id, name, type, ip, interface; value 1) per device,
// vep_device_reachable (label id; 1 or 0, no sample for a check that could not be made) per
// device, vep_devices, vep_scan_duration_seconds and vep_last_scan_timestamp_seconds.
std::string MetricsText(const TScanMetrics& scan);

// `text` as a label value between double quotes.
std::string LabelValue(const std::string& text);

}  // namespace scoutor::vepctl
