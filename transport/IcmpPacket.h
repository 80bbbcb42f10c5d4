#pragma once
// The bytes of the ICMP echo exchange: building the 52-byte echo request, the Internet checksum,
// and deciding what one received IPv4 packet (IP header in front) means for the request that is
// being waited for. Pure functions on buffers; any thread.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "transport/IPv4Header.h"
#include "transport/SocketStack.h"

namespace scoutor {

constexpr std::size_t kEchoRequestLength = 52;

constexpr std::uint8_t kIcmpEchoReply = 0;
constexpr std::uint8_t kIcmpUnreachable = 3;
constexpr std::uint8_t kIcmpSourceQuench = 4;
constexpr std::uint8_t kIcmpRedirect = 5;
constexpr std::uint8_t kIcmpEchoRequest = 8;
constexpr std::uint8_t kIcmpTimeExceeded = 11;
constexpr std::uint8_t kIcmpParameterProblem = 12;

// Writes the echo request into `request` (at least kEchoRequestLength bytes): type 8, code 0,
// checksum, then identifier, sequence and tick little-endian, 8 zero bytes and 32 bytes 0x45.
void BuildEchoRequest(std::uint8_t* request, std::uint16_t identifier, std::uint16_t sequence,
                      std::uint32_t tick);

// Ones' complement of the ones'-complement sum of the 16-bit words (RFC 1071), as it is
// written into the packet: a correct packet then sums to 0xFFFF.
std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t length);

// The request an answer must belong to.
struct TEchoQuestion {
  TAddressBytes Target;      // the pinged address
  std::uint16_t Identifier;  // bytes 4-5 of the request as it went out, read little-endian
  std::uint16_t Sequence;    // bytes 6-7 of the request, read little-endian
};

enum class TIcmpAnswer {
  Unrelated,    // not an answer to this request: skipped
  Echo,         // echo reply from the target (or our own request, when the target is us)
  Unreachable,  // destination unreachable quoting the request
  TtlExceeded,  // time exceeded quoting the request
  TooShort,     // from the target, but too short to hold an ICMP header
  OtherType     // another ICMP error (source quench, parameter problem) quoting the request
};

// An echo message answers when it comes from the target with the request's identifier and
// sequence; an ICMP error answers when it quotes the request (IP header to the target, then
// type 8 with the request's identifier and sequence). A redirect quoting the request is only
// advice to use another router - the request itself went on - so it is not an answer.
TIcmpAnswer ClassifyAnswer(const std::uint8_t* packet, std::size_t count,
                           const TEchoQuestion& question);

// The sequence number of the echo request that a received packet may answer: bytes 6-7 of an
// echo message, or of the request quoted by an ICMP error. None when the packet carries no
// such number. A service with many requests out looks its request up by it, then asks
// ClassifyAnswer whether the packet really answers that request.
std::optional<std::uint16_t> CandidateSequence(const std::uint8_t* packet, std::size_t count);

}  // namespace scoutor
