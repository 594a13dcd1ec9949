// The scope databases: where they are, their permissions, schemas per
// module, transactions.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <new>

#include "platform/base/Errors.h"
#include "platform/storage/Database.h"
#include "tests/support/TestScopes.h"

namespace tessaline::test {
namespace {

using storage::Database;
using storage::Scope;
using storage::Statement;

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

int64_t CountRows(Database& db, const char* table) {
  Statement query(db, (std::string("SELECT count(*) FROM ") + table).c_str());
  return query.Step() == SQLITE_ROW ? query.Int(0) : -1;
}

std::string JournalMode(Database& db) {
  Statement query(db, "PRAGMA journal_mode");
  return query.Step() == SQLITE_ROW ? query.Text(0) : "";
}

TEST(Database, ScopesAreCreatedOnFirstUseWithTheirPermissions) {
  const std::string root = FreshScopes();
  EXPECT_EQ(storage::ScopeDatabasePath(Scope::kUser), root + "/user/tessaline/user.db");
  EXPECT_EQ(storage::ScopeDatabasePath(Scope::kMachine), root + "/machine/machine.db");
  EXPECT_EQ(ModeOf(storage::ScopeDirectory(Scope::kUser)), 0u);  // nothing until asked

  Database* user = Database::Get(Scope::kUser);
  Database* machine = Database::Get(Scope::kMachine);
  ASSERT_NE(user, nullptr);
  ASSERT_NE(machine, nullptr);
  EXPECT_EQ(Database::Get(Scope::kUser), user);
  EXPECT_TRUE(user->writable());
  EXPECT_EQ(ModeOf(storage::ScopeDirectory(Scope::kUser)), 0700u);
  EXPECT_EQ(ModeOf(storage::ScopeDatabasePath(Scope::kUser)), 0600u);
  EXPECT_EQ(ModeOf(storage::ScopeDirectory(Scope::kMachine)), 0755u);
  EXPECT_EQ(ModeOf(storage::ScopeDatabasePath(Scope::kMachine)), 0644u);
  EXPECT_EQ(JournalMode(*user), "wal");
  EXPECT_EQ(JournalMode(*machine), "wal");

  // The WAL side files of the machine scope are readable by everyone too.
  ASSERT_EQ(machine->Transaction([&] { return machine->Exec("CREATE TABLE t(x)"); }), ERROR_SUCCESS);
  EXPECT_EQ(ModeOf(storage::ScopeDatabasePath(Scope::kMachine) + "-wal"), 0644u);
  EXPECT_EQ(ModeOf(storage::ScopeDatabasePath(Scope::kMachine) + "-shm"), 0644u);
}

TEST(Database, SchemasAreVersionedPerModule) {
  FreshScopes();
  Database* db = Database::Get(Scope::kUser);
  ASSERT_NE(db, nullptr);
  const std::array<const char*, 1> v1 = {"CREATE TABLE things(id INTEGER PRIMARY KEY, name TEXT)"};
  ASSERT_EQ(db->EnsureSchema("things", v1), ERROR_SUCCESS);
  ASSERT_EQ(db->EnsureSchema("things", v1), ERROR_SUCCESS);  // nothing run twice
  ASSERT_EQ(db->Transaction([&] { return db->Exec("INSERT INTO things(name) VALUES ('a')"); }), ERROR_SUCCESS);

  // A later program adds a step; another connection (a later process)
  // brings the scope up to date, keeping the data.
  Database::CloseAll();
  db = Database::Get(Scope::kUser);
  const std::array<const char*, 2> v2 = {v1[0], "ALTER TABLE things ADD COLUMN size INTEGER DEFAULT 7"};
  ASSERT_EQ(db->EnsureSchema("things", v2), ERROR_SUCCESS);
  Statement query(*db, "SELECT name, size FROM things");
  ASSERT_EQ(query.Step(), SQLITE_ROW);
  EXPECT_EQ(query.Text(0), "a");
  EXPECT_EQ(query.Int(1), 7);
  // An older program that knows only version 1 works with what is there.
  Database::CloseAll();
  db = Database::Get(Scope::kUser);
  EXPECT_EQ(db->EnsureSchema("things", v1), ERROR_SUCCESS);
  // Another module has its own version.
  const std::array<const char*, 1> other = {"CREATE TABLE others(x)"};
  EXPECT_EQ(db->EnsureSchema("others", other), ERROR_SUCCESS);
  EXPECT_EQ(CountRows(*db, "others"), 0);
  // A failing step leaves nothing half-made and is reported.
  const std::array<const char*, 1> broken = {"CREATE TABLE half(x); CREATE TABLE things(y)"};
  EXPECT_NE(db->EnsureSchema("broken", broken), ERROR_SUCCESS);
  EXPECT_EQ(CountRows(*db, "half"), -1);
}

TEST(Database, TransactionsCommitOrRollBackWhole) {
  FreshScopes();
  Database* db = Database::Get(Scope::kUser);
  ASSERT_EQ(db->Exec("CREATE TABLE t(x UNIQUE)"), ERROR_SUCCESS);
  EXPECT_EQ(db->Transaction([&] {
    (void)db->Exec("INSERT INTO t VALUES (1)");
    return static_cast<DWORD>(ERROR_INVALID_DATA);
  }),
            ERROR_INVALID_DATA);
  EXPECT_EQ(CountRows(*db, "t"), 0);
  // A nested transaction is part of the outer one.
  EXPECT_EQ(db->Transaction([&] {
    (void)db->Exec("INSERT INTO t VALUES (1)");
    const DWORD inner = db->Transaction([&] { return db->Exec("INSERT INTO t VALUES (1)"); });
    return inner;
  }),
            ERROR_ALREADY_EXISTS);
  EXPECT_EQ(CountRows(*db, "t"), 0);
  // An exception rolls back and does not leave the call.
  EXPECT_EQ(db->Transaction([&]() -> DWORD {
    (void)db->Exec("INSERT INTO t VALUES (1)");
    throw std::bad_alloc();
  }),
            ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(CountRows(*db, "t"), 0);
  EXPECT_EQ(db->Transaction([&] { return db->Exec("INSERT INTO t VALUES (2)"); }), ERROR_SUCCESS);
  EXPECT_EQ(CountRows(*db, "t"), 1);
}

TEST(Database, EnvironmentWithoutOverridesUsesTheDocumentedPlaces) {
  FreshScopes();
  const std::string saved_xdg = getenv("XDG_DATA_HOME");
  const std::string saved_machine = getenv("TESSALINE_MACHINE_DIR");
  unsetenv("XDG_DATA_HOME");
  unsetenv("TESSALINE_MACHINE_DIR");
  const char* home = getenv("HOME");
  EXPECT_EQ(storage::ScopeDirectory(Scope::kUser), std::string(home != nullptr ? home : "/tmp") + "/.local/share/tessaline");
  EXPECT_EQ(storage::ScopeDirectory(Scope::kMachine), "/var/lib/tessaline");
  setenv("XDG_DATA_HOME", saved_xdg.c_str(), 1);
  setenv("TESSALINE_MACHINE_DIR", saved_machine.c_str(), 1);
}

}  // namespace
}  // namespace tessaline::test
