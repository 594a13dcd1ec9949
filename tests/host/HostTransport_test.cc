// The host program's framing, command line and exit codes, driven through
// pipes.
#include <errno.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/host/HostProcess.h"
#include "tests/support/TestScopes.h"

namespace tessaline::test {
namespace {

const std::string kCheckHost = R"({"function":"checkHost","params":[]})";
const std::string kCheckHostAnswer = R"({"function":"CheckHost","errorcode":0,"result":0})";
constexpr int kExitMinusOne = 255;

std::vector<std::string> Responses(const HostRun& run) {
  std::string rest;
  std::vector<std::string> frames = SplitFrames(run.output, &rest);
  EXPECT_EQ(rest, "") << "output ends inside a frame";
  return frames;
}

struct TransportCase {
  const char* name;
  InputChunks input;
  int exit_code;
  size_t responses;
};

TEST(HostTransport, FramesAndEndOfInput) {
  const std::string request = Frame(kCheckHost);
  const std::vector<TransportCase> cases = {
      {"empty input", {""}, 0, 0},
      {"length 0", {Prefix(0) + request}, 0, 0},
      {"length 0xFFFFFFFF", {Prefix(0xFFFFFFFF) + request}, 0, 0},
      {"back to back, then length 0 ends the loop", {request + request + Prefix(0) + request}, 0, 2},
      {"not JSON, then a valid request", {Frame("\x01\x02 garbage") + request}, 0, 2},
      {"empty body after a NUL", {Frame(std::string("\0{}", 3)) + request}, 0, 2},
      {"prefix and body in pieces", {request.substr(0, 2), request.substr(2, 6), request.substr(8)}, 0, 1},
      {"body cut short", {request + Prefix(100) + "{\"function\""}, EIO, 1},
      {"prefix cut short", {request + request.substr(0, 3)}, EIO, 1},
  };
  for (const TransportCase& c : cases) {
    const HostRun run = RunHost(c.input);
    EXPECT_EQ(run.exit_code, c.exit_code) << c.name;
    const std::vector<std::string> responses = Responses(run);
    EXPECT_EQ(responses.size(), c.responses) << c.name;
    for (const std::string& response : responses) {
      if (response.find("CheckHost") != std::string::npos) {
        EXPECT_EQ(response, kCheckHostAnswer) << c.name;
      }
    }
  }
}

// A browser starts a new host for each message: requests that need no
// storage must neither open nor create a database.
TEST(HostTransport, RequestsWithoutStorageTouchNoDatabase) {
  const std::string scopes = FreshScopes();
  const HostRun run = RunHost({Frame(kCheckHost) + Frame(R"({"function":"VEXA_GetVersion","params":[]})") +
                               Frame(R"({"function":"VEXA_GetCSPInfo","params":[]})") +
                               Frame(R"({"function":"VEXA_SetKeyAlgorithm","params":["SM2"]})") +
                               Frame(R"({"function":"GetLastErrorDesc","params":[]})")});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(Responses(run).size(), 5u);
  EXPECT_NE(access((scopes + "/user/tessaline/user.db").c_str(), F_OK), 0);
  EXPECT_NE(access((scopes + "/machine/machine.db").c_str(), F_OK), 0);
}

TEST(HostTransport, CommandLineSelectsTheMode) {
  struct Case {
    std::vector<std::string> arguments;
    bool serves;
  };
  const std::vector<Case> cases = {
      {{}, true},
      {{"-i"}, false},
      {{"-I"}, false},
      {{"-i", "x"}, true},
      {{"-install"}, true},
      {{"chrome-extension://aaaabbbbccccddddeeeeffffgggghhhh/"}, true},
      {{"/usr/lib/mozilla/native-messaging-hosts/tessaline.json", "tessaline@example.org"}, true},
  };
  for (const Case& c : cases) {
    HostOptions options;
    options.arguments = c.arguments;
    const HostRun run = RunHost({Frame(kCheckHost)}, options);
    const std::string label = c.arguments.empty() ? "no argument" : c.arguments[0];
    EXPECT_EQ(run.exit_code, 0) << label;
    if (c.serves) {
      EXPECT_EQ(run.output, Frame(kCheckHostAnswer)) << label;
    } else {
      EXPECT_EQ(run.output, "") << label;  // install mode neither reads nor writes
    }
  }
}

// Without its standard input or output the host ends with -1 before
// reading; nothing it opens later may take their place and receive frames.
TEST(HostTransport, ClosedStandardDescriptorsEndTheProgram) {
  for (const int fd : {0, 1}) {
    HostOptions options;
    options.closed_descriptors = {fd};
    const HostRun run = RunHost({Frame(kCheckHost)}, options);
    EXPECT_EQ(run.exit_code, kExitMinusOne) << "closed descriptor " << fd;
    EXPECT_EQ(run.output, "") << "closed descriptor " << fd;
  }
}

// The longest answer the browser accepts goes out; one byte more is
// replaced by the marker frame and ends the process with -1.
TEST(HostTransport, ResponseSizeLimit) {
  const size_t empty_id_answer = std::string(R"({"function":"CheckHost","errorcode":0,"result":0,"randomId":""})").size();
  const size_t fitting_id = 1048576 - empty_id_answer;
  auto request = [](size_t id_length) {
    return Frame(R"({"function":"checkHost","params":[],"randomId":")" + std::string(id_length, 'r') + "\"}");
  };

  const HostRun fits = RunHost({request(fitting_id) + Frame(kCheckHost)});
  EXPECT_EQ(fits.exit_code, 0);
  ASSERT_GE(fits.output.size(), 4u);
  EXPECT_EQ(fits.output.substr(0, 4), std::string("\x00\x00\x10\x00", 4));
  EXPECT_EQ(Responses(fits).size(), 2u);

  const HostRun too_long = RunHost({request(fitting_id + 1) + Frame(kCheckHost)});
  EXPECT_EQ(too_long.exit_code, kExitMinusOne);
  EXPECT_EQ(too_long.output, std::string("\xFF\xFF\xFF\xFF", 4));
}

// A length the process cannot allocate ends the loop with -1, not with a
// crash or an abort.
TEST(HostTransport, LengthBeyondAvailableMemoryFailsCleanly) {
  HostOptions options;
#if defined(__SANITIZE_ADDRESS__)
  const char* asan = std::getenv("ASAN_OPTIONS");
  options.environment.push_back(std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") +
                                ":max_allocation_size_mb=256:allocator_may_return_null=1");
#else
  options.address_space_limit = 256ull << 20;
#endif
  const HostRun run = RunHost({Frame(kCheckHost) + Prefix(0xFFFFFFF0) + "{}"}, options);
  EXPECT_EQ(run.exit_code, kExitMinusOne);
  EXPECT_EQ(Responses(run), std::vector<std::string>{kCheckHostAnswer});
}

}  // namespace
}  // namespace tessaline::test
