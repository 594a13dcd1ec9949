// The recording provider sees each call with its flags and fails the calls
// a test scripts.
#include "tests/crypt_support/RecordingProvider.h"

#include <gtest/gtest.h>

#include "tests/crypt/CryptFixture.h"

namespace tessaline::test {
namespace {

using crypt::Call;

TEST(RecordingProvider, RecordsCallsAndScriptsFailures) {
  auto provider = RecordingProvider::Install(MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, crypt::Flavor::kRsa);
  provider->RefuseAlgorithm(AT_SIGNATURE);
  provider->FailCall(Call::kGetProvParam, 2, ERROR_INVALID_PARAMETER);

  const std::u16string name = UniqueName(u"rec");
  Prov prov;
  ASSERT_TRUE(CryptAcquireContextW(&prov.h, name.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_NEWKEYSET));
  KeyH key;
  EXPECT_TRUE(CryptGenKey(prov.h, AT_KEYEXCHANGE, KeyLengthFlags(512) | CRYPT_EXPORTABLE, &key.h));
  EXPECT_FALSE(CryptGenKey(prov.h, AT_SIGNATURE, KeyLengthFlags(512), &key.h));
  EXPECT_EQ(LastError(), Code(NTE_BAD_ALGID));
  // The second call of a two-call query fails.
  DWORD size = 0;
  ASSERT_TRUE(CryptGetProvParam(prov.h, PP_NAME, nullptr, &size, 0));
  std::vector<BYTE> buffer(size);
  EXPECT_FALSE(CryptGetProvParam(prov.h, PP_NAME, buffer.data(), &size, 0));
  EXPECT_EQ(LastError(), ERROR_INVALID_PARAMETER);

  const auto acquire = provider->CallsOf(Call::kAcquireContext);
  ASSERT_EQ(acquire.size(), 1u);
  EXPECT_EQ(acquire[0].container, name);
  EXPECT_EQ(acquire[0].provider_type, PROV_RSA_AES);
  EXPECT_EQ(acquire[0].flags, CRYPT_NEWKEYSET);
  const auto generate = provider->CallsOf(Call::kGenKey);
  ASSERT_EQ(generate.size(), 2u);
  EXPECT_EQ(generate[0].value, AT_KEYEXCHANGE);
  EXPECT_EQ(generate[0].flags, 0x02000001u);
  const auto queries = provider->CallsOf(Call::kGetProvParam);
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_TRUE(queries[0].size_query);
  EXPECT_FALSE(queries[1].size_query);

  RecordingProvider::Uninstall(*provider);
  provider->ClearCalls();
  Prov plain;
  ASSERT_TRUE(CryptAcquireContextW(&plain.h, nullptr, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
  EXPECT_TRUE(provider->Calls().empty());  // the installed provider is back
  DWORD type = 0;
  ASSERT_TRUE(CryptEnumProvidersW(2, nullptr, 0, &type, nullptr, &size));
  EXPECT_EQ(type, PROV_RSA_AES);
}

}  // namespace
}  // namespace tessaline::test
