#include "platform/base/Utf.h"

#include <gtest/gtest.h>

namespace {

struct Utf8Case {
  std::string utf8;
  std::u16string utf16;
};

TEST(Utf, RoundTripsValidText) {
  const Utf8Case cases[] = {
      {"", u""},
      {"abc", u"abc"},
      {"\xC3\xA4", u"\u00E4"},
      {"\xE4\xB8\xAD\xE6\x96\x87", u"\u4E2D\u6587"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8) << c.utf8;
  }
}

TEST(Utf, ReplacesInvalidSequences) {
  const Utf8Case cases[] = {
      {"\x80", u"\uFFFD"},                   // lone continuation byte
      {"a\xC3", u"a\uFFFD"},                 // truncated at the end
      {"\xE4\xB8x", u"\uFFFDx"},             // truncated in the middle: one replacement
      {"\xC0\xAF", u"\uFFFD\uFFFD"},         // overlong lead byte is never valid
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xDC00)) + u"a"), "\xEF\xBF\xBD" "a");
}

}  // namespace
