// Structures and handles shared by the provider and certificate services.
// Variable-size results follow the platform's layout: a structure whose
// pointers point into the same caller buffer, after the structure.
#pragma once

#include "platform/base/Types.h"

using ALG_ID = unsigned int;
using HCRYPTPROV = ULONG_PTR;
using HCRYPTKEY = ULONG_PTR;
using HCRYPTHASH = ULONG_PTR;

inline constexpr DWORD X509_ASN_ENCODING = 0x00000001;
inline constexpr DWORD PKCS_7_ASN_ENCODING = 0x00010000;

inline constexpr DWORD AT_KEYEXCHANGE = 1;
inline constexpr DWORD AT_SIGNATURE = 2;

struct CRYPTOAPI_BLOB {
  DWORD cbData;
  BYTE* pbData;
};
using CRYPT_INTEGER_BLOB = CRYPTOAPI_BLOB;
using CRYPT_DATA_BLOB = CRYPTOAPI_BLOB;
using CRYPT_OBJID_BLOB = CRYPTOAPI_BLOB;
using CERT_NAME_BLOB = CRYPTOAPI_BLOB;
using CRYPT_HASH_BLOB = CRYPTOAPI_BLOB;
using CRYPT_DER_BLOB = CRYPTOAPI_BLOB;

struct CRYPT_BIT_BLOB {
  DWORD cbData;
  BYTE* pbData;
  DWORD cUnusedBits;
};

struct CRYPT_ALGORITHM_IDENTIFIER {
  LPSTR pszObjId;  // dotted decimal, NUL-terminated
  CRYPT_OBJID_BLOB Parameters;
};

struct CERT_PUBLIC_KEY_INFO {
  CRYPT_ALGORITHM_IDENTIFIER Algorithm;
  CRYPT_BIT_BLOB PublicKey;
};

struct CRYPT_KEY_PROV_PARAM {
  DWORD dwParam;
  BYTE* pbData;
  DWORD cbData;
  DWORD dwFlags;
};

struct CRYPT_KEY_PROV_INFO {
  LPWSTR pwszContainerName;
  LPWSTR pwszProvName;
  DWORD dwProvType;
  DWORD dwFlags;
  DWORD cProvParam;
  CRYPT_KEY_PROV_PARAM* rgProvParam;
  DWORD dwKeySpec;
};

// 100-nanosecond intervals since 1601-01-01 UTC.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
