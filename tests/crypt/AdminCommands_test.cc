// tessaline providers / containers / delete-container.
#include <gtest/gtest.h>

#include "tests/crypt/CryptFixture.h"

namespace tessaline::test {
namespace {

const std::string kAdmin = std::string(TESSALINE_BINARY_DIR) + "/bin/tessaline";

TEST(AdminCommands, ListProvidersAndContainersAndDeleteOne) {
  FreshScopes();
  const auto providers = RunCommand(kAdmin + " providers");
  ASSERT_EQ(providers.exit_code, 0) << providers.output;
  EXPECT_EQ(providers.output,
            "Microsoft Base Cryptographic Provider v1.0\t1\n"
            "Microsoft Enhanced Cryptographic Provider v1.0\t1\n"
            "Microsoft Enhanced RSA and AES Cryptographic Provider\t24\n"
            "Microsoft Strong Cryptographic Provider\t1\n"
            "Tessaline SM2 Cryptographic Service Provider v1.0\t1\n");

  TempDir dir;
  ASSERT_EQ(MakeCertificateFile(dir), 0);
  const std::vector<uint8_t> certificate = ReadFileBytes(dir.File("c.der"));
  {
    Prov prov;
    ASSERT_TRUE(CryptAcquireContextW(&prov.h, u"line\nbreak", TL_SM2_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    KeyH exchange, signature;
    ASSERT_TRUE(CryptGenKey(prov.h, AT_KEYEXCHANGE, KeyLengthFlags(512) | CRYPT_EXPORTABLE, &exchange.h));
    ASSERT_TRUE(CryptGenKey(prov.h, CALG_SM2_SIGN, 0, &signature.h));
    ASSERT_TRUE(CryptSetKeyParam(signature.h, KP_CERTIFICATE, certificate.data(), 0));
    Prov empty;
    ASSERT_TRUE(CryptAcquireContextW(&empty.h, u"empty", MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
  }
  const auto all = RunCommand(kAdmin + " containers");
  ASSERT_EQ(all.exit_code, 0) << all.output;
  EXPECT_EQ(all.output,
            "Tessaline SM2 Cryptographic Service Provider v1.0\tline\\nbreak"
            "\texchange=RSA_KEYX/512/exportable/no-certificate\tsignature=SM2_SIGN/256/non-exportable/certificate\n"
            "Microsoft Base Cryptographic Provider v1.0\tempty\n");
  const auto one = RunCommand(kAdmin + " containers 'microsoft base cryptographic provider v1.0'");
  EXPECT_EQ(one.output, "Microsoft Base Cryptographic Provider v1.0\tempty\n");
  EXPECT_EQ(RunCommand(kAdmin + " containers 'No Such Provider'").exit_code, 1);

  const auto deleted = RunCommand(kAdmin + " delete-container 'Microsoft Base Cryptographic Provider v1.0' empty");
  EXPECT_EQ(deleted.exit_code, 0) << deleted.output;
  const auto again = RunCommand(kAdmin + " delete-container 'Microsoft Base Cryptographic Provider v1.0' empty");
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.output.find("no such container"), std::string::npos);
  EXPECT_EQ(RunCommand(kAdmin + " delete-container onlyone").exit_code, 2);
  Prov gone;
  EXPECT_FALSE(CryptAcquireContextW(&gone.h, u"empty", MS_DEF_PROV_W, PROV_RSA_FULL, 0));
}

}  // namespace
}  // namespace tessaline::test
