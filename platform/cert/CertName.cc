// Distinguished names as text.
#include <cstring>
#include <string>
#include <vector>

#include "platform/base/Utf.h"
#include "platform/cert/CertObjects.h"

namespace tessaline::cert {
namespace {

constexpr uint8_t kTagOid = 0x06;
constexpr uint8_t kTagSequence = 0x30;
constexpr uint8_t kTagSet = 0x31;

struct Attribute {
  std::string oid;
  std::u16string value;
};
using Rdn = std::vector<Attribute>;

struct KeyName {
  const char* oid;
  const char16_t* key;
};

// The platform's X.500 key names; other attributes show their dotted
// identifier.
constexpr KeyName kKeyNames[] = {
    {"2.5.4.3", u"CN"},
    {"2.5.4.4", u"SN"},
    {"2.5.4.5", u"SERIALNUMBER"},
    {"2.5.4.6", u"C"},
    {"2.5.4.7", u"L"},
    {"2.5.4.8", u"S"},
    {"2.5.4.9", u"STREET"},
    {"2.5.4.10", u"O"},
    {"2.5.4.11", u"OU"},
    {"2.5.4.12", u"T"},
    {"2.5.4.42", u"G"},
    {"2.5.4.43", u"I"},
    {"1.2.840.113549.1.9.1", u"E"},
    {"0.9.2342.19200300.100.1.25", u"DC"},
};

std::u16string Latin1(ByteView bytes) {
  std::u16string text;
  for (uint8_t b : bytes.span()) text.push_back(b);
  return text;
}

std::u16string HexElement(ByteView element) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string text = u"#";
  for (uint8_t b : element.span()) {
    text.push_back(kHex[b >> 4]);
    text.push_back(kHex[b & 15]);
  }
  return text;
}

// The value of an attribute as text: the string types decoded, anything
// else as '#' and the hexadecimal of its encoding.
std::u16string ValueText(uint8_t tag, ByteView contents, ByteView element) {
  switch (tag) {
    case 0x0C:  // UTF8String
      return Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(contents.data()), contents.size()));
    case 0x12:  // NumericString
    case 0x13:  // PrintableString
    case 0x14:  // TeletexString
    case 0x16:  // IA5String
    case 0x1A:  // VisibleString
    case 0x1B:  // GeneralString
      return Latin1(contents);
    case 0x1E: {  // BMPString: UTF-16BE
      if (contents.size() % 2 != 0) break;
      std::u16string text;
      uint8_t hi, lo;
      while (contents.ReadU8(&hi) && contents.ReadU8(&lo)) text.push_back(static_cast<char16_t>((hi << 8) | lo));
      return text;
    }
    case 0x1C: {  // UniversalString: UCS-4BE
      if (contents.size() % 4 != 0) break;
      std::u16string text;
      while (!contents.empty()) {
        uint32_t c = 0;
        for (int i = 0; i < 4; ++i) {
          uint8_t b;
          if (!contents.ReadU8(&b)) break;
          c = (c << 8) | b;
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c >= 0x10000) {
          text.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
          text.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
          text.push_back(static_cast<char16_t>(c));
        }
      }
      return text;
    }
    default:
      break;
  }
  return HexElement(element);
}

// Name ::= SEQUENCE OF RelativeDistinguishedName
// RelativeDistinguishedName ::= SET SIZE (1..MAX) OF AttributeTypeAndValue
// AttributeTypeAndValue ::= SEQUENCE { type OBJECT IDENTIFIER, value ANY }
bool ParseName(ByteView input, std::vector<Rdn>* out) {
  ByteView name;
  if (!input.ReadDer(kTagSequence, &name) || !input.empty()) return false;
  while (!name.empty()) {
    ByteView set;
    if (!name.ReadDer(kTagSet, &set) || set.empty()) return false;
    Rdn rdn;
    while (!set.empty()) {
      ByteView atv;
      ByteView oid;
      Attribute attribute;
      uint8_t tag;
      ByteView contents;
      ByteView element;
      if (!set.ReadDer(kTagSequence, &atv) || !atv.ReadDer(kTagOid, &oid) ||
          !DecodeObjectIdentifier(oid, &attribute.oid) || !atv.ReadAnyDer(&tag, &contents, &element) ||
          !atv.empty()) {
        return false;
      }
      attribute.value = ValueText(tag, contents, element);
      rdn.push_back(std::move(attribute));
    }
    out->push_back(std::move(rdn));
  }
  return true;
}

std::u16string KeyFor(const std::string& oid, DWORD type) {
  if (type == CERT_X500_NAME_STR) {
    for (const KeyName& k : kKeyNames) {
      if (oid == k.oid) return k.key;
    }
  }
  return Utf8ToUtf16(oid);
}

bool NeedsQuotes(const std::u16string& value) {
  if (value.empty() || value.front() == u' ' || value.back() == u' ') return true;
  return value.find_first_of(u",+=\"\r\n<>#;") != std::u16string::npos;
}

std::u16string Quoted(const std::u16string& value) {
  std::u16string text = u"\"";
  for (char16_t c : value) {
    text.push_back(c);
    if (c == u'"') text.push_back(u'"');
  }
  text.push_back(u'"');
  return text;
}

std::u16string Format(const std::vector<Rdn>& rdns, DWORD str_type) {
  const DWORD type = str_type & 0xFFFF;
  const bool reverse = (str_type & CERT_NAME_STR_REVERSE_FLAG) != 0;
  const bool quote = (str_type & CERT_NAME_STR_NO_QUOTING_FLAG) == 0;
  const char16_t* rdn_separator = u", ";
  if ((str_type & CERT_NAME_STR_SEMICOLON_FLAG) != 0) rdn_separator = u"; ";
  if ((str_type & CERT_NAME_STR_CRLF_FLAG) != 0) rdn_separator = u"\r\n";
  const char16_t* attribute_separator = (str_type & CERT_NAME_STR_NO_PLUS_FLAG) != 0 ? u" " : u" + ";

  std::u16string text;
  for (size_t i = 0; i < rdns.size(); ++i) {
    const Rdn& rdn = rdns[reverse ? rdns.size() - 1 - i : i];
    if (i != 0) text += rdn_separator;
    for (size_t j = 0; j < rdn.size(); ++j) {
      if (j != 0) text += attribute_separator;
      if (type != CERT_SIMPLE_NAME_STR) text += KeyFor(rdn[j].oid, type) + u"=";
      text += quote && NeedsQuotes(rdn[j].value) ? Quoted(rdn[j].value) : rdn[j].value;
    }
  }
  return text;
}

// Copies TEXT into PSZ (CSZ characters, NUL included) as the name functions
// do; returns the count they return.
DWORD Deliver(const std::u16string& text, LPWSTR psz, DWORD csz) {
  if (psz == nullptr || csz == 0) return static_cast<DWORD>(text.size() + 1);
  const size_t n = std::min<size_t>(text.size(), csz - 1);
  if (n != 0) std::memcpy(psz, text.data(), n * sizeof(char16_t));
  psz[n] = u'\0';
  return static_cast<DWORD>(n + 1);
}

const Attribute* FindAttribute(const std::vector<Rdn>& rdns, const char* oid) {
  for (const Rdn& rdn : rdns) {
    for (const Attribute& a : rdn) {
      if (a.oid == oid) return &a;
    }
  }
  return nullptr;
}

// GeneralNames ::= SEQUENCE OF GeneralName; rfc822Name [1] IMPLICIT IA5String
bool AltNameEmail(const CERT_INFO& info, std::u16string* email) {
  const CERT_EXTENSION* ext = CertFindExtension("2.5.29.17", info.cExtension, info.rgExtension);
  if (ext == nullptr) return false;
  ByteView input(ext->Value.pbData, ext->Value.cbData);
  ByteView names;
  if (!input.ReadDer(kTagSequence, &names)) return false;
  while (!names.empty()) {
    uint8_t tag;
    ByteView contents;
    if (!names.ReadAnyDer(&tag, &contents)) return false;
    if (tag == 0x81) {
      *email = Latin1(contents);
      return true;
    }
  }
  return false;
}

}  // namespace
}  // namespace tessaline::cert

using namespace tessaline::cert;

DWORD CertNameToStrW(DWORD dwCertEncodingType, const CERT_NAME_BLOB* pName, DWORD dwStrType, LPWSTR psz,
                     DWORD csz) {
  (void)dwCertEncodingType;
  if (psz != nullptr && csz != 0) psz[0] = u'\0';
  const DWORD type = dwStrType & 0xFFFF;
  if (pName == nullptr || (pName->pbData == nullptr && pName->cbData != 0) ||
      (type != CERT_SIMPLE_NAME_STR && type != CERT_OID_NAME_STR && type != CERT_X500_NAME_STR)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::vector<Rdn> rdns;
  if (!ParseName(tessaline::ByteView(pName->pbData, pName->cbData), &rdns)) {
    SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
    return 0;
  }
  return Deliver(Format(rdns, dwStrType), psz, csz);
}

DWORD CertGetNameStringW(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags, const void* pvTypePara,
                         LPWSTR pszNameString, DWORD cchNameString) {
  std::lock_guard<std::recursive_mutex> lock(CertLock());
  CertContextImpl* cert = LiveContext(pCertContext);
  if (cert == nullptr) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return Deliver(u"", pszNameString, cchNameString);
  }
  const CERT_INFO& info = cert->parsed.info;
  const CERT_NAME_BLOB& blob = (dwFlags & CERT_NAME_ISSUER_FLAG) != 0 ? info.Issuer : info.Subject;
  std::vector<Rdn> rdns;
  if (!ParseName(tessaline::ByteView(blob.pbData, blob.cbData), &rdns)) rdns.clear();

  std::u16string text;
  switch (dwType) {
    case CERT_NAME_RDN_TYPE: {
      const DWORD str_type = pvTypePara != nullptr ? *static_cast<const DWORD*>(pvTypePara) : CERT_X500_NAME_STR;
      text = Format(rdns, str_type);
      break;
    }
    case CERT_NAME_ATTR_TYPE: {
      const Attribute* a =
          pvTypePara != nullptr ? FindAttribute(rdns, static_cast<const char*>(pvTypePara)) : nullptr;
      if (a != nullptr) text = a->value;
      break;
    }
    case CERT_NAME_EMAIL_TYPE: {
      if (!AltNameEmail(info, &text)) {
        const Attribute* a = FindAttribute(rdns, szOID_RSA_emailAddr);
        if (a != nullptr) text = a->value;
      }
      break;
    }
    case CERT_NAME_FRIENDLY_DISPLAY_TYPE: {
      const auto it = cert->properties.find(CERT_FRIENDLY_NAME_PROP_ID);
      if (it != cert->properties.end() && it->second.size() >= 2) {
        for (size_t i = 0; i + 1 < it->second.size(); i += 2) {
          const auto c = static_cast<char16_t>(it->second[i] | (it->second[i + 1] << 8));
          if (c == u'\0') break;
          text.push_back(c);
        }
        break;
      }
      [[fallthrough]];
    }
    case CERT_NAME_SIMPLE_DISPLAY_TYPE: {
      // The first common name; failing that the first unit, organisation
      // or e-mail attribute, the e-mail alternative name, or the name's
      // first attribute.
      for (const char* oid :
           {szOID_COMMON_NAME, szOID_ORGANIZATIONAL_UNIT_NAME, szOID_ORGANIZATION_NAME, szOID_RSA_emailAddr}) {
        if (const Attribute* a = FindAttribute(rdns, oid)) {
          text = a->value;
          return Deliver(text, pszNameString, cchNameString);
        }
      }
      if (!AltNameEmail(info, &text) && !rdns.empty() && !rdns.front().empty()) text = rdns.front().front().value;
      break;
    }
    default:
      break;
  }
  return Deliver(text, pszNameString, cchNameString);
}
