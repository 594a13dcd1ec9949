#include "platform/storage/Database.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>

#include "platform/base/Errors.h"

namespace tessaline::storage {
namespace {

constexpr int kBusyTimeoutMs = 10000;

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return (v != nullptr && *v != '\0') ? std::string(v) : fallback;
}

// $HOME, or the account's home directory when it is unset.
std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  struct passwd entry;
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && *found->pw_dir != '\0') {
    return found->pw_dir;
  }
  return "/";
}

// Creates DIR and its missing parents with MODE for the last component.
bool MakeDirectories(const std::string& dir, mode_t mode) {
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    if (!MakeDirectories(dir.substr(0, slash), 0755)) return false;
  }
  if (mkdir(dir.c_str(), mode) != 0) return errno == EEXIST;
  // The process's umask must not narrow what the scope promises (a machine
  // scope that ordinary users cannot read).
  return chmod(dir.c_str(), mode) == 0;
}

std::mutex& ConnectionsMutex() {
  static std::mutex m;
  return m;
}

std::map<Scope, std::unique_ptr<Database>>& Connections() {
  static std::map<Scope, std::unique_ptr<Database>> connections;
  return connections;
}

// A database file URI for PATH, every byte that could mean something in a URI
// escaped.
std::string FileUri(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

// Opens a database this user may only read. A WAL database needs its -shm
// file; when it is missing and this user cannot create it, no writer has the
// database open, so it is opened as immutable (read straight from the file).
int OpenReadOnly(const std::string& path, sqlite3** db) {
  int rc = sqlite3_open_v2(path.c_str(), db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_exec(*db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) return SQLITE_OK;
  sqlite3_close(*db);
  *db = nullptr;
  const std::string uri = FileUri(path) + "?immutable=1";
  return sqlite3_open_v2(uri.c_str(), db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI, nullptr);
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
    rc = OpenReadOnly(path, &db);
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
    // A process killed between two transactions loses nothing committed;
    // only a power failure can drop the last commits, never corrupt.
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    if (scope == Scope::kMachine) {
      // Keep the -wal and -shm files when the last writer closes: users who
      // may only read the machine scope cannot create them, and without them
      // they could not read a WAL database at all.
      int persist = 1;
      sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
      // ...emptied when the last writer closes, so readers find it clean.
      sqlite3_exec(db, "PRAGMA journal_size_limit=1048576", nullptr, nullptr, nullptr);
    }
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

namespace {

// Runs FN; an exception it lets out becomes an error number, so that no
// transaction is left open on the shared connection.
DWORD RunGuarded(const std::function<DWORD()>& fn) {
  try {
    return fn();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_INTERNAL_ERROR;
  }
}

}  // namespace

DWORD Database::Transaction(const std::function<DWORD()>& fn) {
  if (!writable_) return ERROR_ACCESS_DENIED;
  if (transaction_depth_ > 0) {
    // Nested: part of the outer transaction.
    ++transaction_depth_;
    const DWORD error = RunGuarded(fn);
    --transaction_depth_;
    return error;
  }
  DWORD error = Exec("BEGIN IMMEDIATE");
  if (error != ERROR_SUCCESS) return error;
  ++transaction_depth_;
  error = RunGuarded(fn);
  --transaction_depth_;
  if (error == ERROR_SUCCESS) {
    error = Exec("COMMIT");
    if (error == ERROR_SUCCESS) return ERROR_SUCCESS;
  }
  (void)Exec("ROLLBACK");
  return error;
}

DWORD Database::SchemaVersion(std::string_view module, int64_t* version) {
  *version = 0;
  Statement table(*this, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'tessaline_schema'");
  int rc = table.Step();
  if (rc == SQLITE_DONE) return ERROR_SUCCESS;
  if (rc != SQLITE_ROW) return ErrorFromSqlite(rc);
  Statement query(*this, "SELECT version FROM tessaline_schema WHERE module = ?1");
  query.Bind(1, module);
  rc = query.Step();
  if (rc == SQLITE_ROW) *version = query.Int(0);
  return rc == SQLITE_ROW || rc == SQLITE_DONE ? ERROR_SUCCESS : ErrorFromSqlite(rc);
}

DWORD Database::EnsureSchema(std::string_view module, std::span<const char* const> migrations) {
  if (std::find(current_modules_.begin(), current_modules_.end(), module) != current_modules_.end()) {
    return ERROR_SUCCESS;
  }
  const auto target = static_cast<int64_t>(migrations.size());
  int64_t version = 0;
  DWORD error = SchemaVersion(module, &version);
  if (error != ERROR_SUCCESS) return error;
  if (version < target && !writable_) return version > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  for (int64_t step = version; step < target; ++step) {
    error = Transaction([&]() -> DWORD {
      DWORD e = Exec("CREATE TABLE IF NOT EXISTS tessaline_schema(module TEXT PRIMARY KEY, version INTEGER NOT NULL)");
      if (e != ERROR_SUCCESS) return e;
      int64_t now = 0;
      e = SchemaVersion(module, &now);
      if (e != ERROR_SUCCESS || now > step) return e;  // another process got there first
      e = Exec(migrations[static_cast<size_t>(step)]);
      if (e != ERROR_SUCCESS) return e;
      Statement record(*this,
                       "INSERT INTO tessaline_schema(module, version) VALUES (?1, ?2) "
                       "ON CONFLICT(module) DO UPDATE SET version = excluded.version");
      record.Bind(1, module).Bind(2, step + 1);
      return ErrorFromSqlite(record.Step());
    });
    if (error != ERROR_SUCCESS) return error;
  }
  current_modules_.emplace_back(module);
  return ERROR_SUCCESS;
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
