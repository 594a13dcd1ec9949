// Where enabled statements go: the trace file, the system log, never the
// standard streams; and the boot-time logger settings in the registry.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "Tessaline/Trace.h"
#include "platform/registry/Registry.h"
#include "platform/trace/TraceProvider.h"
#include "tests/support/TestScopes.h"
#include "tests/support/TestTools.h"
#include "tests/trace/TraceFixture.h"

namespace tessaline {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::TraceTest;

std::string ReadText(const std::string& path) {
  const auto bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

class TraceOutputTest : public TraceTest {
 protected:
  void SetUp() override {
    TraceTest::SetUp();
    SetTraceSink(nullptr);  // the real outputs
  }
};

TEST_F(TraceOutputTest, LinesAreAppendedToTheTraceFile) {
  TempDir dir;
  const std::string path = dir.File("trace.log");
  setenv("TESSALINE_TRACE_FILE", path.c_str(), 1);
  RegisterWithFlags("0x4");
  TL_TRACE_INFO("first %d", 1);
  TL_TRACE_ERROR("not enabled");
  TraceLine(kTraceInfo, FormatHostStepLine("IOStream.cpp", 3, "WriteToNativeMessaging", "_write"));
  UnregisterTraceProvider();

  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::string text = ReadText(path);
  EXPECT_NE(text.find(" INFO TraceOutput_test.cc("), std::string::npos) << text;
  EXPECT_NE(text.find("): first 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" INFO [IOStream.cpp(3)]:(WriteToNativeMessaging -- _write)\t\t--OK\n"), std::string::npos);
  EXPECT_EQ(text.find("not enabled"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);

  // A second session appends.
  RegisterWithFlags("0x1");
  TL_TRACE_ERROR("second");
  UnregisterTraceProvider();
  text = ReadText(path);
  EXPECT_NE(text.find("first 1"), std::string::npos);
  EXPECT_NE(text.find(" ERROR TraceOutput_test.cc("), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
}

TEST_F(TraceOutputTest, ASymlinkInPlaceOfTheTraceFileIsNotFollowed) {
  TempDir dir;
  const std::string target = dir.File("target");
  test::WriteFileText(target, "");
  ASSERT_EQ(symlink(target.c_str(), dir.File("trace.log").c_str()), 0);
  setenv("TESSALINE_TRACE_FILE", dir.File("trace.log").c_str(), 1);
  RegisterWithFlags("0xf");
  TL_TRACE_INFO("to the system log instead");
  UnregisterTraceProvider();
  EXPECT_EQ(ReadText(target), "");
}

// Points the standard streams at files for the life of the object.
class StandardStreamsCapture {
 public:
  explicit StandardStreamsCapture(const TempDir& dir) : out_path_(dir.File("stdout")), err_path_(dir.File("stderr")) {
    std::fflush(stdout);
    std::fflush(stderr);
    saved_out_ = dup(STDOUT_FILENO);
    saved_err_ = dup(STDERR_FILENO);
    const int out = open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    close(out);
    close(err);
  }
  ~StandardStreamsCapture() { Restore(); }
  void Restore() {
    if (saved_out_ < 0) return;
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(saved_out_, STDOUT_FILENO);
    dup2(saved_err_, STDERR_FILENO);
    close(saved_out_);
    close(saved_err_);
    saved_out_ = saved_err_ = -1;
  }
  std::string Out() const { return ReadText(out_path_); }
  std::string Err() const { return ReadText(err_path_); }

 private:
  std::string out_path_, err_path_;
  int saved_out_ = -1, saved_err_ = -1;
};

TEST_F(TraceOutputTest, NothingReachesStandardOutputOrError) {
  TempDir dir;
  StandardStreamsCapture capture(dir);
  for (const bool to_file : {false, true}) {
    if (to_file) setenv("TESSALINE_TRACE_FILE", dir.File("trace.log").c_str(), 1);
    RegisterWithFlags("0xffffffff");
    {
      TL_TRACE_SCOPE("Routine");
      TL_TRACE_ERROR("error %s", "text");
      TL_TRACE_STEP(E_FAIL, "Routine", "Step");
      TraceLine(kTraceInfo, FormatFailedStepLine(u"a.cc", 1, u"Routine", u"Step", u"FAILED(hResult)"));
    }
    UnregisterTraceProvider();
  }
  capture.Restore();
  EXPECT_EQ(capture.Out(), "");
  EXPECT_EQ(capture.Err(), "");
  EXPECT_NE(ReadText(dir.File("trace.log")).find("error text"), std::string::npos);
}

// The boot-time logger settings, written where the machine keeps them.
class BootTimeLoggerTest : public TraceTest {
 protected:
  void SetUp() override {
    TraceTest::SetUp();
    test::FreshScopes();
  }

  static void SetDword(const char16_t* subkey, const char16_t* name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  }

  static void WriteSettings(DWORD start, DWORD flags, DWORD level) {
    SetDword(kLogger, u"Start", start);
    SetDword(kProvider, u"Flags", flags);
    SetDword(kProvider, u"Level", level);
  }

  static constexpr char16_t kLogger[] = u"SYSTEM\\CurrentControlSet\\Control\\Wmi\\GlobalLogger";
  static constexpr char16_t kProvider[] =
      u"SYSTEM\\CurrentControlSet\\Control\\Wmi\\GlobalLogger\\0b4e4d74-525e-78e4-7752-e86dea0fc40d";
};

TEST(TraceControlGuid, KeyNameIsTheGuidInLowerCaseWithoutBraces) {
  std::string guid(kTraceControlGuid);
  ASSERT_EQ(guid.size(), 38u);
  EXPECT_EQ(guid.front(), '{');
  EXPECT_EQ(guid.back(), '}');
  std::u16string expected;
  for (const char c : guid.substr(1, 36)) expected.push_back(static_cast<char16_t>(std::tolower(c)));
  EXPECT_EQ(expected, kTraceControlGuidKeyName);
}

TEST_F(BootTimeLoggerTest, StartOneTracesWithTheProviderFlagsAndLevel) {
  WriteSettings(1, 0x80000005, 4);  // the top bit is not a statement flag
  RegisterTraceProvider();
  EXPECT_EQ(TraceEnableFlags(), 0x5u);
  EXPECT_EQ(TraceEnableLevel(), 4);
  EXPECT_EQ(TraceSessionHandle(), kGlobalLoggerTraceSession);
  TL_TRACE_ERROR("boot %d", 1);
  TL_TRACE_STEP(E_FAIL, "Routine", "Step");  // flag 0x2 not set
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0].flag, kTraceError);
}

TEST_F(BootTimeLoggerTest, OtherSettingsLeaveTracingOff) {
  const struct {
    DWORD start;
    DWORD flags;
  } cases[] = {{0, 0xf}, {2, 0xf}, {1, 0}, {1, 0x80000000}};
  for (const auto& c : cases) {
    WriteSettings(c.start, c.flags, 5);
    RegisterTraceProvider();
    EXPECT_EQ(TraceEnableFlags(), 0u) << c.start << " " << c.flags;
    UnregisterTraceProvider();
  }
  // Flags of the wrong type are not read.
  SetDword(kLogger, u"Start", 1);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProvider, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  const char16_t text[] = u"15";
  ASSERT_EQ(RegSetValueExW(key, u"Flags", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
            ERROR_SUCCESS);
  (void)RegCloseKey(key);
  RegisterTraceProvider();
  EXPECT_EQ(TraceEnableFlags(), 0u);
}

TEST_F(BootTimeLoggerTest, TheEnvironmentWinsOverTheBootTimeSettings) {
  WriteSettings(1, 0xf, 4);
  RegisterWithFlags("0x8");
  EXPECT_EQ(TraceEnableFlags(), 0x8u);
  EXPECT_EQ(TraceSessionHandle(), kEnvironmentTraceSession);
}

TEST_F(BootTimeLoggerTest, NoSettingsNoMachineStore) {
  RegisterTraceProvider();  // nothing written: the keys do not exist
  EXPECT_EQ(TraceEnableFlags(), 0u);
}

}  // namespace
}  // namespace tessaline
