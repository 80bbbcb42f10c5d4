#pragma once
// The orders in which devices are listed, and the filters that choose them: one home for the
// window and vepctl alike. By name, devices are ordered as people read names: case-sensitive,
// by the collation of the user's locale (LC_COLLATE; byte by byte in the C locale). Addresses
// (the device's and the interface's) are ordered as numbers, so 10.0.0.9 comes before
// 10.0.0.10. Devices equal in the chosen column are ordered by ID, so a list comes out the same
// whatever order the replies arrived in. A filter expression holding a '/' is a subnet in CIDR
// form ("10.0.0.0/24": a dotted address and a prefix length of 0 to 32) that the device's IP
// address must lie in; any other expression is a shell pattern ("cam*", "sensor-?") that the
// device's name or its type must match, ignoring case. Plain values, any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "appmodel/DeviceInfo.h"

namespace scoutor {

enum class TDeviceOrder { Name, IP, ID, Interface, None };

// Whether `a` comes before `b` in `order` (None: never, they keep the order they came in).
bool ComesBefore(const TDeviceInfo& a, const TDeviceInfo& b, TDeviceOrder order);

// Sorts `devices`; None leaves them in the order they came.
void SortDevices(std::vector<TDeviceInfo>& devices, TDeviceOrder order);


class TDeviceFilter {
 public:
  // The filter of `expression`; none for a subnet that cannot be read, with `problem` saying
  // why. A subnet's address may have host bits set: "10.0.0.7/24" is 10.0.0.0/24.
  static std::optional<TDeviceFilter> Parse(const std::string& expression, std::string& problem);

  bool Matches(const TDeviceInfo& device) const;

 private:
  TDeviceFilter() = default;

  bool Subnet = false;
  std::uint32_t Network = 0;  // host order, host bits cleared
  std::uint32_t Mask = 0;
  std::string Pattern;
};

// Whether `text` matches the shell pattern (*, ?, [...]) in any letter case.
bool PatternMatches(const std::string& pattern, const std::string& text);

// True when every filter matches `device` (so always, without filters).
bool MatchesAll(const std::vector<TDeviceFilter>& filters, const TDeviceInfo& device);

}  // namespace scoutor
