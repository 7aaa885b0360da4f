#!/usr/bin/env bash
# Fetches COUNT messages (the receive bench's mail set) from a private Dovecot
# over IMAP on loopback, and SLOW_COUNT messages through a link with a 50 ms
# round trip (tests/servers/mail_proxy.py --delay 50), each time with the
# program's IMAP mailbox and with a plain one-command-at-a-time imaplib
# script, side by side in the same run. Prints each time and the two ratios.
#
#   bench/imap_bench.sh [BUILD_DIR] [COUNT] [SLOW_COUNT]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
COUNT=${2:-1000}
SLOW_COUNT=${3:-100}
cmake --build "$BUILD_DIR" --target receive_bench imap_bench >/dev/null
SERVER="$BUILD_DIR/bench-servers/imap-dovecot"
PROXY_PID=""
cleanup() {
  [ -n "$PROXY_PID" ] && kill "$PROXY_PID" 2>/dev/null || true
  tests/servers/dovecot.sh stop "$SERVER"
}
tests/servers/dovecot.sh start "$SERVER"
trap cleanup EXIT
read -r _ _ IMAP_PORT _ <"$SERVER/ports"
FILL="$BUILD_DIR/bench/receive_bench"
BENCH="$BUILD_DIR/bench/imap_bench"
CA="$SERVER/ca.crt"

seconds() { sed -E 's/.* fetched, ([0-9.]+) s,.*/\1/' <<<"$1"; }
# Both clients against one port: imaplib first, then the program (the mail
# stays on the server, so both fetch the same messages).
side_by_side() {
  local port=$1 label=$2 py kestra
  py=$(/usr/bin/python3 bench/imap_plain.py 127.0.0.1 "$port" bench bench-pass "$CA")
  kestra=$("$BENCH" "127.0.0.1:$port" bench bench-pass "$CA")
  echo "$label"
  echo "  $py"
  echo "  $kestra"
  awk -v p="$(seconds "$py")" -v k="$(seconds "$kestra")" -v l="$label" \
    'BEGIN { printf "  ratio kestra / imaplib (%s): %.2f\n", l, k / p }'
}

"$FILL" fill "$SERVER" "$COUNT"
side_by_side "$IMAP_PORT" "loopback, $COUNT messages"

"$FILL" fill "$SERVER" "$SLOW_COUNT" >/dev/null
LOG=$(mktemp)
coproc PROXY { exec /usr/bin/python3 tests/servers/mail_proxy.py --target "$IMAP_PORT" --delay 50 --log "$LOG"; }
read -r SLOW_PORT <&"${PROXY[0]}"
side_by_side "$SLOW_PORT" "50 ms round trip, $SLOW_COUNT messages"
rm -f "$LOG"
