#include "Tessaline/SubjectName.h"

#include <new>

#include "Tessaline/ASN1Composer.h"
#include "Tessaline/ASN1Encoder.h"
#include "Tessaline/Misc.h"
#include "Tessaline/Trace.h"

namespace tessaline {
namespace {

constexpr uint8_t kTagSequence = 0x30;
constexpr uint8_t kTagSet = 0x31;

struct AttributeName {
  std::u16string_view name;
  const char* oid;
};

// Matched in this order.
constexpr AttributeName kAttributeNames[] = {
    {u"CN", "2.5.4.3"},
    {u"SERIALNUMBER", "2.5.4.5"},
    {u"C", "2.5.4.6"},
    {u"L", "2.5.4.7"},
    {u"S", "2.5.4.8"},
    {u"ST", "2.5.4.8"},
    {u"STREET", "2.5.4.9"},
    {u"O", "2.5.4.10"},
    {u"OU", "2.5.4.11"},
    {u"businessCategory", "2.5.4.15"},
    {u"PostalCode", "2.5.4.17"},
    {u"E", "1.2.840.113549.1.9.1"},
    {u"Email", "1.2.840.113549.1.9.1"},
    {u"jurisdictionOfIncorporationLocalityName", "1.3.6.1.4.1.311.60.2.1.1"},
    {u"jurisdictionOfIncorporationStateOrProvinceName", "1.3.6.1.4.1.311.60.2.1.2"},
    {u"jurisdictionOfIncorporationCountryName", "1.3.6.1.4.1.311.60.2.1.3"},
};

constexpr std::string_view kPrintableStringOids[] = {"2.5.4.6", "2.5.4.5", "1.3.6.1.4.1.311.60.2.1.3"};
constexpr std::string_view kIa5StringOid = "1.2.840.113549.1.9.1";

char16_t FoldCase(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

// The string element of the value: PrintableString and IA5String carry the
// UTF-8 bytes, UTF8String is handed over as UTF-16.
HRESULT ComposeValue(const SubjectAttribute& attribute, std::vector<uint8_t>* element) {
  DWORD type = CERT_RDN_UTF8_STRING;
  for (std::string_view oid : kPrintableStringOids) {
    if (attribute.oid == oid) type = CERT_RDN_PRINTABLE_STRING;
  }
  if (attribute.oid == kIa5StringOid) type = CERT_RDN_IA5_STRING;
  if (type == CERT_RDN_UTF8_STRING) {
    return ComposeAnyString(attribute.value.size() * 2, type,
                            reinterpret_cast<const uint8_t*>(attribute.value.data()), element, nullptr);
  }
  std::string utf8;
  size_t count = 0;
  const HRESULT hr = UTF16ToUTF8(attribute.value.c_str(), &utf8, &count);
  TL_TRACE_STEP(hr, "ComposeSubjectChild", "UTF16ToUTF8");
  RETURN_IF_FAILED(hr);
  return ComposeAnyString(count, type, reinterpret_cast<const uint8_t*>(utf8.data()), element, nullptr);
}

}  // namespace

HRESULT SplidWstr(std::u16string_view text, char16_t separator, std::vector<std::u16string>* pieces) {
  if (pieces == nullptr) return E_POINTER;
  try {
    std::vector<std::u16string> out;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == separator) {
        out.emplace_back(text.substr(start, i - start));
        start = i + 1;
      }
      if (i + 1 == text.size()) out.emplace_back(text.substr(start));
    }
    pieces->insert(pieces->end(), out.begin(), out.end());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

std::u16string ReplaceWchar(std::u16string_view text, char16_t ch) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c != ch) out.push_back(c);
  }
  return out;
}

std::string GetObjectID(std::u16string_view name) {
  for (const auto& entry : kAttributeNames) {
    if (EqualsIgnoringCase(name, entry.name)) return entry.oid;
  }
  return {};
}

HRESULT ParseSubject(std::u16string_view subject, std::vector<SubjectAttribute>* parsed) {
  if (parsed == nullptr) return E_POINTER;
  try {
    std::vector<std::u16string> pieces;
    RETURN_IF_FAILED(SplidWstr(subject, u',', &pieces));
    std::vector<SubjectAttribute> out;
    for (const auto& piece : pieces) {
      std::vector<std::u16string> pair;
      RETURN_IF_FAILED(SplidWstr(piece, u'=', &pair));
      if (pair.size() != 2) {
        TL_TRACE_ERROR("ParseSubject: a piece is not one NAME=VALUE pair");
        return NTE_BAD_DATA;
      }
      out.push_back({GetObjectID(ReplaceWchar(pair[0], u' ')), std::move(pair[1])});
    }
    *parsed = std::move(out);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ComposeSubjectChild(const SubjectAttribute& attribute, std::vector<uint8_t>* rdn, size_t* rdn_length) {
  if (rdn == nullptr) return E_POINTER;
  std::vector<uint8_t> value, pair;
  HRESULT hr = ComposeValue(attribute, &value);
  TL_TRACE_STEP(hr, "ComposeSubjectChild", "ComposeAnyString");
  RETURN_IF_FAILED(hr);
  hr = ComposeSpecialAttribute(attribute.oid.c_str(), value.data(), value.size(), &pair, nullptr);
  TL_TRACE_STEP(hr, "ComposeSubjectChild", "ComposeSpecialAttribute");
  RETURN_IF_FAILED(hr);
  hr = ASN1Encode(kTagSet, pair.data(), pair.size(), rdn, rdn_length);
  TL_TRACE_STEP(hr, "ComposeSubjectChild", "ASN1Encode");
  return hr;
}

HRESULT ComposeSubject(std::u16string_view subject, std::vector<uint8_t>* name, size_t* name_length) {
  TL_TRACE_SCOPE("ComposeSubject");
  if (name == nullptr) return E_POINTER;
  std::vector<SubjectAttribute> parsed;
  HRESULT hr = ParseSubject(subject, &parsed);
  TL_TRACE_STEP(hr, "ComposeSubject", "ParseSubject");
  RETURN_IF_FAILED(hr);
  try {
    std::vector<uint8_t> rdns;
    for (auto it = parsed.rbegin(); it != parsed.rend(); ++it) {
      std::vector<uint8_t> rdn;
      hr = ComposeSubjectChild(*it, &rdn, nullptr);
      TL_TRACE_STEP(hr, "ComposeSubject", "ComposeSubjectChild");
      RETURN_IF_FAILED(hr);
      rdns.insert(rdns.end(), rdn.begin(), rdn.end());
    }
    hr = ASN1Encode(kTagSequence, rdns.data(), rdns.size(), name, name_length);
    TL_TRACE_STEP(hr, "ComposeSubject", "ASN1Encode");
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace tessaline
