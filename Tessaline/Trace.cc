#include "Tessaline/Trace.h"

// Placeholder until the trace backend lands: every statement is disabled.
namespace tessaline {

bool TraceEnabled(uint32_t) { return false; }
void TraceEmit(uint32_t, const char*, int, const char*, ...) {}
TraceHelper::TraceHelper(const char* routine) : routine_(routine) {}
TraceHelper::~TraceHelper() = default;
void TraceStepResult(HRESULT, const char*, int, const char*, const char*, const char*) {}

}  // namespace tessaline
