// The device side of TFTP as bytes: what a request on port 69 says, which block size it is
// granted, and the acknowledgements and errors the device sends.
#include <gtest/gtest.h>

#include <string>

#include "tools/vepsim/TftpServerPackets.h"

namespace scoutor {
namespace {

TBytes Bytes(const std::string& text) { return TBytes(text.begin(), text.end()); }

TEST(VepsimTftpRequest, AWriteRequestGivesItsNameModeAndOptions) {
  const auto request = ParseTftpRequest(Bytes(std::string("\0\2/\0octet\0blksize\0" "1428\0", 21)));
  ASSERT_TRUE(request);
  EXPECT_EQ(request->Opcode, kTftpWriteRequest);
  EXPECT_EQ(request->FileName, "/");
  EXPECT_EQ(request->Mode, "octet");
  ASSERT_EQ(request->Options.size(), 1u);
  EXPECT_EQ(request->Options[0], (std::pair<std::string, std::string>{"blksize", "1428"}));
  EXPECT_TRUE(IsOctetMode(*request));
  EXPECT_EQ(GrantedBlockSize(*request), 1428);
}

TEST(VepsimTftpRequest, PacketsWithoutTheirZeroBytesOrOfOtherKindsAreNoRequests) {
  for (const std::string& packet : {std::string(""), std::string("\0", 1), std::string("\0\2", 2),
                                    std::string("\0\2/\0octet", 9),  // mode without its zero
                                    std::string("\0\2/\0", 4),       // no mode
                                    std::string("\0\2/\0octet\0blksize\0", 19),  // no value
                                    std::string("\0\3\0\1data", 8), std::string("\0\6/\0octet\0", 10)})
    EXPECT_FALSE(ParseTftpRequest(Bytes(packet))) << packet.size();
  const auto read = ParseTftpRequest(Bytes(std::string("\0\1/\0netascii\0", 13)));
  ASSERT_TRUE(read);
  EXPECT_EQ(read->Opcode, kTftpReadRequest);
  EXPECT_FALSE(IsOctetMode(*read));
}

TEST(VepsimTftpRequest, TheBlockSizeIsGrantedWithinItsRangeAndLoweredFromAbove) {
  const auto granted = [](const std::string& name, const std::string& value) {
    TTftpRequest request;
    request.Mode = "OcTeT";
    request.Options = {{"tsize", "100"}, {name, value}};
    return GrantedBlockSize(request);
  };
  EXPECT_EQ(granted("blksize", "8"), 8);
  EXPECT_EQ(granted("BLKSIZE", "65464"), 65464);
  EXPECT_EQ(granted("blksize", "65465"), 65464);
  EXPECT_EQ(granted("blksize", "999999999"), 65464);
  EXPECT_EQ(granted("blksize", "7"), std::nullopt);
  EXPECT_EQ(granted("blksize", "1e3"), std::nullopt);
  EXPECT_EQ(granted("blksize", "-512"), std::nullopt);
  EXPECT_EQ(granted("blksize", ""), std::nullopt);
  EXPECT_EQ(granted("blksize", "1234567890"), std::nullopt);
  EXPECT_EQ(granted("timeout", "5"), std::nullopt);
}

TEST(VepsimTftpReplies, AcknowledgementsAndErrorsAreLaidOutAsTheClientReadsThem) {
  EXPECT_EQ(AckPacket(0x1234), (TBytes{0, 4, 0x12, 0x34}));
  EXPECT_EQ(BlockSizeAckPacket(1428), Bytes(std::string("\0\6blksize\0" "1428\0", 15)));
  EXPECT_EQ(ErrorPacket(kTftpAccessViolation, "Device busy, try again"),
            Bytes(std::string("\0\5\0\2Device busy, try again\0", 27)));
}

}  // namespace
}  // namespace scoutor
