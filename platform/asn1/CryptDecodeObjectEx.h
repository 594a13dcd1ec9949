// The platform's DER decoder for the certificate extensions the core reads:
// the subject key identifier and the key usage.
#pragma once

#include <cstdint>

#include "platform/base/CryptTypes.h"
#include "platform/base/Types.h"

// Decode flags.
inline constexpr DWORD CRYPT_DECODE_NOCOPY_FLAG = 0x1;
inline constexpr DWORD CRYPT_DECODE_ALLOC_FLAG = 0x8000;

// Structure types by object identifier, as the extensions name them.
inline constexpr const char* szOID_SUBJECT_KEY_IDENTIFIER = "2.5.29.14";
inline constexpr const char* szOID_KEY_USAGE = "2.5.29.15";
inline constexpr const char* szOID_SUBJECT_ALT_NAME2 = "2.5.29.17";

struct CRYPT_DECODE_PARA {
  DWORD cbSize;
  void* (*pfnAlloc)(size_t size);
  void (*pfnFree)(void* pv);
};

// Decodes ENCODED as the structure LPSZSTRUCTTYPE: "2.5.29.14" (an OCTET
// STRING, into a CRYPT_DATA_BLOB) or "2.5.29.15" (a BIT STRING, into a
// CRYPT_BIT_BLOB). The same structures are reachable by their numbers
// (X509_OCTET_STRING 25, X509_KEY_USAGE 14, X509_BITS 26).
//
// With CRYPT_DECODE_NOCOPY_FLAG the blob points into ENCODED, which must
// outlive it, and the result is just the structure; otherwise the bytes are
// copied after the structure in the same buffer. Two calls: with
// PVSTRUCTINFO null, *PCBSTRUCTINFO receives the size; a buffer too small
// fails with ERROR_MORE_DATA and the size needed. With
// CRYPT_DECODE_ALLOC_FLAG the result is allocated with PDECODEPARA's
// allocator (required) and its address stored at *(void**)PVSTRUCTINFO.
//
// Failures (last error): ERROR_INVALID_PARAMETER for bad arguments,
// ERROR_FILE_NOT_FOUND for a structure type it does not know,
// CRYPT_E_ASN1_BADTAG for another element than expected, CRYPT_E_ASN1_CORRUPT
// for a malformed element or bytes after it.
BOOL CryptDecodeObjectEx(DWORD dwCertEncodingType, const char* lpszStructType, const BYTE* pbEncoded,
                         DWORD cbEncoded, DWORD dwFlags, const CRYPT_DECODE_PARA* pDecodePara, void* pvStructInfo,
                         DWORD* pcbStructInfo);
