#pragma once
// Where the simulator's devices come from: "key=value,..." texts given on the command line, a
// JSON file, and a generator of many devices with consecutive hardware and IP addresses. Each
// function throws std::runtime_error with a message for the user when its input is unusable.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tools/vepsim/SimDevice.h"

namespace scoutor {

// "mac=00:0A:1B:2C:3D:4E,name=AP-1,type=Bridge,ip=10.0.0.7,mask=255.255.255.0,gw=10.0.0.1,dhcp=0,
// busy_first=0,restart_ms=3000"; only mac is required.
TSimDevice ParseDeviceText(const std::string& text);

// {"devices": [{"mac": "...", "name": "...", "type": "...", "ip": "...", "mask": "...",
//   "gw": "...", "dhcp": false, "busy_first": false, "restart_ms": 3000}, ...]} or the bare
// array; "restart_ms" may also be "never".
std::vector<TSimDevice> LoadDeviceFile(const std::string& path);
// The same from the file's text. A value of the wrong type or out of range is refused with the
// field's name and the device's index (from 0).
std::vector<TSimDevice> ParseDeviceList(const std::string& text);

// A restart time as the command line and a --device text give it: "never" or a whole number of
// milliseconds from 0 to kMaxRestartMs in plain decimal digits; none for anything else.
std::optional<TRestartTime> ParseRestartTime(const std::string& text);

struct TDeviceGenerator {
  std::size_t Count = 0;
  std::string MacBase = "02:00:00:00:00:01";
  std::string IPBase = "10.0.0.100";
  std::string SubnetMask = "255.255.0.0";
  std::string DefaultGateway = "0.0.0.0";
  std::string NamePrefix = "SIM-";
  std::string Type = "Simulated";
};
// Device i (from 0) gets MacBase + i, IPBase + i and the name NamePrefix followed by i + 1.
std::vector<TSimDevice> GenerateDevices(const TDeviceGenerator& generator);

// Refuses an empty list, repeated hardware addresses, and names and types too long for a
// discovery reply the host accepts (under 200 bytes).
void CheckDeviceList(const std::vector<TSimDevice>& devices);

}  // namespace scoutor
