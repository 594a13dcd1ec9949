// Assembles, signs and encodes a PKCS#10 certification request whose keys
// live in a provider container.
//
//   CertificationRequest ::= SEQUENCE {
//     certificationRequestInfo  CertificationRequestInfo,
//     signatureAlgorithm        AlgorithmIdentifier,      -- { OID, NULL }
//     signature                 BIT STRING }
//   CertificationRequestInfo ::= SEQUENCE {
//     version        INTEGER (0),
//     subject        Name,
//     subjectPKInfo  SubjectPublicKeyInfo,
//     attributes     [0] ... OPTIONAL }  -- double certificates only
//
// The attributes of a double-certificate request are the pairs our
// authorities read: each is SEQUENCE { OID, value } with no SET around the
// value (see ComposeAttributes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/CryptTypes.h"
#include "platform/base/Result.h"

namespace tessaline {

inline constexpr char kRsaPublicKeyOid[] = "1.2.840.113549.1.1.1";
inline constexpr char kEcPublicKeyOid[] = "1.2.840.10045.2.1";
inline constexpr char kSm2CurveOid[] = "1.2.156.10197.1.301";
inline constexpr char kSha1WithRsaOid[] = "1.2.840.113549.1.1.5";
inline constexpr char kMd5WithRsaOid[] = "1.2.840.113549.1.1.4";
inline constexpr char kSm2WithSm3Oid[] = "1.2.156.10197.1.501";

// The vendor provider's SM2 public-key blob: 8-byte header, 32-bit bit
// length, X and Y fields of 64 bytes, each coordinate least significant byte
// first in the first 32 bytes of its field.
inline constexpr size_t kSm2BlobSize = 140;
// The temporary SM2 exchange key as the authority reads it from the request.
inline constexpr size_t kSm2ExchangeKeySize = 136;

// The 65-byte uncompressed point 04 || X || Y of BLOB. 0x8007000D for a blob
// shorter than 140 bytes.
HRESULT Sm2PointFromBlob(std::span<const uint8_t> blob, std::vector<uint8_t>* point);
// The 136-byte exchange key structure of BLOB:
//   offset 0: 00 B4 00 00, offset 4: 256 (little-endian),
//   offset 8: the X field, offset 72: the Y field, each with its coordinate
//   turned most significant byte first and its other 32 bytes as they were.
// 0x8007000D for a blob shorter than 140 bytes.
HRESULT Sm2ExchangeKeyFromBlob(std::span<const uint8_t> blob, std::vector<uint8_t>* key);

// SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier, subjectPublicKey BIT STRING }
// RSA (PARAMETERS_OID empty): algorithm { ALGORITHM_OID, NULL }.
// SM2: algorithm { ALGORITHM_OID, OBJECT IDENTIFIER PARAMETERS_OID }.
HRESULT ComposeSignPublicKeyData(const char* algorithm_oid, const char* parameters_oid,
                                 std::span<const uint8_t> public_key, std::vector<uint8_t>* element);

// [0] { SEQUENCE { 1.2.840.113549.1.9.7, PrintableString "730264" },
//       SEQUENCE { 1.2.840.113549.1.9.63,
//                  OCTET STRING { SEQUENCE { INTEGER 1, OCTET STRING EXCHANGE_KEY } } } }
HRESULT ComposeAttributes(std::span<const uint8_t> exchange_key, std::vector<uint8_t>* element);

// The CertificationRequestInfo; the attributes only when EXCHANGE_KEY is not
// empty.
HRESULT ComposeCertRequestInfo(std::u16string_view subject, const char* algorithm_oid, const char* parameters_oid,
                               std::span<const uint8_t> public_key, std::span<const uint8_t> exchange_key,
                               std::vector<uint8_t>* element);

// AlgorithmIdentifier ::= SEQUENCE { OID, NULL }
HRESULT ComposeSignAlgorithm(const char* signature_oid, std::vector<uint8_t>* element);

// Hashes DATA (in pieces of at most 16384 bytes) with HASH_ALGORITHM and
// signs it with the container's key of KEY_SPEC. The signature comes back
// most significant byte first: RSA (ALGORITHM_OID rsaEncryption) reversed
// whole, SM2 with r and s reversed separately. Provider failures are the
// Windows error as a result code.
HRESULT PKCS10CalculateHashandSign(HCRYPTPROV provider, const char* algorithm_oid, std::span<const uint8_t> data,
                                   ALG_ID hash_algorithm, DWORD key_spec, std::vector<uint8_t>* signature,
                                   DWORD* signature_size);

// BIT STRING of the signature: RSA as it is, SM2 as SM2EncodeRawSignature
// gives it.
HRESULT ComposeSignature(bool sm2, std::span<const uint8_t> signature, std::vector<uint8_t>* element);

// TEXT without CR and LF, with CR LF before every 65th character of a line;
// no line break at the end.
HRESULT TransformBase64EncodedDatatoHoldCRLFPer64Chars(std::string_view text, std::string* out);

// The whole request as Base64 text, 64 characters a line. For SM2 the public
// keys are the provider's blobs; for RSA, DER RSAPublicKey. EXCHANGE_KEY is
// empty for a single certificate. REQUEST_LENGTH may be null.
HRESULT PKCS10RequestBase64(DWORD key_spec, HCRYPTPROV provider, std::u16string_view subject,
                            const char* algorithm_oid, const char* parameters_oid,
                            std::span<const uint8_t> public_key, std::span<const uint8_t> exchange_key,
                            ALG_ID hash_algorithm, const char* signature_oid, std::string* request,
                            size_t* request_length, bool sm2);

}  // namespace tessaline
