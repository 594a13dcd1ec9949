// Containers persist in the user database across processes, under
// concurrent writers, and through a writer killed at any moment.
#include <gtest/gtest.h>

#include "platform/crypt/ContainerStore.h"
#include "platform/crypt/KeyMaterial.h"
#include "platform/storage/Database.h"
#include "tests/crypt/CryptFixture.h"

namespace tessaline::test {
namespace {

const std::string kWorker = std::string(TESSALINE_BINARY_DIR) + "/bin/crypt_container_worker";

size_t CountContainers(const std::u16string& provider) {
  Prov prov;
  EXPECT_TRUE(CryptAcquireContextW(&prov.h, nullptr, provider.c_str(), PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  DWORD size = 0;
  if (!CryptGetProvParam(prov.h, PP_ENUMCONTAINERS, nullptr, &size, CRYPT_FIRST)) return 0;
  std::vector<uint8_t> buffer(size);
  size_t count = 0;
  for (DWORD flags = CRYPT_FIRST;; flags = CRYPT_NEXT) {
    DWORD length = size;
    if (!CryptGetProvParam(prov.h, PP_ENUMCONTAINERS, buffer.data(), &length, flags)) break;
    ++count;
  }
  return count;
}

TEST(Containers, SurviveTheProcess) {
  FreshScopes();
  const auto created = RunCommand(kWorker + " create other 1");
  ASSERT_EQ(created.exit_code, 0) << created.output;
  Prov prov;
  ASSERT_TRUE(CryptAcquireContextW(&prov.h, u"other-0", TL_SM2_PROV_W, PROV_RSA_FULL, 0));
  KeyH key;
  EXPECT_TRUE(CryptGetUserKey(prov.h, AT_SIGNATURE, &key.h));

  Prov mine;
  ASSERT_TRUE(CryptAcquireContextW(&mine.h, u"mine", TL_SM2_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
  KeyH generated;
  ASSERT_TRUE(CryptGenKey(mine.h, CALG_SM2_SIGN, 0, &generated.h));
  EXPECT_EQ(RunCommand(kWorker + " check mine").exit_code, 0);
  EXPECT_NE(RunCommand(kWorker + " check absent").exit_code, 0);
}

TEST(Containers, TwoProcessesCreatingAtOnceLoseNothing) {
  FreshScopes();
  const auto both = RunCommand(kWorker + " create a 100 & " + kWorker + " create b 100 & wait %1 && wait %2");
  ASSERT_EQ(both.exit_code, 0) << both.output;
  EXPECT_EQ(CountContainers(TL_SM2_PROV_W), 200u);
}

TEST(Containers, KillDuringGenerationLeavesNoHalfContainer) {
  FreshScopes();
  // Kill the writer at several moments; each time every stored key must be
  // whole and every container usable.
  for (const char* delay : {"0.3", "0.7", "1.1"}) {
    const auto run = RunCommand("timeout -s KILL " + std::string(delay) + " " + kWorker + " churn k > /dev/null");
    ASSERT_NE(run.exit_code, 0);  // killed, not finished
  }
  storage::Database::CloseAll();
  std::vector<crypt::ContainerSummary> containers;
  ASSERT_EQ(crypt::ContainerStore::Summaries(std::string("Microsoft Base Cryptographic Provider v1.0"), &containers),
            ERROR_SUCCESS);
  ASSERT_FALSE(containers.empty());
  for (const auto& container : containers) {
    for (const auto& summary : container.keys) {
      crypt::StoredKey stored;
      ASSERT_EQ(crypt::ContainerStore::GetKey(container.provider, container.name, summary.key_spec, &stored),
                ERROR_SUCCESS);
      auto key = crypt::FromPkcs8(stored.private_key);
      ASSERT_TRUE(key) << container.name;
      EXPECT_EQ(crypt::KeyBits(key.get()), stored.bits);
    }
  }
  storage::Database* db = storage::Database::Get(storage::Scope::kUser);
  ASSERT_NE(db, nullptr);
  storage::Statement check(*db, "PRAGMA integrity_check");
  ASSERT_EQ(check.Step(), SQLITE_ROW);
  EXPECT_EQ(check.Text(0), "ok");
}

TEST(Containers, CertificatesPersistWithTheirKey) {
  TempDir dir;
  ASSERT_EQ(MakeCertificateFile(dir), 0);
  const std::vector<uint8_t> certificate = ReadFileBytes(dir.File("c.der"));
  const std::u16string name = UniqueName(u"cert");
  {
    Prov prov;
    ASSERT_TRUE(CryptAcquireContextW(&prov.h, name.c_str(), TL_SM2_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    KeyH key;
    ASSERT_TRUE(CryptGenKey(prov.h, CALG_SM2_SIGN, 0, &key.h));
    DWORD size = 0;
    EXPECT_FALSE(CryptGetKeyParam(key.h, KP_CERTIFICATE, nullptr, &size, 0));
    EXPECT_EQ(LastError(), Code(NTE_NOT_FOUND));
    std::vector<uint8_t> not_der = {0x04, 0x01, 0x00};
    EXPECT_FALSE(CryptSetKeyParam(key.h, KP_CERTIFICATE, not_der.data(), 0));
    EXPECT_EQ(LastError(), Code(NTE_BAD_DATA));
    // The buffer may be larger than the certificate: its own length counts.
    std::vector<uint8_t> padded = certificate;
    padded.resize(padded.size() + 16, 0xCC);
    ASSERT_TRUE(CryptSetKeyParam(key.h, KP_CERTIFICATE, padded.data(), 0));
  }
  storage::Database::CloseAll();
  Prov prov;
  ASSERT_TRUE(CryptAcquireContextW(&prov.h, name.c_str(), TL_SM2_PROV_W, PROV_RSA_FULL, 0));
  KeyH key;
  ASSERT_TRUE(CryptGetUserKey(prov.h, AT_SIGNATURE, &key.h));
  EXPECT_EQ(GetKeyParam(key.h, KP_CERTIFICATE), certificate);
  // Replacing the key drops the certificate that belonged to the old one.
  KeyH replaced;
  ASSERT_TRUE(CryptGenKey(prov.h, CALG_SM2_SIGN, 0, &replaced.h));
  DWORD size = 0;
  EXPECT_FALSE(CryptGetKeyParam(replaced.h, KP_CERTIFICATE, nullptr, &size, 0));
}

}  // namespace
}  // namespace tessaline::test
