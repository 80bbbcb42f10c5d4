#pragma once
// The IPv4 header as received packets carry it (IP header first): its offsets, the protocol
// numbers we read, and the readers of its length and addresses. Pure functions on buffers.
#include <cstddef>
#include <cstdint>

#include "transport/IPv4Text.h"

namespace scoutor {

namespace ipv4 {
constexpr std::size_t kVersionAndLength = 0;
constexpr std::size_t kTotalLength = 2;
constexpr std::size_t kIdentification = 4;
constexpr std::size_t kFragment = 6;
constexpr std::size_t kTtl = 8;
constexpr std::size_t kProtocol = 9;
constexpr std::size_t kChecksum = 10;
constexpr std::size_t kSource = 12;
constexpr std::size_t kDestination = 16;
constexpr std::size_t kMinHeader = 20;
constexpr std::uint16_t kMoreFragmentsOrOffset = 0x3fff;
constexpr std::uint8_t kProtocolIcmp = 1;
constexpr std::uint8_t kProtocolUdp = 17;
}  // namespace ipv4

inline std::size_t IpHeaderLength(const std::uint8_t* packet) {
  return 4u * (packet[ipv4::kVersionAndLength] & 0x0Fu);
}
inline TAddressBytes IpSource(const std::uint8_t* packet) {
  const std::uint8_t* at = packet + ipv4::kSource;
  return {at[0], at[1], at[2], at[3]};
}
inline TAddressBytes IpDestination(const std::uint8_t* packet) {
  const std::uint8_t* at = packet + ipv4::kDestination;
  return {at[0], at[1], at[2], at[3]};
}

}  // namespace scoutor
