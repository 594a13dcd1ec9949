// Key pairs in provider containers: how the container is opened, how the
// key is generated and exported, and what a failure leaves behind.
#include <gtest/gtest.h>

#include "Tessaline/CertificateRequisition.h"
#include "Tessaline/CryptoAgent.h"
#include "tests/request/RequestFixture.h"

namespace tessaline::test {
namespace {

using crypt::Call;

class CreatePublicKeyTest : public RequestTest {};

TEST_F(CreatePublicKeyTest, OpensANewGuidContainerWithTheTypeOfItsProvider) {
  const struct {
    const char16_t* provider;
    bool rsa;
    DWORD bits;
    DWORD type;
  } cases[] = {
      {MS_ENH_RSA_AES_PROV_W, true, 512, PROV_RSA_AES},
      {MS_ENHANCED_PROV_W, true, 512, PROV_RSA_FULL},
      {MS_DEF_PROV_W, true, 512, PROV_RSA_FULL},
      {TL_SM2_PROV_W, false, 256, PROV_RSA_FULL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.provider));
    auto provider = Record(c.provider);
    std::optional<std::u16string> name;
    std::vector<uint8_t> key;
    ProvOwner prov;
    ASSERT_EQ(CreatePublicKey(&name, &key, c.bits, c.provider, c.rsa, AT_KEYEXCHANGE, true, &prov.h, nullptr, 0),
              S_OK);
    ASSERT_TRUE(name.has_value());
    EXPECT_TRUE(IsGuidName(Narrow(*name))) << Narrow(*name);
    const auto acquired = provider->CallsOf(Call::kAcquireContext);
    ASSERT_EQ(acquired.size(), 1u);
    EXPECT_EQ(acquired[0].provider_type, c.type);
    EXPECT_EQ(acquired[0].flags, CRYPT_NEWKEYSET);
    EXPECT_EQ(acquired[0].container, *name);
    EXPECT_NE(prov.h, 0u);
  }
}

TEST_F(CreatePublicKeyTest, ComposesTheAlgorithmAndFlagsAndExportsThePublicKey) {
  const struct {
    bool rsa;
    DWORD key_spec, bits, flags;
    ALG_ID algorithm;
    DWORD generation_flags;
  } cases[] = {
      {true, AT_KEYEXCHANGE, 2048, CRYPT_EXPORTABLE, AT_KEYEXCHANGE, 0x08000001},
      {true, AT_SIGNATURE, 1024, 0, AT_SIGNATURE, 0x04000000},
      {false, AT_SIGNATURE, 256, 0, CALG_SM2_SIGN, 0x01000000},
      {false, AT_KEYEXCHANGE, 256, CRYPT_EXPORTABLE, CALG_SM2_KEYX, 0x01000001},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.generation_flags);
    const char16_t* name = c.rsa ? MS_ENHANCED_PROV_W : TL_SM2_PROV_W;
    auto provider = Record(name);
    std::optional<std::u16string> container;
    std::vector<uint8_t> key;
    DWORD size = 0;
    ProvOwner prov;
    ASSERT_EQ(CreatePublicKey(&container, &key, c.bits, name, c.rsa, c.key_spec, true, &prov.h, &size, c.flags),
              S_OK);
    const auto generated = provider->CallsOf(Call::kGenKey);
    ASSERT_EQ(generated.size(), 1u);
    EXPECT_EQ(generated[0].value, c.algorithm);
    EXPECT_EQ(generated[0].flags, c.generation_flags);
    EXPECT_EQ(size, key.size());
    if (c.rsa) {
      // Exported twice (size, then value) as a CERT_PUBLIC_KEY_INFO.
      const auto exports = provider->CallsOf(Call::kExportPublicKeyInfo);
      ASSERT_EQ(exports.size(), 2u);
      EXPECT_TRUE(exports[0].size_query);
      EXPECT_EQ(exports[1].value, c.key_spec);
      const auto* info = reinterpret_cast<const CERT_PUBLIC_KEY_INFO*>(key.data());
      EXPECT_STREQ(info->Algorithm.pszObjId, "1.2.840.113549.1.1.1");
      EXPECT_GT(info->PublicKey.cbData, c.bits / 8);
    } else {
      const auto exports = provider->CallsOf(Call::kExportKey);
      ASSERT_EQ(exports.size(), 2u);
      EXPECT_EQ(exports[1].value, PUBLICKEYBLOB);
      EXPECT_EQ(exports[1].flags, 0u);
      EXPECT_EQ(key.size(), 140u);
      EXPECT_EQ(key[0], PUBLICKEYBLOB);
    }
  }
}

TEST_F(CreatePublicKeyTest, FailureRemovesTheContainerThisCallCreated) {
  const struct {
    const char16_t* provider;
    bool rsa;
    DWORD bits;
    Call failing;
    DWORD delete_flags;
  } cases[] = {
      {MS_ENHANCED_PROV_W, true, 512, Call::kGenKey, CRYPT_DELETEKEYSET},
      {MS_ENHANCED_PROV_W, true, 512, Call::kExportPublicKeyInfo, CRYPT_DELETEKEYSET},
      {TL_SM2_PROV_W, false, 256, Call::kGenKey, 0xFFFF0002},
      {TL_SM2_PROV_W, false, 256, Call::kExportKey, 0xFFFF0002},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(crypt::CallName(c.failing));
    FreshScopes();
    auto provider = Record(c.provider);
    provider->FailCall(c.failing, 0, ResultBits(NTE_BAD_KEY_STATE));
    std::optional<std::u16string> name;
    std::vector<uint8_t> key;
    ProvOwner prov;
    EXPECT_EQ(CreatePublicKey(&name, &key, c.bits, c.provider, c.rsa, AT_SIGNATURE, true, &prov.h, nullptr, 0),
              NTE_BAD_KEY_STATE);
    EXPECT_EQ(prov.h, 0u);
    EXPECT_FALSE(name.has_value());
    EXPECT_TRUE(key.empty());
    EXPECT_TRUE(Containers().empty());
    const auto acquired = provider->CallsOf(Call::kAcquireContext);
    ASSERT_EQ(acquired.size(), 2u);
    EXPECT_EQ(acquired[1].flags, c.delete_flags);
    EXPECT_EQ(acquired[1].container, acquired[0].container);
  }
}

TEST_F(CreatePublicKeyTest, FailureLeavesASuppliedContainerAndHandleAlone) {
  auto provider = Record(TL_SM2_PROV_W);
  std::optional<std::u16string> name;
  std::vector<uint8_t> key;
  {
    ProvOwner prov;
    ASSERT_EQ(CreatePublicKey(&name, &key, 256, TL_SM2_PROV_W, false, AT_KEYEXCHANGE, true, &prov.h, nullptr, 0),
              S_OK);
  }
  provider->RefuseAlgorithm(CALG_SM2_SIGN);

  // Opened by the call, but not created by it.
  std::optional<std::u16string> supplied = name;
  ProvOwner prov;
  EXPECT_EQ(CreatePublicKey(&supplied, &key, 256, TL_SM2_PROV_W, false, AT_SIGNATURE, false, &prov.h, nullptr, 0),
            NTE_BAD_ALGID);
  // Handed in by the caller.
  HCRYPTPROV held = prov.h;
  EXPECT_EQ(CreatePublicKey(&supplied, &key, 256, TL_SM2_PROV_W, false, AT_SIGNATURE, false, &held, nullptr, 0),
            NTE_BAD_ALGID);
  EXPECT_EQ(held, prov.h);

  const auto containers = Containers();
  ASSERT_EQ(containers.size(), 1u);
  EXPECT_EQ(containers[0].name, Narrow(*name));
  EXPECT_EQ(KeySpecsOf(containers[0]), std::vector<DWORD>{AT_KEYEXCHANGE});
  for (const auto& call : provider->CallsOf(Call::kAcquireContext)) EXPECT_EQ(call.flags & CRYPT_DELETEKEYSET, 0u);
}

TEST_F(CreatePublicKeyTest, ProviderErrorsKeepAVendorMark) {
  const struct {
    DWORD error;
    uint32_t expected;
  } cases[] = {
      {0x20001234, 0xA0071234},
      {ERROR_ACCESS_DENIED, 0x80070005},
      {ResultBits(NTE_BAD_ALGID), 0x80090008},
  };
  for (const auto& c : cases) {
    auto provider = Record(TL_SM2_PROV_W);
    provider->FailCall(Call::kGenKey, 0, c.error);
    std::optional<std::u16string> name;
    std::vector<uint8_t> key;
    ProvOwner prov;
    EXPECT_EQ(ResultBits(CreatePublicKey(&name, &key, 256, TL_SM2_PROV_W, false, AT_SIGNATURE, true, &prov.h, nullptr,
                                         0)),
              c.expected);
  }
}

TEST_F(CreatePublicKeyTest, PermissionProbeLeavesNoContainer) {
  auto provider = Record(MS_DEF_PROV_W);
  CCryptoAgent agent;
  VARIANT_BOOL permitted = VARIANT_FALSE;
  EXPECT_EQ(agent.VEXA_HavePermissiontoGenerateKeyPair(&permitted), S_OK);
  EXPECT_EQ(permitted, VARIANT_TRUE);
  EXPECT_TRUE(Containers().empty());
  const auto generated = provider->CallsOf(Call::kGenKey);
  ASSERT_EQ(generated.size(), 1u);
  EXPECT_EQ(generated[0].value, AT_KEYEXCHANGE);
  EXPECT_EQ(generated[0].flags, 0x04000000u);
  const auto acquired = provider->CallsOf(Call::kAcquireContext);
  ASSERT_EQ(acquired.size(), 2u);
  EXPECT_EQ(acquired[1].flags, CRYPT_DELETEKEYSET);
  EXPECT_EQ(acquired[1].container, acquired[0].container);

  // A refused generation answers false with the provider's code.
  provider->RefuseAlgorithm(AT_KEYEXCHANGE);
  permitted = VARIANT_TRUE;
  EXPECT_EQ(agent.VEXA_HavePermissiontoGenerateKeyPair(&permitted), NTE_BAD_ALGID);
  EXPECT_EQ(permitted, VARIANT_FALSE);
  EXPECT_TRUE(Containers().empty());
}

TEST_F(CreatePublicKeyTest, PermissionProbeWithoutTheBaseProviderIsDenied) {
  crypt::ProviderCatalog::RemoveForTesting(MS_DEF_PROV_W);
  CCryptoAgent agent;
  VARIANT_BOOL permitted = VARIANT_TRUE;
  const HRESULT result = agent.VEXA_HavePermissiontoGenerateKeyPair(&permitted);
  crypt::ProviderCatalog::RestoreForTesting(MS_DEF_PROV_W);
  EXPECT_EQ(result, E_ACCESSDENIED);
  EXPECT_EQ(permitted, VARIANT_FALSE);
  EXPECT_TRUE(Containers().empty());
}

}  // namespace
}  // namespace tessaline::test
