#include "platform/trace/TraceProvider.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <utility>

namespace tessaline {
namespace {

std::atomic<uint8_t> g_level{0};
std::atomic<uint64_t> g_session{0};

// Where enabled lines go. Lives until the process ends (never destroyed), so
// statements traced from static destructors still find it.
struct Output {
  std::mutex mutex;
  int fd = -1;
  bool use_syslog = false;
  TraceSink sink;
};

Output& TheOutput() {
  alignas(Output) static unsigned char storage[sizeof(Output)];
  static Output* const output = ::new (storage) Output();
  return *output;
}

// Keeps errno across the output calls: tracing only observes.
class ErrnoKeeper {
 public:
  ErrnoKeeper() : saved_(errno) {}
  ~ErrnoKeeper() { errno = saved_; }

 private:
  int saved_;
};

void OpenOutputLocked(Output& output) {
  if (output.fd >= 0 || output.use_syslog) return;
  const char* path = std::getenv("TESSALINE_TRACE_FILE");
  if (path != nullptr && *path != '\0') {
    // Not through a symbolic link; never block on a FIFO without a reader
    // (the open fails and the system log takes over).
    int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    // Never hold the file on a standard descriptor number: if standard
    // output was closed, a later reopen of it must not receive trace lines.
    if (fd >= 0 && fd <= STDERR_FILENO) {
      const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
      ::close(fd);
      fd = moved;
    }
    if (fd >= 0) {
      output.fd = fd;
      return;
    }
  }
  // No file asked for, or it cannot be opened: the system log. No openlog:
  // the plug-in lives in the browser's process, whose log identity and
  // connection are not ours to change (and LOG_CONS or LOG_PERROR would
  // write to the console or stderr). Each line names us instead.
  output.use_syslog = true;
}

void CloseOutputLocked(Output& output) {
  if (output.fd >= 0) ::close(output.fd);
  output.fd = -1;
  output.use_syslog = false;
}

const char* FlagTag(uint32_t flag) {
  switch (flag) {
    case 0x1:
      return "ERROR";
    case 0x2:
      return "FAILED";
    case 0x4:
      return "INFO";
    case 0x8:
      return "FLOW";
    default:
      return "TRACE";
  }
}

std::string_view WithoutLineEnd(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

void WriteFileLine(int fd, uint32_t flag, std::string_view text) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  char prefix[96];
  const int prefix_length = std::snprintf(
      prefix, sizeof prefix, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ tessaline[%d:%ld] %s ", utc.tm_year + 1900,
      utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, now.tv_nsec / 1000000, getpid(),
      static_cast<long>(syscall(SYS_gettid)), FlagTag(flag));
  std::string line(prefix, prefix_length > 0 ? static_cast<size_t>(prefix_length) : 0);
  line.append(WithoutLineEnd(text));
  line.push_back('\n');
  // One write per line, so that lines of several processes appending to the
  // same file do not interleave.
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

uint8_t TraceEnableLevel() { return g_level.load(std::memory_order_relaxed); }
uint64_t TraceSessionHandle() { return g_session.load(std::memory_order_relaxed); }

void EnableTraceProvider(uint64_t session, uint32_t flags, uint8_t level) {
  if (flags == 0) {
    DisableTraceProvider();
    return;
  }
  const ErrnoKeeper keep_errno;
  Output& output = TheOutput();
  const std::lock_guard lock(output.mutex);
  OpenOutputLocked(output);
  g_session.store(session, std::memory_order_relaxed);
  g_level.store(level, std::memory_order_relaxed);
  internal::g_trace_enable_flags.store(flags, std::memory_order_relaxed);
}

void DisableTraceProvider() {
  const ErrnoKeeper keep_errno;
  Output& output = TheOutput();
  const std::lock_guard lock(output.mutex);
  internal::g_trace_enable_flags.store(0, std::memory_order_relaxed);
  g_session.store(0, std::memory_order_relaxed);
  g_level.store(0, std::memory_order_relaxed);
  CloseOutputLocked(output);
}

std::optional<uint32_t> TraceFlagsFromEnvironment() {
  const char* value = std::getenv("TESSALINE_TRACE");
  if (value == nullptr) return std::nullopt;
  std::string_view text(value);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint32_t flags = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), flags, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return flags;
}

void WriteTraceLine(uint32_t flag, std::string_view text) {
  if (TraceEnableFlags() == 0) return;
  const ErrnoKeeper keep_errno;
  try {
    Output& output = TheOutput();
    const std::lock_guard lock(output.mutex);
    if (output.sink) {
      output.sink(flag, text);
    } else if (output.fd >= 0) {
      WriteFileLine(output.fd, flag, text);
    } else if (output.use_syslog) {
      const std::string_view line = WithoutLineEnd(text);
      ::syslog(LOG_USER | LOG_DEBUG, "tessaline: %s %.*s", FlagTag(flag), static_cast<int>(line.size()),
               line.data());
    }
  } catch (...) {
    // A line that cannot be written is dropped; tracing never fails a caller.
  }
}

TraceSink SetTraceSink(TraceSink sink) {
  Output& output = TheOutput();
  const std::lock_guard lock(output.mutex);
  return std::exchange(output.sink, std::move(sink));
}

}  // namespace tessaline
