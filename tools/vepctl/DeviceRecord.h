#pragma once
// How vepctl shows one device: as a text line of tab-separated columns (name, type, IP
// address, ID, interface), or as a JSON object with the fields "name", "type", "ip", "id" and
// "interface", to which a reachability check adds "reachable" (true, false, or null when the
// check itself failed, with "error" saying why).
#include <string>

#include "appmodel/DeviceInfo.h"
#include "hostnet/ReachabilityService.h"
#include "tools/vepctl/Output.h"

namespace scoutor::vepctl {

TRecord DeviceFields(const TDeviceInfo& device);
std::string DeviceText(const TDeviceInfo& device);

// Adds a check's outcome to a record: "reachable" and, for a failed check, "error"; returns
// the text form ("reachable", "not reachable" or "check failed: <why>").
std::string AddReachability(TRecord& record, const TCheckResult& check);

}  // namespace scoutor::vepctl
