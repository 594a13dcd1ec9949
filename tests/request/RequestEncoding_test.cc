// The byte-level pieces of a request: SM2 signature and key encodings, the
// public key and attribute elements, and the line layout of the text.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Tessaline/PKCS10Request.h"
#include "Tessaline/SM2EncodeRawSignature.h"
#include "platform/crypt/Crypt.h"

namespace tessaline::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Filled(size_t size, uint8_t first, uint8_t rest) {
  Bytes out(size, rest);
  out[0] = first;
  return out;
}

TEST(SM2EncodeRawSignature, KeepsThirtyTwoBytesPerHalf) {
  const Bytes high = Filled(32, 0x80, 0x11), low = Filled(32, 0x7F, 0x22), zero = Filled(32, 0x00, 0x33);
  const struct {
    Bytes r, s, expected;
  } cases[] = {
      // Top bit set: a zero byte in front, 33 content bytes.
      {high, low, Concat({{0x30, 0x45, 0x02, 0x21, 0x00}, high, {0x02, 0x20}, low})},
      {low, high, Concat({{0x30, 0x45, 0x02, 0x20}, low, {0x02, 0x21, 0x00}, high})},
      // A leading zero byte stays: 32 content bytes starting with 00.
      {zero, zero, Concat({{0x30, 0x44, 0x02, 0x20}, zero, {0x02, 0x20}, zero})},
      {high, high, Concat({{0x30, 0x46, 0x02, 0x21, 0x00}, high, {0x02, 0x21, 0x00}, high})},
  };
  for (const auto& c : cases) {
    const Bytes raw = Concat({c.r, c.s});
    Bytes der;
    size_t length = 0;
    ASSERT_EQ(SM2EncodeRawSignature(raw.data(), raw.size(), &der, &length), S_OK);
    EXPECT_EQ(der, c.expected);
    EXPECT_EQ(length, der.size());
  }
}

TEST(SM2EncodeRawSignature, RejectsAnythingButSixtyFourBytes) {
  for (size_t size : {0, 32, 63, 65, 128}) {
    const Bytes raw(size, 1);
    Bytes der = {9};
    EXPECT_EQ(ResultBits(SM2EncodeRawSignature(raw.data(), raw.size(), &der, nullptr)), 0x8007000Du) << size;
    EXPECT_EQ(der, Bytes{9});
  }
}

TEST(TransformBase64, BreaksBeforeTheSixtyFifthCharacterOfALine) {
  const std::string a64(64, 'A');
  const struct {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"QUJD", "QUJD"},
      {a64, a64},
      {a64 + "B", a64 + "\r\nB"},
      {a64 + a64 + "C", a64 + "\r\n" + a64 + "\r\nC"},
      {a64 + a64, a64 + "\r\n" + a64},
      // Line breaks of the input (76 characters a line) are dropped first.
      {std::string(76, 'A') + "\r\n" + std::string(12, 'A'), a64 + "\r\n" + std::string(24, 'A')},
      {"AB\nCD\r\n", "ABCD"},
  };
  for (const auto& c : cases) {
    std::string out = "stale";
    ASSERT_EQ(TransformBase64EncodedDatatoHoldCRLFPer64Chars(c.in, &out), S_OK);
    EXPECT_EQ(out, c.out);
  }
}

// A blob whose every byte is its own offset.
Bytes CountingBlob(size_t size) {
  Bytes blob(size);
  for (size_t i = 0; i < size; ++i) blob[i] = static_cast<uint8_t>(i);
  return blob;
}

Bytes Range(size_t from, size_t to, bool reversed) {
  Bytes out;
  for (size_t i = from; i < to; ++i) out.push_back(static_cast<uint8_t>(i));
  if (reversed) std::reverse(out.begin(), out.end());
  return out;
}

TEST(Sm2Blob, GivesThePointAndTheExchangeKeyStructure) {
  const Bytes blob = CountingBlob(140);
  Bytes point, key;
  ASSERT_EQ(Sm2PointFromBlob(blob, &point), S_OK);
  EXPECT_EQ(point, Concat({{0x04}, Range(12, 44, true), Range(76, 108, true)}));
  ASSERT_EQ(Sm2ExchangeKeyFromBlob(blob, &key), S_OK);
  EXPECT_EQ(key, Concat({{0x00, 0xB4, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}, Range(12, 44, true), Range(44, 76, false),
                         Range(76, 108, true), Range(108, 140, false)}));
  EXPECT_EQ(key.size(), 136u);
}

TEST(Sm2Blob, AShortBlobFailsTheRequest) {
  const Bytes blob = CountingBlob(139);
  Bytes out;
  EXPECT_EQ(ResultBits(Sm2PointFromBlob(blob, &out)), 0x8007000Du);
  EXPECT_EQ(ResultBits(Sm2ExchangeKeyFromBlob(blob, &out)), 0x8007000Du);
  const Bytes good = CountingBlob(140);
  std::string request;
  EXPECT_EQ(ResultBits(PKCS10RequestBase64(AT_KEYEXCHANGE, 0, u"CN=a", kEcPublicKeyOid, kSm2CurveOid, blob, {},
                                           CALG_SM3, kSm2WithSm3Oid, &request, nullptr, true)),
            0x8007000Du);
  EXPECT_EQ(ResultBits(PKCS10RequestBase64(AT_SIGNATURE, 0, u"CN=a", kEcPublicKeyOid, kSm2CurveOid, good, blob,
                                           CALG_SM3, kSm2WithSm3Oid, &request, nullptr, true)),
            0x8007000Du);
}

TEST(ComposeSignPublicKeyData, WritesTheAlgorithmOfEachKeyType) {
  const Bytes key = {0x04, 0x01, 0x02};
  Bytes sm2, rsa;
  ASSERT_EQ(ComposeSignPublicKeyData(kEcPublicKeyOid, kSm2CurveOid, key, &sm2), S_OK);
  EXPECT_EQ(sm2, Concat({{0x30, 0x1B, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01, 0x06, 0x08,
                          0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x82, 0x2D, 0x03, 0x04, 0x00},
                         key}));
  ASSERT_EQ(ComposeSignPublicKeyData(kRsaPublicKeyOid, "", key, &rsa), S_OK);
  EXPECT_EQ(rsa, Concat({{0x30, 0x15, 0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01,
                          0x05, 0x00, 0x03, 0x04, 0x00},
                         key}));
}

TEST(ComposeAttributes, PairsEachIdentifierWithItsValueWithoutASet) {
  const Bytes key = {0xAA, 0xBB};
  Bytes attributes;
  ASSERT_EQ(ComposeAttributes(key, &attributes), S_OK);
  const Bytes expected = {
      0xA0, 0x2D,
      // challengePassword, PrintableString "730264"
      0x30, 0x13, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x07, 0x13, 0x06, '7', '3', '0', '2',
      '6', '4',
      // 1.2.840.113549.1.9.63, OCTET STRING { SEQUENCE { INTEGER 1, OCTET STRING key } }
      0x30, 0x16, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x3F, 0x04, 0x09, 0x30, 0x07, 0x02, 0x01,
      0x01, 0x04, 0x02, 0xAA, 0xBB};
  EXPECT_EQ(attributes, expected);
}

TEST(ComposeSignAlgorithm, IsTheIdentifierWithNull) {
  const struct {
    const char* oid;
    Bytes expected;
  } cases[] = {
      {kSha1WithRsaOid, {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x05, 0x05, 0x00}},
      {kMd5WithRsaOid, {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x04, 0x05, 0x00}},
      {kSm2WithSm3Oid, {0x30, 0x0C, 0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x83, 0x75, 0x05, 0x00}},
  };
  for (const auto& c : cases) {
    Bytes element;
    ASSERT_EQ(ComposeSignAlgorithm(c.oid, &element), S_OK);
    EXPECT_EQ(element, c.expected) << c.oid;
  }
}

}  // namespace
}  // namespace tessaline::test
