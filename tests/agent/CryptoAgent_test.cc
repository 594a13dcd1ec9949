// The agent's settings operations, its last-error rule and its
// descriptions.
#include "Tessaline/CryptoAgent.h"

#include <gtest/gtest.h>

#include <string>

#include "Tessaline/ErrorCodes.h"

namespace tessaline {
namespace {

constexpr char16_t kBase[] = u"Microsoft Base Cryptographic Provider v1.0";
constexpr char16_t kStrong[] = u"Microsoft Strong Cryptographic Provider";
constexpr char16_t kVendor[] = u"Tessaline SM2 Cryptographic Service Provider v1.0";

// Exposes the stored settings, which no operation reports directly.
class AgentProbe : public CCryptoAgent {
 public:
  using CCryptoAgent::key_algorithm_;
  using CCryptoAgent::key_length_;
  using CCryptoAgent::last_error_;
  using CCryptoAgent::provider_name_;
};

TEST(CryptoAgent, StartsEmpty) {
  AgentProbe agent;
  EXPECT_EQ(agent.last_error_, S_OK);
  EXPECT_EQ(agent.key_length_, 0);
  EXPECT_EQ(agent.provider_name_, u"");
  EXPECT_EQ(agent.key_algorithm_, u"");
  std::u16string container = u"unchanged";
  EXPECT_EQ(agent.VEXA_GetContainer(&container), S_OK);
  EXPECT_EQ(container, u"");
}

TEST(CryptoAgent, SetCSPInfoKeyLengthRules) {
  struct Case {
    const char16_t* provider;
    int32_t key_length;
    HRESULT expected;
  };
  const Case cases[] = {
      {kBase, 512, S_OK},
      {kBase, 1024, S_OK},
      {kBase, 2048, TL_E_KEY_LENGTH_NOT_SUPPORTED},
      {kStrong, 512, S_OK},
      {kStrong, 1024, S_OK},
      {kStrong, 2048, S_OK},
      {kStrong, 4096, S_OK},
      {kStrong, 768, TL_E_KEY_LENGTH_NOT_SUPPORTED},
      {kStrong, 3072, TL_E_KEY_LENGTH_NOT_SUPPORTED},
      {u"Microsoft Enhanced RSA and AES Cryptographic Provider", 0, TL_E_KEY_LENGTH_NOT_SUPPORTED},
      {kVendor, 0, S_OK},
      {kVendor, 768, S_OK},
      {kVendor, -5, S_OK},
      // The provider name is searched case-sensitively.
      {u"microsoft base cryptographic provider v1.0", 2048, S_OK},
      {u"Microsoft base provider", 2048, S_OK},
      {u"", 1024, E_INVALIDARG},
      {u"   ", 1024, E_INVALIDARG},
      {nullptr, 1024, E_INVALIDARG},
  };
  for (const Case& c : cases) {
    AgentProbe agent;
    VARIANT_BOOL result = VARIANT_FALSE;
    EXPECT_EQ(agent.VEXA_SetCSPInfo(c.key_length, c.provider, &result), c.expected)
        << (c.provider ? std::string(c.provider, c.provider + std::char_traits<char16_t>::length(c.provider))
                       : "null")
        << " " << c.key_length;
    EXPECT_EQ(result, c.expected == S_OK ? VARIANT_TRUE : VARIANT_FALSE);
    EXPECT_EQ(agent.last_error_, c.expected);
  }
}

TEST(CryptoAgent, SetCSPInfoStoresTheCleanedName) {
  struct Case {
    const char16_t* given;
    const char16_t* stored;
  };
  const Case cases[] = {
      {u"  Vendor CSP  ", u"Vendor CSP"},
      {u"\tVendor CSP\n", u"\tVendor CSP\n"},  // only spaces are trimmed
      {u"A &amp; B &amp; C", u"A & B &amp; C"},
      {u"&amp;amp;", u"&amp;"},
  };
  for (const Case& c : cases) {
    AgentProbe agent;
    VARIANT_BOOL result = VARIANT_FALSE;
    ASSERT_EQ(agent.VEXA_SetCSPInfo(7, c.given, &result), S_OK);
    EXPECT_EQ(agent.provider_name_, c.stored);
    EXPECT_EQ(agent.key_length_, 7);
  }
}

TEST(CryptoAgent, FailedSettingsKeepThePreviousOnes) {
  AgentProbe agent;
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(agent.VEXA_SetCSPInfo(1024, kBase, &result), S_OK);
  ASSERT_EQ(agent.VEXA_SetKeyAlgorithm(u"RSA", &result), S_OK);

  result = 7;  // a failure must not write the out value
  EXPECT_EQ(agent.VEXA_SetCSPInfo(2048, kBase, &result), TL_E_KEY_LENGTH_NOT_SUPPORTED);
  EXPECT_EQ(agent.VEXA_SetCSPInfo(512, u"  ", &result), E_INVALIDARG);
  EXPECT_EQ(agent.VEXA_SetKeyAlgorithm(u"DSA", &result), TL_E_INVALID_KEY_ALGORITHM);
  EXPECT_EQ(result, 7);
  EXPECT_EQ(agent.provider_name_, kBase);
  EXPECT_EQ(agent.key_length_, 1024);
  EXPECT_EQ(agent.key_algorithm_, u"RSA");
  EXPECT_EQ(agent.last_error_, TL_E_INVALID_KEY_ALGORITHM);
}

TEST(CryptoAgent, SetKeyAlgorithm) {
  struct Case {
    const char16_t* given;
    HRESULT expected;
    const char16_t* stored;
  };
  const Case cases[] = {
      {u"RSA", S_OK, u"RSA"},
      {u"rsa", S_OK, u"rsa"},
      {u" sm2 ", S_OK, u"sm2"},
      {u"Sm2", S_OK, u"Sm2"},
      {u"   ", TL_E_INVALID_KEY_ALGORITHM, u""},  // not empty until trimmed
      {u"", E_INVALIDARG, u""},
      {nullptr, E_INVALIDARG, u""},
      {u"DSA", TL_E_INVALID_KEY_ALGORITHM, u""},
      {u"RSA\t", TL_E_INVALID_KEY_ALGORITHM, u""},
      {u"RSA2", TL_E_INVALID_KEY_ALGORITHM, u""},
  };
  for (const Case& c : cases) {
    AgentProbe agent;
    VARIANT_BOOL result = VARIANT_FALSE;
    EXPECT_EQ(agent.VEXA_SetKeyAlgorithm(c.given, &result), c.expected);
    EXPECT_EQ(agent.key_algorithm_, c.stored);
    EXPECT_EQ(agent.last_error_, c.expected);
  }
}

TEST(CryptoAgent, VersionAndDescriptionRecordNothing) {
  AgentProbe agent;
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(agent.VEXA_SetKeyAlgorithm(u"DSA", &result), TL_E_INVALID_KEY_ALGORITHM);

  std::u16string version;
  EXPECT_EQ(agent.VEXA_GetVersion(&version), S_OK);
  EXPECT_EQ(version, u"3.2.0.3");
  std::u16string first;
  std::u16string second;
  EXPECT_EQ(agent.GetLastErrorDesc(&first), S_OK);
  EXPECT_EQ(agent.GetLastErrorDesc(&second), S_OK);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, DescribeResultCode(TL_E_INVALID_KEY_ALGORITHM));
  EXPECT_EQ(agent.last_error_, TL_E_INVALID_KEY_ALGORITHM);

  // GetContainer records its success.
  std::u16string container;
  EXPECT_EQ(agent.VEXA_GetContainer(&container), S_OK);
  EXPECT_EQ(agent.last_error_, S_OK);
}

TEST(CryptoAgent, NewAgentDescribesCodeZero) {
  CCryptoAgent agent;
  std::u16string description;
  ASSERT_EQ(agent.GetLastErrorDesc(&description), S_OK);
  EXPECT_EQ(description, DescribeResultCode(S_OK));
  ASSERT_GE(description.size(), 13u);
  EXPECT_EQ(description.substr(description.size() - 13), u"\n(0x00000000)");
}

TEST(CryptoAgent, GetCSPInfoListsTheCatalog) {
  CCryptoAgent agent;
  std::u16string providers;
  ASSERT_EQ(agent.VEXA_GetCSPInfo(&providers), S_OK);
  EXPECT_EQ(providers,
            u"Microsoft Base Cryptographic Provider v1.0||Microsoft Enhanced Cryptographic Provider v1.0||"
            u"Microsoft Enhanced RSA and AES Cryptographic Provider||Microsoft Strong Cryptographic Provider||"
            u"Tessaline SM2 Cryptographic Service Provider v1.0");
}

}  // namespace
}  // namespace tessaline
