#pragma once
// Which devices of one scan an upgrade of several devices is for: those named by ID, those of
// a type, or all that answered.
#include <string>
#include <vector>

#include "appmodel/DeviceInfo.h"
#include "tools/vepctl/UpgradeOptions.h"

namespace scoutor::vepctl {

struct TDeviceSelection {
  std::vector<TDeviceInfo> Chosen;   // by ID: in the order named; otherwise in the scan's order
  std::vector<std::string> Missing;  // IDs named that no device of the scan has
};

// The IDs named by --device in the form the scan lists them (upper case), each once, in the
// order first named.
std::vector<std::string> RequestedIDs(const TUpgradeOptions& options);

// A type matches a pattern equal to it, or one it matches as a glob (*, ?, [...]) in any
// letter case.
bool TypeMatches(const std::string& type, const std::string& pattern);

TDeviceSelection SelectDevices(const std::vector<TDeviceInfo>& scanned,
                               const TUpgradeOptions& options);

}  // namespace scoutor::vepctl
