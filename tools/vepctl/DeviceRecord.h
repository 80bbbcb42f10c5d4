#pragma once
// How vepctl shows one device record: a text line of tab-separated columns, or a JSON object
// with the fields "name", "type", "ip", "id", "interface" and, when it was checked,
// "reachable".
#include <optional>

#include "appmodel/DeviceInfo.h"
#include "tools/vepctl/Output.h"

namespace scoutor::vepctl {

void PrintDevice(const TOutput& output, const TDeviceInfo& device,
                 std::optional<bool> reachable = std::nullopt);

}  // namespace scoutor::vepctl
