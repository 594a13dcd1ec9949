// A throw-away user and machine scope for a benchmark run: a temporary
// folder both scopes point into, removed with all it holds at the end.
#pragma once

#include <string>

namespace tessaline::bench {

class PrivateScopes {
 public:
  // Aborts when the folder cannot be made.
  PrivateScopes();
  ~PrivateScopes();
  PrivateScopes(const PrivateScopes&) = delete;
  PrivateScopes& operator=(const PrivateScopes&) = delete;

  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

}  // namespace tessaline::bench
