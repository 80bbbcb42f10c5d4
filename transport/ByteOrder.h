#pragma once
// Reading and writing multi-byte integers in a given byte order, for the VEP codec, TFTP and
// ICMP alike.
#include <cstdint>

namespace scoutor {

inline void PutBE16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}

inline void PutBE32(std::uint8_t* at, std::uint32_t value) {
  PutBE16(at, static_cast<std::uint16_t>(value >> 16));
  PutBE16(at + 2, static_cast<std::uint16_t>(value));
}

inline std::uint16_t GetBE16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

inline std::uint32_t GetBE32(const std::uint8_t* at) {
  return (static_cast<std::uint32_t>(GetBE16(at)) << 16) | GetBE16(at + 2);
}

inline void PutLE16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void PutLE32(std::uint8_t* at, std::uint32_t value) {
  PutLE16(at, static_cast<std::uint16_t>(value));
  PutLE16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

inline std::uint16_t GetLE16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

inline std::uint32_t GetLE32(const std::uint8_t* at) {
  return GetLE16(at) | (static_cast<std::uint32_t>(GetLE16(at + 2)) << 16);
}

}  // namespace scoutor
