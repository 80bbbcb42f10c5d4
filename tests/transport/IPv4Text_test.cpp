// Address texts: one reading for every layer, so that what a user types is what a device gets.
#include <gtest/gtest.h>

#include "transport/IPv4Text.h"
#include "transport/SocketStack.h"

namespace scoutor {
namespace {

TEST(IPv4Text, LeadingZerosAreDecimalNeverOctal) {
  EXPECT_EQ(ParseDottedIPv4("010.001.002.003"), (TAddressBytes{10, 1, 2, 3}));
  EXPECT_EQ(ParseDottedIPv4("192.168.001.010"), (TAddressBytes{192, 168, 1, 10}));
  EXPECT_EQ(CanonicalIPv4("010.000.000.031"), "10.0.0.31");
}

TEST(IPv4Text, OnlyFourGroupsOfUpToThreeDigitsUpTo255AreAddresses) {
  for (const char* text : {"0.0.0.0", "255.255.255.255", "1.2.3.4"})
    EXPECT_TRUE(ParseDottedIPv4(text)) << text;
  for (const char* text : {"", "1.2.3", "1.2.3.4.5", "1..3.4", "1.2.3.", ".1.2.3", "256.1.1.1",
                           "1.2.3.0010", " 1.2.3.4", "1.2.3.4 ", "1.2.3.+4", "0x7f.0.0.1", "10.1",
                           "a.b.c.d", "1.2.3.4\n", "1,2,3,4", "-1.2.3.4"})
    EXPECT_FALSE(ParseDottedIPv4(text)) << '"' << text << '"';
  EXPECT_FALSE(ParseDottedIPv4(std::string_view("1.2.3.4\0", 8)));
}

TEST(IPv4Text, FormatsWithoutLeadingZerosAndFitsSixteenBytes) {
  EXPECT_EQ(DottedIPv4({0, 0, 0, 0}), "0.0.0.0");
  EXPECT_EQ(DottedIPv4({192, 168, 100, 9}), "192.168.100.9");
  char out[kIPv4TextSize];
  EXPECT_EQ(WriteDottedIPv4({255, 255, 255, 255}, out), 15u);
  EXPECT_STREQ(out, "255.255.255.255");
}

TEST(IPv4Text, AsANumberTheFirstByteIsTheMostSignificant) {
  EXPECT_EQ(HostOrderIPv4({10, 0, 0, 9}), 0x0A000009u);
  EXPECT_EQ(HostOrderIPv4({255, 255, 255, 254}), 0xFFFFFFFEu);
}

TEST(IPv4Text, TheSocketLayerReadsAndWritesTheSameWay) {
  EXPECT_EQ(TSocketStack::TextToAddress("010.001.002.003"), (TAddressBytes{10, 1, 2, 3}));
  EXPECT_TRUE(TSocketStack::IsDottedAddress("010.001.002.003"));
  EXPECT_FALSE(TSocketStack::IsDottedAddress("10.1"));
  EXPECT_THROW(TSocketStack::TextToAddress("10.1"), std::invalid_argument);
  EXPECT_EQ(TSocketStack::LookupAddress("010.001.002.003"), "010.001.002.003");
}

}  // namespace
}  // namespace scoutor
