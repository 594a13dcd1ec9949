#include "platform/base/ByteView.h"

#include <gtest/gtest.h>

#include "platform/base/DerWriter.h"

namespace tessaline {
namespace {

TEST(ByteView, ReadsNestedDerWithinBounds) {
  const uint8_t der[] = {0x30, 0x06, 0x02, 0x01, 0x05, 0x04, 0x01, 0xFF};
  ByteView in(der, sizeof(der)), seq, integer, octets;
  ASSERT_TRUE(in.ReadDer(0x30, &seq));
  EXPECT_TRUE(in.empty());
  ASSERT_TRUE(seq.ReadDer(0x02, &integer));
  ASSERT_TRUE(seq.ReadDer(0x04, &octets));
  EXPECT_EQ(integer.size(), 1u);
  EXPECT_EQ(octets.data()[0], 0xFF);
}

TEST(ByteView, RejectsElementsThatOverrunTheInput) {
  const std::vector<std::vector<uint8_t>> bad = {
      {},
      {0x30},
      {0x30, 0x02, 0x01},
      {0x30, 0x81},
      {0x30, 0x85, 1, 0, 0, 0, 0},  // five length octets
      {0x30, 0x80, 0x00, 0x00},     // indefinite length is not DER
      {0x1F, 0x01, 0x00},           // multi-byte tag
  };
  for (const auto& input : bad) {
    ByteView in(input.data(), input.size()), contents;
    uint8_t tag;
    EXPECT_FALSE(in.ReadAnyDer(&tag, &contents));
    EXPECT_EQ(in.size(), input.size()) << "a failed read must not advance";
  }
}

TEST(DerWriter, WritesMinimalLengthsAndIntegers) {
  DerWriter w;
  const size_t seq = w.Open(0x30);
  w.AddElement(0x04, std::vector<uint8_t>(200, 0xAA));
  const uint8_t magnitude[] = {0x00, 0x00, 0x80};
  w.AddUnsignedInteger(magnitude);
  w.Close(seq);
  const std::vector<uint8_t> out = w.Finish();
  ASSERT_GE(out.size(), 6u);
  EXPECT_EQ(out[0], 0x30);
  EXPECT_EQ(out[1], 0x81);
  EXPECT_EQ(out[2], 203 + 4);
  EXPECT_EQ(out[3], 0x04);
  EXPECT_EQ(out[4], 0x81);
  EXPECT_EQ(out[5], 200);
  const std::vector<uint8_t> tail(out.end() - 4, out.end());
  EXPECT_EQ(tail, (std::vector<uint8_t>{0x02, 0x02, 0x00, 0x80}));
}

}  // namespace
}  // namespace tessaline
