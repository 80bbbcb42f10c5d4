#include "tools/vepctl/DeviceOrder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "transport/IPv4Text.h"

namespace scoutor::vepctl {

namespace {

// Negative, zero or positive, as `a` comes before, with or after `b`. A text that is no
// address comes after every address.
int CompareAddresses(const std::string& a, const std::string& b) {
  const std::optional<TAddressBytes> first = ParseDottedIPv4(a);
  const std::optional<TAddressBytes> second = ParseDottedIPv4(b);
  if (first && second) {
    const std::uint32_t x = HostOrderIPv4(*first), y = HostOrderIPv4(*second);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  if (first || second) return first ? -1 : 1;
  return a.compare(b);
}

int Compare(const TDeviceInfo& a, const TDeviceInfo& b, TDeviceOrder order) {
  switch (order) {
    case TDeviceOrder::Name:
      return std::strcoll(a.Name.c_str(), b.Name.c_str());
    case TDeviceOrder::IP:
      return CompareAddresses(a.IPAddress, b.IPAddress);
    case TDeviceOrder::Interface:
      return CompareAddresses(a.Interface, b.Interface);
    case TDeviceOrder::ID:
    case TDeviceOrder::None:
      break;
  }
  return 0;
}

}  // namespace

void SortDevices(std::vector<TDeviceInfo>& devices, TDeviceOrder order) {
  if (order == TDeviceOrder::None) return;
  std::stable_sort(devices.begin(), devices.end(),
                   [order](const TDeviceInfo& a, const TDeviceInfo& b) {
                     if (const int by = Compare(a, b, order); by != 0) return by < 0;
                     return a.ID < b.ID;
                   });
}

}  // namespace scoutor::vepctl
