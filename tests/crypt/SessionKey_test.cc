// Plain session-key import through the exponent-one key: the key material
// travels in a SIMPLEBLOB under a key whose private operation is the
// identity, then decrypts data made by openssl enc.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/crypt/CryptFixture.h"

namespace tessaline::test {
namespace {

// The exchange key of the container, re-imported with every exponent set
// to one.
bool CreateExponentOneKey(HCRYPTPROV prov, HCRYPTKEY* out) {
  KeyH generated;
  if (!CryptGenKey(prov, AT_KEYEXCHANGE, CRYPT_EXPORTABLE, &generated.h)) return false;
  std::vector<uint8_t> blob = Export(generated.h, PRIVATEKEYBLOB);
  if (blob.size() < 20) return false;
  DWORD bits = 0;
  std::memcpy(&bits, blob.data() + 12, 4);
  const size_t full = bits / 8, half = bits / 16;
  auto set_one = [&](size_t offset, size_t size) {
    std::fill(blob.begin() + offset, blob.begin() + offset + size, 0);
    blob[offset] = 1;
  };
  set_one(16, 4);                           // public exponent
  set_one(20 + full + 2 * half, half);      // exponent 1
  set_one(20 + full + 3 * half, half);      // exponent 2
  set_one(20 + full + 5 * half, full);      // private exponent
  return CryptImportKey(prov, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, out) != FALSE;
}

// SIMPLEBLOB of KEY under the exponent-one key: a PKCS#1 v1.5 type-2
// block stored least significant byte first.
std::vector<uint8_t> SimpleBlob(HCRYPTPROV prov, HCRYPTKEY exponent_one, const std::vector<uint8_t>& key) {
  const DWORD wrap_alg = GetKeyDword(exponent_one, KP_ALGID);
  const size_t e = GetKeyDword(exponent_one, KP_KEYLEN) / 8;
  std::vector<uint8_t> blob(e + 12, 0);
  blob[0] = SIMPLEBLOB;
  blob[1] = 2;
  const ALG_ID alg = CALG_3DES;
  std::memcpy(blob.data() + 4, &alg, 4);
  std::memcpy(blob.data() + 8, &wrap_alg, 4);
  for (size_t i = 0; i < key.size(); ++i) blob[12 + i] = key[key.size() - 1 - i];
  const size_t random_size = e - key.size() - 3;
  EXPECT_TRUE(CryptGenRandom(prov, static_cast<DWORD>(random_size), blob.data() + 12 + key.size() + 1));
  for (size_t i = 0; i < random_size; ++i) {
    if (blob[12 + key.size() + 1 + i] == 0) blob[12 + key.size() + 1 + i] = 1;
  }
  blob[e + 10] = 0x02;
  return blob;
}

class SessionKeyTest : public testing::Test {
 protected:
  void SetUp() override {
    scratch_ = UniqueName(u"scratch");
    ASSERT_TRUE(CryptAcquireContextW(&prov_.h, scratch_.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    ASSERT_TRUE(CreateExponentOneKey(prov_.h, &exponent_one_.h));
    for (size_t i = 0; i < key_.size(); ++i) key_[i] = static_cast<uint8_t>(0x11 * (i % 15) + i);
  }
  void TearDown() override {
    HCRYPTPROV ignored = 0;
    EXPECT_TRUE(CryptAcquireContextW(&ignored, scratch_.c_str(), MS_ENHANCED_PROV_W, PROV_RSA_FULL,
                                     CRYPT_DELETEKEYSET));
  }

  std::vector<uint8_t> Decrypt(HCRYPTKEY key, std::vector<uint8_t> data) {
    DWORD size = static_cast<DWORD>(data.size());
    if (!CryptDecrypt(key, 0, TRUE, 0, data.data(), &size)) return {0xEE};
    data.resize(size);
    return data;
  }

  TempDir dir_;
  std::u16string scratch_;
  Prov prov_;
  KeyH exponent_one_;
  std::vector<uint8_t> key_ = std::vector<uint8_t>(24);
};

TEST_F(SessionKeyTest, ImportedKeyDecryptsOpensslEcbOutput) {
  EXPECT_EQ(GetKeyDword(exponent_one_.h, KP_ALGID), CALG_RSA_KEYX);
  const std::vector<uint8_t> blob = SimpleBlob(prov_.h, exponent_one_.h, key_);
  KeyH session;
  ASSERT_TRUE(CryptImportKey(prov_.h, blob.data(), static_cast<DWORD>(blob.size()), exponent_one_.h,
                             CRYPT_EXPORTABLE, &session.h));
  EXPECT_EQ(GetKeyDword(session.h, KP_ALGID), CALG_3DES);
  EXPECT_EQ(GetKeyDword(session.h, KP_KEYLEN), 192u);
  const DWORD ecb = CRYPT_MODE_ECB;
  ASSERT_TRUE(CryptSetKeyParam(session.h, KP_MODE, reinterpret_cast<const BYTE*>(&ecb), 0));

  // Lengths around the block size: padding of 1 to 8 bytes.
  for (size_t length : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{9}, size_t{600}}) {
    std::vector<uint8_t> plain(length);
    for (size_t i = 0; i < length; ++i) plain[i] = static_cast<uint8_t>(i * 31 + 5);
    WriteFileBytes(dir_.File("plain"), plain);
    const auto enc = RunCommand("openssl enc -des-ede3 -K " + Hex(key_) + " -in plain -out ct", dir_.path());
    ASSERT_EQ(enc.exit_code, 0) << enc.output;
    EXPECT_EQ(Decrypt(session.h, ReadFileBytes(dir_.File("ct"))), plain) << length;
  }
}

TEST_F(SessionKeyTest, CbcAcrossNonFinalCallsAndBadPadding) {
  const std::vector<uint8_t> blob = SimpleBlob(prov_.h, exponent_one_.h, key_);
  KeyH session;
  ASSERT_TRUE(
      CryptImportKey(prov_.h, blob.data(), static_cast<DWORD>(blob.size()), exponent_one_.h, 0, &session.h));
  const std::vector<uint8_t> iv = {8, 7, 6, 5, 4, 3, 2, 1};
  ASSERT_TRUE(CryptSetKeyParam(session.h, KP_IV, iv.data(), 0));
  std::vector<uint8_t> plain(100, 0x42);
  WriteFileBytes(dir_.File("plain"), plain);
  ASSERT_EQ(RunCommand("openssl enc -des-ede3-cbc -K " + Hex(key_) + " -iv " + Hex(iv) + " -in plain -out ct",
                       dir_.path())
                .exit_code,
            0);
  std::vector<uint8_t> ct = ReadFileBytes(dir_.File("ct"));
  ASSERT_EQ(ct.size(), 104u);
  std::vector<uint8_t> first(ct.begin(), ct.begin() + 48), second(ct.begin() + 48, ct.end());
  DWORD size = 48;
  ASSERT_TRUE(CryptDecrypt(session.h, 0, FALSE, 0, first.data(), &size));
  EXPECT_EQ(size, 48u);
  size = static_cast<DWORD>(second.size());
  ASSERT_TRUE(CryptDecrypt(session.h, 0, TRUE, 0, second.data(), &size));
  first.insert(first.end(), second.begin(), second.begin() + size);
  EXPECT_EQ(first, plain);

  // The chain restarts after a final call; a wrong key leaves bad padding.
  std::vector<uint8_t> wrong = ct;
  wrong[wrong.size() - 1] ^= 0x55;
  size = static_cast<DWORD>(wrong.size());
  EXPECT_FALSE(CryptDecrypt(session.h, 0, TRUE, 0, wrong.data(), &size));
  EXPECT_EQ(LastError(), Code(NTE_BAD_DATA));
  EXPECT_EQ(Decrypt(session.h, ct), plain);
  std::vector<uint8_t> partial(7);
  size = 7;
  EXPECT_FALSE(CryptDecrypt(session.h, 0, TRUE, 0, partial.data(), &size));
  EXPECT_EQ(LastError(), Code(NTE_BAD_DATA));
}

TEST_F(SessionKeyTest, SimpleBlobChecks) {
  std::vector<uint8_t> blob = SimpleBlob(prov_.h, exponent_one_.h, key_);
  KeyH session;
  EXPECT_FALSE(CryptImportKey(prov_.h, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &session.h));
  EXPECT_EQ(LastError(), Code(NTE_BAD_PUBLIC_KEY));
  std::vector<uint8_t> wrong_alg = blob;
  wrong_alg[4] = 0x01;  // not 3DES
  EXPECT_FALSE(
      CryptImportKey(prov_.h, wrong_alg.data(), static_cast<DWORD>(blob.size()), exponent_one_.h, 0, &session.h));
  EXPECT_EQ(LastError(), Code(NTE_BAD_ALGID));
  std::vector<uint8_t> bad_block = blob;
  bad_block[blob.size() - 2] = 0x01;  // block type 1 is not an encryption block
  EXPECT_FALSE(
      CryptImportKey(prov_.h, bad_block.data(), static_cast<DWORD>(blob.size()), exponent_one_.h, 0, &session.h));
  EXPECT_EQ(LastError(), Code(NTE_BAD_DATA));
  EXPECT_FALSE(
      CryptImportKey(prov_.h, blob.data(), static_cast<DWORD>(blob.size() - 1), exponent_one_.h, 0, &session.h));
  EXPECT_EQ(LastError(), Code(NTE_BAD_DATA));
}

}  // namespace
}  // namespace tessaline::test
