#include "platform/registry/RegistryStore.h"

#include <array>

#include "platform/base/Errors.h"
#include "platform/base/FileTime.h"
#include "platform/registry/Registry.h"

namespace tessaline::registry {
namespace {

using storage::Database;
using storage::ErrorFromSqlite;
using storage::Statement;

// Names are kept as UTF-16 code units, big-endian, so that the byte order of
// the folded names is the order of their code units.
const char* const kCreateTables =
    "CREATE TABLE registry_keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  folded BLOB NOT NULL,"
    "  written INTEGER NOT NULL,"
    "  UNIQUE(parent, folded));"
    "CREATE TABLE registry_values("
    "  key INTEGER NOT NULL REFERENCES registry_keys(id) ON DELETE CASCADE,"
    "  name BLOB NOT NULL,"
    "  folded BLOB NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY(key, folded)) WITHOUT ROWID;";

// The simple upper-case mapping of the Latin-1, Greek and Cyrillic letters,
// which is what names in practice use; every other code unit is its own fold.
std::u16string FoldOf(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F)) {
      c = static_cast<char16_t>(c - 0x20);
    } else if (c >= 0x450 && c <= 0x45F) {
      c = static_cast<char16_t>(c - 0x50);
    } else if (c == 0xFF) {
      c = 0x178;
    }
  }
  return folded;
}


// Keys every installation of the platform has, so that callers may open
// them without creating them first (trust-anchor provisioning opens the
// machine's ROOT certificates key and requires it to exist).
const std::u16string_view kStandardKeys[][5] = {
    {u"Software", u"Microsoft", u"SystemCertificates", u"MY", u"Certificates"},
    {u"Software", u"Microsoft", u"SystemCertificates", u"CA", u"Certificates"},
    {u"Software", u"Microsoft", u"SystemCertificates", u"ROOT", u"Certificates"},
};

std::string HexBlob(std::u16string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string literal = "X'";
  for (char16_t c : text) {
    for (int shift : {12, 8, 4, 0}) literal += kHex[(c >> shift) & 15];
  }
  return literal + "'";
}

// The SQL that creates the standard keys (as registry_keys rows), each
// parent found by its own parent and folded name.
std::string StandardKeysSql() {
  std::string sql;
  const std::string now = "((CAST(strftime('%s', 'now') AS INTEGER) + 11644473600) * 10000000)";
  for (const auto& path : kStandardKeys) {
    std::string parent = "0";
    for (std::u16string_view name : path) {
      const std::string folded = HexBlob(FoldOf(name));
      sql += "INSERT OR IGNORE INTO registry_keys(parent, name, folded, written) VALUES (" + parent + ", " +
             HexBlob(name) + ", " + folded + ", " + now + ");\n";
      parent = "(SELECT id FROM registry_keys WHERE parent = " + parent + " AND folded = " + folded + ")";
    }
  }
  return sql;
}

std::span<const char* const> Migrations() {
  static const std::string standard_keys = StandardKeysSql();
  static const std::array<const char*, 2> migrations = {kCreateTables, standard_keys.c_str()};
  return migrations;
}

std::vector<uint8_t> Encode(std::u16string_view text) {
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c >> 8));
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
  }
  return bytes;
}

std::u16string Decode(const std::vector<uint8_t>& bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1]));
  }
  return text;
}

uint64_t Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return FileTimeTicks(now);
}

DWORD StepDone(Statement& statement) {
  const int rc = statement.Step();
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? ERROR_SUCCESS : ErrorFromSqlite(rc);
}

DWORD Touch(Database& db, KeyId key) {
  if (key == kHiveRoot) return ERROR_SUCCESS;
  Statement touch(db, "UPDATE registry_keys SET written = ?2 WHERE id = ?1");
  touch.Bind(1, key).Bind(2, static_cast<int64_t>(Now()));
  return StepDone(touch);
}

}  // namespace

DWORD Connect(storage::Scope scope, Database** db) {
  Database* database = Database::Get(scope);
  if (database == nullptr) return GetLastError();
  const DWORD error = database->EnsureSchema("registry", Migrations());
  if (error != ERROR_SUCCESS) return error;
  *db = database;
  return ERROR_SUCCESS;
}

std::u16string FoldName(std::u16string_view name) { return FoldOf(name); }

DWORD SplitPath(std::u16string_view path, std::vector<std::u16string_view>* components) {
  components->clear();
  // One trailing separator is tolerated, as the platform does.
  if (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
  if (path.empty()) return ERROR_SUCCESS;
  size_t start = 0;
  while (true) {
    const size_t end = path.find(u'\\', start);
    const std::u16string_view part = path.substr(start, end == std::u16string_view::npos ? end : end - start);
    if (part.empty()) return ERROR_BAD_PATHNAME;
    if (part.size() > kMaxRegistryKeyName) return ERROR_INVALID_PARAMETER;
    components->push_back(part);
    if (end == std::u16string_view::npos) return ERROR_SUCCESS;
    start = end + 1;
  }
}

DWORD KeyExists(Database& db, KeyId key) {
  if (key == kHiveRoot) return ERROR_SUCCESS;
  Statement query(db, "SELECT 1 FROM registry_keys WHERE id = ?1");
  query.Bind(1, key);
  const int rc = query.Step();
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  return rc == SQLITE_DONE ? ERROR_KEY_DELETED : ErrorFromSqlite(rc);
}

DWORD FindSubkey(Database& db, KeyId parent, std::u16string_view name, KeyId* out) {
  Statement query(db, "SELECT id FROM registry_keys WHERE parent = ?1 AND folded = ?2");
  query.Bind(1, parent).BindBlob(2, Encode(FoldName(name)));
  const int rc = query.Step();
  if (rc == SQLITE_ROW) {
    *out = query.Int(0);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : ErrorFromSqlite(rc);
}

DWORD FindPath(Database& db, KeyId base, std::span<const std::u16string_view> path, KeyId* out) {
  KeyId key = base;
  for (std::u16string_view name : path) {
    const DWORD error = FindSubkey(db, key, name, &key);
    if (error != ERROR_SUCCESS) return error;
  }
  *out = key;
  return ERROR_SUCCESS;
}

DWORD CreatePath(Database& db, KeyId base, std::span<const std::u16string_view> path, KeyId* out, bool* created) {
  KeyId key = base;
  bool made = false;
  for (std::u16string_view name : path) {
    KeyId child;
    DWORD error = FindSubkey(db, key, name, &child);
    if (error == ERROR_FILE_NOT_FOUND) {
      Statement insert(db, "INSERT INTO registry_keys(parent, name, folded, written) VALUES (?1, ?2, ?3, ?4)");
      insert.Bind(1, key).BindBlob(2, Encode(name)).BindBlob(3, Encode(FoldName(name)));
      insert.Bind(4, static_cast<int64_t>(Now()));
      error = StepDone(insert);
      if (error != ERROR_SUCCESS) return error;
      child = sqlite3_last_insert_rowid(db.handle());
      made = true;
    } else if (error != ERROR_SUCCESS) {
      return error;
    } else {
      made = false;
    }
    key = child;
  }
  *out = key;
  if (created != nullptr) *created = made;
  return ERROR_SUCCESS;
}

DWORD DeleteSubkey(Database& db, KeyId parent, std::u16string_view name) {
  KeyId key;
  DWORD error = FindSubkey(db, parent, name, &key);
  if (error != ERROR_SUCCESS) return error;
  Statement children(db, "SELECT 1 FROM registry_keys WHERE parent = ?1 LIMIT 1");
  children.Bind(1, key);
  const int rc = children.Step();
  if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
  if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
  Statement remove(db, "DELETE FROM registry_keys WHERE id = ?1");
  remove.Bind(1, key);
  error = StepDone(remove);
  return error != ERROR_SUCCESS ? error : Touch(db, parent);
}

DWORD ListSubkeys(Database& db, KeyId key, std::vector<SubkeyName>* out) {
  out->clear();
  Statement query(db, "SELECT name, written FROM registry_keys WHERE parent = ?1 ORDER BY folded");
  query.Bind(1, key);
  int rc;
  while ((rc = query.Step()) == SQLITE_ROW) {
    out->push_back({Decode(query.Blob(0)), static_cast<uint64_t>(query.Int(1))});
  }
  return rc == SQLITE_DONE ? ERROR_SUCCESS : ErrorFromSqlite(rc);
}

DWORD GetValue(Database& db, KeyId key, std::u16string_view name, DWORD* type, std::vector<uint8_t>* data) {
  Statement query(db, "SELECT type, data FROM registry_values WHERE key = ?1 AND folded = ?2");
  query.Bind(1, key).BindBlob(2, Encode(FoldName(name)));
  const int rc = query.Step();
  if (rc == SQLITE_ROW) {
    *type = static_cast<DWORD>(query.Int(0));
    *data = query.Blob(1);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : ErrorFromSqlite(rc);
}

DWORD SetValue(Database& db, KeyId key, std::u16string_view name, DWORD type, std::span<const uint8_t> data) {
  if (key == kHiveRoot) return ERROR_ACCESS_DENIED;  // the hive roots hold keys only
  Statement upsert(db,
                   "INSERT INTO registry_values(key, name, folded, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
                   "ON CONFLICT(key, folded) DO UPDATE SET name = excluded.name, type = excluded.type, "
                   "data = excluded.data");
  upsert.Bind(1, key).BindBlob(2, Encode(name)).BindBlob(3, Encode(FoldName(name)));
  upsert.Bind(4, static_cast<int64_t>(type)).BindBlob(5, data);
  const DWORD error = StepDone(upsert);
  return error != ERROR_SUCCESS ? error : Touch(db, key);
}

DWORD DeleteValue(Database& db, KeyId key, std::u16string_view name) {
  Statement remove(db, "DELETE FROM registry_values WHERE key = ?1 AND folded = ?2");
  remove.Bind(1, key).BindBlob(2, Encode(FoldName(name)));
  const DWORD error = StepDone(remove);
  if (error != ERROR_SUCCESS) return error;
  if (sqlite3_changes(db.handle()) == 0) return ERROR_FILE_NOT_FOUND;
  return Touch(db, key);
}

DWORD ListSubkeyValues(Database& db, KeyId key, std::u16string_view value_name, std::vector<SubkeyValue>* out) {
  out->clear();
  Statement query(db,
                  "SELECT k.name, v.data FROM registry_keys k JOIN registry_values v ON v.key = k.id "
                  "WHERE k.parent = ?1 AND v.folded = ?2 ORDER BY k.folded");
  query.Bind(1, key).BindBlob(2, Encode(FoldName(value_name)));
  int rc;
  while ((rc = query.Step()) == SQLITE_ROW) out->push_back({Decode(query.Blob(0)), query.Blob(1)});
  return rc == SQLITE_DONE ? ERROR_SUCCESS : ErrorFromSqlite(rc);
}

}  // namespace tessaline::registry
