#include "host/IOStream.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstring>

#include "Tessaline/Trace.h"

namespace tessaline {
namespace {

// Reads until SIZE bytes are in or the input ends. Returns the count read,
// or -1 with errno set by the failed read.
ssize_t ReadFully(int fd, void* data, size_t size) {
  auto* bytes = static_cast<uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, bytes + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

// Standard input and output as they were when the program started.
bool g_closed_at_start[2] = {false, false};

}  // namespace

void GuardStandardDescriptors() {
  // Filled in ascending order, so each open() returns the number we fill.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (IsOpen(fd)) continue;
    if (fd <= STDOUT_FILENO) g_closed_at_start[fd] = true;
    const int placeholder = open("/dev/null", O_RDWR);
    if (placeholder >= 0 && placeholder != fd) close(placeholder);
  }
}

int SetTranslationMode() {
  TL_TRACE_SCOPE("SetTranslationMode");
  if (g_closed_at_start[STDIN_FILENO] || g_closed_at_start[STDOUT_FILENO] || !IsOpen(STDIN_FILENO) ||
      !IsOpen(STDOUT_FILENO)) {
    TL_TRACE_ERROR("standard input or output is not open (errno %d)", errno);
    return -1;
  }
  // A browser that goes away closes our output; the write then fails with
  // EPIPE and the loop ends, instead of the process dying on the signal.
  signal(SIGPIPE, SIG_IGN);
  return 0;
}

int ReadFromNativeMessaging(MessageBuffer* text, int fd, uint32_t* length, uint64_t max_body) {
  uint8_t prefix[4] = {};
  const ssize_t got = ReadFully(fd, prefix, sizeof(prefix));
  if (got < 0) {
    const int error = errno;
    TL_TRACE_ERROR("reading the length prefix failed (errno %d)", error);
    return error;
  }
  const uint32_t n = static_cast<uint32_t>(prefix[0]) | static_cast<uint32_t>(prefix[1]) << 8 |
                     static_cast<uint32_t>(prefix[2]) << 16 | static_cast<uint32_t>(prefix[3]) << 24;
  if (got == 0 || n == kEndOfInputLength || n == kNoMessageLength) {
    if (text != nullptr) text->reset();
    if (length != nullptr) *length = 0;
    return 0;
  }
  if (got < static_cast<ssize_t>(sizeof(prefix))) {
    TL_TRACE_ERROR("input ended inside a length prefix (%zd of 4 bytes)", got);
    return EIO;
  }
  if (n > max_body) {
    TL_TRACE_ERROR("message of %u bytes exceeds the limit", n);
    return -1;
  }
  // calloc maps large blocks lazily, so a huge prefix costs nothing until
  // its bytes arrive, and a block we cannot get is a null pointer.
  MessageBuffer body(static_cast<char*>(std::calloc(static_cast<size_t>(n) + 1, 1)));
  if (body == nullptr) {
    TL_TRACE_ERROR("no buffer for a message of %u bytes", n);
    return -1;
  }
  const ssize_t read_body = ReadFully(fd, body.get(), n);
  if (read_body < 0) {
    const int error = errno;
    TL_TRACE_ERROR("reading a message body failed (errno %d)", error);
    return error;
  }
  if (static_cast<size_t>(read_body) < n) {
    TL_TRACE_ERROR("input ended after %zd of %u body bytes", read_body, n);
    return EIO;
  }
  TL_TRACE_INFO("read a message of %u bytes", n);
  if (text != nullptr) *text = std::move(body);
  if (length != nullptr) *length = n;
  return 0;
}

int WriteToNativeMessaging(std::string_view text, int fd) {
  if (text.size() > kMaxResponseBytes) {
    static const uint8_t kMarker[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    TL_TRACE_ERROR("response of %zu bytes is too long to send", text.size());
    ssize_t ignored;
    do {
      ignored = write(fd, kMarker, sizeof(kMarker));
    } while (ignored < 0 && errno == EINTR);
    return -1;
  }
  const uint32_t n = static_cast<uint32_t>(text.size());
  uint8_t prefix[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                       static_cast<uint8_t>(n >> 24)};
  // Prefix and body leave in one request; a short count (a signal during a
  // large write) continues with what is left rather than leave half a frame.
  iovec parts[2] = {{prefix, sizeof(prefix)}, {const_cast<char*>(text.data()), text.size()}};
  size_t remaining = sizeof(prefix) + text.size();
  iovec* part = parts;
  int count = 2;
  while (remaining > 0) {
    const ssize_t wrote = writev(fd, part, count);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      TL_TRACE_ERROR("writing a response failed (errno %d)", errno);
      return -1;
    }
    if (wrote == 0) return -1;
    remaining -= static_cast<size_t>(wrote);
    size_t advance = static_cast<size_t>(wrote);
    while (count > 0 && advance >= part->iov_len) {
      advance -= part->iov_len;
      ++part;
      --count;
    }
    if (count > 0) {
      part->iov_base = static_cast<uint8_t*>(part->iov_base) + advance;
      part->iov_len -= advance;
    }
  }
  return 0;
}

}  // namespace tessaline
