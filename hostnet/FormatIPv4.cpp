#include "hostnet/FormatIPv4.h"

#include <arpa/inet.h>

#include <cstring>

#include "transport/IPv4Text.h"

namespace scoutor {

std::string FormatIPv4(std::uint32_t networkOrder) {
  TAddressBytes bytes;
  std::memcpy(bytes.data(), &networkOrder, bytes.size());
  return DottedIPv4(bytes);
}

// The rule the exported C functions give their callers' texts.
std::uint32_t HostOrderAddress(const std::string& text) { return ntohl(inet_addr(text.c_str())); }

}  // namespace scoutor
