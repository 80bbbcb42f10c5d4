#include "transport/IcmpEchoClient.h"

#include <netinet/in.h>
#include <unistd.h>

#include "runtime/Clock.h"
#include "transport/ByteOrder.h"
#include "transport/SocketStack.h"

namespace scoutor {

namespace {

std::uint32_t TickCount() { return static_cast<std::uint32_t>(SteadyClock().NowMs()); }

std::int32_t MsSince(std::uint32_t tick) {
  return static_cast<std::int32_t>(TickCount() - tick);
}

TReplyKind KindOf(TIcmpAnswer answer) {
  switch (answer) {
    case TIcmpAnswer::Echo:
      return rkEcho;
    case TIcmpAnswer::Unreachable:
      return rkUnreachable;
    case TIcmpAnswer::TtlExceeded:
      return rkTtlExceeded;
    default:
      return rkError;
  }
}

}  // namespace

TIcmpEchoClient::TIcmpEchoClient() {
  Protocol = IPPROTO_ICMP;
  ReceiveTimeout = 5000;
}

void TIcmpEchoClient::PingOnce() {
  const std::string target = TSocketStack::LookupAddress(Host);
  BuildRequest();
  SendDatagram(target, Port, RequestBuffer.data(), RequestLength);
  const TEchoQuestion question{
      TSocketStack::TextToAddress(target),
      TIcmpSocket::SentIdentifier(GetSocket(), SocketKind(), GetLE16(RequestBuffer.data() + 4)),
      GetLE16(RequestBuffer.data() + 6)};
  ReadAnswer(question);
  GetSocket().Close(true);
}

void TIcmpEchoClient::BuildRequest() {
  RequestBuffer.fill(0);
  RequestTick = TickCount();
  BuildEchoRequest(RequestBuffer.data(), static_cast<std::uint16_t>(getpid() & 0xFFFF), Sequence,
                   RequestTick);
  RequestLength = kEchoRequestLength;
  ++Sequence;
}

// Waits until an answer to `question` arrives or the time-out runs out, passing over every
// other ICMP message received meanwhile.
void TIcmpEchoClient::ReadAnswer(const TEchoQuestion& question) {
  const std::int64_t deadline = SteadyClock().NowMs() + ReceiveTimeout;
  std::int64_t remaining = ReceiveTimeout;
  do {
    const int count = ReceiveBuffer(Received.data(), Received.size(),
                                    static_cast<int>(remaining < 0 ? 0 : remaining));
    if (count > 0) {
      const std::uint8_t* packet = Received.data();
      const TIcmpAnswer answer =
          ClassifyAnswer(packet, static_cast<std::size_t>(count), question);
      if (answer == TIcmpAnswer::TooShort)
        throw EIdIcmpException("Not enough bytes received");
      if (answer == TIcmpAnswer::OtherType)
        throw EIdIcmpException("Non-echo type response received");
      if (answer != TIcmpAnswer::Unrelated) {
        TReplyStatus status;
        status.ReceivedBytes = count;
        status.FromAddress = TSocketStack::AddressToText(IpSource(packet));
        status.MessageType = packet[IpHeaderLength(packet)];
        status.SequenceNumber = question.Sequence;
        status.ElapsedMs = MsSince(RequestTick);
        status.Ttl = packet[ipv4::kTtl];
        status.ReplyKind = KindOf(answer);
        Record(status);
        return;
      }
    }
    remaining = deadline - SteadyClock().NowMs();
  } while (remaining > 0);

  TReplyStatus timeout;
  timeout.FromAddress = "0.0.0.0";
  timeout.SequenceNumber = Sequence;
  timeout.ElapsedMs = MsSince(RequestTick);
  timeout.ReplyKind = rkTimedOut;
  Record(timeout);
}

void TIcmpEchoClient::Record(const TReplyStatus& status) {
  if (OnReply) OnReply(*this, status);
  Reply = status;
}

}  // namespace scoutor
