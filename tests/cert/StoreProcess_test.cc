// Several processes on one user store: concurrent writers, and a writer
// killed in the middle of its additions.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>

#include "platform/registry/Registry.h"
#include "platform/storage/Database.h"
#include "tests/cert/CertTestSupport.h"
#include "tests/support/TestScopes.h"

namespace tessaline::test {
namespace {

const std::string kWriter = std::string(TESSALINE_BINARY_DIR) + "/bin/store_writer";

struct Child {
  pid_t pid;
  FILE* out;  // the child's standard output
};

Child Spawn(const std::string& count, const std::string& first) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    execl(kWriter.c_str(), kWriter.c_str(), count.c_str(), first.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  return Child{pid, fdopen(fds[0], "r")};
}

int Wait(Child& child) {
  char line[128];
  while (std::fgets(line, sizeof(line), child.out) != nullptr) {
  }
  std::fclose(child.out);
  int status = 0;
  waitpid(child.pid, &status, 0);
  return status;
}

std::string IntegrityCheck() {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(storage::ScopeDatabasePath(storage::Scope::kUser).c_str(), &db, SQLITE_OPEN_READONLY,
                      nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr);
    if (sqlite3_step(statement) == SQLITE_ROW) result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return result;
}

// Every serial number in the user's MY store; each entry must decode.
std::set<uint64_t> SerialsInMy() {
  std::set<uint64_t> serials;
  HCERTSTORE store = OpenSystem(CERT_SYSTEM_STORE_CURRENT_USER, u"MY", CERT_STORE_READONLY_FLAG);
  EXPECT_NE(store, nullptr);
  for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr); cert != nullptr;
       cert = CertEnumCertificatesInStore(store, cert)) {
    uint64_t serial = 0;
    const CRYPT_INTEGER_BLOB& blob = cert->pCertInfo->SerialNumber;
    for (DWORD i = blob.cbData; i > 0; --i) serial = (serial << 8) | blob.pbData[i - 1];
    serials.insert(serial);
  }
  (void)CertCloseStore(store, 0);
  return serials;
}

// Registry entries under MY\Certificates: every one must have become a
// certificate (none half-written).
size_t EntriesInMy() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Microsoft\\SystemCertificates\\MY\\Certificates", 0, KEY_READ,
                    &key) != ERROR_SUCCESS) {
    return 0;
  }
  size_t count = 0;
  char16_t name[64];
  DWORD size = 64;
  while (RegEnumKeyExW(key, static_cast<DWORD>(count), name, &size, nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS) {
    ++count;
    size = 64;
  }
  (void)RegCloseKey(key);
  return count;
}

TEST(StoreProcesses, TwoWritersAtOnceLoseNothing) {
  FreshScopes();
  Child a = Spawn("200", "1000");
  Child b = Spawn("200", "5000");
  const int status_a = Wait(a);
  const int status_b = Wait(b);
  ASSERT_TRUE(WIFEXITED(status_a) && WEXITSTATUS(status_a) == 0);
  ASSERT_TRUE(WIFEXITED(status_b) && WEXITSTATUS(status_b) == 0);
  storage::Database::CloseAll();
  const std::set<uint64_t> serials = SerialsInMy();
  EXPECT_EQ(serials.size(), 400u);
  EXPECT_EQ(serials.count(1000) + serials.count(1199) + serials.count(5000) + serials.count(5199), 4u);
  EXPECT_EQ(EntriesInMy(), 400u);
  EXPECT_EQ(IntegrityCheck(), "ok");
}

TEST(StoreProcesses, KilledWriterLeavesWholeCertificatesOnly) {
  FreshScopes();
  Child child = Spawn("100000", "1");
  char line[128];
  uint64_t confirmed = 0;
  while (confirmed < 40 && std::fgets(line, sizeof(line), child.out) != nullptr) {
    std::sscanf(line, "added %lu", &confirmed);
  }
  kill(child.pid, SIGKILL);
  const int status = Wait(child);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_GE(confirmed, 40u);

  storage::Database::CloseAll();
  EXPECT_EQ(IntegrityCheck(), "ok");
  const std::set<uint64_t> serials = SerialsInMy();
  // What the writer confirmed is there; at most the one in flight is extra.
  for (uint64_t s = 1; s <= confirmed; ++s) EXPECT_EQ(serials.count(s), 1u) << s;
  EXPECT_LE(serials.size(), confirmed + 1);
  EXPECT_EQ(EntriesInMy(), serials.size());
  // And the store takes more.
  HCERTSTORE store = OpenSystem(CERT_SYSTEM_STORE_CURRENT_USER, u"MY");
  ASSERT_NE(store, nullptr);
  ASSERT_TRUE(CertCloseStore(store, 0));
  Child more = Spawn("5", "900000");
  const int more_status = Wait(more);
  EXPECT_TRUE(WIFEXITED(more_status) && WEXITSTATUS(more_status) == 0);
}

}  // namespace
}  // namespace tessaline::test
