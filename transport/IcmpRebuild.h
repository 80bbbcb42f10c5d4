#pragma once
// What the unprivileged ICMP socket hands over, turned into the packet a raw socket would have
// seen (IP header in front), so that one reader judges both: the control data of a received
// message (time-to-live, a queued ICMP error with its sender), and the framing of an echo
// message or of a queued error around the bytes already received. Pure functions on buffers;
// the control data may be anything a message carries and is read only within its length.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

#include "transport/IPv4Text.h"

namespace scoutor {

constexpr std::size_t kRebuiltIpHeader = 20;
constexpr std::size_t kRebuiltIcmpHeader = 8;
// Where the quoted bytes of a queued error go: behind the sender's IP header, the ICMP header
// and the quoted IP header to the original destination.
constexpr std::size_t kQueuedErrorFront = kRebuiltIpHeader + kRebuiltIcmpHeader + kRebuiltIpHeader;

struct TIcmpControl {
  int Ttl = 0;
  bool IcmpError = false;  // an ICMP error from the network (not a local one)
  std::uint8_t Type = 0;
  std::uint8_t Code = 0;
  TAddressBytes Offender{};  // who sent the error
};

TIcmpControl ReadIcmpControl(const msghdr& message);

// `buffer` holds `received` bytes of an ICMP message at kRebuiltIpHeader; writes the IP header
// from `source` in front and returns the whole length.
std::size_t FrameEchoMessage(std::uint8_t* buffer, std::size_t received, int ttl,
                             const TAddressBytes& source);
// `buffer` holds `quoted` bytes of our request at kQueuedErrorFront; writes the error's IP and
// ICMP headers and the quoted IP header to `destination` in front and returns the whole length,
// or 0 when the control data carries no ICMP error.
std::size_t FrameQueuedError(std::uint8_t* buffer, std::size_t quoted, const TIcmpControl& control,
                             const TAddressBytes& destination);

}  // namespace scoutor
