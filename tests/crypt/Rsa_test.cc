// RSA keys in the software providers, checked with the openssl command line.
#include <gtest/gtest.h>

#include "tests/crypt/CryptFixture.h"

namespace tessaline::test {
namespace {

class RsaTest : public testing::Test {
 protected:
  void SetUp() override {
    name_ = UniqueName(u"rsa");
    ASSERT_TRUE(CryptAcquireContextW(&prov_.h, name_.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_NEWKEYSET));
  }
  TempDir dir_;
  std::u16string name_;
  Prov prov_;
};

TEST_F(RsaTest, SignaturesVerifyWithOpenssl) {
  struct Case {
    ALG_ID hash;
    const char* digest_option;
    DWORD bits;
    DWORD key_spec;
  };
  const Case cases[] = {
      {CALG_SHA1, "-sha1", 2048, AT_SIGNATURE},
      {CALG_MD5, "-md5", 1024, AT_KEYEXCHANGE},
  };
  std::vector<uint8_t> data(40000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  WriteFileBytes(dir_.File("data"), data);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.digest_option);
    KeyH key;
    ASSERT_TRUE(CryptGenKey(prov_.h, c.key_spec, KeyLengthFlags(c.bits), &key.h));
    ASSERT_TRUE(WritePublicKeyPem(prov_.h, c.key_spec, dir_, "pub.pem"));
    const std::vector<uint8_t> signature = SignData(prov_.h, c.hash, c.key_spec, data);
    ASSERT_EQ(signature.size(), c.bits / 8);
    // The provider's signature is little-endian; openssl reads big-endian.
    WriteFileBytes(dir_.File("sig"), Reversed(signature));
    const auto verify = RunCommand(std::string("openssl dgst ") + c.digest_option +
                                       " -verify pub.pem -signature sig data",
                                   dir_.path());
    EXPECT_EQ(verify.exit_code, 0) << verify.output;
    EXPECT_NE(verify.output.find("Verified OK"), std::string::npos);
    // The untouched byte order does not verify.
    WriteFileBytes(dir_.File("sig"), signature);
    EXPECT_NE(RunCommand(std::string("openssl dgst ") + c.digest_option + " -verify pub.pem -signature sig data",
                         dir_.path())
                  .exit_code,
              0);
  }
}

TEST_F(RsaTest, PublicKeyInfoHoldsTheDerRsaPublicKey) {
  KeyH key;
  ASSERT_TRUE(CryptGenKey(prov_.h, AT_KEYEXCHANGE, KeyLengthFlags(1024), &key.h));
  DWORD size = 0;
  ASSERT_TRUE(CryptExportPublicKeyInfo(prov_.h, AT_KEYEXCHANGE, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, nullptr,
                                       &size));
  std::vector<uint8_t> buffer(size);
  auto* info = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(buffer.data());
  DWORD small = size - 1;
  EXPECT_FALSE(CryptExportPublicKeyInfo(prov_.h, AT_KEYEXCHANGE, X509_ASN_ENCODING, info, &small));
  EXPECT_EQ(LastError(), ERROR_MORE_DATA);
  ASSERT_TRUE(CryptExportPublicKeyInfo(prov_.h, AT_KEYEXCHANGE, X509_ASN_ENCODING, info, &size));
  EXPECT_STREQ(info->Algorithm.pszObjId, "1.2.840.113549.1.1.1");
  EXPECT_EQ(std::vector<uint8_t>(info->Algorithm.Parameters.pbData,
                                 info->Algorithm.Parameters.pbData + info->Algorithm.Parameters.cbData),
            (std::vector<uint8_t>{0x05, 0x00}));
  // Pointers stay inside the caller's buffer.
  EXPECT_GE(info->PublicKey.pbData, buffer.data());
  EXPECT_LE(info->PublicKey.pbData + info->PublicKey.cbData, buffer.data() + buffer.size());
  const std::vector<uint8_t> rsa_public_key(info->PublicKey.pbData, info->PublicKey.pbData + info->PublicKey.cbData);
  WriteFileBytes(dir_.File("rsa.der"), rsa_public_key);
  const auto parsed = RunCommand("openssl rsa -RSAPublicKey_in -inform DER -in rsa.der -noout -text", dir_.path());
  EXPECT_EQ(parsed.exit_code, 0) << parsed.output;
  EXPECT_NE(parsed.output.find("1024 bit"), std::string::npos) << parsed.output;

  // The public key blob carries the same modulus, least significant byte first.
  const std::vector<uint8_t> blob = Export(key.h, PUBLICKEYBLOB);
  ASSERT_EQ(blob.size(), 20u + 128u);
  EXPECT_EQ(std::vector<uint8_t>(blob.begin(), blob.begin() + 20),
            (std::vector<uint8_t>{0x06, 0x02, 0, 0, 0x00, 0xA4, 0, 0, 'R', 'S', 'A', '1', 0x00, 0x04, 0, 0, 0x01,
                                  0x00, 0x01, 0x00}));
  const std::vector<uint8_t> modulus = Reversed(std::vector<uint8_t>(blob.begin() + 20, blob.end()));
  EXPECT_NE(Hex(rsa_public_key).find(Hex(modulus)), std::string::npos);
}

TEST_F(RsaTest, DecryptsPkcs1CiphertextMadeByOpenssl) {
  KeyH key;
  ASSERT_TRUE(CryptGenKey(prov_.h, AT_KEYEXCHANGE, KeyLengthFlags(1024), &key.h));
  ASSERT_TRUE(WritePublicKeyPem(prov_.h, AT_KEYEXCHANGE, dir_, "pub.pem"));
  const std::vector<uint8_t> secret = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
  WriteFileBytes(dir_.File("secret"), secret);
  ASSERT_EQ(RunCommand("openssl pkeyutl -encrypt -pubin -inkey pub.pem -in secret -out ct", dir_.path()).exit_code, 0);
  std::vector<uint8_t> data = Reversed(ReadFileBytes(dir_.File("ct")));
  DWORD size = static_cast<DWORD>(data.size());
  ASSERT_TRUE(CryptDecrypt(key.h, 0, TRUE, 0, data.data(), &size));
  data.resize(size);
  EXPECT_EQ(data, secret);

  std::vector<uint8_t> garbage(128, 0x5A);
  size = 128;
  EXPECT_FALSE(CryptDecrypt(key.h, 0, TRUE, 0, garbage.data(), &size));
  EXPECT_EQ(LastError(), Code(NTE_BAD_DATA));
}

TEST_F(RsaTest, PrivateKeyBlobOnlyForExportableKeys) {
  KeyH locked;
  ASSERT_TRUE(CryptGenKey(prov_.h, AT_SIGNATURE, KeyLengthFlags(512), &locked.h));
  DWORD size = 0;
  EXPECT_FALSE(CryptExportKey(locked.h, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
  EXPECT_EQ(LastError(), Code(NTE_BAD_KEY_STATE));
  // Reloading the key from its container keeps it locked.
  KeyH reloaded;
  ASSERT_TRUE(CryptGetUserKey(prov_.h, AT_SIGNATURE, &reloaded.h));
  EXPECT_FALSE(CryptExportKey(reloaded.h, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
  EXPECT_EQ(LastError(), Code(NTE_BAD_KEY_STATE));

  KeyH open;
  ASSERT_TRUE(CryptGenKey(prov_.h, AT_KEYEXCHANGE, KeyLengthFlags(1024) | CRYPT_EXPORTABLE, &open.h));
  const std::vector<uint8_t> blob = Export(open.h, PRIVATEKEYBLOB);
  ASSERT_EQ(blob.size(), 20u + 9 * 64);
  EXPECT_EQ(blob[0], PRIVATEKEYBLOB);
  EXPECT_EQ(std::string(blob.begin() + 8, blob.begin() + 12), "RSA2");

  // The blob imports into another container and signs like the original.
  const std::u16string other_name = UniqueName(u"rsa");
  Prov other;
  ASSERT_TRUE(CryptAcquireContextW(&other.h, other_name.c_str(), MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
  KeyH imported;
  ASSERT_TRUE(CryptImportKey(other.h, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &imported.h));
  EXPECT_FALSE(CryptExportKey(imported.h, 0, PRIVATEKEYBLOB, 0, nullptr, &size));  // imported without the flag
  ASSERT_TRUE(WritePublicKeyPem(prov_.h, AT_KEYEXCHANGE, dir_, "pub.pem"));
  const std::vector<uint8_t> data = {'h', 'e', 'l', 'l', 'o'};
  WriteFileBytes(dir_.File("data"), data);
  WriteFileBytes(dir_.File("sig"), Reversed(SignData(other.h, CALG_SHA1, AT_KEYEXCHANGE, data)));
  EXPECT_EQ(RunCommand("openssl dgst -sha1 -verify pub.pem -signature sig data", dir_.path()).exit_code, 0);
}

TEST_F(RsaTest, MalformedKeyBlobsAreRefused) {
  KeyH key;
  ASSERT_TRUE(CryptGenKey(prov_.h, AT_KEYEXCHANGE, KeyLengthFlags(512) | CRYPT_EXPORTABLE, &key.h));
  const std::vector<uint8_t> good = Export(key.h, PRIVATEKEYBLOB);
  struct Case {
    const char* what;
    std::vector<uint8_t> blob;
    DWORD error;
  };
  std::vector<Case> cases = {
      {"empty header", std::vector<uint8_t>(good.begin(), good.begin() + 4), Code(NTE_BAD_DATA)},
      {"truncated", std::vector<uint8_t>(good.begin(), good.end() - 1), Code(NTE_BAD_DATA)},
      {"unknown type", good, Code(NTE_BAD_TYPE)},
      {"bad version", good, Code(NTE_BAD_VER)},
      {"bad magic", good, Code(NTE_BAD_DATA)},
      {"odd length", good, Code(NTE_BAD_DATA)},
  };
  cases[2].blob[0] = 0x42;
  cases[3].blob[1] = 0x03;
  cases[4].blob[11] = '1';
  cases[5].blob[12] = 0x01;  // 513 bits
  for (const Case& c : cases) {
    KeyH imported;
    EXPECT_FALSE(CryptImportKey(prov_.h, c.blob.data(), static_cast<DWORD>(c.blob.size()), 0, 0, &imported.h))
        << c.what;
    EXPECT_EQ(LastError(), c.error) << c.what;
  }
}

TEST_F(RsaTest, HashAndSignRules) {
  KeyH key;
  ASSERT_TRUE(CryptGenKey(prov_.h, AT_SIGNATURE, KeyLengthFlags(512), &key.h));
  HashH sm3;
  EXPECT_FALSE(CryptCreateHash(prov_.h, CALG_SM3, 0, 0, &sm3.h));
  EXPECT_EQ(LastError(), Code(NTE_BAD_ALGID));

  HashH hash;
  ASSERT_TRUE(CryptCreateHash(prov_.h, CALG_SHA1, 0, 0, &hash.h));
  const BYTE data[] = "abc";
  ASSERT_TRUE(CryptHashData(hash.h, data, 3, 0));
  DWORD size = 0;
  EXPECT_FALSE(CryptSignHashW(hash.h, AT_KEYEXCHANGE, nullptr, 0, nullptr, &size));
  EXPECT_EQ(LastError(), Code(NTE_NO_KEY));
  ASSERT_TRUE(CryptSignHashW(hash.h, AT_SIGNATURE, nullptr, 0, nullptr, &size));
  EXPECT_EQ(size, 64u);
  std::vector<uint8_t> signature(size);
  DWORD small = 10;
  EXPECT_FALSE(CryptSignHashW(hash.h, AT_SIGNATURE, nullptr, 0, signature.data(), &small));
  EXPECT_EQ(LastError(), ERROR_MORE_DATA);
  EXPECT_EQ(small, 64u);
  ASSERT_TRUE(CryptSignHashW(hash.h, AT_SIGNATURE, nullptr, 0, signature.data(), &size));
  EXPECT_FALSE(CryptHashData(hash.h, data, 3, 0));
  EXPECT_EQ(LastError(), Code(NTE_BAD_HASH_STATE));
}

}  // namespace
}  // namespace tessaline::test
