// The platform's DER encoder for the few structures the core builds through
// it (see StructTypes.h).
#pragma once

#include "platform/asn1/StructTypes.h"

// Encodes STRUCT_INFO, a structure of type STRUCT_TYPE, in DER. ENCODING_TYPE
// must include X509_ASN_ENCODING. Two calls: with ENCODED null, *SIZE
// receives the size needed; with a buffer, *SIZE is its capacity on entry
// and the encoding's size on return. A buffer too small fails with
// ERROR_MORE_DATA and the size needed in *SIZE.
//
// Other failures (last error): ERROR_INVALID_PARAMETER for null arguments, an
// unknown encoding type or malformed input (an object identifier that is not
// dotted decimal, odd UTF-16 byte counts, unused bits above 7),
// ERROR_NOT_SUPPORTED for another structure type or string type,
// CRYPT_E_INVALID_PRINTABLE_STRING / CRYPT_E_INVALID_IA5_STRING for text
// outside those character sets, CRYPT_E_ASN1_CORRUPT for an attribute value
// that is not one complete DER element.
BOOL CryptEncodeObject(DWORD encodingType, int structType, const void* structInfo, BYTE* encoded, DWORD* size);
