#include "transport/TftpFormat.h"

#include <algorithm>
#include <cctype>

#include "transport/ByteOrder.h"

namespace scoutor {

std::uint16_t TftpOpcodeOf(TPacketView packet) {
  return packet.size() >= 2 ? GetBE16(packet.data()) : 0;
}

std::uint16_t TftpNumberOf(TPacketView packet) {
  return packet.size() >= kTftpHeaderSize ? GetBE16(packet.data() + 2) : 0;
}

void AppendTftpText(TBytes& packet, std::string_view text) {
  packet.insert(packet.end(), text.begin(), text.end());
  packet.push_back(0);
}

bool SameTftpName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace scoutor
