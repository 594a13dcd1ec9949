// The trace provider's state and its Linux output.
//
// One provider per process, identified by kTraceControlGuid. A controller
// enables it with a session, 32-bit enable flags and an 8-bit level; every
// trace statement first tests its flag with one atomic load and does
// nothing more while the flag is clear. Enabled statements become lines in
// the system log, or in the file named by TESSALINE_TRACE_FILE. Tracing never
// writes to standard output (the host's protocol channel) or standard error.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace tessaline {

inline constexpr char kTraceControlGuid[] = "{0B4E4D74-525E-78E4-7752-E86DEA0FC40D}";
// The same GUID as a registry key name: lower case, without braces.
inline constexpr char16_t kTraceControlGuidKeyName[] = u"0b4e4d74-525e-78e4-7752-e86dea0fc40d";

namespace internal {
inline std::atomic<uint32_t> g_trace_enable_flags{0};
}  // namespace internal

// The flags the controlling session set; 0 while tracing is off. Read
// without a lock: a statement may see the flags of just before or just
// after a change.
inline uint32_t TraceEnableFlags() { return internal::g_trace_enable_flags.load(std::memory_order_relaxed); }
uint8_t TraceEnableLevel();
uint64_t TraceSessionHandle();

// The controller's enable request: records session, flags and level and
// opens the output. Flags 0 leave the provider disabled.
void EnableTraceProvider(uint64_t session, uint32_t flags, uint8_t level);
// The controller's disable request: clears the state and closes the output.
void DisableTraceProvider();

// The enable flags asked for by TESSALINE_TRACE ("0xf" hexadecimal or "15"
// decimal); nullopt when the variable is unset, empty or not a number.
std::optional<uint32_t> TraceFlagsFromEnvironment();

// The session that environment-driven tracing writes into.
inline constexpr uint64_t kEnvironmentTraceSession = 1;
// The boot-time logger session.
inline constexpr uint64_t kGlobalLoggerTraceSession = 2;

// Writes one statement's text. FLAG names the statement's kind in the line.
// Does nothing while the provider is disabled; never fails the caller.
void WriteTraceLine(uint32_t flag, std::string_view text);

// An in-process sink: while installed it receives every line instead of the
// system log or file. Returns the sink it replaces. For tests.
using TraceSink = std::function<void(uint32_t flag, std::string_view text)>;
TraceSink SetTraceSink(TraceSink sink);

}  // namespace tessaline
