#!/usr/bin/env bash
# quorsel-scan.exe under Wine against the Linux quorsel-apsim: two simulated access
# points on a /24 of loopback inside a network namespace of its own, a service that
# answers garbage, and the rest of the /24 refusing. Checks the JSON lines, the exit
# status, and that the program imports system DLLs only and holds no signature.
#
#   tests/win32/e2e/scan.sh      (WIN_BUILD_DIR, LINUX_BUILD_DIR as for run.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
WIN_BUILD_DIR=$(cd "$root" && realpath -m "${WIN_BUILD_DIR:-build-windows}")
LINUX_BUILD_DIR=$(cd "$root" && realpath -m "${LINUX_BUILD_DIR:-build}")
export WIN_BUILD_DIR LINUX_BUILD_DIR
if [ -z "${QUORSEL_SCAN_NETNS:-}" ]; then
  export QUORSEL_SCAN_NETNS=1
  if [ "$(id -u)" -eq 0 ]; then exec unshare --net "$0" "$@"; fi
  exec unshare --user --map-root-user --net "$0" "$@"
fi
scan=$WIN_BUILD_DIR/quorsel-scan.exe
apsim=$LINUX_BUILD_DIR/quorsel-apsim
for f in "$scan" "$apsim"; do
  [ -x "$f" ] || { echo "${0##*/}: $f is missing; build it first" >&2; exit 2; }
done

# System DLLs only (WINTRUST: --firmware checks a signed firmware file's signature).
imports=$(x86_64-w64-mingw32-objdump -p "$scan" | sed -n 's/^\tDLL Name: //p' | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
if [ "$imports" != "IPHLPAPI.DLL KERNEL32.DLL MSVCRT.DLL WINTRUST.DLL WSOCK32.DLL " ]; then
  echo "FAIL imports: $imports" >&2
  exit 1
fi

# The container's signature never stands whole in a program.
signature='@Wln'
signature+='$ap@'
if grep -qaF -- "$signature" "$scan"; then
  echo "FAIL quorsel-scan.exe holds the container signature" >&2
  exit 1
fi

ip link set lo up
ip addr add 10.79.1.1/24 dev lo
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
start_apsim() {
  "$apsim" "$@" >"$work/apsim.$#.out" 2>/dev/null &
  pids+=($!)
}
start_apsim --listen 10.79.1.10 --model KRV001 --generation 2
start_apsim --listen 10.79.1.20 --model MXD001 --generation 1
start_apsim --listen 10.79.1.30 --garbage-at inquiry --generation 2 --model KRV001

# The caller's Wine prefix, or a private one; its server must run in this namespace
# (one started outside would own the sockets), so any other is stopped first.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=$work/prefix
fi
wineserver -k >/dev/null 2>&1 || true
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1
wineboot -i >/dev/null 2>&1 || true

status=0
wine "$scan" --json 10.79.1.0/24 >"$work/out" 2>"$work/err" || status=$?
tr -d '\r' <"$work/out" | sort >"$work/sorted"
cat >"$work/expected" <<'JSON'
{"address":"10.79.1.10","accessPoint":true,"model":"KRV001","generation":"new","generationDigit":"2","fits":null}
{"address":"10.79.1.20","accessPoint":true,"model":"MXD001","generation":"old","generationDigit":"1","fits":null}
{"address":"10.79.1.30","accessPoint":false,"result":"not-an-access-point","reason":"answered something other than a model line"}
JSON
if [ "$status" -ne 0 ] || ! diff -u "$work/expected" "$work/sorted"; then
  echo "FAIL quorsel-scan.exe exit $status" >&2
  cat "$work/err" >&2
  exit 1
fi
status=0
wine "$scan" --jobs 0 >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || { echo "FAIL --jobs 0 gave $status, not 2" >&2; exit 1; }
echo "PASS quorsel-scan.exe found both access points and the other service"
