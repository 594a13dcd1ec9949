#include "bench/support/PrivateScopes.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tessaline::bench {

PrivateScopes::PrivateScopes() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/tessaline-bench-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  root_ = pattern;
  setenv("XDG_DATA_HOME", (root_ + "/user").c_str(), 1);
  setenv("TESSALINE_MACHINE_DIR", (root_ + "/machine").c_str(), 1);
}

PrivateScopes::~PrivateScopes() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

}  // namespace tessaline::bench
