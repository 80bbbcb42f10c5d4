#pragma once
// Device records as a scan gives them, for tests of the code that orders, filters and compares
// them.
#include <string>

#include "appmodel/DeviceInfo.h"

namespace scoutor::test {

inline TDeviceInfo Device(const std::string& name, const std::string& type, const std::string& ip,
                          const std::string& id, const std::string& interface = "10.0.0.1") {
  TDeviceInfo device;
  device.Name = name;
  device.Type = type;
  device.IPAddress = ip;
  device.ID = id;
  device.Interface = interface;
  return device;
}

}  // namespace scoutor::test
