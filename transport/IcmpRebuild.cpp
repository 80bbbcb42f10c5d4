#include "transport/IcmpRebuild.h"

#include <linux/errqueue.h>

#include <cstring>

#include "transport/ByteOrder.h"

namespace scoutor {

namespace {

constexpr std::uint8_t kProtocolIcmp = 1;

// A plain IPv4 header of 20 bytes for `total` bytes of packet.
void PutIpHeader(std::uint8_t* at, std::size_t total, std::uint8_t ttl, const TAddressBytes* source,
                 const TAddressBytes* destination) {
  std::memset(at, 0, kRebuiltIpHeader);
  at[0] = 0x45;
  PutBE16(at + 2, static_cast<std::uint16_t>(total));
  at[8] = ttl;
  at[9] = kProtocolIcmp;
  if (source != nullptr) std::memcpy(at + 12, source->data(), 4);
  if (destination != nullptr) std::memcpy(at + 16, destination->data(), 4);
}

// The control message's data when it holds at least `size` bytes within the control buffer.
const std::uint8_t* DataOf(const msghdr& message, const cmsghdr* c, std::size_t size) {
  const auto* start = static_cast<const std::uint8_t*>(message.msg_control);
  const auto* at = reinterpret_cast<const std::uint8_t*>(c);
  const std::size_t room = message.msg_controllen - static_cast<std::size_t>(at - start);
  if (c->cmsg_len < CMSG_LEN(size) || c->cmsg_len > room) return nullptr;
  return reinterpret_cast<const std::uint8_t*>(CMSG_DATA(c));
}

}  // namespace

TIcmpControl ReadIcmpControl(const msghdr& message) {
  TIcmpControl control;
  if (message.msg_control == nullptr) return control;
  auto& walked = const_cast<msghdr&>(message);  // the macros take no const message
  for (cmsghdr* c = CMSG_FIRSTHDR(&walked); c != nullptr; c = CMSG_NXTHDR(&walked, c)) {
    if (c->cmsg_level != IPPROTO_IP) continue;
    if (c->cmsg_type == IP_TTL) {
      if (const std::uint8_t* data = DataOf(message, c, sizeof control.Ttl))
        std::memcpy(&control.Ttl, data, sizeof control.Ttl);
    } else if (c->cmsg_type == IP_RECVERR) {
      const std::uint8_t* data = DataOf(message, c, sizeof(sock_extended_err) + sizeof(sockaddr_in));
      if (data == nullptr) continue;
      sock_extended_err error;
      std::memcpy(&error, data, sizeof error);
      if (error.ee_origin != SO_EE_ORIGIN_ICMP) continue;
      sockaddr_in offender;
      std::memcpy(&offender, data + sizeof error, sizeof offender);  // SO_EE_OFFENDER
      control.IcmpError = true;
      control.Type = error.ee_type;
      control.Code = error.ee_code;
      std::memcpy(control.Offender.data(), &offender.sin_addr.s_addr, 4);
    }
  }
  return control;
}

std::size_t FrameEchoMessage(std::uint8_t* buffer, std::size_t received, int ttl,
                             const TAddressBytes& source) {
  const std::size_t total = kRebuiltIpHeader + received;
  PutIpHeader(buffer, total, static_cast<std::uint8_t>(ttl), &source, nullptr);
  return total;
}

std::size_t FrameQueuedError(std::uint8_t* buffer, std::size_t quoted, const TIcmpControl& control,
                             const TAddressBytes& destination) {
  if (!control.IcmpError) return 0;
  const std::size_t total = kQueuedErrorFront + quoted;
  PutIpHeader(buffer, total, static_cast<std::uint8_t>(control.Ttl), &control.Offender, nullptr);
  std::uint8_t* icmp = buffer + kRebuiltIpHeader;
  std::memset(icmp, 0, kRebuiltIcmpHeader);
  icmp[0] = control.Type;
  icmp[1] = control.Code;
  PutIpHeader(icmp + kRebuiltIcmpHeader, kRebuiltIpHeader + quoted, 0, nullptr, &destination);
  return total;
}

}  // namespace scoutor
