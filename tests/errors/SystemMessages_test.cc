#include "platform/resources/SystemMessages.h"

#include <gtest/gtest.h>

#include "platform/base/Errors.h"
#include "platform/base/Result.h"
#include "tests/errors/UiLanguageScope.h"

namespace {

using tessaline::SystemMessageText;

// The codes the platform produces or passes on must all have a text.
const DWORD kCodes[] = {
    0,
    ResultBits(E_FAIL), ResultBits(E_INVALIDARG), ResultBits(E_OUTOFMEMORY), ResultBits(E_POINTER),
    ResultBits(E_ACCESSDENIED), ResultBits(E_NOTIMPL), 0x8007000D,
    ERROR_INVALID_FUNCTION, ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE,
    ERROR_NOT_ENOUGH_MEMORY, ERROR_INVALID_DATA, ERROR_OUTOFMEMORY, ERROR_WRITE_FAULT, ERROR_READ_FAULT,
    ERROR_NOT_SUPPORTED, ERROR_FILE_EXISTS, ERROR_INVALID_PARAMETER, ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_NAME,
    ERROR_BAD_PATHNAME, ERROR_ALREADY_EXISTS, ERROR_MORE_DATA, ERROR_NO_MORE_ITEMS, ERROR_NO_UNICODE_TRANSLATION,
    ERROR_BADDB, ERROR_BADKEY, ERROR_CANTOPEN, ERROR_CANTREAD, ERROR_CANTWRITE, ERROR_KEY_DELETED,
    ERROR_INTERNAL_ERROR,
    ResultBits(NTE_BAD_UID), ResultBits(NTE_BAD_HASH), ResultBits(NTE_BAD_KEY), ResultBits(NTE_BAD_LEN),
    ResultBits(NTE_BAD_DATA), ResultBits(NTE_BAD_SIGNATURE), ResultBits(NTE_BAD_VER), ResultBits(NTE_BAD_ALGID),
    ResultBits(NTE_BAD_FLAGS), ResultBits(NTE_BAD_TYPE), ResultBits(NTE_BAD_KEY_STATE),
    ResultBits(NTE_BAD_HASH_STATE), ResultBits(NTE_NO_KEY), ResultBits(NTE_NO_MEMORY), ResultBits(NTE_EXISTS),
    ResultBits(NTE_PERM), ResultBits(NTE_NOT_FOUND), ResultBits(NTE_BAD_PROVIDER), ResultBits(NTE_BAD_PROV_TYPE),
    ResultBits(NTE_BAD_KEYSET), ResultBits(NTE_PROV_TYPE_NOT_DEF), ResultBits(NTE_KEYSET_NOT_DEF),
    ResultBits(NTE_BAD_KEYSET_PARAM), ResultBits(NTE_FAIL), ResultBits(NTE_INTERNAL_ERROR),
    ResultBits(CRYPT_E_MSG_ERROR), ResultBits(CRYPT_E_UNEXPECTED_ENCODING), ResultBits(CRYPT_E_NOT_FOUND),
    ResultBits(CRYPT_E_EXISTS), ResultBits(CRYPT_E_NO_KEY_PROPERTY), ResultBits(CRYPT_E_ASN1_ERROR),
    ResultBits(CRYPT_E_ASN1_BADTAG), ResultBits(CRYPT_E_ASN1_EOD), ResultBits(CRYPT_E_ASN1_CORRUPT),
};

TEST(SystemMessages, EveryKnownCodeHasTextsEndingInCrLf) {
  for (const DWORD code : kCodes) {
    SCOPED_TRACE(testing::Message() << std::hex << code);
    for (const LANGID language : {LANG_ENGLISH_US, LANG_CHINESE_SIMPLIFIED}) {
      const auto text = SystemMessageText(code, language);
      ASSERT_TRUE(text.has_value());
      ASSERT_GT(text->size(), 2u);
      EXPECT_TRUE(text->ends_with(u"\r\n"));
      EXPECT_EQ(text->find(u'%'), std::u16string_view::npos);  // no insert markers
    }
    EXPECT_NE(*SystemMessageText(code, LANG_ENGLISH_US), *SystemMessageText(code, LANG_CHINESE_SIMPLIFIED));
  }
}

TEST(SystemMessages, ErrorNumberAndItsResultCodeShareText) {
  for (const DWORD error : {ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA}) {
    EXPECT_EQ(SystemMessageText(error, LANG_ENGLISH_US), SystemMessageText(0x80070000 | error, LANG_ENGLISH_US));
  }
  // Another facility's code with the same low bits is a different message.
  EXPECT_NE(SystemMessageText(0x80090005, LANG_ENGLISH_US), SystemMessageText(5, LANG_ENGLISH_US));
}

TEST(FormatMessageW, ServesSystemTextsInTheChosenLanguage) {
  constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  WCHAR buffer[512];
  const auto chinese = tessaline::test::UiLanguageScope::Chinese();
  DWORD length = FormatMessageW(kFlags, nullptr, 0x80070057, 0, buffer, 512, nullptr);
  EXPECT_EQ(std::u16string(buffer, length), u"参数无效。\r\n");
  EXPECT_EQ(buffer[length], 0);
  length = FormatMessageW(kFlags, nullptr, 0x80070057, LANG_ENGLISH_US, buffer, 512, nullptr);
  EXPECT_EQ(std::u16string(buffer, length), u"A parameter is not valid.\r\n");
}

TEST(FormatMessageW, FailuresLeaveAnEmptyTextAndSayWhy) {
  constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  WCHAR buffer[512];
  const struct {
    DWORD flags;
    DWORD code;
    DWORD language;
    DWORD size;
    DWORD error;
  } cases[] = {
      {kFlags, 0x12345678, 0, 512, ERROR_MR_MID_NOT_FOUND},
      {kFlags, 0xA0072401, 0, 512, ERROR_MR_MID_NOT_FOUND},  // own codes are not system messages
      {kFlags, 87, 1036, 512, ERROR_RESOURCE_LANG_NOT_FOUND},
      {kFlags, 87, 0, 5, ERROR_INSUFFICIENT_BUFFER},
      {FORMAT_MESSAGE_FROM_HMODULE, 87, 0, 512, ERROR_INVALID_PARAMETER},
      {kFlags | FORMAT_MESSAGE_ALLOCATE_BUFFER, 87, 0, 512, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    buffer[0] = u'x';
    SetLastError(0);
    EXPECT_EQ(FormatMessageW(c.flags, nullptr, c.code, c.language, buffer, c.size, nullptr), 0u);
    EXPECT_EQ(GetLastError(), c.error) << std::hex << c.code;
    EXPECT_EQ(buffer[0], 0);
  }
}

}  // namespace
