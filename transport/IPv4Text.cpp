#include "transport/IPv4Text.h"

namespace scoutor {

std::optional<TAddressBytes> ParseDottedIPv4(std::string_view text) {
  TAddressBytes address{};
  std::size_t at = 0;
  for (std::size_t group = 0; group < address.size(); ++group) {
    if (group > 0) {
      if (at >= text.size() || text[at] != '.') return std::nullopt;
      ++at;
    }
    unsigned value = 0;
    std::size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 3) {
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || value > 255) return std::nullopt;
    address[group] = static_cast<std::uint8_t>(value);
  }
  if (at != text.size()) return std::nullopt;  // a fourth digit, a fifth group, anything else
  return address;
}

std::uint32_t HostOrderIPv4(const TAddressBytes& address) {
  return std::uint32_t{address[0]} << 24 | std::uint32_t{address[1]} << 16 |
         std::uint32_t{address[2]} << 8 | address[3];
}

std::size_t WriteDottedIPv4(const TAddressBytes& address, char* out) {
  std::size_t length = 0;
  for (std::size_t group = 0; group < address.size(); ++group) {
    if (group > 0) out[length++] = '.';
    const unsigned value = address[group];
    if (value >= 100) out[length++] = static_cast<char>('0' + value / 100);
    if (value >= 10) out[length++] = static_cast<char>('0' + value / 10 % 10);
    out[length++] = static_cast<char>('0' + value % 10);
  }
  out[length] = '\0';
  return length;
}

std::string DottedIPv4(const TAddressBytes& address) {
  char text[kIPv4TextSize];
  return std::string(text, WriteDottedIPv4(address, text));
}

std::optional<std::string> CanonicalIPv4(std::string_view text) {
  const auto address = ParseDottedIPv4(text);
  if (!address) return std::nullopt;
  return DottedIPv4(*address);
}

}  // namespace scoutor
