#pragma once
// The bytes of a TFTP write (RFC 1350 with the block-size option of RFC 2347/2348): the packets
// the client sends and what a received packet says. Pure functions on buffers, any thread;
// every reader takes the packet as it came off the wire, of any length.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "transport/TftpFormat.h"

namespace scoutor {

// Opcode 2, the remote name, the mode text ("octet", "netascii"), "blksize" and its value.
TBytes WriteRequest(const std::string& remoteName, std::string_view modeText, int blockSize);
// Makes `packet` a data packet of `block` with room for `length` data bytes; returns where
// they go. The packet's storage is reused from block to block.
std::uint8_t* MakeDataPacket(TBytes& packet, std::uint16_t block, std::size_t length);

bool IsAckOf(TPacketView packet, std::uint16_t block);
bool IsErrorPacket(TPacketView packet);
bool IsOptionAck(TPacketView packet);
// Raises the error kind of the packet's code with the text the packet carries.
[[noreturn]] void RaiseErrorPacket(TPacketView packet);
// The value an option acknowledgement gives the option `name` (name, 0, value, 0 pairs after
// the opcode; names in any letter case); none when it does not name the option.
std::optional<std::string> OptionValue(TPacketView packet, std::string_view name);
// The block size an option acknowledgement grants: plain decimal digits within 8..65464;
// anything else raises EIdTFTPOptionNegotiationFailed.
int AcceptedBlockSize(const std::string& value);

}  // namespace scoutor
