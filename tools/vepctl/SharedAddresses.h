#pragma once
// Devices that answer from the same IP address: two devices configured alike, or one address
// handed out twice. They are still two devices (two IDs), but only one of them can be reached
// at that address. Plain functions, any thread.
#include <string>
#include <vector>

#include "appmodel/DeviceInfo.h"

namespace scoutor::vepctl {

struct TSharedAddress {
  std::string Address;
  std::vector<std::string> IDs;  // ascending
};

// Every address that more than one of `devices` holds, in the order of the addresses.
std::vector<TSharedAddress> SharedAddresses(const std::vector<TDeviceInfo>& devices);
// True when `address` is one of `shared`.
bool IsShared(const std::vector<TSharedAddress>& shared, const std::string& address);
// "2 devices share IP address 10.0.0.5: 00:0A:1B:2C:3D:4E, 00:0A:1B:2C:3D:50".
std::string SharedAddressText(const TSharedAddress& shared);

}  // namespace scoutor::vepctl
