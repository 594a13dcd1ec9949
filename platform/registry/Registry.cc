#include "platform/registry/Registry.h"

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/base/FileTime.h"
#include "platform/registry/RegistryStore.h"

namespace {

using tessaline::registry::KeyId;
using tessaline::storage::Database;
using tessaline::storage::Scope;
namespace reg = tessaline::registry;

constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | 0x00040000 |
                                0x00080000;  // WRITE_DAC, WRITE_OWNER
// Values larger than this are refused rather than stored.
constexpr DWORD kMaxValueSize = 16u << 20;

struct OpenKey {
  Scope scope;
  KeyId id;
  REGSAM access;
};

// Handles are numbers handed out once and never reused; a handle not in
// the table is stale or forged.
class HandleTable {
 public:
  HKEY Add(const OpenKey& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    next_ += 4;
    keys_[next_] = key;
    return reinterpret_cast<HKEY>(next_);
  }
  bool Find(HKEY handle, OpenKey* out) {
    if (handle == HKEY_CURRENT_USER || handle == HKEY_LOCAL_MACHINE) {
      *out = {handle == HKEY_CURRENT_USER ? Scope::kUser : Scope::kMachine, reg::kHiveRoot, KEY_ALL_ACCESS};
      return true;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = keys_.find(reinterpret_cast<uintptr_t>(handle));
    if (it == keys_.end()) return false;
    *out = it->second;
    return true;
  }
  bool Remove(HKEY handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return keys_.erase(reinterpret_cast<uintptr_t>(handle)) == 1;
  }

 private:
  std::mutex mutex_;
  uintptr_t next_ = 0x4000;
  std::unordered_map<uintptr_t, OpenKey> keys_;
};

HandleTable& Handles() {
  static HandleTable table;
  return table;
}

std::u16string_view View(LPCWSTR text) { return text == nullptr ? std::u16string_view() : std::u16string_view(text); }

// Resolves HKEY to its open key and database. ERROR_FILE_NOT_FOUND from
// Connect means a read-only scope without a registry: *db is then null and
// only the hive root exists.
LSTATUS Resolve(HKEY hKey, OpenKey* key, Database** db) {
  if (!Handles().Find(hKey, key)) return ERROR_INVALID_HANDLE;
  *db = nullptr;
  const DWORD error = reg::Connect(key->scope, db);
  if (error == ERROR_FILE_NOT_FOUND) return key->id == reg::kHiveRoot ? ERROR_SUCCESS : ERROR_KEY_DELETED;
  if (error != ERROR_SUCCESS) return static_cast<LSTATUS>(error);
  return static_cast<LSTATUS>(reg::KeyExists(**db, key->id));
}

// Resolve, then the path of LPSUBKEY below that key split into its names.
LSTATUS ResolvePath(HKEY hKey, LPCWSTR lpSubKey, OpenKey* key, Database** db,
                    std::vector<std::u16string_view>* path) {
  const LSTATUS status = Resolve(hKey, key, db);
  if (status != ERROR_SUCCESS) return status;
  return static_cast<LSTATUS>(reg::SplitPath(View(lpSubKey), path));
}

bool Writable(const OpenKey& key, Database* db) { return db != nullptr && db->writable() && key.access != 0; }

}  // namespace

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  (void)ulOptions;
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  OpenKey key;
  Database* db;
  std::vector<std::u16string_view> path;
  LSTATUS status = ResolvePath(hKey, lpSubKey, &key, &db, &path);
  if (status != ERROR_SUCCESS) return status;
  KeyId id = key.id;
  if (!path.empty()) {
    if (db == nullptr) return ERROR_FILE_NOT_FOUND;
    status = static_cast<LSTATUS>(reg::FindPath(*db, key.id, path, &id));
    if (status != ERROR_SUCCESS) return status;
  }
  if ((samDesired & kWriteAccess) != 0 && (db == nullptr || !db->writable())) return ERROR_ACCESS_DENIED;
  *phkResult = Handles().Add({key.scope, id, samDesired});
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                        DWORD* lpdwDisposition) {
  (void)Reserved;
  (void)lpClass;
  (void)dwOptions;
  (void)lpSecurityAttributes;
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  OpenKey key;
  Database* db;
  std::vector<std::u16string_view> path;
  LSTATUS status = ResolvePath(hKey, lpSubKey, &key, &db, &path);
  if (status != ERROR_SUCCESS) return status;

  KeyId id = key.id;
  bool created = false;
  DWORD error = db == nullptr ? ERROR_FILE_NOT_FOUND : reg::FindPath(*db, key.id, path, &id);
  if (error == ERROR_FILE_NOT_FOUND) {
    if (!Writable(key, db) || (key.access & KEY_CREATE_SUB_KEY) == 0) return ERROR_ACCESS_DENIED;
    error = db->Transaction([&] { return reg::CreatePath(*db, key.id, path, &id, &created); });
  }
  if (error != ERROR_SUCCESS) return static_cast<LSTATUS>(error);
  if ((samDesired & kWriteAccess) != 0 && !db->writable()) return ERROR_ACCESS_DENIED;
  *phkResult = Handles().Add({key.scope, id, samDesired});
  if (lpdwDisposition != nullptr) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                       DWORD cbData) {
  (void)Reserved;
  if (lpData == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
  if (cbData > kMaxValueSize || View(lpValueName).size() > kMaxRegistryValueName) return ERROR_INVALID_PARAMETER;
  OpenKey key;
  Database* db;
  const LSTATUS status = Resolve(hKey, &key, &db);
  if (status != ERROR_SUCCESS) return status;
  if (!Writable(key, db) || (key.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  const std::span<const uint8_t> data(lpData, cbData);
  return static_cast<LSTATUS>(db->Transaction([&]() -> DWORD {
    // The key may have been deleted by another process since it was opened.
    const DWORD error = reg::KeyExists(*db, key.id);
    return error != ERROR_SUCCESS ? error : reg::SetValue(*db, key.id, View(lpValueName), dwType, data);
  }));
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD* lpReserved, DWORD* lpType, BYTE* lpData,
                         DWORD* lpcbData) {
  if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) return ERROR_INVALID_PARAMETER;
  OpenKey key;
  Database* db;
  LSTATUS status = Resolve(hKey, &key, &db);
  if (status != ERROR_SUCCESS) return status;
  if (db == nullptr) return ERROR_FILE_NOT_FOUND;
  DWORD type;
  std::vector<uint8_t> data;
  status = static_cast<LSTATUS>(reg::GetValue(*db, key.id, View(lpValueName), &type, &data));
  if (status != ERROR_SUCCESS) return status;
  if (lpType != nullptr) *lpType = type;
  if (lpcbData == nullptr) return ERROR_SUCCESS;
  const auto size = static_cast<DWORD>(data.size());
  if (lpData != nullptr) {
    if (*lpcbData < size) {
      *lpcbData = size;
      return ERROR_MORE_DATA;
    }
    if (size != 0) std::memcpy(lpData, data.data(), size);
  }
  *lpcbData = size;
  return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD* lpcchName, DWORD* lpReserved, LPWSTR lpClass,
                      DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
  if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr) return ERROR_INVALID_PARAMETER;
  OpenKey key;
  Database* db;
  LSTATUS status = Resolve(hKey, &key, &db);
  if (status != ERROR_SUCCESS) return status;
  if (db == nullptr) return ERROR_NO_MORE_ITEMS;
  std::vector<reg::SubkeyName> names;
  status = static_cast<LSTATUS>(reg::ListSubkeys(*db, key.id, &names));
  if (status != ERROR_SUCCESS) return status;
  if (dwIndex >= names.size()) return ERROR_NO_MORE_ITEMS;
  const std::u16string& name = names[dwIndex].name;
  if (*lpcchName <= name.size()) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.data(), name.size() * sizeof(char16_t));
  lpName[name.size()] = u'\0';
  *lpcchName = static_cast<DWORD>(name.size());
  if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) {
    lpClass[0] = u'\0';
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = tessaline::FileTimeFromTicks(names[dwIndex].written);
  return ERROR_SUCCESS;
}

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  // An empty name would mean the key itself; refuse it rather than delete
  // what the caller holds open.
  if (lpSubKey == nullptr || *lpSubKey == u'\0') return ERROR_INVALID_PARAMETER;
  OpenKey key;
  Database* db;
  std::vector<std::u16string_view> path;
  LSTATUS status = ResolvePath(hKey, lpSubKey, &key, &db, &path);
  if (status != ERROR_SUCCESS) return status;
  if (path.empty()) return ERROR_INVALID_PARAMETER;
  if (db == nullptr) return ERROR_FILE_NOT_FOUND;
  KeyId parent;
  status = static_cast<LSTATUS>(reg::FindPath(*db, key.id, std::span(path).first(path.size() - 1), &parent));
  if (status != ERROR_SUCCESS) return status;
  KeyId target;
  status = static_cast<LSTATUS>(reg::FindSubkey(*db, parent, path.back(), &target));
  if (status != ERROR_SUCCESS) return status;
  if (!db->writable()) return ERROR_ACCESS_DENIED;
  return static_cast<LSTATUS>(db->Transaction([&] { return reg::DeleteSubkey(*db, parent, path.back()); }));
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  OpenKey key;
  Database* db;
  const LSTATUS status = Resolve(hKey, &key, &db);
  if (status != ERROR_SUCCESS) return status;
  if (db == nullptr) return ERROR_FILE_NOT_FOUND;
  if (!Writable(key, db) || (key.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  return static_cast<LSTATUS>(db->Transaction([&] { return reg::DeleteValue(*db, key.id, View(lpValueName)); }));
}

LSTATUS RegCloseKey(HKEY hKey) {
  if (hKey == HKEY_CURRENT_USER || hKey == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  return Handles().Remove(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
