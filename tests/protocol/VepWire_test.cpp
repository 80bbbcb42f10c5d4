#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/VepWire.h"
#include "tests/support/Hex.h"

namespace scoutor {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using test::Hex;

TVEPDatagram Concat(std::initializer_list<TVEPDatagram> parts) {
  TVEPDatagram all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// code, length, then `length` bytes of 'x'.
TVEPDatagram Filler(std::uint8_t code, std::uint8_t length) {
  TVEPDatagram element = {code, length};
  element.insert(element.end(), length, 'x');
  return element;
}

class TRecordingDiagnostics : public TVEPDiagnostics {
 public:
  void ReportMessage(const std::string& text) override { Messages.push_back(text); }
  std::vector<std::string> Messages;
};

const TVEPNodeID kHost = MakeHostID(0xC0A80105);  // 192.168.1.5
const TVEPNodeID kDevice = {0x00, 0x01, 0x00, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E};

// A reply header from device 00:0A:1B:2C:3D:4E to host 192.168.1.5 with the given method.
TVEPDatagram ReplyHeader(const std::string& method) {
  return Hex("00 02 C0 A8 01 05 45 78  00 01 00 0A 1B 2C 3D 4E  01 00 C0 01  00  00 01 00 01 " +
             method);
}

const TVEPDatagram kNameAP1 = Hex("02 04 41 50 2D 31");             // vtName "AP-1"
const TVEPDatagram kTypeBridge = Hex("03 06 42 72 69 64 67 65");    // vtType "Bridge"

class VepReplyDecoding : public ::testing::Test {
 protected:
  bool DecodeDiscover(const TVEPDatagram& datagram) {
    TByteStream stream(datagram.data(), datagram.size());
    stream.SetPosition(kHeaderSize);
    return DecodeDiscoverReply(stream, Discover, Diagnostics);
  }
  bool DecodeIPConfig(const TVEPDatagram& datagram) {
    TByteStream stream(datagram.data(), datagram.size());
    stream.SetPosition(kHeaderSize);
    return DecodeIPConfigReply(stream, IPConfig, Diagnostics);
  }

  TRecordingDiagnostics Diagnostics;
  TDiscoverReply Discover;
  TIPConfigReply IPConfig;
};

TEST(VepNodeID, HostIDIsZeroTwoTheAddressAndEx) {
  EXPECT_EQ(kHost, (TVEPNodeID{0x00, 0x02, 0xC0, 0xA8, 0x01, 0x05, 0x45, 0x78}));
  EXPECT_EQ(MakeHostID(0), (TVEPNodeID{0x00, 0x02, 0, 0, 0, 0, 0x45, 0x78}));
}

TEST(VepNodeID, IDTextIsUpperCaseHexOfBytesTwoToSeven) {
  EXPECT_EQ(IDText(kDevice), "00:0A:1B:2C:3D:4E");
}

TEST(VepNodeID, IDTextIgnoresBytesZeroAndOne) {
  const TVEPNodeID other = {0xAB, 0xCD, 0x00, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E};
  EXPECT_EQ(IDText(other), "00:0A:1B:2C:3D:4E");
}

TEST(VepNodeID, IDFromTextReadsLowerCaseDigits) {
  TVEPNodeID id{};
  IDFromText("00:0a:1b:2c:3d:4e", id);
  EXPECT_EQ(id, kDevice);
  EXPECT_EQ(IDText(id), "00:0A:1B:2C:3D:4E");
}

TEST(VepNodeID, IDFromTextKeepsEachNumbersLowByte) {
  TVEPNodeID id{};
  IDFromText("100:1FF:2:3:4:5", id);
  EXPECT_EQ(id, (TVEPNodeID{0x00, 0x01, 0x00, 0xFF, 0x02, 0x03, 0x04, 0x05}));
}

TEST(VepNodeID, PartialIDTextLeavesTheBytesNotRead) {
  TVEPNodeID id = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  IDFromText("12:34:zz", id);
  EXPECT_EQ(id, (TVEPNodeID{0x00, 0x01, 0x12, 0x34, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(VepNodeID, UnreadableIDTextStillWritesBytesZeroAndOne) {
  TVEPNodeID id = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  IDFromText("", id);
  EXPECT_EQ(id, (TVEPNodeID{0x00, 0x01, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  IDFromText(nullptr, id);
  EXPECT_EQ(id, (TVEPNodeID{0x00, 0x01, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(VepRequests, FillHeaderWritesDiscoveryDestinationHostSourceAndRequestFlag) {
  TVEPHeader header{};
  std::memset(&header, 0xAA, sizeof header);
  FillHeader(header, kHost);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&header);
  EXPECT_EQ(TVEPDatagram(bytes, bytes + sizeof header),
            Hex("01 00 00 00 00 00 00 00  00 02 C0 A8 01 05 45 78  01 00  C0 01  01 "
                "AA AA AA AA  AA AA"));
}

TEST(VepRequests, DiscoveryRequestFrom192_168_1_5) {
  EXPECT_EQ(EncodeDiscover(kHost),
            Hex("01 00 00 00 00 00 00 00  00 02 C0 A8 01 05 45 78  01 00  C0 01  01 "
                "00 01 00 01  00 01"));
}

TEST(VepRequests, GetIPRequestFrom192_168_1_5ToDevice) {
  TVEPNodeID device{};
  IDFromText("00:0A:1B:2C:3D:4E", device);
  EXPECT_EQ(EncodeGetIP(kHost, device),
            Hex("00 01 00 0A 1B 2C 3D 4E  00 02 C0 A8 01 05 45 78  01 00  C0 01  01 "
                "00 01 00 01  00 02"));
}

TEST(VepRequests, SetIPRequestWithStaticSettings) {
  const TVEPDatagram request =
      EncodeSetIP(kHost, kDevice, "10.0.0.7", "255.0.0.0", "10.0.0.1", 0);
  EXPECT_EQ(request,
            Hex("00 01 00 0A 1B 2C 3D 4E  00 02 C0 A8 01 05 45 78  01 00  C0 01  01 "
                "00 01 00 01  00 03 "
                "0A 00 00 07  FF 00 00 00  0A 00 00 01  00"));
}

TEST(VepRequests, SetIPRequestSendsRejectedTextsAsAllOnesAlsoWithDHCP) {
  const TVEPDatagram request = EncodeSetIP(kHost, kDevice, "...", "...", "...", 1);
  ASSERT_EQ(request.size(), 40u);
  EXPECT_EQ(TVEPDatagram(request.begin() + 27, request.end()),
            Hex("FF FF FF FF  FF FF FF FF  FF FF FF FF  01"));
}

TEST(VepRequests, SetIPRequestSendsAnyNonZeroDHCPFlagAsOne) {
  const TVEPDatagram request = EncodeSetIP(kHost, kDevice, "10.0.0.7", "255.0.0.0", "", 5);
  EXPECT_EQ(request[39], 0x01);
}

TEST(VepRequests, SetIPRequestConvertsTextsAsInetAddrDoes) {
  // inet_addr reads "10.7" as 10.0.0.7 and hexadecimal parts such as 0xff.
  const TVEPDatagram request = EncodeSetIP(kHost, kDevice, "10.7", "0xff.0.0.0", "1.2.3.4x", 0);
  EXPECT_EQ(TVEPDatagram(request.begin() + 27, request.end()),
            Hex("0A 00 00 07  FF 00 00 00  FF FF FF FF  00"));
}

TEST_F(VepReplyDecoding, DiscoverReplyGivesNameAndType) {
  const TVEPDatagram reply = Concat({ReplyHeader("00 01"), kNameAP1, kTypeBridge});
  ASSERT_EQ(reply.size(), 41u);
  EXPECT_TRUE(DecodeDiscover(reply));
  EXPECT_EQ(Discover.Name, "AP-1");
  EXPECT_EQ(Discover.Type, "Bridge");
  EXPECT_THAT(Diagnostics.Messages, IsEmpty());
}

TEST_F(VepReplyDecoding, ReplyEndingAfterTheHeaderOrOneByteLaterDecodesEmpty) {
  EXPECT_TRUE(DecodeDiscover(ReplyHeader("00 01")));
  EXPECT_TRUE(DecodeDiscover(Concat({ReplyHeader("00 01"), Hex("02")})));
  EXPECT_EQ(Discover.Name, "");
  EXPECT_EQ(Discover.Type, "");
  EXPECT_THAT(Diagnostics.Messages, IsEmpty());
}

TEST_F(VepReplyDecoding, ASingleTrailingByteIsIgnored) {
  EXPECT_TRUE(DecodeDiscover(Concat({ReplyHeader("00 01"), kNameAP1, Hex("03")})));
  EXPECT_EQ(Discover.Name, "AP-1");
  EXPECT_THAT(Diagnostics.Messages, IsEmpty());
}

TEST_F(VepReplyDecoding, ReplyOf199BytesDecodes) {
  const TVEPDatagram reply = Concat({ReplyHeader("00 01"), Filler(vtName, 170)});
  ASSERT_EQ(reply.size(), 199u);
  EXPECT_TRUE(DecodeDiscover(reply));
  EXPECT_EQ(Discover.Name, std::string(170, 'x'));
  EXPECT_THAT(Diagnostics.Messages, IsEmpty());
}

TEST_F(VepReplyDecoding, ReplyOf200BytesIsRefused) {
  const TVEPDatagram reply = Concat({ReplyHeader("00 01"), Filler(vtName, 171)});
  ASSERT_EQ(reply.size(), 200u);
  EXPECT_FALSE(DecodeDiscover(reply));
  EXPECT_THAT(Diagnostics.Messages, ElementsAre("Buffer size is too small"));
}

TEST_F(VepReplyDecoding, GetIPReplyOf200BytesIsRefusedToo) {
  const TVEPDatagram reply = Concat({ReplyHeader("00 02"), Filler(vtIPAddress, 171)});
  EXPECT_FALSE(DecodeIPConfig(reply));
  EXPECT_THAT(Diagnostics.Messages, ElementsAre("Buffer size is too small"));
}

TEST_F(VepReplyDecoding, LengthPastTheEndIsCheckedBeforeTheSizeLimit) {
  // 200 bytes whose only element claims 255 value bytes.
  TVEPDatagram reply = Concat({ReplyHeader("00 01"), Filler(vtName, 171)});
  reply[28] = 0xFF;
  EXPECT_FALSE(DecodeDiscover(reply));
  EXPECT_THAT(Diagnostics.Messages, ElementsAre("Not enough bytes in stream"));
}

TEST_F(VepReplyDecoding, UnknownCodeIsReportedOnceAndSkipped) {
  const TVEPDatagram reply =
      Concat({ReplyHeader("00 01"), kNameAP1, Hex("09 03 01 02 03"), kTypeBridge});
  EXPECT_TRUE(DecodeDiscover(reply));
  EXPECT_EQ(Discover.Name, "AP-1");
  EXPECT_EQ(Discover.Type, "Bridge");
  EXPECT_THAT(Diagnostics.Messages, ElementsAre("Unknown code"));
}

TEST_F(VepReplyDecoding, EachReplyKindKnowsOnlyItsOwnCodes) {
  EXPECT_TRUE(DecodeDiscover(Concat({ReplyHeader("00 01"), Hex("04 01 01")})));
  EXPECT_TRUE(DecodeIPConfig(Concat({ReplyHeader("00 02"), kNameAP1})));
  EXPECT_THAT(Diagnostics.Messages, ElementsAre("Unknown code", "Unknown code"));
  EXPECT_FALSE(IPConfig.DHCP);
}

TEST_F(VepReplyDecoding, DiscoverElementRunningPastTheEndFails) {
  // A good name, then a type claiming 7 bytes of which 6 are there.
  const TVEPDatagram reply =
      Concat({ReplyHeader("00 01"), kNameAP1, Hex("03 07 42 72 69 64 67 65")});
  EXPECT_FALSE(DecodeDiscover(reply));
  EXPECT_THAT(Diagnostics.Messages, ElementsAre("Not enough bytes in stream"));
}

TEST_F(VepReplyDecoding, GetIPElementRunningPastTheEndFailsWithItsOwnText) {
  const TVEPDatagram reply =
      Concat({ReplyHeader("00 02"), Hex("04 01 01"), Hex("05 04 0A 00 00")});
  EXPECT_FALSE(DecodeIPConfig(reply));
  EXPECT_THAT(Diagnostics.Messages, ElementsAre("Not enough bytes in the stream"));
}

TEST_F(VepReplyDecoding, GetIPReplyGivesAllSettings) {
  IPConfig.IPAddress = "10.0.0.7";  // the reply's source, preset by the engine
  const TVEPDatagram reply = Concat({ReplyHeader("00 02"), Hex("04 01 01"),
                                     Hex("05 04 0A 00 00 09"), Hex("06 04 FF FF FF 00"),
                                     Hex("07 04 0A 00 00 01")});
  EXPECT_TRUE(DecodeIPConfig(reply));
  EXPECT_TRUE(IPConfig.DHCP);
  EXPECT_EQ(IPConfig.IPAddress, "10.0.0.9");
  EXPECT_EQ(IPConfig.SubnetMask, "255.255.255.0");
  EXPECT_EQ(IPConfig.DefaultGateway, "10.0.0.1");
  EXPECT_THAT(Diagnostics.Messages, IsEmpty());
}

TEST_F(VepReplyDecoding, GetIPReplyWithoutAddressKeepsThePreset) {
  IPConfig.IPAddress = "10.0.0.7";
  EXPECT_TRUE(DecodeIPConfig(Concat({ReplyHeader("00 02"), Hex("04 01 00")})));
  EXPECT_EQ(IPConfig.IPAddress, "10.0.0.7");
  EXPECT_EQ(IPConfig.SubnetMask, "");
  EXPECT_EQ(IPConfig.DefaultGateway, "");
  EXPECT_FALSE(IPConfig.DHCP);
}

TEST_F(VepReplyDecoding, SecondIPAddressElementWins) {
  const TVEPDatagram reply =
      Concat({ReplyHeader("00 02"), Hex("05 04 0A 00 00 07"), Hex("05 04 C0 A8 00 0A")});
  EXPECT_TRUE(DecodeIPConfig(reply));
  EXPECT_EQ(IPConfig.IPAddress, "192.168.0.10");
}

TEST_F(VepReplyDecoding, LaterNameReplacesEarlierOne) {
  EXPECT_TRUE(DecodeDiscover(Concat({ReplyHeader("00 01"), kNameAP1, Hex("02 02 41 42")})));
  EXPECT_EQ(Discover.Name, "AB");
}

TEST_F(VepReplyDecoding, ShortAddressValueIsFilledWithZeros) {
  EXPECT_TRUE(DecodeIPConfig(Concat({ReplyHeader("00 02"), Hex("05 02 0A 01")})));
  EXPECT_EQ(IPConfig.IPAddress, "10.1.0.0");
}

}  // namespace
}  // namespace scoutor
