#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest.
# The test servers (Dovecot, SMTP) are started and stopped by CTest fixtures.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
CMAKE_ARGS="-DKESTRA_WERROR=ON ${CMAKE_ARGS:-}" scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 "$@"
