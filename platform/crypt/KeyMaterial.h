// The OpenSSL operations behind the software providers. Numbers cross this
// interface big-endian; byte-order changes for the provider interface's
// little-endian blobs and signatures happen in the callers.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "platform/base/OpenSsl.h"
#include "platform/base/Types.h"

namespace tessaline::crypt {

// Big-endian magnitudes of an RSA key; the private fields are empty for a
// public key.
struct RsaNumbers {
  std::vector<uint8_t> modulus;
  std::vector<uint8_t> public_exponent;
  std::vector<uint8_t> private_exponent;
  std::vector<uint8_t> prime1;
  std::vector<uint8_t> prime2;
  std::vector<uint8_t> exponent1;
  std::vector<uint8_t> exponent2;
  std::vector<uint8_t> coefficient;
};

UniquePtr<EVP_PKEY> GenerateRsaKey(DWORD bits);
UniquePtr<EVP_PKEY> GenerateSm2Key();

bool IsSm2Key(const EVP_PKEY* key);
DWORD KeyBits(const EVP_PKEY* key);

// PKCS#8 PrivateKeyInfo DER.
std::vector<uint8_t> ToPkcs8(EVP_PKEY* key);
UniquePtr<EVP_PKEY> FromPkcs8(std::span<const uint8_t> der);

bool GetRsaNumbers(const EVP_PKEY* key, RsaNumbers* out);
// A private key when the private fields are present, a public key otherwise.
// The numbers are taken as they are, unchecked (the exponent-one key of the
// session-key import is a deliberate non-key).
UniquePtr<EVP_PKEY> RsaKeyFromNumbers(const RsaNumbers& numbers);

// RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }
std::vector<uint8_t> RsaPublicKeyDer(const EVP_PKEY* key);

// PKCS#1 v1.5 signature (big-endian) of DIGEST; with MD the DigestInfo of
// that algorithm wraps the digest.
bool RsaSignDigest(EVP_PKEY* key, const EVP_MD* md, std::span<const uint8_t> digest, std::vector<uint8_t>* out);
// PKCS#1 v1.5 decryption of a big-endian ciphertext.
bool RsaDecrypt(EVP_PKEY* key, std::span<const uint8_t> ciphertext, std::vector<uint8_t>* out);

// The public point's coordinates, big-endian, 32 bytes each.
bool GetSm2Point(const EVP_PKEY* key, std::array<uint8_t, 32>* x, std::array<uint8_t, 32>* y);
// A key pair from the private scalar (big-endian, at most 32 bytes).
UniquePtr<EVP_PKEY> Sm2KeyFromScalar(std::span<const uint8_t> scalar);
// The standard SM2 signature of MESSAGE: SM3 over Z (identifier
// "1234567812345678") and the message; r and s big-endian, 32 bytes each.
bool Sm2Sign(EVP_PKEY* key, std::span<const uint8_t> message, std::array<uint8_t, 64>* r_s);
// Decrypts C1 (X and Y, 32 bytes each, no format byte) || C3 || C2.
bool Sm2DecryptC1C3C2(EVP_PKEY* key, std::span<const uint8_t> ciphertext, std::vector<uint8_t>* out);

inline constexpr char kSm2DefaultId[] = "1234567812345678";

}  // namespace tessaline::crypt
