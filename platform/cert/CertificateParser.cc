#include "platform/cert/CertificateParser.h"

#include <algorithm>

namespace tessaline::cert {
namespace {

constexpr uint8_t kTagBoolean = 0x01;
constexpr uint8_t kTagInteger = 0x02;
constexpr uint8_t kTagBitString = 0x03;
constexpr uint8_t kTagOctetString = 0x04;
constexpr uint8_t kTagOid = 0x06;
constexpr uint8_t kTagUtcTime = 0x17;
constexpr uint8_t kTagGeneralizedTime = 0x18;
constexpr uint8_t kTagSequence = 0x30;
constexpr uint8_t kTagVersion = 0xA0;         // [0] EXPLICIT
constexpr uint8_t kTagIssuerUniqueId = 0x81;  // [1] IMPLICIT
constexpr uint8_t kTagSubjectUniqueId = 0x82;  // [2] IMPLICIT
constexpr uint8_t kTagExtensions = 0xA3;      // [3] EXPLICIT

const DWORD kBadTag = static_cast<DWORD>(CRYPT_E_ASN1_BADTAG);
const DWORD kCorrupt = static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);

BYTE* Mutable(const ByteView& view) { return const_cast<BYTE*>(view.data()); }

CRYPTOAPI_BLOB BlobOf(const ByteView& view) {
  return CRYPTOAPI_BLOB{static_cast<DWORD>(view.size()), view.empty() ? nullptr : Mutable(view)};
}

// AlgorithmIdentifier ::= SEQUENCE {
//   algorithm  OBJECT IDENTIFIER,
//   parameters ANY DEFINED BY algorithm OPTIONAL }
bool ReadAlgorithm(ByteView* in, std::string* oid, CRYPT_ALGORITHM_IDENTIFIER* out) {
  ByteView seq;
  ByteView oid_bytes;
  if (!in->ReadDer(kTagSequence, &seq) || !seq.ReadDer(kTagOid, &oid_bytes)) return false;
  if (!DecodeObjectIdentifier(oid_bytes, oid)) return false;
  out->Parameters = BlobOf(seq);  // the encoded parameters, if any
  if (!seq.empty()) {
    uint8_t tag;
    ByteView ignored;
    ByteView params = seq;
    if (!params.ReadAnyDer(&tag, &ignored) || !params.empty()) return false;
  }
  return true;
}

// BIT STRING contents: the unused-bits octet, then the bits.
bool ReadBits(ByteView contents, CRYPT_BIT_BLOB* out) {
  uint8_t unused;
  if (!contents.ReadU8(&unused) || unused > 7 || (contents.empty() && unused != 0)) return false;
  out->cbData = static_cast<DWORD>(contents.size());
  out->pbData = contents.empty() ? nullptr : Mutable(contents);
  out->cUnusedBits = unused;
  return true;
}

bool Digits(ByteView* in, size_t n, int* value) {
  *value = 0;
  for (size_t i = 0; i < n; ++i) {
    uint8_t c;
    if (!in->ReadU8(&c) || c < '0' || c > '9') return false;
    *value = *value * 10 + (c - '0');
  }
  return true;
}

}  // namespace

bool DecodeObjectIdentifier(ByteView contents, std::string* dotted) {
  dotted->clear();
  if (contents.empty()) return false;
  bool first = true;
  while (!contents.empty()) {
    uint64_t arc = 0;
    uint8_t b;
    size_t length = 0;
    do {
      if (!contents.ReadU8(&b)) return false;     // last octet had the continuation bit
      if (length == 0 && b == 0x80) return false;  // not minimal
      if (arc > (UINT64_MAX >> 7)) return false;
      arc = (arc << 7) | (b & 0x7F);
      ++length;
    } while ((b & 0x80) != 0);
    if (first) {
      const uint64_t top = arc < 40 ? 0 : (arc < 80 ? 1 : 2);
      dotted->append(std::to_string(top));
      dotted->push_back('.');
      dotted->append(std::to_string(arc - top * 40));
      first = false;
    } else {
      dotted->push_back('.');
      dotted->append(std::to_string(arc));
    }
  }
  return true;
}

bool DecodeTime(uint8_t tag, ByteView contents, FILETIME* out) {
  int year;
  if (tag == kTagUtcTime) {
    // YYMMDDHHMMSSZ; years 50-99 are 1950-1999.
    if (contents.size() != 13 || !Digits(&contents, 2, &year)) return false;
    year += year < 50 ? 2000 : 1900;
  } else if (tag == kTagGeneralizedTime) {
    // YYYYMMDDHHMMSS[.fff]Z
    if (contents.size() < 15 || !Digits(&contents, 4, &year)) return false;
  } else {
    return false;
  }
  int month, day, hour, minute, second;
  if (!Digits(&contents, 2, &month) || !Digits(&contents, 2, &day) || !Digits(&contents, 2, &hour) ||
      !Digits(&contents, 2, &minute) || !Digits(&contents, 2, &second)) {
    return false;
  }
  uint64_t fraction_ticks = 0;
  uint8_t c;
  if (!contents.ReadU8(&c)) return false;
  if (c == '.' && tag == kTagGeneralizedTime) {
    uint64_t scale = kTicksPerSecond;
    size_t digits = 0;
    while (contents.ReadU8(&c) && c >= '0' && c <= '9') {
      scale /= 10;
      fraction_ticks += static_cast<uint64_t>(c - '0') * scale;
      ++digits;
    }
    if (digits == 0) return false;
  }
  if (c != 'Z' || !contents.empty()) return false;
  FILETIME whole;
  if (!FileTimeFromFields(year, month, day, hour, minute, second, &whole)) return false;
  *out = FileTimeFromTicks(FileTimeTicks(whole) + fraction_ticks);
  return true;
}

// Certificate ::= SEQUENCE {
//   tbsCertificate       TBSCertificate,
//   signatureAlgorithm   AlgorithmIdentifier,
//   signatureValue       BIT STRING }
//
// TBSCertificate ::= SEQUENCE {
//   version         [0] EXPLICIT Version DEFAULT v1,
//   serialNumber         CertificateSerialNumber,
//   signature            AlgorithmIdentifier,
//   issuer               Name,
//   validity             Validity,
//   subject              Name,
//   subjectPublicKeyInfo SubjectPublicKeyInfo,
//   issuerUniqueID  [1] IMPLICIT UniqueIdentifier OPTIONAL,
//   subjectUniqueID [2] IMPLICIT UniqueIdentifier OPTIONAL,
//   extensions      [3] EXPLICIT Extensions OPTIONAL }
DWORD ParseCertificate(std::span<const uint8_t> der, ParsedCertificate* out) {
  ByteView input(der);
  ByteView certificate;
  if (!input.ReadDer(kTagSequence, &certificate)) return kBadTag;
  if (!input.empty()) return kCorrupt;

  ByteView tbs;
  if (!certificate.ReadDer(kTagSequence, &tbs)) return kBadTag;
  std::string outer_algorithm;
  CRYPT_ALGORITHM_IDENTIFIER outer{};
  ByteView signature;
  CRYPT_BIT_BLOB signature_bits{};
  if (!ReadAlgorithm(&certificate, &outer_algorithm, &outer) || !certificate.ReadDer(kTagBitString, &signature) ||
      !ReadBits(signature, &signature_bits) || !certificate.empty()) {
    return kBadTag;
  }

  CERT_INFO& info = out->info;
  // Version ::= INTEGER { v1(0), v2(1), v3(2) }
  ByteView version_wrapper;
  bool has_version;
  if (!tbs.ReadOptionalDer(kTagVersion, &version_wrapper, &has_version)) return kBadTag;
  info.dwVersion = 0;
  if (has_version) {
    ByteView version;
    uint8_t v;
    if (!version_wrapper.ReadDer(kTagInteger, &version) || !version_wrapper.empty() || version.size() != 1 ||
        !version.ReadU8(&v) || v > 2) {
      return kBadTag;
    }
    info.dwVersion = v;
  }

  // CertificateSerialNumber ::= INTEGER
  ByteView serial;
  if (!tbs.ReadDer(kTagInteger, &serial) || serial.empty()) return kBadTag;
  out->serial.assign(serial.data(), serial.data() + serial.size());
  std::reverse(out->serial.begin(), out->serial.end());
  info.SerialNumber = CRYPT_INTEGER_BLOB{static_cast<DWORD>(out->serial.size()), out->serial.data()};

  if (!ReadAlgorithm(&tbs, &out->signature_oid, &info.SignatureAlgorithm)) return kBadTag;
  info.SignatureAlgorithm.pszObjId = out->signature_oid.data();

  // Name ::= SEQUENCE OF RelativeDistinguishedName (kept encoded)
  ByteView ignored;
  ByteView issuer;
  if (!tbs.ReadDer(kTagSequence, &ignored, &issuer)) return kBadTag;
  info.Issuer = BlobOf(issuer);

  // Validity ::= SEQUENCE { notBefore Time, notAfter Time }
  // Time ::= CHOICE { utcTime UTCTime, generalTime GeneralizedTime }
  ByteView validity;
  if (!tbs.ReadDer(kTagSequence, &validity)) return kBadTag;
  for (FILETIME* time : {&info.NotBefore, &info.NotAfter}) {
    uint8_t tag;
    ByteView text;
    if (!validity.ReadAnyDer(&tag, &text) || !DecodeTime(tag, text, time)) return kBadTag;
  }
  if (!validity.empty()) return kBadTag;

  ByteView subject;
  if (!tbs.ReadDer(kTagSequence, &ignored, &subject)) return kBadTag;
  info.Subject = BlobOf(subject);

  // SubjectPublicKeyInfo ::= SEQUENCE {
  //   algorithm        AlgorithmIdentifier,
  //   subjectPublicKey BIT STRING }
  ByteView spki;
  ByteView key;
  if (!tbs.ReadDer(kTagSequence, &spki) ||
      !ReadAlgorithm(&spki, &out->public_key_oid, &info.SubjectPublicKeyInfo.Algorithm) ||
      !spki.ReadDer(kTagBitString, &key) || !ReadBits(key, &info.SubjectPublicKeyInfo.PublicKey) || !spki.empty()) {
    return kBadTag;
  }
  info.SubjectPublicKeyInfo.Algorithm.pszObjId = out->public_key_oid.data();

  // UniqueIdentifier ::= BIT STRING
  bool present;
  ByteView unique;
  if (!tbs.ReadOptionalDer(kTagIssuerUniqueId, &unique, &present)) return kBadTag;
  if (present && !ReadBits(unique, &info.IssuerUniqueId)) return kBadTag;
  if (!tbs.ReadOptionalDer(kTagSubjectUniqueId, &unique, &present)) return kBadTag;
  if (present && !ReadBits(unique, &info.SubjectUniqueId)) return kBadTag;

  // Extensions ::= SEQUENCE SIZE (1..MAX) OF Extension
  // Extension ::= SEQUENCE {
  //   extnID    OBJECT IDENTIFIER,
  //   critical  BOOLEAN DEFAULT FALSE,
  //   extnValue OCTET STRING }
  ByteView wrapper;
  if (!tbs.ReadOptionalDer(kTagExtensions, &wrapper, &present)) return kBadTag;
  if (present) {
    ByteView list;
    if (!wrapper.ReadDer(kTagSequence, &list) || !wrapper.empty()) return kBadTag;
    std::vector<ByteView> values;
    std::vector<BOOL> critical;
    while (!list.empty()) {
      ByteView extension;
      ByteView oid;
      if (!list.ReadDer(kTagSequence, &extension) || !extension.ReadDer(kTagOid, &oid)) return kBadTag;
      std::string dotted;
      if (!DecodeObjectIdentifier(oid, &dotted)) return kBadTag;
      ByteView flag;
      bool has_flag;
      uint8_t flag_value = 0;
      if (!extension.ReadOptionalDer(kTagBoolean, &flag, &has_flag)) return kBadTag;
      if (has_flag && (flag.size() != 1 || !flag.ReadU8(&flag_value))) return kBadTag;
      ByteView value;
      if (!extension.ReadDer(kTagOctetString, &value) || !extension.empty()) return kBadTag;
      out->extension_oids.push_back(std::move(dotted));
      values.push_back(value);
      critical.push_back(flag_value != 0 ? TRUE : FALSE);
    }
    // The strings stop moving once all are in.
    for (size_t i = 0; i < values.size(); ++i) {
      out->extensions.push_back(CERT_EXTENSION{out->extension_oids[i].data(), critical[i], BlobOf(values[i])});
    }
  }
  if (!tbs.empty()) return kBadTag;
  info.cExtension = static_cast<DWORD>(out->extensions.size());
  info.rgExtension = out->extensions.empty() ? nullptr : out->extensions.data();
  return ERROR_SUCCESS;
}

}  // namespace tessaline::cert
