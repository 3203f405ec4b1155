#!/usr/bin/env bash
# The file that was named, and only that file: quorsel-fleet.exe and quorsel-scan.exe
# under Wine on code page 932 against a Linux quorsel-apsim, inside a network
# namespace of its own.
#   - a firmware file named quorsel-表.exe (and a password file and a report named in
#     Japanese) is found and written;
#   - fw¥KRV001.exe beside a folder fw holding another KRV001.exe: the named file's
#     image is the one written (¥ becomes '\' in code page 932's best fit);
#   - a signed firmware file held open for writing by another program
#     (quorsel-hold-open.exe), changed after signing or not: refused as in use, the
#     access point never contacted;
#   - the long form \\?\ and a path longer than MAX_PATH.
#
#   tests/win32/e2e/files.sh      (WIN_BUILD_DIR, LINUX_BUILD_DIR as for run.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
WIN_BUILD_DIR=$(cd "$root" && realpath -m "${WIN_BUILD_DIR:-build-windows}")
LINUX_BUILD_DIR=$(cd "$root" && realpath -m "${LINUX_BUILD_DIR:-build}")
export WIN_BUILD_DIR LINUX_BUILD_DIR
if [ -z "${QUORSEL_FILES_NETNS:-}" ]; then
  export QUORSEL_FILES_NETNS=1
  if [ "$(id -u)" -eq 0 ]; then exec unshare --net "$0" "$@"; fi
  exec unshare --user --map-root-user --net "$0" "$@"
fi
fleet=$WIN_BUILD_DIR/quorsel-fleet.exe
scan=$WIN_BUILD_DIR/quorsel-scan.exe
updater=$WIN_BUILD_DIR/quorsel.exe
hold=${HOLD_OPEN:-$WIN_BUILD_DIR/quorsel-hold-open.exe}
apsim=$LINUX_BUILD_DIR/quorsel-apsim
pack=$LINUX_BUILD_DIR/quorsel-pack
for f in "$fleet" "$scan" "$updater" "$hold" "$apsim" "$pack"; do
  [ -x "$f" ] || { echo "${0##*/}: $f is missing; build it first" >&2; exit 2; }
done

ip link set lo up
ip addr add 10.79.5.1/24 dev lo
address=10.79.5.10
work=$(mktemp -d)
apsim_pid=""
cleanup() {
  [ -n "$apsim_pid" ] && kill "$apsim_pid" 2>/dev/null || true
  release_hold >/dev/null 2>&1 || true
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
cp "$hold" "$work/quorsel-hold-open.exe"
. "$root/tests/win32/e2e/hold_open.sh"

# Two 2 MiB KRV001 images, packed into the Windows updater.
firmware() {
  head -c $((0x200000)) /dev/urandom >"$work/$1.bin"
  printf 'KRV001' | dd of="$work/$1.bin" bs=1 seek=$((0x200000 - 4096 + 0xFF0)) conv=notrunc status=none
  "$pack" "$updater" "$work/loader.bin" "$work/$1.bin" "$work/$1.exe" >/dev/null
}
head -c 1024 /dev/urandom >"$work/loader.bin"
firmware a
firmware b
mkdir -p "$work/fw" "$work/named" "$work/signed"
cp "$work/a.exe" "$work/named/quorsel-表.exe"
cp "$work/a.exe" "$work/fw¥KRV001.exe"
cp "$work/b.exe" "$work/fw/KRV001.exe"
printf 'デモ\n' >"$work/named/パスワード.txt"
cp "$work/named/パスワード.txt" "$work/password.txt"
# Signed with a throw-away self-signed certificate; a copy with two image bytes changed.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quorsel test vendor" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
QUORSEL_PACK=$pack "$root/scripts/sign-firmware.sh" "$work/cert.pem" "$work/key.pem" "$work/a.exe" \
  "$work/signed/quorsel-KRV001.exe" >/dev/null
mkdir -p "$work/changed"
cp "$work/signed/quorsel-KRV001.exe" "$work/changed/quorsel-KRV001.exe"
"$root/tests/win32/e2e/change_two_image_bytes.py" "$work/changed/quorsel-KRV001.exe" \
  $(( $(stat -c %s "$updater") + 20 + 1024 + 0x100000 ))
# A folder path longer than MAX_PATH (260 characters).
long=$work/long
for _ in 1 2 3; do long=$long/$(printf 'd%.0s' $(seq 100)); done
mkdir -p "$long"
cp "$work/a.exe" "$long/quorsel-KRV001.exe"
# Its Windows name in the long form, made here: winepath cuts names at MAX_PATH.
long_form="\\\\?\\Z:${long//\//\\}\\quorsel-KRV001.exe"

# Wine on code page 932, a private prefix whose server runs in this namespace.
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=$work/prefix
wineserver -k >/dev/null 2>&1 || true
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1
wineboot -i >/dev/null 2>&1 || true

start_apsim() {
  rm -f "$work/flash.bin" "$work/apsim.out" "$work/apsim.log"
  "$apsim" --listen "$address" --model KRV001 --generation 2 --password デモ --flash "$work/flash.bin" \
    >"$work/apsim.out" 2>"$work/apsim.log" &
  apsim_pid=$!
  for _ in $(seq 3000); do [ -s "$work/apsim.out" ] && break; sleep 0.02; done
}
stop_apsim() {
  [ -n "$apsim_pid" ] && { kill "$apsim_pid" 2>/dev/null || true; wait "$apsim_pid" 2>/dev/null || true; }
  apsim_pid=""
}
# The fleet from folder $1 with the rest as its arguments; its exit status in $status.
run_fleet() {
  local folder=$1; shift
  status=0
  (cd "$folder" && wine "$fleet" "$@") >"$work/out" 2>"$work/err" </dev/null || status=$?
}
# Regions 4 and 5 (0xB000 to the end) of the flash hold image $1.
flash_is() { cmp -s <(tail -c +$((0xB000 + 1)) "$work/$1.bin") <(tail -c +$((0xB000 + 1)) "$work/flash.bin" 2>/dev/null); }
never_contacted() { ! grep -q 'connection 1 from' "$work/apsim.log"; }

failures=0
case_done() {
  if [ "$1" -eq 0 ]; then echo "PASS $2"; else
    echo "FAIL $2 (exit status $status)"
    tr -d '\r' <"$work/out" | tail -5 | sed 's/^/  out: /'
    sed 's/^/  err: /' "$work/err" | tail -5
    failures=$((failures + 1))
  fi
  stop_apsim
}

start_apsim
ok=0
run_fleet "$work/named" quorsel-表.exe --password-file パスワード.txt --report 報告.json "$address"
[ "$status" -eq 0 ] && flash_is a && grep -q '"quorsel-表.exe"' "$work/named/報告.json" || ok=1
case_done $ok "fleet: firmware, password file and report named in Japanese"

start_apsim
ok=0
status=0
(cd "$work/named" && wine "$scan" --json --firmware quorsel-表.exe "$address") >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 0 ] && grep -q '"model":"KRV001".*"fits":true' "$work/out" || ok=1
case_done $ok "scan: --firmware quorsel-表.exe"

start_apsim
ok=0
run_fleet "$work" 'fw¥KRV001.exe' --password-file password.txt --report report.json "$address"
[ "$status" -eq 0 ] && flash_is a && ! flash_is b && grep -q '"fw¥KRV001.exe"' "$work/report.json" || ok=1
flash_is b && echo "  the flash holds the image of fw\\KRV001.exe, not of the file named" >&2
case_done $ok "fleet: fw¥KRV001.exe beside fw\\KRV001.exe writes the named file's image"

for kind in changed signed; do
  start_apsim
  ok=0
  hold_open "$work/$kind/quorsel-KRV001.exe" || ok=1
  run_fleet "$work/$kind" quorsel-KRV001.exe --password-file ../password.txt "$address"
  release_hold || ok=1
  [ "$status" -eq 2 ] && grep -q 'the program file is in use' "$work/err" && never_contacted || ok=1
  sed 's/^/  /' "$work/err" | head -1
  label="signed file"
  [ "$kind" = changed ] && label="signed file changed after signing"
  case_done $ok "fleet: $label, held open for writing by another program, is refused as in use"
done

start_apsim
ok=0
status=0
wine "$scan" --json --firmware "$long_form" "$address" \
  >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 0 ] && grep -q '"fits":true' "$work/out" || ok=1
case_done $ok "scan: --firmware in the \\\\?\\ form, longer than MAX_PATH"

start_apsim
ok=0
run_fleet "$work" "$long_form" --password-file password.txt "$address"
[ "$status" -eq 0 ] && flash_is a || ok=1
case_done $ok "fleet: firmware in the \\\\?\\ form, longer than MAX_PATH"

if [ "$failures" -ne 0 ]; then
  echo "files: $failures case(s) failed" >&2
  exit 1
fi
echo "PASS the Windows programs open the file that was named"
