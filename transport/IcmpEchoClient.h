#pragma once
// Pings one host once: builds an ICMP echo request, sends it to Host, waits up to
// ReceiveTimeout for the answer to it and records that answer (or the time-out) as the last
// reply. Only a message that answers this very request counts: an echo reply from Host with
// the request's identifier and sequence, or a destination-unreachable or time-exceeded message
// quoting the request; any other ICMP traffic the host receives meanwhile is passed over.
// Blocks the calling thread; OnReply fires on it.
#include <array>
#include <cstdint>
#include <functional>
#include <span>

#include "transport/IcmpErrors.h"
#include "transport/IcmpPacket.h"
#include "transport/RawSocketBase.h"
#include "transport/ReplyStatus.h"

namespace scoutor {

class TIcmpEchoClient;
using TOnReplyEvent = std::function<void(TIcmpEchoClient& sender, const TReplyStatus& status)>;

class TIcmpEchoClient : public TRawSocketBase {
 public:
  TIcmpEchoClient();

  // Called with each answer or time-out record just before it becomes the last reply.
  TOnReplyEvent OnReply;

  // One echo exchange, then the socket is closed. Raises EIdIcmpException for an answer too
  // short to read ("Not enough bytes received") or of another kind than echo, unreachable or
  // time exceeded ("Non-echo type response received"); socket errors pass through. After an
  // error the socket stays open until the client is destroyed.
  void PingOnce();

  const TReplyStatus& ReplyStatus() const { return Reply; }
  // The request as last built (the first 52 bytes are sent).
  std::span<const std::uint8_t> Request() const { return {RequestBuffer.data(), RequestLength}; }
  std::uint16_t SequenceCounter() const { return Sequence; }

 private:
  void BuildRequest();
  void ReadAnswer(const TEchoQuestion& question);
  void Record(const TReplyStatus& status);

  std::uint16_t Sequence = 0;
  std::uint32_t RequestTick = 0;
  std::array<std::uint8_t, 1024> RequestBuffer{};
  std::size_t RequestLength = kEchoRequestLength;
  std::array<std::uint8_t, 1024> Received{};
  TReplyStatus Reply;
};

}  // namespace scoutor
