// Helpers for tests that use tools we did not write (the openssl command
// line) as oracles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaline::test {

// A temporary directory removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct CommandResult {
  int exit_code;
  std::string output;  // standard output and standard error together
};

// Runs COMMAND with /bin/sh in directory DIR.
CommandResult RunCommand(const std::string& command, const std::string& dir = ".");

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteFileText(const std::string& path, const std::string& text);

}  // namespace tessaline::test
