#include "bench/support/HostProcess.h"

#include <errno.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

extern char** environ;

namespace tessaline::bench {

Child StartChild(const char* program, const char* argument) {
  int to[2];
  int from[2];
  if (pipe(to) != 0 || pipe(from) != 0) std::abort();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, from[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, to[1]);
  posix_spawn_file_actions_addclose(&actions, from[0]);
  char* argv[] = {const_cast<char*>(program), const_cast<char*>(argument), nullptr};
  Child child;
  if (posix_spawn(&child.pid, program, &actions, nullptr, argv, environ) != 0) std::abort();
  posix_spawn_file_actions_destroy(&actions);
  close(to[0]);
  close(from[1]);
  child.in = to[1];
  child.out = from[0];
  return child;
}

int WaitChild(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

std::string Frame(const std::string& body) {
  const uint32_t n = static_cast<uint32_t>(body.size());
  std::string frame{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                    static_cast<char>(n >> 24)};
  return frame + body;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace tessaline::bench
