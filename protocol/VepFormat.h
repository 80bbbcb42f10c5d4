#pragma once
// The VEP wire format's fixed parts: node IDs, the 27-byte header, methods and reply element
// codes. Integers in the header are big-endian, except Fixed1, which is always 01 00.
#include <array>
#include <cstddef>
#include <cstdint>

namespace scoutor {

using TVEPNodeID = std::array<std::uint8_t, 8>;

constexpr std::uint16_t kVEPPort = 17784;
constexpr std::uint32_t kVEPClass = 0x00010001;
constexpr std::uint8_t kRequestFlag = 0x01;  // Flags bit 0: the datagram is a request

enum TVEPMethod : std::uint16_t { vmDiscover = 1, vmGetIP = 2, vmSetIP = 3 };

enum TVEPElementCode : std::uint8_t {
  vtName = 2,
  vtType = 3,
  vtDHCP = 4,
  vtIPAddress = 5,
  vtSubnetMask = 6,
  vtDefaultGateway = 7,
};

struct TVEPHeader {
  TVEPNodeID Destination;
  TVEPNodeID Source;
  std::uint8_t Fixed1[2];
  std::uint8_t Fixed2[2];
  std::uint8_t Flags;
  std::uint8_t Class[4];   // big-endian
  std::uint8_t Method[2];  // big-endian
};
static_assert(sizeof(TVEPHeader) == 27, "the header has no alignment gaps");

constexpr std::size_t kHeaderSize = sizeof(TVEPHeader);
constexpr std::size_t kSetIPRequestSize = kHeaderSize + 13;
// A reply of this many bytes or more is refused ("Buffer size is too small").
constexpr std::size_t kReplySizeLimit = 200;

// Device IDs begin 00 01 and hold the hardware address; the host's own ID is 00 02, its IPv4
// address, 'E', 'x'; discovery requests go to 01 00 00 00 00 00 00 00.
constexpr TVEPNodeID kDiscoveryID = {0x01, 0, 0, 0, 0, 0, 0, 0};

}  // namespace scoutor
