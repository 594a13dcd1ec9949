#include "tests/support/TestScopes.h"

#include <stdlib.h>

#include <atomic>
#include <filesystem>

#include "platform/storage/Database.h"

namespace tessaline::test {
namespace {

std::string MakeRoot() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/tessaline-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) abort();
  return pattern;
}

struct ScopeGuard {
  std::string root = MakeRoot();
  ScopeGuard() {
    // Creates the (still empty) connection table before this guard, so that
    // it is destroyed after the guard's CloseAll at exit.
    storage::Database::CloseAll();
    setenv("XDG_DATA_HOME", (root + "/user").c_str(), 1);
    setenv("TESSALINE_MACHINE_DIR", (root + "/machine").c_str(), 1);
  }
  ~ScopeGuard() {
    storage::Database::CloseAll();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
};

ScopeGuard& Guard() {
  static ScopeGuard guard;
  return guard;
}

// Set the environment before any test (or static initialiser) runs.
const bool kInstalled = (Guard(), true);

}  // namespace

const std::string& TestRoot() { return Guard().root; }

std::string FreshScopes() {
  static std::atomic<int> counter{0};
  storage::Database::CloseAll();
  const std::string dir = TestRoot() + "/scope" + std::to_string(counter++);
  setenv("XDG_DATA_HOME", (dir + "/user").c_str(), 1);
  setenv("TESSALINE_MACHINE_DIR", (dir + "/machine").c_str(), 1);
  return dir;
}

}  // namespace tessaline::test
