#include "tools/tessaline/Command.h"

#include <algorithm>
#include <cstring>

namespace tessaline::admin {
namespace {

// Filled by static initialisers of the commands files, so it must exist
// before the first of them runs.
std::vector<Command>& Table() {
  static std::vector<Command> table;
  return table;
}

}  // namespace

bool RegisterCommand(const Command& command) {
  auto& table = Table();
  const bool taken = std::any_of(table.begin(), table.end(),
                                 [&](const Command& c) { return std::strcmp(c.name, command.name) == 0; });
  if (taken) return false;
  table.push_back(command);
  return true;
}

std::vector<Command> Commands() {
  std::vector<Command> sorted = Table();
  std::sort(sorted.begin(), sorted.end(),
            [](const Command& a, const Command& b) { return std::strcmp(a.name, b.name) < 0; });
  return sorted;
}

int UsageError(const Command& command, Output& io, const std::string& problem) {
  io.err << "tessaline " << command.name << ": " << problem << "\n"
         << "usage: tessaline " << command.usage << "\n";
  return kExitUsage;
}

}  // namespace tessaline::admin
