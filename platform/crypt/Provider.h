// A cryptographic provider as the provider interface (Crypt.h) sees it: the
// interface resolves handles, checks the shapes of the calls and hands each
// call to the provider of the handle's context. Built-in providers are
// SoftwareProvider objects; tests and external modules add their own
// through the catalog (ProviderCatalog.h).
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/base/CryptTypes.h"
#include "platform/base/Types.h"

namespace tessaline::crypt {

enum class Call {
  kEnumProviders,
  kAcquireContext,
  kReleaseContext,
  kGenKey,
  kGetUserKey,
  kDestroyKey,
  kExportKey,
  kImportKey,
  kSetKeyParam,
  kGetKeyParam,
  kGetProvParam,
  kCreateHash,
  kHashData,
  kDestroyHash,
  kSignHash,
  kDecrypt,
  kGenRandom,
  kExportPublicKeyInfo,
};

// The interface function's name, e.g. "CryptGenKey".
const char* CallName(Call call);

// What a provider is told about each call before it runs.
struct CallRecord {
  Call call = Call::kEnumProviders;
  // The algorithm, key specification, blob type, parameter id or
  // enumeration index, whichever the call takes.
  DWORD value = 0;
  DWORD flags = 0;
  // The first call of a two-call query (no buffer given).
  bool size_query = false;
  // CryptAcquireContextW.
  bool has_container = false;
  std::u16string container;
  DWORD provider_type = 0;
  // Hashed data, an imported blob, a key parameter's bytes.
  std::span<const uint8_t> data;
};

class Provider;

// One acquired provider handle.
struct Context : std::enable_shared_from_this<Context> {
  virtual ~Context() = default;
  std::shared_ptr<Provider> provider;
};

// One key handle. Keeps its context (and so its provider) alive.
struct Key {
  virtual ~Key() = default;
  std::shared_ptr<Context> context;
};

// One hash handle.
struct Hash {
  virtual ~Hash() = default;
  std::shared_ptr<Context> context;
};

// The parts of a CERT_PUBLIC_KEY_INFO.
struct PublicKeyInfo {
  std::string algorithm_oid;
  std::vector<uint8_t> parameters;  // DER
  std::vector<uint8_t> public_key;  // contents of the BIT STRING
};

// Every operation returns ERROR_SUCCESS or the error for the thread's last
// error (a Windows error number or an NTE_* code's 32-bit pattern). Objects
// passed in were created by this provider.
class Provider {
 public:
  Provider(std::u16string name, DWORD type) : name_(std::move(name)), type_(type) {}
  virtual ~Provider() = default;
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;

  const std::u16string& name() const { return name_; }
  DWORD type() const { return type_; }

  // Sees every call that reaches this provider before it runs; an error
  // fails the call with it. Providers that record or script calls for tests
  // override it.
  virtual DWORD BeforeCall(const CallRecord& call) {
    (void)call;
    return 0;
  }

  // CONTAINER is null when the caller gave none. For a deletion *out stays
  // empty.
  virtual DWORD Acquire(const std::u16string* container, DWORD flags, std::shared_ptr<Context>* out) = 0;
  // Two-call shape: DATA null asks for the size in *LENGTH.
  virtual DWORD GetProvParam(Context& context, DWORD param, BYTE* data, DWORD* length, DWORD flags) = 0;
  virtual DWORD GenKey(Context& context, ALG_ID algorithm, DWORD flags, std::shared_ptr<Key>* out) = 0;
  virtual DWORD GetUserKey(Context& context, DWORD key_spec, std::shared_ptr<Key>* out) = 0;
  virtual DWORD ImportKey(Context& context, std::span<const uint8_t> blob, Key* import_key, DWORD flags,
                          std::shared_ptr<Key>* out) = 0;
  virtual DWORD ExportKey(Key& key, Key* export_key, DWORD blob_type, DWORD flags, std::vector<uint8_t>* out) = 0;
  virtual DWORD SetKeyParam(Key& key, DWORD param, const BYTE* data, DWORD flags) = 0;
  virtual DWORD GetKeyParam(Key& key, DWORD param, std::vector<uint8_t>* out) = 0;
  // In place: DATA holds the ciphertext and receives the plaintext.
  virtual DWORD Decrypt(Key& key, bool final, DWORD flags, std::vector<uint8_t>* data) = 0;
  virtual DWORD CreateHash(Context& context, ALG_ID algorithm, std::shared_ptr<Hash>* out) = 0;
  virtual DWORD HashData(Hash& hash, std::span<const uint8_t> data) = 0;
  // With SIZE_ONLY the signature's size is reported through out->size().
  virtual DWORD SignHash(Hash& hash, DWORD key_spec, DWORD flags, bool size_only, std::vector<uint8_t>* out) = 0;
  virtual DWORD GenRandom(Context& context, std::span<uint8_t> out) = 0;
  virtual DWORD ExportPublicKeyInfo(Context& context, DWORD key_spec, PublicKeyInfo* out) = 0;

 private:
  std::u16string name_;
  DWORD type_;
};

}  // namespace tessaline::crypt
