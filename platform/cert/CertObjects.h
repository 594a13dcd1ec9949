// What stands behind a PCCERT_CONTEXT and an HCERTSTORE.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/cert/Cert.h"
#include "platform/cert/CertificateParser.h"
#include "platform/cert/PropertyRecords.h"
#include "platform/storage/Database.h"

namespace tessaline::cert {

using Thumbprint = std::array<uint8_t, 20>;

struct StoreImpl;

struct CertContextImpl {
  CERT_CONTEXT context{};  // a PCCERT_CONTEXT is the address of this
  std::atomic<int> references{1};
  std::vector<uint8_t> encoded;
  ParsedCertificate parsed;
  Thumbprint sha1{};
  PropertyMap properties;  // serialized forms, as a system store keeps them
  std::shared_ptr<StoreImpl> store;  // null for a context of no store
  size_t slot = 0;                   // position in the store
  std::u16string registry_name;      // system stores: the subkey holding it
};

struct StoreImpl {
  enum class Kind { kMemory, kSystem };
  Kind kind = Kind::kMemory;
  bool read_only = false;
  bool closed = false;
  HCERTSTORE handle = nullptr;
  // The store's own references; a deleted certificate leaves a null slot so
  // that running enumerations continue after it.
  std::vector<CertContextImpl*> slots;
  std::unordered_map<std::string, size_t> by_thumbprint;
  std::unordered_map<std::u16string, size_t> by_registry_name;  // folded names
  // System stores.
  storage::Scope scope = storage::Scope::kUser;
  std::u16string name;
  HCRYPTPROV provider = 0;  // released at close unless told not to
};

// One lock for every store and context of the process.
std::recursive_mutex& CertLock();

// A new context of no store for DER, or null with *ERROR set.
CertContextImpl* NewContext(std::span<const uint8_t> der, DWORD* error);
// The context behind a PCCERT_CONTEXT, or null when it is not live.
CertContextImpl* LiveContext(PCCERT_CONTEXT context);
void AddReference(CertContextImpl* context);
void ReleaseReference(CertContextImpl* context);

std::string ThumbprintKey(const Thumbprint& sha1);
std::u16string ThumbprintName(const Thumbprint& sha1);  // upper-case hex

// Store handles.
std::shared_ptr<StoreImpl> FindStore(HCERTSTORE handle);

// Adds CERT (already parsed, no store; ownership passes) to STORE with
// DISPOSITION; returns the error and, in *ADDED, a new reference to the
// store's context when asked.
DWORD AddToStore(const std::shared_ptr<StoreImpl>& store, CertContextImpl* cert, DWORD disposition,
                 CertContextImpl** added);

// System stores (SystemStore.cc).
// The certificates the registry holds for STORE, each a new context of no
// store with its registry name set; entries that do not decode are skipped.
DWORD LoadSystemStore(const StoreImpl& store, std::vector<CertContextImpl*>* certs);
DWORD SystemStoreExists(storage::Scope scope, std::u16string_view name, bool* exists);
// Writes CERT's blob under its thumbprint, removing OLD_NAME when it differs.
// With ONLY_IF_ABSENT, an entry already there (written by another process
// since the store was read) is left alone and CRYPT_E_EXISTS returned.
DWORD PersistCertificate(const StoreImpl& store, const CertContextImpl& cert, const std::u16string& old_name,
                         bool only_if_absent = false);
// The entry NAME of STORE as a new context of no store.
DWORD ReadCertificateEntry(const StoreImpl& store, const std::u16string& name, CertContextImpl** out);
DWORD RemoveCertificate(const StoreImpl& store, const std::u16string& registry_name);

// The certificates of a certs-only PKCS#7 SignedData (Pkcs7.cc).
DWORD ReadPkcs7Certificates(std::span<const uint8_t> der, std::vector<std::span<const uint8_t>>* certificates);

}  // namespace tessaline::cert
