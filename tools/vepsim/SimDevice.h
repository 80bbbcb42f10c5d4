#pragma once
// One emulated VEP device: its hardware address (its node ID is 00 01 and those six bytes), the
// name and type it announces, the IP settings it reports and how it takes a firmware upload.
// Plain data, owned by the simulator and touched only by its one thread.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/VepFormat.h"
#include "transport/IPv4Text.h"

namespace scoutor {

using TMacAddress = std::array<std::uint8_t, 6>;
using TIPv4 = TAddressBytes;  // dotted order: a.b.c.d is a, b, c, d

// How long a device stays silent to VEP requests after a completed upload, as a device that
// restarts with its new firmware.
struct TRestartTime {
  bool Never = false;  // silent until vepsim ends
  std::uint32_t Ms = 0;

  bool operator==(const TRestartTime&) const = default;
};

// The longest restart a device may be given, in milliseconds: a day.
constexpr std::uint32_t kMaxRestartMs = 86'400'000;

struct TSimDevice {
  TMacAddress Mac{};
  std::string Name;
  std::string Type;
  bool DHCP = false;
  TIPv4 IPAddress{};
  TIPv4 SubnetMask{};
  TIPv4 DefaultGateway{};
  bool BusyFirst = false;              // refuses its first upload with an access violation
  std::optional<TRestartTime> Restart;  // none: the simulator's --restart-ms

  TVEPNodeID NodeID() const;
};

// "00:0A:1B:2C:3D:4E" (or with '-'), two hexadecimal digits per byte, either case.
std::optional<TMacAddress> ParseMac(const std::string& text);
// Dotted decimal as everywhere in the system ("010" is ten).
std::optional<TIPv4> ParseIPv4(const std::string& text);
std::string FormatMac(const TMacAddress& mac);
// "02-00-00-00-00-01": the name of the device's stored upload, without ".bin".
std::string MacFileName(const TMacAddress& mac);
std::string FormatIPv4(const TIPv4& address);

}  // namespace scoutor
