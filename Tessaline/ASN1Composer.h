// Element builders over the platform's structure encoder. Each output length
// argument may be null; the vector's size is the same length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/asn1/StructTypes.h"
#include "platform/base/Result.h"

namespace tessaline {

// Encodes STRUCTURE, of STRUCT_TYPE (X509_NAME_VALUE, X509_BITS or
// PKCS_ATTRIBUTE), in DER. A failure of the encoder gives its last error as
// a result code.
HRESULT EncodeObject(const void* structure, size_t* length, int struct_type, std::vector<uint8_t>* encoded);

// One string element of STRING_TYPE (CERT_RDN_OCTET_STRING,
// CERT_RDN_PRINTABLE_STRING, CERT_RDN_IA5_STRING: BYTES are the content;
// CERT_RDN_UTF8_STRING: BYTES are UTF-16 text, LENGTH = 2 x characters).
HRESULT ComposeAnyString(size_t length, DWORD string_type, const uint8_t* bytes, std::vector<uint8_t>* element,
                         size_t* element_length);

// BIT STRING of LENGTH bytes, no unused bits.
HRESULT ComposeBITString(size_t length, const uint8_t* bytes, std::vector<uint8_t>* element,
                         size_t* element_length);

// SEQUENCE { OBJECT IDENTIFIER OID, VALUE } for dotted text OID; with VALUE
// null, SEQUENCE { OBJECT IDENTIFIER, NULL }. VALUE is one element with a tag
// that ASN1Encode accepts and a non-empty value, else E_FAIL.
HRESULT ComposeSpecialAttribute(const char* oid, const uint8_t* value, size_t value_length,
                                std::vector<uint8_t>* element, size_t* element_length);

}  // namespace tessaline
