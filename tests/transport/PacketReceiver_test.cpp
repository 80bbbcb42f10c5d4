// What the packet receiver takes from an interface: the socket filter (run here by a small
// interpreter of the instructions it uses) and the checks behind it, on packets written out
// byte by byte. The receiver on real interfaces is tested with the engine, in namespaces.
#include "transport/PacketReceiver.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/support/Hex.h"

namespace scoutor::test {
namespace {

// The host at 10.0.0.1/24, port 17784 (45 78).
TPacketMatch HostMatch() {
  return TPacketMatch{17784, {TAddressBytes{10, 0, 0, 1}, TAddressBytes{10, 0, 0, 255}}, {}};
}

// IP: version 4, 20-byte header, total 35, identification 12 34, no fragment, TTL 64, UDP,
// checksum, from 10.1.2.3 to 255.255.255.255. UDP: 17784 to 17784, length 15, no checksum.
// Payload: 7 bytes.
const std::vector<std::uint8_t> kBroadcast = Hex(
    "45 00 00 23  12 34 00 00  40 11 5c 93  0a 01 02 03  ff ff ff ff "
    "45 78 45 78  00 0f 00 00 "
    "01 02 03 04 05 06 07");

// The same packet with one field changed (the header checksum follows where named).
std::vector<std::uint8_t> With(std::vector<std::uint8_t> packet,
                               std::vector<std::pair<std::size_t, std::uint8_t>> changes) {
  for (auto [at, value] : changes) packet[at] = value;
  return packet;
}

// Runs the classic filter as the kernel would: a load beyond the packet refuses it.
std::uint32_t RunFilter(const std::vector<sock_filter>& program,
                        const std::vector<std::uint8_t>& packet) {
  std::uint32_t a = 0, x = 0;
  for (std::size_t pc = 0; pc < program.size(); ++pc) {
    const sock_filter& op = program[pc];
    bool inside = true;
    auto load = [&](std::size_t at, std::size_t count) {
      std::uint32_t value = 0;
      if (at + count > packet.size()) inside = false;
      for (std::size_t i = 0; inside && i < count; ++i) value = (value << 8) | packet[at + i];
      return value;
    };
    switch (op.code) {
      case BPF_LD | BPF_B | BPF_ABS: a = load(op.k, 1); break;
      case BPF_LD | BPF_H | BPF_ABS: a = load(op.k, 2); break;
      case BPF_LD | BPF_W | BPF_ABS: a = load(op.k, 4); break;
      case BPF_LD | BPF_H | BPF_IND: a = load(x + op.k, 2); break;
      case BPF_LDX | BPF_B | BPF_MSH: x = (load(op.k, 1) & 0x0f) * 4; break;
      case BPF_ALU | BPF_AND | BPF_K: a &= op.k; break;
      case BPF_JMP | BPF_JEQ | BPF_K: pc += a == op.k ? op.jt : op.jf; break;
      case BPF_JMP | BPF_JSET | BPF_K: pc += (a & op.k) != 0 ? op.jt : op.jf; break;
      case BPF_RET | BPF_K: return op.k;
      default: ADD_FAILURE() << "unexpected instruction " << op.code; return 0;
    }
    if (!inside) return 0;
  }
  ADD_FAILURE() << "the program ran off its end";
  return 0;
}

bool FilterTakes(const std::vector<std::uint8_t>& packet) {
  return RunFilter(UdpFilterProgram(HostMatch()), packet) != 0;
}

bool ParseTakes(const std::vector<std::uint8_t>& packet) {
  return ParseUdpPacket(packet, HostMatch()).has_value();
}

TEST(PacketFilter, ABroadcastToThePortIsTakenWithItsSourceAndPayload) {
  EXPECT_TRUE(FilterTakes(kBroadcast));
  const auto datagram = ParseUdpPacket(kBroadcast, HostMatch());
  ASSERT_TRUE(datagram);
  EXPECT_EQ(datagram->Source, (TAddressBytes{10, 1, 2, 3}));
  EXPECT_EQ(datagram->SourcePort, 17784);
  EXPECT_EQ(datagram->Identification, 0x1234);
  EXPECT_EQ(std::vector<std::uint8_t>(datagram->Payload.begin(), datagram->Payload.end()),
            Hex("01 02 03 04 05 06 07"));
}

TEST(PacketFilter, TheInterfacesOwnAddressAndSubnetBroadcastAreTakenOtherDestinationsNot) {
  const auto own = With(kBroadcast, {{16, 10}, {17, 0}, {18, 0}, {19, 1}, {10, 0x52}, {11, 0x92}});
  const auto subnet =
      With(kBroadcast, {{16, 10}, {17, 0}, {18, 0}, {19, 255}, {10, 0x51}, {11, 0x94}});
  const auto other = With(kBroadcast, {{16, 10}, {17, 0}, {18, 0}, {19, 9}, {10, 0x52}, {11, 0x8a}});
  EXPECT_TRUE(FilterTakes(own));
  EXPECT_TRUE(ParseTakes(own));
  EXPECT_TRUE(FilterTakes(subnet));
  EXPECT_TRUE(ParseTakes(subnet));
  EXPECT_FALSE(FilterTakes(other));
  EXPECT_FALSE(ParseTakes(other));
}

TEST(PacketFilter, WithASourceNamedOnlyThatSendersPacketsAreTaken) {
  TPacketMatch fromOne = HostMatch();
  fromOne.Source = TAddressBytes{10, 1, 2, 3};
  const auto fromAnother = With(kBroadcast, {{15, 4}, {11, 0x92}});  // from 10.1.2.4
  EXPECT_NE(RunFilter(UdpFilterProgram(fromOne), kBroadcast), 0u);
  EXPECT_TRUE(ParseUdpPacket(kBroadcast, fromOne));
  EXPECT_EQ(RunFilter(UdpFilterProgram(fromOne), fromAnother), 0u);
  EXPECT_FALSE(ParseUdpPacket(fromAnother, fromOne));
  // The destination and port are still checked behind the source.
  const auto otherPort = With(kBroadcast, {{23, 0x79}});
  EXPECT_EQ(RunFilter(UdpFilterProgram(fromOne), otherPort), 0u);
  EXPECT_FALSE(ParseUdpPacket(otherPort, fromOne));
  EXPECT_TRUE(ParseTakes(fromAnother));  // without a source named, any sender's is taken
}

TEST(PacketFilter, AHeaderWithOptionsIsReadPastThemAndFramePaddingIsIgnored) {
  // 24-byte header (four no-operation option bytes), total 39.
  const auto options = Hex(
      "46 00 00 27  12 34 00 00  40 11 59 8d  0a 01 02 03  ff ff ff ff  01 01 01 01 "
      "45 78 45 78  00 0f 00 00 "
      "01 02 03 04 05 06 07");
  EXPECT_TRUE(FilterTakes(options));
  const auto datagram = ParseUdpPacket(options, HostMatch());
  ASSERT_TRUE(datagram);
  EXPECT_EQ(datagram->Payload.size(), 7u);
  EXPECT_EQ(datagram->Payload[0], 0x01);

  auto padded = kBroadcast;
  padded.insert(padded.end(), 11, 0x00);  // a short frame padded to Ethernet's minimum
  const auto fromPadded = ParseUdpPacket(padded, HostMatch());
  ASSERT_TRUE(fromPadded);
  EXPECT_EQ(fromPadded->Payload.size(), 7u);
}

TEST(PacketFilter, AnotherPortOrProtocolIsRefused) {
  const auto otherPort = With(kBroadcast, {{23, 0x79}});  // to 17785
  EXPECT_FALSE(FilterTakes(otherPort));
  EXPECT_FALSE(ParseTakes(otherPort));
  const auto tcp = With(kBroadcast, {{9, 0x06}, {10, 0x5c}, {11, 0x9e}});
  EXPECT_FALSE(FilterTakes(tcp));
  EXPECT_FALSE(ParseTakes(tcp));
}

TEST(PacketFilter, FragmentsAreRefused) {
  const auto first = With(kBroadcast, {{6, 0x20}, {10, 0x3c}, {11, 0x93}});     // more fragments
  const auto later = With(kBroadcast, {{7, 0x10}, {10, 0x5c}, {11, 0x83}});     // offset 16 x 8
  EXPECT_FALSE(FilterTakes(first));
  EXPECT_FALSE(ParseTakes(first));
  EXPECT_FALSE(FilterTakes(later));
  EXPECT_FALSE(ParseTakes(later));
}

TEST(PacketFilter, ABadHeaderChecksumIsRefused) {
  EXPECT_FALSE(ParseTakes(With(kBroadcast, {{11, 0x94}})));
}

TEST(PacketFilter, MalformedLengthsAreRefused) {
  EXPECT_FALSE(ParseTakes(Hex("45 00 00 23  12 34 00 00  40 11 5c 93  0a 01 02 03")));
  EXPECT_FALSE(ParseTakes({}));
  // Total length 36, one byte more than there is.
  EXPECT_FALSE(ParseTakes(With(kBroadcast, {{3, 0x24}, {11, 0x92}})));
  // Total length 27: no room for the UDP header.
  EXPECT_FALSE(ParseTakes(With(kBroadcast, {{3, 0x1b}, {11, 0x9b}})));
  // UDP length 16, beyond the packet; UDP length 7, less than its own header.
  EXPECT_FALSE(ParseTakes(With(kBroadcast, {{25, 0x10}})));
  EXPECT_FALSE(ParseTakes(With(kBroadcast, {{25, 0x07}})));
  // A header length of 4 words, and version 6.
  EXPECT_FALSE(ParseTakes(With(kBroadcast, {{0, 0x44}, {10, 0x5d}})));
  EXPECT_FALSE(ParseTakes(With(kBroadcast, {{0, 0x65}, {10, 0x3c}})));
  // The filter refuses what is too short to read, without reading beyond it.
  EXPECT_FALSE(FilterTakes(Hex("45 00 00 23  12 34 00 00  40 11 5c 93  0a 01 02 03  ff ff ff ff")));
}

}  // namespace
}  // namespace scoutor::test
