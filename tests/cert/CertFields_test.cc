// Certificate fields, names and extensions, checked against what the
// openssl command line prints for the same certificates.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/asn1/CryptDecodeObjectEx.h"
#include "platform/base/Utf.h"
#include "tests/cert/CertTestSupport.h"

namespace tessaline::test {
namespace {

constexpr DWORD kRecordName = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG | CERT_NAME_STR_NO_QUOTING_FLAG;

struct Context {
  PCCERT_CONTEXT cert = nullptr;
  explicit Context(const std::vector<uint8_t>& der)
      : cert(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                          static_cast<DWORD>(der.size()))) {}
  ~Context() { (void)CertFreeCertificateContext(cert); }
};

// OpenSSL's short names where the platform's differ.
std::string PlatformKeys(std::string text) {
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"ST=", "S="}, {"emailAddress=", "E="},
                                 {"street=", "STREET="}, {"serialNumber=", "SERIALNUMBER="}}) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
      if (at == 0 || (at >= 2 && text.compare(at - 2, 2, ", ") == 0)) text.replace(at, from.size(), to);
    }
  }
  return text;
}

TEST(CertNameToStr, MatchesOpensslReversedForRealCertificates) {
  TempDir dir;
  const std::vector<std::string> subjects = {
      "/C=CN/O=Bank/CN=Test User",
      "/C=CN/ST=Beijing/L=Haidian/O=Bank, Inc/OU=Retail/OU=Cards/CN=Zhang San/emailAddress=z@example.com",
      "/C=CN/O=\xE4\xB8\xAD\xE5\x9B\xBD\xE9\x93\xB6\xE8\xA1\x8C/CN=\xE5\xBC\xA0\xE4\xB8\x89",
      "/CN=Quote \"me\" \\+ more; x=y/street=1 Main St/serialNumber=A123",
      "/C=CN/O=Bank/UID=u1/CN=a",
  };
  for (size_t i = 0; i < subjects.size(); ++i) {
    SCOPED_TRACE(subjects[i]);
    const OpensslCert made = MakeOpensslCert(dir, "n" + std::to_string(i), subjects[i], "1");
    Context context(made.der);
    ASSERT_NE(context.cert, nullptr);
    const std::string printed = OpensslX509(made.pem_path, "-subject -nameopt utf8,sep_comma_plus_space,dn_rev,sname");
    ASSERT_EQ(printed.rfind("subject=", 0), 0u);
    std::string want = PlatformKeys(printed.substr(std::string("subject=").size()));
    // UID has no platform key name: its dotted identifier stands instead.
    const size_t uid = want.find("UID=");
    if (uid != std::string::npos) want.replace(uid, 3, "0.9.2342.19200300.100.1.1");
    EXPECT_EQ(Utf16ToUtf8(NameToStr(context.cert->pCertInfo->Subject, kRecordName)), want);
    EXPECT_EQ(NameToStr(context.cert->pCertInfo->Issuer, kRecordName),
              NameToStr(context.cert->pCertInfo->Subject, kRecordName));
  }
}

TEST(CertNameToStr, FormatsAndFlags) {
  TempDir dir;
  const OpensslCert made = MakeOpensslCert(dir, "c", "/C=CN/O=Bank, Inc/CN=Test User", "1");
  Context context(made.der);
  ASSERT_NE(context.cert, nullptr);
  const CERT_NAME_BLOB& subject = context.cert->pCertInfo->Subject;
  const struct {
    DWORD type;
    std::u16string expected;
  } cases[] = {
      {kRecordName, u"CN=Test User, O=Bank, Inc, C=CN"},
      {CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG, u"CN=Test User, O=\"Bank, Inc\", C=CN"},
      {CERT_X500_NAME_STR, u"C=CN, O=\"Bank, Inc\", CN=Test User"},
      {CERT_SIMPLE_NAME_STR | CERT_NAME_STR_REVERSE_FLAG | CERT_NAME_STR_NO_QUOTING_FLAG,
       u"Test User, Bank, Inc, CN"},
      {CERT_OID_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG, u"2.5.4.6=CN, 2.5.4.10=Bank, Inc, 2.5.4.3=Test User"},
      {CERT_X500_NAME_STR | CERT_NAME_STR_SEMICOLON_FLAG | CERT_NAME_STR_NO_QUOTING_FLAG,
       u"C=CN; O=Bank, Inc; CN=Test User"},
  };
  for (const auto& c : cases) EXPECT_EQ(NameToStr(subject, c.type), c.expected) << std::hex << c.type;

  // The two-call pattern and a short buffer: truncated, still terminated.
  const DWORD needed = CertNameToStrW(X509_ASN_ENCODING, &subject, kRecordName, nullptr, 0);
  EXPECT_EQ(needed, std::u16string(u"CN=Test User, O=Bank, Inc, C=CN").size() + 1);
  char16_t small[5];
  EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &subject, kRecordName, small, 5), 5u);
  EXPECT_EQ(std::u16string(small), u"CN=T");

  // Not a Name at all.
  BYTE garbage[] = {0x30, 0x03, 0x31, 0x01};
  CERT_NAME_BLOB bad{sizeof(garbage), garbage};
  EXPECT_EQ(CertNameToStrW(X509_ASN_ENCODING, &bad, kRecordName, nullptr, 0), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
}

TEST(CertGetNameString, SimpleDisplayNameFallsBackInTheDocumentedOrder) {
  TempDir dir;
  const struct {
    const char* subject;
    std::u16string expected;
  } cases[] = {
      {"/C=CN/O=Bank/CN=First/CN=Second", u"First"},
      {"/C=CN/O=Bank/OU=Unit", u"Unit"},
      {"/C=CN/O=Bank", u"Bank"},
      {"/C=CN/emailAddress=a@b.c", u"a@b.c"},
      {"/C=CN", u"CN"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const OpensslCert made = MakeOpensslCert(dir, "s" + std::to_string(i), cases[i].subject, "1");
    Context context(made.der);
    ASSERT_NE(context.cert, nullptr);
    const DWORD size = CertGetNameStringW(context.cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    std::u16string text(size, u'\0');
    EXPECT_EQ(CertGetNameStringW(context.cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, text.data(), size), size);
    text.resize(size - 1);
    EXPECT_EQ(text, cases[i].expected) << cases[i].subject;
  }
}

TEST(CertificateFields, AgreeWithOpenssl) {
  TempDir dir;
  const OpensslCert made =
      MakeOpensslCert(dir, "f", "/C=CN/O=Bank/CN=Fields", "0x010AFF",
                      "-addext keyUsage=digitalSignature,nonRepudiation -addext subjectKeyIdentifier=hash");
  Context context(made.der);
  ASSERT_NE(context.cert, nullptr);
  const CERT_INFO& info = *context.cert->pCertInfo;

  // Serial: the content octets, least significant first.
  ASSERT_EQ(info.SerialNumber.cbData, 3u);
  EXPECT_EQ(std::vector<uint8_t>(info.SerialNumber.pbData, info.SerialNumber.pbData + 3),
            (std::vector<uint8_t>{0xFF, 0x0A, 0x01}));
  EXPECT_EQ(OpensslX509(made.pem_path, "-serial"), "serial=010AFF");

  // Validity, to the second.
  auto iso = [](const FILETIME& t) {
    SYSTEMTIME s;
    EXPECT_TRUE(FileTimeToSystemTime(&t, &s));
    char text[64];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02dZ", s.wYear, s.wMonth, s.wDay, s.wHour,
                  s.wMinute, s.wSecond);
    return std::string(text);
  };
  EXPECT_EQ("notBefore=" + iso(info.NotBefore) + "\nnotAfter=" + iso(info.NotAfter),
            OpensslX509(made.pem_path, "-dates -dateopt iso_8601"));

  EXPECT_STREQ(info.SignatureAlgorithm.pszObjId, "1.2.840.10045.4.3.2");  // ecdsa-with-SHA256
  EXPECT_STREQ(info.SubjectPublicKeyInfo.Algorithm.pszObjId, "1.2.840.10045.2.1");
  EXPECT_EQ(info.dwVersion, 2u);

  // Issuer and subject are the certificate's own bytes.
  EXPECT_GE(info.Subject.pbData, context.cert->pbCertEncoded);
  EXPECT_LE(info.Subject.pbData + info.Subject.cbData, context.cert->pbCertEncoded + context.cert->cbCertEncoded);

  // Key usage through the decoder, in the two-call pattern.
  const CERT_EXTENSION* usage = CertFindExtension(szOID_KEY_USAGE, info.cExtension, info.rgExtension);
  ASSERT_NE(usage, nullptr);
  DWORD size = 0;
  ASSERT_TRUE(CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, szOID_KEY_USAGE, usage->Value.pbData,
                                  usage->Value.cbData, CRYPT_DECODE_NOCOPY_FLAG, nullptr, nullptr, &size));
  std::vector<uint8_t> buffer(size);
  ASSERT_TRUE(CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, szOID_KEY_USAGE, usage->Value.pbData,
                                  usage->Value.cbData, CRYPT_DECODE_NOCOPY_FLAG, nullptr, buffer.data(), &size));
  const auto* bits = reinterpret_cast<const CRYPT_BIT_BLOB*>(buffer.data());
  ASSERT_GE(bits->cbData, 1u);
  EXPECT_EQ(bits->pbData[0], 0xC0);

  // Subject key identifier against openssl's text.
  const CERT_EXTENSION* ski = CertFindExtension(szOID_SUBJECT_KEY_IDENTIFIER, info.cExtension, info.rgExtension);
  ASSERT_NE(ski, nullptr);
  size = 0;
  ASSERT_TRUE(CryptDecodeObjectEx(X509_ASN_ENCODING, szOID_SUBJECT_KEY_IDENTIFIER, ski->Value.pbData,
                                  ski->Value.cbData, CRYPT_DECODE_NOCOPY_FLAG, nullptr, nullptr, &size));
  buffer.assign(size, 0);
  ASSERT_TRUE(CryptDecodeObjectEx(X509_ASN_ENCODING, szOID_SUBJECT_KEY_IDENTIFIER, ski->Value.pbData,
                                  ski->Value.cbData, CRYPT_DECODE_NOCOPY_FLAG, nullptr, buffer.data(), &size));
  const auto* id = reinterpret_cast<const CRYPT_DATA_BLOB*>(buffer.data());
  std::string text = OpensslX509(made.pem_path, "-ext subjectKeyIdentifier");
  text = text.substr(text.find('\n') + 1);
  text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == ':' || c == ' '; }), text.end());
  EXPECT_EQ(HexUpper(id->pbData, id->cbData), text);

  // Hash properties against openssl's fingerprints.
  BYTE hash[20];
  size = sizeof(hash);
  ASSERT_TRUE(CertGetCertificateContextProperty(context.cert, CERT_SHA1_HASH_PROP_ID, hash, &size));
  std::string sha1 = OpensslX509(made.pem_path, "-fingerprint -sha1");
  sha1.erase(std::remove(sha1.begin(), sha1.end(), ':'), sha1.end());
  EXPECT_EQ("sha1 Fingerprint=" + HexUpper(hash, 20), sha1);
  size = 16;
  ASSERT_TRUE(CertGetCertificateContextProperty(context.cert, CERT_MD5_HASH_PROP_ID, hash, &size));
  std::string md5 = OpensslX509(made.pem_path, "-fingerprint -md5");
  md5.erase(std::remove(md5.begin(), md5.end(), ':'), md5.end());
  EXPECT_EQ("md5 Fingerprint=" + HexUpper(hash, 16), md5);
}

TEST(CertificateFields, SerialKeepsItsSignOctetAndMissingExtensionsAreNotFound) {
  TempDir dir;
  const OpensslCert made = MakeOpensslCert(dir, "z", "/CN=Serial", "0x85", "-addext keyUsage=keyCertSign");
  Context context(made.der);
  ASSERT_NE(context.cert, nullptr);
  const CERT_INFO& info = *context.cert->pCertInfo;
  ASSERT_EQ(info.SerialNumber.cbData, 2u);
  EXPECT_EQ(info.SerialNumber.pbData[0], 0x85);
  EXPECT_EQ(info.SerialNumber.pbData[1], 0x00);
  // openssl's req adds a subject key identifier by default; a made-up one is absent.
  EXPECT_EQ(CertFindExtension("1.2.3.4", info.cExtension, info.rgExtension), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
}

TEST(CryptDecodeObjectEx, CopiesOrPointsAndChecksItsInput) {
  const BYTE usage[] = {0x03, 0x02, 0x05, 0xA0};  // digitalSignature, keyEncipherment
  DWORD size = 0;
  ASSERT_TRUE(CryptDecodeObjectEx(X509_ASN_ENCODING, szOID_KEY_USAGE, usage, sizeof(usage), 0, nullptr, nullptr,
                                  &size));
  EXPECT_EQ(size, sizeof(CRYPT_BIT_BLOB) + 1);
  std::vector<uint8_t> buffer(size);
  DWORD small = size - 1;
  EXPECT_FALSE(CryptDecodeObjectEx(X509_ASN_ENCODING, szOID_KEY_USAGE, usage, sizeof(usage), 0, nullptr,
                                   buffer.data(), &small));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(small, size);
  ASSERT_TRUE(CryptDecodeObjectEx(X509_ASN_ENCODING, szOID_KEY_USAGE, usage, sizeof(usage), 0, nullptr,
                                  buffer.data(), &size));
  const auto* bits = reinterpret_cast<const CRYPT_BIT_BLOB*>(buffer.data());
  EXPECT_EQ(bits->pbData, buffer.data() + sizeof(CRYPT_BIT_BLOB));  // copied after the structure
  EXPECT_EQ(bits->pbData[0], 0xA0);
  EXPECT_EQ(bits->cUnusedBits, 5u);

  size = sizeof(CRYPT_BIT_BLOB);
  ASSERT_TRUE(CryptDecodeObjectEx(X509_ASN_ENCODING, szOID_KEY_USAGE, usage, sizeof(usage),
                                  CRYPT_DECODE_NOCOPY_FLAG, nullptr, buffer.data(), &size));
  EXPECT_EQ(bits->pbData, usage + 3);  // points into the input

  const struct {
    std::vector<uint8_t> input;
    const char* type;
    DWORD error;
  } bad[] = {
      {{0x04, 0x01, 0x00}, szOID_KEY_USAGE, static_cast<DWORD>(CRYPT_E_ASN1_BADTAG)},
      {{0x03, 0x02, 0x08, 0x80}, szOID_KEY_USAGE, static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT)},
      {{0x03, 0x03, 0x00, 0x80}, szOID_KEY_USAGE, static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT)},
      {{0x04, 0x01, 0x00, 0x00}, szOID_SUBJECT_KEY_IDENTIFIER, static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT)},
      {{0x04, 0x01, 0x00}, "1.2.3", ERROR_FILE_NOT_FOUND},
  };
  for (const auto& c : bad) {
    size = 0;
    EXPECT_FALSE(CryptDecodeObjectEx(X509_ASN_ENCODING, c.type, c.input.data(), static_cast<DWORD>(c.input.size()),
                                     0, nullptr, nullptr, &size));
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST(CertCreateCertificateContext, RefusesWhatIsNotOneCertificate) {
  TempDir dir;
  const OpensslCert made = MakeOpensslCert(dir, "r", "/CN=Refuse", "7");
  std::vector<uint8_t> trailing = made.der;
  trailing.push_back(0);
  std::vector<uint8_t> truncated(made.der.begin(), made.der.end() - 1);
  std::vector<uint8_t> tampered = made.der;
  tampered[1] ^= 0x01;  // the outer length
  for (const auto* der : {&trailing, &truncated, &tampered}) {
    EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING, der->data(), static_cast<DWORD>(der->size())), nullptr);
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
  }
  EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING, nullptr, 0), nullptr);
}

TEST(CertVerifyTimeValidity, ComparesWithBothEnds) {
  TempDir dir;
  const OpensslCert made = MakeOpensslCert(dir, "t", "/CN=Time", "1");
  Context context(made.der);
  ASSERT_NE(context.cert, nullptr);
  const CERT_INFO& info = *context.cert->pCertInfo;
  FILETIME before = FileTimeFromTicks(FileTimeTicks(info.NotBefore) - 1);
  FILETIME after = FileTimeFromTicks(FileTimeTicks(info.NotAfter) + 1);
  EXPECT_EQ(CertVerifyTimeValidity(&before, &info), -1);
  EXPECT_EQ(CertVerifyTimeValidity(&info.NotBefore, &info), 0);
  EXPECT_EQ(CertVerifyTimeValidity(&info.NotAfter, &info), 0);
  EXPECT_EQ(CertVerifyTimeValidity(&after, &info), 1);
  EXPECT_EQ(CertVerifyTimeValidity(nullptr, &info), 0);  // now
}

}  // namespace
}  // namespace tessaline::test
