#include "Tessaline/Trace.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/base/Errors.h"
#include "platform/base/Utf.h"
#include "platform/registry/Registry.h"
#include "platform/storage/Database.h"
#include "platform/trace/TraceProvider.h"

namespace tessaline {
namespace {

// Tracing only observes: whatever the output does, the traced routine still
// reads the error of its own last platform call afterwards.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : saved_(GetLastError()) {}
  ~LastErrorKeeper() { SetLastError(saved_); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  DWORD saved_;
};

const char* BaseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

std::string VFormat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[256];
  const int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) return {};
  if (static_cast<size_t>(needed) < sizeof small) return std::string(small, static_cast<size_t>(needed));
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(needed));
  return text;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VFormat(format, args);
  va_end(args);
  return text;
}

std::u16string CutToLine(std::u16string line) {
  if (line.size() > kTraceLineMaxChars) {
    size_t kept = kTraceLineMaxChars;
    if (line[kept - 1] >= 0xD800 && line[kept - 1] <= 0xDBFF) --kept;  // keep surrogate pairs whole
    line.resize(kept);
  }
  return line;
}

bool g_registered = false;

// Boot-time logger: a provider that no session enabled at registration
// traces into the global logger session when the machine's settings ask
// for it at boot. "Start" 1 starts that session; the provider's "Flags" and
// "Level" sit under the subkey named by the control GUID.
constexpr char16_t kGlobalLoggerKey[] = u"SYSTEM\\CurrentControlSet\\Control\\Wmi\\GlobalLogger";

bool ReadDword(HKEY key, const char16_t* name, DWORD* value) {
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof data;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof data) {
    return false;
  }
  *value = data;
  return true;
}

void EnableFromBootTimeLogger() {
  // No machine database means no boot-time settings; don't create one just
  // to look (a host answering checkHost must not touch storage).
  if (access(storage::ScopeDatabasePath(storage::Scope::kMachine).c_str(), F_OK) != 0) return;
  HKEY logger = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kGlobalLoggerKey, 0, KEY_READ, &logger) != ERROR_SUCCESS) return;
  DWORD start = 0;
  DWORD flags = 0;
  DWORD level = 0;
  if (ReadDword(logger, u"Start", &start) && start != 0) {
    HKEY provider = nullptr;
    if (RegOpenKeyExW(logger, kTraceControlGuidKeyName, 0, KEY_READ, &provider) == ERROR_SUCCESS) {
      if (!ReadDword(provider, u"Flags", &flags)) flags = 0;
      if (!ReadDword(provider, u"Level", &level)) level = 0;
      (void)RegCloseKey(provider);
    }
  }
  (void)RegCloseKey(logger);
  // The global logger session always answers here: it is this process's
  // own trace output.
  if (start == 1) EnableTraceProvider(kGlobalLoggerTraceSession, flags & 0x7FFFFFFFu, static_cast<uint8_t>(level));
}

}  // namespace

bool TraceEnabled(uint32_t flag) { return (TraceEnableFlags() & flag) != 0; }

void TraceEmit(uint32_t flag, const char* file, int line, const char* format, ...) {
  const LastErrorKeeper keep_last_error;
  try {
    va_list args;
    va_start(args, format);
    std::string text = VFormat(format, args);
    va_end(args);
    WriteTraceLine(flag, Format("%s(%d): ", BaseName(file), line) + text);
  } catch (...) {
    // Out of memory while formatting: the statement is dropped.
  }
}

TraceHelper::TraceHelper(const char* routine) : routine_(routine) {
  if (!TraceEnabled(kTraceEntryExit)) return;
  const LastErrorKeeper keep_last_error;
  try {
    WriteTraceLine(kTraceEntryExit, "Enter " + std::string(TraceTextArg(routine_)));
  } catch (...) {
  }
}

TraceHelper::~TraceHelper() {
  if (!TraceEnabled(kTraceEntryExit)) return;
  const LastErrorKeeper keep_last_error;
  try {
    WriteTraceLine(kTraceEntryExit, "Exit " + std::string(TraceTextArg(routine_)));
  } catch (...) {
  }
}

void TraceStepResult(HRESULT result, const char* file, int line, const char* function, const char* step,
                     const char* condition) {
  const uint32_t flag = FAILED(result) ? kTraceFailedStep : kTraceInfo;
  if (!TraceEnabled(flag)) return;
  const LastErrorKeeper keep_last_error;
  try {
    const std::u16string function16 = Utf8ToUtf16(TraceTextArg(function));
    const std::u16string step16 = Utf8ToUtf16(TraceTextArg(step));
    const std::u16string text =
        FAILED(result) ? FormatFailedStepLine(Utf8ToUtf16(TraceTextArg(file)), line, function16, step16,
                                              Utf8ToUtf16(TraceTextArg(condition)))
                       : FormatStepLine(function16, step16);
    WriteTraceLine(flag, Utf16ToUtf8(text) + Format(" (0x%08x)", ResultBits(result)));
  } catch (...) {
  }
}

void RegisterTraceProvider() {
  if (g_registered) return;
  g_registered = true;
  const LastErrorKeeper keep_last_error;
  try {
    if (const std::optional<uint32_t> flags = TraceFlagsFromEnvironment(); flags && *flags != 0) {
      EnableTraceProvider(kEnvironmentTraceSession, *flags, /*level=*/5);
    }
    if (TraceEnableFlags() == 0) EnableFromBootTimeLogger();
  } catch (...) {
    // Registration never fails the caller; tracing just stays off.
  }
}

void UnregisterTraceProvider() {
  if (!g_registered) return;
  g_registered = false;
  DisableTraceProvider();
}

std::string TraceWideArg(const char16_t* text) {
  if (text == nullptr) return "NULL";
  if (*text == u'\0') return "<NULL>";
  return Utf16ToUtf8(text);
}

std::string TraceWideArg(const std::u16string& text) { return text.empty() ? "<NULL>" : Utf16ToUtf8(text); }

const char* TraceTextArg(const char* text) { return text != nullptr ? text : "NULL"; }

std::u16string FormatStepLine(std::u16string_view function, std::u16string_view step) {
  std::u16string line(function);
  line += u" - ";
  line += step;
  return CutToLine(std::move(line));
}

std::u16string FormatFailedStepLine(std::u16string_view source, int line_number, std::u16string_view function,
                                    std::u16string_view step, std::u16string_view reason) {
  const std::string number = std::to_string(line_number);
  std::u16string line = u"[";
  line += source;
  line += u"(";
  line.append(number.begin(), number.end());
  line += u"):] ";
  line += function;
  line += u" - ";
  line += step;
  line += u" [Reason:";
  line += reason;
  line += u"]";
  return CutToLine(std::move(line));
}

std::string FormatHostStepLine(const char* file, int line, const char* function, const char* step) {
  return Format("[%s(%d)]:(%s -- %s)\t\t--OK\n", TraceTextArg(file), line, TraceTextArg(function),
                TraceTextArg(step));
}

std::string FormatHostFailedStepLine(const char* file, int line, const char* function, const char* step,
                                     HRESULT result, const char* reason) {
  return Format("[%s(%d):](%s -- %s)\t\t--Failed:(0x%08x) [Reason:%s]\n", TraceTextArg(file), line,
                TraceTextArg(function), TraceTextArg(step), ResultBits(result), TraceTextArg(reason));
}

void TraceLine(uint32_t flag, std::u16string_view line) {
  if (!TraceEnabled(flag)) return;
  const LastErrorKeeper keep_last_error;
  try {
    WriteTraceLine(flag, Utf16ToUtf8(line));
  } catch (...) {
  }
}

void TraceLine(uint32_t flag, std::string_view line) {
  if (!TraceEnabled(flag)) return;
  const LastErrorKeeper keep_last_error;
  WriteTraceLine(flag, line);
}

}  // namespace tessaline
