#include "platform/resources/Resources.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/base/Errors.h"
#include "tests/support/TestTools.h"

namespace {

using tessaline::test::RunCommand;
using tessaline::test::TempDir;
using tessaline::test::WriteFileText;

TEST(FindResourceW, UnknownTypesAndNamesFailWithTheirErrors) {
  SetLastError(0);
  EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(208), u"NO_SUCH_TYPE"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
  // The message tables are not documents.
  EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(1033), u"strings"), nullptr);
  EXPECT_EQ(FindResourceW(nullptr, u"not-a-number", u"CERTIFICATE"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(208), MAKEINTRESOURCEW(10)), nullptr);
}

TEST(FindResourceW, ForgedHandlesAreRejectedNotRead) {
  int not_a_resource = 0;
  const auto forged = reinterpret_cast<HRSRC>(&not_a_resource);
  EXPECT_EQ(LoadResource(nullptr, forged), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_DATA_NOT_FOUND);
  EXPECT_EQ(SizeofResource(nullptr, forged), 0u);
  EXPECT_EQ(LockResource(forged), nullptr);
  EXPECT_EQ(LockResource(nullptr), nullptr);
  EXPECT_EQ(SizeofResource(nullptr, nullptr), 0u);
}

TEST(GetModuleHandleW, KnowsOnlyThisProgram) {
  EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
  EXPECT_EQ(GetModuleHandleW(u"other.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

// The build step that embeds resources/: a document dropped into a type
// folder becomes one entry with its id, its exact bytes and their size.
TEST(EmbedResources, TurnsDroppedFilesIntoTableEntries) {
  TempDir dir;
  ASSERT_EQ(RunCommand("mkdir -p src/CERTIFICATE src/strings", dir.path()).exit_code, 0);
  WriteFileText(dir.File("src/CERTIFICATE/209.xml"), "<a/>");
  WriteFileText(dir.File("src/CERTIFICATE/208.xml"), "");
  WriteFileText(dir.File("src/strings/2052.txt"), "0x1\t\xE4\xB8\xAD\n");
  const std::string script = std::string(TESSALINE_SOURCE_DIR) + "/resources/EmbedResources.cmake";
  const auto run = RunCommand(std::string(TESSALINE_CMAKE_COMMAND) + " -DSOURCE_DIR=src -DOUTPUT=out.cc -P " + script,
                              dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.output;
  const auto generated = tessaline::test::ReadFileBytes(dir.File("out.cc"));
  const std::string source(generated.begin(), generated.end());
  EXPECT_NE(source.find("{\"CERTIFICATE\", 208, kData0, 0}"), std::string::npos) << source;
  EXPECT_NE(source.find("{\"CERTIFICATE\", 209, kData1, 4}"), std::string::npos);
  EXPECT_NE(source.find("0x3c,0x61,0x2f,0x3e,0x00}"), std::string::npos);  // "<a/>" and the terminator
  EXPECT_NE(source.find("{\"strings\", 2052, kData2, 8}"), std::string::npos);
  EXPECT_NE(source.find("kEmbeddedResourceCount = 3"), std::string::npos);

  // A file whose name does not start with its id stops the build.
  WriteFileText(dir.File("src/CERTIFICATE/chain.xml"), "<a/>");
  EXPECT_NE(RunCommand(std::string(TESSALINE_CMAKE_COMMAND) + " -DSOURCE_DIR=src -DOUTPUT=out.cc -P " + script,
                       dir.path()).exit_code, 0);
}

}  // namespace
