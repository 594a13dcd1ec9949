// Tracing of the core's routines.
//
// Off by default: every statement first tests one flag, and nothing is
// formatted unless that flag is enabled. Tracing only observes; it never
// changes a result, and entry/exit keep the thread's last error.
#pragma once

#include <cstdint>

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

}  // namespace tessaline

#define TL_TRACE_SCOPE(routine) ::tessaline::TraceHelper tl_trace_scope_(routine)

#define TL_TRACE(flag, ...)                                                  \
  do {                                                                       \
    if (::tessaline::TraceEnabled(flag)) ::tessaline::TraceEmit(flag, __FILE__, __LINE__, __VA_ARGS__); \
  } while (0)

#define TL_TRACE_INFO(...) TL_TRACE(::tessaline::kTraceInfo, __VA_ARGS__)
#define TL_TRACE_ERROR(...) TL_TRACE(::tessaline::kTraceError, __VA_ARGS__)

// Traces the result of STEP (a call's name) inside FUNCTION.
#define TL_TRACE_STEP(result, function, step)                                          \
  do {                                                                                 \
    const HRESULT tl_step_hr_ = (result);                                              \
    if (::tessaline::TraceEnabled(FAILED(tl_step_hr_) ? ::tessaline::kTraceFailedStep  \
                                                      : ::tessaline::kTraceInfo))      \
      ::tessaline::TraceStepResult(tl_step_hr_, __FILE__, __LINE__, function, step,    \
                                   "FAILED(hResult)");                                 \
  } while (0)
