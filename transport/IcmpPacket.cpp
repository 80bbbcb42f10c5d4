#include "transport/IcmpPacket.h"

#include <algorithm>
#include <cstring>

#include "transport/ByteOrder.h"

namespace scoutor {

namespace {

constexpr std::size_t kIcmpHeader = 8;

bool CarriesRequest(const std::uint8_t* icmp, const TEchoQuestion& question) {
  return GetLE16(icmp + 4) == question.Identifier && GetLE16(icmp + 6) == question.Sequence;
}

// `icmp` is an ICMP error message of `length` bytes: does it quote our request?
bool QuotesRequest(const std::uint8_t* icmp, std::size_t length, const TEchoQuestion& question) {
  if (length < kIcmpHeader + ipv4::kMinHeader + kIcmpHeader) return false;
  const std::uint8_t* quoted = icmp + kIcmpHeader;
  const std::size_t quotedHeader = IpHeaderLength(quoted);
  if (quotedHeader < ipv4::kMinHeader || length < kIcmpHeader + quotedHeader + kIcmpHeader)
    return false;
  if (quoted[ipv4::kProtocol] != ipv4::kProtocolIcmp) return false;
  if (IpDestination(quoted) != question.Target) return false;
  const std::uint8_t* request = quoted + quotedHeader;
  return request[0] == kIcmpEchoRequest && CarriesRequest(request, question);
}

}  // namespace

void BuildEchoRequest(std::uint8_t* request, std::uint16_t identifier, std::uint16_t sequence,
                      std::uint32_t tick) {
  std::memset(request, 0, kEchoRequestLength);
  request[0] = kIcmpEchoRequest;
  request[1] = 0;
  PutLE16(request + 4, identifier);
  PutLE16(request + 6, sequence);
  PutLE32(request + 8, tick);
  std::fill(request + 20, request + kEchoRequestLength, std::uint8_t{0x45});
  PutBE16(request + 2, InternetChecksum(request, kEchoRequestLength));
}

std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t length) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < length; i += 2) sum += GetBE16(data + i);
  if (length % 2 != 0) sum += static_cast<std::uint32_t>(data[length - 1]) << 8;
  sum = (sum >> 16) + (sum & 0xFFFF);
  sum += sum >> 16;
  return static_cast<std::uint16_t>(~sum);
}

std::optional<std::uint16_t> CandidateSequence(const std::uint8_t* packet, std::size_t count) {
  if (count < ipv4::kMinHeader) return std::nullopt;
  const std::size_t header = IpHeaderLength(packet);
  if (header < ipv4::kMinHeader || count < header + kIcmpHeader) return std::nullopt;
  const std::uint8_t* icmp = packet + header;
  const std::size_t length = count - header;
  if (icmp[0] == kIcmpEchoReply || icmp[0] == kIcmpEchoRequest) return GetLE16(icmp + 6);
  if (length < kIcmpHeader + ipv4::kMinHeader + kIcmpHeader) return std::nullopt;
  const std::uint8_t* quoted = icmp + kIcmpHeader;
  const std::size_t quotedHeader = IpHeaderLength(quoted);
  if (quotedHeader < ipv4::kMinHeader || length < kIcmpHeader + quotedHeader + kIcmpHeader)
    return std::nullopt;
  return GetLE16(quoted + quotedHeader + 6);
}

TIcmpAnswer ClassifyAnswer(const std::uint8_t* packet, std::size_t count,
                           const TEchoQuestion& question) {
  if (count < ipv4::kMinHeader) return TIcmpAnswer::Unrelated;
  const std::size_t header = IpHeaderLength(packet);
  if (header < ipv4::kMinHeader) return TIcmpAnswer::Unrelated;
  const bool fromTarget = IpSource(packet) == question.Target;
  if (count < header + kIcmpHeader)
    return fromTarget ? TIcmpAnswer::TooShort : TIcmpAnswer::Unrelated;

  const std::uint8_t* icmp = packet + header;
  const std::size_t length = count - header;
  switch (icmp[0]) {
    case kIcmpEchoReply:
    case kIcmpEchoRequest:
      return fromTarget && CarriesRequest(icmp, question) ? TIcmpAnswer::Echo
                                                          : TIcmpAnswer::Unrelated;
    case kIcmpUnreachable:
      return QuotesRequest(icmp, length, question) ? TIcmpAnswer::Unreachable
                                                   : TIcmpAnswer::Unrelated;
    case kIcmpTimeExceeded:
      return QuotesRequest(icmp, length, question) ? TIcmpAnswer::TtlExceeded
                                                   : TIcmpAnswer::Unrelated;
    case kIcmpSourceQuench:
    case kIcmpParameterProblem:
      return QuotesRequest(icmp, length, question) ? TIcmpAnswer::OtherType
                                                   : TIcmpAnswer::Unrelated;
    default:  // redirects and everything else
      return TIcmpAnswer::Unrelated;
  }
}

}  // namespace scoutor
