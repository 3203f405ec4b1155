#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each one for a
# bounded time against its seed corpus in tests/fuzz/corpus/. Fails on any crash,
# hang (a single input running over 10 s), leak or sanitizer report.
#   FUZZ_SECONDS   seconds per target (default 60)
#   FUZZ_JOBS      targets run side by side (default 2)
#   FUZZ_TARGETS   which targets (default: all)
#   BUILD_DIR      build directory (default build-fuzz)
#   FUZZ_CXX       the clang C++ compiler (default clang++-14)
# Inputs found to be interesting go to BUILD_DIR/corpus/<target>, crashing inputs to
# BUILD_DIR/artifacts/<target>/; the seed corpus in the repository is not changed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/compiler-cache.sh
BUILD_DIR=${BUILD_DIR:-build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
FUZZ_JOBS=${FUZZ_JOBS:-2}
FUZZ_TARGETS=${FUZZ_TARGETS:-"container command_line reply_reader lan_exchange serial_upload"}

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="${FUZZ_CXX:-clang++-14}" -DQUORSEL_FUZZ=ON -DQUORSEL_TESTS=OFF -DQUORSEL_BENCHMARKS=OFF \
  -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target fuzz_targets

# Scratch files of the targets go to memory when it is there.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_target() {
  local name=$1
  local corpus="$BUILD_DIR/corpus/$name" artifacts="$BUILD_DIR/artifacts/$name/" log="$BUILD_DIR/fuzz-$name.log"
  mkdir -p "$corpus" "$artifacts"
  local status=0
  "$BUILD_DIR/fuzz_$name" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2560 -max_len=16384 \
    -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "tests/fuzz/corpus/$name" >"$log" 2>&1 || status=$?
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$status" -eq 0 ]; then
    echo "fuzz_$name: ${runs:-?} inputs in ${FUZZ_SECONDS} s, no finding"
  else
    echo "fuzz_$name: FAILED (exit $status) after ${runs:-?} inputs; log $log, inputs in $artifacts" >&2
    grep -E 'ERROR|invariant violated|SUMMARY|timeout|Test unit written' "$log" | head -20 >&2 || true
  fi
  return "$status"
}

failed=0
pids=()
names=()
for name in $FUZZ_TARGETS; do
  run_target "$name" &
  pids+=($!)
  names+=("$name")
  if [ "${#pids[@]}" -ge "$FUZZ_JOBS" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
if [ "$failed" -ne 0 ]; then
  echo "fuzzing found a problem" >&2
  exit 1
fi
echo "fuzzing: every target ran ${FUZZ_SECONDS} s without a finding"
