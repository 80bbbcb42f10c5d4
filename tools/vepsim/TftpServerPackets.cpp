#include "tools/vepsim/TftpServerPackets.h"

#include <algorithm>

#include "transport/ByteOrder.h"

namespace scoutor {

std::optional<TTftpRequest> ParseTftpRequest(TPacketView packet) {
  TTftpRequest request;
  request.Opcode = TftpOpcodeOf(packet);
  if (request.Opcode != kTftpReadRequest && request.Opcode != kTftpWriteRequest)
    return std::nullopt;
  std::vector<std::string> texts;
  auto at = packet.begin() + 2;
  while (at != packet.end()) {
    const auto end = std::find(at, packet.end(), std::uint8_t{0});
    if (end == packet.end()) return std::nullopt;
    texts.emplace_back(at, end);
    at = end + 1;
  }
  if (texts.size() < 2 || texts.size() % 2 != 0) return std::nullopt;
  request.FileName = texts[0];
  request.Mode = texts[1];
  for (std::size_t i = 2; i < texts.size(); i += 2)
    request.Options.emplace_back(texts[i], texts[i + 1]);
  return request;
}

bool IsOctetMode(const TTftpRequest& request) {
  return SameTftpName(request.Mode, "octet");
}

std::optional<int> GrantedBlockSize(const TTftpRequest& request) {
  for (const auto& [name, value] : request.Options) {
    if (!SameTftpName(name, "blksize")) continue;
    if (value.empty() || value.size() > 9 ||
        !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return std::nullopt;
    const int asked = std::stoi(value);
    if (asked < kTftpMinBlockSize) return std::nullopt;
    return std::min(asked, kTftpMaxBlockSize);
  }
  return std::nullopt;
}

TBytes AckPacket(std::uint16_t block) {
  TBytes packet(kTftpHeaderSize);
  PutBE16(packet.data(), kTftpAck);
  PutBE16(packet.data() + 2, block);
  return packet;
}

TBytes BlockSizeAckPacket(int blockSize) {
  TBytes packet(2);
  PutBE16(packet.data(), kTftpOptionAck);
  AppendTftpText(packet, "blksize");
  AppendTftpText(packet, std::to_string(blockSize));
  return packet;
}

TBytes ErrorPacket(std::uint16_t code, const std::string& text) {
  TBytes packet(kTftpHeaderSize);
  PutBE16(packet.data(), kTftpError);
  PutBE16(packet.data() + 2, code);
  AppendTftpText(packet, text);
  return packet;
}

}  // namespace scoutor
