#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   scripts/fuzz.sh            30 seconds per target
#   FUZZ_SECONDS=3600 scripts/fuzz.sh    a longer run
#   scripts/fuzz.sh fuzz_cp932           one target
# Seeds come from fuzz/corpus/<target>; new inputs go to build-fuzz/corpus.
# A crash stops the run and leaves its input in build-fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
FUZZ_SECONDS=${FUZZ_SECONDS:-30}
BUILD_DIR=build-fuzz
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRA_FUZZ=ON
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=($(ls fuzz/fuzz_*.cpp | xargs -n1 basename | sed 's/\.cpp$//'))
fi
cmake --build "$BUILD_DIR" --target "${targets[@]}"
mkdir -p "$BUILD_DIR/artifacts" "$BUILD_DIR/logs"
# UBSan reports stop the target like a crash does.
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
for t in "${targets[@]}"; do
  seeds="fuzz/corpus/${t#fuzz_}"
  work="$BUILD_DIR/corpus/$t"
  log="$BUILD_DIR/logs/$t.log"
  mkdir -p "$work"
  echo "== $t: ${FUZZ_SECONDS}s"
  status=0
  # The decoders of received mail must take time in proportion to their
  # input: they get inputs up to 1 MB and a few seconds each, so a slow
  # (quadratic) input is reported like a crash.
  limits=()
  case "$t" in
    fuzz_message|fuzz_charsets) limits=(-max_len=1048576 -timeout=5) ;;
  esac
  QT_QPA_PLATFORM=offscreen "$BUILD_DIR/fuzz/$t" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=4096 "${limits[@]}" \
    -artifact_prefix="$BUILD_DIR/artifacts/$t-" -print_final_stats=1 "$work" "$seeds" >"$log" 2>&1 || status=$?
  grep -E "^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::average_exec_per_sec)" "$log" || true
  if [ "$status" -ne 0 ]; then
    echo "== $t stopped with status $status; the input is in $BUILD_DIR/artifacts/, the whole log in $log" >&2
    grep -E -A40 "==[0-9]+==ERROR|ERROR: libFuzzer|runtime error|Test unit written" "$log" | head -80 >&2 || tail -40 "$log" >&2
    exit 1
  fi
done
