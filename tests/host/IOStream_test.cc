// The framing unit on its own, over in-memory files.
#include "host/IOStream.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "tests/host/HostProcess.h"

namespace tessaline {
namespace {

class MemoryFile {
 public:
  explicit MemoryFile(const std::string& content = "") : fd_(memfd_create("frames", 0)) {
    EXPECT_EQ(write(fd_, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    lseek(fd_, 0, SEEK_SET);
  }
  ~MemoryFile() { close(fd_); }
  int fd() const { return fd_; }
  std::string Content() const {
    std::string content(static_cast<size_t>(lseek(fd_, 0, SEEK_END)), '\0');
    EXPECT_EQ(pread(fd_, content.data(), content.size(), 0), static_cast<ssize_t>(content.size()));
    return content;
  }

 private:
  int fd_;
};

TEST(IOStream, ReadsOneBodyWithATerminatingNul) {
  MemoryFile in(test::Frame("{}") + test::Frame("[1]"));
  MessageBuffer text;
  uint32_t length = 99;
  ASSERT_EQ(ReadFromNativeMessaging(&text, in.fd(), &length), 0);
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(std::string(text.get(), 3), std::string("{}\0", 3));
  ASSERT_EQ(ReadFromNativeMessaging(&text, in.fd(), &length), 0);
  EXPECT_EQ(std::string(text.get()), "[1]");
}

TEST(IOStream, NoMessageLengths) {
  for (const std::string& input : {std::string(), test::Prefix(0) + "{}", test::Prefix(0xFFFFFFFF) + "{}"}) {
    MemoryFile in(input);
    MessageBuffer text;
    uint32_t length = 99;
    ASSERT_EQ(ReadFromNativeMessaging(&text, in.fd(), &length), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(text, nullptr);
  }
}

TEST(IOStream, FailuresLeaveTheOutValuesAlone) {
  struct Case {
    std::string input;
    uint64_t max_body;
    int result;
  };
  const Case cases[] = {
      {test::Prefix(5) + "abc", UINT64_MAX, EIO},  // input ends inside the body
      {std::string("\x05\x00", 2), UINT64_MAX, EIO},  // ... or inside the prefix
      {test::Frame("abcdef"), 5, -1},              // more than the loop accepts
  };
  for (const Case& c : cases) {
    MemoryFile in(c.input);
    MessageBuffer text;
    uint32_t length = 99;
    EXPECT_EQ(ReadFromNativeMessaging(&text, in.fd(), &length, c.max_body), c.result);
    EXPECT_EQ(length, 99u);
    EXPECT_EQ(text, nullptr);
  }
  EXPECT_EQ(ReadFromNativeMessaging(nullptr, -1, nullptr), EBADF);
}

TEST(IOStream, WritesPrefixAndTextWithoutTerminator) {
  MemoryFile out;
  ASSERT_EQ(WriteToNativeMessaging("{\"a\":1}", out.fd()), 0);
  EXPECT_EQ(out.Content(), std::string("\x07\x00\x00\x00{\"a\":1}", 11));
}

TEST(IOStream, ResponseLimit) {
  MemoryFile fits;
  ASSERT_EQ(WriteToNativeMessaging(std::string(kMaxResponseBytes, 'x'), fits.fd()), 0);
  EXPECT_EQ(fits.Content().substr(0, 4), std::string("\x00\x00\x10\x00", 4));
  EXPECT_EQ(fits.Content().size(), kMaxResponseBytes + 4);

  MemoryFile too_long;
  EXPECT_EQ(WriteToNativeMessaging(std::string(kMaxResponseBytes + 1, 'x'), too_long.fd()), -1);
  EXPECT_EQ(too_long.Content(), "\xFF\xFF\xFF\xFF");
}

TEST(IOStream, WriteToAClosedReaderFails) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  ASSERT_EQ(SetTranslationMode(), 0);  // also keeps SIGPIPE from ending us
  EXPECT_EQ(WriteToNativeMessaging("{}", fds[1]), -1);
  close(fds[1]);
}

}  // namespace
}  // namespace tessaline
