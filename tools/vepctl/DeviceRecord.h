#pragma once
// How vepctl shows one device record: a text line of tab-separated columns, or a JSON object
// with the fields "name", "type", "ip", "id", "interface" and, when it was checked,
// "reachable" (true, false, or null when the check itself failed, with "error" saying why).
#include <optional>

#include "appmodel/DeviceInfo.h"
#include "hostnet/ReachabilityService.h"
#include "tools/vepctl/Output.h"

namespace scoutor::vepctl {

void PrintDevice(const TOutput& output, const TDeviceInfo& device,
                 const std::optional<TCheckResult>& check = std::nullopt);

// Adds a check's outcome to a record: "reachable" and, for a failed check, "error"; returns
// the text form ("reachable", "not reachable" or "check failed: <why>").
std::string AddReachability(TRecord& record, const TCheckResult& check);

}  // namespace scoutor::vepctl
