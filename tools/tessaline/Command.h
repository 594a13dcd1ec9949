// The admin command's subcommands. Each commands file defines its commands
// and registers them with a file-scope CommandRegistrar:
//
//   namespace {
//   int RunProviders(const Arguments& args, Output& out) { ... }
//   const CommandRegistrar kProviders{{"providers", "providers",
//                                      "list the cryptographic providers", RunProviders}};
//   }
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tessaline::admin {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the operation failed
inline constexpr int kExitUsage = 2;    // bad arguments

// The arguments after the command name.
using Arguments = std::vector<std::string>;

struct Output {
  std::ostream& out;  // results
  std::ostream& err;  // messages
};

struct Command {
  const char* name;     // as typed: "certs"
  const char* usage;    // the synopsis after the program name: "certs [--machine] [STORE]"
  const char* summary;  // one line for the help text
  int (*run)(const Arguments& args, Output& io);
};

// Adds COMMAND to the table; a second command with the same name is refused.
bool RegisterCommand(const Command& command);

// The table, sorted by name.
std::vector<Command> Commands();

// Prints "usage: tessaline USAGE" for COMMAND and returns kExitUsage.
int UsageError(const Command& command, Output& io, const std::string& problem);

struct CommandRegistrar {
  explicit CommandRegistrar(const Command& command) { RegisterCommand(command); }
};

}  // namespace tessaline::admin
