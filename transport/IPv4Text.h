#pragma once
// IPv4 addresses as text, read and written in one place for every layer: dotted decimal only,
// four groups of one to three decimal digits, each 0 to 255. A leading zero is still decimal
// ("010" is ten, never octal eight), so what a user typed is what a device gets; spaces, signs,
// hexadecimal and the short forms ("10.1") are refused. Plain functions, any thread.
// (The exported C functions keep inet_addr's reading of their own text arguments.)
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace scoutor {

using TAddressBytes = std::array<std::uint8_t, 4>;  // a.b.c.d as the bytes a, b, c, d

// Longest text with its terminating zero: "255.255.255.255".
constexpr std::size_t kIPv4TextSize = 16;

std::optional<TAddressBytes> ParseDottedIPv4(std::string_view text);
// The address as a number in host order: a is its most significant byte.
std::uint32_t HostOrderIPv4(const TAddressBytes& address);
// "a.b.c.d" without leading zeros.
std::string DottedIPv4(const TAddressBytes& address);
// The same into `out` (kIPv4TextSize bytes, zero-terminated), without allocating; returns the
// length written.
std::size_t WriteDottedIPv4(const TAddressBytes& address, char* out);
// The canonical form of a dotted text ("010.001.002.003" gives "10.1.2.3"), or none.
std::optional<std::string> CanonicalIPv4(std::string_view text);

}  // namespace scoutor
