// The agent's request operations in process, with recording providers: the
// checks made before anything is generated, what a failure leaves behind,
// and how the request is hashed and signed.
#include <gtest/gtest.h>

#include <numeric>

#include "Tessaline/CryptoAgent.h"
#include "Tessaline/ErrorCodes.h"
#include "Tessaline/Misc.h"
#include "tests/request/RequestFixture.h"

namespace tessaline::test {
namespace {

using crypt::Call;

class AgentRequestTest : public RequestTest {
 protected:
  // An agent set up for PROVIDER and ALGORITHM (nullptr: no algorithm set).
  static void Configure(CCryptoAgent* agent, const char16_t* provider, int32_t bits, const char16_t* algorithm) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(agent->VEXA_SetCSPInfo(bits, provider, &ok), S_OK);
    if (algorithm != nullptr) {
      ASSERT_EQ(agent->VEXA_SetKeyAlgorithm(algorithm, &ok), S_OK);
    }
  }

  static std::u16string Container(CCryptoAgent* agent) {
    std::u16string name;
    EXPECT_EQ(agent->VEXA_GetContainer(&name), S_OK);
    return name;
  }

  // The description ends with the recorded code.
  static bool Recorded(CCryptoAgent* agent, HRESULT code) {
    std::u16string text;
    EXPECT_EQ(agent->GetLastErrorDesc(&text), S_OK);
    char hex[16];
    snprintf(hex, sizeof(hex), "(0x%08x)", ResultBits(code));
    return Narrow(text).ends_with(hex);
  }
};

TEST_F(AgentRequestTest, RefusesBadArgumentsBeforeGeneratingAnything) {
  const struct {
    const char* what;
    const char16_t* algorithm;
    bool md5;
    const char16_t* subject;
    int32_t type;
    HRESULT expected;
  } cases[] = {
      {"no key algorithm set", nullptr, false, u"CN=a", 1, TL_E_INVALID_KEY_ALGORITHM},
      {"MD5 with SM2", u"SM2", true, u"CN=a", 1, TL_E_INVALID_KEY_ALGORITHM},
      {"MD5, type 3", u"RSA", true, u"CN=a", 3, E_INVALIDARG},
      {"MD5, type 0", u"rsa", true, u"CN=a", 0, E_INVALIDARG},
      {"MD5, empty subject", u"RSA", true, u"", 1, E_INVALIDARG},
      {"MD5, null subject", u"RSA", true, nullptr, 2, E_INVALIDARG},
      {"SHA-1, null subject", u"RSA", false, nullptr, 1, E_INVALIDARG},
      {"SM3, null subject", u"sm2", false, nullptr, 2, E_INVALIDARG},
  };
  auto provider = Record(MS_ENHANCED_PROV_W);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CCryptoAgent agent;
    Configure(&agent, MS_ENHANCED_PROV_W, 1024, c.algorithm);
    std::u16string request = u"stale";
    const HRESULT result = c.md5 ? agent.VEXA_PKCS10CertRequisitionwithMD5(c.subject, c.type, 0, &request)
                                 : agent.VEXA_PKCS10CertRequisition(c.subject, c.type, 0, &request);
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(request, u"");
    EXPECT_TRUE(Recorded(&agent, c.expected));
    EXPECT_EQ(Container(&agent), u"");
  }
  EXPECT_TRUE(provider->CallsOf(Call::kGenKey).empty());
  EXPECT_TRUE(Containers().empty());
}

TEST_F(AgentRequestTest, AnUnknownCertificateTypeFailsWhenTheContainerIsOpened) {
  auto provider = Record(MS_ENHANCED_PROV_W);
  CCryptoAgent agent;
  Configure(&agent, MS_ENHANCED_PROV_W, 1024, u"RSA");
  std::u16string request;
  EXPECT_EQ(agent.VEXA_PKCS10CertRequisition(u"CN=a", 3, 0, &request), NTE_BAD_KEYSET);
  EXPECT_TRUE(provider->CallsOf(Call::kGenKey).empty());
  EXPECT_TRUE(Containers().empty());
}

TEST_F(AgentRequestTest, AnEmptySubjectFailsAfterTheKeysAreGenerated) {
  CCryptoAgent agent;
  Configure(&agent, TL_SM2_PROV_W, 256, u"SM2");
  std::u16string request = u"stale";
  EXPECT_EQ(agent.VEXA_PKCS10CertRequisition(u"", 1, 0, &request), E_FAIL);
  EXPECT_EQ(request, u"");
  EXPECT_TRUE(Recorded(&agent, E_FAIL));
  EXPECT_EQ(Container(&agent), u"");
  const auto containers = Containers();
  ASSERT_EQ(containers.size(), 1u);
  EXPECT_EQ(KeySpecsOf(containers[0]), std::vector<DWORD>{AT_KEYEXCHANGE});
}

TEST_F(AgentRequestTest, RefusedGenerationLeavesNoContainer) {
  const struct {
    const char16_t* provider;
    const char16_t* algorithm;
    int32_t type;
    ALG_ID refused;
  } cases[] = {
      {MS_ENHANCED_PROV_W, u"RSA", 1, AT_KEYEXCHANGE},
      {MS_ENHANCED_PROV_W, u"RSA", 2, AT_KEYEXCHANGE},  // the temporary key
      {MS_ENHANCED_PROV_W, u"RSA", 2, AT_SIGNATURE},    // the signing key, after the temporary one
      {TL_SM2_PROV_W, u"SM2", 1, CALG_SM2_KEYX},
      {TL_SM2_PROV_W, u"SM2", 2, CALG_SM2_SIGN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << Narrow(c.provider) << " type " << c.type << " refusing " << c.refused);
    FreshScopes();
    auto provider = Record(c.provider);
    provider->RefuseAlgorithm(c.refused);
    CCryptoAgent agent;
    Configure(&agent, c.provider, c.algorithm[0] == u'S' ? 256 : 1024, c.algorithm);
    std::u16string request;
    EXPECT_EQ(agent.VEXA_PKCS10CertRequisition(u"CN=a", c.type, 0, &request), NTE_BAD_ALGID);
    EXPECT_EQ(request, u"");
    EXPECT_TRUE(Containers().empty());
  }
}

TEST_F(AgentRequestTest, SuccessStoresTheContainerHoldingTheRequestKeys) {
  const struct {
    const char16_t* provider;
    const char16_t* algorithm;
    int32_t type;
    std::vector<DWORD> specs;
  } cases[] = {
      {MS_ENHANCED_PROV_W, u"RSA", 1, {AT_KEYEXCHANGE}},
      {MS_ENHANCED_PROV_W, u"RSA", 2, {AT_KEYEXCHANGE, AT_SIGNATURE}},
      {TL_SM2_PROV_W, u"SM2", 1, {AT_KEYEXCHANGE}},
      {TL_SM2_PROV_W, u"SM2", 2, {AT_KEYEXCHANGE, AT_SIGNATURE}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << Narrow(c.provider) << " type " << c.type);
    FreshScopes();
    CCryptoAgent agent;
    Configure(&agent, c.provider, c.algorithm[0] == u'S' ? 256 : 1024, c.algorithm);
    std::u16string request;
    ASSERT_EQ(agent.VEXA_PKCS10CertRequisition(u"CN=a", c.type, 0, &request), S_OK);
    EXPECT_TRUE(Recorded(&agent, S_OK));
    const auto containers = Containers();
    ASSERT_EQ(containers.size(), 1u);
    EXPECT_EQ(containers[0].provider, Narrow(c.provider));
    EXPECT_EQ(containers[0].name, Narrow(Container(&agent)));
    EXPECT_EQ(KeySpecsOf(containers[0]), c.specs);
    // A second request makes a new container and leaves the first alone.
    std::u16string second;
    ASSERT_EQ(agent.VEXA_PKCS10CertRequisition(u"CN=b", c.type, 0, &second), S_OK);
    EXPECT_EQ(Containers().size(), 2u);
    EXPECT_NE(Narrow(Container(&agent)), containers[0].name);
  }
}

TEST_F(AgentRequestTest, HashesLargeRequestsInPiecesAndSignsWithTheRequestKey) {
  auto provider = Record(TL_SM2_PROV_W);
  CCryptoAgent agent;
  Configure(&agent, TL_SM2_PROV_W, 256, u"SM2");
  const std::u16string subject = u"CN=" + std::u16string(70000, u'a') + u",O=Example";
  std::u16string request;
  ASSERT_EQ(agent.VEXA_PKCS10CertRequisition(subject.c_str(), 2, 0, &request), S_OK);

  std::string text(request.begin(), request.end());
  std::vector<uint8_t> der;
  ASSERT_EQ(Base64DecodeEx(static_cast<int64_t>(text.size()), &der, text.c_str(), nullptr), S_OK);
  // CertificationRequest: 30 83 LL LL LL, then the CertificationRequestInfo: 30 83 LL LL LL.
  ASSERT_GT(der.size(), 10u);
  ASSERT_EQ(der[5], 0x30);
  ASSERT_EQ(der[6], 0x83);
  const size_t info_size = 5 + ((size_t{der[7]} << 16) | (size_t{der[8]} << 8) | der[9]);

  std::vector<size_t> pieces;
  for (const auto& call : provider->CallsOf(Call::kHashData)) pieces.push_back(call.data.size());
  ASSERT_GE(pieces.size(), 3u);
  for (size_t i = 0; i + 1 < pieces.size(); ++i) EXPECT_EQ(pieces[i], 16384u);
  EXPECT_LE(pieces.back(), 16384u);
  EXPECT_EQ(std::accumulate(pieces.begin(), pieces.end(), size_t{0}), info_size);
  const auto hashes = provider->CallsOf(Call::kCreateHash);
  ASSERT_EQ(hashes.size(), 1u);
  EXPECT_EQ(hashes[0].value, CALG_SM3);
  for (const auto& call : provider->CallsOf(Call::kSignHash)) EXPECT_EQ(call.value, AT_SIGNATURE);
  const auto user_keys = provider->CallsOf(Call::kGetUserKey);
  ASSERT_EQ(user_keys.size(), 1u);
  EXPECT_EQ(user_keys[0].value, AT_SIGNATURE);
}

TEST_F(AgentRequestTest, Md5RequestsHashWithMd5AndSignWithTheCertificateTypesKey) {
  auto provider = Record(MS_ENHANCED_PROV_W);
  CCryptoAgent agent;
  Configure(&agent, MS_ENHANCED_PROV_W, 1024, u"RSA");
  std::u16string request;
  ASSERT_EQ(agent.VEXA_PKCS10CertRequisitionwithMD5(u"CN=a", 2, 0, &request), S_OK);
  const auto hashes = provider->CallsOf(Call::kCreateHash);
  ASSERT_EQ(hashes.size(), 1u);
  EXPECT_EQ(hashes[0].value, CALG_MD5);
  const auto generated = provider->CallsOf(Call::kGenKey);
  ASSERT_EQ(generated.size(), 2u);
  EXPECT_EQ(generated[0].value, AT_KEYEXCHANGE);  // the temporary key, 1024 bits
  EXPECT_EQ(generated[0].flags, 0x04000000u);
  EXPECT_EQ(generated[1].value, AT_SIGNATURE);
}

}  // namespace
}  // namespace tessaline::test
