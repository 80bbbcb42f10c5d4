#pragma once
// The record of one echo exchange as the ICMP echo client reads it: the answer that came back,
// or the time-out when none did. A plain value, copied freely.
#include <cstdint>
#include <string>

namespace scoutor {

enum TReplyKind : std::uint8_t {
  rkEcho = 0,         // an echo reply (or, pinging one of our own addresses, our own request)
  rkError = 1,        // nothing recorded yet
  rkTimedOut = 2,     // no answer within the receive time-out
  rkUnreachable = 3,  // destination unreachable
  rkTtlExceeded = 4   // time exceeded on the way
};

struct TReplyStatus {
  std::int32_t ReceivedBytes = 0;   // IP header included; 0 for a time-out
  std::string FromAddress;          // dotted source of the answer; "0.0.0.0" for a time-out
  std::uint8_t MessageType = 0;     // ICMP type of the answer; 0 for a time-out
  std::uint16_t SequenceNumber = 0; // the answered request's; the advanced counter for a time-out
  std::int32_t ElapsedMs = 0;       // from building the request to reading the answer (or giving up)
  std::uint8_t Ttl = 0;             // time-to-live of the answer's IP header; 0 for a time-out
  TReplyKind ReplyKind = rkError;
};

}  // namespace scoutor
