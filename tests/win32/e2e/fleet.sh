#!/usr/bin/env bash
# quorsel-fleet.exe under Wine against three Linux quorsel-apsim access points on a
# /24 of loopback, inside a network namespace of its own: a Windows firmware file
# (quorsel.exe packed with a 2 MiB image) written to all three at once, the password
# from a file, a JSON report. Checks the exit status, the report and every
# simulator's flash against the image over regions 4 and 5, and that the program
# imports system DLLs only.
#
#   tests/win32/e2e/fleet.sh      (WIN_BUILD_DIR, LINUX_BUILD_DIR as for run.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
WIN_BUILD_DIR=$(cd "$root" && realpath -m "${WIN_BUILD_DIR:-build-windows}")
LINUX_BUILD_DIR=$(cd "$root" && realpath -m "${LINUX_BUILD_DIR:-build}")
export WIN_BUILD_DIR LINUX_BUILD_DIR
if [ -z "${QUORSEL_FLEET_NETNS:-}" ]; then
  export QUORSEL_FLEET_NETNS=1
  if [ "$(id -u)" -eq 0 ]; then exec unshare --net "$0" "$@"; fi
  exec unshare --user --map-root-user --net "$0" "$@"
fi
fleet=$WIN_BUILD_DIR/quorsel-fleet.exe
updater=$WIN_BUILD_DIR/quorsel.exe
apsim=$LINUX_BUILD_DIR/quorsel-apsim
pack=$LINUX_BUILD_DIR/quorsel-pack
for f in "$fleet" "$updater" "$apsim" "$pack"; do
  [ -x "$f" ] || { echo "${0##*/}: $f is missing; build it first" >&2; exit 2; }
done

# System DLLs only (WINTRUST: the runs check a signed firmware file's signature).
imports=$(x86_64-w64-mingw32-objdump -p "$fleet" | sed -n 's/^\tDLL Name: //p' | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
if [ "$imports" != "IPHLPAPI.DLL KERNEL32.DLL MSVCRT.DLL WINTRUST.DLL WSOCK32.DLL " ]; then
  echo "FAIL imports: $imports" >&2
  exit 1
fi

ip link set lo up
ip addr add 10.79.4.1/24 dev lo
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# The Windows firmware file: a 2 MiB image for KRV001 and a loader packed into quorsel.exe.
head -c $((0x200000)) /dev/urandom >"$work/image.bin"
printf 'KRV001' | dd of="$work/image.bin" bs=1 seek=$((0x200000 - 4096 + 0xFF0)) conv=notrunc status=none
head -c 1024 /dev/urandom >"$work/loader.bin"
"$pack" "$updater" "$work/loader.bin" "$work/image.bin" "$work/quorsel-KRV001.exe" >/dev/null

addresses=(10.79.4.10 10.79.4.11 10.79.4.12)
generations=(2 2 1)
for i in 0 1 2; do
  "$apsim" --listen "${addresses[$i]}" --model KRV001 --generation "${generations[$i]}" --password demo \
    --flash "$work/flash-$i.bin" >"$work/apsim-$i.out" 2>"$work/apsim-$i.log" &
  pids+=($!)
done
for i in 0 1 2; do
  for _ in $(seq 250); do [ -s "$work/apsim-$i.out" ] && break; sleep 0.02; done
done

# A private Wine prefix whose server runs in this namespace.
export LANG=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=$work/prefix
wineserver -k >/dev/null 2>&1 || true
mkdir -p "$WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
sleep 0.2

status=0
# Without a console on standard input the fleet asks for nothing: the password comes from a file.
echo demo >"$work/password"
wine "$fleet" "$work/quorsel-KRV001.exe" --jobs 3 --password-file "$work/password" --report "$work/report.json" \
  "${addresses[@]}" </dev/null >"$work/out" 2>"$work/err" || status=$?
fail() {
  echo "FAIL quorsel-fleet.exe: $*" >&2
  tr -d '\r' <"$work/out" | tail -12 >&2
  cat "$work/err" >&2
  exit 1
}
[ "$status" -eq 0 ] || fail "exit status $status"
python3 - "$work/report.json" "${addresses[@]}" <<'PY' || fail "report"
import json, sys
report = json.load(open(sys.argv[1], encoding="utf-8"))
rows = {row["address"]: row for row in report["accessPoints"]}
assert [f["model"] for f in report["firmware"]] == ["KRV001"] and report["regions"] == "fz", report
assert report["finished"] is True and report["exitStatus"] == 0, report
for address in sys.argv[2:]:
    row = rows[address]
    assert row["result"] == "updated" and row["status"] == "STATUS_COMPLETE", row
    assert row["bytesAcknowledged"] == 0x200000 - 0xB000, row
PY
for i in 0 1 2; do
  cmp -s <(tail -c +$((0xB000 + 1)) "$work/image.bin") <(tail -c +$((0xB000 + 1)) "$work/flash-$i.bin") ||
    fail "flash of ${addresses[$i]} differs from the image"
done
grep -q "10.79.4.12: 正常終了" <(tr -d '\r' <"$work/out") || fail "no log line for 10.79.4.12"
echo "PASS quorsel-fleet.exe updated three access points from a Windows firmware file"
