#include <unordered_map>

#include "platform/base/Utf.h"
#include "platform/cert/CertObjects.h"
#include "platform/registry/RegistryStore.h"
#if __has_include("platform/crypt/Crypt.h")
#include "platform/crypt/Crypt.h"
#define TESSALINE_HAVE_PROVIDERS 1
#endif

namespace tessaline::cert {
namespace {

// Handles are numbers handed out once; one not in the table is stale or
// forged.
struct StoreTable {
  uintptr_t next = 0x7000;
  std::unordered_map<uintptr_t, std::shared_ptr<StoreImpl>> stores;
};

StoreTable& Stores() {
  static StoreTable table;
  return table;
}

void ClearSlot(StoreImpl& store, size_t slot) {
  CertContextImpl* held = store.slots[slot];
  if (held == nullptr) return;
  const auto by_sha1 = store.by_thumbprint.find(ThumbprintKey(held->sha1));
  if (by_sha1 != store.by_thumbprint.end() && by_sha1->second == slot) store.by_thumbprint.erase(by_sha1);
  if (!held->registry_name.empty()) {
    const auto by_name = store.by_registry_name.find(registry::FoldName(held->registry_name));
    if (by_name != store.by_registry_name.end() && by_name->second == slot) store.by_registry_name.erase(by_name);
  }
  store.slots[slot] = nullptr;
  ReleaseReference(held);
}

// Puts CERT (owned) into a new slot.
CertContextImpl* Place(StoreImpl& store, CertContextImpl* cert, const std::shared_ptr<StoreImpl>& self) {
  cert->store = self;
  cert->context.hCertStore = store.handle;
  cert->slot = store.slots.size();
  store.slots.push_back(cert);
  store.by_thumbprint[ThumbprintKey(cert->sha1)] = cert->slot;
  if (!cert->registry_name.empty()) {
    // A certificate read from an entry named for another one gives way to
    // the certificate now written under that name.
    const std::u16string folded = registry::FoldName(cert->registry_name);
    const auto other = store.by_registry_name.find(folded);
    if (other != store.by_registry_name.end() && other->second != cert->slot) ClearSlot(store, other->second);
    store.by_registry_name[folded] = cert->slot;
  }
  return cert;
}

}  // namespace

std::shared_ptr<StoreImpl> FindStore(HCERTSTORE handle) {
  const auto it = Stores().stores.find(reinterpret_cast<uintptr_t>(handle));
  return it == Stores().stores.end() ? nullptr : it->second;
}

DWORD AddToStore(const std::shared_ptr<StoreImpl>& self, CertContextImpl* cert, DWORD disposition,
                 CertContextImpl** added) {
  StoreImpl& store = *self;
  std::unique_ptr<CertContextImpl, void (*)(CertContextImpl*)> owned(cert, ReleaseReference);
  if (disposition < CERT_STORE_ADD_NEW || disposition > CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES) {
    return static_cast<DWORD>(E_INVALIDARG);
  }
  if (store.read_only) return ERROR_ACCESS_DENIED;

  const auto found = store.by_thumbprint.find(ThumbprintKey(cert->sha1));
  CertContextImpl* existing = found == store.by_thumbprint.end() ? nullptr : store.slots[found->second];
  const bool system = store.kind == StoreImpl::Kind::kSystem;

  if (existing != nullptr) {
    switch (disposition) {
      case CERT_STORE_ADD_NEW:
        return static_cast<DWORD>(CRYPT_E_EXISTS);
      case CERT_STORE_ADD_USE_EXISTING: {
        // Properties the existing copy lacks are taken over.
        bool changed = false;
        PropertyMap merged = existing->properties;
        for (const auto& [id, data] : cert->properties) changed |= merged.emplace(id, data).second;
        if (changed) {
          if (system) {
            PropertyMap previous = std::move(existing->properties);
            existing->properties = std::move(merged);
            const DWORD error = PersistCertificate(store, *existing, existing->registry_name);
            if (error != ERROR_SUCCESS) {
              existing->properties = std::move(previous);
              return error;
            }
            existing->registry_name = ThumbprintName(existing->sha1);
          } else {
            existing->properties = std::move(merged);
          }
        }
        if (added != nullptr) {
          AddReference(existing);
          *added = existing;
        }
        return ERROR_SUCCESS;
      }
      case CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES:
        for (const auto& [id, data] : existing->properties) cert->properties.emplace(id, data);
        break;
      case CERT_STORE_ADD_ALWAYS:
        // A system store holds one entry per thumbprint: the copy replaces.
        if (!system) existing = nullptr;
        break;
      default:
        break;
    }
  }

  if (system) {
    // Another process may have added the certificate since this store was
    // read: NEW and USE_EXISTING then see its entry, not overwrite it.
    const bool keep_present =
        existing == nullptr && (disposition == CERT_STORE_ADD_NEW || disposition == CERT_STORE_ADD_USE_EXISTING);
    const std::u16string old_name = existing != nullptr ? existing->registry_name : std::u16string();
    DWORD error = PersistCertificate(store, *cert, old_name, keep_present);
    if (error == static_cast<DWORD>(CRYPT_E_EXISTS) && disposition == CERT_STORE_ADD_USE_EXISTING) {
      CertContextImpl* present = nullptr;
      if (ReadCertificateEntry(store, ThumbprintName(cert->sha1), &present) == ERROR_SUCCESS) {
        if (present->sha1 == cert->sha1) {
          Place(store, present, self);
          return AddToStore(self, owned.release(), disposition, added);  // now found in the store
        }
        ReleaseReference(present);
      }
      // The entry under that name does not hold this certificate: it is
      // replaced.
      error = PersistCertificate(store, *cert, old_name, false);
    }
    if (error != ERROR_SUCCESS) return error;
    cert->registry_name = ThumbprintName(cert->sha1);
  }
  if (existing != nullptr) ClearSlot(store, existing->slot);
  CertContextImpl* placed = Place(store, owned.release(), self);
  if (added != nullptr) {
    AddReference(placed);
    *added = placed;
  }
  return ERROR_SUCCESS;
}

}  // namespace tessaline::cert

using namespace tessaline::cert;

namespace {

bool IsNumber(LPCSTR provider) { return reinterpret_cast<uintptr_t>(provider) <= 0xFFFF; }

// A store name names one registry key: no backslash, not empty, and no
// longer than a key name may be.
bool ValidStoreName(std::u16string_view name) {
  return !name.empty() && name.size() <= 255 && name.find(u'\\') == std::u16string_view::npos &&
         name.find(u'\0') == std::u16string_view::npos;
}

HCERTSTORE Fail(DWORD error) {
  SetLastError(error);
  return nullptr;
}

HCERTSTORE Register(std::shared_ptr<StoreImpl> store) {
  StoreTable& table = Stores();
  table.next += 8;
  store->handle = reinterpret_cast<HCERTSTORE>(table.next);
  table.stores[table.next] = std::move(store);
  return reinterpret_cast<HCERTSTORE>(table.next);
}

}  // namespace

HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType, HCRYPTPROV_LEGACY hCryptProv,
                         DWORD dwFlags, const void* pvPara) {
  (void)dwEncodingType;
  std::lock_guard<std::recursive_mutex> lock(CertLock());
  if (lpszStoreProvider == nullptr || !IsNumber(lpszStoreProvider)) return Fail(ERROR_FILE_NOT_FOUND);
  auto store = std::make_shared<StoreImpl>();
  store->read_only = (dwFlags & CERT_STORE_READONLY_FLAG) != 0;
  const auto provider = reinterpret_cast<uintptr_t>(lpszStoreProvider);

  if (lpszStoreProvider == CERT_STORE_PROV_MEMORY) {
    store->read_only = false;  // a memory store starts empty; read-only would be useless
    return Register(std::move(store));
  }

  if (lpszStoreProvider == CERT_STORE_PROV_PKCS7) {
    const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(pvPara);
    if (blob == nullptr || blob->pbData == nullptr || blob->cbData == 0) return Fail(static_cast<DWORD>(E_INVALIDARG));
    std::vector<std::span<const uint8_t>> certificates;
    const DWORD error = ReadPkcs7Certificates({blob->pbData, blob->cbData}, &certificates);
    if (error != ERROR_SUCCESS) return Fail(error);
    const bool read_only = store->read_only;
    store->read_only = false;
    HCERTSTORE handle = Register(store);
    for (const auto& der : certificates) {
      DWORD parse_error;
      CertContextImpl* cert = NewContext(der, &parse_error);
      const DWORD add_error =
          cert == nullptr ? parse_error : AddToStore(store, cert, CERT_STORE_ADD_ALWAYS, nullptr);
      if (add_error != ERROR_SUCCESS) {
        (void)CertCloseStore(handle, 0);
        return Fail(add_error);
      }
    }
    store->read_only = read_only;
    return handle;
  }

  if (provider == reinterpret_cast<uintptr_t>(CERT_STORE_PROV_SYSTEM_W) ||
      provider == reinterpret_cast<uintptr_t>(CERT_STORE_PROV_SYSTEM_A)) {
    if (pvPara == nullptr) return Fail(static_cast<DWORD>(E_INVALIDARG));
    if (provider == reinterpret_cast<uintptr_t>(CERT_STORE_PROV_SYSTEM_W)) {
      store->name = static_cast<LPCWSTR>(pvPara);
    } else {
      // An 8-bit name must be UTF-8: anything else would be changed on the
      // way in, and two names could land in one store.
      const std::string narrow = static_cast<LPCSTR>(pvPara);
      store->name = Utf8ToUtf16(narrow);
      if (Utf16ToUtf8(store->name) != narrow) return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!ValidStoreName(store->name)) return Fail(ERROR_INVALID_PARAMETER);
    switch (dwFlags & CERT_SYSTEM_STORE_LOCATION_MASK) {
      case CERT_SYSTEM_STORE_CURRENT_USER:
        store->scope = tessaline::storage::Scope::kUser;
        break;
      case CERT_SYSTEM_STORE_LOCAL_MACHINE:
        store->scope = tessaline::storage::Scope::kMachine;
        break;
      default:
        return Fail(static_cast<DWORD>(E_INVALIDARG));
    }
    store->kind = StoreImpl::Kind::kSystem;
    if ((dwFlags & CERT_STORE_OPEN_EXISTING_FLAG) != 0) {
      bool exists = false;
      const DWORD error = SystemStoreExists(store->scope, store->name, &exists);
      if (error != ERROR_SUCCESS) return Fail(error);
      if (!exists) return Fail(ERROR_FILE_NOT_FOUND);
    }
    std::vector<CertContextImpl*> certs;
    const DWORD error = LoadSystemStore(*store, &certs);
    if (error != ERROR_SUCCESS) return Fail(error);
    if ((dwFlags & CERT_STORE_NO_CRYPT_RELEASE_FLAG) == 0) store->provider = hCryptProv;
    HCERTSTORE handle = Register(store);
    for (CertContextImpl* cert : certs) {
      if (store->by_thumbprint.count(ThumbprintKey(cert->sha1)) != 0) {
        ReleaseReference(cert);  // a second entry for the same certificate
      } else {
        Place(*store, cert, store);
      }
    }
    return handle;
  }
  return Fail(ERROR_FILE_NOT_FOUND);
}

BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags) {
  if (hCertStore == nullptr) return TRUE;
  std::lock_guard<std::recursive_mutex> lock(CertLock());
  const auto it = Stores().stores.find(reinterpret_cast<uintptr_t>(hCertStore));
  if (it == Stores().stores.end()) return FailWith(ERROR_INVALID_HANDLE);
  std::shared_ptr<StoreImpl> store = std::move(it->second);
  Stores().stores.erase(it);
  store->closed = true;
  bool pending = false;
  for (size_t i = 0; i < store->slots.size(); ++i) {
    if (store->slots[i] != nullptr && store->slots[i]->references.load() > 1) pending = true;
    ClearSlot(*store, i);
  }
#ifdef TESSALINE_HAVE_PROVIDERS
  if (store->provider != 0) (void)CryptReleaseContext(store->provider, 0);
#endif
  store->provider = 0;
  if (pending && (dwFlags & CERT_CLOSE_STORE_CHECK_FLAG) != 0) {
    return FailWith(static_cast<DWORD>(CRYPT_E_PENDING_CLOSE));
  }
  return TRUE;
}

PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext) {
  std::lock_guard<std::recursive_mutex> lock(CertLock());
  const std::shared_ptr<StoreImpl> store = FindStore(hCertStore);
  CertContextImpl* previous = LiveContext(pPrevCertContext);
  size_t next = 0;
  if (previous != nullptr) {
    next = previous->slot + 1;
    const bool ours = previous->store == store;
    ReleaseReference(previous);
    if (!ours) {
      SetLastError(static_cast<DWORD>(E_INVALIDARG));
      return nullptr;
    }
  }
  if (store == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  for (; next < store->slots.size(); ++next) {
    CertContextImpl* cert = store->slots[next];
    if (cert != nullptr) {
      AddReference(cert);
      return &cert->context;
    }
  }
  SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
  return nullptr;
}

BOOL CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                      DWORD cbCertEncoded, DWORD dwAddDisposition, PCCERT_CONTEXT* ppCertContext) {
  std::lock_guard<std::recursive_mutex> lock(CertLock());
  const std::shared_ptr<StoreImpl> store = FindStore(hCertStore);
  if (store == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  if ((dwCertEncodingType & X509_ASN_ENCODING) == 0 || pbCertEncoded == nullptr) {
    return FailWith(static_cast<DWORD>(E_INVALIDARG));
  }
  DWORD error;
  CertContextImpl* cert = NewContext({pbCertEncoded, cbCertEncoded}, &error);
  if (cert == nullptr) return FailWith(error);
  CertContextImpl* added = nullptr;
  error = AddToStore(store, cert, dwAddDisposition, ppCertContext != nullptr ? &added : nullptr);
  if (error != ERROR_SUCCESS) return FailWith(error);
  if (ppCertContext != nullptr) *ppCertContext = &added->context;
  return TRUE;
}

BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext, DWORD dwAddDisposition,
                                      PCCERT_CONTEXT* ppStoreContext) {
  std::lock_guard<std::recursive_mutex> lock(CertLock());
  const std::shared_ptr<StoreImpl> store = FindStore(hCertStore);
  if (store == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  CertContextImpl* source = LiveContext(pCertContext);
  if (source == nullptr) return FailWith(static_cast<DWORD>(E_INVALIDARG));
  DWORD error;
  CertContextImpl* cert = NewContext(source->encoded, &error);
  if (cert == nullptr) return FailWith(error);
  cert->properties = source->properties;
  CertContextImpl* added = nullptr;
  error = AddToStore(store, cert, dwAddDisposition, ppStoreContext != nullptr ? &added : nullptr);
  if (error != ERROR_SUCCESS) return FailWith(error);
  if (ppStoreContext != nullptr) *ppStoreContext = &added->context;
  return TRUE;
}

BOOL CertDeleteCertificateFromStore(PCCERT_CONTEXT pCertContext) {
  std::lock_guard<std::recursive_mutex> lock(CertLock());
  CertContextImpl* cert = LiveContext(pCertContext);
  if (cert == nullptr) return FailWith(static_cast<DWORD>(E_INVALIDARG));
  // The caller's reference is consumed whatever happens.
  std::unique_ptr<CertContextImpl, void (*)(CertContextImpl*)> reference(cert, ReleaseReference);
  const std::shared_ptr<StoreImpl> store = cert->store;
  if (store == nullptr) return FailWith(static_cast<DWORD>(E_INVALIDARG));
  if (store->read_only) return FailWith(ERROR_ACCESS_DENIED);
  const bool present = !store->closed && cert->slot < store->slots.size() && store->slots[cert->slot] == cert;
  if (store->kind == StoreImpl::Kind::kSystem && (present || store->closed) && !cert->registry_name.empty()) {
    const DWORD error = RemoveCertificate(*store, cert->registry_name);
    if (error != ERROR_SUCCESS) return FailWith(error);
  }
  if (present) ClearSlot(*store, cert->slot);
  return TRUE;
}
