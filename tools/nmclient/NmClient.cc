// tessaline-nm: starts the native messaging host, sends it JSON requests as
// a browser does (each framed by a 4-byte little-endian length) and prints
// each response on its own line.
//
//   tessaline-nm [--host PATH] [--show-requests] [REQUEST...]
//
// Without REQUEST arguments the requests are read from standard input, one
// per line. With --show-requests each request is printed before its
// response, as "> REQUEST" and "< RESPONSE". The host is PATH, else $TESSALINE_HOST, else the host program
// beside this tool.
#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr char kHostName[] = "TessalineHost.TALVEN.x86";

std::string DefaultHost() {
  if (const char* env = std::getenv("TESSALINE_HOST"); env != nullptr && env[0] != '\0') return env;
  std::string self(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (n <= 0) return kHostName;
  self.resize(static_cast<size_t>(n));
  return self.substr(0, self.rfind('/') + 1) + kHostName;
}

bool WriteAll(int fd, const void* data, size_t size) {
  auto* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, void* data, size_t size) {
  auto* bytes = static_cast<uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = read(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool SendFrame(int fd, const std::string& body) {
  const uint32_t n = static_cast<uint32_t>(body.size());
  const uint8_t prefix[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                             static_cast<uint8_t>(n >> 24)};
  return WriteAll(fd, prefix, sizeof(prefix)) && WriteAll(fd, body.data(), body.size());
}

// False when the host closed its output or sent the "too long" marker.
bool ReceiveFrame(int fd, std::string* body) {
  uint8_t prefix[4];
  if (!ReadAll(fd, prefix, sizeof(prefix))) return false;
  const uint32_t n = prefix[0] | prefix[1] << 8 | prefix[2] << 16 | static_cast<uint32_t>(prefix[3]) << 24;
  if (n == 0xFFFFFFFF) return false;
  body->assign(n, '\0');
  return ReadAll(fd, body->data(), n);
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = DefaultHost();
  bool show_requests = false;
  std::vector<std::string> requests;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--host") == 0 && i + 1 < argc) {
      host = argv[++i];
    } else if (std::strcmp(argv[i], "--show-requests") == 0) {
      show_requests = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("usage: %s [--host PATH] [--show-requests] [REQUEST...]\n", argv[0]);
      return 0;
    } else {
      requests.push_back(argv[i]);
    }
  }
  const bool from_stdin = requests.empty();

  int to_host[2];
  int from_host[2];
  if (pipe(to_host) != 0 || pipe(from_host) != 0) {
    std::perror("pipe");
    return 1;
  }
  signal(SIGPIPE, SIG_IGN);
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 1;
  }
  if (child == 0) {
    dup2(to_host[0], STDIN_FILENO);
    dup2(from_host[1], STDOUT_FILENO);
    close(to_host[0]);
    close(to_host[1]);
    close(from_host[0]);
    close(from_host[1]);
    // A browser names the calling extension's origin as the argument.
    execl(host.c_str(), host.c_str(), "chrome-extension://tessaline-nm/", static_cast<char*>(nullptr));
    std::fprintf(stderr, "tessaline-nm: cannot start %s: %s\n", host.c_str(), std::strerror(errno));
    _exit(127);
  }
  close(to_host[0]);
  close(from_host[1]);

  int status = 0;
  std::string line;
  size_t next = 0;
  for (;;) {
    std::string request;
    if (from_stdin) {
      if (!std::getline(std::cin, line)) break;
      if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
      request = line;
    } else {
      if (next == requests.size()) break;
      request = requests[next++];
    }
    std::string response;
    if (!SendFrame(to_host[1], request) || !ReceiveFrame(from_host[0], &response)) {
      std::fprintf(stderr, "tessaline-nm: the host ended without answering\n");
      status = 1;
      break;
    }
    if (show_requests) std::printf("> %s\n< ", request.c_str());
    std::fwrite(response.data(), 1, response.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  close(to_host[1]);
  close(from_host[0]);
  int wait_status = 0;
  while (waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) != 0) {
    std::fprintf(stderr, "tessaline-nm: the host exited with code %d\n", WEXITSTATUS(wait_status));
    status = 1;
  } else if (WIFSIGNALED(wait_status)) {
    std::fprintf(stderr, "tessaline-nm: the host died of signal %d\n", WTERMSIG(wait_status));
    status = 1;
  }
  return status;
}
