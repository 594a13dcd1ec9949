// The software providers of the catalog, on OpenSSL. One class serves the
// four RSA providers and the vendor provider, which adds SM2 keys, SM3
// hashes and the vendor import blobs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/base/ByteView.h"
#include "platform/base/OpenSsl.h"
#include "platform/crypt/Provider.h"

namespace tessaline::crypt {

enum class Flavor { kRsa, kVendor };

struct SoftContext : Context {
  std::optional<std::string> container;  // UTF-8; none for a bare verify context
  // PP_ENUMCONTAINERS: a snapshot taken by CRYPT_FIRST.
  std::vector<std::string> container_names;
  size_t next_container = 0;
  bool enumerating_containers = false;
  // PP_ENUMALGS and PP_ENUMALGS_EX.
  size_t next_algorithm = 0;
};

struct SoftKey : Key {
  ALG_ID algorithm = 0;
  DWORD bits = 0;
  bool exportable = false;
  DWORD key_spec = 0;                    // 1 or 2 for key pairs
  std::optional<std::string> container;  // set when the key is stored in one
  UniquePtr<EVP_PKEY> pkey;              // key pairs and public keys
  std::vector<uint8_t> certificate;      // KP_CERTIFICATE of a key outside a container
  // Session keys.
  std::vector<uint8_t> secret;
  DWORD mode = 1;  // CRYPT_MODE_CBC
  std::vector<uint8_t> iv = std::vector<uint8_t>(8, 0);
  UniquePtr<EVP_CIPHER_CTX> running;  // between non-final CryptDecrypt calls
};

struct SoftHash : Hash {
  ALG_ID algorithm = 0;
  UniquePtr<EVP_MD_CTX> md;      // SHA-1, MD5
  std::vector<uint8_t> message;  // SM3: the digest needs the signer's Z first
  bool finished = false;
};

class SoftwareProvider : public Provider {
 public:
  SoftwareProvider(std::u16string name, DWORD type, Flavor flavor);

  Flavor flavor() const { return flavor_; }
  const std::string& name_utf8() const { return name_utf8_; }

  DWORD Acquire(const std::u16string* container, DWORD flags, std::shared_ptr<Context>* out) override;
  DWORD GetProvParam(Context& context, DWORD param, BYTE* data, DWORD* length, DWORD flags) override;
  DWORD GenKey(Context& context, ALG_ID algorithm, DWORD flags, std::shared_ptr<Key>* out) override;
  DWORD GetUserKey(Context& context, DWORD key_spec, std::shared_ptr<Key>* out) override;
  DWORD ImportKey(Context& context, std::span<const uint8_t> blob, Key* import_key, DWORD flags,
                  std::shared_ptr<Key>* out) override;
  DWORD ExportKey(Key& key, Key* export_key, DWORD blob_type, DWORD flags, std::vector<uint8_t>* out) override;
  DWORD SetKeyParam(Key& key, DWORD param, const BYTE* data, DWORD flags) override;
  DWORD GetKeyParam(Key& key, DWORD param, std::vector<uint8_t>* out) override;
  DWORD Decrypt(Key& key, bool final, DWORD flags, std::vector<uint8_t>* data) override;
  DWORD CreateHash(Context& context, ALG_ID algorithm, std::shared_ptr<Hash>* out) override;
  DWORD HashData(Hash& hash, std::span<const uint8_t> data) override;
  DWORD SignHash(Hash& hash, DWORD key_spec, DWORD flags, bool size_only, std::vector<uint8_t>* out) override;
  DWORD GenRandom(Context& context, std::span<uint8_t> out) override;
  DWORD ExportPublicKeyInfo(Context& context, DWORD key_spec, PublicKeyInfo* out) override;

 protected:
  // Loads the key pair of KEY_SPEC from the context's container.
  DWORD LoadKeyPair(SoftContext& context, DWORD key_spec, std::shared_ptr<SoftKey>* out);
  // Stores KEY (a key pair) under its key specification in CONTAINER.
  DWORD StoreKeyPair(const std::string& container, SoftKey& key);
  // The vendor import blobs: decrypts the payload with the container's
  // exchange key and replaces that key with the one decrypted.
  DWORD ImportVendorBlob(SoftContext& context, tessaline::ByteView blob, DWORD flags, std::shared_ptr<Key>* out);

 private:
  Flavor flavor_;
  std::string name_utf8_;
};

}  // namespace tessaline::crypt
