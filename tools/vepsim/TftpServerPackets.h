#pragma once
// The bytes of the device side of a TFTP upload (RFC 1350, options of RFC 2347/2348): reading a
// request that arrives on port 69, and the acknowledgements, option acknowledgement and error
// packets the device sends. Pure functions on buffers. (The client's transport/TftpPacket.h
// cannot be included next to the VEP format, whose header size has the same name.)
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace scoutor {

using TBytes = std::vector<std::uint8_t>;
using TPacketView = std::span<const std::uint8_t>;

constexpr std::uint16_t kTftpReadRequest = 1;
constexpr std::uint16_t kTftpWriteRequest = 2;
constexpr std::uint16_t kTftpData = 3;
constexpr std::uint16_t kTftpAck = 4;
constexpr std::uint16_t kTftpError = 5;
constexpr std::uint16_t kTftpOptionAck = 6;

constexpr std::size_t kTftpHeaderSize = 4;  // opcode and block number (or error code)
constexpr int kTftpDefaultBlockSize = 512;  // without an option acknowledgement
constexpr int kTftpMinBlockSize = 8;        // the range a "blksize" option may name
constexpr int kTftpMaxBlockSize = 65464;

// The error codes the device sends.
constexpr std::uint16_t kTftpNotDefined = 0;  // with the system's own text
constexpr std::uint16_t kTftpAccessViolation = 2;
constexpr std::uint16_t kTftpDiskFull = 3;
constexpr std::uint16_t kTftpIllegalOperation = 4;
constexpr std::uint16_t kTftpUnknownTransferID = 5;

struct TTftpRequest {
  std::uint16_t Opcode = 0;  // kTftpReadRequest or kTftpWriteRequest
  std::string FileName;
  std::string Mode;  // as sent: "octet", "NetASCII", ...
  std::vector<std::pair<std::string, std::string>> Options;
};

// The opcode of a received packet; 0 when it is too short to have one.
std::uint16_t TftpOpcodeOf(TPacketView packet);
// The block number of a data packet, the error code of an error packet.
std::uint16_t TftpNumberOf(TPacketView packet);

// A read or write request: the opcode, then the file name, the mode and any option names and
// values, each text ended by a zero byte. None for any other packet, or when a text lacks its
// zero byte or an option its value.
std::optional<TTftpRequest> ParseTftpRequest(TPacketView packet);

// Whether the request's mode is "octet", in any letter case.
bool IsOctetMode(const TTftpRequest& request);

// The block size granted to a request's "blksize" option: its value when within 8..65464, the
// largest when above (a server may grant less than asked); none without the option or with a
// value that is no plain decimal number of at least 8, which is then ignored.
std::optional<int> GrantedBlockSize(const TTftpRequest& request);

TBytes AckPacket(std::uint16_t block);
TBytes BlockSizeAckPacket(int blockSize);
TBytes ErrorPacket(std::uint16_t code, const std::string& text);

}  // namespace scoutor
