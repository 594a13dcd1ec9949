// The cryptographic provider interface: providers found by name in the
// provider catalog, key containers kept in the user database, keys, hashes.
//
// Every call returns TRUE on success, or FALSE with the thread's last error
// set (GetLastError, platform/base/Errors.h) to the number a caller of the
// platform's provider interface would see: an NTE_* code (as its 32-bit
// pattern) or a Windows error number. Out values are written only on
// success. Variable-size results use the two-call pattern: a null buffer
// asks for the size; a buffer that is too small fails with ERROR_MORE_DATA
// and reports the size needed.
//
// Handles are entries in handle tables: a stale or forged handle fails with
// ERROR_INVALID_HANDLE. Key and hash handles keep their provider context
// alive, so they remain usable after CryptReleaseContext.
#pragma once

#include <cstddef>

#include "platform/base/CryptTypes.h"
#include "platform/base/Errors.h"
#include "platform/base/Result.h"
#include "platform/base/Types.h"

// ---------------------------------------------------------------------------
// Provider types and names.

inline constexpr DWORD PROV_RSA_FULL = 1;
inline constexpr DWORD PROV_RSA_AES = 24;

inline constexpr const char16_t* MS_DEF_PROV_W = u"Microsoft Base Cryptographic Provider v1.0";
inline constexpr const char16_t* MS_ENHANCED_PROV_W = u"Microsoft Enhanced Cryptographic Provider v1.0";
inline constexpr const char16_t* MS_ENH_RSA_AES_PROV_W = u"Microsoft Enhanced RSA and AES Cryptographic Provider";
inline constexpr const char16_t* MS_STRONG_PROV_W = u"Microsoft Strong Cryptographic Provider";
inline constexpr const char16_t* TL_SM2_PROV_W = u"Tessaline SM2 Cryptographic Service Provider v1.0";

// ---------------------------------------------------------------------------
// CryptAcquireContextW flags.

inline constexpr DWORD CRYPT_NEWKEYSET = 0x00000008;
inline constexpr DWORD CRYPT_DELETEKEYSET = 0x00000010;
inline constexpr DWORD CRYPT_MACHINE_KEYSET = 0x00000020;
inline constexpr DWORD CRYPT_SILENT = 0x00000040;
inline constexpr DWORD CRYPT_VERIFYCONTEXT = 0xF0000000;
// Deletes a container whose SM2 key generation failed (accepted as
// CRYPT_DELETEKEYSET by every provider of the catalog).
inline constexpr DWORD CRYPT_SM2_DELETEKEYSET = 0xFFFF0002;

// ---------------------------------------------------------------------------
// Algorithm identifiers.

inline constexpr ALG_ID ALG_CLASS_SIGNATURE = 1u << 13;
inline constexpr ALG_ID ALG_CLASS_DATA_ENCRYPT = 3u << 13;
inline constexpr ALG_ID ALG_CLASS_HASH = 4u << 13;
inline constexpr ALG_ID ALG_CLASS_KEY_EXCHANGE = 5u << 13;
constexpr ALG_ID GET_ALG_CLASS(ALG_ID alg) { return alg & (7u << 13); }

inline constexpr ALG_ID CALG_MD5 = 0x8003;
inline constexpr ALG_ID CALG_SHA1 = 0x8004;
inline constexpr ALG_ID CALG_SM3 = 0x800F;  // the vendor provider's SM3
inline constexpr ALG_ID CALG_RSA_SIGN = 0x2400;
inline constexpr ALG_ID CALG_RSA_KEYX = 0xA400;
inline constexpr ALG_ID CALG_3DES = 0x6603;
inline constexpr ALG_ID CALG_SM2_KEYX = 0xBE00;  // vendor provider, key specification 1
inline constexpr ALG_ID CALG_SM2_SIGN = 0x3E00;  // vendor provider, key specification 2

// ---------------------------------------------------------------------------
// CryptGenKey / CryptImportKey flags. The key length in bits, when given,
// occupies the upper 16 bits of the CryptGenKey flags.

inline constexpr DWORD CRYPT_EXPORTABLE = 0x00000001;
inline constexpr DWORD CRYPT_USER_PROTECTED = 0x00000002;
inline constexpr DWORD CRYPT_CREATE_SALT = 0x00000004;
inline constexpr DWORD CRYPT_NO_SALT = 0x00000010;
inline constexpr DWORD CRYPT_ARCHIVABLE = 0x00004000;
constexpr DWORD KeyLengthFlags(DWORD bits) { return bits << 16; }

// CryptSignHashW flags.
inline constexpr DWORD CRYPT_NOHASHOID = 0x00000001;

// ---------------------------------------------------------------------------
// Key blobs (CryptExportKey / CryptImportKey).

inline constexpr DWORD SIMPLEBLOB = 0x1;
inline constexpr DWORD PUBLICKEYBLOB = 0x6;
inline constexpr DWORD PRIVATEKEYBLOB = 0x7;
inline constexpr BYTE CUR_BLOB_VERSION = 0x02;

inline constexpr DWORD RSA1_MAGIC = 0x31415352;  // "RSA1": public key
inline constexpr DWORD RSA2_MAGIC = 0x32415352;  // "RSA2": private key

// Every blob starts with this 8-byte header.
struct BLOBHEADER {
  BYTE bType;
  BYTE bVersion;
  WORD reserved;
  ALG_ID aiKeyAlg;
};
using PUBLICKEYSTRUC = BLOBHEADER;

// Follows the header in RSA public and private key blobs; the numbers that
// follow it are stored least significant byte first.
struct RSAPUBKEY {
  DWORD magic;
  DWORD bitlen;
  DWORD pubexp;
};
static_assert(sizeof(BLOBHEADER) == 8 && sizeof(RSAPUBKEY) == 12);

// The vendor provider's SM2 public-key blob (PUBLICKEYBLOB of an SM2 key):
// header, bit length, then the X and Y fields of 64 bytes each; each
// coordinate is stored least significant byte first in the first 32 bytes
// of its field, the other 32 bytes are zero.
inline constexpr DWORD SM2_PUBLICKEYBLOB_SIZE = 140;
inline constexpr DWORD SM2_PUBLICKEYBLOB_X_OFFSET = 12;
inline constexpr DWORD SM2_PUBLICKEYBLOB_Y_OFFSET = 76;

// The vendor provider's import blobs, which carry the address of their
// payload: the header's reserved field holds VENDOR_BLOB_RESERVED, every
// field sits at its fixed offset, and the last field is pointer-sized (4
// bytes in a 32-bit build, 8 in a 64-bit one). The payload must stay valid
// until CryptImportKey returns.
inline constexpr WORD VENDOR_BLOB_RESERVED = 1;
#pragma pack(push, 1)
// RSA: the payload is the DER SEQUENCE { INTEGER 1, OID rsaEncryption, OID
// of the symmetric algorithm, OCTET STRING encrypted session key, OCTET
// STRING encrypted PKCS#1 private key }. Header: PRIVATEKEYBLOB, version 2,
// reserved 1, CALG_RSA_KEYX.
struct VENDOR_RSA_IMPORT_BLOB {
  BLOBHEADER hdr;
  ALG_ID aiKeyAlg;       // CALG_RSA_KEYX
  DWORD dwKeyBitLen;     // key length in bits
  DWORD dwDataBitLen;    // payload length in bits
  const BYTE* pbData;    // payload address
};
// SM2: the payload is an SM2 ciphertext C1 (X and Y, 32 bytes each, no
// format byte), C3, C2. Header: PRIVATEKEYBLOB, version 2, reserved 1,
// CALG_SM2_KEYX.
struct VENDOR_SM2_IMPORT_BLOB {
  BLOBHEADER hdr;
  ALG_ID aiKeyAlg;       // CALG_SM2_KEYX
  DWORD dwCipherBitLen;  // ciphertext length in bits
  const BYTE* pbCipher;  // ciphertext address
};
#pragma pack(pop)
static_assert(offsetof(VENDOR_RSA_IMPORT_BLOB, pbData) == 20);
static_assert(sizeof(VENDOR_RSA_IMPORT_BLOB) == 20 + sizeof(void*));
static_assert(offsetof(VENDOR_SM2_IMPORT_BLOB, pbCipher) == 16);
static_assert(sizeof(VENDOR_SM2_IMPORT_BLOB) == 16 + sizeof(void*));

// ---------------------------------------------------------------------------
// Key parameters (CryptSetKeyParam / CryptGetKeyParam).

inline constexpr DWORD KP_IV = 1;
inline constexpr DWORD KP_MODE = 4;
inline constexpr DWORD KP_ALGID = 7;
inline constexpr DWORD KP_BLOCKLEN = 8;
inline constexpr DWORD KP_KEYLEN = 9;
inline constexpr DWORD KP_CERTIFICATE = 26;

inline constexpr DWORD CRYPT_MODE_CBC = 1;
inline constexpr DWORD CRYPT_MODE_ECB = 2;

// ---------------------------------------------------------------------------
// Provider parameters (CryptGetProvParam).

inline constexpr DWORD PP_ENUMALGS = 1;
inline constexpr DWORD PP_ENUMCONTAINERS = 2;
inline constexpr DWORD PP_IMPTYPE = 3;
inline constexpr DWORD PP_NAME = 4;
inline constexpr DWORD PP_VERSION = 5;
inline constexpr DWORD PP_CONTAINER = 6;
inline constexpr DWORD PP_PROVTYPE = 16;
inline constexpr DWORD PP_ENUMALGS_EX = 22;

inline constexpr DWORD CRYPT_FIRST = 1;
inline constexpr DWORD CRYPT_NEXT = 2;

inline constexpr DWORD CRYPT_IMPL_SOFTWARE = 2;

struct PROV_ENUMALGS {
  ALG_ID aiAlgid;
  DWORD dwBitLen;
  DWORD dwNameLen;
  char szName[20];
};
static_assert(sizeof(PROV_ENUMALGS) == 32);

struct PROV_ENUMALGS_EX {
  ALG_ID aiAlgid;
  DWORD dwDefaultLen;
  DWORD dwMinLen;
  DWORD dwMaxLen;
  DWORD dwProtocols;
  DWORD dwNameLen;
  char szName[20];
  DWORD dwLongNameLen;
  char szLongName[40];
};
static_assert(sizeof(PROV_ENUMALGS_EX) == 88);

// ---------------------------------------------------------------------------
// Provider failures not among the common ones of platform/base/Result.h.

inline constexpr HRESULT NTE_BAD_PUBLIC_KEY = MakeResult(0x80090015);
inline constexpr HRESULT NTE_KEYSET_ENTRY_BAD = MakeResult(0x8009001A);
inline constexpr HRESULT NTE_PROV_TYPE_NO_MATCH = MakeResult(0x8009001B);

// ---------------------------------------------------------------------------
// The interface.

// Enumerates the catalog's providers by index: the name (UTF-16, with its
// NUL; *pcbProvName in bytes) and type. ERROR_NO_MORE_ITEMS past the end.
BOOL CryptEnumProvidersW(DWORD dwIndex, DWORD* pdwReserved, DWORD dwFlags, DWORD* pdwProvType, LPWSTR szProvName,
                         DWORD* pcbProvName);

// Opens (flags 0), creates (CRYPT_NEWKEYSET) or deletes (CRYPT_DELETEKEYSET,
// CRYPT_SM2_DELETEKEYSET; *phProv becomes 0) a key container of the provider,
// or opens the provider without one (CRYPT_VERIFYCONTEXT; the vendor provider
// then opens the named container when a name is given). A null or empty
// container name means the user's default container.
BOOL CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR szProvider, DWORD dwProvType,
                          DWORD dwFlags);
BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);

BOOL CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey);
BOOL CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey);
BOOL CryptDestroyKey(HCRYPTKEY hKey);
BOOL CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags, BYTE* pbData,
                    DWORD* pdwDataLen);
BOOL CryptImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey, DWORD dwFlags,
                    HCRYPTKEY* phKey);
// KP_CERTIFICATE: pbData is one DER certificate (its length is read from its
// own header). KP_MODE, KP_IV: session keys.
BOOL CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
BOOL CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags);
BOOL CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags);

BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags, HCRYPTHASH* phHash);
BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags);
BOOL CryptDestroyHash(HCRYPTHASH hHash);
// RSA: PKCS#1 v1.5 over the DigestInfo, least significant byte first.
// SM2: 64 bytes, r then s, each 32 bytes least significant byte first; the
// digest is SM3(Z || message) with the identifier "1234567812345678".
BOOL CryptSignHashW(HCRYPTHASH hHash, DWORD dwKeySpec, LPCWSTR szDescription, DWORD dwFlags, BYTE* pbSignature,
                    DWORD* pdwSigLen);

// In place. RSA: PKCS#1 v1.5, input least significant byte first. 3DES:
// ECB or CBC; the final call removes the block padding.
BOOL CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen);
BOOL CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer);

// The key pair's public key as a CERT_PUBLIC_KEY_INFO (RSA: rsaEncryption
// with NULL parameters and the DER RSAPublicKey) whose pointers point into
// the same buffer, after the structure.
BOOL CryptExportPublicKeyInfo(HCRYPTPROV hCryptProv, DWORD dwKeySpec, DWORD dwCertEncodingType,
                              CERT_PUBLIC_KEY_INFO* pInfo, DWORD* pcbInfo);
