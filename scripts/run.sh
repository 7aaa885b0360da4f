#!/usr/bin/env bash
# Installs what is missing, builds, and starts Kestra.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --run
CMAKE_ARGS="-DBUILD_TESTING=OFF ${CMAKE_ARGS:-}" BUILD_DIR=${BUILD_DIR:-build-run} scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # No desktop: run on a virtual display.
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "${BUILD_DIR:-build-run}"/src/kestra "$@"
fi
exec "${BUILD_DIR:-build-run}"/src/kestra "$@"
