// Every test program runs with its own user and machine scope: before main,
// XDG_DATA_HOME and TESSALINE_MACHINE_DIR point into a fresh temporary
// directory, which is removed at exit. Nothing a test does reaches the real
// user's data.
#pragma once

#include <string>

namespace tessaline::test {

// Points both scopes at new empty directories and closes open connections,
// for tests that need a clean state. Returns the new root directory.
std::string FreshScopes();

// The temporary root of this test program.
const std::string& TestRoot();

}  // namespace tessaline::test
