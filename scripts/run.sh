#!/usr/bin/env bash
# Installs what is missing, builds, and starts Kestra.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # No desktop: run on a virtual display.
  exec xvfb-run -a -s "-screen 0 1280x1024x24" build/src/kestra "$@"
fi
exec build/src/kestra "$@"
