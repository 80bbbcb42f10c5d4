#include "hostnet/FormatIPv4.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

namespace scoutor {

std::string FormatIPv4(std::uint32_t networkOrder) {
  unsigned char bytes[4];
  std::memcpy(bytes, &networkOrder, sizeof bytes);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

std::uint32_t HostOrderAddress(const std::string& text) { return ntohl(inet_addr(text.c_str())); }

}  // namespace scoutor
