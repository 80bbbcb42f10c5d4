#include "appmodel/DeviceOrder.h"

#include <fnmatch.h>

#include <algorithm>
#include <cstring>

#include "transport/IPv4Text.h"

namespace scoutor {

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

bool ComesBefore(const TDeviceInfo& a, const TDeviceInfo& b, TDeviceOrder order) {
  if (order == TDeviceOrder::None) return false;
  if (const int by = Compare(a, b, order); by != 0) return by < 0;
  return a.ID < b.ID;
}

void SortDevices(std::vector<TDeviceInfo>& devices, TDeviceOrder order) {
  if (order == TDeviceOrder::None) return;
  std::stable_sort(devices.begin(), devices.end(),
                   [order](const TDeviceInfo& a, const TDeviceInfo& b) {
                     return ComesBefore(a, b, order);
                   });
}

namespace {

std::optional<std::uint32_t> HostOrder(const std::string& text) {
  const std::optional<TAddressBytes> bytes = ParseDottedIPv4(text);
  if (!bytes) return std::nullopt;
  return HostOrderIPv4(*bytes);
}

// "0" to "32", decimal digits only.
std::optional<int> PrefixLength(const std::string& text) {
  if (text.empty() || text.size() > 2) return std::nullopt;
  int length = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    length = length * 10 + (c - '0');
  }
  if (length > 32) return std::nullopt;
  return length;
}

}  // namespace

bool PatternMatches(const std::string& pattern, const std::string& text) {
  return fnmatch(pattern.c_str(), text.c_str(), FNM_CASEFOLD) == 0;
}

std::optional<TDeviceFilter> TDeviceFilter::Parse(const std::string& expression,
                                                  std::string& problem) {
  TDeviceFilter filter;
  const std::size_t slash = expression.find('/');
  if (slash == std::string::npos) {
    filter.Pattern = expression;
    return filter;
  }
  const std::optional<std::uint32_t> address = HostOrder(expression.substr(0, slash));
  const std::optional<int> length = PrefixLength(expression.substr(slash + 1));
  if (!address || !length) {
    problem =
        "not a subnet (a dotted IPv4 address, '/' and a prefix length of 0 to 32, e.g. "
        "10.0.0.0/24): " +
        expression;
    return std::nullopt;
  }
  filter.Subnet = true;
  filter.Mask = *length == 0 ? 0 : ~std::uint32_t{0} << (32 - *length);
  filter.Network = *address & filter.Mask;
  return filter;
}

bool TDeviceFilter::Matches(const TDeviceInfo& device) const {
  if (!Subnet) return PatternMatches(Pattern, device.Name) || PatternMatches(Pattern, device.Type);
  const std::optional<std::uint32_t> address = HostOrder(device.IPAddress);
  return address && (*address & Mask) == Network;
}

bool MatchesAll(const std::vector<TDeviceFilter>& filters, const TDeviceInfo& device) {
  for (const TDeviceFilter& filter : filters)
    if (!filter.Matches(device)) return false;
  return true;
}

}  // namespace scoutor
