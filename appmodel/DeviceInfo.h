#pragma once
// One device as the application sees it, built from an engine event. Fields the event does not
// carry are empty (DHCP false). A handler receives it by reference and copies what it keeps.
#include <string>

namespace scoutor {

struct TDeviceInfo {
  std::string Name;
  std::string Type;
  std::string IPAddress;
  std::string ID;  // "00:0A:1B:2C:3D:4E"
  bool DHCP = false;
  std::string SubnetMask;
  std::string DefaultGateway;
  std::string Interface;  // dotted address of the local interface that heard the device

  bool operator==(const TDeviceInfo&) const = default;
};

}  // namespace scoutor
