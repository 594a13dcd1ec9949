// Lists, hexadecimal text, byte order and the UTF conversions.
#include <gtest/gtest.h>

#include "Tessaline/Misc.h"

namespace tessaline {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(SplitStrings, StopsAtTheFirstEmptyItem) {
  struct Case {
    const char16_t* text;
    std::vector<std::u16string> items;
  } cases[] = {
      {u"A||B||C", {u"A", u"B", u"C"}},
      {u"A||||B", {u"A"}},
      {u"||A", {}},
      {u"", {}},
      {u"A||", {u"A"}},
      {u"A|B", {u"A|B"}},
      {u"A|||B", {u"A", u"|B"}},
  };
  for (const auto& c : cases) {
    std::vector<std::u16string> list;
    SplitStrings(c.text, &list);
    EXPECT_EQ(list, c.items);
  }
}

TEST(SplitStrings, AppendsToTheExistingListAndIgnoresNull) {
  std::vector<std::u16string> list{u"x"};
  SplitStrings(nullptr, &list);
  SplitStrings(u"y||z", &list);
  EXPECT_EQ(list, (std::vector<std::u16string>{u"x", u"y", u"z"}));
}

TEST(HexText, WritesTheLastByteFirstInLowerCase) {
  struct Case {
    Bytes bytes;
    std::u16string text;
  } cases[] = {
      {{0x01, 0x02, 0x0A}, u"0a0201"},
      {{}, u""},
      {{0xFF, 0x00, 0xAB}, u"ab00ff"},
  };
  for (const auto& c : cases) {
    std::u16string text = u"stale";
    ASSERT_EQ(ConvertBinaryDataToString(&text, c.bytes.size(), c.bytes.data()), S_OK);
    EXPECT_EQ(text, c.text);
  }
}

TEST(HexText, ReadsPairsFromTheStartIntoReversedBytes) {
  struct Case {
    const char16_t* text;
    Bytes bytes;
  } cases[] = {
      {u"0A0B0C", {0x0C, 0x0B, 0x0A}},
      {u"ABC", {0xAB}},  // the odd last digit is not used
      {u"", {}},
      {u"fF00", {0x00, 0xFF}},
  };
  for (const auto& c : cases) {
    size_t count = 99;
    Bytes bytes;
    ASSERT_EQ(ConvertStringToBinaryData(&count, c.text, &bytes), S_OK);
    EXPECT_EQ(bytes, c.bytes);
    EXPECT_EQ(count, c.bytes.size());
  }
}

TEST(HexText, RejectsAnythingButDigits) {
  for (const char16_t* text : {u"0A 0B", u"0x0A", u"0G", u"-1", u"0A\u0660"}) {
    size_t count = 7;
    Bytes bytes{1};
    EXPECT_EQ(ConvertStringToBinaryData(&count, text, &bytes), E_INVALIDARG);
    EXPECT_EQ(count, 7u);  // untouched on failure
    EXPECT_EQ(bytes, Bytes{1});
  }
  size_t count = 0;
  Bytes bytes;
  EXPECT_EQ(ConvertStringToBinaryData(&count, nullptr, &bytes), E_INVALIDARG);
}

TEST(HexText, RoundTripsUpToLetterCase) {
  Bytes bytes;
  size_t count = 0;
  ASSERT_EQ(ConvertStringToBinaryData(&count, u"DEADbeef0102", &bytes), S_OK);
  std::u16string text;
  ASSERT_EQ(ConvertBinaryDataToString(&text, bytes.size(), bytes.data()), S_OK);
  EXPECT_EQ(text, u"deadbeef0102");
}

TEST(SwapByteOrder, ReversesInPlace) {
  Bytes three{1, 2, 3}, four{1, 2, 3, 4}, one{9};
  SwapByteOrder(three.data(), three.size());
  SwapByteOrder(four.data(), four.size());
  SwapByteOrder(one.data(), one.size());
  SwapByteOrder(nullptr, 0);
  EXPECT_EQ(three, (Bytes{3, 2, 1}));
  EXPECT_EQ(four, (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(one, Bytes{9});
}

TEST(UtfConversions, ConvertAndCountWithoutTerminator) {
  std::string utf8;
  size_t count = 0;
  ASSERT_EQ(UTF16ToUTF8(u"\u00E4", &utf8, &count), S_OK);
  EXPECT_EQ(utf8, "\xC3\xA4");
  EXPECT_EQ(count, 2u);

  std::u16string utf16;
  ASSERT_EQ(UTF8ToUTF16("\xE4\xB8\xAD\xF0\x9F\x98\x80", &utf16, &count), S_OK);
  EXPECT_EQ(utf16, u"\u4E2D\U0001F600");
  EXPECT_EQ(count, 3u);  // UTF-16 units

  ASSERT_EQ(UTF8ToUTF16("", &utf16, &count), S_OK);
  EXPECT_EQ(utf16, u"");
  EXPECT_EQ(count, 0u);
}

TEST(UtfConversions, NullTextIsAPointerError) {
  std::string utf8 = "kept";
  std::u16string utf16 = u"kept";
  size_t count = 5;
  EXPECT_EQ(UTF16ToUTF8(nullptr, &utf8, &count), E_POINTER);
  EXPECT_EQ(UTF8ToUTF16(nullptr, &utf16, &count), E_POINTER);
  EXPECT_EQ(utf8, "kept");
  EXPECT_EQ(utf16, u"kept");
  EXPECT_EQ(count, 5u);
}

}  // namespace
}  // namespace tessaline
