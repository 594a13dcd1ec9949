// System stores in the registry: <hive>\Software\Microsoft\SystemCertificates
// \<STORE>\Certificates\<SHA-1 in upper-case hex>, value "Blob".
#include "platform/cert/CertObjects.h"
#include "platform/registry/Registry.h"
#include "platform/registry/RegistryStore.h"

namespace tessaline::cert {
namespace {

namespace reg = tessaline::registry;

constexpr std::u16string_view kBlob = u"Blob";

std::vector<std::u16string_view> CertificatesPath(const std::u16string& store) {
  return {u"Software", u"Microsoft", u"SystemCertificates", store, u"Certificates"};
}

}  // namespace

DWORD SystemStoreExists(storage::Scope scope, std::u16string_view name, bool* exists) {
  storage::Database* db;
  *exists = false;
  DWORD error = reg::Connect(scope, &db);
  if (error == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) return error;
  const std::vector<std::u16string_view> path = {u"Software", u"Microsoft", u"SystemCertificates", name};
  reg::KeyId key;
  error = reg::FindPath(*db, reg::kHiveRoot, path, &key);
  *exists = error == ERROR_SUCCESS;
  return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

DWORD LoadSystemStore(const StoreImpl& store, std::vector<CertContextImpl*>* certs) {
  storage::Database* db;
  DWORD error = reg::Connect(store.scope, &db);
  if (error == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;  // nothing was ever written here
  if (error != ERROR_SUCCESS) return error;
  reg::KeyId key;
  error = reg::FindPath(*db, reg::kHiveRoot, CertificatesPath(store.name), &key);
  if (error == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) return error;
  std::vector<reg::SubkeyValue> entries;
  error = reg::ListSubkeyValues(*db, key, kBlob, &entries);
  if (error != ERROR_SUCCESS) return error;
  certs->reserve(entries.size());
  for (reg::SubkeyValue& entry : entries) {
    PropertyMap properties;
    std::vector<uint8_t> der;
    if (!ParseProperties(entry.data, &properties, &der)) continue;
    DWORD parse_error;
    CertContextImpl* cert = NewContext(der, &parse_error);
    if (cert == nullptr) continue;
    cert->properties = std::move(properties);
    cert->registry_name = std::move(entry.subkey);
    certs->push_back(cert);
  }
  return ERROR_SUCCESS;
}

DWORD PersistCertificate(const StoreImpl& store, const CertContextImpl& cert, const std::u16string& old_name,
                         bool only_if_absent) {
  storage::Database* db;
  DWORD error = reg::Connect(store.scope, &db);
  if (error == ERROR_FILE_NOT_FOUND) return ERROR_ACCESS_DENIED;  // read-only scope
  if (error != ERROR_SUCCESS) return error;
  if (!db->writable()) return ERROR_ACCESS_DENIED;
  const std::u16string name = ThumbprintName(cert.sha1);
  const std::vector<uint8_t> blob = SerializeProperties(cert.properties, cert.encoded);
  return db->Transaction([&]() -> DWORD {
    reg::KeyId certificates;
    DWORD e = reg::CreatePath(*db, reg::kHiveRoot, CertificatesPath(store.name), &certificates, nullptr);
    if (e != ERROR_SUCCESS) return e;
    if (!old_name.empty() && reg::FoldName(old_name) != reg::FoldName(name)) {
      e = reg::DeleteSubkey(*db, certificates, old_name);
      if (e != ERROR_SUCCESS && e != ERROR_FILE_NOT_FOUND) return e;
    }
    reg::KeyId entry;
    if (only_if_absent && reg::FindSubkey(*db, certificates, name, &entry) == ERROR_SUCCESS) {
      DWORD type;
      std::vector<uint8_t> present;
      if (reg::GetValue(*db, entry, kBlob, &type, &present) == ERROR_SUCCESS) {
        return static_cast<DWORD>(CRYPT_E_EXISTS);
      }
    }
    const std::u16string_view leaf[] = {name};
    e = reg::CreatePath(*db, certificates, leaf, &entry, nullptr);
    if (e != ERROR_SUCCESS) return e;
    return reg::SetValue(*db, entry, kBlob, REG_BINARY, blob);
  });
}

DWORD ReadCertificateEntry(const StoreImpl& store, const std::u16string& name, CertContextImpl** out) {
  storage::Database* db;
  DWORD error = reg::Connect(store.scope, &db);
  if (error != ERROR_SUCCESS) return error;
  reg::KeyId key;
  error = reg::FindPath(*db, reg::kHiveRoot, CertificatesPath(store.name), &key);
  if (error == ERROR_SUCCESS) error = reg::FindSubkey(*db, key, name, &key);
  DWORD type;
  std::vector<uint8_t> blob;
  if (error == ERROR_SUCCESS) error = reg::GetValue(*db, key, kBlob, &type, &blob);
  if (error != ERROR_SUCCESS) return error;
  PropertyMap properties;
  std::vector<uint8_t> der;
  if (!ParseProperties(blob, &properties, &der)) return ERROR_INVALID_DATA;
  CertContextImpl* cert = NewContext(der, &error);
  if (cert == nullptr) return error;
  cert->properties = std::move(properties);
  cert->registry_name = name;
  *out = cert;
  return ERROR_SUCCESS;
}

DWORD RemoveCertificate(const StoreImpl& store, const std::u16string& registry_name) {
  storage::Database* db;
  DWORD error = reg::Connect(store.scope, &db);
  if (error == ERROR_FILE_NOT_FOUND) return ERROR_ACCESS_DENIED;
  if (error != ERROR_SUCCESS) return error;
  if (!db->writable()) return ERROR_ACCESS_DENIED;
  return db->Transaction([&]() -> DWORD {
    reg::KeyId certificates;
    DWORD e = reg::FindPath(*db, reg::kHiveRoot, CertificatesPath(store.name), &certificates);
    if (e == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;  // already gone
    if (e != ERROR_SUCCESS) return e;
    e = reg::DeleteSubkey(*db, certificates, registry_name);
    return e == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : e;
  });
}

}  // namespace tessaline::cert
