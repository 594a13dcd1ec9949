// Framing of native messages on the host's standard input and output: a
// 4-byte little-endian length, then that many bytes of body.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace tessaline {

// The largest response body the browser accepts from a host.
inline constexpr uint32_t kMaxResponseBytes = 1048576;

// Lengths that mean "no message": the reader reports them as length 0.
inline constexpr uint32_t kEndOfInputLength = 0;
inline constexpr uint32_t kNoMessageLength = 0xFFFFFFFF;

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};
// A message body followed by one NUL byte.
using MessageBuffer = std::unique_ptr<char[], FreeDeleter>;

// Run first thing in the program: a standard descriptor (0, 1 or 2) that
// was closed at start is pointed at /dev/null, so that no file opened later
// (a database, a trace file) takes its number and receives the protocol's
// frames. SetTranslationMode still reports standard input or output that
// was closed as unusable.
void GuardStandardDescriptors();

// Checks that standard input and output are open descriptors (there is no
// text mode to leave on this platform) and keeps a closed reader from
// killing the process on write, so that a failed write ends the loop with
// its code. 0 on success, -1 otherwise.
[[nodiscard]] int SetTranslationMode();

// Reads one frame from FD. Returns 0 with the body and its length N (0 and
// no body at the end of input or for the lengths 0 and 0xFFFFFFFF), -1 when
// no buffer of N + 1 bytes can be obtained (or N exceeds MAX_BODY), or the
// errno of a failed read. Input that ends inside a frame is a failed read
// (EIO). TEXT and LENGTH may be null; they are written only on success.
[[nodiscard]] int ReadFromNativeMessaging(MessageBuffer* text, int fd, uint32_t* length,
                                          uint64_t max_body = UINT64_MAX);

// Writes TEXT as one frame to FD. A text longer than kMaxResponseBytes is
// replaced by the marker frame FF FF FF FF and fails. 0 when the whole frame
// was written, -1 otherwise.
[[nodiscard]] int WriteToNativeMessaging(std::string_view text, int fd);

}  // namespace tessaline
