#include "platform/cert/CertObjects.h"

namespace tessaline::cert {
namespace {

constexpr uint8_t kTagInteger = 0x02;
constexpr uint8_t kTagOid = 0x06;
constexpr uint8_t kTagSequence = 0x30;
constexpr uint8_t kTagSet = 0x31;
constexpr uint8_t kTagExplicit0 = 0xA0;
constexpr uint8_t kTagCertificates = 0xA0;  // [0] IMPLICIT
constexpr uint8_t kTagCrls = 0xA1;          // [1] IMPLICIT

const DWORD kBadTag = static_cast<DWORD>(CRYPT_E_ASN1_BADTAG);

}  // namespace

// ContentInfo ::= SEQUENCE {
//   contentType ContentType,                          -- signedData
//   content     [0] EXPLICIT ANY DEFINED BY contentType }
//
// SignedData ::= SEQUENCE {
//   version          CMSVersion,
//   digestAlgorithms DigestAlgorithmIdentifiers,
//   encapContentInfo EncapsulatedContentInfo,
//   certificates     [0] IMPLICIT CertificateSet OPTIONAL,
//   crls             [1] IMPLICIT RevocationInfoChoices OPTIONAL,
//   signerInfos      SignerInfos }
DWORD ReadPkcs7Certificates(std::span<const uint8_t> der, std::vector<std::span<const uint8_t>>* certificates) {
  ByteView input(der);
  ByteView content_info;
  ByteView type;
  std::string oid;
  if (!input.ReadDer(kTagSequence, &content_info) || !input.empty() || !content_info.ReadDer(kTagOid, &type) ||
      !DecodeObjectIdentifier(type, &oid)) {
    return kBadTag;
  }
  if (oid != "1.2.840.113549.1.7.2") return static_cast<DWORD>(CRYPT_E_MSG_ERROR);  // not signedData
  ByteView wrapper;
  ByteView signed_data;
  ByteView ignored;
  if (!content_info.ReadDer(kTagExplicit0, &wrapper) || !content_info.empty() ||
      !wrapper.ReadDer(kTagSequence, &signed_data) || !wrapper.empty() ||
      !signed_data.ReadDer(kTagInteger, &ignored) || !signed_data.ReadDer(kTagSet, &ignored) ||
      !signed_data.ReadDer(kTagSequence, &ignored)) {
    return kBadTag;
  }
  ByteView set;
  bool present;
  if (!signed_data.ReadOptionalDer(kTagCertificates, &set, &present)) return kBadTag;
  while (present && !set.empty()) {
    // CertificateChoices: only plain certificates are taken; the other
    // choices (attribute certificates, ...) are passed over.
    uint8_t tag;
    ByteView element;
    if (!set.ReadAnyDer(&tag, &ignored, &element)) return kBadTag;
    if (tag == kTagSequence) certificates->push_back(element.span());
  }
  if (!signed_data.ReadOptionalDer(kTagCrls, &ignored, &present) || !signed_data.ReadDer(kTagSet, &ignored) ||
      !signed_data.empty()) {
    return kBadTag;
  }
  return ERROR_SUCCESS;
}

}  // namespace tessaline::cert
