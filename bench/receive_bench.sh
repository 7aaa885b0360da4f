#!/usr/bin/env bash
# Receives COUNT messages (mostly short Japanese texts, some with 100 KB
# attachments, a few of 1 MB) from a private Dovecot server, ROUNDS times in
# turn with a plain Python poplib script (RETR + DELE) that stores nothing:
# the program's whole 受信 run with its folder on the disk, then poplib, so
# that both see the same load. Once more: the mailbox session and expansion
# alone, and the 受信 run with its folder on tmpfs. Prints every round, the
# load average before and after, the medians and their ratios; fails when a
# run received fewer messages than were waiting.
#
#   bench/receive_bench.sh [BUILD_DIR] [COUNT] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
COUNT=${2:-1000}
ROUNDS=${3:-3}
cmake --build "$BUILD_DIR" --target receive_bench >/dev/null
SERVER="$BUILD_DIR/bench-servers/dovecot"
# The runs' application folders stay until the end (see receive_bench.cpp).
FOLDERS=$(mktemp -d)
SHM_FOLDERS=
tests/servers/dovecot.sh start "$SERVER"
trap 'tests/servers/dovecot.sh stop "$SERVER"; rm -rf "$FOLDERS" ${SHM_FOLDERS:+"$SHM_FOLDERS"}' EXIT
read -r PLAIN_PORT _ <"$SERVER/ports"
BENCH="$BUILD_DIR/bench/receive_bench"

fail() {
  echo "receive_bench: $*" >&2
  exit 1
}
# "NAME: W waiting, N fetched|stored, S s, cpu C s, ..." -> "S C", after checking N == COUNT.
figures() {
  local line=$1
  [[ $line =~ ([0-9]+)\ (fetched|stored),\ ([0-9.]+)\ s,\ cpu\ ([0-9.]+)\ s ]] || fail "no figure in: $line"
  [ "${BASH_REMATCH[1]}" -eq "$COUNT" ] || fail "received ${BASH_REMATCH[1]} of $COUNT: $line"
  echo "${BASH_REMATCH[3]} ${BASH_REMATCH[4]}"
}
fill() {
  "$BENCH" fill "$SERVER" "$COUNT" >/dev/null
}
receive() {
  local folder
  folder=$(mktemp -d "$1/run.XXXXXX")
  KESTRA_BENCH_FOLDER=$folder "$BENCH" receive "$SERVER" 2>/dev/null || fail "the receive run failed"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
receive_times=()
poplib_times=()
for round in $(seq "$ROUNDS"); do
  fill
  line=$(receive "$FOLDERS")
  echo "round $round: $line"
  receive_times+=("$(figures "$line")")
  fill
  line=$(/usr/bin/python3 bench/pop3_plain.py "$PLAIN_PORT" bench bench-pass "$SERVER/ca.crt")
  echo "round $round: $line"
  poplib_times+=("$(figures "$line")")
done
fill
session_line=$("$BENCH" session "$SERVER")
echo "$session_line"
session=$(figures "$session_line")
# The same run with the application folder in memory (tmpfs): what is left
# when creating the stored files costs the disk nothing.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  SHM_FOLDERS=$(mktemp -d /dev/shm/receive_bench.XXXXXX)
  fill
  line=$(receive "$SHM_FOLDERS")
  echo "$line (folder on tmpfs)"
  tmpfs=$(figures "$line")
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

# Median of field $1 (1 elapsed, 2 cpu) of the given "S C" pairs.
median() {
  local field=$1
  shift
  printf '%s\n' "$@" | cut -d' ' -f"$field" | sort -g | awk '{v[NR] = $1} END {
    print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
recv=$(median 1 "${receive_times[@]}")
py=$(median 1 "${poplib_times[@]}")
awk -v r="$recv" -v p="$py" -v rc="$(median 2 "${receive_times[@]}")" -v pc="$(median 2 "${poplib_times[@]}")" \
  -v s="$session" -v t="${tmpfs:-}" -v n="$ROUNDS" 'BEGIN {
  split(s, sv, " ")
  printf "median of %d rounds: kestra receive %.3f s (cpu %.3f s), poplib %.3f s (cpu %.3f s)\n", n, r, rc, p, pc
  printf "ratio receive / poplib: %.2f elapsed, %.2f cpu\n", r / p, rc / pc
  printf "ratio session / poplib: %.2f elapsed, %.2f cpu\n", sv[1] / p, sv[2] / pc
  if (t != "") {
    split(t, tv, " ")
    printf "ratio receive on tmpfs / poplib: %.2f elapsed, %.2f cpu\n", tv[1] / p, tv[2] / pc
  }
}'
