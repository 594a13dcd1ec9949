// A certificate's key-provider property leads to its container and key:
// acquiring the certificate's private key succeeds only when that key
// exists in the container the property names.
#include <gtest/gtest.h>

#include "platform/cert/Cert.h"
#include "tests/crypt/CryptFixture.h"

namespace tessaline::test {
namespace {

TEST(CertificateKey, ResolvesThePropertyToItsContainerAndKey) {
  TempDir dir;
  ASSERT_EQ(MakeCertificateFile(dir), 0);
  const std::vector<uint8_t> der = ReadFileBytes(dir.File("c.der"));
  PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                                     static_cast<DWORD>(der.size()));
  ASSERT_NE(cert, nullptr);
  std::u16string container = UniqueName(u"{cert-key}");
  std::u16string provider = MS_ENH_RSA_AES_PROV_W;
  CRYPT_KEY_PROV_INFO info{container.data(), provider.data(), PROV_RSA_AES, 0, 0, nullptr, AT_SIGNATURE};
  ASSERT_TRUE(CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));

  HCRYPTPROV prov = 0;
  DWORD key_spec = 0;
  BOOL free_prov = FALSE;
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &prov, &key_spec, &free_prov));
  EXPECT_EQ(LastError(), Code(NTE_BAD_KEYSET));  // no container yet

  Prov owner;
  ASSERT_TRUE(
      CryptAcquireContextW(&owner.h, container.c_str(), provider.c_str(), PROV_RSA_AES, CRYPT_NEWKEYSET));
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &prov, &key_spec, &free_prov));
  EXPECT_EQ(LastError(), Code(NTE_NO_KEY));  // the container lacks the key

  KeyH other;
  ASSERT_TRUE(CryptGenKey(owner.h, AT_KEYEXCHANGE, KeyLengthFlags(512), &other.h));
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &prov, &key_spec, &free_prov));
  EXPECT_EQ(LastError(), Code(NTE_NO_KEY));  // only the other key specification

  KeyH key;
  ASSERT_TRUE(CryptGenKey(owner.h, AT_SIGNATURE, KeyLengthFlags(512), &key.h));
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &prov, &key_spec, &free_prov));
  EXPECT_EQ(key_spec, AT_SIGNATURE);
  DWORD size = 0;
  ASSERT_TRUE(CryptGetProvParam(prov, PP_CONTAINER, nullptr, &size, 0));
  std::vector<char> name(size);
  ASSERT_TRUE(CryptGetProvParam(prov, PP_CONTAINER, reinterpret_cast<BYTE*>(name.data()), &size, 0));
  EXPECT_EQ(std::string(name.data()).rfind("{cert-key}", 0), 0u);
  EXPECT_TRUE(CryptReleaseContext(prov, 0));

  // The certificate's own key is not the one generated here.
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(cert, CRYPT_ACQUIRE_COMPARE_KEY_FLAG, nullptr, &prov, &key_spec,
                                                 &free_prov));
  EXPECT_TRUE(CertFreeCertificateContext(cert));
}

}  // namespace
}  // namespace tessaline::test
