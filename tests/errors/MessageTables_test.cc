// Both message tables against the code list, text for text.
#include <gtest/gtest.h>

#include "Tessaline/ErrorCodes.h"
#include "platform/base/Errors.h"
#include "platform/base/Utf.h"
#include "platform/resources/Resources.h"
#include "tests/errors/UiLanguageScope.h"

namespace tessaline {
namespace {

struct Row {
  HRESULT code;
  const char16_t* english;  // nullptr: the row has no text
  const char16_t* chinese;
};

const Row kRows[] = {
    {TL_E_NO_CERTIFICATE_IN_STORE, u"There is no available certificate in store.", u"证书库中没有可用的证书"},
    {TL_E_USER_CANCELED, u"User canceled operation.", u"用户取消选择证书"},
    {TL_E_QUERY_TYPE_NOT_SUPPORTED, u"Query type is not supported.", u"查询类型不支持"},
    {TL_E_BASE64_ENCODE, u"Base64 encoding failed.", u"Base64加密失败"},
    {TL_E_BASE64_DECODE, u"Base64 decoding failed.", u"Base64解密失败"},
    {TL_E_MALICIOUS_PATH, u"Malicious target path or file name.", u"恶意的目标路径或文件名"},
    {TL_E_EMPTY_FILE, u"Empty file", u"文件为空"},
    {TL_E_NOT_CONTAINER_ONLY, nullptr, nullptr},
    {TL_E_NO_KEY_USAGE, u"Specified certificate doesn't contain key usage attribute.", u"指定证书不含有密钥用途属性"},
    {TL_E_NO_SUBJECT_KEY_ID, u"Specified certificate doesn't contain subject key ID attribute.",
     u"指定证书不含有使用者密钥标识符属性"},
    {TL_E_CHAIN_TIME_INVALID, u"Certificate in certificate chain is time invalid.", u"证书链中某个证书时间无效"},
    {TL_E_CERT_IN_OFFLINE_CRL, u"Certificate is in offline CRL.", u"证书在离线的CRL列表中"},
    {TL_E_CHAIN_INCOMPLETE, u"Certificate chain is not integrated.", u"证书链不完整"},
    {TL_E_CHAIN_SIGNATURE_INVALID, u"Signature of certificate in certificate chain is invalid.",
     u"证书链中某个证书签名无效"},
    {TL_E_CERT_NOT_FOUND, u"Specified certificate is not found.", u"没有找到指定证书"},
    {TL_E_ASN1_DECODE, u"ASN1 decode failed.", u"ASN.1解码失败"},
    {TL_E_PKCS7_DECODE, u"PKCS#7 signature decode failed.", u"PKCS#7签名解码失败"},
    {TL_E_INVALID_PRIVATE_KEY_INFO, u"Invalidate Private key information.", u"无效的私钥信息"},
    {TL_E_INVALID_PRIVATE_KEY, u"Invalidate Private key.", u"无效的私钥"},
    {TL_E_XML_PARSE, u"XML file parse failed.", u"XML文件解析失败"},
    {TL_E_IMPORT_ENCRYPT_CERT, u"Import encrypt certificate failed.", u"加密证书安装失败"},
    {TL_E_INVALID_DEVICE_TYPE, u"Invalid device type of generating encrypt cert key.", u"无效的加密证书密钥生成设备类型"},
    {TL_E_INVALID_ENCRYPT_TYPE, u"Invalid encrypt type used for encrypting private key.", u"加密证书私钥的加密类型错误"},
    {TL_E_INVALID_SESSION_KEY_TYPE, u"Invalid session key type used for encrypting private key.",
     u"用来加密加密证书私钥的对称密钥类型错误"},
    {TL_E_CERT_NOT_READY, u"Certificate is not ready.", u"证书没有准备好"},
    {TL_E_LANGUAGE_NOT_SUPPORTED, u"Language is not supported.", u"语言不支持"},
    {TL_E_CERT_NOT_UNIQUE, u"Certificate is not unique for specified subject DN.", u"指定主题DN的证书不唯一"},
    {TL_E_INVALID_HASH_ALGORITHM, u"Invalid hash algorithm.", u"无效的哈希算法"},
    {TL_E_INVALID_CERT_USAGE, u"Invalid certificate usage.", u"无效的证书用法"},
    {TL_E_INVALID_SIGN_TYPE, u"Invalid sign type.", u"无效的签名类型"},
    {TL_E_INVALID_ENVELOPE_TYPE, u"Invalid envelope type.", u"无效的数字信封类型"},
    {TL_E_KEY_LENGTH_NOT_SUPPORTED, u"Key length is not supported.", u"密钥长度不支持"},
    {TL_E_INVALID_KEY_ALGORITHM, u"Invalid key algorithm.", u"无效的密钥算法"},
    {TL_E_JSON_PARSE, nullptr, nullptr},
    {TL_E_JSON_TYPE, nullptr, nullptr},
};

TEST(MessageTables, EveryCodeHasItsRowInBothLanguages) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(testing::Message() << std::hex << ResultBits(row.code));
    EXPECT_TRUE(IsApplicationCode(row.code));
    EXPECT_EQ(ResultBits(row.code) & 0xFFFF0000u, 0xA0070000u);
    const UINT id = ResultBits(row.code) & 0xFFFFu;
    const auto english = FindMessageString(id, LANG_ENGLISH_US);
    const auto chinese = FindMessageString(id, LANG_CHINESE_SIMPLIFIED);
    ASSERT_TRUE(english.has_value());
    ASSERT_TRUE(chinese.has_value());
    EXPECT_EQ(*english, row.english ? row.english : u"");
    EXPECT_EQ(*chinese, row.chinese ? row.chinese : u"");
  }
  EXPECT_FALSE(FindMessageString(0x9999, LANG_ENGLISH_US).has_value());
  EXPECT_FALSE(FindMessageString(0x2401, 1036).has_value());  // no French table
}

TEST(MessageTables, DescriptionsOfEveryCodeInBothLanguages) {
  for (const Row& row : kRows) {
    char hex[16];
    snprintf(hex, sizeof hex, "\n(0x%08x)", ResultBits(row.code));
    const std::u16string suffix = Utf8ToUtf16(hex);
    {
      const auto english = test::UiLanguageScope::English();
      EXPECT_EQ(DescribeResultCode(row.code), (row.english ? row.english : u"") + suffix);
    }
    {
      const auto chinese = test::UiLanguageScope::Chinese();
      EXPECT_EQ(DescribeResultCode(row.code), (row.chinese ? row.chinese : u"") + suffix);
    }
  }
}

TEST(UiLanguage, FirstSetNonEmptyVariableDecides) {
  const struct {
    const char* lc_all;
    const char* lc_messages;
    const char* lang;
    LANGID expected;
  } cases[] = {
      {nullptr, nullptr, nullptr, LANG_ENGLISH_US},
      {nullptr, nullptr, "zh_CN.UTF-8", LANG_CHINESE_SIMPLIFIED},
      {nullptr, nullptr, "zh_TW.UTF-8", LANG_CHINESE_SIMPLIFIED},
      {nullptr, nullptr, "C", LANG_ENGLISH_US},
      {nullptr, nullptr, "de_DE.UTF-8", LANG_ENGLISH_US},
      {"en_US.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8", LANG_ENGLISH_US},
      {"zh_CN.UTF-8", nullptr, "en_US.UTF-8", LANG_CHINESE_SIMPLIFIED},
      {"", "zh_CN.UTF-8", "en_US.UTF-8", LANG_CHINESE_SIMPLIFIED},  // empty counts as unset
      {"", "", "zh_CN", LANG_CHINESE_SIMPLIFIED},
      {nullptr, "en_GB.UTF-8", "zh_CN.UTF-8", LANG_ENGLISH_US},
      {nullptr, nullptr, "z", LANG_ENGLISH_US},
  };
  for (const auto& c : cases) {
    const test::UiLanguageScope scope(c.lc_all, c.lc_messages, c.lang);
    EXPECT_EQ(GetUserDefaultUILanguage(), c.expected)
        << (c.lc_all ? c.lc_all : "-") << " " << (c.lc_messages ? c.lc_messages : "-") << " "
        << (c.lang ? c.lang : "-");
    EXPECT_EQ(GetThreadUILanguage(), c.expected);
  }
}

TEST(LoadStringW, CopiesTruncatesAndHandsOutPointers) {
  const auto english = test::UiLanguageScope::English();
  const UINT id = 0x2401;
  WCHAR buffer[64];
  EXPECT_EQ(LoadStringW(nullptr, id, buffer, 64), 22);
  EXPECT_EQ(std::u16string(buffer), u"Invalid key algorithm.");

  EXPECT_EQ(LoadStringW(nullptr, id, buffer, 8), 7);  // room for 7 characters and the NUL
  EXPECT_EQ(std::u16string(buffer), u"Invalid");

  const WCHAR* direct = nullptr;
  EXPECT_EQ(LoadStringW(nullptr, id, reinterpret_cast<LPWSTR>(&direct), 0), 22);
  ASSERT_NE(direct, nullptr);
  EXPECT_EQ(std::u16string(direct), u"Invalid key algorithm.");

  buffer[0] = u'x';
  EXPECT_EQ(LoadStringW(nullptr, 0x3204, buffer, 64), 0);  // row without text
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(LoadStringW(nullptr, 0x7777, buffer, 64), 0);  // no row
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_EQ(LoadStringW(nullptr, id, nullptr, 64), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  // Any module handle reads the same tables.
  EXPECT_EQ(LoadStringW(GetModuleHandleW(nullptr), id, buffer, 64), 22);
}

}  // namespace
}  // namespace tessaline
