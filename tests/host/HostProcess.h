// Runs the built host program the way a browser does: bytes into its
// standard input through a pipe, its standard output collected from
// another pipe, its exit code at the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaline::test {

// One piece of input, written after a short pause when it is not the
// first, so that the host sees it in a separate read.
using InputChunks = std::vector<std::string>;

struct HostRun {
  int exit_code = -1;     // 0-255, or 1000 + signal when killed
  std::string output;     // every byte the host wrote
};

struct HostOptions {
  std::vector<std::string> arguments;    // after the program name
  std::vector<std::string> environment;  // NAME=VALUE added to ours, NAME removed
  uint64_t address_space_limit = 0;      // bytes; 0 = none
  std::vector<int> closed_descriptors;   // closed before the program starts
};

HostRun RunHost(const InputChunks& input, const HostOptions& options = {});

// A 4-byte little-endian length followed by BODY.
std::string Frame(const std::string& body);
// The same prefix with any length value and no body.
std::string Prefix(uint32_t length);

// Splits OUTPUT into frame bodies; a trailing incomplete frame is returned
// in *REST.
std::vector<std::string> SplitFrames(const std::string& output, std::string* rest);

}  // namespace tessaline::test
