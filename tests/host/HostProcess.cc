#include "tests/host/HostProcess.h"

#include <errno.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace tessaline::test {
namespace {

void WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the host stopped reading
    done += static_cast<size_t>(n);
  }
}

}  // namespace

std::string Prefix(uint32_t length) {
  std::string prefix(4, '\0');
  for (int i = 0; i < 4; ++i) prefix[i] = static_cast<char>(length >> (8 * i));
  return prefix;
}

std::string Frame(const std::string& body) { return Prefix(static_cast<uint32_t>(body.size())) + body; }

std::vector<std::string> SplitFrames(const std::string& output, std::string* rest) {
  std::vector<std::string> frames;
  size_t at = 0;
  while (output.size() - at >= 4) {
    const auto* p = reinterpret_cast<const uint8_t*>(output.data() + at);
    const uint32_t n = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
    if (output.size() - at - 4 < n) break;
    frames.push_back(output.substr(at + 4, n));
    at += 4 + static_cast<size_t>(n);
  }
  if (rest != nullptr) *rest = output.substr(at);
  return frames;
}

HostRun RunHost(const InputChunks& input, const HostOptions& options) {
  signal(SIGPIPE, SIG_IGN);
  int to_host[2];
  int from_host[2];
  if (pipe(to_host) != 0 || pipe(from_host) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    dup2(to_host[0], STDIN_FILENO);
    dup2(from_host[1], STDOUT_FILENO);
    close(to_host[0]);
    close(to_host[1]);
    close(from_host[0]);
    close(from_host[1]);
    for (const std::string& variable : options.environment) putenv(const_cast<char*>(variable.c_str()));
    if (options.address_space_limit != 0) {
      const rlimit limit{options.address_space_limit, options.address_space_limit};
      setrlimit(RLIMIT_AS, &limit);
    }
    for (const int fd : options.closed_descriptors) close(fd);
    std::vector<char*> argv{const_cast<char*>(TESSALINE_HOST_PATH)};
    for (const std::string& argument : options.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(TESSALINE_HOST_PATH, argv.data());
    _exit(127);
  }
  close(to_host[0]);
  close(from_host[1]);

  std::thread writer([&input, fd = to_host[1]] {
    for (size_t i = 0; i < input.size(); ++i) {
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      WriteAll(fd, input[i]);
    }
    close(fd);
  });
  HostRun run;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(from_host[0], buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    run.output.append(buffer, static_cast<size_t>(n));
  }
  close(from_host[0]);
  writer.join();
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  return run;
}

}  // namespace tessaline::test
