#!/usr/bin/env bash
# Builds the whole test suite with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ and runs it. Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
BUILD_DIR=build-asan
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTRA_SANITIZE=ON -DKESTRA_WERROR=ON
fi
cmake --build "$BUILD_DIR"
# Leak reports from the system's font and graphics libraries are not ours:
# leaks are checked by the suppressions file, every other error stops the test.
export ASAN_OPTIONS="abort_on_error=1:detect_stack_use_after_return=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 "$@"
