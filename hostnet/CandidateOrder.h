#pragma once
// The candidates of Auto IP in the subnet of a local address, in the order they are tried: the
// host numbers after the local host's own up to the top of the subnet, then from the bottom up
// to the local host's own, never the network and broadcast numbers. Shared by the one-by-one
// choice (AddressChoice.h) and the one that checks several at a time (AddressChooser.h).
#include <cstdint>
#include <optional>
#include <string>

namespace scoutor {

class TCandidateOrder {
 public:
  // The order in the subnet of `localAddress` (dotted; 0.0.0.0: the host's first configured
  // address); none when that address is not configured or the configuration cannot be read.
  static std::optional<TCandidateOrder> ForLocalAddress(const std::string& localAddress);

  // The next candidate (dotted), none after the last.
  std::optional<std::string> Next();

  const std::string& Mask() const { return MaskText; }
  const std::string& Gateway() const { return GatewayText; }

 private:
  TCandidateOrder(std::uint32_t local, std::uint32_t mask, std::uint32_t gateway);

  std::uint32_t Network, Own, Top;  // host order; Top is the broadcast number
  std::uint32_t Number;             // the next host number to look at
  bool Ended;
  std::string MaskText, GatewayText;
};

}  // namespace scoutor
