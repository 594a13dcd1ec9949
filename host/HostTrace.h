// The host program's step trace: one 8-bit diagnostic line per step,
// "--OK" for a result of zero or more, "--Failed:(code)" otherwise.
#pragma once

#include "Tessaline/Trace.h"

#define TL_HOST_TRACE_STEP(result, function, step)                                                        \
  do {                                                                                                    \
    const HRESULT tl_host_hr_ = static_cast<HRESULT>(result);                                             \
    const uint32_t tl_host_flag_ = FAILED(tl_host_hr_) ? ::tessaline::kTraceFailedStep : ::tessaline::kTraceInfo; \
    if (::tessaline::TraceEnabled(tl_host_flag_)) {                                                       \
      ::tessaline::TraceLine(tl_host_flag_,                                                               \
                             FAILED(tl_host_hr_)                                                          \
                                 ? ::tessaline::FormatHostFailedStepLine(__FILE_NAME__, __LINE__, function, step, \
                                                                         tl_host_hr_, "FAILED(hResult)")  \
                                 : ::tessaline::FormatHostStepLine(__FILE_NAME__, __LINE__, function, step));  \
    }                                                                                                     \
  } while (0)

// A failed step whose code is not a negative result (an errno, -1 from a
// transport call), with the condition that failed.
#define TL_HOST_TRACE_FAILED(code, function, step, reason)                                                 \
  do {                                                                                                    \
    if (::tessaline::TraceEnabled(::tessaline::kTraceFailedStep)) {                                       \
      ::tessaline::TraceLine(::tessaline::kTraceFailedStep,                                               \
                             ::tessaline::FormatHostFailedStepLine(__FILE_NAME__, __LINE__, function, step,    \
                                                                   static_cast<HRESULT>(code), reason));  \
    }                                                                                                     \
  } while (0)
