#!/usr/bin/env bash
# Start-up side by side: the time from starting the program to its first window
# being shown, for Kestra and for Sylpheed (Debian's package), measured the same
# way from outside on one virtual display: the process is started and the
# display is polled until a visible window of that process exists.
# Usage: bench/startup_compare.sh [build-dir] [runs]   (default build, 9 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
RUNS=${2:-9}
command -v sylpheed >/dev/null && command -v xdotool >/dev/null \
  || { echo "needs: apt-get install sylpheed xdotool" >&2; exit 1; }
[ -x "$BUILD_DIR/src/kestra" ] || { echo "build $BUILD_DIR/src/kestra first" >&2; exit 1; }

if [ -z "${KESTRA_BENCH_INNER:-}" ]; then
  export KESTRA_BENCH_INNER=1
  # -noreset: the display server resets whenever its last client leaves and
  # refuses connections meanwhile; a program started at that moment could not
  # open its window ("could not connect to display"), seen once in 20 starts.
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$BUILD_DIR" "$RUNS"
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# Kestra: a POP3 server set, so the main window is the first window.
mkdir -p "$WORK/kestra/data/kestra"
printf 'SMTP=127.0.0.1\r\nPOP3=127.0.0.1\r\nMAIL=bench@example.jp\r\nAPOP=0\r\n' > "$WORK/kestra/data/kestra/kestra.ini"

# Milliseconds from start to the first visible window of the given window
# class; the started process is ended afterwards.
first_window_ms() {
  local class=$1 t0 pid t1
  shift
  t0=$(date +%s%N)
  # Its own session, so that it and every helper process it starts can be ended together.
  setsid "$@" >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 1 3000); do
    if xdotool search --onlyvisible --class "$class" >/dev/null 2>&1; then
      t1=$(date +%s%N)
      kill -KILL -- -"$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
      while xdotool search --class "$class" >/dev/null 2>&1; do sleep 0.05; done
      echo $(((t1 - t0) / 1000000))
      return 0
    fi
    sleep 0.005
  done
  kill -KILL -- -"$pid" 2>/dev/null || true
  echo "no window of $class within 15 s" >&2
  return 1
}

median() { sort -n | awk '{a[NR]=$1} END {if (NR % 2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }

run_kestra() {
  first_window_ms kestra env HOME="$WORK/kestra" XDG_DATA_HOME="$WORK/kestra/data" \
    XDG_CONFIG_HOME="$WORK/kestra/config" XDG_CACHE_HOME="$WORK/kestra/cache" "$BUILD_DIR/src/kestra"
}
# Sylpheed on a fresh profile each time: its first window, whatever it is, and
# its own socket folder, so that no earlier instance is found.
run_sylpheed() {
  local home
  home=$(mktemp -d "$WORK/sylpheed.XXXXXX")
  mkdir "$home/tmp"
  first_window_ms Sylpheed env HOME="$home" TMPDIR="$home/tmp" sylpheed
}

# One start of each first, so that both find their files in the page cache.
run_kestra >/dev/null
run_sylpheed >/dev/null

# A start that shows no window within 15 s (Sylpheed, now and then, on this
# fresh profile) is tried again, up to three times.
again() {
  local out
  for _ in 1 2 3; do
    if out=$("$@"); then
      echo "$out"
      return 0
    fi
  done
  return 1
}

k=()
s=()
for ((i = 1; i <= RUNS; i++)); do
  k+=("$(again run_kestra)")
  s+=("$(again run_sylpheed)")
  echo "run $i: kestra ${k[-1]} ms, sylpheed ${s[-1]} ms"
done
km=$(printf '%s\n' "${k[@]}" | median)
sm=$(printf '%s\n' "${s[@]}" | median)
echo "start to first window shown (Xvfb, median of $RUNS): kestra $km ms, sylpheed $sm ms" \
  "($(awk -v k="$km" -v s="$sm" 'BEGIN {printf "%.2f", k / s}')x; load: $(cut -d' ' -f1-3 /proc/loadavg))"
