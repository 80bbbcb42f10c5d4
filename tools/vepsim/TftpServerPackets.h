#pragma once
// The bytes of the device side of a TFTP upload (RFC 1350, options of RFC 2347/2348): reading a
// request that arrives on port 69, and the acknowledgements, option acknowledgement and error
// packets the device sends. Pure functions on buffers.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "transport/TftpFormat.h"

namespace scoutor {

struct TTftpRequest {
  std::uint16_t Opcode = 0;  // kTftpReadRequest or kTftpWriteRequest
  std::string FileName;
  std::string Mode;  // as sent: "octet", "NetASCII", ...
  std::vector<std::pair<std::string, std::string>> Options;
};

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
