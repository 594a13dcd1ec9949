// Length octets and single-element encoding.
#include <gtest/gtest.h>

#include <algorithm>

#include "Tessaline/ASN1Encoder.h"

namespace tessaline {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(CalculateASNValueLength, UsesTheShortestForm) {
  struct Case {
    size_t length;
    Bytes octets;
  } cases[] = {
      {1, {0x01}},
      {127, {0x7F}},
      {128, {0x81, 0x80}},
      {255, {0x81, 0xFF}},
      {256, {0x82, 0x01, 0x00}},
      {65535, {0x82, 0xFF, 0xFF}},
      {65536, {0x83, 0x01, 0x00, 0x00}},
      {0x01000000, {0x84, 0x01, 0x00, 0x00, 0x00}},
      {0xFFFFFFFF, {0x84, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& c : cases) {
    Bytes octets;
    size_t count = 0;
    ASSERT_EQ(CalculateASNValueLength(c.length, &octets, &count), S_OK) << c.length;
    EXPECT_EQ(octets, c.octets) << c.length;
    EXPECT_EQ(count, c.octets.size());
  }
}

TEST(CalculateASNValueLength, RejectsZeroAndLengthsBeyond32Bits) {
  Bytes octets{9};
  EXPECT_EQ(CalculateASNValueLength(0, &octets, nullptr), E_FAIL);
  EXPECT_EQ(CalculateASNValueLength(size_t{1} << 32, &octets, nullptr), E_FAIL);
  EXPECT_EQ(octets, Bytes{9});
}

TEST(ASN1Encode, WritesTagLengthAndValue) {
  struct Case {
    uint8_t tag;
    size_t length;
    Bytes header;
  } cases[] = {
      {0x30, 200, {0x30, 0x81, 0xC8}},
      {0x30, 300, {0x30, 0x82, 0x01, 0x2C}},
      {0x02, 1, {0x02, 0x01}},
      {0xA0, 127, {0xA0, 0x7F}},
  };
  for (const auto& c : cases) {
    Bytes value(c.length);
    for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>(i);
    Bytes element;
    size_t length = 0;
    ASSERT_EQ(ASN1Encode(c.tag, value.data(), value.size(), &element, &length), S_OK);
    Bytes expected = c.header;
    expected.insert(expected.end(), value.begin(), value.end());
    EXPECT_EQ(element, expected);
    EXPECT_EQ(length, expected.size());
  }
}

TEST(ASN1Encode, AcceptsOnlyItsTagsAndNonEmptyValues) {
  const uint8_t value = 0x41;
  for (int tag = 0; tag < 256; ++tag) {
    const Bytes supported_tags{0x02, 0x04, 0x06, 0x0C, 0x13, 0x16, 0x1E, 0x30, 0x31, 0x80, 0xA0};
    const bool supported = std::find(supported_tags.begin(), supported_tags.end(), tag) != supported_tags.end();
    Bytes element;
    EXPECT_EQ(ASN1Encode(static_cast<uint8_t>(tag), &value, 1, &element, nullptr), supported ? S_OK : E_FAIL)
        << tag;
  }
  Bytes element{5};
  EXPECT_EQ(ASN1Encode(0x30, nullptr, 0, &element, nullptr), E_FAIL);
  EXPECT_EQ(ASN1Encode(0x03, &value, 1, &element, nullptr), E_FAIL);
  EXPECT_EQ(element, Bytes{5});
}

}  // namespace
}  // namespace tessaline
