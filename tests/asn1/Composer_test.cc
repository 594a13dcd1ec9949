// Element builders over the platform encoder, checked against fixed DER and
// against openssl asn1parse.
#include <gtest/gtest.h>

#include <string>

#include "Tessaline/ASN1Composer.h"
#include "Tessaline/ASN1Encoder.h"
#include "tests/asn1/OpensslAsn1Parse.h"
#include "tests/support/TestTools.h"

namespace tessaline {
namespace {

using Bytes = std::vector<uint8_t>;

// openssl's reading of DER, one line per element.
std::string Asn1Parse(const Bytes& der) {
  test::TempDir dir;
  test::WriteFileBytes(dir.File("in.der"), der);
  const auto result = test::RunCommand("openssl asn1parse -inform DER -in in.der", dir.path());
  EXPECT_EQ(result.exit_code, 0) << result.output;
  return result.output;
}

TEST(ComposeSpecialAttribute, PairsTheIdentifierWithTheValueOrNull) {
  struct Case {
    const char* oid;
    Bytes value;  // empty: no value element
    Bytes expected;
  } cases[] = {
      {"2.5.4.3", {0x0C, 0x01, 0x41}, {0x30, 0x08, 0x06, 0x03, 0x55, 0x04, 0x03, 0x0C, 0x01, 0x41}},
      {"2.5.4.3", {}, {0x30, 0x07, 0x06, 0x03, 0x55, 0x04, 0x03, 0x05, 0x00}},
      {"1.2.840.113549.1.1.1",
       {},
       {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00}},
      {"1.2.840.10045.2.1",
       {0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x82, 0x2D},
       {0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01,
        0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x82, 0x2D}},
  };
  for (const auto& c : cases) {
    Bytes element;
    size_t length = 0;
    ASSERT_EQ(ComposeSpecialAttribute(c.oid, c.value.empty() ? nullptr : c.value.data(), c.value.size(), &element,
                                      &length),
              S_OK)
        << c.oid;
    EXPECT_EQ(element, c.expected) << c.oid;
    EXPECT_EQ(length, c.expected.size());
  }
}

TEST(ComposeSpecialAttribute, OutputParsesWithOpenssl) {
  Bytes printable;
  ASSERT_EQ(ComposeAnyString(6, CERT_RDN_PRINTABLE_STRING, reinterpret_cast<const uint8_t*>("730264"), &printable,
                             nullptr),
            S_OK);
  Bytes element;
  ASSERT_EQ(ComposeSpecialAttribute("1.2.840.113549.1.9.7", printable.data(), printable.size(), &element, nullptr),
            S_OK);
  const std::string parsed = Asn1Parse(element);
  EXPECT_NE(parsed.find(":challengePassword"), std::string::npos) << parsed;
  EXPECT_NE(parsed.find("PRINTABLESTRING   :730264"), std::string::npos) << parsed;

  ASSERT_EQ(ComposeSpecialAttribute("1.2.840.113549.1.1.5", nullptr, 0, &element, nullptr), S_OK);
  const std::string algorithm = Asn1Parse(element);
  EXPECT_NE(algorithm.find(":sha1WithRSAEncryption"), std::string::npos) << algorithm;
  EXPECT_NE(algorithm.find("NULL"), std::string::npos) << algorithm;
}

TEST(ComposeSpecialAttribute, FailsForValuesTheEncoderCannotRebuild) {
  struct Case {
    Bytes value;
    HRESULT expected;
  } cases[] = {
      {{0x03, 0x02, 0x00, 0x01}, E_FAIL},   // BIT STRING: not a tag ASN1Encode takes
      {{0x0C, 0x00}, E_FAIL},               // empty value
      {{0x0C, 0x05, 0x41}, CRYPT_E_ASN1_CORRUPT},  // not one complete element
      {{0x0C, 0x01, 0x41, 0x00}, CRYPT_E_ASN1_CORRUPT},
      {{0x30, 0x80, 0x00, 0x00}, CRYPT_E_ASN1_CORRUPT},  // indefinite length is not DER
      {{0x30, 0x03, 0x01, 0x02, 0x03}, E_FAIL},          // content is no DER
  };
  for (const auto& c : cases) {
    Bytes element{7};
    EXPECT_EQ(ComposeSpecialAttribute("2.5.4.3", c.value.data(), c.value.size(), &element, nullptr), c.expected);
    EXPECT_EQ(element, Bytes{7});
  }
  Bytes element;
  const Bytes value{0x0C, 0x01, 0x41};
  EXPECT_EQ(ComposeSpecialAttribute("", value.data(), value.size(), &element, nullptr), E_INVALIDARG);
  EXPECT_EQ(ComposeSpecialAttribute("2.5.4.x", nullptr, 0, &element, nullptr), E_INVALIDARG);
}

TEST(ComposeAnyString, EncodesEachStringType) {
  const std::u16string wide = u"\u4E2D\u6587a";
  struct Case {
    DWORD type;
    Bytes input;
    Bytes expected;
  } cases[] = {
      {CERT_RDN_OCTET_STRING, {0x00, 0xFF}, {0x04, 0x02, 0x00, 0xFF}},
      {CERT_RDN_PRINTABLE_STRING, {'C', 'N'}, {0x13, 0x02, 'C', 'N'}},
      {CERT_RDN_IA5_STRING, {'a', '@', 'b'}, {0x16, 0x03, 'a', '@', 'b'}},
      {CERT_RDN_UTF8_STRING,
       Bytes(reinterpret_cast<const uint8_t*>(wide.data()), reinterpret_cast<const uint8_t*>(wide.data()) + 6),
       {0x0C, 0x07, 0xE4, 0xB8, 0xAD, 0xE6, 0x96, 0x87, 'a'}},
      {CERT_RDN_PRINTABLE_STRING, {}, {0x13, 0x00}},
  };
  for (const auto& c : cases) {
    Bytes element;
    size_t length = 0;
    ASSERT_EQ(ComposeAnyString(c.input.size(), c.type, c.input.data(), &element, &length), S_OK) << c.type;
    EXPECT_EQ(element, c.expected) << c.type;
    EXPECT_EQ(length, c.expected.size());
  }
}

TEST(ComposeAnyString, RejectsTextOutsideTheCharacterSet) {
  struct Case {
    DWORD type;
    std::string input;
    HRESULT expected;
  } cases[] = {
      {CERT_RDN_PRINTABLE_STRING, "a@b", CRYPT_E_INVALID_PRINTABLE_STRING},
      {CERT_RDN_PRINTABLE_STRING, "\xE4\xB8\xAD", CRYPT_E_INVALID_PRINTABLE_STRING},
      {CERT_RDN_IA5_STRING, "\xC3\xA4", CRYPT_E_INVALID_IA5_STRING},
      {CERT_RDN_UTF8_STRING, "abc", E_INVALIDARG},  // odd UTF-16 byte count
      {3, "abc", HRESULT_FROM_WIN32(50)},           // no such string type
  };
  for (const auto& c : cases) {
    Bytes element;
    EXPECT_EQ(ComposeAnyString(c.input.size(), c.type, reinterpret_cast<const uint8_t*>(c.input.data()), &element,
                               nullptr),
              c.expected)
        << c.input;
  }
}

TEST(ComposeBITString, PrefixesNoUnusedBits) {
  const Bytes key{0x04, 0xAB, 0xCD};
  Bytes element;
  ASSERT_EQ(ComposeBITString(key.size(), key.data(), &element, nullptr), S_OK);
  EXPECT_EQ(element, (Bytes{0x03, 0x04, 0x00, 0x04, 0xAB, 0xCD}));
  const std::string parsed = Asn1Parse(element);
  EXPECT_NE(parsed.find("BIT STRING"), std::string::npos) << parsed;

  Bytes big(300, 0x5A);
  ASSERT_EQ(ComposeBITString(big.size(), big.data(), &element, nullptr), S_OK);
  EXPECT_EQ(Bytes(element.begin(), element.begin() + 5), (Bytes{0x03, 0x82, 0x01, 0x2D, 0x00}));
}

TEST(ASN1Encode, NestedOutputParsesWithOpenssl) {
  const Bytes integer{0x02, 0x01, 0x05};
  Bytes octets, sequence;
  ASSERT_EQ(ASN1Encode(0x04, integer.data(), integer.size(), &octets, nullptr), S_OK);
  Bytes body = integer;
  body.insert(body.end(), octets.begin(), octets.end());
  Bytes filler(200, 'x');
  Bytes text;
  ASSERT_EQ(ASN1Encode(0x0C, filler.data(), filler.size(), &text, nullptr), S_OK);
  body.insert(body.end(), text.begin(), text.end());
  ASSERT_EQ(ASN1Encode(0x30, body.data(), body.size(), &sequence, nullptr), S_OK);
  std::vector<std::string> shape;
  for (const auto& line : test::OpensslAsn1Parse(sequence)) {
    shape.push_back(std::to_string(line.depth) + " " + std::to_string(line.header) + " " + line.length + " " +
                    line.type);
  }
  EXPECT_EQ(shape, (std::vector<std::string>{"0 3 211 SEQUENCE", "1 2 1 INTEGER", "1 2 3 OCTET", "1 3 200 UTF8STRING"}));
}

}  // namespace
}  // namespace tessaline
