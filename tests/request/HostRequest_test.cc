// Requests generated through the host program, as a page makes them, for
// every provider, algorithm and certificate type: the DER is checked element
// by element, and the signature is verified by the openssl command line.
#include <gtest/gtest.h>

#include <sstream>

#include "Tessaline/Misc.h"
#include "Tessaline/SubjectName.h"
#include "platform/base/ByteView.h"
#include "platform/base/DerWriter.h"
#include "tests/request/HostSession.h"
#include "tests/request/RequestFixture.h"
#include "tests/support/TestTools.h"

namespace tessaline::test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kSubject[] = "CN=Alice Zhang,OU=Retail,O=Example Bank,L=Haidian,ST=Beijing,C=CN";
constexpr char kDistId[] = "distid:1234567812345678";

const Bytes kRsaAlgorithm = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};
const Bytes kSm2Algorithm = {0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01,
                             0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x82, 0x2D};
const Bytes kSha1WithRsa = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x05, 0x05, 0x00};
const Bytes kMd5WithRsa = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x04, 0x05, 0x00};
const Bytes kSm2WithSm3 = {0x30, 0x0C, 0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x83, 0x75, 0x05, 0x00};
const Bytes kChallengePassword = {0x30, 0x13, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x07,
                                  0x13, 0x06, '7',  '3',  '0',  '2',  '6',  '4'};
const Bytes kExchangeKeyOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x3F};

Bytes Of(ByteView view) { return Bytes(view.data(), view.data() + view.size()); }

struct Combination {
  const char* label;
  const char16_t* provider;
  int bits;
  bool sm2;
  bool md5;
  int type;
  int flags;
};

void PrintTo(const Combination& c, std::ostream* os) { *os << c.label; }

// The public key of the container's KEY_SPEC as the provider exports it
// (RSA: DER RSAPublicKey; SM2: the point).
Bytes ContainerPublicKey(const std::u16string& container, const char16_t* provider, DWORD key_spec) {
  ProvOwner prov;
  const DWORD type = std::u16string_view(provider) == MS_ENH_RSA_AES_PROV_W ? PROV_RSA_AES : PROV_RSA_FULL;
  if (!CryptAcquireContextW(&prov.h, container.c_str(), provider, type, 0)) return {};
  DWORD size = 0;
  if (!CryptExportPublicKeyInfo(prov.h, key_spec, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, nullptr, &size)) return {};
  Bytes buffer(size);
  auto* info = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(buffer.data());
  if (!CryptExportPublicKeyInfo(prov.h, key_spec, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, info, &size)) return {};
  return Bytes(info->PublicKey.pbData, info->PublicKey.pbData + info->PublicKey.cbData);
}

// RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }
size_t RsaModulusBits(const Bytes& key) {
  ByteView view(key), sequence, modulus, exponent;
  if (!view.ReadDer(0x30, &sequence) || !view.empty() || !sequence.ReadDer(0x02, &modulus) ||
      !sequence.ReadDer(0x02, &exponent) || !sequence.empty() || modulus.empty()) {
    return 0;
  }
  size_t skip = modulus.data()[0] == 0 ? 1 : 0;
  return (modulus.size() - skip) * 8;
}

// SM2Signature ::= SEQUENCE { r INTEGER, s INTEGER }, each half kept at 32
// bytes: 33 only when a zero byte keeps a high first byte positive. Returns
// the same signature with minimal INTEGERs, which openssl insists on.
Bytes CheckAndMinimizeSm2Signature(const Bytes& der) {
  ByteView view(der), sequence;
  EXPECT_TRUE(view.ReadDer(0x30, &sequence) && view.empty());
  DerWriter minimal;
  const size_t mark = minimal.Open(0x30);
  for (int i = 0; i < 2; ++i) {
    ByteView half;
    EXPECT_TRUE(sequence.ReadDer(0x02, &half));
    const Bytes content = Of(half);
    if (content.size() == 33) {
      EXPECT_EQ(content[0], 0x00);
      EXPECT_GE(content[1], 0x80);
    } else {
      EXPECT_EQ(content.size(), 32u);
      EXPECT_LT(content[0], 0x80);
    }
    minimal.AddUnsignedInteger(content);
  }
  EXPECT_TRUE(sequence.empty());
  minimal.Close(mark);
  return minimal.Finish();
}

class HostRequestTest : public RequestTest, public ::testing::WithParamInterface<Combination> {
 protected:
  // One certification authority per key type, made by openssl.
  static void SetUpTestSuite() {
    ca_ = new TempDir;
    ASSERT_EQ(RunCommand("openssl req -x509 -newkey rsa:2048 -nodes -keyout rsa-ca.key -out rsa-ca.pem "
                         "-subj '/CN=Test RSA CA' -days 2",
                         ca_->path())
                  .exit_code,
              0);
    ASSERT_EQ(RunCommand("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out sm2-ca.key && "
                         "openssl req -x509 -new -key sm2-ca.key -sm3 -sigopt " +
                             std::string(kDistId) + " -subj '/CN=Test SM2 CA' -days 2 -out sm2-ca.pem",
                         ca_->path())
                  .exit_code,
              0);
  }
  static void TearDownTestSuite() {
    delete ca_;
    ca_ = nullptr;
  }

  static TempDir* ca_;
};

TempDir* HostRequestTest::ca_ = nullptr;

TEST_P(HostRequestTest, MatchesTheRequestLayoutAndVerifiesWithOpenssl) {
  const Combination& c = GetParam();
  const std::string provider = Narrow(c.provider);
  const auto responses = RunSession({SetCspInfo(c.bits, provider), SetKeyAlgorithm(c.sm2 ? "sm2" : "RSA"),
                                     Requisition(kSubject, c.type, c.flags, c.md5), GetContainer()});
  ASSERT_EQ(responses.size(), 4u);
  for (const auto& response : responses) ASSERT_EQ(response.errorcode, 0) << response.function;
  const std::string& text = responses[2].text;
  const std::string& container = responses[3].text;
  EXPECT_TRUE(IsGuidName(container)) << container;

  // Lines of 64 characters joined by CR LF, none after the last.
  std::istringstream lines(text);
  std::vector<std::string> split;
  for (std::string line; std::getline(lines, line, '\n');) split.push_back(line);
  ASSERT_GE(split.size(), 2u);
  for (size_t i = 0; i + 1 < split.size(); ++i) EXPECT_EQ(split[i], split[i].substr(0, 64) + "\r");
  EXPECT_GT(split.back().size(), 0u);
  EXPECT_LE(split.back().size(), 64u);
  EXPECT_EQ(split.back().find('\r'), std::string::npos);

  Bytes der;
  ASSERT_EQ(Base64DecodeEx(static_cast<int64_t>(text.size()), &der, text.c_str(), nullptr), S_OK);

  // CertificationRequest ::= SEQUENCE { info, signatureAlgorithm, signature BIT STRING }
  ByteView whole(der), request, info, info_element, signature_algorithm, algorithm_element, signature;
  ASSERT_TRUE(whole.ReadDer(0x30, &request) && whole.empty());
  ASSERT_TRUE(request.ReadDer(0x30, &info, &info_element));
  ASSERT_TRUE(request.ReadDer(0x30, &signature_algorithm, &algorithm_element));
  ASSERT_TRUE(request.ReadDer(0x03, &signature) && request.empty());
  EXPECT_EQ(Of(algorithm_element), c.sm2 ? kSm2WithSm3 : c.md5 ? kMd5WithRsa : kSha1WithRsa);

  // CertificationRequestInfo ::= SEQUENCE { version, subject, subjectPKInfo, [0] attributes (double only) }
  ByteView version, name, name_element, key_info, key_info_element;
  ASSERT_TRUE(info.ReadDer(0x02, &version));
  EXPECT_EQ(Of(version), Bytes{0x00});
  ASSERT_TRUE(info.ReadDer(0x30, &name, &name_element));
  std::vector<uint8_t> expected_name;
  ASSERT_EQ(ComposeSubject(std::u16string(kSubject, kSubject + sizeof(kSubject) - 1), &expected_name, nullptr), S_OK);
  EXPECT_EQ(Of(name_element), expected_name);
  ASSERT_TRUE(info.ReadDer(0x30, &key_info, &key_info_element));
  ByteView attributes;
  bool has_attributes = false;
  ASSERT_TRUE(info.ReadOptionalDer(0xA0, &attributes, &has_attributes));
  EXPECT_TRUE(info.empty());
  EXPECT_EQ(has_attributes, c.type == 2);

  // SubjectPublicKeyInfo: the container's signing key (specification 1 for
  // a single certificate, 2 for a double one).
  const DWORD sign_spec = c.type == 1 ? AT_KEYEXCHANGE : AT_SIGNATURE;
  ByteView key_algorithm, key_algorithm_element, key_bits;
  ASSERT_TRUE(key_info.ReadDer(0x30, &key_algorithm, &key_algorithm_element));
  ASSERT_TRUE(key_info.ReadDer(0x03, &key_bits) && key_info.empty());
  EXPECT_EQ(Of(key_algorithm_element), c.sm2 ? kSm2Algorithm : kRsaAlgorithm);
  const Bytes key_bytes = Of(key_bits);
  ASSERT_GE(key_bytes.size(), 2u);
  EXPECT_EQ(key_bytes[0], 0x00);
  const Bytes public_key(key_bytes.begin() + 1, key_bytes.end());
  const std::u16string container16(container.begin(), container.end());
  EXPECT_EQ(public_key, ContainerPublicKey(container16, c.provider, sign_spec));
  if (c.sm2) {
    EXPECT_EQ(public_key.size(), 65u);
    EXPECT_EQ(public_key[0], 0x04);
  } else {
    EXPECT_EQ(RsaModulusBits(public_key), static_cast<size_t>(c.bits));
  }

  if (has_attributes) {
    // [0] { challenge password, SEQUENCE { 1.2.840.113549.1.9.63, OCTET STRING { SEQUENCE {
    //       INTEGER 1, OCTET STRING temporary key } } } }, no SET around either value.
    ByteView first, first_element, second, oid, wrapped, inner, one, temporary;
    ASSERT_TRUE(attributes.ReadDer(0x30, &first, &first_element));
    EXPECT_EQ(Of(first_element), kChallengePassword);
    ASSERT_TRUE(attributes.ReadDer(0x30, &second) && attributes.empty());
    ASSERT_TRUE(second.ReadDer(0x06, &oid) && second.ReadDer(0x04, &wrapped) && second.empty());
    EXPECT_EQ(Of(oid), kExchangeKeyOid);
    ASSERT_TRUE(wrapped.ReadDer(0x30, &inner) && wrapped.empty());
    ASSERT_TRUE(inner.ReadDer(0x02, &one) && inner.ReadDer(0x04, &temporary) && inner.empty());
    EXPECT_EQ(Of(one), Bytes{0x01});
    const Bytes key = Of(temporary);
    const Bytes exchange = ContainerPublicKey(container16, c.provider, AT_KEYEXCHANGE);
    if (c.sm2) {
      ASSERT_EQ(key.size(), 136u);
      EXPECT_EQ(Bytes(key.begin(), key.begin() + 8), (Bytes{0x00, 0xB4, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}));
      Bytes point = {0x04};
      point.insert(point.end(), key.begin() + 8, key.begin() + 40);
      point.insert(point.end(), key.begin() + 72, key.begin() + 104);
      EXPECT_EQ(point, exchange);
      EXPECT_EQ(Bytes(key.begin() + 40, key.begin() + 72), Bytes(32, 0));
      EXPECT_EQ(Bytes(key.begin() + 104, key.end()), Bytes(32, 0));
    } else {
      EXPECT_EQ(key, exchange);
      EXPECT_EQ(RsaModulusBits(key), 1024u);
    }
  }

  // The signature, and the request as openssl accepts it.
  const Bytes signature_bits = Of(signature);
  ASSERT_GE(signature_bits.size(), 2u);
  EXPECT_EQ(signature_bits[0], 0x00);
  Bytes raw_signature(signature_bits.begin() + 1, signature_bits.end());
  if (c.sm2) {
    raw_signature = CheckAndMinimizeSm2Signature(raw_signature);
  } else {
    EXPECT_EQ(raw_signature.size(), static_cast<size_t>(c.bits / 8));
  }
  TempDir dir;
  const std::string vfyopt = c.sm2 ? std::string(" -vfyopt ") + kDistId : "";
  if (c.type == 1) {
    DerWriter rebuilt;
    const size_t mark = rebuilt.Open(0x30);
    rebuilt.AddBytes(info_element.span());
    rebuilt.AddBytes(algorithm_element.span());
    Bytes bits = {0x00};
    bits.insert(bits.end(), raw_signature.begin(), raw_signature.end());
    rebuilt.AddElement(0x03, bits);
    rebuilt.Close(mark);
    WriteFileBytes(dir.File("req.der"), rebuilt.Finish());
    const auto verified = RunCommand("openssl req -inform DER -in req.der -out req.pem && openssl req -in req.pem "
                                     "-noout -verify -subject -nameopt RFC2253" + vfyopt,
                                     dir.path());
    EXPECT_EQ(verified.exit_code, 0) << verified.output;
    EXPECT_NE(verified.output.find("verify OK"), std::string::npos) << verified.output;
    EXPECT_NE(verified.output.find(std::string("subject=") + kSubject), std::string::npos) << verified.output;

    // An authority issues a certificate for it.
    const std::string ca = c.sm2 ? ca_->File("sm2-ca") : ca_->File("rsa-ca");
    const std::string sm2_options = c.sm2 ? std::string(" -sm3 -sigopt ") + kDistId + " -vfyopt " + kDistId : "";
    const auto issued = RunCommand("openssl x509 -req -in req.pem -CA " + ca + ".pem -CAkey " + ca +
                                   ".key -set_serial 7 -days 1 -out cert.pem" + sm2_options,
                                   dir.path());
    ASSERT_EQ(issued.exit_code, 0) << issued.output;
    for (const char* field : {"-subject -nameopt RFC2253", "-pubkey"}) {
      const auto cert = RunCommand(std::string("openssl x509 -in cert.pem -noout ") + field, dir.path());
      const auto req = RunCommand(std::string("openssl req -in req.pem -noout ") + field, dir.path());
      EXPECT_EQ(cert.exit_code, 0) << cert.output;
      EXPECT_EQ(cert.output, req.output);
    }
  } else {
    // openssl does not read attributes without a SET, so the signature is
    // checked over the CertificationRequestInfo bytes.
    WriteFileBytes(dir.File("info.der"), Of(info_element));
    WriteFileBytes(dir.File("key.der"), Of(key_info_element));
    WriteFileBytes(dir.File("signature"), raw_signature);
    const std::string digest = c.sm2 ? "-sm3 -sigopt " + std::string(kDistId) : c.md5 ? "-md5" : "-sha1";
    const auto verified = RunCommand("openssl pkey -pubin -inform DER -in key.der -out key.pem && openssl dgst " +
                                         digest + " -verify key.pem -signature signature info.der",
                                     dir.path());
    EXPECT_EQ(verified.exit_code, 0) << verified.output;
    EXPECT_NE(verified.output.find("Verified OK"), std::string::npos) << verified.output;
  }

  // The admin command shows the container with the request's keys.
  const auto listed = RunCommand(std::string(TESSALINE_ADMIN_PATH) + " containers");
  ASSERT_EQ(listed.exit_code, 0) << listed.output;
  const size_t at = listed.output.find(provider + "\t" + container);
  ASSERT_NE(at, std::string::npos) << listed.output;
  const std::string line = listed.output.substr(at, listed.output.find('\n', at) - at);
  EXPECT_NE(line.find("\texchange="), std::string::npos) << line;
  EXPECT_EQ(line.find("\tsignature=") != std::string::npos, c.type == 2) << line;
}

INSTANTIATE_TEST_SUITE_P(
    EveryCombination, HostRequestTest,
    ::testing::Values(Combination{"RsaSingleEnhanced", MS_ENHANCED_PROV_W, 2048, false, false, 1, 1},
                      Combination{"RsaDoubleEnhanced", MS_ENHANCED_PROV_W, 1024, false, false, 2, 0},
                      Combination{"RsaSingleAes", MS_ENH_RSA_AES_PROV_W, 2048, false, false, 1, 0},
                      Combination{"RsaDoubleAes", MS_ENH_RSA_AES_PROV_W, 2048, false, false, 2, 1},
                      Combination{"RsaSingleMd5", MS_ENHANCED_PROV_W, 1024, false, true, 1, 0},
                      Combination{"RsaDoubleMd5", MS_ENHANCED_PROV_W, 1024, false, true, 2, 0},
                      Combination{"Sm2Single", TL_SM2_PROV_W, 256, true, false, 1, 0},
                      Combination{"Sm2Double", TL_SM2_PROV_W, 256, true, false, 2, 0}),
    [](const ::testing::TestParamInfo<Combination>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tessaline::test
