#include "Tessaline/ErrorCodes.h"

#include "Tessaline/ErrorDescription.h"

#include <gtest/gtest.h>

#include "tests/errors/UiLanguageScope.h"

namespace tessaline {
namespace {

using test::UiLanguageScope;

TEST(ErrorCodeToHResult, MapsErrorNumbersAndPassesResultCodes) {
  const struct {
    int64_t value;
    uint32_t expected;
  } cases[] = {
      {5, 0x80070005},           // Windows error number
      {87, 0x80070057},
      {0x20001402, 0xA0071402},  // application error number
      {0x20001041, 0xA0071041},
      {0x2ABC1234, 0xA0071234},  // only the low 16 bits survive
      {0x0001FFFF, 0x8007FFFF},
      {0, 0},
      {0x8009002D, 0x8009002D},  // already a failure code, as the DWORD it arrives in
      {-1, 0xFFFFFFFF},
      {static_cast<int32_t>(0xA0072401), 0xA0072401},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ResultBits(ErrorCodeToHResult(c.value)), c.expected) << std::hex << c.value;
  }
}

std::u16string Suffix(const char16_t* hex) { return std::u16string(u"\n(0x") + hex + u")"; }

TEST(DescribeResultCode, OwnCodesUseTheMessageTableOfTheUiLanguage) {
  {
    const auto english = UiLanguageScope::English();
    EXPECT_EQ(DescribeResultCode(TL_E_INVALID_KEY_ALGORITHM), u"Invalid key algorithm.\n(0xa0072401)");
    EXPECT_EQ(DescribeResultCode(TL_E_KEY_LENGTH_NOT_SUPPORTED), u"Key length is not supported.\n(0xa0072400)");
  }
  {
    const UiLanguageScope chinese(nullptr, nullptr, "zh_CN.UTF-8");
    EXPECT_EQ(DescribeResultCode(TL_E_INVALID_KEY_ALGORITHM), u"无效的密钥算法\n(0xa0072401)");
  }
}

TEST(DescribeResultCode, CodesWithoutTextGiveTheSuffixAlone) {
  const auto english = UiLanguageScope::English();
  const struct {
    HRESULT code;
    const char16_t* hex;
  } cases[] = {
      {TL_E_JSON_TYPE, u"a0073204"},
      {TL_E_JSON_PARSE, u"a0073202"},
      {TL_E_NOT_CONTAINER_ONLY, u"a0071009"},
      {MakeResult(0xA0079999), u"a0079999"},  // not in the tables at all
  };
  for (const auto& c : cases) EXPECT_EQ(DescribeResultCode(c.code), Suffix(c.hex));
  EXPECT_EQ(DescribeResultCode(MakeResult(0x12345678)), Suffix(u"12345678"));  // no system text either
}

TEST(DescribeResultCode, OtherCodesUseTheSystemText) {
  const auto english = UiLanguageScope::English();
  EXPECT_EQ(DescribeResultCode(E_INVALIDARG), u"A parameter is not valid.\r\n" + Suffix(u"80070057"));
  EXPECT_EQ(DescribeResultCode(S_OK), u"The operation succeeded.\r\n" + Suffix(u"00000000"));
  // Bit 29 clear: never looked up in the message tables, even when the low
  // 16 bits name a row there.
  EXPECT_EQ(DescribeResultCode(MakeResult(0x80072401)), Suffix(u"80072401"));

  const auto chinese = UiLanguageScope::Chinese();
  EXPECT_EQ(DescribeResultCode(E_INVALIDARG), u"参数无效。\r\n" + Suffix(u"80070057"));
}

TEST(DescribeResultCode, RecordsNothing) {
  const auto english = UiLanguageScope::English();
  const std::u16string first = DescribeResultCode(TL_E_XML_PARSE);
  EXPECT_EQ(first, u"XML file parse failed.\n(0xa0071402)");
  EXPECT_EQ(DescribeResultCode(TL_E_XML_PARSE), first);
}

TEST(ComposeDescription, CutsLongTextsSoTheCodeStillShows) {
  const HRESULT code = E_FAIL;
  const std::u16string suffix = Suffix(u"80004005");
  EXPECT_EQ(ComposeDescription(std::u16string(498, u'a'), code), std::u16string(498, u'a') + suffix);
  EXPECT_EQ(ComposeDescription(std::u16string(600, u'a'), code), std::u16string(498, u'a') + suffix);
  EXPECT_EQ(ComposeDescription(std::u16string(600, u'a'), code).size(), kDescriptionMaxChars);
  // A surrogate pair across the cut goes whole.
  std::u16string text(497, u'a');
  text += u"\U0001F600tail";
  EXPECT_EQ(ComposeDescription(text, code), std::u16string(497, u'a') + suffix);
}

}  // namespace
}  // namespace tessaline
