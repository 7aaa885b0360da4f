#!/usr/bin/env bash
# Memory side by side: the real program and Sylpheed (Debian's package), each
# on a fresh profile on one virtual display, measured from outside after start
# and after receiving COUNT mails from a private Dovecot server (the receive
# bench's mail set). Kestra's browser pane is not used until then, so its web
# engine is not loaded; it is measured once more after the help page has been
# shown in the pane (toolbar Home), the web engine's own processes apart. For
# each: the main process's VmRSS and VmHWM, and the proportional set size (Pss)
# summed over the program and every helper process it started. The floor is a
# bare Qt Widgets window of the main window's size (bench/memory_floor) on the
# same display: what any program on this stack costs.
#
#   bench/memory_compare.sh [BUILD_DIR] [COUNT]     (default build, 1000)
#
# Exits 77 with a message when a tool it needs is missing, 1 when it measured
# nothing (a program that showed no window or received nothing).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=$(realpath "${1:-build}")
COUNT=${2:-1000}

missing=()
for tool in xvfb-run xdotool sylpheed dovecot openssl; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "memory_compare: skipped, missing: ${missing[*]}" >&2
  exit 77
fi
for program in src/kestra bench/receive_bench bench/memory_floor; do
  [ -x "$BUILD_DIR/$program" ] || { echo "memory_compare: build $BUILD_DIR/$program first" >&2; exit 1; }
done

if [ -z "${KESTRA_BENCH_INNER:-}" ]; then
  export KESTRA_BENCH_INNER=1
  # -noreset: the display server resets whenever its last client leaves and
  # refuses connections meanwhile; a program started at that moment could not
  # open its window ("could not connect to display"), seen once in 20 starts.
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$BUILD_DIR" "$COUNT"
fi

WORK=$(mktemp -d)
SERVER="$WORK/dovecot"
started=()
cleanup() {
  for pid in "${started[@]}"; do kill -KILL -- -"$pid" 2>/dev/null || true; done
  tests/servers/dovecot.sh stop "$SERVER" >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT
tests/servers/dovecot.sh start "$SERVER" >/dev/null
read -r PLAIN_PORT _ <"$SERVER/ports"
fill() { "$BUILD_DIR/bench/receive_bench" fill "$SERVER" "$COUNT" >/dev/null; }

# "VmRSS VmHWM Pss processes" in KiB for the program whose session is $1:
# the main process is $2, the Pss is summed over every process of the session.
figures() {
  local sid=$1 main=$2 rss hwm pss=0 n=0 p
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$main/status")
  hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$main/status")
  for p in $(pgrep -s "$sid"); do
    p=$(awk '/^Pss:/ {print $2}' "/proc/$p/smaps_rollup" 2>/dev/null || echo 0)
    pss=$((pss + ${p:-0}))
    n=$((n + 1))
  done
  # A program that has ended measured nothing.
  [ -n "$rss" ] && [ "$pss" -gt 0 ] || return 1
  echo "$rss $hwm $pss $n"
}
# "VmRSS VmHWM Pss processes" summed over the web engine's processes of the session $1.
engine_figures() {
  local rss=0 hwm=0 pss=0 n=0 p
  for p in $(pgrep -s "$1" -x QtWebEngineProc); do
    rss=$((rss + $(awk '/^VmRSS:/ {print $2}' "/proc/$p/status")))
    hwm=$((hwm + $(awk '/^VmHWM:/ {print $2}' "/proc/$p/status")))
    pss=$((pss + $(awk '/^Pss:/ {print $2}' "/proc/$p/smaps_rollup")))
    n=$((n + 1))
  done
  [ "$n" -gt 0 ] || return 1
  echo "$rss $hwm $pss $n"
}
show() {
  local name=$1 when=$2 rss hwm pss n
  read -r rss hwm pss n <<<"$3"
  awk -v a="$name" -v w="$when" -v r="$rss" -v h="$hwm" -v p="$pss" -v n="$n" 'BEGIN {
    printf "%-8s %-20s VmRSS %6.1f MiB  VmHWM %6.1f MiB  Pss of %d processes %6.1f MiB\n", a, w, r / 1024, h / 1024, n, p / 1024
  }'
}

# Waits up to $2 seconds for the command $1 to succeed.
wait_for() {
  local deadline=$((SECONDS + $2))
  until eval "$1"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}
# Waits until the process $1 has used no CPU time for a second.
settle() {
  local before after
  for _ in $(seq 1 60); do
    before=$(awk '{print $14 + $15}' "/proc/$1/stat")
    sleep 1
    after=$(awk '{print $14 + $15}' "/proc/$1/stat")
    [ "$before" != "$after" ] || return 0
  done
}

# Kestra on a fresh folder, trusting the test server's authority (the plain
# port offers STLS), with the browser pane as users have it.
KHOME="$WORK/kestra"
APP="$KHOME/data/kestra"
mkdir -p "$APP/★MAilData"
printf 'SMTP=127.0.0.1\r\nPOP3=127.0.0.1:%s\r\nMAIL=bench@example.jp\r\nAPOP=0\r\n' "$PLAIN_PORT" >"$APP/kestra.ini"
printf '[EXEINI]\r\nNAME=bench\r\nNAME2=bench-pass\r\nNAME3=1\r\n' >"$APP/★MAilData/iniIdPass.ini"
STORE="$APP/★MAilData/kstdata2.data"
RECORD=12284 # bytes of one received record
RECEIVE_SECONDS=$((120 + COUNT / 2))
fill
setsid env HOME="$KHOME" XDG_DATA_HOME="$KHOME/data" XDG_CONFIG_HOME="$KHOME/config" \
  XDG_CACHE_HOME="$KHOME/cache" tests/servers/system_trust.sh "$SERVER/ca.crt" -- "$BUILD_DIR/src/kestra" \
  >"$WORK/kestra.log" 2>&1 &
ksid=$!
started+=("$ksid")
wait_for 'xdotool search --onlyvisible --class kestra >/dev/null 2>&1' 30 \
  || { echo "memory_compare: kestra showed no window" >&2; cat "$WORK/kestra.log" >&2; exit 1; }
kpid=$(pgrep -s "$ksid" -x kestra)
settle "$kpid"
kstart=$(figures "$ksid" "$kpid") || { echo "memory_compare: kestra ended after start" >&2; exit 1; }
# 受信 (Command4) lies at 48, 128 px in the main window.
kwin=$(xdotool search --onlyvisible --class kestra | head -1)
xdotool mousemove --window "$kwin" 48 128 click 1
wait_for "[ \$(stat -c %s '$STORE' 2>/dev/null || echo 0) -ge $((COUNT * RECORD)) ]" "$RECEIVE_SECONDS" \
  || { echo "memory_compare: kestra received $(($(stat -c %s "$STORE" 2>/dev/null || echo 0) / RECORD)) of $COUNT" >&2; exit 1; }
settle "$kpid"
kafter=$(figures "$ksid" "$kpid") || { echo "memory_compare: kestra ended while receiving" >&2; exit 1; }
# The toolbar's Home (the fifth key, at 151, 18 px) shows the help page in the
# pane; the caption shows the page's title once it has loaded. A click right
# after a long receive is sometimes not taken: it is given up to three times.
shown_help() { xdotool search --onlyvisible --name "^ケストラ ヘルプ$" >/dev/null 2>&1; }
for _ in 1 2 3; do
  xdotool mousemove --window "$kwin" 151 18 click 1
  wait_for shown_help 20 && break
done
shown_help || { echo "memory_compare: kestra's pane showed no page" >&2; cat "$WORK/kestra.log" >&2; exit 1; }
settle "$kpid"
kpage=$(figures "$ksid" "$kpid") || { echo "memory_compare: kestra ended showing a page" >&2; exit 1; }
kengine=$(engine_figures "$ksid") || { echo "memory_compare: kestra showed a page without the web engine" >&2; exit 1; }
kill -KILL -- -"$ksid"
wait "$ksid" 2>/dev/null || true

# The floor, started and measured as the program was.
setsid env HOME="$WORK/floor" XDG_DATA_HOME="$WORK/floor" XDG_CONFIG_HOME="$WORK/floor" XDG_CACHE_HOME="$WORK/floor" \
  "$BUILD_DIR/bench/memory_floor" >"$WORK/floor.log" 2>&1 &
fsid=$!
started+=("$fsid")
wait_for 'xdotool search --onlyvisible --name "^memory_floor$" >/dev/null 2>&1' 30 \
  || { echo "memory_compare: the floor showed no window" >&2; cat "$WORK/floor.log" >&2; exit 1; }
fpid=$(pgrep -s "$fsid" -x memory_floor)
settle "$fpid"
floor=$(figures "$fsid" "$fpid") || { echo "memory_compare: the floor ended after start" >&2; exit 1; }
kill -KILL -- -"$fsid"
wait "$fsid" 2>/dev/null || true

# Sylpheed on a fresh profile with one POP3 account, past its first-start
# question for the mailbox folder; a second call with --receive-all makes the
# running one receive, as its 受信 button does.
SHOME="$WORK/sylpheed"
mkdir -p "$SHOME/tmp" "$SHOME/.sylpheed-2.0"
cat >"$SHOME/.sylpheed-2.0/accountrc" <<EOF
[Account: 1]
account_name=bench
is_default=1
name=Bench
address=bench@example.jp
protocol=0
receive_server=127.0.0.1
smtp_server=127.0.0.1
user_id=bench
password=bench-pass
set_popport=1
pop_port=$PLAIN_PORT
ssl_pop=0
use_apop_auth=0
inbox=#mh/Mailbox/inbox
EOF
fill
setsid env HOME="$SHOME" TMPDIR="$SHOME/tmp" sylpheed >"$WORK/sylpheed.log" 2>&1 &
ssid=$!
started+=("$ssid")
wait_for 'xdotool search --onlyvisible --name "^Mailbox setting$" >/dev/null 2>&1' 30 \
  || { echo "memory_compare: sylpheed asked for no mailbox folder" >&2; exit 1; }
xdotool key --window "$(xdotool search --onlyvisible --name '^Mailbox setting$' | head -1)" Return
spid=$(pgrep -s "$ssid" -x sylpheed)
inbox() { find "$SHOME/Mail/inbox" -maxdepth 1 -name '[0-9]*' 2>/dev/null | wc -l; }
wait_for 'xdotool search --onlyvisible --name "Sylpheed" >/dev/null 2>&1' 30 \
  || { echo "memory_compare: sylpheed showed no main window" >&2; exit 1; }
settle "$spid"
sstart=$(figures "$ssid" "$spid") || { echo "memory_compare: sylpheed ended after start" >&2; exit 1; }
env HOME="$SHOME" TMPDIR="$SHOME/tmp" sylpheed --receive-all >>"$WORK/sylpheed.log" 2>&1
wait_for "[ \$(inbox) -ge $COUNT ]" "$RECEIVE_SECONDS" \
  || { echo "memory_compare: sylpheed received $(inbox) of $COUNT" >&2; exit 1; }
settle "$spid"
safter=$(figures "$ssid" "$spid") || { echo "memory_compare: sylpheed ended while receiving" >&2; exit 1; }
kill -KILL -- -"$ssid"
wait "$ssid" 2>/dev/null || true

echo "memory after start and after receiving $COUNT mails (Xvfb, $(nproc) cores; $(uptime | sed 's/.*load/load/'))"
show kestra "after start" "$kstart"
show kestra "after $COUNT mails" "$kafter"
show kestra "+ help page in pane" "$kpage"
show "" "  its engine processes" "$kengine"
show floor "bare Qt window" "$floor"
show sylpheed "after start" "$sstart"
show sylpheed "after $COUNT mails" "$safter"
read -r _ shwm spss _ <<<"$safter"
ratio() {
  local khwm kpss
  read -r _ khwm kpss _ <<<"$2"
  awk -v what="$1" -v kh="$khwm" -v sh="$shwm" -v kp="$kpss" -v sp="$spss" 'BEGIN {
    printf "ratio kestra / sylpheed %s: VmHWM %.2f, Pss %.2f\n", what, kh / sh, kp / sp
  }'
}
ratio "after $COUNT mails, pane never used" "$kafter"
ratio "after $COUNT mails and the help page" "$kpage"
read -r _ fhwm fpss _ <<<"$floor"
awk -v fh="$fhwm" -v sh="$shwm" -v fp="$fpss" -v sp="$spss" 'BEGIN {
  printf "ratio floor / sylpheed after its mails: VmHWM %.2f, Pss %.2f\n", fh / sh, fp / sp
}'
