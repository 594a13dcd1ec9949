#include "platform/storage/Database.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/base/Errors.h"

namespace tessaline::storage {
namespace {

constexpr int kBusyTimeoutMs = 10000;

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return (v != nullptr && *v != '\0') ? std::string(v) : fallback;
}

std::string HomeDirectory() { return EnvOr("HOME", "/tmp"); }

// Creates DIR and its missing parents with MODE for the last component.
bool MakeDirectories(const std::string& dir, mode_t mode) {
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    if (!MakeDirectories(dir.substr(0, slash), 0755)) return false;
  }
  return mkdir(dir.c_str(), mode) == 0 || errno == EEXIST;
}

std::mutex& ConnectionsMutex() {
  static std::mutex m;
  return m;
}

std::map<Scope, std::unique_ptr<Database>>& Connections() {
  static std::map<Scope, std::unique_ptr<Database>> connections;
  return connections;
}

}  // namespace

std::string ScopeDirectory(Scope scope) {
  if (scope == Scope::kMachine) return EnvOr("TESSALINE_MACHINE_DIR", "/var/lib/tessaline");
  return EnvOr("XDG_DATA_HOME", HomeDirectory() + "/.local/share") + "/tessaline";
}

std::string ScopeDatabasePath(Scope scope) {
  return ScopeDirectory(scope) + (scope == Scope::kMachine ? "/machine.db" : "/user.db");
}

DWORD ErrorFromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ERROR_SUCCESS;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_CANTOPEN:
      return ERROR_CANTOPEN;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return ERROR_BADDB;
    case SQLITE_CONSTRAINT:
      return ERROR_ALREADY_EXISTS;
    default:
      return ERROR_INTERNAL_ERROR;
  }
}

Database* Database::Get(Scope scope) {
  std::lock_guard<std::mutex> lock(ConnectionsMutex());
  auto& connections = Connections();
  auto it = connections.find(scope);
  if (it != connections.end()) return it->second.get();

  const std::string dir = ScopeDirectory(scope);
  const std::string path = ScopeDatabasePath(scope);
  const mode_t dir_mode = scope == Scope::kMachine ? 0755 : 0700;
  const mode_t file_mode = scope == Scope::kMachine ? 0644 : 0600;

  const bool dir_ok = MakeDirectories(dir, dir_mode);
  const bool exists = access(path.c_str(), F_OK) == 0;
  const bool can_write = dir_ok && access(dir.c_str(), W_OK) == 0 && (!exists || access(path.c_str(), W_OK) == 0);

  sqlite3* db = nullptr;
  int rc;
  if (can_write) {
    // The umask must not widen or narrow what the scope promises.
    const mode_t old_mask = umask(0777 & ~file_mode);
    rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                         nullptr);
    umask(old_mask);
    if (rc == SQLITE_OK) chmod(path.c_str(), file_mode);
  } else if (exists) {
    rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  } else {
    // Nothing to read and no right to create: an empty, read-only scope.
    rc = sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  }
  if (rc != SQLITE_OK) {
    sqlite3_close(db);
    SetLastError(can_write ? ErrorFromSqlite(rc) : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  if (can_write) {
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  }
  sqlite3_exec(db, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr);
  auto database = std::unique_ptr<Database>(new Database(scope, db, can_write));
  Database* raw = database.get();
  connections[scope] = std::move(database);
  return raw;
}

void Database::CloseAll() {
  std::lock_guard<std::mutex> lock(ConnectionsMutex());
  Connections().clear();
}

Database::~Database() { sqlite3_close_v2(db_); }

DWORD Database::Exec(const char* sql) {
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  return ErrorFromSqlite(rc);
}

DWORD Database::Transaction(const std::function<DWORD()>& fn) {
  if (!writable_) return ERROR_ACCESS_DENIED;
  if (transaction_depth_ > 0) {
    // Nested: part of the outer transaction.
    ++transaction_depth_;
    const DWORD error = fn();
    --transaction_depth_;
    return error;
  }
  DWORD error = Exec("BEGIN IMMEDIATE");
  if (error != ERROR_SUCCESS) return error;
  ++transaction_depth_;
  error = fn();
  --transaction_depth_;
  if (error == ERROR_SUCCESS) {
    error = Exec("COMMIT");
    if (error == ERROR_SUCCESS) return ERROR_SUCCESS;
  }
  (void)Exec("ROLLBACK");
  return error;
}

Statement::Statement(Database& db, const char* sql) {
  if (sqlite3_prepare_v2(db.handle(), sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(int index, int64_t value) {
  sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::BindBlob(int index, std::span<const uint8_t> blob) {
  static const uint8_t kEmpty = 0;
  sqlite3_bind_blob(stmt_, index, blob.empty() ? &kEmpty : blob.data(), static_cast<int>(blob.size()),
                    SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::BindNull(int index) {
  sqlite3_bind_null(stmt_, index);
  return *this;
}

int Statement::Step() { return stmt_ == nullptr ? SQLITE_ERROR : sqlite3_step(stmt_); }

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Statement::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  return text == nullptr ? std::string() : std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::vector<uint8_t> Statement::Blob(int column) const {
  const auto* blob = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, column));
  const int size = sqlite3_column_bytes(stmt_, column);
  return blob == nullptr ? std::vector<uint8_t>() : std::vector<uint8_t>(blob, blob + size);
}

bool Statement::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

}  // namespace tessaline::storage
