// The registry functions and their Windows error numbers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/registry/Registry.h"
#include "platform/storage/Database.h"
#include "tests/support/TestScopes.h"
#include "tests/support/TestTools.h"

namespace tessaline::test {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { FreshScopes(); }

  HKEY Create(HKEY parent, const std::u16string& path, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, disposition),
              ERROR_SUCCESS);
    return key;
  }
};

std::vector<std::u16string> Subkeys(HKEY key) {
  std::vector<std::u16string> names;
  char16_t name[300];
  for (DWORD i = 0;; ++i) {
    DWORD size = 300;
    const LSTATUS status = RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(status, ERROR_SUCCESS);
    if (status != ERROR_SUCCESS) break;
    names.emplace_back(name, size);
  }
  return names;
}

TEST_F(RegistryTest, CreateOpenAndQueryInTwoCalls) {
  DWORD disposition = 0;
  HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tessaline\\Test", &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  const BYTE data[] = {1, 2, 3, 4, 5};
  ASSERT_EQ(RegSetValueExW(key, u"Blob", 0, REG_BINARY, data, sizeof(data)), ERROR_SUCCESS);
  const DWORD number = 0x12345678;
  ASSERT_EQ(RegSetValueExW(key, u"Flags", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(u"default"), 16), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  HKEY again = Create(HKEY_CURRENT_USER, u"SOFTWARE\\tessaline\\TEST\\", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);

  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"software\\TESSALINE\\test", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type = 0;
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExW(key, u"BLOB", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(size, 5u);
  BYTE small[4];
  size = sizeof(small);
  EXPECT_EQ(RegQueryValueExW(key, u"Blob", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 5u);
  BYTE buffer[8] = {};
  size = sizeof(buffer);
  ASSERT_EQ(RegQueryValueExW(key, u"blob", nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::vector<BYTE>(buffer, buffer + size), std::vector<BYTE>(data, data + 5));
  DWORD read_number = 0;
  size = 4;
  ASSERT_EQ(RegQueryValueExW(key, u"flags", nullptr, &type, reinterpret_cast<BYTE*>(&read_number), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(read_number, number);
  size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  // Opened for reading only.
  EXPECT_EQ(RegSetValueExW(key, u"Blob", 0, REG_BINARY, data, 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Missing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  // The hives are separate.
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Tessaline", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

// Every installation has the system stores' keys: callers open them
// without creating them.
TEST_F(RegistryTest, StandardStoreKeysExistInBothHives) {
  for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    for (const char16_t* path : {u"SOFTWARE\\Microsoft\\SystemCertificates\\ROOT\\Certificates",
                                 u"Software\\Microsoft\\SystemCertificates\\CA\\Certificates",
                                 u"Software\\Microsoft\\SystemCertificates\\MY\\Certificates"}) {
      HKEY key;
      ASSERT_EQ(RegOpenKeyExW(hive, path, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
      EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
  }
}

TEST_F(RegistryTest, EnumeratesInFoldedOrderAndDeletesLeavesOnly) {
  HKEY parent = Create(HKEY_CURRENT_USER, u"Parent");
  for (const char16_t* name : {u"beta", u"Alpha", u"GAMMA", u"delta"}) EXPECT_EQ(RegCloseKey(Create(parent, name)), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(Create(parent, u"delta\\child")), ERROR_SUCCESS);
  EXPECT_EQ(Subkeys(parent), (std::vector<std::u16string>{u"Alpha", u"beta", u"delta", u"GAMMA"}));

  char16_t name[5];
  DWORD size = 5;  // "Alpha" needs 6 with its NUL
  EXPECT_EQ(RegEnumKeyExW(parent, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  FILETIME written{};
  size = 5;
  EXPECT_EQ(RegEnumKeyExW(parent, 1, name, &size, nullptr, nullptr, nullptr, &written), ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);
  EXPECT_NE(written.dwHighDateTime, 0u);

  EXPECT_EQ(RegDeleteKeyW(parent, u"DELTA"), ERROR_ACCESS_DENIED);  // it has a subkey
  EXPECT_EQ(RegDeleteKeyW(parent, u"Delta\\Child"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(parent, u"delta"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(parent, u"delta"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(parent, u""), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Subkeys(parent), (std::vector<std::u16string>{u"Alpha", u"beta", u"GAMMA"}));
  EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
}

TEST_F(RegistryTest, StaleForgedAndDeletedHandles) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Doomed");
  HKEY other;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Doomed", 0, KEY_ALL_ACCESS, &other), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Doomed"), ERROR_SUCCESS);
  const BYTE b = 1;
  EXPECT_EQ(RegSetValueExW(other, u"v", 0, REG_BINARY, &b, 1), ERROR_KEY_DELETED);
  // A key created again under the same name is another key.
  HKEY reborn = Create(HKEY_CURRENT_USER, u"Doomed");
  EXPECT_EQ(RegSetValueExW(key, u"v", 0, REG_BINARY, &b, 1), ERROR_KEY_DELETED);
  for (HKEY k : {key, other, reborn}) EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);

  for (HKEY bad : {key, reinterpret_cast<HKEY>(uintptr_t{0x1234}), static_cast<HKEY>(nullptr)}) {
    HKEY out;
    EXPECT_EQ(RegCloseKey(bad), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExW(bad, u"x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExW(bad, u"v", 0, REG_BINARY, &b, 1), ERROR_INVALID_HANDLE);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(bad, u"v", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
  }
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST_F(RegistryTest, NamesAreDataOrRefused) {
  const std::u16string longest(255, u'k');
  const std::vector<std::u16string> names = {u"'; DROP TABLE registry_keys; --", u"..", u".", u"/etc/passwd",
                                             u"x\xDC00y", u"\U0001F600 emoji", u"%s%n", longest, u"\u00e9t\u00e9"};
  HKEY parent = Create(HKEY_CURRENT_USER, u"Data");
  for (const auto& name : names) {
    HKEY key = Create(parent, name);
    ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(name.data()),
                             static_cast<DWORD>(name.size() * 2)),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  }
  for (const auto& name : names) {
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    std::u16string value(name.size(), u'\0');
    DWORD size = static_cast<DWORD>(value.size() * 2);
    EXPECT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, name);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  }
  // Upper and lower case of the same letters name one key.
  HKEY key;
  EXPECT_EQ(RegOpenKeyExW(parent, u"\u00c9T\u00c9", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(Subkeys(parent).size(), names.size());

  const struct {
    std::u16string path;
    LSTATUS status;
  } refused[] = {
      {u"\\leading", ERROR_BAD_PATHNAME},
      {u"a\\\\b", ERROR_BAD_PATHNAME},
      {longest + u"k", ERROR_INVALID_PARAMETER},
  };
  for (const auto& r : refused) {
    EXPECT_EQ(RegCreateKeyExW(parent, r.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              r.status);
  }
  EXPECT_EQ(Subkeys(parent).size(), names.size());
  EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
}

// A user who may not write the machine scope reads it and is refused
// writes, also while root holds the WAL database open.
TEST(RegistryMachineScope, UnprivilegedUserReadsAndIsDeniedWrites) {
  if (geteuid() != 0 || RunCommand("command -v setpriv").exit_code != 0) {
    GTEST_SKIP() << "needs root and setpriv to run a child as another user";
  }
  TempDir dir;
  ASSERT_EQ(RunCommand("chmod 0755 '" + dir.path() + "' && mkdir -m 0777 '" + dir.path() + "/home' && cp '" +
                       TESSALINE_BINARY_DIR + "/bin/registry_probe' '" + dir.path() + "/'")
                .exit_code,
            0);
  FreshScopes();
  setenv("TESSALINE_MACHINE_DIR", (dir.path() + "/machine").c_str(), 1);
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Probe", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, u"Value", 0, REG_BINARY, reinterpret_cast<const BYTE*>("hello"), 5), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  const std::string probe = "setpriv --reuid=65534 --regid=65534 --clear-groups env HOME='" + dir.path() +
                            "/home' XDG_DATA_HOME='" + dir.path() + "/home' TESSALINE_MACHINE_DIR='" + dir.path() +
                            "/machine' ASAN_OPTIONS=detect_leaks=0 ./registry_probe";
  const std::string expected =
      "read=0 value=hello create=5 set=5 delete=5 open_write=5 user_write=0\n";
  // Root's connection is open, in WAL mode.
  CommandResult open_writer = RunCommand(probe, dir.path());
  EXPECT_EQ(open_writer.exit_code, 0);
  EXPECT_EQ(open_writer.output, expected);
  // No writer at all.
  storage::Database::CloseAll();
  CommandResult no_writer = RunCommand(probe, dir.path());
  EXPECT_EQ(no_writer.output, expected);
  // What root writes afterwards, the user still sees.
  setenv("TESSALINE_MACHINE_DIR", (dir.path() + "/machine").c_str(), 1);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Probe", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, u"Value", 0, REG_BINARY, reinterpret_cast<const BYTE*>("again"), 5), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RunCommand(probe, dir.path()).output,
            "read=0 value=again create=5 set=5 delete=5 open_write=5 user_write=0\n");
  storage::Database::CloseAll();
  // Without its side files (left by an older writer, or removed), the WAL
  // database is still readable.
  ASSERT_EQ(RunCommand("rm -f machine/machine.db-wal machine/machine.db-shm", dir.path()).exit_code, 0);
  EXPECT_EQ(RunCommand(probe, dir.path()).output,
            "read=0 value=again create=5 set=5 delete=5 open_write=5 user_write=0\n");
  // A machine scope that does not exist is empty for the user, not an error.
  const std::string empty_probe = "setpriv --reuid=65534 --regid=65534 --clear-groups env HOME='" + dir.path() +
                                  "/home' XDG_DATA_HOME='" + dir.path() + "/home' TESSALINE_MACHINE_DIR='" +
                                  dir.path() + "/none' ASAN_OPTIONS=detect_leaks=0 ./registry_probe";
  EXPECT_EQ(RunCommand(empty_probe, dir.path()).output,
            "read=2 value= create=5 set=6 delete=2 open_write=2 user_write=0\n");
}

}  // namespace
}  // namespace tessaline::test
