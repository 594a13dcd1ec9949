// Certificates and certificate stores.
//
// A certificate context is reference-counted: every function that hands one
// out adds a reference, released with CertFreeCertificateContext. Its
// CERT_INFO points into the certificate's own encoding (issuer and subject
// are the encoded names, byte for byte) except for the serial number, which
// is a copy with the least significant byte first.
//
// Stores: memory stores, PKCS#7 stores (the certificates of a certs-only
// SignedData) and the system stores "MY", "CA", "ROOT", ... of the current
// user and of the machine, kept in the registry under
// Software\Microsoft\SystemCertificates\<STORE>\Certificates\<SHA-1>, value
// "Blob": the certificate's property records (property 32 is the DER
// certificate). A system store reads the registry when opened; each change
// is one transaction written through at once.
//
// BOOL and pointer results report failure through the thread's last error.
// Store handles come from a table: a closed or made-up handle fails with
// ERROR_INVALID_HANDLE; a context that is not live fails with E_INVALIDARG.
#pragma once

#include <cstdint>

#include "platform/base/CryptTypes.h"
#include "platform/base/Errors.h"
#include "platform/base/FileTime.h"
#include "platform/base/Result.h"
#include "platform/base/Types.h"

using HCERTSTORE = void*;
using HCRYPTPROV_LEGACY = ULONG_PTR;

struct CERT_EXTENSION {
  LPSTR pszObjId;  // dotted decimal
  BOOL fCritical;
  CRYPT_OBJID_BLOB Value;  // the extnValue OCTET STRING's contents
};
using PCERT_EXTENSION = CERT_EXTENSION*;

struct CERT_INFO {
  DWORD dwVersion;                 // 0 = v1, 2 = v3
  CRYPT_INTEGER_BLOB SerialNumber;  // content octets, least significant first
  CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
  CERT_NAME_BLOB Issuer;  // the encoded Name
  FILETIME NotBefore;
  FILETIME NotAfter;
  CERT_NAME_BLOB Subject;
  CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
  CRYPT_BIT_BLOB IssuerUniqueId;
  CRYPT_BIT_BLOB SubjectUniqueId;
  DWORD cExtension;
  CERT_EXTENSION* rgExtension;
};
using PCERT_INFO = CERT_INFO*;

struct CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  CERT_INFO* pCertInfo;
  HCERTSTORE hCertStore;
};
using PCERT_CONTEXT = CERT_CONTEXT*;
using PCCERT_CONTEXT = const CERT_CONTEXT*;

// ---------------------------------------------------------------------------
// CertOpenStore.

inline const LPCSTR CERT_STORE_PROV_MEMORY = reinterpret_cast<LPCSTR>(uintptr_t{2});
inline const LPCSTR CERT_STORE_PROV_PKCS7 = reinterpret_cast<LPCSTR>(uintptr_t{5});
inline const LPCSTR CERT_STORE_PROV_SYSTEM_A = reinterpret_cast<LPCSTR>(uintptr_t{9});
inline const LPCSTR CERT_STORE_PROV_SYSTEM_W = reinterpret_cast<LPCSTR>(uintptr_t{10});
inline const LPCSTR CERT_STORE_PROV_SYSTEM = CERT_STORE_PROV_SYSTEM_W;

inline constexpr DWORD CERT_STORE_NO_CRYPT_RELEASE_FLAG = 0x00000001;
inline constexpr DWORD CERT_STORE_OPEN_EXISTING_FLAG = 0x00004000;
inline constexpr DWORD CERT_STORE_READONLY_FLAG = 0x00008000;

inline constexpr DWORD CERT_SYSTEM_STORE_LOCATION_MASK = 0x00FF0000;
inline constexpr DWORD CERT_SYSTEM_STORE_CURRENT_USER = 0x00010000;
inline constexpr DWORD CERT_SYSTEM_STORE_LOCAL_MACHINE = 0x00020000;

inline constexpr DWORD CERT_CLOSE_STORE_FORCE_FLAG = 0x1;
inline constexpr DWORD CERT_CLOSE_STORE_CHECK_FLAG = 0x2;
// CertCloseStore with the check flag: the store closed, but some of its
// certificates are still referenced.
inline constexpr HRESULT CRYPT_E_PENDING_CLOSE = MakeResult(0x8009200F);

// Add dispositions.
inline constexpr DWORD CERT_STORE_ADD_NEW = 1;
inline constexpr DWORD CERT_STORE_ADD_USE_EXISTING = 2;
inline constexpr DWORD CERT_STORE_ADD_REPLACE_EXISTING = 3;
inline constexpr DWORD CERT_STORE_ADD_ALWAYS = 4;
inline constexpr DWORD CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES = 5;

// Properties.
inline constexpr DWORD CERT_KEY_PROV_INFO_PROP_ID = 2;
inline constexpr DWORD CERT_SHA1_HASH_PROP_ID = 3;
inline constexpr DWORD CERT_MD5_HASH_PROP_ID = 4;
inline constexpr DWORD CERT_HASH_PROP_ID = CERT_SHA1_HASH_PROP_ID;
inline constexpr DWORD CERT_FRIENDLY_NAME_PROP_ID = 11;
inline constexpr DWORD CERT_CERT_PROP_ID = 32;  // the certificate itself, in a serialized blob

// CryptAcquireCertificatePrivateKey.
inline constexpr DWORD CRYPT_ACQUIRE_CACHE_FLAG = 0x1;
inline constexpr DWORD CRYPT_ACQUIRE_USE_PROV_INFO_FLAG = 0x2;
inline constexpr DWORD CRYPT_ACQUIRE_COMPARE_KEY_FLAG = 0x4;
inline constexpr DWORD CRYPT_ACQUIRE_SILENT_FLAG = 0x40;

// Name strings.
inline constexpr DWORD CERT_SIMPLE_NAME_STR = 1;
inline constexpr DWORD CERT_OID_NAME_STR = 2;
inline constexpr DWORD CERT_X500_NAME_STR = 3;
inline constexpr DWORD CERT_NAME_STR_SEMICOLON_FLAG = 0x40000000;
inline constexpr DWORD CERT_NAME_STR_NO_PLUS_FLAG = 0x20000000;
inline constexpr DWORD CERT_NAME_STR_NO_QUOTING_FLAG = 0x10000000;
inline constexpr DWORD CERT_NAME_STR_CRLF_FLAG = 0x08000000;
inline constexpr DWORD CERT_NAME_STR_COMMA_FLAG = 0x04000000;
inline constexpr DWORD CERT_NAME_STR_REVERSE_FLAG = 0x02000000;

inline constexpr DWORD CERT_NAME_EMAIL_TYPE = 1;
inline constexpr DWORD CERT_NAME_RDN_TYPE = 2;
inline constexpr DWORD CERT_NAME_ATTR_TYPE = 3;
inline constexpr DWORD CERT_NAME_SIMPLE_DISPLAY_TYPE = 4;
inline constexpr DWORD CERT_NAME_FRIENDLY_DISPLAY_TYPE = 5;
inline constexpr DWORD CERT_NAME_ISSUER_FLAG = 0x1;

inline constexpr const char* szOID_COMMON_NAME = "2.5.4.3";
inline constexpr const char* szOID_ORGANIZATIONAL_UNIT_NAME = "2.5.4.11";
inline constexpr const char* szOID_ORGANIZATION_NAME = "2.5.4.10";
inline constexpr const char* szOID_RSA_emailAddr = "1.2.840.113549.1.9.1";

// ---------------------------------------------------------------------------
// Stores.

// PVPARA: the store name (LPCWSTR, or LPCSTR for CERT_STORE_PROV_SYSTEM_A)
// for system stores, const CRYPT_DATA_BLOB* for PKCS#7 stores, unused for
// memory stores. A store name is data: any text except an empty one or one
// holding a backslash (ERROR_INVALID_PARAMETER).
HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType, HCRYPTPROV_LEGACY hCryptProv,
                         DWORD dwFlags, const void* pvPara);
// Certificates still referenced outlive the store's handle. With
// CERT_CLOSE_STORE_CHECK_FLAG that case returns FALSE (CRYPT_E_PENDING_CLOSE),
// the store being closed all the same.
BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags);

// Releases PPREVCERTCONTEXT and returns the next certificate (a new
// reference), or null with CRYPT_E_NOT_FOUND after the last.
PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext);

PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                            DWORD cbCertEncoded);
PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext);

// ADD_NEW fails with CRYPT_E_EXISTS when the certificate (same SHA-1) is
// there; ADD_USE_EXISTING keeps the one there; ADD_REPLACE_EXISTING replaces
// it, properties included. PPCERTCONTEXT, when given, receives the store's
// context. A read-only store or scope fails with ERROR_ACCESS_DENIED.
BOOL CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                      DWORD cbCertEncoded, DWORD dwAddDisposition, PCCERT_CONTEXT* ppCertContext);
BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext, DWORD dwAddDisposition,
                                      PCCERT_CONTEXT* ppStoreContext);
// Always releases PCERTCONTEXT, also on failure.
BOOL CertDeleteCertificateFromStore(PCCERT_CONTEXT pCertContext);

// PVDATA: const CRYPT_KEY_PROV_INFO* for CERT_KEY_PROV_INFO_PROP_ID, const
// CRYPT_DATA_BLOB* for the others; null removes the property. A context of
// a system store writes the change through to the registry.
BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, DWORD dwFlags,
                                       const void* pvData);
// Two calls. CERT_KEY_PROV_INFO_PROP_ID gives a CRYPT_KEY_PROV_INFO whose
// strings follow it in the buffer; the hash properties are computed when not
// stored. CRYPT_E_NOT_FOUND for a property the certificate does not have.
BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData, DWORD* pcbData);

// ---------------------------------------------------------------------------
// Fields.

PCERT_EXTENSION CertFindExtension(LPCSTR pszObjId, DWORD cExtensions, CERT_EXTENSION rgExtensions[]);

// -1 when *PTIMETOVERIFY (now when null) is before notBefore, 1 after
// notAfter, 0 within.
LONG CertVerifyTimeValidity(const FILETIME* pTimeToVerify, const CERT_INFO* pCertInfo);

// The name as text; returns the characters needed or written, the NUL
// included. 0 (last error CRYPT_E_ASN1_*) when PNAME is not a valid Name.
DWORD CertNameToStrW(DWORD dwCertEncodingType, const CERT_NAME_BLOB* pName, DWORD dwStrType, LPWSTR psz, DWORD csz);

// The subject's (or with CERT_NAME_ISSUER_FLAG the issuer's) name of the
// requested kind; at least 1 (the empty text) is returned.
DWORD CertGetNameStringW(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags, const void* pvTypePara,
                         LPWSTR pszNameString, DWORD cchNameString);

// Opens the certificate's key through its CERT_KEY_PROV_INFO_PROP_ID
// property; CRYPT_E_NO_KEY_PROPERTY when it has none. The caller releases
// the provider (*PFCALLERFREEPROV is set to TRUE).
BOOL CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD dwFlags, void* pvParameters,
                                       HCRYPTPROV* phCryptProv, DWORD* pdwKeySpec, BOOL* pfCallerFreeProv);
