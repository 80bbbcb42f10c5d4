#include "tools/vepctl/SettingsCheck.h"

#include <bit>
#include <cstdint>

#include "transport/IPv4Text.h"

namespace scoutor::vepctl {

namespace {

// A canonical dotted text as a host-order number.
std::uint32_t Number(const std::string& text) { return HostOrderIPv4(*ParseDottedIPv4(text)); }

constexpr int kMaxPrefix = 30;

}  // namespace

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

}  // namespace scoutor::vepctl
