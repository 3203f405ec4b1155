#!/usr/bin/env bash
# LAN update of a 4 MiB range, Windows build under Wine beside the Linux build, in
# the same run against quorsel-apsim on loopback; both report the time beyond the
# run's fixed pauses. Also prints the stripped size of quorsel.exe.
#
# BUILD_DIR (default build-windows): the Windows build with quorsel_win32_lan_bench.exe;
# LINUX_BUILD_DIR (default build): quorsel-pack, quorsel-apsim and quorsel_bench.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
BUILD_DIR=${BUILD_DIR:-build-windows}
LINUX_BUILD_DIR=${LINUX_BUILD_DIR:-build}
RUNS=${RUNS:-5}

work=$(mktemp -d)
apsim=""
cleanup() {
  [ -n "$apsim" ] && kill "$apsim" 2>/dev/null || true
  quorsel_wine_prefix_remove 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# shellcheck source=scripts/wine-env.sh
. "$root/scripts/wine-env.sh"
quorsel_wine_prefix_new

# A 4 MiB image for ZLT010 (model code in the last block) packed into quorsel.exe.
head -c $((0x400000)) /dev/urandom >"$work/image.bin"
printf 'ZLT010' | dd of="$work/image.bin" bs=1 seek=$((0x400000 - 4096 + 0xFF0)) conv=notrunc status=none
head -c 1024 /dev/urandom >"$work/loader.bin"
"$LINUX_BUILD_DIR/quorsel-pack" "$BUILD_DIR/quorsel.exe" "$work/loader.bin" "$work/image.bin" \
  "$work/quorsel-ZLT010.exe" >/dev/null

"$LINUX_BUILD_DIR/quorsel-apsim" --port 0 --model ZLT010 --generation 2 --flash "$work/flash.bin" \
  >"$work/apsim.out" 2>"$work/apsim.log" &
apsim=$!
for _ in $(seq 200); do [ -s "$work/apsim.out" ] && break; sleep 0.02; done
port=$(head -n 1 "$work/apsim.out")

echo "Windows build under Wine (RunUpdate over Windows Sockets 1.1), $RUNS runs:"
wine "$BUILD_DIR/quorsel_win32_lan_bench.exe" "Z:$work/quorsel-ZLT010.exe" "$port" "$RUNS"
echo "Linux build (the same run over POSIX sockets):"
"$LINUX_BUILD_DIR/quorsel_bench" --benchmark_filter=BM_LanUpdate4MiBRange --benchmark_repetitions="$RUNS" \
  --benchmark_report_aggregates_only=true 2>/dev/null | grep -E 'BM_|^-' || true

strip_copy=$work/quorsel-stripped.exe
x86_64-w64-mingw32-strip -o "$strip_copy" "$BUILD_DIR/quorsel.exe"
echo "quorsel.exe: $(stat -c %s "$BUILD_DIR/quorsel.exe") bytes as built, $(stat -c %s "$strip_copy") bytes stripped"
