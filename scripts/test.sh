#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#   1. each libFuzzer target for a short, bounded time (FUZZ_SECONDS, 20 s each);
#   2. the whole suite built with AddressSanitizer and UBSan (build-asan/);
#   3. the whole suite in the normal build (build/), warnings as errors.
# The test servers (Dovecot, SMTP) are started and stopped by CTest fixtures.
# KESTRA_QUICK=1 runs the third step only; arguments go to that step's ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ "${KESTRA_QUICK:-0}" != 1 ]; then
  FUZZ_SECONDS=${FUZZ_SECONDS:-20} scripts/fuzz.sh
  scripts/sanitize.sh
fi
CMAKE_ARGS="-DKESTRA_WERROR=ON ${CMAKE_ARGS:-}" scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 "$@"
