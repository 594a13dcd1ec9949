// The structures the platform's DER encoder and decoder work on, and the
// numbers that name them.
#pragma once

#include "platform/base/CryptTypes.h"
#include "platform/base/Result.h"
#include "platform/base/Types.h"

// Structure types.
inline constexpr int X509_NAME_VALUE = 6;
inline constexpr int PKCS_ATTRIBUTE = 22;
inline constexpr int X509_BITS = 26;

// String types of CERT_NAME_VALUE.
inline constexpr DWORD CERT_RDN_OCTET_STRING = 2;
inline constexpr DWORD CERT_RDN_PRINTABLE_STRING = 4;
inline constexpr DWORD CERT_RDN_IA5_STRING = 7;
inline constexpr DWORD CERT_RDN_UTF8_STRING = 13;

// One string value. For CERT_RDN_UTF8_STRING, Value holds UTF-16 text
// (cbData = 2 x characters); for the others, the content bytes as they are.
struct CERT_NAME_VALUE {
  DWORD dwValueType;
  CRYPT_DATA_BLOB Value;
};

// An attribute: an object identifier (dotted decimal text) and its values,
// each one complete DER element.
struct CRYPT_ATTRIBUTE {
  LPSTR pszObjId;
  DWORD cValue;
  CRYPT_DATA_BLOB* rgValue;
};

// Last errors of the encoder for text outside a string type's character set.
inline constexpr HRESULT CRYPT_E_INVALID_NUMERIC_STRING = MakeResult(0x80092021);
inline constexpr HRESULT CRYPT_E_INVALID_PRINTABLE_STRING = MakeResult(0x80092022);
inline constexpr HRESULT CRYPT_E_INVALID_IA5_STRING = MakeResult(0x80092023);
