// What a page waits for. Cold start: the browser starts a new host process
// for every one-off message, so one request in a fresh process is the
// latency pages feel. Throughput: many small requests streamed through one
// process. Each is measured beside a minimal echo program, the floor set by
// process start-up and pipes on this machine.
#include <benchmark/benchmark.h>
#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

extern char** environ;

namespace {

std::string Frame(const std::string& body) {
  const uint32_t n = static_cast<uint32_t>(body.size());
  std::string frame{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                    static_cast<char>(n >> 24)};
  return frame + body;
}

const std::string kCheckHost = Frame(R"({"function":"checkHost","params":[]})");
const std::string kGetVersion = Frame(R"({"function":"VEXA_GetVersion","params":[]})");

struct Child {
  pid_t pid = -1;
  int in = -1;   // its standard input
  int out = -1;  // its standard output
};

Child Start(const char* program) {
  int to[2];
  int from[2];
  if (pipe(to) != 0 || pipe(from) != 0) std::abort();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, from[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, to[1]);
  posix_spawn_file_actions_addclose(&actions, from[0]);
  char* argv[] = {const_cast<char*>(program), const_cast<char*>("chrome-extension://bench/"), nullptr};
  Child child;
  if (posix_spawn(&child.pid, program, &actions, nullptr, argv, environ) != 0) std::abort();
  posix_spawn_file_actions_destroy(&actions);
  close(to[0]);
  close(from[1]);
  child.in = to[1];
  child.out = from[0];
  return child;
}

void WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) std::abort();
    done += static_cast<size_t>(n);
  }
}

// Reads to the end of the child's output and counts whole frames.
size_t CountResponses(int fd) {
  static thread_local std::string pending;
  pending.clear();
  size_t frames = 0;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    size_t at = 0;
    while (pending.size() - at >= 4) {
      const auto* p = reinterpret_cast<const uint8_t*>(pending.data() + at);
      const uint32_t length = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
      if (pending.size() - at - 4 < length) break;
      at += 4 + length;
      ++frames;
    }
    pending.erase(0, at);
  }
  return frames;
}

int Finish(Child& child) {
  close(child.out);
  int status = 0;
  while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

void ColdStart(benchmark::State& state, const char* program) {
  signal(SIGPIPE, SIG_IGN);
  for (auto _ : state) {
    Child child = Start(program);
    WriteAll(child.in, kCheckHost);
    close(child.in);
    if (CountResponses(child.out) != 1) state.SkipWithError("no response");
    if (Finish(child) != 0) state.SkipWithError("non-zero exit");
  }
}

void Throughput(benchmark::State& state, const char* program) {
  signal(SIGPIPE, SIG_IGN);
  constexpr size_t kRequests = 100000;
  std::string stream;
  for (size_t i = 0; i < kRequests; ++i) stream += (i % 2 == 0) ? kCheckHost : kGetVersion;
  for (auto _ : state) {
    Child child = Start(program);
    std::thread writer([&] {
      WriteAll(child.in, stream);
      close(child.in);
    });
    const size_t responses = CountResponses(child.out);
    writer.join();
    if (responses != kRequests) state.SkipWithError("responses missing");
    if (Finish(child) != 0) state.SkipWithError("non-zero exit");
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRequests));
}

BENCHMARK_CAPTURE(ColdStart, host, TESSALINE_HOST_PATH)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ColdStart, echo, NM_ECHO_PATH)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Throughput, host, TESSALINE_HOST_PATH)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(Throughput, echo, NM_ECHO_PATH)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
