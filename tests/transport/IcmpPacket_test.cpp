#include "transport/IcmpPacket.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "transport/ByteOrder.h"

namespace scoutor {
namespace {

using TBytes = std::vector<std::uint8_t>;

std::uint32_t OnesComplementSum(const std::uint8_t* data, std::size_t length) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < length; i += 2) sum += GetBE16(data + i);
  while (sum > 0xFFFF) sum = (sum >> 16) + (sum & 0xFFFF);
  return sum;
}

TEST(EchoRequest, HasTheFixedLayoutAndAChecksumThatSumsToAllOnes) {
  std::uint8_t request[kEchoRequestLength];
  BuildEchoRequest(request, 0x1234, 0, 0xA1B2C3D4);

  const TBytes head(request, request + 12);
  EXPECT_EQ(head, (TBytes{8, 0, request[2], request[3], 0x34, 0x12, 0x00, 0x00,  //
                          0xD4, 0xC3, 0xB2, 0xA1}));
  for (int i = 12; i < 20; ++i) EXPECT_EQ(request[i], 0) << "byte " << i;
  for (int i = 20; i < 52; ++i) EXPECT_EQ(request[i], 0x45) << "byte " << i;
  EXPECT_EQ(OnesComplementSum(request, kEchoRequestLength), 0xFFFFu);
}

TEST(EchoRequest, ChecksumFollowsTheSequenceNumber) {
  std::uint8_t first[kEchoRequestLength];
  std::uint8_t second[kEchoRequestLength];
  BuildEchoRequest(first, 0x1234, 0, 77);
  BuildEchoRequest(second, 0x1234, 1, 77);
  EXPECT_EQ(GetLE16(second + 6), 1);
  EXPECT_NE(GetBE16(first + 2), GetBE16(second + 2));
  EXPECT_EQ(OnesComplementSum(second, kEchoRequestLength), 0xFFFFu);
}

TEST(EchoRequest, InternetChecksumMatchesTheRfcExample) {
  // RFC 1071's example words 0001 f203 f4f5 f6f7 sum to ddf2; the checksum is its complement.
  const std::uint8_t words[] = {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
  EXPECT_EQ(InternetChecksum(words, sizeof words), 0x220D);
  const std::uint8_t odd[] = {0x01, 0x02, 0x03};  // the last byte counts as 0x0300
  EXPECT_EQ(InternetChecksum(odd, sizeof odd), static_cast<std::uint16_t>(~(0x0102 + 0x0300)));
}

// Hand-made packets: an IPv4 header of 20 bytes from `source` with TTL 64, then `icmp`.
TBytes Packet(std::initializer_list<std::uint8_t> source, const TBytes& icmp) {
  TBytes packet = {0x45, 0, 0, 0, 0, 0, 0, 0, 64, 1, 0, 0};
  packet.insert(packet.end(), source);
  packet.insert(packet.end(), {10, 9, 0, 1});
  packet.insert(packet.end(), icmp.begin(), icmp.end());
  return packet;
}

// An ICMP error of `type` quoting a request to `target` with identifier 0x1234, sequence 0.
TBytes Quoting(std::uint8_t type, std::initializer_list<std::uint8_t> target,
               std::uint8_t quotedType = 8, std::uint16_t sequence = 0) {
  TBytes icmp = {type, 1, 0, 0, 0, 0, 0, 0,
                 0x45, 0, 0, 72, 0, 0, 0, 0, 128, 1, 0, 0, 10, 9, 0, 1};
  icmp.insert(icmp.end(), target);
  icmp.insert(icmp.end(), {quotedType, 0, 0xAB, 0xCD, 0x34, 0x12});
  icmp.push_back(static_cast<std::uint8_t>(sequence));
  icmp.push_back(static_cast<std::uint8_t>(sequence >> 8));
  return icmp;
}

class AnswerTo : public ::testing::Test {
 protected:
  // The request went to 10.9.0.2 with identifier 0x1234 and sequence 0.
  const TEchoQuestion Question{{10, 9, 0, 2}, 0x1234, 0};

  TIcmpAnswer Classify(const TBytes& packet) {
    return ClassifyAnswer(packet.data(), packet.size(), Question);
  }
};

TEST_F(AnswerTo, EchoReplyFromTheTargetWithOurIdentifierAndSequenceIsTheAnswer) {
  EXPECT_EQ(Classify(Packet({10, 9, 0, 2}, {0, 0, 0, 0, 0x34, 0x12, 0, 0})), TIcmpAnswer::Echo);
}

TEST_F(AnswerTo, OurOwnEchoRequestSeenFromTheTargetCountsAsEcho) {
  EXPECT_EQ(Classify(Packet({10, 9, 0, 2}, {8, 0, 0, 0, 0x34, 0x12, 0, 0})), TIcmpAnswer::Echo);
}

TEST_F(AnswerTo, EchoTrafficOfOthersIsPassedOver) {
  // another program's identifier
  EXPECT_EQ(Classify(Packet({10, 9, 0, 2}, {0, 0, 0, 0, 0x99, 0x99, 0, 0})),
            TIcmpAnswer::Unrelated);
  // our identifier, an older sequence
  EXPECT_EQ(Classify(Packet({10, 9, 0, 2}, {0, 0, 0, 0, 0x34, 0x12, 5, 0})),
            TIcmpAnswer::Unrelated);
  // another host's reply
  EXPECT_EQ(Classify(Packet({10, 9, 0, 4}, {0, 0, 0, 0, 0x34, 0x12, 0, 0})),
            TIcmpAnswer::Unrelated);
  // another host's echo request to us
  EXPECT_EQ(Classify(Packet({10, 9, 0, 4}, {8, 0, 0, 0, 0x34, 0x12, 0, 0})),
            TIcmpAnswer::Unrelated);
}

TEST_F(AnswerTo, UnreachableAndTimeExceededQuotingTheRequestAreAnswers) {
  EXPECT_EQ(Classify(Packet({10, 9, 0, 254}, Quoting(3, {10, 9, 0, 2}))),
            TIcmpAnswer::Unreachable);
  EXPECT_EQ(Classify(Packet({10, 9, 0, 254}, Quoting(11, {10, 9, 0, 2}))),
            TIcmpAnswer::TtlExceeded);
}

TEST_F(AnswerTo, ErrorsQuotingSomethingElseArePassedOver) {
  // a request to another address
  EXPECT_EQ(Classify(Packet({10, 9, 0, 254}, Quoting(3, {10, 9, 0, 7}))),
            TIcmpAnswer::Unrelated);
  // an echo reply, not a request
  EXPECT_EQ(Classify(Packet({10, 9, 0, 254}, Quoting(3, {10, 9, 0, 2}, 0))),
            TIcmpAnswer::Unrelated);
  // our identifier, another sequence
  EXPECT_EQ(Classify(Packet({10, 9, 0, 254}, Quoting(11, {10, 9, 0, 2}, 8, 3))),
            TIcmpAnswer::Unrelated);
  // quoting too little to tell whose request it was
  TBytes cut = Quoting(3, {10, 9, 0, 2});
  cut.resize(cut.size() - 4);
  EXPECT_EQ(Classify(Packet({10, 9, 0, 254}, cut)), TIcmpAnswer::Unrelated);
}

TEST_F(AnswerTo, RedirectIsPassedOverEvenWhenItQuotesTheRequest) {
  EXPECT_EQ(Classify(Packet({10, 9, 0, 254}, Quoting(5, {10, 9, 0, 2}))), TIcmpAnswer::Unrelated);
}

TEST_F(AnswerTo, ParameterProblemOrSourceQuenchQuotingTheRequestIsAnAnswerOfAnotherType) {
  EXPECT_EQ(Classify(Packet({10, 9, 0, 254}, Quoting(12, {10, 9, 0, 2}))),
            TIcmpAnswer::OtherType);
  EXPECT_EQ(Classify(Packet({10, 9, 0, 254}, Quoting(4, {10, 9, 0, 2}))),
            TIcmpAnswer::OtherType);
}

TEST_F(AnswerTo, OtherTypesFromAnyoneArePassedOver) {
  // timestamp request and router advertisement, from the target itself
  EXPECT_EQ(Classify(Packet({10, 9, 0, 2}, {13, 0, 0, 0, 0x34, 0x12, 0, 0})),
            TIcmpAnswer::Unrelated);
  EXPECT_EQ(Classify(Packet({10, 9, 0, 2}, {9, 0, 0, 0, 0, 0, 0, 0})), TIcmpAnswer::Unrelated);
}

TEST_F(AnswerTo, MessageFromTheTargetTooShortForAnIcmpHeaderIsTooShort) {
  EXPECT_EQ(Classify(Packet({10, 9, 0, 2}, {0, 0, 0, 0, 0x34, 0x12, 0})), TIcmpAnswer::TooShort);
}

TEST_F(AnswerTo, ShortMessageFromAnyoneElseIsPassedOver) {
  EXPECT_EQ(Classify(Packet({10, 9, 0, 4}, {0, 0, 0, 0})), TIcmpAnswer::Unrelated);
  const TBytes headerOnly = {0x45, 0, 0, 0, 0, 0, 0, 0, 64, 1, 0, 0, 10, 9, 0};
  EXPECT_EQ(Classify(headerOnly), TIcmpAnswer::Unrelated);
}

TEST_F(AnswerTo, IpOptionsShiftTheIcmpMessage) {
  // header length 6 words: 4 bytes of options before the ICMP message
  TBytes packet = Packet({10, 9, 0, 2}, {1, 1, 0, 0});  // the options
  packet[0] = 0x46;
  packet.insert(packet.end(), {0, 0, 0, 0, 0x34, 0x12, 0, 0});
  EXPECT_EQ(Classify(packet), TIcmpAnswer::Echo);
  packet.resize(packet.size() - 1);
  EXPECT_EQ(Classify(packet), TIcmpAnswer::TooShort);
}

TEST(CandidateSequence, IsReadFromAnEchoMessageOrFromTheRequestAnErrorQuotes) {
  const TBytes reply = Packet({10, 9, 0, 2}, {0, 0, 0, 0, 0x34, 0x12, 0x07, 0x01});
  EXPECT_EQ(CandidateSequence(reply.data(), reply.size()), 0x0107);
  const TBytes error = Packet({10, 9, 0, 254}, Quoting(3, {10, 9, 0, 2}, 8, 0x0203));
  EXPECT_EQ(CandidateSequence(error.data(), error.size()), 0x0203);
}

TEST(CandidateSequence, IsNoneForPacketsTooShortToCarryOne) {
  const TBytes shortEcho = Packet({10, 9, 0, 2}, {0, 0, 0, 0, 0x34, 0x12, 0});
  EXPECT_EQ(CandidateSequence(shortEcho.data(), shortEcho.size()), std::nullopt);
  TBytes cut = Quoting(3, {10, 9, 0, 2});
  cut.resize(cut.size() - 1);
  const TBytes shortError = Packet({10, 9, 0, 254}, cut);
  EXPECT_EQ(CandidateSequence(shortError.data(), shortError.size()), std::nullopt);
}

}  // namespace
}  // namespace scoutor
