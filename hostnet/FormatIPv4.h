#pragma once
// Dotted IPv4 texts: the one formatter of addresses that the whole system uses, and its way
// back from text to a value. Plain functions without state, callable from any thread.
#include <cstdint>
#include <string>

namespace scoutor {

// "%u.%u.%u.%u" over the four bytes of `networkOrder` as they lie in memory (network order):
// the bytes C0 A8 01 0A give "192.168.1.10", the value 0 gives "0.0.0.0".
std::string FormatIPv4(std::uint32_t networkOrder);

// The address of a dotted text as a host-order value (the first number is the most significant
// byte), with the rules of inet_addr: a text it rejects gives 255.255.255.255.
std::uint32_t HostOrderAddress(const std::string& text);

}  // namespace scoutor
