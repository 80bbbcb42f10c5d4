#pragma once
// Bytes written the way a reader checks them by eye: "01 00 C0" -> 0x01 0x00 0xC0.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace scoutor::test {

inline std::vector<std::uint8_t> Hex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  std::istringstream in(text);
  unsigned int byte = 0;
  while (in >> std::hex >> byte) bytes.push_back(static_cast<std::uint8_t>(byte));
  return bytes;
}

}  // namespace scoutor::test
