#include "tools/vepctl/DeviceSelection.h"

#include <algorithm>

#include "protocol/VepWire.h"
#include "tools/vepctl/Commands.h"
#include "appmodel/DeviceOrder.h"

namespace scoutor::vepctl {

std::vector<std::string> RequestedIDs(const TUpgradeOptions& options) {
  std::vector<std::string> ids;
  for (const std::string& text : options.DeviceIDs) {
    const std::string id = IDText(DeviceNodeID(text));
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  }
  return ids;
}

bool TypeMatches(const std::string& type, const std::string& pattern) {
  return type == pattern || PatternMatches(pattern, type);
}

TDeviceSelection SelectDevices(const std::vector<TDeviceInfo>& scanned,
                               const TUpgradeOptions& options) {
  TDeviceSelection selection;
  if (!options.DeviceIDs.empty()) {
    for (const std::string& id : RequestedIDs(options)) {
      const auto found = std::find_if(scanned.begin(), scanned.end(),
                                      [&id](const TDeviceInfo& device) { return device.ID == id; });
      if (found == scanned.end())
        selection.Missing.push_back(id);
      else
        selection.Chosen.push_back(*found);
    }
    return selection;
  }
  for (const TDeviceInfo& device : scanned)
    if (options.All || TypeMatches(device.Type, *options.Type)) selection.Chosen.push_back(device);
  return selection;
}

}  // namespace scoutor::vepctl
