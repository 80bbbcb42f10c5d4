#include "transport/TftpPacket.h"

#include <algorithm>
#include <charconv>

#include "transport/ByteOrder.h"
#include "transport/TftpErrors.h"

namespace scoutor {

namespace {

// The text at `offset` up to its zero byte, or up to the packet's end when the zero is missing.
std::string TextAt(TPacketView packet, std::size_t offset) {
  if (offset >= packet.size()) return {};
  const auto begin = packet.begin() + static_cast<std::ptrdiff_t>(offset);
  return std::string(begin, std::find(begin, packet.end(), std::uint8_t{0}));
}

}  // namespace

// --- packets we send ---

TBytes WriteRequest(const std::string& remoteName, std::string_view modeText, int blockSize) {
  TBytes packet(2);
  PutBE16(packet.data(), kTftpWriteRequest);
  AppendTftpText(packet, remoteName);
  AppendTftpText(packet, modeText);
  AppendTftpText(packet, "blksize");
  AppendTftpText(packet, std::to_string(blockSize));
  return packet;
}

// Makes `packet` a data packet of `block` with room for `length` data bytes; returns where
// they go. The packet's storage is reused from block to block.
std::uint8_t* MakeDataPacket(TBytes& packet, std::uint16_t block, std::size_t length) {
  packet.resize(kTftpHeaderSize + length);
  PutBE16(packet.data(), kTftpData);
  PutBE16(packet.data() + 2, block);
  return packet.data() + kTftpHeaderSize;
}

// --- packets we receive ---

bool IsAckOf(TPacketView packet, std::uint16_t block) {
  return packet.size() >= 4 && TftpOpcodeOf(packet) == kTftpAck && GetBE16(packet.data() + 2) == block;
}

bool IsErrorPacket(TPacketView packet) {
  return packet.size() >= 4 && TftpOpcodeOf(packet) == kTftpError;
}

bool IsOptionAck(TPacketView packet) {
  return TftpOpcodeOf(packet) == kTftpOptionAck;
}

[[noreturn]] void RaiseErrorPacket(TPacketView packet) {
  const std::string text = TextAt(packet, 4);
  switch (GetBE16(packet.data() + 2)) {
    case 1:
      throw EIdTFTPFileNotFound(text);
    case 2:
      throw EIdTFTPAccessViolation(text);
    case 3:
      throw EIdTFTPAllocationExceeded(text);
    case 4:
      throw EIdTFTPIllegalOperation(text);
    case 5:
      throw EIdTFTPUnknownTransferID(text);
    case 6:
      throw EIdTFTPFileAlreadyExists(text);
    case 7:
      throw EIdTFTPNoSuchUser(text);
    case 8:
      throw EIdTFTPOptionNegotiationFailed(text);
    default:
      throw EIdTFTPException(text);
  }
}

// The value an option acknowledgement gives the option `name` (name, 0, value, 0 pairs after
// the opcode; names in any letter case); none when it does not name the option.
std::optional<std::string> OptionValue(TPacketView packet, std::string_view name) {
  std::size_t offset = 2;
  while (offset < packet.size()) {
    const std::string optionName = TextAt(packet, offset);
    offset += optionName.size() + 1;
    const std::string value = TextAt(packet, offset);
    offset += value.size() + 1;
    if (SameTftpName(optionName, name)) return value;
  }
  return std::nullopt;
}

// The block size an option acknowledgement grants: plain decimal digits within 8..65464.
// Anything else ends the upload: a block size below the data we can send would never end it,
// a huge one would make huge packets.
int AcceptedBlockSize(const std::string& value) {
  int size = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), size);
  const bool digitsOnly = !value.empty() && std::all_of(value.begin(), value.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
  if (!digitsOnly || error != std::errc() || end != value.data() + value.size() ||
      size < kTftpMinBlockSize || size > kTftpMaxBlockSize) {
    std::string shown;
    for (const char c : value) shown += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    throw EIdTFTPOptionNegotiationFailed("Unusable blksize \"" + shown +
                                         "\" in option acknowledgement (allowed: 8 to 65464)");
  }
  return size;
}

}  // namespace scoutor
