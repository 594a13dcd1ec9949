// The vendor provider: SM2 keys, blobs and signatures, and the vendor
// import blobs, checked with the openssl command line.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/base/ByteView.h"
#include "tests/crypt/CryptFixture.h"
#include "tests/crypt_support/RecordingProvider.h"

namespace tessaline::test {
namespace {

using tessaline::ByteView;

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t offset, size_t size) {
  return std::vector<uint8_t>(bytes.begin() + offset, bytes.begin() + offset + size);
}

// Big-endian magnitude padded to 32 bytes.
std::vector<uint8_t> Pad32(ByteView integer) {
  std::vector<uint8_t> value(integer.data(), integer.data() + integer.size());
  while (!value.empty() && value.front() == 0) value.erase(value.begin());
  value.insert(value.begin(), 32 - value.size(), 0);
  return value;
}

// openssl's SM2 ciphertext, SEQUENCE { x, y, C3, C2 }, as raw C1 || C3 || C2.
std::vector<uint8_t> RawC1C3C2(const std::vector<uint8_t>& der) {
  ByteView in(der.data(), der.size()), sequence, x, y, c3, c2;
  EXPECT_TRUE(in.ReadDer(0x30, &sequence) && sequence.ReadDer(0x02, &x) && sequence.ReadDer(0x02, &y) &&
              sequence.ReadDer(0x04, &c3) && sequence.ReadDer(0x04, &c2));
  std::vector<uint8_t> raw = Pad32(x);
  const std::vector<uint8_t> y32 = Pad32(y);
  raw.insert(raw.end(), y32.begin(), y32.end());
  raw.insert(raw.end(), c3.data(), c3.data() + c3.size());
  raw.insert(raw.end(), c2.data(), c2.data() + c2.size());
  return raw;
}

std::vector<uint8_t> ToC1C2C3(const std::vector<uint8_t>& c1c3c2) {
  std::vector<uint8_t> out(c1c3c2.begin(), c1c3c2.begin() + 64);
  out.insert(out.end(), c1c3c2.begin() + 96, c1c3c2.end());
  out.insert(out.end(), c1c3c2.begin() + 64, c1c3c2.begin() + 96);
  return out;
}

std::vector<uint8_t> Sm2Blob(const std::vector<uint8_t>& ciphertext) {
  VENDOR_SM2_IMPORT_BLOB blob{};
  blob.hdr = {static_cast<BYTE>(PRIVATEKEYBLOB), CUR_BLOB_VERSION, VENDOR_BLOB_RESERVED, CALG_SM2_KEYX};
  blob.aiKeyAlg = CALG_SM2_KEYX;
  blob.dwCipherBitLen = static_cast<DWORD>(ciphertext.size() * 8);
  blob.pbCipher = ciphertext.data();
  const auto* bytes = reinterpret_cast<const uint8_t*>(&blob);
  return std::vector<uint8_t>(bytes, bytes + sizeof(blob));
}

// The X || Y of an SM2 public key blob, big-endian.
std::vector<uint8_t> BlobPoint(const std::vector<uint8_t>& blob) {
  std::vector<uint8_t> point = Reversed(Slice(blob, SM2_PUBLICKEYBLOB_X_OFFSET, 32));
  const std::vector<uint8_t> y = Reversed(Slice(blob, SM2_PUBLICKEYBLOB_Y_OFFSET, 32));
  point.insert(point.end(), y.begin(), y.end());
  return point;
}

class Sm2Test : public testing::Test {
 protected:
  void SetUp() override {
    name_ = UniqueName(u"sm2");
    Prov created;
    ASSERT_TRUE(CryptAcquireContextW(&created.h, name_.c_str(), TL_SM2_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    // Later calls reach the container the way the vendor route does.
    ASSERT_TRUE(CryptAcquireContextW(&prov_.h, name_.c_str(), TL_SM2_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  }

  // An SM2 key pair and a self-signed certificate for it, made by openssl;
  // returns the certificate's DER and the key's public point.
  void MakeEncryptionCertificate(std::vector<uint8_t>* certificate, std::vector<uint8_t>* point) {
    ASSERT_EQ(RunCommand("openssl genpkey -algorithm SM2 -out enc.pem && "
                         "openssl req -new -x509 -key enc.pem -subj /CN=enc -days 1 -sm3 "
                         "-sigopt distid:1234567812345678 -outform DER -out enc.cer && "
                         "openssl ec -in enc.pem -outform DER -out enc.der && "
                         "openssl pkey -in enc.pem -pubout -outform DER -out encpub.der",
                         dir_.path())
                  .exit_code,
              0);
    *certificate = ReadFileBytes(dir_.File("enc.cer"));
    const std::vector<uint8_t> spki = ReadFileBytes(dir_.File("encpub.der"));
    *point = std::vector<uint8_t>(spki.end() - 64, spki.end());
  }

  // Encrypts PLAIN to the container's exchange key with openssl.
  std::vector<uint8_t> EncryptToExchangeKey(const std::vector<uint8_t>& plain) {
    EXPECT_TRUE(WritePublicKeyPem(prov_.h, AT_KEYEXCHANGE, dir_, "tmp.pem"));
    WriteFileBytes(dir_.File("plain"), plain);
    const auto enc = RunCommand("openssl pkeyutl -encrypt -pubin -inkey tmp.pem -in plain -out ct", dir_.path());
    EXPECT_EQ(enc.exit_code, 0) << enc.output;
    return RawC1C3C2(ReadFileBytes(dir_.File("ct")));
  }

  TempDir dir_;
  std::u16string name_;
  Prov prov_;
};

TEST_F(Sm2Test, PublicKeyBlobLayout) {
  KeyH key;
  ASSERT_TRUE(CryptGenKey(prov_.h, CALG_SM2_SIGN, KeyLengthFlags(256), &key.h));
  const std::vector<uint8_t> blob = Export(key.h, PUBLICKEYBLOB);
  ASSERT_EQ(blob.size(), SM2_PUBLICKEYBLOB_SIZE);
  EXPECT_EQ(Slice(blob, 0, 12), (std::vector<uint8_t>{0x06, 0x02, 0, 0, 0x00, 0x3E, 0, 0, 0x00, 0x01, 0, 0}));
  EXPECT_EQ(Slice(blob, 44, 32), std::vector<uint8_t>(32, 0));
  EXPECT_EQ(Slice(blob, 108, 32), std::vector<uint8_t>(32, 0));
  // The same point as the public key info, whose key is 04 || X || Y.
  const std::vector<uint8_t> spki = PublicKeyInfoDer(prov_.h, AT_SIGNATURE);
  EXPECT_EQ(std::vector<uint8_t>(spki.end() - 64, spki.end()), BlobPoint(blob));
  DWORD size = 0;
  EXPECT_FALSE(CryptExportKey(key.h, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
}

TEST_F(Sm2Test, SignaturesVerifyWithOpensslDistinguishingId) {
  KeyH key;
  ASSERT_TRUE(CryptGenKey(prov_.h, CALG_SM2_SIGN, KeyLengthFlags(256), &key.h));
  ASSERT_TRUE(WritePublicKeyPem(prov_.h, AT_SIGNATURE, dir_, "pub.pem"));
  for (size_t length : {size_t{0}, size_t{3}, size_t{20000}}) {
    std::vector<uint8_t> data(length);
    for (size_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(i ^ 0x5C);
    WriteFileBytes(dir_.File("data"), data);
    const std::vector<uint8_t> raw = SignData(prov_.h, CALG_SM3, AT_SIGNATURE, data);
    ASSERT_EQ(raw.size(), 64u);
    // r and s are each little-endian; openssl reads SEQUENCE { r, s }.
    DerWriter der;
    const size_t sequence = der.Open(0x30);
    der.AddUnsignedInteger(Reversed(Slice(raw, 0, 32)));
    der.AddUnsignedInteger(Reversed(Slice(raw, 32, 32)));
    der.Close(sequence);
    WriteFileBytes(dir_.File("sig"), der.Finish());
    const auto verify = RunCommand(
        "openssl dgst -sm3 -verify pub.pem -signature sig -sigopt distid:1234567812345678 data", dir_.path());
    EXPECT_EQ(verify.exit_code, 0) << length << ": " << verify.output;
    // The signature is over Z with that identifier, not an empty one.
    EXPECT_NE(RunCommand("openssl dgst -sm3 -verify pub.pem -signature sig -sigopt distid: data", dir_.path())
                  .exit_code,
              0);
  }
  HashH sha1;
  ASSERT_TRUE(CryptCreateHash(prov_.h, CALG_SHA1, 0, 0, &sha1.h));
  DWORD size = 0;
  EXPECT_FALSE(CryptSignHashW(sha1.h, AT_SIGNATURE, nullptr, 0, nullptr, &size));
  EXPECT_EQ(LastError(), Code(NTE_BAD_ALGID));
}

TEST_F(Sm2Test, VendorBlobInstallsTheEncryptionKeyPair) {
  KeyH temporary;
  ASSERT_TRUE(CryptGenKey(prov_.h, CALG_SM2_KEYX, KeyLengthFlags(256), &temporary.h));
  std::vector<uint8_t> certificate, point;
  ASSERT_NO_FATAL_FAILURE(MakeEncryptionCertificate(&certificate, &point));
  const std::vector<uint8_t> sec1 = ReadFileBytes(dir_.File("enc.der"));
  ASSERT_EQ(Slice(sec1, 0, 7), (std::vector<uint8_t>{0x30, 0x77, 0x02, 0x01, 0x01, 0x04, 0x20}));

  // The private scalar, or a whole DER key, as the plaintext.
  for (const auto& plain : {Slice(sec1, 7, 32), sec1}) {
    const std::vector<uint8_t> ciphertext = EncryptToExchangeKey(plain);
    const std::vector<uint8_t> blob = Sm2Blob(ciphertext);
    ASSERT_EQ(blob.size(), 16 + sizeof(void*));
    KeyH installed;
    ASSERT_TRUE(CryptImportKey(prov_.h, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &installed.h));
    ASSERT_TRUE(CryptSetKeyParam(installed.h, KP_CERTIFICATE, certificate.data(), 0));

    Prov reopened;
    ASSERT_TRUE(CryptAcquireContextW(&reopened.h, name_.c_str(), TL_SM2_PROV_W, PROV_RSA_FULL, 0));
    KeyH exchange;
    ASSERT_TRUE(CryptGetUserKey(reopened.h, AT_KEYEXCHANGE, &exchange.h));
    EXPECT_EQ(BlobPoint(Export(exchange.h, PUBLICKEYBLOB)), point);
    EXPECT_EQ(GetKeyParam(exchange.h, KP_CERTIFICATE), certificate);
    DWORD size = 0;
    EXPECT_FALSE(CryptExportKey(exchange.h, 0, PRIVATEKEYBLOB, 0, nullptr, &size));

    // The next import needs the temporary key again.
    KeyH fresh;
    ASSERT_TRUE(CryptGenKey(prov_.h, CALG_SM2_KEYX, 0, &fresh.h));
  }
}

TEST_F(Sm2Test, VendorBlobOrderAndFailures) {
  KeyH temporary;
  ASSERT_TRUE(CryptGenKey(prov_.h, CALG_SM2_KEYX, 0, &temporary.h));
  const std::vector<uint8_t> scalar(32, 0x07);
  const std::vector<uint8_t> c1c3c2 = EncryptToExchangeKey(scalar);
  const std::vector<uint8_t> c1c2c3 = ToC1C2C3(c1c3c2);
  std::vector<uint8_t> tampered = c1c3c2;
  tampered.back() ^= 1;
  const std::vector<uint8_t> too_short(c1c3c2.begin(), c1c3c2.begin() + 96);

  struct Case {
    const char* what;
    const std::vector<uint8_t>* ciphertext;
    DWORD error;
  };
  for (const Case& c : {Case{"C1C2C3 order", &c1c2c3, Code(NTE_BAD_DATA)},
                        Case{"tampered C2", &tampered, Code(NTE_BAD_DATA)},
                        Case{"no C2", &too_short, Code(NTE_BAD_DATA)}}) {
    const std::vector<uint8_t> blob = Sm2Blob(*c.ciphertext);
    KeyH key;
    EXPECT_FALSE(CryptImportKey(prov_.h, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &key.h)) << c.what;
    EXPECT_EQ(LastError(), c.error) << c.what;
  }
  // The failed imports left the temporary key in place.
  KeyH still;
  ASSERT_TRUE(CryptGetUserKey(prov_.h, AT_KEYEXCHANGE, &still.h));
  EXPECT_EQ(Export(still.h, PUBLICKEYBLOB), Export(temporary.h, PUBLICKEYBLOB));

  // A null payload address and a blob on an RSA provider are refused.
  std::vector<uint8_t> null_blob = Sm2Blob(c1c3c2);
  std::fill(null_blob.end() - sizeof(void*), null_blob.end(), 0);
  KeyH key;
  EXPECT_FALSE(CryptImportKey(prov_.h, null_blob.data(), static_cast<DWORD>(null_blob.size()), 0, 0, &key.h));
  EXPECT_EQ(LastError(), Code(NTE_BAD_DATA));
  Prov rsa;
  ASSERT_TRUE(CryptAcquireContextW(&rsa.h, nullptr, MS_STRONG_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  const std::vector<uint8_t> blob = Sm2Blob(c1c3c2);
  EXPECT_FALSE(CryptImportKey(rsa.h, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &key.h));

  // The ciphertext in the order the provider reads imports.
  ASSERT_TRUE(CryptImportKey(prov_.h, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &key.h));
}

TEST_F(Sm2Test, VendorRsaBlobInstallsTheEncryptionKeyPair) {
  KeyH temporary;
  ASSERT_TRUE(CryptGenKey(prov_.h, AT_KEYEXCHANGE, KeyLengthFlags(1024), &temporary.h));
  ASSERT_TRUE(WritePublicKeyPem(prov_.h, AT_KEYEXCHANGE, dir_, "tmp.pem"));
  std::vector<uint8_t> session(24);
  for (size_t i = 0; i < session.size(); ++i) session[i] = static_cast<uint8_t>(0xA0 + i);
  WriteFileBytes(dir_.File("session"), session);
  const auto made = RunCommand(
      "openssl genrsa -out enc.pem 1024 2>/dev/null && "
      "openssl rsa -in enc.pem -traditional -outform DER -out enc.der && "
      "openssl rsa -in enc.pem -RSAPublicKey_out -outform DER -out encpub.der && "
      "openssl req -new -x509 -key enc.pem -subj /CN=enc -days 1 -outform DER -out enc.cer && "
      "openssl enc -des-ede3 -K " + Hex(session) + " -in enc.der -out encpriv && "
      "openssl pkeyutl -encrypt -pubin -inkey tmp.pem -in session -out encsession",
      dir_.path());
  ASSERT_EQ(made.exit_code, 0) << made.output;
  const std::vector<uint8_t> certificate = ReadFileBytes(dir_.File("enc.cer"));

  // SEQUENCE { INTEGER 1, OID rsaEncryption, OID 1.3.6.1.4.1.4929.1.7,
  //            OCTET STRING session key, OCTET STRING private key }
  DerWriter der;
  const size_t sequence = der.Open(0x30);
  der.AddBytes(std::vector<uint8_t>{0x02, 0x01, 0x01});
  der.AddBytes(std::vector<uint8_t>{0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01});
  der.AddBytes(std::vector<uint8_t>{0x06, 0x09, 0x2B, 0x06, 0x01, 0x04, 0x01, 0xA6, 0x41, 0x01, 0x07});
  der.AddElement(0x04, ReadFileBytes(dir_.File("encsession")));
  der.AddElement(0x04, ReadFileBytes(dir_.File("encpriv")));
  der.Close(sequence);
  const std::vector<uint8_t> payload = der.Finish();

  VENDOR_RSA_IMPORT_BLOB blob{};
  blob.hdr = {static_cast<BYTE>(PRIVATEKEYBLOB), CUR_BLOB_VERSION, VENDOR_BLOB_RESERVED, CALG_RSA_KEYX};
  blob.aiKeyAlg = CALG_RSA_KEYX;
  blob.dwKeyBitLen = 1024;
  blob.dwDataBitLen = static_cast<DWORD>(payload.size() * 8);
  blob.pbData = payload.data();
  KeyH installed;
  ASSERT_TRUE(CryptImportKey(prov_.h, reinterpret_cast<const BYTE*>(&blob), sizeof(blob), 0, CRYPT_EXPORTABLE,
                             &installed.h));
  ASSERT_TRUE(CryptSetKeyParam(installed.h, KP_CERTIFICATE, certificate.data(), 0));

  DWORD size = 0;
  ASSERT_TRUE(CryptExportPublicKeyInfo(prov_.h, AT_KEYEXCHANGE, X509_ASN_ENCODING, nullptr, &size));
  std::vector<uint8_t> buffer(size);
  auto* info = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(buffer.data());
  ASSERT_TRUE(CryptExportPublicKeyInfo(prov_.h, AT_KEYEXCHANGE, X509_ASN_ENCODING, info, &size));
  EXPECT_EQ(std::vector<uint8_t>(info->PublicKey.pbData, info->PublicKey.pbData + info->PublicKey.cbData),
            ReadFileBytes(dir_.File("encpub.der")));
  KeyH exchange;
  ASSERT_TRUE(CryptGetUserKey(prov_.h, AT_KEYEXCHANGE, &exchange.h));
  EXPECT_EQ(GetKeyParam(exchange.h, KP_CERTIFICATE), certificate);
  EXPECT_FALSE(Export(exchange.h, PRIVATEKEYBLOB).empty());  // imported with CRYPT_EXPORTABLE
}

TEST_F(Sm2Test, RecordingProviderAcceptingOnlyC1C2C3) {
  const std::u16string provider_name = u"Test SM2 Provider (C1C2C3)";
  auto provider = RecordingProvider::Install(provider_name, PROV_RSA_FULL, crypt::Flavor::kVendor);
  provider->AcceptSm2Order(RecordingProvider::Sm2Order::kC1C2C3);
  const std::u16string name = UniqueName(u"order");
  Prov prov;
  ASSERT_TRUE(CryptAcquireContextW(&prov.h, name.c_str(), provider_name.c_str(), PROV_RSA_FULL, CRYPT_NEWKEYSET));
  KeyH temporary;
  ASSERT_TRUE(CryptGenKey(prov.h, CALG_SM2_KEYX, 0, &temporary.h));
  ASSERT_TRUE(WritePublicKeyPem(prov.h, AT_KEYEXCHANGE, dir_, "tmp.pem"));
  WriteFileBytes(dir_.File("plain"), std::vector<uint8_t>(32, 0x09));
  ASSERT_EQ(RunCommand("openssl pkeyutl -encrypt -pubin -inkey tmp.pem -in plain -out ct", dir_.path()).exit_code, 0);
  const std::vector<uint8_t> c1c3c2 = RawC1C3C2(ReadFileBytes(dir_.File("ct")));
  const std::vector<uint8_t> c1c2c3 = ToC1C2C3(c1c3c2);
  const std::vector<uint8_t> refused = Sm2Blob(c1c3c2), accepted = Sm2Blob(c1c2c3);
  KeyH key;
  EXPECT_FALSE(CryptImportKey(prov.h, refused.data(), static_cast<DWORD>(refused.size()), 0, 0, &key.h));
  ASSERT_TRUE(CryptImportKey(prov.h, accepted.data(), static_cast<DWORD>(accepted.size()), 0, 0, &key.h));
  EXPECT_EQ(provider->CallsOf(crypt::Call::kImportKey).size(), 2u);
  RecordingProvider::Uninstall(*provider);
  HCRYPTPROV gone = 0;
  EXPECT_FALSE(CryptAcquireContextW(&gone, nullptr, provider_name.c_str(), PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
}

}  // namespace
}  // namespace tessaline::test
