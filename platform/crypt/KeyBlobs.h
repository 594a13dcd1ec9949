// The key blobs of CryptExportKey and CryptImportKey: their layouts, built
// and parsed here. Numbers inside blobs are little-endian; the structures
// below hold them big-endian.
#pragma once

#include <array>
#include <vector>

#include "platform/base/ByteView.h"
#include "platform/base/CryptTypes.h"
#include "platform/crypt/KeyMaterial.h"

namespace tessaline::crypt {

inline constexpr DWORD kMinRsaBits = 384;
inline constexpr DWORD kMaxRsaBits = 16384;

// PUBLICKEYBLOB or PRIVATEKEYBLOB of an RSA key:
//   BLOBHEADER, RSAPUBKEY { magic, bitlen, pubexp },
//   modulus (bitlen/8), and for a private key prime1, prime2, exponent1,
//   exponent2, coefficient (bitlen/16 each) and privateExponent (bitlen/8).
struct RsaBlob {
  ALG_ID algorithm = 0;
  DWORD bits = 0;
  RsaNumbers numbers;  // the private fields empty for a public blob
};

// Returns false for a number wider than its field (a public exponent over
// 32 bits, for example).
bool BuildRsaBlob(const RsaBlob& key, bool with_private, std::vector<uint8_t>* out);
// NTE_BAD_TYPE for another blob type, NTE_BAD_VER, NTE_BAD_DATA for a wrong
// magic, length or size.
DWORD ParseRsaBlob(tessaline::ByteView blob, RsaBlob* out);

// The vendor provider's SM2 PUBLICKEYBLOB (SM2_PUBLICKEYBLOB_SIZE bytes).
std::vector<uint8_t> BuildSm2PublicKeyBlob(ALG_ID algorithm, const std::array<uint8_t, 32>& x,
                                           const std::array<uint8_t, 32>& y);

// SIMPLEBLOB: BLOBHEADER, the wrapping key's ALG_ID, then the wrapping key's
// length of PKCS#1 v1.5 ciphertext, least significant byte first.
struct SimpleBlob {
  ALG_ID algorithm = 0;           // the session key's
  ALG_ID wrapping_algorithm = 0;  // the import key's
  std::vector<uint8_t> encrypted_key;  // big-endian
};
DWORD ParseSimpleBlob(tessaline::ByteView blob, SimpleBlob* out);

// The vendor import blobs (VENDOR_RSA_IMPORT_BLOB, VENDOR_SM2_IMPORT_BLOB).
struct VendorBlob {
  ALG_ID algorithm = 0;  // CALG_RSA_KEYX or CALG_SM2_KEYX
  DWORD key_bits = 0;    // RSA only
  tessaline::ByteView payload;  // the memory the blob's address points to
};
// True when BLOB has the vendor blobs' header (PRIVATEKEYBLOB, reserved 1).
bool IsVendorBlob(tessaline::ByteView blob);
// Reads the payload address; the payload must stay valid while it is used.
DWORD ParseVendorBlob(tessaline::ByteView blob, VendorBlob* out);

// The vendor RSA payload:
//   SEQUENCE { version INTEGER (1), asymmetric OBJECT IDENTIFIER,
//              symmetric OBJECT IDENTIFIER, sessionKey OCTET STRING,
//              privateKey OCTET STRING }
struct VendorRsaPayload {
  tessaline::ByteView asymmetric_oid;  // contents
  tessaline::ByteView symmetric_oid;   // contents
  tessaline::ByteView encrypted_session_key;
  tessaline::ByteView encrypted_private_key;
};
DWORD ParseVendorRsaPayload(tessaline::ByteView der, VendorRsaPayload* out);

}  // namespace tessaline::crypt
