// GUID strings, the temporary directory and the temporary files.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "Tessaline/Misc.h"
#include "platform/base/Errors.h"
#include "platform/base/TempFile.h"
#include "platform/base/Utf.h"
#include "tests/support/TestTools.h"

namespace tessaline {
namespace {

using Bytes = std::vector<uint8_t>;

// Sets TMPDIR for one test and restores it afterwards.
class ScopedTmpDir {
 public:
  explicit ScopedTmpDir(const char* value) {
    if (const char* old = std::getenv("TMPDIR")) old_ = old, had_ = true;
    if (value) setenv("TMPDIR", value, 1); else unsetenv("TMPDIR");
  }
  ~ScopedTmpDir() {
    if (had_) setenv("TMPDIR", old_.c_str(), 1); else unsetenv("TMPDIR");
  }

 private:
  std::string old_;
  bool had_ = false;
};

// "{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}", upper-case, Y one of 8 9 A B.
bool IsVersion4RegistryGuid(const std::string& text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  for (size_t i = 1; i < 37; ++i) {
    const bool hyphen = i == 9 || i == 14 || i == 19 || i == 24;
    const char c = text[i];
    if (hyphen ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return text[15] == '4' && std::string("89AB").find(text[20]) != std::string::npos;
}

TEST(CreateGUIDStr, GivesDistinctVersion4GuidsInRegistryForm) {
  std::set<std::u16string> seen;
  for (int i = 0; i < 50; ++i) {
    std::u16string guid;
    ASSERT_EQ(CreateGUIDStr(&guid), S_OK);
    ASSERT_EQ(guid.size(), 38u);
    EXPECT_TRUE(IsVersion4RegistryGuid(Utf16ToUtf8(guid))) << Utf16ToUtf8(guid);
    seen.insert(guid);
  }
  EXPECT_EQ(seen.size(), 50u);
}

TEST(GetTempDirPath, UsesAbsoluteTmpdirWithTrailingSlash) {
  struct Case {
    const char* tmpdir;
    std::u16string expected;
  } cases[] = {
      {"/var/tmp", u"/var/tmp/"},
      {"/var/tmp/", u"/var/tmp/"},
      {nullptr, u"/tmp/"},
      {"", u"/tmp/"},
      {"relative/dir", u"/tmp/"},
      {"/bad\xFFname", u"/tmp/"},  // not valid UTF-8: could not be named again
      {"/\xE4\xB8\xAD", u"/\u4E2D/"},
  };
  for (const auto& c : cases) {
    ScopedTmpDir env(c.tmpdir);
    std::u16string path;
    ASSERT_EQ(GetTempDirPath(&path), S_OK);
    EXPECT_EQ(path, c.expected) << (c.tmpdir ? c.tmpdir : "(unset)");
  }
}

TEST(GetTempDirPath, ReadsDirectoriesLongerThanTheUsualBuffer) {
  const std::string long_dir = "/" + std::string(300, 'd');
  ScopedTmpDir env(long_dir.c_str());
  std::u16string path;
  ASSERT_EQ(GetTempDirPath(&path), S_OK);
  EXPECT_EQ(Utf16ToUtf8(path), long_dir + "/");
}

TEST(DumpDatatoTempFile, WritesEachCallToANewPrivateFile) {
  test::TempDir dir;
  ScopedTmpDir env(dir.path().c_str());
  const Bytes data{0x30, 0x03, 0x02, 0x01, 0x05, 0x00};
  std::u16string first, second;
  DumpDatatoTempFile(&first, data.data(), data.size());
  DumpDatatoTempFile(&second, data.data(), data.size());
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  const std::string prefix = dir.path() + "/";
  for (const auto& path : {first, second}) {
    const std::string name = Utf16ToUtf8(path);
    ASSERT_EQ(name.size(), prefix.size() + 38 + 5) << name;
    EXPECT_EQ(name.substr(0, prefix.size()), prefix);
    EXPECT_TRUE(IsVersion4RegistryGuid(name.substr(prefix.size(), 38))) << name;
    EXPECT_EQ(name.substr(name.size() - 5), ".VEXA");
    EXPECT_EQ(test::ReadFileBytes(name), data);
    struct stat st {};
    ASSERT_EQ(lstat(name.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
}

TEST(DumpDatatoTempFile, LeavesThePathEmptyWhenTheFileCannotBeCreated) {
  ScopedTmpDir env("/nonexistent-tessaline-dir");
  std::u16string path;
  const Bytes data{1, 2, 3};
  DumpDatatoTempFile(&path, data.data(), data.size());
  EXPECT_TRUE(path.empty());
}

TEST(TempFile, DeletingALinkLeavesItsTargetAlone) {
  test::TempDir dir;
  test::WriteFileText(dir.File("target"), "precious");
  ASSERT_EQ(symlink(dir.File("target").c_str(), dir.File("link").c_str()), 0);
  EXPECT_TRUE(DeleteFileW(Utf8ToUtf16(dir.File("link")).c_str()));
  EXPECT_EQ(test::ReadFileBytes(dir.File("target")), (Bytes{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
  EXPECT_FALSE(DeleteFileW(Utf8ToUtf16(dir.File("link")).c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(TempFile, NeverWritesThroughALinkOrIntoAnExistingFile) {
  test::TempDir dir;
  test::WriteFileText(dir.File("target"), "precious");
  ASSERT_EQ(symlink(dir.File("target").c_str(), dir.File("link").c_str()), 0);
  ASSERT_EQ(symlink(dir.File("missing").c_str(), dir.File("dangling").c_str()), 0);
  const Bytes data{'x'};
  for (const char* name : {"link", "dangling", "target"}) {
    EXPECT_FALSE(WriteNewFileW(Utf8ToUtf16(dir.File(name)).c_str(), data.data(), 1)) << name;
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS) << name;
  }
  EXPECT_EQ(test::ReadFileBytes(dir.File("target")), (Bytes{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
  EXPECT_NE(access(dir.File("missing").c_str(), F_OK), 0);
}

}  // namespace
}  // namespace tessaline
