#!/usr/bin/env bash
# Receiving hostile mail as a user would, from a private Dovecot server: the
# whole 受信 run for three hostile mails and an ordinary one (elapsed time),
# then for one message of 32 MiB (peak memory against the message size).
# Also prints the decoders' time per MB at 1x and 10x (hostile_bench).
#
#   bench/hostile_receive.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
cmake --build "$BUILD_DIR" --target receive_bench hostile_bench >/dev/null
"$BUILD_DIR/bench/hostile_bench"
SERVER="$BUILD_DIR/bench-servers/dovecot"
tests/servers/dovecot.sh start "$SERVER"
trap 'tests/servers/dovecot.sh stop "$SERVER"' EXIT
BENCH="$BUILD_DIR/bench/receive_bench"
"$BENCH" fill-hostile "$SERVER"
"$BENCH" receive "$SERVER" || true
"$BENCH" fill-big "$SERVER"
"$BENCH" receive "$SERVER" || true
