// A child process for the benchmarks: started with its standard input and
// output on pipes, fed native messaging frames.
#pragma once

#include <sys/types.h>

#include <string>

namespace tessaline::bench {

struct Child {
  pid_t pid = -1;
  int in = -1;   // its standard input
  int out = -1;  // its standard output
};

// Starts PROGRAM, with ARGUMENT as its one argument unless null; aborts when
// the pipes or the process cannot be made.
Child StartChild(const char* program, const char* argument);

// Waits for the child to end; returns its wait status.
int WaitChild(pid_t pid);

// BODY behind its 32-bit little-endian length.
std::string Frame(const std::string& body);

// Writes all of BYTES; false when the descriptor fails first.
bool WriteAll(int fd, const std::string& bytes);

}  // namespace tessaline::bench
