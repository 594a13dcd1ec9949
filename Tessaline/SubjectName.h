// The subject of a certificate request: a text of comma-separated NAME=value
// pairs (no quoting, no escapes, one attribute per RDN), encoded as the DER
// of an X.501 Name with the RDNs in reverse text order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Result.h"

namespace tessaline {

struct SubjectAttribute {
  std::string oid;       // dotted decimal; empty for a name outside the table
  std::u16string value;  // exactly as written
};

// Splits TEXT at every SEPARATOR, keeping empty pieces ("a," gives "a" and
// ""); an empty text gives no pieces. Always S_OK.
HRESULT SplidWstr(std::u16string_view text, char16_t separator, std::vector<std::u16string>* pieces);

// TEXT without any CH.
std::u16string ReplaceWchar(std::u16string_view text, char16_t ch);

// The object identifier of attribute NAME (CN, O, OU, C, E, ...), compared
// without regard to letter case; empty for an unknown name.
std::string GetObjectID(std::u16string_view name);

// Splits SUBJECT into (identifier, value) pairs in text order. NTE_BAD_DATA
// for a piece that is not exactly NAME=VALUE. Spaces are removed from names
// only.
HRESULT ParseSubject(std::u16string_view subject, std::vector<SubjectAttribute>* parsed);

// One RDN: SET { SEQUENCE { OBJECT IDENTIFIER, string } }. RDN_LENGTH may be
// null.
HRESULT ComposeSubjectChild(const SubjectAttribute& attribute, std::vector<uint8_t>* rdn, size_t* rdn_length);

// The DER Name of SUBJECT, the last pair of the text first. E_FAIL for an
// empty subject or an empty value; NAME_LENGTH may be null.
HRESULT ComposeSubject(std::u16string_view subject, std::vector<uint8_t>* name, size_t* name_length);

}  // namespace tessaline
