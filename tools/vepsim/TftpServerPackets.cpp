#include "tools/vepsim/TftpServerPackets.h"

#include <algorithm>
#include <cctype>

#include "transport/ByteOrder.h"

namespace scoutor {

namespace {

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

void AppendText(TBytes& packet, const std::string& text) {
  packet.insert(packet.end(), text.begin(), text.end());
  packet.push_back(0);
}

}  // namespace

std::uint16_t TftpOpcodeOf(TPacketView packet) {
  return packet.size() >= 2 ? GetBE16(packet.data()) : 0;
}

std::uint16_t TftpNumberOf(TPacketView packet) {
  return packet.size() >= kTftpHeaderSize ? GetBE16(packet.data() + 2) : 0;
}

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
  for (std::size_t i = 2; i < texts.size(); i += 2) request.Options.emplace_back(texts[i], texts[i + 1]);
  return request;
}

bool IsOctetMode(const TTftpRequest& request) {
  return SameTextIgnoringCase(request.Mode, "octet");
}

std::optional<int> GrantedBlockSize(const TTftpRequest& request) {
  for (const auto& [name, value] : request.Options) {
    if (!SameTextIgnoringCase(name, "blksize")) continue;
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
  AppendText(packet, "blksize");
  AppendText(packet, std::to_string(blockSize));
  return packet;
}

TBytes ErrorPacket(std::uint16_t code, const std::string& text) {
  TBytes packet(kTftpHeaderSize);
  PutBE16(packet.data(), kTftpError);
  PutBE16(packet.data() + 2, code);
  AppendText(packet, text);
  return packet;
}

}  // namespace scoutor
