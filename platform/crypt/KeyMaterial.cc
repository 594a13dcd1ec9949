#include "platform/crypt/KeyMaterial.h"

#include <openssl/core_names.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/base/DerWriter.h"

namespace tessaline::crypt {
namespace {

std::vector<uint8_t> BnBytes(const BIGNUM* bn) {
  std::vector<uint8_t> out(static_cast<size_t>(BN_num_bytes(bn)));
  if (!out.empty()) BN_bn2bin(bn, out.data());
  return out;
}

bool GetBn(const EVP_PKEY* key, const char* name, std::vector<uint8_t>* out) {
  BIGNUM* raw = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) return false;
  UniquePtr<BIGNUM> bn(raw);
  *out = BnBytes(bn.get());
  return true;
}

UniquePtr<BIGNUM> ToBn(std::span<const uint8_t> big_endian) {
  return UniquePtr<BIGNUM>(BN_bin2bn(big_endian.data(), static_cast<int>(big_endian.size()), nullptr));
}

UniquePtr<EVP_PKEY> Generate(const char* type, DWORD rsa_bits) {
  UniquePtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
  if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1) return nullptr;
  if (rsa_bits != 0 && EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(rsa_bits)) != 1) return nullptr;
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_generate(ctx.get(), &key) != 1) return nullptr;
  return UniquePtr<EVP_PKEY>(key);
}

// Decoding a PKCS#8 key costs far more than signing with it, and stored keys
// are read again for every operation: decoded keys are kept by their DER.
class DecodedKeyCache {
 public:
  UniquePtr<EVP_PKEY> Find(std::span<const uint8_t> der) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = keys_.find(Key(der));
    if (it == keys_.end() || EVP_PKEY_up_ref(it->second.get()) != 1) return nullptr;
    return UniquePtr<EVP_PKEY>(it->second.get());
  }

  void Put(std::span<const uint8_t> der, EVP_PKEY* key) {
    if (EVP_PKEY_up_ref(key) != 1) return;
    UniquePtr<EVP_PKEY> reference(key);
    std::lock_guard<std::mutex> lock(mutex_);
    if (keys_.size() >= kCapacity) keys_.clear();
    keys_[Key(der)] = std::move(reference);
  }

 private:
  static constexpr size_t kCapacity = 64;
  static std::string Key(std::span<const uint8_t> der) { return std::string(der.begin(), der.end()); }
  std::mutex mutex_;
  std::unordered_map<std::string, UniquePtr<EVP_PKEY>> keys_;
};

DecodedKeyCache& Cache() {
  static DecodedKeyCache* cache = new DecodedKeyCache;  // used until the last static destructor
  return *cache;
}

}  // namespace

UniquePtr<EVP_PKEY> GenerateRsaKey(DWORD bits) { return Generate("RSA", bits); }
UniquePtr<EVP_PKEY> GenerateSm2Key() { return Generate("SM2", 0); }

bool IsSm2Key(const EVP_PKEY* key) { return EVP_PKEY_is_a(key, "SM2") == 1; }

DWORD KeyBits(const EVP_PKEY* key) { return static_cast<DWORD>(EVP_PKEY_get_bits(key)); }

std::vector<uint8_t> ToPkcs8(EVP_PKEY* key) {
  std::unique_ptr<PKCS8_PRIV_KEY_INFO, decltype(&PKCS8_PRIV_KEY_INFO_free)> info(EVP_PKEY2PKCS8(key),
                                                                                 PKCS8_PRIV_KEY_INFO_free);
  if (!info) return {};
  const int size = i2d_PKCS8_PRIV_KEY_INFO(info.get(), nullptr);
  if (size <= 0) return {};
  std::vector<uint8_t> der(static_cast<size_t>(size));
  uint8_t* cursor = der.data();
  if (i2d_PKCS8_PRIV_KEY_INFO(info.get(), &cursor) != size) return {};
  Cache().Put(der, key);
  return der;
}

UniquePtr<EVP_PKEY> FromPkcs8(std::span<const uint8_t> der) {
  if (UniquePtr<EVP_PKEY> cached = Cache().Find(der)) return cached;
  const uint8_t* cursor = der.data();
  std::unique_ptr<PKCS8_PRIV_KEY_INFO, decltype(&PKCS8_PRIV_KEY_INFO_free)> info(
      d2i_PKCS8_PRIV_KEY_INFO(nullptr, &cursor, static_cast<long>(der.size())), PKCS8_PRIV_KEY_INFO_free);
  if (!info || cursor != der.data() + der.size()) return nullptr;
  UniquePtr<EVP_PKEY> key(EVP_PKCS82PKEY(info.get()));
  if (key) Cache().Put(der, key.get());
  return key;
}

bool GetRsaNumbers(const EVP_PKEY* key, RsaNumbers* out) {
  if (EVP_PKEY_is_a(key, "RSA") != 1) return false;
  RsaNumbers numbers;
  if (!GetBn(key, OSSL_PKEY_PARAM_RSA_N, &numbers.modulus) || !GetBn(key, OSSL_PKEY_PARAM_RSA_E, &numbers.public_exponent)) {
    return false;
  }
  if (GetBn(key, OSSL_PKEY_PARAM_RSA_D, &numbers.private_exponent)) {
    if (!GetBn(key, OSSL_PKEY_PARAM_RSA_FACTOR1, &numbers.prime1) ||
        !GetBn(key, OSSL_PKEY_PARAM_RSA_FACTOR2, &numbers.prime2) ||
        !GetBn(key, OSSL_PKEY_PARAM_RSA_EXPONENT1, &numbers.exponent1) ||
        !GetBn(key, OSSL_PKEY_PARAM_RSA_EXPONENT2, &numbers.exponent2) ||
        !GetBn(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, &numbers.coefficient)) {
      return false;
    }
  }
  *out = std::move(numbers);
  return true;
}

UniquePtr<EVP_PKEY> RsaKeyFromNumbers(const RsaNumbers& numbers) {
  const bool is_private = !numbers.private_exponent.empty();
  UniquePtr<OSSL_PARAM_BLD> builder(OSSL_PARAM_BLD_new());
  if (!builder) return nullptr;
  std::vector<UniquePtr<BIGNUM>> owned;
  auto push = [&](const char* name, const std::vector<uint8_t>& value) {
    owned.push_back(ToBn(value));
    return owned.back() && OSSL_PARAM_BLD_push_BN(builder.get(), name, owned.back().get()) == 1;
  };
  bool ok = push(OSSL_PKEY_PARAM_RSA_N, numbers.modulus) && push(OSSL_PKEY_PARAM_RSA_E, numbers.public_exponent);
  if (ok && is_private) {
    ok = push(OSSL_PKEY_PARAM_RSA_D, numbers.private_exponent) && push(OSSL_PKEY_PARAM_RSA_FACTOR1, numbers.prime1) &&
         push(OSSL_PKEY_PARAM_RSA_FACTOR2, numbers.prime2) &&
         push(OSSL_PKEY_PARAM_RSA_EXPONENT1, numbers.exponent1) &&
         push(OSSL_PKEY_PARAM_RSA_EXPONENT2, numbers.exponent2) &&
         push(OSSL_PKEY_PARAM_RSA_COEFFICIENT1, numbers.coefficient);
  }
  if (!ok) return nullptr;
  UniquePtr<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(builder.get()));
  UniquePtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1) return nullptr;
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_fromdata(ctx.get(), &key, is_private ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    return nullptr;
  }
  return UniquePtr<EVP_PKEY>(key);
}

std::vector<uint8_t> RsaPublicKeyDer(const EVP_PKEY* key) {
  RsaNumbers numbers;
  if (!GetRsaNumbers(key, &numbers)) return {};
  DerWriter der;
  const size_t sequence = der.Open(0x30);
  der.AddUnsignedInteger(numbers.modulus);
  der.AddUnsignedInteger(numbers.public_exponent);
  der.Close(sequence);
  return der.Finish();
}

bool RsaSignDigest(EVP_PKEY* key, const EVP_MD* md, std::span<const uint8_t> digest, std::vector<uint8_t>* out) {
  UniquePtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new(key, nullptr));
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1) {
    return false;
  }
  if (md != nullptr && EVP_PKEY_CTX_set_signature_md(ctx.get(), md) != 1) return false;
  size_t size = 0;
  if (EVP_PKEY_sign(ctx.get(), nullptr, &size, digest.data(), digest.size()) != 1) return false;
  std::vector<uint8_t> signature(size);
  if (EVP_PKEY_sign(ctx.get(), signature.data(), &size, digest.data(), digest.size()) != 1) return false;
  signature.resize(size);
  *out = std::move(signature);
  return true;
}

bool RsaDecrypt(EVP_PKEY* key, std::span<const uint8_t> ciphertext, std::vector<uint8_t>* out) {
  UniquePtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new(key, nullptr));
  if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1) {
    return false;
  }
  size_t size = 0;
  if (EVP_PKEY_decrypt(ctx.get(), nullptr, &size, ciphertext.data(), ciphertext.size()) != 1) return false;
  std::vector<uint8_t> plain(size);
  if (EVP_PKEY_decrypt(ctx.get(), plain.data(), &size, ciphertext.data(), ciphertext.size()) != 1) return false;
  plain.resize(size);
  *out = std::move(plain);
  return true;
}

bool GetSm2Point(const EVP_PKEY* key, std::array<uint8_t, 32>* x, std::array<uint8_t, 32>* y) {
  BIGNUM* raw_x = nullptr;
  BIGNUM* raw_y = nullptr;
  const bool got = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &raw_x) == 1 &&
                   EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &raw_y) == 1;
  UniquePtr<BIGNUM> bx(raw_x), by(raw_y);
  if (!got) return false;
  return BN_bn2binpad(bx.get(), x->data(), 32) == 32 && BN_bn2binpad(by.get(), y->data(), 32) == 32;
}

UniquePtr<EVP_PKEY> Sm2KeyFromScalar(std::span<const uint8_t> scalar) {
  if (scalar.empty() || scalar.size() > 32) return nullptr;
  UniquePtr<EC_GROUP> group(EC_GROUP_new_by_curve_name(NID_sm2));
  UniquePtr<BIGNUM> d = ToBn(scalar);
  UniquePtr<BIGNUM> limit(BN_dup(group ? EC_GROUP_get0_order(group.get()) : nullptr));
  if (!group || !d || !limit || !BN_sub_word(limit.get(), 1)) return nullptr;
  // SM2 private keys lie in [1, n-2].
  if (BN_is_zero(d.get()) || BN_cmp(d.get(), limit.get()) >= 0) return nullptr;
  UniquePtr<EC_POINT> point(EC_POINT_new(group.get()));
  UniquePtr<BN_CTX> bn_ctx(BN_CTX_new());
  if (!point || !bn_ctx || EC_POINT_mul(group.get(), point.get(), d.get(), nullptr, nullptr, bn_ctx.get()) != 1) {
    return nullptr;
  }
  uint8_t encoded[65];
  if (EC_POINT_point2oct(group.get(), point.get(), POINT_CONVERSION_UNCOMPRESSED, encoded, sizeof(encoded),
                         bn_ctx.get()) != sizeof(encoded)) {
    return nullptr;
  }
  UniquePtr<OSSL_PARAM_BLD> builder(OSSL_PARAM_BLD_new());
  if (!builder || OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0) != 1 ||
      OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_PRIV_KEY, d.get()) != 1 ||
      OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof(encoded)) != 1) {
    return nullptr;
  }
  UniquePtr<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(builder.get()));
  UniquePtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr));
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1) return nullptr;
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_KEYPAIR, params.get()) != 1) return nullptr;
  return UniquePtr<EVP_PKEY>(key);
}

bool Sm2Sign(EVP_PKEY* key, std::span<const uint8_t> message, std::array<uint8_t, 64>* r_s) {
  UniquePtr<EVP_MD_CTX> md_ctx(EVP_MD_CTX_new());
  EVP_PKEY_CTX* pkey_ctx = nullptr;  // owned by md_ctx
  if (!md_ctx || EVP_DigestSignInit(md_ctx.get(), &pkey_ctx, EVP_sm3(), nullptr, key) != 1) return false;
  // Without an explicit identifier OpenSSL 3.0 hashes an empty one into Z.
  if (EVP_PKEY_CTX_set1_id(pkey_ctx, kSm2DefaultId, sizeof(kSm2DefaultId) - 1) != 1) return false;
  size_t size = 0;
  if (EVP_DigestSign(md_ctx.get(), nullptr, &size, message.data(), message.size()) != 1) return false;
  std::vector<uint8_t> der(size);
  if (EVP_DigestSign(md_ctx.get(), der.data(), &size, message.data(), message.size()) != 1) return false;
  const uint8_t* cursor = der.data();
  UniquePtr<ECDSA_SIG> signature(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(size)));
  if (!signature) return false;
  return BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), r_s->data(), 32) == 32 &&
         BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()), r_s->data() + 32, 32) == 32;
}

bool Sm2DecryptC1C3C2(EVP_PKEY* key, std::span<const uint8_t> ciphertext, std::vector<uint8_t>* out) {
  if (ciphertext.size() <= 96) return false;
  // SM2Cipher ::= SEQUENCE { XCoordinate INTEGER, YCoordinate INTEGER,
  //                          HASH OCTET STRING (SIZE(32)), CipherText OCTET STRING }
  DerWriter der;
  const size_t sequence = der.Open(0x30);
  der.AddUnsignedInteger(ciphertext.subspan(0, 32));
  der.AddUnsignedInteger(ciphertext.subspan(32, 32));
  der.AddElement(0x04, ciphertext.subspan(64, 32));
  der.AddElement(0x04, ciphertext.subspan(96));
  der.Close(sequence);
  const std::vector<uint8_t> encoded = der.Finish();

  UniquePtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new(key, nullptr));
  if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1) return false;
  size_t size = 0;
  if (EVP_PKEY_decrypt(ctx.get(), nullptr, &size, encoded.data(), encoded.size()) != 1) return false;
  std::vector<uint8_t> plain(size);
  if (EVP_PKEY_decrypt(ctx.get(), plain.data(), &size, encoded.data(), encoded.size()) != 1) return false;
  plain.resize(size);
  *out = std::move(plain);
  return true;
}

}  // namespace tessaline::crypt
