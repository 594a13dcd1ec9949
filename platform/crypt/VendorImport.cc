// The vendor provider's import blobs: the payload is decrypted with the
// container's exchange key, and the key pair it holds replaces that key.
#include "platform/crypt/KeyBlobs.h"
#include "platform/crypt/KeyMaterial.h"
#include "platform/crypt/ProviderSupport.h"

namespace tessaline::crypt {
namespace {

using tessaline::ByteView;

const uint8_t kRsaEncryptionOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
const uint8_t kVendorSymmetricOid[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0xA6, 0x41, 0x01, 0x07};  // 1.3.6.1.4.1.4929.1.7

// The plaintext of the vendor SM2 import: the private scalar (32 bytes) or
// a DER private key.
UniquePtr<EVP_PKEY> Sm2KeyFromPlaintext(const std::vector<uint8_t>& plain) {
  if (plain.size() <= 32) return Sm2KeyFromScalar(plain);
  const uint8_t* cursor = plain.data();
  UniquePtr<EVP_PKEY> key(d2i_AutoPrivateKey(nullptr, &cursor, static_cast<long>(plain.size())));
  if (!key || !IsSm2Key(key.get())) return nullptr;
  return key;
}

}  // namespace

DWORD SoftwareProvider::ImportVendorBlob(SoftContext& context, ByteView blob, DWORD flags,
                                         std::shared_ptr<Key>* out) {
  VendorBlob parsed;
  DWORD error = ParseVendorBlob(blob, &parsed);
  if (error != ERROR_SUCCESS) return error;
  std::shared_ptr<SoftKey> exchange;
  error = LoadKeyPair(context, AT_KEYEXCHANGE, &exchange);
  if (error != ERROR_SUCCESS) return error;

  auto key = NewKey(context.shared_from_this());
  key->exportable = (flags & CRYPT_EXPORTABLE) != 0;
  key->key_spec = AT_KEYEXCHANGE;
  if (parsed.algorithm == CALG_SM2_KEYX) {
    if (!IsSm2Key(exchange->pkey.get())) return Bits(NTE_BAD_KEY);
    std::vector<uint8_t> plain;
    if (!Sm2DecryptC1C3C2(exchange->pkey.get(), parsed.payload.span(), &plain)) return Bits(NTE_BAD_DATA);
    key->pkey = Sm2KeyFromPlaintext(plain);
    OPENSSL_cleanse(plain.data(), plain.size());
    if (!key->pkey) return Bits(NTE_BAD_DATA);
    key->algorithm = CALG_SM2_KEYX;
    key->bits = kSm2Bits;
  } else {
    if (IsSm2Key(exchange->pkey.get())) return Bits(NTE_BAD_KEY);
    VendorRsaPayload payload;
    error = ParseVendorRsaPayload(parsed.payload, &payload);
    if (error != ERROR_SUCCESS) return error;
    const auto same = [](ByteView oid, std::span<const uint8_t> expected) {
      return std::equal(oid.span().begin(), oid.span().end(), expected.begin(), expected.end());
    };
    if (!same(payload.asymmetric_oid, kRsaEncryptionOid) || !same(payload.symmetric_oid, kVendorSymmetricOid)) {
      return Bits(NTE_BAD_ALGID);
    }
    std::vector<uint8_t> session;
    if (!RsaDecrypt(exchange->pkey.get(), payload.encrypted_session_key.span(), &session)) return Bits(NTE_BAD_DATA);
    // A 32-byte session key carries the 3DES key in its first 24 bytes.
    if (session.size() == 32) session.resize(k3DesKeyBytes);
    if (session.size() != k3DesKeyBytes) return Bits(NTE_BAD_DATA);
    SoftKey session_key;
    session_key.secret = std::move(session);
    session_key.mode = CRYPT_MODE_ECB;
    std::vector<uint8_t> pkcs1(payload.encrypted_private_key.data(),
                               payload.encrypted_private_key.data() + payload.encrypted_private_key.size());
    error = DecryptWithSessionKey(session_key, true, &pkcs1);
    OPENSSL_cleanse(session_key.secret.data(), session_key.secret.size());
    if (error != ERROR_SUCCESS) return error;
    const uint8_t* cursor = pkcs1.data();
    key->pkey.reset(d2i_AutoPrivateKey(nullptr, &cursor, static_cast<long>(pkcs1.size())));
    OPENSSL_cleanse(pkcs1.data(), pkcs1.size());
    if (!key->pkey || EVP_PKEY_is_a(key->pkey.get(), "RSA") != 1) return Bits(NTE_BAD_DATA);
    key->algorithm = CALG_RSA_KEYX;
    key->bits = KeyBits(key->pkey.get());
  }
  error = StoreKeyPair(*context.container, *key);
  if (error != ERROR_SUCCESS) return error;
  *out = std::move(key);
  return ERROR_SUCCESS;
}

}  // namespace tessaline::crypt
