#!/usr/bin/env bash
# A 4 MiB range (regions 1 to 5 of a 4 MiB model, 1023 blocks, old generation) moved
# three ways against the same quorsel-apsim, timed by the peer from the range
# connection's open to its close:
#   dialogs  the packed Windows firmware file under Wine with its Win32 dialogs (the
#            address on the command line; the dialog driver presses OK at the end)
#   linux    the packed Linux firmware file (terminal front-end)
#   bare     quorsel_win32_bare_send_loop.exe under the same Wine: one send per
#            block and one recv per reply, nothing else
# The three take turns, RUNS rounds (default 5); the medians are printed last.
# BASELINE_EXE (optional) names another quorsel.exe, packed and run with its dialogs
# in the same rounds, so that two builds are compared under the same load.
# SERVER_TRACE=1: then one more run of the dialogs and of the bare loop, each under a
# Wine server that traces its requests (wineserver -f -d1), and the requests per block
# of each thread that makes at least one per two blocks (untimed: tracing is slow).
# The peer's event lines are stamped as they arrive by a small reader on its
# standard error, so no clock of the programs measured is used.
#
# BUILD_DIR (default build-windows): quorsel.exe, quorsel-dialog-driver.exe and
# quorsel_win32_bare_send_loop.exe (configure with -DQUORSEL_TESTS=ON);
# LINUX_BUILD_DIR (default build): quorsel, quorsel-pack and quorsel-apsim.
# Runs in a network namespace of its own with only loopback, on a display of its own.
set -euo pipefail
if [ -z "${QUORSEL_BENCH_NETNS:-}" ]; then
  export QUORSEL_BENCH_NETNS=1
  if [ "$(id -u)" -eq 0 ]; then exec unshare --net "$0" "$@"; fi
  exec unshare --user --map-root-user --net "$0" "$@"
fi
ip link set lo up
if [ -n "${BASELINE_EXE:-}" ]; then BASELINE_EXE=$(realpath "$BASELINE_EXE"); fi
cd "$(dirname "$0")/.."
root=$PWD
BUILD_DIR=$(realpath -m "${BUILD_DIR:-build-windows}")
LINUX_BUILD_DIR=$(realpath -m "${LINUX_BUILD_DIR:-build}")
RUNS=${RUNS:-5}
PORT=9002
RANGE_START=$((0x1000))
RANGE_LENGTH=$((0x400000 - 0x1000))

for f in "$BUILD_DIR/quorsel.exe" "$BUILD_DIR/quorsel-dialog-driver.exe" "$BUILD_DIR/quorsel_win32_bare_send_loop.exe" \
         "$LINUX_BUILD_DIR/quorsel" "$LINUX_BUILD_DIR/quorsel-pack" "$LINUX_BUILD_DIR/quorsel-apsim"; do
  [ -x "$f" ] || { echo "${0##*/}: $f is missing; build it first" >&2; exit 2; }
done

work=$(mktemp -d)
apsim=""
xvfb=""
cleanup() {
  [ -n "$apsim" ] && kill "$apsim" 2>/dev/null || true
  quorsel_wine_prefix_remove 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=scripts/wine-env.sh
. "$root/scripts/wine-env.sh"
wineserver -k >/dev/null 2>&1 || true
quorsel_wine_prefix_new
display=90
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.05; done
export DISPLAY=":$display"

# A 4 MiB image for ZLT010 (model code in the last block), packed for both systems.
head -c $((0x400000)) /dev/urandom >"$work/image.bin"
printf 'ZLT010' | dd of="$work/image.bin" bs=1 seek=$((0x400000 - 4096 + 0xFF0)) conv=notrunc status=none
head -c 1024 /dev/urandom >"$work/loader.bin"
"$LINUX_BUILD_DIR/quorsel-pack" "$BUILD_DIR/quorsel.exe" "$work/loader.bin" "$work/image.bin" \
  "$work/quorsel-ZLT010.exe" >/dev/null
"$LINUX_BUILD_DIR/quorsel-pack" "$LINUX_BUILD_DIR/quorsel" "$work/loader.bin" "$work/image.bin" \
  "$work/quorsel-ZLT010" >/dev/null
if [ -n "${BASELINE_EXE:-}" ]; then
  mkdir -p "$work/baseline"
  "$LINUX_BUILD_DIR/quorsel-pack" "$BASELINE_EXE" "$work/loader.bin" "$work/image.bin" \
    "$work/baseline/quorsel-ZLT010.exe" >/dev/null
fi
cp "$BUILD_DIR/quorsel-dialog-driver.exe" "$BUILD_DIR/quorsel_win32_bare_send_loop.exe" "$work/"

# The peer, its event lines stamped with the reader's monotonic clock.
"$LINUX_BUILD_DIR/quorsel-apsim" --model ZLT010 --generation 1 --port "$PORT" \
  2> >(python3 -u -c '
import sys, time
for line in sys.stdin:
    sys.stdout.write("%.6f %s" % (time.monotonic(), line))
    sys.stdout.flush()
' >"$work/events.log") >"$work/apsim.out" &
apsim=$!
for _ in $(seq 200); do [ -s "$work/apsim.out" ] && break; sleep 0.02; done

# Waits until the peer has closed the range connection of the run that began with
# event line $1; prints the seconds from its open to its close.
range_time() {
  local from=$1
  for _ in $(seq 600); do
    if tail -n +"$from" "$work/events.log" | grep -q 'range accepted'; then
      local result
      result=$(tail -n +"$from" "$work/events.log" | awk '
        / connection [0-9]+ from / { open = $1; n = $4 }
        / range accepted/ { seen = n }
        seen != "" && $0 ~ (" connection " seen " closed") { printf "%.3f\n", $1 - open; exit }')
      if [ -n "$result" ]; then echo "$result"; return 0; fi
    fi
    sleep 0.1
  done
  echo "no range within 60 s" >&2
  return 1
}
next_line() { echo $(($(wc -l <"$work/events.log") + 1)); }

# $1: the folder of the firmware file (default the work folder).
run_dialogs() {
  local from folder=${1:-$work}
  from=$(next_line)
  (cd "$folder" && wine ./quorsel-ZLT010.exe -epfz 127.0.0.1 >/dev/null 2>&1) &
  local updater=$!
  range_time "$from"
  # The completion box and the progress dialog's OK, after the range.
  (cd "$work" && QUORSEL_APP_TITLE=quorsel-ZLT010 wine ./quorsel-dialog-driver.exe \
     box COMPLETION_BOX icon click progress 1) >&2
  wait "$updater"
}
run_linux() {
  local from
  from=$(next_line)
  (cd "$work" && env -u DISPLAY ./quorsel-ZLT010 -epfz 127.0.0.1 </dev/null >/dev/null 2>&1)
  range_time "$from"
}
run_bare() {
  local from
  from=$(next_line)
  (cd "$work" && wine ./quorsel_win32_bare_send_loop.exe "$PORT" "$RANGE_START" "$RANGE_LENGTH" >&2)
  range_time "$from"
}

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One run of the Wine programs first, so the prefix's start-up is not measured.
(cd "$work" && wine ./quorsel_win32_bare_send_loop.exe "$PORT" "$RANGE_START" "$RANGE_LENGTH" >&2)
: >"$work/dialogs.txt"; : >"$work/linux.txt"; : >"$work/bare.txt"; : >"$work/baseline.txt"
for round in $(seq "$RUNS"); do
  d=$(run_dialogs); l=$(run_linux); b=$(run_bare)
  extra=""
  if [ -n "${BASELINE_EXE:-}" ]; then
    o=$(run_dialogs "$work/baseline")
    echo "$o" >>"$work/baseline.txt"
    extra=", baseline dialogs $o s"
  fi
  echo "round $round: dialogs $d s, linux $l s, bare loop $b s$extra"
  echo "$d" >>"$work/dialogs.txt"; echo "$l" >>"$work/linux.txt"; echo "$b" >>"$work/bare.txt"
done
header=$(grep -m1 'range header:' "$work/events.log" | cut -d' ' -f2- || true)
echo "peer: ${header#quorsel-apsim: }"
md=$(median <"$work/dialogs.txt"); ml=$(median <"$work/linux.txt"); mb=$(median <"$work/bare.txt")
echo "median over $RUNS runs, range connection open to close at the peer:"
echo "  Windows firmware file with its dialogs under Wine: $md s"
echo "  Linux firmware file:                               $ml s"
echo "  bare Windows Sockets 1.1 loop under Wine:          $mb s"
if [ -n "${BASELINE_EXE:-}" ]; then
  echo "  baseline ($BASELINE_EXE) with its dialogs:  $(median <"$work/baseline.txt") s"
fi
awk -v d="$md" -v b="$mb" 'BEGIN { printf "  dialogs / bare loop: %.2f\n", d / b }'

# Wine server requests per block, from the server's own trace of one run.
requests_per_block() {
  python3 - "$1" <<'PY'
import collections, re, sys
BLOCKS = 1023
counts = collections.Counter()
for line in open(sys.argv[1], errors="replace"):
    m = re.match(r"^([0-9a-f]{4}): ([a-z_]+)\( ", line)
    if m:
        counts[m.groups()] += 1
threads = collections.defaultdict(list)
for (thread, request), n in counts.most_common():
    if n >= BLOCKS / 2:
        threads[thread].append((request, n / BLOCKS))
for thread, requests in threads.items():
    total = sum(n for _, n in requests)
    print("    thread %s: %.1f (%s)" % (thread, total, ", ".join("%s %.2f" % r for r in requests)))
PY
}
traced() {  # name, then the command
  local name=$1; shift
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w 2>/dev/null || true
  wineserver -f -d1 2>"$work/$name.trace" &
  local server=$!
  "$@" >/dev/null
  wineserver -k >/dev/null 2>&1 || true
  wait "$server" || true
  echo "  $name, server requests per block:"
  requests_per_block "$work/$name.trace"
}
if [ "${SERVER_TRACE:-0}" = 1 ]; then
  traced dialogs run_dialogs
  traced "bare loop" run_bare
fi
