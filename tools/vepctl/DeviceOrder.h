#pragma once
// The orders in which vepctl lists devices. By name the list is ordered as the main window
// orders its rows: case-sensitive, by the collation of the user's locale (LC_COLLATE; byte by
// byte in the C locale). Addresses (the device's and the interface's) are ordered as numbers,
// so 10.0.0.9 comes before 10.0.0.10. Devices equal in the chosen column are ordered by ID.
#include <vector>

#include "appmodel/DeviceInfo.h"

namespace scoutor::vepctl {

enum class TDeviceOrder { Name, IP, ID, Interface, None };

// Sorts `devices`; None leaves them in the order they came.
void SortDevices(std::vector<TDeviceInfo>& devices, TDeviceOrder order);

}  // namespace scoutor::vepctl
