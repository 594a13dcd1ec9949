// The software providers: containers, key pairs, session keys, hashes and
// signatures on OpenSSL. Provider parameters and the vendor import blobs
// live in their own files.
#include "platform/crypt/SoftwareProvider.h"

#include <openssl/rand.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/base/Utf.h"
#include "platform/crypt/ContainerStore.h"
#include "platform/crypt/Crypt.h"
#include "platform/crypt/KeyBlobs.h"
#include "platform/crypt/KeyMaterial.h"
#include "platform/crypt/ProviderSupport.h"

namespace tessaline::crypt {
namespace {

using tessaline::ByteView;

// Longer names are refused rather than truncated.
constexpr size_t kMaxContainerNameUnits = 1024;
// A DER certificate handed to KP_CERTIFICATE carries its own length; more
// than this is not a certificate.
constexpr size_t kMaxCertificateBytes = 1u << 20;

const uint8_t kSm2CurveOidDer[] = {0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x82, 0x2D};
const uint8_t kDerNull[] = {0x05, 0x00};

std::string DefaultContainerName() {
  const passwd* entry = getpwuid(getuid());
  return entry != nullptr && entry->pw_name != nullptr && *entry->pw_name != '\0' ? entry->pw_name : "default";
}

// A container name as stored: UTF-8 of the caller's text. Names that would
// not survive the conversion unchanged, or are unreasonably long, are
// refused instead of being stored under another name.
DWORD ContainerName(const std::u16string* given, std::string* out) {
  if (given == nullptr || given->empty()) {
    *out = DefaultContainerName();
    return ERROR_SUCCESS;
  }
  if (given->size() > kMaxContainerNameUnits) return Bits(NTE_BAD_KEYSET_PARAM);
  std::string utf8 = Utf16ToUtf8(*given);
  if (Utf8ToUtf16(utf8) != *given) return Bits(NTE_BAD_KEYSET_PARAM);
  *out = std::move(utf8);
  return ERROR_SUCCESS;
}

// The stored name of the caller's container, which must exist already.
DWORD ExistingContainer(const std::string& provider, const std::u16string* given, std::string* out) {
  bool exists = false;
  DWORD error = ContainerName(given, out);
  if (error == ERROR_SUCCESS) error = ContainerStore::Exists(provider, *out, &exists);
  if (error != ERROR_SUCCESS) return error;
  return exists ? ERROR_SUCCESS : Bits(NTE_BAD_KEYSET);
}

const EVP_MD* DigestOf(ALG_ID algorithm) {
  switch (algorithm) {
    case CALG_SHA1:
      return EVP_sha1();
    case CALG_MD5:
      return EVP_md5();
    default:
      return nullptr;
  }
}

// The length of the DER element at DATA, read from its own header.
bool DerElementLength(const BYTE* data, size_t* length) {
  if (data[0] != 0x30) return false;
  const uint8_t first = data[1];
  if (first < 0x80) {
    *length = 2 + first;
    return true;
  }
  const size_t count = first & 0x7F;
  if (count == 0 || count > 3) return false;
  size_t value = 0;
  for (size_t i = 0; i < count; ++i) value = (value << 8) | data[2 + i];
  *length = 2 + count + value;
  return *length <= kMaxCertificateBytes;
}

}  // namespace

SoftwareProvider::SoftwareProvider(std::u16string name, DWORD type, Flavor flavor)
    : Provider(std::move(name), type), flavor_(flavor), name_utf8_(Utf16ToUtf8(this->name())) {}

DWORD SoftwareProvider::Acquire(const std::u16string* container, DWORD flags, std::shared_ptr<Context>* out) {
  const DWORD base = flags & ~CRYPT_SILENT;
  std::string name;
  const bool named = container != nullptr && !container->empty();
  auto context = std::make_shared<SoftContext>();

  if (base == CRYPT_DELETEKEYSET || base == CRYPT_SM2_DELETEKEYSET) {
    const DWORD error = ContainerName(container, &name);
    return error != ERROR_SUCCESS ? error : ContainerStore::Delete(name_utf8_, name);
  }
  if (base == CRYPT_VERIFYCONTEXT) {
    if (named) {
      // Only the vendor provider reaches a container this way.
      if (flavor_ != Flavor::kVendor) return Bits(NTE_BAD_FLAGS);
      const DWORD error = ExistingContainer(name_utf8_, container, &name);
      if (error != ERROR_SUCCESS) return error;
      context->container = name;
    }
  } else if (base == CRYPT_NEWKEYSET) {
    DWORD error = ContainerName(container, &name);
    if (error == ERROR_SUCCESS) error = ContainerStore::Create(name_utf8_, name);
    if (error != ERROR_SUCCESS) return error;
    context->container = name;
  } else if (base == 0) {
    const DWORD error = ExistingContainer(name_utf8_, container, &name);
    if (error != ERROR_SUCCESS) return error;
    context->container = name;
  } else {
    return Bits(NTE_BAD_FLAGS);
  }
  *out = std::move(context);
  return ERROR_SUCCESS;
}

DWORD SoftwareProvider::GenKey(Context& base_context, ALG_ID algorithm, DWORD flags, std::shared_ptr<Key>* out) {
  auto& context = static_cast<SoftContext&>(base_context);
  const DWORD bits = flags >> 16;
  const DWORD low = flags & 0xFFFF;
  if ((low & ~kKnownKeyFlags) != 0) return Bits(NTE_BAD_FLAGS);

  auto key = NewKey(context.shared_from_this());
  key->exportable = (low & CRYPT_EXPORTABLE) != 0;
  switch (algorithm) {
    case AT_KEYEXCHANGE:
    case CALG_RSA_KEYX:
    case AT_SIGNATURE:
    case CALG_RSA_SIGN: {
      const bool exchange = algorithm == AT_KEYEXCHANGE || algorithm == CALG_RSA_KEYX;
      key->algorithm = exchange ? CALG_RSA_KEYX : CALG_RSA_SIGN;
      key->key_spec = exchange ? AT_KEYEXCHANGE : AT_SIGNATURE;
      key->bits = bits == 0 ? kDefaultRsaBits : bits;
      if (key->bits < kMinRsaBits || key->bits > kMaxRsaBits || key->bits % 16 != 0) return Bits(NTE_BAD_FLAGS);
      key->pkey = GenerateRsaKey(key->bits);
      break;
    }
    case CALG_SM2_KEYX:
    case CALG_SM2_SIGN:
      if (flavor_ != Flavor::kVendor) return Bits(NTE_BAD_ALGID);
      if (bits != 0 && bits != kSm2Bits) return Bits(NTE_BAD_FLAGS);
      key->algorithm = algorithm;
      key->key_spec = algorithm == CALG_SM2_KEYX ? AT_KEYEXCHANGE : AT_SIGNATURE;
      key->bits = kSm2Bits;
      key->pkey = GenerateSm2Key();
      break;
    case CALG_3DES:
      if (bits != 0 && bits != k3DesBits) return Bits(NTE_BAD_FLAGS);
      key->algorithm = CALG_3DES;
      key->bits = k3DesBits;
      key->secret.resize(k3DesKeyBytes);
      if (RAND_bytes(key->secret.data(), static_cast<int>(key->secret.size())) != 1) return Bits(NTE_FAIL);
      *out = std::move(key);
      return ERROR_SUCCESS;
    default:
      return Bits(NTE_BAD_ALGID);
  }
  if (!key->pkey) return Bits(NTE_FAIL);
  if (context.container) {
    const DWORD error = StoreKeyPair(*context.container, *key);
    if (error != ERROR_SUCCESS) return error;
  }
  *out = std::move(key);
  return ERROR_SUCCESS;
}

DWORD SoftwareProvider::StoreKeyPair(const std::string& container, SoftKey& key) {
  StoredKey stored;
  stored.key_spec = key.key_spec;
  stored.algorithm = key.algorithm;
  stored.bits = key.bits;
  stored.exportable = key.exportable;
  stored.private_key = ToPkcs8(key.pkey.get());
  if (stored.private_key.empty()) return Bits(NTE_FAIL);
  const DWORD error = ContainerStore::PutKey(name_utf8_, container, stored);
  if (error != ERROR_SUCCESS) return error;
  key.container = container;
  key.certificate.clear();
  return ERROR_SUCCESS;
}

DWORD SoftwareProvider::LoadKeyPair(SoftContext& context, DWORD key_spec, std::shared_ptr<SoftKey>* out) {
  if (key_spec != AT_KEYEXCHANGE && key_spec != AT_SIGNATURE) return Bits(NTE_BAD_KEY);
  if (!context.container) return Bits(NTE_NO_KEY);
  StoredKey stored;
  const DWORD error = ContainerStore::GetKey(name_utf8_, *context.container, key_spec, &stored);
  if (error != ERROR_SUCCESS) return error;
  auto key = NewKey(context.shared_from_this());
  key->pkey = FromPkcs8(stored.private_key);
  if (!key->pkey) return Bits(NTE_KEYSET_ENTRY_BAD);
  key->algorithm = stored.algorithm;
  key->bits = stored.bits;
  key->exportable = stored.exportable;
  key->key_spec = key_spec;
  key->container = context.container;
  key->certificate = std::move(stored.certificate);
  *out = std::move(key);
  return ERROR_SUCCESS;
}

DWORD SoftwareProvider::GetUserKey(Context& context, DWORD key_spec, std::shared_ptr<Key>* out) {
  std::shared_ptr<SoftKey> key;
  const DWORD error = LoadKeyPair(static_cast<SoftContext&>(context), key_spec, &key);
  if (error != ERROR_SUCCESS) return error;
  *out = std::move(key);
  return ERROR_SUCCESS;
}

DWORD SoftwareProvider::ImportKey(Context& base_context, std::span<const uint8_t> blob_bytes, Key* base_import_key,
                                  DWORD flags, std::shared_ptr<Key>* out) {
  auto& context = static_cast<SoftContext&>(base_context);
  auto* import_key = static_cast<SoftKey*>(base_import_key);
  const ByteView blob(blob_bytes);
  if ((flags & ~kKnownKeyFlags) != 0) return Bits(NTE_BAD_FLAGS);
  if (blob.size() < sizeof(BLOBHEADER)) return Bits(NTE_BAD_DATA);

  if (IsVendorBlob(blob)) {
    if (flavor_ != Flavor::kVendor) return Bits(NTE_BAD_DATA);
    if (import_key != nullptr) return Bits(NTE_BAD_KEY);
    return ImportVendorBlob(context, blob, flags, out);
  }

  auto key = NewKey(context.shared_from_this());
  key->exportable = (flags & CRYPT_EXPORTABLE) != 0;
  switch (blob.data()[0]) {
    case PUBLICKEYBLOB:
    case PRIVATEKEYBLOB: {
      if (import_key != nullptr) return Bits(NTE_BAD_KEY);
      RsaBlob parsed;
      const DWORD error = ParseRsaBlob(blob, &parsed);
      if (error != ERROR_SUCCESS) return error;
      key->pkey = RsaKeyFromNumbers(parsed.numbers);
      if (!key->pkey) return Bits(NTE_BAD_DATA);
      key->algorithm = parsed.algorithm;
      key->bits = parsed.bits;
      if (blob.data()[0] == PUBLICKEYBLOB) break;
      // A private key is stored in the open container, replacing the key of
      // its specification.
      key->key_spec = parsed.algorithm == CALG_RSA_KEYX ? AT_KEYEXCHANGE : AT_SIGNATURE;
      if (context.container) {
        const DWORD stored = StoreKeyPair(*context.container, *key);
        if (stored != ERROR_SUCCESS) return stored;
      }
      break;
    }
    case SIMPLEBLOB: {
      if (import_key == nullptr) return Bits(NTE_BAD_PUBLIC_KEY);
      SimpleBlob parsed;
      const DWORD error = ParseSimpleBlob(blob, &parsed);
      if (error != ERROR_SUCCESS) return error;
      if (parsed.algorithm != CALG_3DES) return Bits(NTE_BAD_ALGID);
      if (!import_key->pkey || IsSm2Key(import_key->pkey.get()) ||
          parsed.wrapping_algorithm != import_key->algorithm) {
        return Bits(NTE_BAD_PUBLIC_KEY);
      }
      if (parsed.encrypted_key.size() != import_key->bits / 8) return Bits(NTE_BAD_DATA);
      std::vector<uint8_t> secret;
      if (!RsaDecrypt(import_key->pkey.get(), parsed.encrypted_key, &secret) || secret.size() != k3DesKeyBytes) {
        return Bits(NTE_BAD_DATA);
      }
      key->algorithm = CALG_3DES;
      key->bits = k3DesBits;
      key->secret = std::move(secret);
      break;
    }
    default:
      return Bits(NTE_BAD_TYPE);
  }
  *out = std::move(key);
  return ERROR_SUCCESS;
}

DWORD SoftwareProvider::ExportKey(Key& base_key, Key* export_key, DWORD blob_type, DWORD flags,
                                  std::vector<uint8_t>* out) {
  auto& key = static_cast<SoftKey&>(base_key);
  if (flags != 0) return Bits(NTE_BAD_FLAGS);
  if (export_key != nullptr) return Bits(NTE_BAD_KEY);
  if (!key.pkey) return Bits(NTE_BAD_KEY);
  const bool sm2 = IsSm2Key(key.pkey.get());
  if (blob_type == PUBLICKEYBLOB) {
    if (sm2) {
      std::array<uint8_t, 32> x{}, y{};
      if (!GetSm2Point(key.pkey.get(), &x, &y)) return Bits(NTE_FAIL);
      *out = BuildSm2PublicKeyBlob(key.algorithm, x, y);
      return ERROR_SUCCESS;
    }
  } else if (blob_type == PRIVATEKEYBLOB) {
    if (!key.exportable) return Bits(NTE_BAD_KEY_STATE);
    if (sm2) return Bits(NTE_BAD_TYPE);
  } else {
    return Bits(NTE_BAD_TYPE);
  }
  RsaBlob rsa;
  rsa.algorithm = key.algorithm;
  rsa.bits = key.bits;
  if (!GetRsaNumbers(key.pkey.get(), &rsa.numbers)) return Bits(NTE_FAIL);
  const bool with_private = blob_type == PRIVATEKEYBLOB;
  if (with_private && rsa.numbers.private_exponent.empty()) return Bits(NTE_BAD_KEY_STATE);
  if (!BuildRsaBlob(rsa, with_private, out)) return Bits(NTE_BAD_KEY);
  return ERROR_SUCCESS;
}

DWORD SoftwareProvider::SetKeyParam(Key& base_key, DWORD param, const BYTE* data, DWORD flags) {
  auto& key = static_cast<SoftKey&>(base_key);
  if (flags != 0) return Bits(NTE_BAD_FLAGS);
  if (data == nullptr) return ERROR_INVALID_PARAMETER;
  switch (param) {
    case KP_CERTIFICATE: {
      if (!key.pkey) return Bits(NTE_BAD_TYPE);
      size_t length = 0;
      if (!DerElementLength(data, &length)) return Bits(NTE_BAD_DATA);
      const uint8_t* cursor = data;
      UniquePtr<X509> certificate(d2i_X509(nullptr, &cursor, static_cast<long>(length)));
      if (!certificate || cursor != data + length) return Bits(NTE_BAD_DATA);
      std::vector<uint8_t> der(data, data + length);
      if (key.container) {
        const DWORD error = ContainerStore::SetCertificate(name_utf8_, *key.container, key.key_spec, der);
        if (error != ERROR_SUCCESS) return error;
      }
      key.certificate = std::move(der);
      return ERROR_SUCCESS;
    }
    case KP_MODE: {
      if (key.secret.empty()) return Bits(NTE_BAD_TYPE);
      DWORD mode = 0;
      std::memcpy(&mode, data, sizeof(mode));
      if (mode != CRYPT_MODE_CBC && mode != CRYPT_MODE_ECB) return Bits(NTE_BAD_DATA);
      key.mode = mode;
      key.running.reset();
      return ERROR_SUCCESS;
    }
    case KP_IV:
      if (key.secret.empty()) return Bits(NTE_BAD_TYPE);
      key.iv.assign(data, data + 8);
      key.running.reset();
      return ERROR_SUCCESS;
    default:
      return Bits(NTE_BAD_TYPE);
  }
}

DWORD SoftwareProvider::GetKeyParam(Key& base_key, DWORD param, std::vector<uint8_t>* out) {
  auto& key = static_cast<SoftKey&>(base_key);
  switch (param) {
    case KP_ALGID:
      *out = DwordBytes(key.algorithm);
      return ERROR_SUCCESS;
    case KP_KEYLEN:
      *out = DwordBytes(key.bits);
      return ERROR_SUCCESS;
    case KP_BLOCKLEN:
      *out = DwordBytes(key.secret.empty() ? (IsSm2Key(key.pkey.get()) ? 0 : key.bits) : 64);
      return ERROR_SUCCESS;
    case KP_MODE:
      if (key.secret.empty()) return Bits(NTE_BAD_TYPE);
      *out = DwordBytes(key.mode);
      return ERROR_SUCCESS;
    case KP_IV:
      if (key.secret.empty()) return Bits(NTE_BAD_TYPE);
      *out = key.iv;
      return ERROR_SUCCESS;
    case KP_CERTIFICATE: {
      if (!key.pkey) return Bits(NTE_BAD_TYPE);
      std::vector<uint8_t> certificate = key.certificate;
      if (key.container) {
        // Another handle may have attached one since this key was loaded.
        StoredKey stored;
        const DWORD error = ContainerStore::GetKey(name_utf8_, *key.container, key.key_spec, &stored);
        if (error != ERROR_SUCCESS) return error;
        certificate = std::move(stored.certificate);
      }
      if (certificate.empty()) return Bits(NTE_NOT_FOUND);
      *out = std::move(certificate);
      return ERROR_SUCCESS;
    }
    default:
      return Bits(NTE_BAD_TYPE);
  }
}

DWORD SoftwareProvider::Decrypt(Key& base_key, bool final, DWORD flags, std::vector<uint8_t>* data) {
  auto& key = static_cast<SoftKey&>(base_key);
  if (flags != 0) return Bits(NTE_BAD_FLAGS);
  if (!key.secret.empty()) return DecryptWithSessionKey(key, final, data);
  if (!key.pkey || IsSm2Key(key.pkey.get())) return Bits(NTE_BAD_KEY);
  if (data->size() != key.bits / 8) return Bits(NTE_BAD_LEN);
  std::vector<uint8_t> big_endian(data->rbegin(), data->rend());
  std::vector<uint8_t> plain;
  if (!RsaDecrypt(key.pkey.get(), big_endian, &plain)) return Bits(NTE_BAD_DATA);
  *data = std::move(plain);
  return ERROR_SUCCESS;
}

DWORD SoftwareProvider::CreateHash(Context& context, ALG_ID algorithm, std::shared_ptr<Hash>* out) {
  auto hash = std::make_shared<SoftHash>();
  hash->context = static_cast<SoftContext&>(context).shared_from_this();
  hash->algorithm = algorithm;
  if (algorithm == CALG_SM3) {
    if (flavor_ != Flavor::kVendor) return Bits(NTE_BAD_ALGID);
  } else {
    const EVP_MD* md = DigestOf(algorithm);
    if (md == nullptr) return Bits(NTE_BAD_ALGID);
    hash->md.reset(EVP_MD_CTX_new());
    if (!hash->md || EVP_DigestInit_ex(hash->md.get(), md, nullptr) != 1) return Bits(NTE_FAIL);
  }
  *out = std::move(hash);
  return ERROR_SUCCESS;
}

DWORD SoftwareProvider::HashData(Hash& base_hash, std::span<const uint8_t> data) {
  auto& hash = static_cast<SoftHash&>(base_hash);
  if (hash.finished) return Bits(NTE_BAD_HASH_STATE);
  if (hash.md) {
    if (EVP_DigestUpdate(hash.md.get(), data.data(), data.size()) != 1) return Bits(NTE_FAIL);
  } else {
    hash.message.insert(hash.message.end(), data.begin(), data.end());
  }
  return ERROR_SUCCESS;
}

DWORD SoftwareProvider::SignHash(Hash& base_hash, DWORD key_spec, DWORD flags, bool size_only,
                                 std::vector<uint8_t>* out) {
  auto& hash = static_cast<SoftHash&>(base_hash);
  if ((flags & ~CRYPT_NOHASHOID) != 0) return Bits(NTE_BAD_FLAGS);
  std::shared_ptr<SoftKey> key;
  const DWORD error = LoadKeyPair(static_cast<SoftContext&>(*hash.context), key_spec, &key);
  if (error != ERROR_SUCCESS) return error;

  if (IsSm2Key(key->pkey.get())) {
    if (hash.algorithm != CALG_SM3 || flags != 0) return Bits(NTE_BAD_ALGID);
    if (size_only) {
      out->assign(64, 0);
      return ERROR_SUCCESS;
    }
    std::array<uint8_t, 64> r_s{};
    if (!Sm2Sign(key->pkey.get(), hash.message, &r_s)) return Bits(NTE_FAIL);
    std::reverse(r_s.begin(), r_s.begin() + 32);
    std::reverse(r_s.begin() + 32, r_s.end());
    out->assign(r_s.begin(), r_s.end());
    hash.finished = true;
    return ERROR_SUCCESS;
  }
  if (!hash.md) return Bits(NTE_BAD_ALGID);
  if (size_only) {
    out->assign(key->bits / 8, 0);
    return ERROR_SUCCESS;
  }
  // The hash stays open for a second signature, so the digest comes from a
  // copy of its state.
  UniquePtr<EVP_MD_CTX> copy(EVP_MD_CTX_new());
  uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned int digest_size = 0;
  if (!copy || EVP_MD_CTX_copy_ex(copy.get(), hash.md.get()) != 1 ||
      EVP_DigestFinal_ex(copy.get(), digest, &digest_size) != 1) {
    return Bits(NTE_FAIL);
  }
  const EVP_MD* md = (flags & CRYPT_NOHASHOID) != 0 ? nullptr : DigestOf(hash.algorithm);
  std::vector<uint8_t> signature;
  if (!RsaSignDigest(key->pkey.get(), md, std::span<const uint8_t>(digest, digest_size), &signature)) {
    return Bits(NTE_FAIL);
  }
  std::reverse(signature.begin(), signature.end());
  *out = std::move(signature);
  hash.finished = true;
  return ERROR_SUCCESS;
}

DWORD SoftwareProvider::GenRandom(Context& context, std::span<uint8_t> out) {
  (void)context;
  if (out.empty()) return ERROR_SUCCESS;
  return RAND_bytes(out.data(), static_cast<int>(out.size())) == 1 ? ERROR_SUCCESS : Bits(NTE_FAIL);
}

DWORD SoftwareProvider::ExportPublicKeyInfo(Context& context, DWORD key_spec, PublicKeyInfo* out) {
  std::shared_ptr<SoftKey> key;
  const DWORD error = LoadKeyPair(static_cast<SoftContext&>(context), key_spec, &key);
  if (error != ERROR_SUCCESS) return error;
  PublicKeyInfo info;
  if (IsSm2Key(key->pkey.get())) {
    std::array<uint8_t, 32> x{}, y{};
    if (!GetSm2Point(key->pkey.get(), &x, &y)) return Bits(NTE_FAIL);
    info.algorithm_oid = "1.2.840.10045.2.1";
    info.parameters.assign(std::begin(kSm2CurveOidDer), std::end(kSm2CurveOidDer));
    info.public_key.push_back(0x04);
    info.public_key.insert(info.public_key.end(), x.begin(), x.end());
    info.public_key.insert(info.public_key.end(), y.begin(), y.end());
  } else {
    info.algorithm_oid = "1.2.840.113549.1.1.1";
    info.parameters.assign(std::begin(kDerNull), std::end(kDerNull));
    info.public_key = RsaPublicKeyDer(key->pkey.get());
    if (info.public_key.empty()) return Bits(NTE_FAIL);
  }
  *out = std::move(info);
  return ERROR_SUCCESS;
}

}  // namespace tessaline::crypt
