#!/usr/bin/env bash
# Receives 1,000 messages (mostly short Japanese texts, some with 100 KB
# attachments, a few of 1 MB) from a private Dovecot server three ways: the
# program's whole 受信 run, its mailbox session and expansion alone, and a plain Python
# poplib script (RETR + DELE); the 受信 run once more with its folder on tmpfs.
# Prints each time, the ratios and peak memory.
#
#   bench/receive_bench.sh [BUILD_DIR] [COUNT]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
COUNT=${2:-1000}
cmake --build "$BUILD_DIR" --target receive_bench >/dev/null
SERVER="$BUILD_DIR/bench-servers/dovecot"
tests/servers/dovecot.sh start "$SERVER"
trap 'tests/servers/dovecot.sh stop "$SERVER"' EXIT
read -r PLAIN_PORT _ <"$SERVER/ports"
BENCH="$BUILD_DIR/bench/receive_bench"

"$BENCH" fill "$SERVER" "$COUNT"
python_line=$(/usr/bin/python3 bench/pop3_plain.py "$PLAIN_PORT" bench bench-pass "$SERVER/ca.crt")
echo "$python_line"
"$BENCH" fill "$SERVER" "$COUNT" >/dev/null
session_line=$("$BENCH" session "$SERVER")
echo "$session_line"
"$BENCH" fill "$SERVER" "$COUNT" >/dev/null
receive_line=$("$BENCH" receive "$SERVER" 2>/dev/null)
echo "$receive_line"
# The same run with the application folder in memory (tmpfs): what is left
# when creating the stored files costs the disk nothing.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  "$BENCH" fill "$SERVER" "$COUNT" >/dev/null
  echo "$(TMPDIR=/dev/shm "$BENCH" receive "$SERVER" 2>/dev/null) (folder on tmpfs)"
fi

seconds() { sed -E 's/.* fetched, ([0-9.]+) s,.*|.* stored, ([0-9.]+) s,.*/\1\2/' <<<"$1"; }
cpu() { sed -E 's/.* cpu ([0-9.]+) s,.*/\1/' <<<"$1"; }
py=$(seconds "$python_line")
session=$(seconds "$session_line")
recv=$(seconds "$receive_line")
awk -v p="$py" -v l="$session" -v r="$recv" -v pc="$(cpu "$python_line")" -v lc="$(cpu "$session_line")" \
  -v rc="$(cpu "$receive_line")" 'BEGIN {
  printf "ratio session / poplib: %.2f elapsed, %.2f cpu\n", l / p, lc / pc
  printf "ratio receive / poplib: %.2f elapsed, %.2f cpu\n", r / p, rc / pc
}'
