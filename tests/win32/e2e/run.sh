#!/usr/bin/env bash
# End-to-end tests of the Windows updater: the packed quorsel-KRV001.exe runs under
# Wine against the Linux quorsel-apsim, and quorsel-dialog-driver works its dialogs
# the way a person would. Checked each time: the status line (control 1022), the
# completion box, the exit status and the simulator's flash against the image.
#
#   tests/win32/e2e/run.sh [CASE...]     (CASE: a function name below; default all)
#
# WIN_BUILD_DIR (default build-windows) holds quorsel.exe and quorsel-dialog-driver.exe,
# LINUX_BUILD_DIR (default build) quorsel-pack and quorsel-apsim. A WINEPREFIX given
# by the caller is used (scripts/wine-env.sh prepares one when it exists); otherwise
# a private one is made and removed. Everything runs in a network namespace of its
# own with only loopback, so port 9002 is free and no traffic leaves the machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
WIN_BUILD_DIR=$(cd "$root" && realpath -m "${WIN_BUILD_DIR:-build-windows}")
LINUX_BUILD_DIR=$(cd "$root" && realpath -m "${LINUX_BUILD_DIR:-build}")
export WIN_BUILD_DIR LINUX_BUILD_DIR

if [ -z "${QUORSEL_WIN_E2E_NETNS:-}" ]; then
  export QUORSEL_WIN_E2E_NETNS=1
  if [ "$(id -u)" -eq 0 ]; then
    exec unshare --net "$0" "$@"
  fi
  exec unshare --user --map-root-user --net "$0" "$@"
fi
ip link set lo up

for f in "$WIN_BUILD_DIR/quorsel.exe" "$WIN_BUILD_DIR/quorsel-dialog-driver.exe" \
         "$LINUX_BUILD_DIR/quorsel-pack" "$LINUX_BUILD_DIR/quorsel-apsim"; do
  [ -x "$f" ] || { echo "run.sh: $f is missing; build it first" >&2; exit 2; }
done

work=$(mktemp -d)
xvfb=""
apsim=""
own_prefix=""
cleanup() {
  [ -n "$apsim" ] && kill "$apsim" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  [ -n "$own_prefix" ] && rm -rf "$own_prefix"
  rm -rf "$work"
}
trap cleanup EXIT

# Wine: code page 932, no debug output, a private prefix.
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -f "$root/scripts/wine-env.sh" ]; then
  # shellcheck source=/dev/null
  . "$root/scripts/wine-env.sh"
fi
if [ -z "${WINEPREFIX:-}" ]; then
  own_prefix=$(mktemp -d)
  export WINEPREFIX=$own_prefix/prefix
fi
# A server started outside this namespace would own the sockets: start afresh here.
wineserver -k 2>/dev/null || true

# A display of our own for the dialogs.
display=90
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.05; done
export DISPLAY=":$display"

# The template font "ＭＳ Ｐゴシック" is drawn with IPAPGothic.
wineboot -i >/dev/null 2>&1 || true
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v 'ＭＳ Ｐゴシック' \
  /t REG_SZ /d IPAPGothic /f >/dev/null 2>&1
# COM2 names a device that does not exist: the port-open error.
wine reg add 'HKLM\Software\Wine\Ports' /v COM2 /t REG_SZ /d /nonexistent/quorsel-com2 /f >/dev/null 2>&1
wineserver -k 2>/dev/null || true

# The firmware: a 2 MiB image for KRV001 (model code in the trailer block) and a
# 1 KiB loader, packed into the Windows updater.
head -c $((0x200000)) /dev/urandom >"$work/image.bin"
printf 'KRV001' | dd of="$work/image.bin" bs=1 seek=$((0x200000 - 4096 + 0xFF0)) conv=notrunc status=none
head -c 1024 /dev/urandom >"$work/loader.bin"
"$LINUX_BUILD_DIR/quorsel-pack" "$WIN_BUILD_DIR/quorsel.exe" "$work/loader.bin" "$work/image.bin" \
  "$work/quorsel-KRV001.exe" >/dev/null
cp "$WIN_BUILD_DIR/quorsel-dialog-driver.exe" "$work/"
export QUORSEL_APP_TITLE=quorsel-KRV001

failures=0
log() { printf '%s\n' "$*"; }

start_apsim() {
  rm -f "$work/flash.bin" "$work/apsim.out"
  "$LINUX_BUILD_DIR/quorsel-apsim" --model KRV001 --flash "$work/flash.bin" "$@" \
    >"$work/apsim.out" 2>"$work/apsim.log" &
  apsim=$!
  for _ in $(seq 200); do [ -s "$work/apsim.out" ] && break; sleep 0.02; done
}
stop_apsim() {
  if [ -n "$apsim" ]; then
    kill "$apsim" 2>/dev/null || true
    wait "$apsim" 2>/dev/null || true
    apsim=""
  fi
}
start_updater() {
  rm -f "$work/updater.rc"
  (cd "$work" && { wine ./quorsel-KRV001.exe "$@" >"$work/updater.log" 2>&1; echo $? >"$work/updater.rc"; }) &
}
drive() { (cd "$work" && wine ./quorsel-dialog-driver.exe "$@"); }
# Waits for the updater to end and checks its exit status.
updater_ended_with() {
  for _ in $(seq 1200); do [ -s "$work/updater.rc" ] && break; sleep 0.1; done
  local rc
  rc=$(cat "$work/updater.rc" 2>/dev/null || echo none)
  if [ "$rc" != "$1" ]; then
    echo "  exit status $rc, expected $1" >&2
    return 1
  fi
}
# The simulator's flash holds the image's bytes over START..START+LENGTH-1.
flash_holds() {
  cmp -s <(tail -c +$(($1 + 1)) "$work/image.bin" | head -c $(($2))) \
         <(tail -c +$(($1 + 1)) "$work/flash.bin" 2>/dev/null | head -c $(($2))) ||
    { echo "  the flash differs from the image over $1 + $2" >&2; return 1; }
}
# Leaves no updater behind after a failed case.
end_case() {
  stop_apsim
  wineserver -k 2>/dev/null || true
  rm -f "$work/updater.rc"
}
selected=("$@")
run_case() {
  local name=$1; shift
  if [ "${#selected[@]}" -gt 0 ] && ! printf '%s\n' "${selected[@]}" | grep -qx "$1"; then return 0; fi
  local started=$SECONDS
  if "$@"; then
    log "PASS $name ($((SECONDS - started)) s)"
  else
    log "FAIL $name"
    sed 's/^/  updater: /' "$work/updater.log" 2>/dev/null | tail -5 >&2 || true
    sed 's/^/  apsim: /' "$work/apsim.log" 2>/dev/null | tail -5 >&2 || true
    failures=$((failures + 1))
  fi
  end_case
}

# Regions 4 and 5 of the 2 MiB layout: 0xB000 to the end.
DEFAULT_START=$((0xB000))
DEFAULT_LENGTH=$((0x200000 - 0xB000))

# New generation through the settings dialog and the password dialog.
lan_new_generation() {
  start_apsim --generation 2 --password demo --exit-after-ranges 1
  start_updater
  drive wait settings text settings 1016 LAN_RADIO visible settings 1013 0 \
        set settings 1004 127.0.0.1 click settings 1 \
        wait password text password -1 PASSWORD_PROMPT set password 1004 demo click password 1 \
        box COMPLETION_BOX icon status COMPLETE visible progress 1 1 enabled progress 2 1 click progress 1 &&
    updater_ended_with 0 && flash_holds $DEFAULT_START $DEFAULT_LENGTH
}

# Old generation from the command line: no settings, no password; a first address
# that is no address shows the settings dialog again.
lan_old_generation() {
  start_apsim --generation 1 --exit-after-ranges 1
  start_updater -pf
  drive wait settings set settings 1004 1.2.3 click settings 1 wait settings set settings 1004 127.0.0.1 \
        click settings 1 status COMPLETE box COMPLETION_BOX icon click progress 1 &&
    updater_ended_with 0 && flash_holds $((0x2000)) $((0x9000 + 0xD000))
}

lan_wrong_password() {
  start_apsim --generation 2 --password demo
  start_updater -f 127.0.0.1
  drive wait password set password 1004 wrong click password 1 status BAD_PASSWORD visible progress 1 1 \
        click progress 2 && updater_ended_with $((279 - 256))
}

# The peer falls silent after the second data block: "書込み中" with Cancel greyed
# and the close box ignored until the read gives up.
lan_silent_peer() {
  start_apsim --generation 2 --silent-at block:2
  start_updater -f 127.0.0.1
  drive wait password click password 1 status WRITING enabled progress 2 0 close progress sleep 500 \
        wait progress status WRITE_ERROR enabled progress 2 1 visible progress 1 1 click progress 1 &&
    updater_ended_with $((262 - 256))
}

lan_no_peer() {
  start_updater -f 127.0.0.1
  drive status CONNECT_FAILED 127.0.0.1 click progress 2 && updater_ended_with $((260 - 256))
}

# COM1 is the simulator's pseudo-terminal.
map_com1() {
  local device
  device=$(head -n 1 "$work/apsim.out")
  wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$device" /f >/dev/null 2>&1
  # The port devices are made when the prefix's services start: start them anew.
  wineserver -k 2>/dev/null || true
}

# Regions 1 and 4: two ranges, so the power-on prompt comes twice and closes itself
# when the boot code answers.
serial_two_ranges() {
  start_apsim --serial --loader-length 1024 --password demo --exit-after-ranges 2
  map_com1
  start_updater -ef com1
  drive wait password set password 1004 demo click password 1 \
        wait power-on text power-on -1 POWER_ON_LINE1 gone power-on wait power-on gone power-on \
        box COMPLETION_BOX icon status COMPLETE click progress 1 &&
    updater_ended_with 0 && flash_holds $((0x1000)) $((0x1000)) && flash_holds $((0xB000)) $((0xD000))
}

# The boot code never answers: Cancel on the prompt ends the run ("処理を中断しました").
serial_prompt_cancelled() {
  start_apsim --serial --loader-length 1024 --silent-at wake
  map_com1
  start_updater -f com1
  drive wait password click password 1 wait power-on sleep 500 click power-on 2 status ABORTED click progress 1 &&
    updater_ended_with $((288 - 256))
}

# COM2 cannot be opened: the open-error box without an icon, then the abort.
serial_port_missing() {
  start_updater -f com2
  drive wait password click password 1 box PORT_OPEN_ERROR none status ABORTED click progress 1 &&
    updater_ended_with $((288 - 256))
}

run_case "LAN, new generation, settings and password dialogs" lan_new_generation
run_case "LAN, old generation, address asked again" lan_old_generation
run_case "LAN, wrong password" lan_wrong_password
export QUORSEL_PEER_TIMEOUT_MS=4000
run_case "LAN, peer silent after block 2 (busy lock)" lan_silent_peer
unset QUORSEL_PEER_TIMEOUT_MS
run_case "LAN, no peer" lan_no_peer
run_case "serial, two ranges, two power-on prompts" serial_two_ranges
run_case "serial, power-on prompt cancelled" serial_prompt_cancelled
run_case "serial, port cannot be opened" serial_port_missing

if [ "$failures" -ne 0 ]; then
  log "$failures Windows end-to-end case(s) failed"
  exit 1
fi
log "All Windows end-to-end cases passed"
