#!/usr/bin/env bash
# Runs the test suite again under the sanitizers:
#   - AddressSanitizer + UndefinedBehaviorSanitizer (build-asan): every test;
#   - ThreadSanitizer (build-tsan): the tests that run worker threads (engine,
#     end-to-end, reliability and soak runs, the search in its namespace and the
#     front-ends' portable models with their search thread).
# The desktop GUI and the benchmarks are left out of these builds. Every
# sanitizer report of every process the tests start (the updater, the simulator,
# the packer) goes to a file; the script fails when a test fails or any report
# was written. Each build directory gets ctest's JUnit report, ctest-junit.xml.
#   SANITIZERS   which builds: "asan tsan" (default), "asan" or "tsan"
#   ASAN_BUILD_DIR, TSAN_BUILD_DIR   build directories
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/compiler-cache.sh
SANITIZERS=${SANITIZERS:-"asan tsan"}
ASAN_BUILD_DIR=${ASAN_BUILD_DIR:-build-asan}
TSAN_BUILD_DIR=${TSAN_BUILD_DIR:-build-tsan}
JOBS=$(nproc)

# -O1 with line tables only: reports keep their file and line, and the builds take
# about half as long as with full optimisation and debug information.
configure() {  # directory, extra cmake arguments...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" \
    -DQUORSEL_BENCHMARKS=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON "$@" >/dev/null
}

# Fails when a report file exists in $1, and prints the reports.
check_reports() {
  local dir=$1 what=$2
  if compgen -G "$dir/*" >/dev/null; then
    echo "$what: sanitizer reports:" >&2
    for report in "$dir"/*; do
      echo "--- $report" >&2
      head -60 "$report" >&2
    done
    return 1
  fi
  echo "$what: no sanitizer report"
}

status=0
for sanitizer in $SANITIZERS; do
  reports=$(mktemp -d)
  case "$sanitizer" in
    asan)
      start=$SECONDS
      configure "$ASAN_BUILD_DIR" -DQUORSEL_SANITIZE=ON
      cmake --build "$ASAN_BUILD_DIR" -j"$JOBS"
      built=$SECONDS
      (
        cd "$ASAN_BUILD_DIR"
        ASAN_OPTIONS="log_path=$reports/asan:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1" \
        UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1" \
          ctest --output-on-failure -j"$JOBS" --timeout 900 --output-junit "$PWD/ctest-junit.xml"
      ) || status=1
      check_reports "$reports" "AddressSanitizer/UndefinedBehaviorSanitizer" || status=1
      echo "asan: build $((built - start)) s, tests $((SECONDS - built)) s"
      ;;
    tsan)
      start=$SECONDS
      configure "$TSAN_BUILD_DIR" -DQUORSEL_TSAN=ON
      cmake --build "$TSAN_BUILD_DIR" -j"$JOBS" --target engine_tests e2e_tests reliability_tests soak_tests \
        search_netns_tests ui_tests
      built=$SECONDS
      (
        cd "$TSAN_BUILD_DIR"
        TSAN_OPTIONS="log_path=$reports/tsan:halt_on_error=1:second_deadlock_stack=1" \
          ctest --output-on-failure -j"$JOBS" --timeout 900 -L 'engine|e2e|reliability|soak|ui$' \
            --output-junit "$PWD/ctest-junit.xml"
      ) || status=1
      check_reports "$reports" "ThreadSanitizer" || status=1
      echo "tsan: build $((built - start)) s, tests $((SECONDS - built)) s"
      ;;
    *)
      echo "unknown sanitizer: $sanitizer" >&2
      exit 2
      ;;
  esac
  rm -rf "$reports"
done
exit "$status"
