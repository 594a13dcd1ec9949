#include "platform/crypt/ContainerStore.h"

#include <mutex>

#include "platform/base/Errors.h"
#include "platform/base/Result.h"
#include "platform/storage/Database.h"

namespace tessaline::crypt {
namespace {

using storage::Database;
using storage::ErrorFromSqlite;
using storage::Scope;
using storage::Statement;

// Each entry takes the tables one version further.
constexpr const char* kMigrations[] = {
    "CREATE TABLE IF NOT EXISTS crypt_containers ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  provider TEXT NOT NULL,"
    "  name TEXT NOT NULL,"
    "  UNIQUE (provider, name));"
    "CREATE TABLE IF NOT EXISTS crypt_keys ("
    "  container INTEGER NOT NULL REFERENCES crypt_containers(id) ON DELETE CASCADE,"
    "  key_spec INTEGER NOT NULL,"
    "  algorithm INTEGER NOT NULL,"
    "  bits INTEGER NOT NULL,"
    "  exportable INTEGER NOT NULL,"
    "  private_key BLOB NOT NULL,"
    "  certificate BLOB,"
    "  PRIMARY KEY (container, key_spec));",
};

DWORD Bits(HRESULT hr) { return ResultBits(hr); }

// The connection is shared by the process's threads; SQLite's own locking
// covers other processes.
std::mutex& StoreMutex() {
  static std::mutex m;
  return m;
}

// Runs FN with the user database, its tables in place.
template <typename Fn>
DWORD WithDatabase(Fn&& fn) {
  std::lock_guard<std::mutex> lock(StoreMutex());
  Database* db = Database::Get(Scope::kUser);
  if (db == nullptr) return GetLastError();
  const DWORD error = db->EnsureSchema("crypt", kMigrations);
  if (error != ERROR_SUCCESS) return error;
  return fn(*db);
}

// Runs FN as one transaction. Nothing thrown may leave it: the transaction
// would stay open on the shared connection.
template <typename Fn>
DWORD InTransaction(Database& db, Fn&& fn) {
  return db.Transaction([&]() -> DWORD {
    try {
      return fn();
    } catch (...) {
      return ERROR_NOT_ENOUGH_MEMORY;
    }
  });
}

// Finds the container's row id; NTE_BAD_KEYSET when there is none.
DWORD FindContainer(Database& db, const std::string& provider, const std::string& name, int64_t* id) {
  Statement find(db, "SELECT id FROM crypt_containers WHERE provider = ?1 AND name = ?2");
  if (!find.ok()) return ERROR_INTERNAL_ERROR;
  find.Bind(1, provider).Bind(2, name);
  const int rc = find.Step();
  if (rc == SQLITE_DONE) return Bits(NTE_BAD_KEYSET);
  if (rc != SQLITE_ROW) return ErrorFromSqlite(rc);
  *id = find.Int(0);
  return ERROR_SUCCESS;
}

// Runs FN(db, id) as one transaction on the user database, ID the row of
// the named container; NTE_BAD_KEYSET when there is none.
template <typename Fn>
DWORD InContainer(const std::string& provider, const std::string& name, Fn&& fn) {
  return WithDatabase([&](Database& db) {
    return InTransaction(db, [&]() -> DWORD {
      int64_t id = 0;
      const DWORD found = FindContainer(db, provider, name, &id);
      if (found != ERROR_SUCCESS) return found;
      return fn(db, id);
    });
  });
}

DWORD StepDone(Statement& statement) {
  if (!statement.ok()) return ERROR_INTERNAL_ERROR;
  const int rc = statement.Step();
  return rc == SQLITE_DONE ? ERROR_SUCCESS : ErrorFromSqlite(rc);
}

}  // namespace

DWORD ContainerStore::Create(const std::string& provider, const std::string& name) {
  return WithDatabase([&](Database& db) {
    return InTransaction(db, [&]() -> DWORD {
      int64_t id = 0;
      const DWORD found = FindContainer(db, provider, name, &id);
      if (found == ERROR_SUCCESS) return Bits(NTE_EXISTS);
      if (found != Bits(NTE_BAD_KEYSET)) return found;
      Statement insert(db, "INSERT INTO crypt_containers (provider, name) VALUES (?1, ?2)");
      insert.Bind(1, provider).Bind(2, name);
      return StepDone(insert);
    });
  });
}

DWORD ContainerStore::Delete(const std::string& provider, const std::string& name) {
  return InContainer(provider, name, [&](Database& db, int64_t id) -> DWORD {
    Statement keys(db, "DELETE FROM crypt_keys WHERE container = ?1");
    keys.Bind(1, id);
    const DWORD error = StepDone(keys);
    if (error != ERROR_SUCCESS) return error;
    Statement container(db, "DELETE FROM crypt_containers WHERE id = ?1");
    container.Bind(1, id);
    return StepDone(container);
  });
}

DWORD ContainerStore::Exists(const std::string& provider, const std::string& name, bool* exists) {
  return WithDatabase([&](Database& db) -> DWORD {
    int64_t id = 0;
    const DWORD found = FindContainer(db, provider, name, &id);
    if (found != ERROR_SUCCESS && found != Bits(NTE_BAD_KEYSET)) return found;
    *exists = found == ERROR_SUCCESS;
    return ERROR_SUCCESS;
  });
}

DWORD ContainerStore::List(const std::string& provider, std::vector<std::string>* names) {
  return WithDatabase([&](Database& db) -> DWORD {
    Statement list(db, "SELECT name FROM crypt_containers WHERE provider = ?1 ORDER BY id");
    if (!list.ok()) return ERROR_INTERNAL_ERROR;
    list.Bind(1, provider);
    std::vector<std::string> result;
    int rc;
    while ((rc = list.Step()) == SQLITE_ROW) result.push_back(list.Text(0));
    if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    *names = std::move(result);
    return ERROR_SUCCESS;
  });
}

DWORD ContainerStore::PutKey(const std::string& provider, const std::string& name, const StoredKey& key) {
  return InContainer(provider, name, [&](Database& db, int64_t id) -> DWORD {
    Statement put(db,
                  "INSERT OR REPLACE INTO crypt_keys "
                  "(container, key_spec, algorithm, bits, exportable, private_key, certificate) "
                  "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    put.Bind(1, id)
        .Bind(2, int64_t{key.key_spec})
        .Bind(3, int64_t{key.algorithm})
        .Bind(4, int64_t{key.bits})
        .Bind(5, int64_t{key.exportable ? 1 : 0})
        .BindBlob(6, key.private_key);
    if (key.certificate.empty()) {
      put.BindNull(7);
    } else {
      put.BindBlob(7, key.certificate);
    }
    return StepDone(put);
  });
}

DWORD ContainerStore::GetKey(const std::string& provider, const std::string& name, DWORD key_spec,
                             StoredKey* key) {
  return WithDatabase([&](Database& db) -> DWORD {
    int64_t id = 0;
    const DWORD found = FindContainer(db, provider, name, &id);
    if (found != ERROR_SUCCESS) return found;
    Statement get(db,
                  "SELECT algorithm, bits, exportable, private_key, certificate FROM crypt_keys "
                  "WHERE container = ?1 AND key_spec = ?2");
    if (!get.ok()) return ERROR_INTERNAL_ERROR;
    get.Bind(1, id).Bind(2, int64_t{key_spec});
    const int rc = get.Step();
    if (rc == SQLITE_DONE) return Bits(NTE_NO_KEY);
    if (rc != SQLITE_ROW) return ErrorFromSqlite(rc);
    StoredKey result;
    result.key_spec = key_spec;
    result.algorithm = static_cast<ALG_ID>(get.Int(0));
    result.bits = static_cast<DWORD>(get.Int(1));
    result.exportable = get.Int(2) != 0;
    result.private_key = get.Blob(3);
    if (!get.IsNull(4)) result.certificate = get.Blob(4);
    *key = std::move(result);
    return ERROR_SUCCESS;
  });
}

DWORD ContainerStore::SetCertificate(const std::string& provider, const std::string& name, DWORD key_spec,
                                     const std::vector<uint8_t>& certificate) {
  return InContainer(provider, name, [&](Database& db, int64_t id) -> DWORD {
    Statement set(db, "UPDATE crypt_keys SET certificate = ?1 WHERE container = ?2 AND key_spec = ?3");
    set.BindBlob(1, certificate).Bind(2, id).Bind(3, int64_t{key_spec});
    const DWORD error = StepDone(set);
    if (error != ERROR_SUCCESS) return error;
    return sqlite3_changes(db.handle()) == 1 ? ERROR_SUCCESS : Bits(NTE_NO_KEY);
  });
}

DWORD ContainerStore::Summaries(const std::optional<std::string>& provider, std::vector<ContainerSummary>* out) {
  return WithDatabase([&](Database& db) -> DWORD {
    Statement list(db,
                   "SELECT c.provider, c.name, k.key_spec, k.algorithm, k.bits, k.exportable, "
                   "       k.certificate IS NOT NULL "
                   "FROM crypt_containers c LEFT JOIN crypt_keys k ON k.container = c.id "
                   "WHERE ?1 IS NULL OR c.provider = ?1 ORDER BY c.id, k.key_spec");
    if (!list.ok()) return ERROR_INTERNAL_ERROR;
    if (provider) {
      list.Bind(1, *provider);
    } else {
      list.BindNull(1);
    }
    std::vector<ContainerSummary> result;
    std::string last_provider, last_name;
    int rc;
    while ((rc = list.Step()) == SQLITE_ROW) {
      std::string row_provider = list.Text(0), row_name = list.Text(1);
      if (result.empty() || row_provider != last_provider || row_name != last_name) {
        result.push_back({row_provider, row_name, {}});
        last_provider = row_provider;
        last_name = row_name;
      }
      if (list.IsNull(2)) continue;
      KeySummary key;
      key.key_spec = static_cast<DWORD>(list.Int(2));
      key.algorithm = static_cast<ALG_ID>(list.Int(3));
      key.bits = static_cast<DWORD>(list.Int(4));
      key.exportable = list.Int(5) != 0;
      key.has_certificate = list.Int(6) != 0;
      result.back().keys.push_back(std::move(key));
    }
    if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    *out = std::move(result);
    return ERROR_SUCCESS;
  });
}

}  // namespace tessaline::crypt
