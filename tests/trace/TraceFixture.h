// Captures trace statements in memory and leaves the provider off and the
// trace variables unset around each test.
#pragma once

#include <stdlib.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Tessaline/Trace.h"
#include "platform/storage/Database.h"
#include "platform/trace/TraceProvider.h"

namespace tessaline::test {

struct TracedLine {
  uint32_t flag;
  std::string text;
  bool operator==(const TracedLine&) const = default;
};

inline void PrintTo(const TracedLine& line, std::ostream* os) { *os << "{" << line.flag << ", \"" << line.text << "\"}"; }

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("TESSALINE_TRACE");
    unsetenv("TESSALINE_TRACE_FILE");
    UnregisterTraceProvider();
    DisableTraceProvider();
    SetTraceSink([this](uint32_t flag, std::string_view text) { lines_.push_back({flag, std::string(text)}); });
  }
  void TearDown() override {
    UnregisterTraceProvider();
    DisableTraceProvider();
    SetTraceSink(nullptr);
    unsetenv("TESSALINE_TRACE");
    unsetenv("TESSALINE_TRACE_FILE");
    // Registration reads the machine registry. Close those connections while
    // the test program still runs, not from its exit handlers.
    storage::Database::CloseAll();
  }

  // Registers the provider as the host's entry point does, with
  // TESSALINE_TRACE set to FLAGS.
  void RegisterWithFlags(const char* flags) {
    setenv("TESSALINE_TRACE", flags, 1);
    RegisterTraceProvider();
  }

  std::vector<TracedLine> lines_;
};

}  // namespace tessaline::test
