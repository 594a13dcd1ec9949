// What a page waits for. Cold start: the browser starts a new host process
// for every one-off message, so one request in a fresh process is the
// latency pages feel. Throughput: many small requests streamed through one
// process. Each is measured beside a minimal echo program, the floor set by
// process start-up and pipes on this machine.
#include <benchmark/benchmark.h>
#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench/support/HostProcess.h"

namespace {

using tessaline::bench::Child;
using tessaline::bench::Frame;
using tessaline::bench::StartChild;
using tessaline::bench::WaitChild;

const std::string kCheckHost = Frame(R"({"function":"checkHost","params":[]})");
const std::string kGetVersion = Frame(R"({"function":"VEXA_GetVersion","params":[]})");

Child Start(const char* program) { return StartChild(program, "chrome-extension://bench/"); }

void WriteAll(int fd, const std::string& bytes) {
  if (!tessaline::bench::WriteAll(fd, bytes)) std::abort();
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
  return WaitChild(child.pid);
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
