#include "tools/vepsim/SimDevice.h"

#include <algorithm>
#include <cstdio>

namespace scoutor {

TVEPNodeID TSimDevice::NodeID() const {
  TVEPNodeID id{0x00, 0x01};
  std::copy(Mac.begin(), Mac.end(), id.begin() + 2);
  return id;
}

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::optional<TMacAddress> ParseMac(const std::string& text) {
  if (text.size() != 17) return std::nullopt;
  TMacAddress mac{};
  for (std::size_t i = 0; i < mac.size(); ++i) {
    const int high = HexDigit(text[i * 3]);
    const int low = HexDigit(text[i * 3 + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    if (i + 1 < mac.size() && text[i * 3 + 2] != ':' && text[i * 3 + 2] != '-') return std::nullopt;
    mac[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return mac;
}

std::optional<TIPv4> ParseIPv4(const std::string& text) { return ParseDottedIPv4(text); }

std::string FormatMac(const TMacAddress& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%2.2X:%2.2X:%2.2X:%2.2X:%2.2X:%2.2X", mac[0], mac[1], mac[2],
                mac[3], mac[4], mac[5]);
  return text;
}

std::string MacFileName(const TMacAddress& mac) {
  std::string name = FormatMac(mac);
  std::replace(name.begin(), name.end(), ':', '-');
  return name;
}

std::string FormatIPv4(const TIPv4& address) { return DottedIPv4(address); }

}  // namespace scoutor
