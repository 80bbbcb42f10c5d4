// Received ICMP packets (IP header in front) judged against a request. The first seven input
// bytes make the request (target address, identifier, sequence with a flag byte); the rest is
// the packet. Whatever the bytes, the judgement reads only the packet; an answer names its
// sender only with a whole IP header in hand, and a real answer also with an ICMP header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "transport/IcmpPacket.h"

namespace {
void Check(bool holds) {
  if (!holds) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kQuestion = 8;
  if (size < kQuestion) return 0;
  scoutor::TEchoQuestion question{};
  std::memcpy(question.Target.data(), data, 4);
  question.Identifier = static_cast<std::uint16_t>(data[4] | data[5] << 8);
  question.Sequence = static_cast<std::uint16_t>(data[6] | data[7] << 8);
  // The packet in a buffer of its own size, so that any read beyond it is caught.
  const std::vector<std::uint8_t> packet(data + kQuestion, data + size);
  const scoutor::TIcmpAnswer answer =
      scoutor::ClassifyAnswer(packet.data(), packet.size(), question);
  constexpr std::size_t kIpHeader = 20, kIcmpHeader = 8;
  if (answer == scoutor::TIcmpAnswer::TooShort) Check(packet.size() >= kIpHeader);
  if (answer != scoutor::TIcmpAnswer::Unrelated && answer != scoutor::TIcmpAnswer::TooShort)
    Check(scoutor::IpHeaderLength(packet.data()) + kIcmpHeader <= packet.size());
  return 0;
}
