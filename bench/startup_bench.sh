#!/usr/bin/env bash
# Program start to main window shown, and from the first press of Home to the
# browser pane in place (the web engine loaded then): runs
# startup_bench RUNS times (default 9) on a virtual display and prints every
# figure and the medians. Usage: bench/startup_bench.sh [build-dir] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
RUNS=${2:-9}
BIN="$BUILD_DIR/bench/startup_bench"
[ -x "$BIN" ] || { echo "build $BIN first (cmake --build $BUILD_DIR --target startup_bench)" >&2; exit 1; }

if [ -z "${KESTRA_BENCH_INNER:-}" ]; then
  # One virtual display for all runs, so its own start-up is not counted.
  export KESTRA_BENCH_INNER=1
  # -noreset: the display server resets whenever its last client leaves and
  # refuses connections meanwhile; a program started at that moment could not
  # open its window ("could not connect to display"), seen once in 20 starts.
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$BUILD_DIR" "$RUNS"
fi

# A fresh application folder with a POP3 server set, so that start-up does not
# open the server settings window.
HOME_DIR=$(mktemp -d)
trap 'rm -rf "$HOME_DIR"' EXIT
export XDG_DATA_HOME="$HOME_DIR/data" XDG_CONFIG_HOME="$HOME_DIR/config" XDG_CACHE_HOME="$HOME_DIR/cache"
mkdir -p "$XDG_DATA_HOME/kestra"
printf 'SMTP=127.0.0.1\r\nPOP3=127.0.0.1\r\nMAIL=bench@example.jp\r\nAPOP=0\r\n' > "$XDG_DATA_HOME/kestra/kestra.ini"

median() { sort -g | awk '{a[NR]=$1} END {if (NR % 2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }
shown=()
pane=()
for ((i = 1; i <= RUNS; i++)); do
  t0=$(date +%s%N)
  out=$(KESTRA_BENCH_T0_NS=$t0 "$BIN" 2>/dev/null || true)
  ms=$(sed -n 's/^main window shown after \([0-9.]*\) ms.*/\1/p' <<<"$out")
  pms=$(sed -n 's/^browser pane shown \([0-9.]*\) ms after Home.*/\1/p' <<<"$out")
  [ -n "$ms" ] && [ -n "$pms" ] || { echo "run $i: no figure" >&2; exit 1; }
  echo "run $i: window $ms ms, browser pane $pms ms"
  shown+=("$ms")
  pane+=("$pms")
done
echo "program start to main window shown (Xvfb): median $(printf '%s\n' "${shown[@]}" | median) ms over $RUNS runs"
echo "Home pressed to browser pane in place:       median $(printf '%s\n' "${pane[@]}" | median) ms"
