#include "appmodel/IPSettings.h"

#include <bit>
#include <cstdint>

#include "transport/IPv4Text.h"

namespace scoutor {

namespace {

constexpr const char* kNone = "0.0.0.0";

// A canonical dotted text as a host-order number.
std::uint32_t Number(const std::string& text) { return HostOrderIPv4(*ParseDottedIPv4(text)); }

constexpr int kMaxPrefix = 30;

// An empty gateway is none.
std::optional<std::string> CompleteGateway(const std::string& text) {
  return text.empty() ? std::optional<std::string>(kNone) : CompleteAddress(text);
}

}  // namespace

std::optional<std::string> CompleteAddress(const std::string& text) { return CanonicalIPv4(text); }

std::string IncompleteAddressProblem(const std::string& field, const std::string& text) {
  if (text.empty()) return field + " is empty";
  return field + " " + text + " is not a complete address (four numbers from 0 to 255)";
}

std::string SettingsProblem(const std::string& address, const std::string& mask,
                            const std::string& gateway) {
  const std::uint32_t ip = Number(address);
  const std::uint32_t subnetMask = Number(mask);
  const std::uint32_t router = Number(gateway);
  if (ip == 0) return "0.0.0.0 is no address for a device";
  if (ip == 0xFFFFFFFFu) return "255.255.255.255 is the broadcast address, no address for a device";
  const int prefix = std::countl_one(subnetMask);
  if (subnetMask == 0 || std::countr_zero(subnetMask) != 32 - prefix)
    return "the mask " + mask + " is not a subnet mask (one run of ones from the top)";
  if (prefix > kMaxPrefix)
    return "the mask " + mask + " leaves no room for a device, its gateway and a broadcast " +
           "address (at most /30, 255.255.255.252)";
  const std::uint32_t network = ip & subnetMask;
  if (ip == network) return address + " is the network address of its subnet (mask " + mask + ")";
  if (ip == (network | ~subnetMask))
    return address + " is the broadcast address of its subnet (mask " + mask + ")";
  if (router == 0) return {};
  if ((router & subnetMask) != network)
    return "the gateway " + gateway + " is outside the subnet of " + address + " (mask " + mask +
           ")";
  if (router == ip) return "the gateway " + gateway + " is the device's own address";
  if (router == network || router == (network | ~subnetMask))
    return "the gateway " + gateway + " is the network or broadcast address of the subnet";
  return {};
}

std::string SendingProblem(const TIPSettings& settings, const TSettingsFieldNames& fieldNames) {
  if (settings.DHCP) return {};
  const std::optional<std::string> address = CompleteAddress(settings.Address);
  if (!address) return IncompleteAddressProblem(fieldNames.Address, settings.Address);
  const std::optional<std::string> mask = CompleteAddress(settings.Mask);
  if (!mask) return IncompleteAddressProblem(fieldNames.Mask, settings.Mask);
  const std::optional<std::string> gateway = CompleteGateway(settings.Gateway);
  if (!gateway) return IncompleteAddressProblem(fieldNames.Gateway, settings.Gateway);
  return SettingsProblem(*address, *mask, *gateway);
}

TIPSettings SettingsToSend(const TIPSettings& settings) {
  if (!settings.DHCP)
    return {false, CompleteAddress(settings.Address).value_or(settings.Address),
            CompleteAddress(settings.Mask).value_or(settings.Mask),
            CompleteGateway(settings.Gateway).value_or(settings.Gateway)};
  // The device takes no static values with DHCP; what is not an address goes as zeros.
  return {true, CompleteAddress(settings.Address).value_or(kNone),
          CompleteAddress(settings.Mask).value_or(kNone),
          CompleteAddress(settings.Gateway).value_or(kNone)};
}

}  // namespace scoutor
