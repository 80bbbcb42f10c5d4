// A datagram heard by the engine's UDP socket and by a packet socket is handled once, whichever
// path brings it first; a device's repeated replies are each handled.
#include "protocol/DuplicateReplies.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/support/Hex.h"

namespace scoutor {
namespace {

using test::Hex;

class DuplicateReplies : public ::testing::Test {
 protected:
  bool First(TReplyPath path, const std::vector<std::uint8_t>& payload,
             const char* source = "10.1.2.3", int port = 17784) {
    return Replies.FirstDelivery(path, source, port, payload);
  }

  TManualClock Clock;
  TDuplicateReplies Replies{Clock};
  const std::vector<std::uint8_t> Reply = Hex("01 00 02 0a 01 02 03 45 78");
};

TEST_F(DuplicateReplies, TheOtherPathsCopyIsRecognisedWhicheverPathComesFirst) {
  EXPECT_TRUE(First(TReplyPath::Socket, Reply));
  EXPECT_FALSE(First(TReplyPath::Packet, Reply));
  Clock.Advance(3000);
  EXPECT_TRUE(First(TReplyPath::Packet, Reply));
  EXPECT_FALSE(First(TReplyPath::Socket, Reply));
}

TEST_F(DuplicateReplies, ARepeatedReplyOnOnePathIsHandledEachTimeAndEachCopyMatchedOnce) {
  // Two identical replies (one per discovery broadcast) heard by the packet socket first.
  EXPECT_TRUE(First(TReplyPath::Packet, Reply));
  Clock.Advance(500);
  EXPECT_TRUE(First(TReplyPath::Packet, Reply));
  EXPECT_FALSE(First(TReplyPath::Socket, Reply));
  EXPECT_FALSE(First(TReplyPath::Socket, Reply));
  // A third copy on the socket is a new reply, not a copy.
  EXPECT_TRUE(First(TReplyPath::Socket, Reply));
}

TEST_F(DuplicateReplies, AnotherSourcePortOrPayloadIsAnotherDatagram) {
  EXPECT_TRUE(First(TReplyPath::Socket, Reply));
  EXPECT_TRUE(First(TReplyPath::Packet, Reply, "10.1.2.4"));
  EXPECT_TRUE(First(TReplyPath::Packet, Reply, "10.1.2.3", 17785));
  EXPECT_TRUE(First(TReplyPath::Packet, Hex("01 00 02 0a 01 02 03 45 79")));
  EXPECT_FALSE(First(TReplyPath::Packet, Reply));
}

TEST_F(DuplicateReplies, ACopyLaterThanTwoSecondsIsANewDatagram) {
  EXPECT_TRUE(First(TReplyPath::Socket, Reply));
  Clock.Advance(2001);
  EXPECT_TRUE(First(TReplyPath::Packet, Reply));
}

TEST_F(DuplicateReplies, OnlyTheMostRecentDatagramsAreRemembered) {
  EXPECT_TRUE(First(TReplyPath::Socket, Reply));
  for (std::size_t i = 0; i < TDuplicateReplies::kCapacity; ++i)
    ASSERT_TRUE(First(TReplyPath::Socket, Reply, "10.9.0.1", static_cast<int>(1000 + i)));
  // Pushed out by as many newer ones: its copy now counts as new.
  EXPECT_TRUE(First(TReplyPath::Packet, Reply));
  // The newest are still known.
  EXPECT_FALSE(First(TReplyPath::Packet, Reply, "10.9.0.1",
                     static_cast<int>(1000 + TDuplicateReplies::kCapacity - 1)));
}

}  // namespace
}  // namespace scoutor
