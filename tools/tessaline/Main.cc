// tessaline: shows and manages what the agent keeps on this machine and for
// this user (providers, key containers, certificate stores).
#include <cstring>
#include <exception>
#include <iostream>

#include "tools/tessaline/Command.h"

namespace {

using tessaline::admin::Command;

void PrintHelp(std::ostream& out) {
  out << "usage: tessaline COMMAND [ARGUMENTS]\n\ncommands:\n";
  for (const Command& command : tessaline::admin::Commands()) {
    out << "  " << command.usage << "\n      " << command.summary << "\n";
  }
}

int Run(int argc, char** argv) {
  if (argc < 2) {
    PrintHelp(std::cerr);
    return tessaline::admin::kExitUsage;
  }
  const char* name = argv[1];
  if (std::strcmp(name, "help") == 0 || std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0) {
    PrintHelp(std::cout);
    return tessaline::admin::kExitOk;
  }
  for (const Command& command : tessaline::admin::Commands()) {
    if (std::strcmp(command.name, name) != 0) continue;
    tessaline::admin::Arguments args(argv + 2, argv + argc);
    tessaline::admin::Output io{std::cout, std::cerr};
    const int status = command.run(args, io);
    std::cout.flush();
    return std::cout.good() ? status : tessaline::admin::kExitFailure;
  }
  std::cerr << "tessaline: unknown command '" << name << "'\n";
  PrintHelp(std::cerr);
  return tessaline::admin::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "tessaline: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "tessaline: unexpected failure\n";
  }
  return tessaline::admin::kExitFailure;
}
