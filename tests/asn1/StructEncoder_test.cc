// The platform structure encoder: two-call sizing, object identifiers and
// its failures.
#include <gtest/gtest.h>

#include <string>

#include "platform/asn1/CryptEncodeObject.h"
#include "platform/asn1/ObjectIdentifier.h"
#include "platform/base/Errors.h"
#include "tests/support/TestTools.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

TEST(CryptEncodeObject, ReportsTheSizeThenFillsTheBuffer) {
  BYTE content[] = {'C', 'N'};
  CERT_NAME_VALUE value{CERT_RDN_PRINTABLE_STRING, {2, content}};
  DWORD size = 0;
  ASSERT_TRUE(CryptEncodeObject(kEncoding, X509_NAME_VALUE, &value, nullptr, &size));
  EXPECT_EQ(size, 4u);

  Bytes small(3);
  DWORD capacity = 3;
  EXPECT_FALSE(CryptEncodeObject(kEncoding, X509_NAME_VALUE, &value, small.data(), &capacity));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(capacity, 4u);

  Bytes buffer(10, 0xEE);
  capacity = 10;
  ASSERT_TRUE(CryptEncodeObject(kEncoding, X509_NAME_VALUE, &value, buffer.data(), &capacity));
  EXPECT_EQ(capacity, 4u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 4), (Bytes{0x13, 0x02, 'C', 'N'}));
}

TEST(CryptEncodeObject, RejectsBadArguments) {
  CRYPT_BIT_BLOB bits{0, nullptr, 0};
  BYTE byte = 0xFF;
  CRYPT_BIT_BLOB too_many_unused{1, &byte, 8};
  CRYPT_BIT_BLOB null_bytes{4, nullptr, 0};
  DWORD size = 0;
  struct Case {
    DWORD encoding;
    int type;
    const void* info;
    DWORD error;
  } cases[] = {
      {kEncoding, X509_BITS, nullptr, ERROR_INVALID_PARAMETER},
      {PKCS_7_ASN_ENCODING, X509_BITS, &bits, ERROR_INVALID_PARAMETER},
      {kEncoding, 8, &bits, ERROR_NOT_SUPPORTED},
      {kEncoding, X509_BITS, &too_many_unused, ERROR_INVALID_PARAMETER},
      {kEncoding, X509_BITS, &null_bytes, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(CryptEncodeObject(c.encoding, c.type, c.info, nullptr, &size));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_FALSE(CryptEncodeObject(kEncoding, X509_BITS, &bits, nullptr, nullptr));
}

TEST(CryptEncodeObject, ClearsUnusedBitsAndSortsSetMembers) {
  BYTE bytes[] = {0xAB, 0xFF};
  CRYPT_BIT_BLOB bits{2, bytes, 4};
  Bytes out(16);
  DWORD size = 16;
  ASSERT_TRUE(CryptEncodeObject(kEncoding, X509_BITS, &bits, out.data(), &size));
  out.resize(size);
  EXPECT_EQ(out, (Bytes{0x03, 0x03, 0x04, 0xAB, 0xF0}));

  BYTE b[] = {0x02, 0x01, 0x07}, a[] = {0x02, 0x01, 0x03};
  CRYPT_DATA_BLOB values[] = {{3, b}, {3, a}};
  char oid[] = "1.2.3";
  CRYPT_ATTRIBUTE attribute{oid, 2, values};
  out.assign(32, 0);
  size = 32;
  ASSERT_TRUE(CryptEncodeObject(kEncoding, PKCS_ATTRIBUTE, &attribute, out.data(), &size));
  out.resize(size);
  EXPECT_EQ(out, (Bytes{0x30, 0x0C, 0x06, 0x02, 0x2A, 0x03, 0x31, 0x06, 0x02, 0x01, 0x03, 0x02, 0x01, 0x07}));
}

TEST(ObjectIdentifier, MatchesOpensslForValidText) {
  tessaline::test::TempDir dir;
  for (const char* oid : {"2.5.4.3", "1.2.840.113549.1.9.7", "1.3.6.1.4.1.311.60.2.1.3", "1.2.156.10197.1.301",
                          "0.0", "1.39", "2.40", "2.999.1", "1.2.18446744073709551615"}) {
    std::vector<uint8_t> content;
    ASSERT_TRUE(tessaline::EncodeObjectIdentifier(oid, &content)) << oid;
    const auto result = tessaline::test::RunCommand(
        std::string("openssl asn1parse -genstr 'OID:") + oid + "' -out oid.der -noout", dir.path());
    ASSERT_EQ(result.exit_code, 0) << result.output;
    const Bytes der = tessaline::test::ReadFileBytes(dir.File("oid.der"));
    ASSERT_GE(der.size(), 2u);
    EXPECT_EQ(content, Bytes(der.begin() + 2, der.end())) << oid;
  }
}

TEST(ObjectIdentifier, RejectsMalformedText) {
  for (const char* oid : {"", "1", "1.", ".1.2", "1..2", "1.2.", "3.1", "1.40", "0.40", "01.2", "1.02", "1.2.a",
                          "1.2 .3", "+1.2", "-1.2", "1.2.18446744073709551616", "1,2"}) {
    std::vector<uint8_t> content{9};
    EXPECT_FALSE(tessaline::EncodeObjectIdentifier(oid, &content)) << oid;
    EXPECT_EQ(content, Bytes{9});
  }
}

}  // namespace
