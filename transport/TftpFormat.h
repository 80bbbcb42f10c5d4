#pragma once
// What both ends of a TFTP transfer (RFC 1350, options of RFC 2347/2348) agree on: opcodes,
// header and block sizes, error codes, and the small readers and writers of the packets' parts.
// Pure functions on buffers, any thread.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
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

// Error codes.
constexpr std::uint16_t kTftpNotDefined = 0;  // the text says what went wrong
constexpr std::uint16_t kTftpAccessViolation = 2;
constexpr std::uint16_t kTftpDiskFull = 3;
constexpr std::uint16_t kTftpIllegalOperation = 4;
constexpr std::uint16_t kTftpUnknownTransferID = 5;

// The opcode of a received packet; 0 when it is too short to have one.
std::uint16_t TftpOpcodeOf(TPacketView packet);
// The block number of a data or acknowledgement packet, the error code of an error packet; 0
// when the packet is too short.
std::uint16_t TftpNumberOf(TPacketView packet);
// Appends `text` and its zero byte, as names, modes and options travel.
void AppendTftpText(TBytes& packet, std::string_view text);
// Option names and modes are compared in any letter case.
bool SameTftpName(std::string_view a, std::string_view b);

}  // namespace scoutor
