#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer,
# runs every test, then runs each libFuzzer target briefly on its corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/deps.sh --fuzz

jobs=$(nproc)
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALINE_SANITIZE=ON >/dev/null
cmake --build build-test -j "$jobs"

# The fuzzers are built with clang into their own tree.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSALINE_LIBFUZZER=ON >/dev/null
cmake --build build-fuzz -j "$jobs"
bash tools/fuzz.sh 10

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd build-test && ctest --output-on-failure -j "$jobs"
