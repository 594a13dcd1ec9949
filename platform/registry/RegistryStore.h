// The registry's tables inside a scope database, for the registry functions
// and for the certificate stores that keep their certificates in the
// registry. Key and value names are UTF-16 text kept exactly as given; the
// lookups compare case-folded copies. Key ids are never reused, so a handle to
// a deleted key cannot reach a later key.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Types.h"
#include "platform/storage/Database.h"

namespace tessaline::registry {

using KeyId = int64_t;
inline constexpr KeyId kHiveRoot = 0;

// The database of SCOPE with the registry tables in place. ERROR_SUCCESS with
// *DB set; ERROR_FILE_NOT_FOUND when the scope is read-only for this user and
// holds no registry (so every key is missing); another error when the scope
// cannot be opened.
DWORD Connect(storage::Scope scope, storage::Database** db);

// The case-folded form used for comparing names.
std::u16string FoldName(std::u16string_view name);

// Splits a subkey path at backslashes. An empty path has no components.
// ERROR_BAD_PATHNAME for an empty component, ERROR_INVALID_PARAMETER for a
// component longer than the platform allows.
DWORD SplitPath(std::u16string_view path, std::vector<std::u16string_view>* components);

DWORD KeyExists(storage::Database& db, KeyId key);
DWORD FindSubkey(storage::Database& db, KeyId parent, std::u16string_view name, KeyId* out);
DWORD FindPath(storage::Database& db, KeyId base, std::span<const std::u16string_view> path, KeyId* out);
// Inside a transaction: opens or creates every component. *created tells
// whether the last one was made now.
DWORD CreatePath(storage::Database& db, KeyId base, std::span<const std::u16string_view> path, KeyId* out,
                 bool* created);
// Deletes PARENT's subkey NAME and its values; ERROR_ACCESS_DENIED while it
// has subkeys.
DWORD DeleteSubkey(storage::Database& db, KeyId parent, std::u16string_view name);

struct SubkeyName {
  std::u16string name;
  uint64_t written;  // FILETIME ticks of the last change
};
// The subkeys in the order of their folded names.
DWORD ListSubkeys(storage::Database& db, KeyId key, std::vector<SubkeyName>* out);

DWORD GetValue(storage::Database& db, KeyId key, std::u16string_view name, DWORD* type, std::vector<uint8_t>* data);
DWORD SetValue(storage::Database& db, KeyId key, std::u16string_view name, DWORD type,
               std::span<const uint8_t> data);
DWORD DeleteValue(storage::Database& db, KeyId key, std::u16string_view name);

// Every subkey of KEY that has a value VALUE_NAME, with that value's data, in
// the order of the folded subkey names. One query, for the certificate stores.
struct SubkeyValue {
  std::u16string subkey;
  std::vector<uint8_t> data;
};
DWORD ListSubkeyValues(storage::Database& db, KeyId key, std::u16string_view value_name,
                       std::vector<SubkeyValue>* out);

}  // namespace tessaline::registry
