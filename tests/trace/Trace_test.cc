#include "Tessaline/Trace.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <set>

#include "platform/base/Errors.h"
#include "platform/trace/TraceProvider.h"
#include "tests/trace/TraceFixture.h"

namespace tessaline {
namespace {

using test::TracedLine;
using test::TraceTest;

constexpr int kErrorLine = __LINE__ + 5;
constexpr int kFailedStepLine = __LINE__ + 7;
// One statement of each kind.
void TracedRoutine() {
  TL_TRACE_SCOPE("CCryptoAgent::VEXA_SetKeyAlgorithm");
  TL_TRACE_ERROR("parse failed at %d", 7);
  TL_TRACE_INFO("algorithm %s", TraceWideArg(u"SM2").c_str());
  TL_TRACE_STEP(S_OK, "CCryptoAgent::VEXA_SetKeyAlgorithm", "TrimString");
  TL_TRACE_STEP(E_INVALIDARG, "CCryptoAgent::VEXA_SetKeyAlgorithm", "CheckAlgorithm");
}

TEST_F(TraceTest, NothingIsEmittedWhileNoSessionEnabledTheProvider) {
  TracedRoutine();
  RegisterTraceProvider();  // no environment, no boot-time settings
  TracedRoutine();
  EXPECT_TRUE(lines_.empty());
  for (const uint32_t flag : {kTraceError, kTraceFailedStep, kTraceInfo, kTraceEntryExit}) {
    EXPECT_FALSE(TraceEnabled(flag));
  }
}

TEST_F(TraceTest, EveryStatementKindWithAllFlags) {
  RegisterWithFlags("0xf");
  TracedRoutine();
  const std::string source = __FILE_NAME__;
  const std::vector<TracedLine> expected = {
      {kTraceEntryExit, "Enter CCryptoAgent::VEXA_SetKeyAlgorithm"},
      {kTraceError, "Trace_test.cc(" + std::to_string(kErrorLine) + "): parse failed at 7"},
      {kTraceInfo, "Trace_test.cc(" + std::to_string(kErrorLine + 1) + "): algorithm SM2"},
      {kTraceInfo, "CCryptoAgent::VEXA_SetKeyAlgorithm - TrimString (0x00000000)"},
      {kTraceFailedStep, "[" + source + "(" + std::to_string(kFailedStepLine) +
                             "):] CCryptoAgent::VEXA_SetKeyAlgorithm - CheckAlgorithm [Reason:FAILED(hResult)] "
                             "(0x80070057)"},
      {kTraceEntryExit, "Exit CCryptoAgent::VEXA_SetKeyAlgorithm"},
  };
  EXPECT_EQ(lines_, expected);
}

TEST_F(TraceTest, EachFlagSelectsItsStatements) {
  const struct {
    const char* setting;
    std::multiset<uint32_t> flags;  // of the lines TracedRoutine emits
  } cases[] = {
      {"1", {kTraceError}},
      {"0x2", {kTraceFailedStep}},
      {"4", {kTraceInfo, kTraceInfo}},
      {"0x8", {kTraceEntryExit, kTraceEntryExit}},
      {"0x5", {kTraceError, kTraceInfo, kTraceInfo}},
      {"0xFFFFFFF8", {kTraceEntryExit, kTraceEntryExit}},  // unknown bits are ignored,
  };
  for (const auto& c : cases) {
    lines_.clear();
    RegisterWithFlags(c.setting);
    TracedRoutine();
    UnregisterTraceProvider();
    std::multiset<uint32_t> seen;
    for (const TracedLine& line : lines_) seen.insert(line.flag);
    EXPECT_EQ(seen, c.flags) << c.setting;
  }
  // Unregistered, the provider is off again.
  lines_.clear();
  TracedRoutine();
  EXPECT_TRUE(lines_.empty());
}

TEST_F(TraceTest, EnvironmentSettingIsANumber) {
  const struct {
    const char* value;  // nullptr: unset
    std::optional<uint32_t> flags;
  } cases[] = {
      {nullptr, std::nullopt}, {"", std::nullopt},    {"0xf", 15u},        {"0XF", 15u},
      {"15", 15u},             {"0", 0u},             {"010", 10u},        {"0x", std::nullopt},
      {"f", std::nullopt},     {" 4", std::nullopt},  {"4 ", std::nullopt}, {"-1", std::nullopt},
      {"0x1ffffffff", std::nullopt},                  {"0xffffffff", 0xffffffffu},
  };
  for (const auto& c : cases) {
    if (c.value == nullptr) {
      unsetenv("TESSALINE_TRACE");
    } else {
      setenv("TESSALINE_TRACE", c.value, 1);
    }
    EXPECT_EQ(TraceFlagsFromEnvironment(), c.flags) << (c.value ? c.value : "(unset)");
  }
}

TEST_F(TraceTest, StatementsKeepTheLastErrorAndErrno) {
  SetTraceSink([](uint32_t, std::string_view) {
    SetLastError(ERROR_INTERNAL_ERROR);  // an output that disturbs both
    errno = EIO;
  });
  RegisterWithFlags("0xf");
  SetLastError(ERROR_MORE_DATA);
  errno = ENOENT;
  {
    TL_TRACE_SCOPE("Routine");
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    SetLastError(ERROR_NO_MORE_ITEMS);  // the routine's last platform call
    TL_TRACE_INFO("value %d", 1);
    TL_TRACE_STEP(E_FAIL, "Routine", "Step");
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  }
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(errno, ENOENT);
}

TEST(TraceArguments, NullAndEmptyStrings) {
  const char16_t* null_wide = nullptr;
  const char* null_text = nullptr;
  EXPECT_EQ(TraceWideArg(null_wide), "NULL");
  EXPECT_EQ(TraceWideArg(u""), "<NULL>");
  EXPECT_EQ(TraceWideArg(std::u16string()), "<NULL>");
  EXPECT_EQ(TraceWideArg(u"\u4E2D"), "\xE4\xB8\xAD");
  EXPECT_EQ(TraceWideArg(std::u16string(u"RSA")), "RSA");
  EXPECT_STREQ(TraceTextArg(null_text), "NULL");
  EXPECT_STREQ(TraceTextArg(""), "");  // only null has a stand-in for 8-bit strings
  EXPECT_STREQ(TraceTextArg("abc"), "abc");
}

TEST(DiagnosticLines, CoreLines) {
  EXPECT_EQ(FormatStepLine(u"CCryptoAgent::VEXA_PKCS10CertRequisition", u"GenerateKeyPair"),
            u"CCryptoAgent::VEXA_PKCS10CertRequisition - GenerateKeyPair");
  EXPECT_EQ(FormatFailedStepLine(u"Tessaline/CryptoAgent.cc", 120, u"CCryptoAgent::VEXA_SetCSPInfo",
                                 u"CryptAcquireContextW", u"bRetCode == FALSE"),
            u"[Tessaline/CryptoAgent.cc(120):] CCryptoAgent::VEXA_SetCSPInfo - CryptAcquireContextW "
            u"[Reason:bRetCode == FALSE]");
  EXPECT_EQ(FormatFailedStepLine(u"a.cc", -3, u"", u"", u""), u"[a.cc(-3):]  -  [Reason:]");

  // The core formats into 512 characters: longer lines are cut at 511, and
  // never inside a surrogate pair.
  const std::u16string long_step(600, u'x');
  const std::u16string cut = FormatStepLine(u"F", long_step);
  EXPECT_EQ(cut, u"F - " + std::u16string(kTraceLineMaxChars - 4, u'x'));
  std::u16string pair_at_cut(kTraceLineMaxChars - 5, u'y');
  pair_at_cut += u"\U0001F600";
  EXPECT_EQ(FormatStepLine(u"F", pair_at_cut), u"F - " + std::u16string(kTraceLineMaxChars - 5, u'y'));
}

TEST(DiagnosticLines, HostLines) {
  EXPECT_EQ(FormatHostStepLine("KeyvaneHost.cpp", 42, "ParseAndRespondRequest", "ParseRequestMsgToJSON"),
            "[KeyvaneHost.cpp(42)]:(ParseAndRespondRequest -- ParseRequestMsgToJSON)\t\t--OK\n");
  EXPECT_EQ(FormatHostFailedStepLine("IOStream.cpp", 7, "ReadFromNativeMessaging", "_read", MakeResult(0x80070057),
                                     "nRead != 4"),
            "[IOStream.cpp(7):](ReadFromNativeMessaging -- _read)\t\t--Failed:(0x80070057) [Reason:nRead != 4]\n");
  EXPECT_EQ(FormatHostFailedStepLine(nullptr, 1, nullptr, nullptr, MakeResult(0xA0073204), nullptr),
            "[NULL(1):](NULL -- NULL)\t\t--Failed:(0xa0073204) [Reason:NULL]\n");
}

TEST_F(TraceTest, FormattedLinesAreTracedAsOneString) {
  RegisterWithFlags("0x6");
  TraceLine(kTraceInfo, FormatStepLine(u"GetAllCSPName", u"CryptEnumProvidersW"));
  TraceLine(kTraceFailedStep, FormatHostStepLine("JSONUtility.cpp", 9, "ConstructResponseJSON", "cJSON_CreateObject"));
  const std::vector<TracedLine> expected = {
      {kTraceInfo, "GetAllCSPName - CryptEnumProvidersW"},
      {kTraceFailedStep, "[JSONUtility.cpp(9)]:(ConstructResponseJSON -- cJSON_CreateObject)\t\t--OK\n"},
  };
  EXPECT_EQ(lines_, expected);
}

}  // namespace
}  // namespace tessaline
