#!/usr/bin/env bash
# Configures and builds incrementally into build/ (or $BUILD_DIR). CMAKE_ARGS,
# when given, are applied to the cached configuration; settings already in the
# cache stay as they are otherwise, so nothing is rebuilt without need.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-}
elif [ -n "${CMAKE_ARGS:-}" ]; then
  cmake -S . -B "$BUILD_DIR" ${CMAKE_ARGS} > /dev/null
fi
cmake --build "$BUILD_DIR"
