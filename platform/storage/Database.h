// The two persistent scopes: the machine database (shared by all users,
// written only by root) and the current user's database. Each is opened on
// first use, in WAL mode with a busy timeout, so several processes share it.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Types.h"

namespace tessaline::storage {

enum class Scope { kMachine, kUser };

// $TESSALINE_MACHINE_DIR or /var/lib/tessaline; $XDG_DATA_HOME/tessaline or
// ~/.local/share/tessaline.
std::string ScopeDirectory(Scope scope);
std::string ScopeDatabasePath(Scope scope);

class Statement;

class Database {
 public:
  // The process's connection to SCOPE, opened (and created, with its
  // directory) on first use. Returns nullptr with the thread's last error set
  // when it cannot be opened at all. A machine database that this user cannot
  // write is opened read-only: reads work, writes fail ERROR_ACCESS_DENIED.
  static Database* Get(Scope scope);

  // Closes every open connection, so that the next Get re-reads the
  // environment (tests switch scopes between cases).
  static void CloseAll();

  sqlite3* handle() const { return db_; }
  bool writable() const { return writable_; }
  Scope scope() const { return scope_; }

  // Runs FN inside one IMMEDIATE transaction: committed when FN returns
  // ERROR_SUCCESS, rolled back otherwise. Returns FN's error, or the error of
  // beginning or committing (ERROR_ACCESS_DENIED on a read-only scope). An
  // exception out of FN rolls back and gives ERROR_NOT_ENOUGH_MEMORY
  // (std::bad_alloc) or ERROR_INTERNAL_ERROR; it never leaves this call.
  DWORD Transaction(const std::function<DWORD()>& fn);

  // Executes SQL without results; returns a Windows error number.
  DWORD Exec(const char* sql);

  // Brings MODULE's tables in this scope up to date. MIGRATIONS[i] is the SQL
  // that takes the module from version i to i + 1; the version reached is
  // recorded in the scope, and each step runs in its own transaction, so
  // several processes may call this at once. Cheap after the first call.
  // Returns ERROR_SUCCESS when the tables are there (a newer version left by
  // a newer program counts), ERROR_FILE_NOT_FOUND when the scope is
  // read-only for this user and the module never created them (there is
  // nothing to read), or the error of creating them.
  DWORD EnsureSchema(std::string_view module, std::span<const char* const> migrations);

  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

 private:
  Database(Scope scope, sqlite3* db, bool writable) : scope_(scope), db_(db), writable_(writable) {}
  DWORD SchemaVersion(std::string_view module, int64_t* version);
  Scope scope_;
  sqlite3* db_;
  bool writable_;
  int transaction_depth_ = 0;
  std::vector<std::string> current_modules_;  // schemas already found up to date
};

// One prepared statement; finalized on destruction.
class Statement {
 public:
  Statement(Database& db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, std::string_view text);
  Statement& BindBlob(int index, std::span<const uint8_t> blob);
  Statement& BindNull(int index);

  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  void Reset();

  int64_t Int(int column) const;
  std::string Text(int column) const;
  std::vector<uint8_t> Blob(int column) const;
  bool IsNull(int column) const;

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Maps an SQLite result code to the Windows error number a caller sees.
DWORD ErrorFromSqlite(int rc);

}  // namespace tessaline::storage
