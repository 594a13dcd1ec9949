// Tracing of the core's routines.
//
// Off by default: every statement first tests one flag, and nothing is
// formatted unless that flag is enabled. Tracing only observes; it never
// changes a result, and entry/exit keep the thread's last error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/Result.h"

namespace tessaline {

enum TraceFlag : uint32_t {
  kTraceError = 0x1,       // errors with their source file and line
  kTraceFailedStep = 0x2,  // a step whose result is negative
  kTraceInfo = 0x4,        // arguments, successful steps, intermediate values
  kTraceEntryExit = 0x8,   // routine entry and exit
};

// The one flag test each statement makes.
bool TraceEnabled(uint32_t flag);

// Emits one printf-style statement (call only after TraceEnabled(flag)).
void TraceEmit(uint32_t flag, const char* file, int line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Traces a routine's entry on construction and its exit on destruction.
class TraceHelper {
 public:
  explicit TraceHelper(const char* routine);
  virtual ~TraceHelper();
  TraceHelper(const TraceHelper&) = delete;
  TraceHelper& operator=(const TraceHelper&) = delete;

 private:
  const char* routine_;
};

// The step-result trace: flag 0x2 for a negative result, 0x4 otherwise.
void TraceStepResult(HRESULT result, const char* file, int line, const char* function, const char* step,
                     const char* condition);

// Registers the trace provider: the host program at the start of its entry
// point, the plug-in in NP_Initialize. Tracing is switched on from outside:
// by TESSALINE_TRACE (the enable flags, e.g. "0xf"), else by the boot-time
// logger settings in the machine registry. Never fails the caller.
void RegisterTraceProvider();
// Unregisters it (host before it returns, plug-in in NP_Shutdown): tracing
// is off again.
void UnregisterTraceProvider();

// Argument values as statements carry them: a null wide string is "NULL",
// an empty one "<NULL>", others their UTF-8 text; a null 8-bit string is
// "NULL".
std::string TraceWideArg(const char16_t* text);
std::string TraceWideArg(const std::u16string& text);
const char* TraceTextArg(const char* text);

// Diagnostic lines, formatted before they are traced as one string.
// The core's lines are wide and fit its 512-character buffer (at most 511
// characters, longer lines are cut):
//   "%ws - %ws"                          function, step
//   "[%ws(%d):] %ws - %ws [Reason:%ws]"  source path, line, function, step,
//                                        failed condition
inline constexpr size_t kTraceLineMaxChars = 511;
std::u16string FormatStepLine(std::u16string_view function, std::u16string_view step);
std::u16string FormatFailedStepLine(std::u16string_view source, int line, std::u16string_view function,
                                    std::u16string_view step, std::u16string_view reason);
// The host program's lines are 8-bit (null strings as "NULL"):
//   "[%s(%d)]:(%s -- %s)\t\t--OK\n"                             file, line, function, step
//   "[%s(%d):](%s -- %s)\t\t--Failed:(0x%08x) [Reason:%s]\n"    ... result code, condition
std::string FormatHostStepLine(const char* file, int line, const char* function, const char* step);
std::string FormatHostFailedStepLine(const char* file, int line, const char* function, const char* step,
                                     HRESULT result, const char* reason);

// Traces an already formatted line as one statement of FLAG, when FLAG is
// enabled.
void TraceLine(uint32_t flag, std::u16string_view line);
void TraceLine(uint32_t flag, std::string_view line);

}  // namespace tessaline

#define TL_TRACE_SCOPE(routine) ::tessaline::TraceHelper tl_trace_scope_(routine)

#define TL_TRACE(flag, ...)                                                  \
  do {                                                                       \
    if (::tessaline::TraceEnabled(flag)) ::tessaline::TraceEmit(flag, __FILE_NAME__, __LINE__, __VA_ARGS__); \
  } while (0)

#define TL_TRACE_INFO(...) TL_TRACE(::tessaline::kTraceInfo, __VA_ARGS__)
#define TL_TRACE_ERROR(...) TL_TRACE(::tessaline::kTraceError, __VA_ARGS__)

// Traces the result of STEP (a call's name) inside FUNCTION.
#define TL_TRACE_STEP(result, function, step)                                          \
  do {                                                                                 \
    const HRESULT tl_step_hr_ = (result);                                              \
    if (::tessaline::TraceEnabled(FAILED(tl_step_hr_) ? ::tessaline::kTraceFailedStep  \
                                                      : ::tessaline::kTraceInfo))      \
      ::tessaline::TraceStepResult(tl_step_hr_, __FILE_NAME__, __LINE__, function, step,    \
                                   "FAILED(hResult)");                                 \
  } while (0)
