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

. "$root/tests/win32/e2e/session.sh"

failures=0
log() { printf '%s\n' "$*"; }

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

# COM4 does not exist: the open-error box without an icon, then the abort.
serial_port_missing() {
  start_updater -f com4
  drive wait password click password 1 box PORT_OPEN_ERROR none status ABORTED click progress 1 &&
    updater_ended_with $((288 - 256))
}

# COM2 opens but its line settings cannot be read: the set-up error box.
serial_port_setup_fails() {
  start_updater -f com2
  drive wait password click password 1 box PORT_SETUP_ERROR none status ABORTED click progress 1 &&
    updater_ended_with $((288 - 256))
}

# The access point at an address nobody told the user: the namespace gets an
# interface on 10.79.0.0/24 (one end of a veth pair whose other end has no
# address, so every other address there swallows the connect) and the simulator listens at 10.79.0.20. The
# settings dialog's system-menu entry searches the default targets; the one row is
# selected and OK puts its address into the settings, with the LAN update selected
# (the serial radio was chosen before); the update then completes.
search_pick_update() {
  if ! ip link show t0 >/dev/null 2>&1; then
    ip link add t0 type veth peer name t1 && ip link set t1 up && ip link set t0 up && ip addr add 10.79.0.1/24 dev t0 &&
      ip addr add 10.79.0.20/32 dev lo || return 1
  fi
  start_apsim --generation 1 --listen 10.79.0.20 --exit-after-ranges 1
  start_updater
  drive wait settings click settings 1017 sysmenu settings 32 wait search text search 1033 SEARCH_AGAIN \
        rows search 1030 1 becomes search 1033 1 enabled search 1 0 key search 1030 40 becomes search 1 1 \
        click search 1 gone search shows settings 1004 10.79.0.20 enabled settings 1004 1 enabled settings 1005 0 \
        click settings 1 box COMPLETION_BOX icon status COMPLETE click progress 1 &&
    updater_ended_with 0 && flash_holds $DEFAULT_START $DEFAULT_LENGTH
}

# A signed firmware file: signed with a throw-away self-signed certificate (made here
# with openssl) by scripts/sign-firmware.sh, in a folder of its own so that its
# caption stays quorsel-KRV001.
sign_firmware() {
  [ -s "$work/signed/quorsel-KRV001.exe" ] && return 0
  mkdir -p "$work/signed"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quorsel test vendor" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/sign-key.pem" -out "$work/sign-cert.pem" \
    >/dev/null 2>&1
  QUORSEL_PACK="$LINUX_BUILD_DIR/quorsel-pack" "$root/scripts/sign-firmware.sh" "$work/sign-cert.pem" \
    "$work/sign-key.pem" "$work/quorsel-KRV001.exe" "$work/signed/quorsel-KRV001.exe" >/dev/null
}
start_in() {
  local folder=$1; shift
  rm -f "$work/updater.rc"
  (cd "$folder" && { wine "$@" >"$work/updater.log" 2>&1; echo $? >"$work/updater.rc"; }) &
}

lan_signed_firmware_file() {
  sign_firmware || return 1
  osslsigncode verify -CAfile "$work/sign-cert.pem" -in "$work/signed/quorsel-KRV001.exe" >"$work/verify.log" 2>&1 ||
    { echo "  osslsigncode verify refused the signed file" >&2; tail -3 "$work/verify.log" >&2; return 1; }
  "$LINUX_BUILD_DIR/quorsel-pack" --info "$work/signed/quorsel-KRV001.exe" | grep -q '^signed: yes' || return 1
  start_apsim --generation 1 --exit-after-ranges 1
  start_in "$work/signed" ./quorsel-KRV001.exe -fz 127.0.0.1
  drive status COMPLETE box COMPLETION_BOX icon click progress 1 &&
    updater_ended_with 0 && flash_holds $DEFAULT_START $DEFAULT_LENGTH
}

# One image byte +1 and another -1 after signing: the container's sum still holds
# (the packer still reads it), the signature's digest does not. The run refuses the
# file before it connects: the simulator sees no connection.
# The signed file with two image bytes changed, in $work/changed.
change_signed_firmware() {
  sign_firmware || return 1
  mkdir -p "$work/changed"
  cp "$work/signed/quorsel-KRV001.exe" "$work/changed/quorsel-KRV001.exe"
  local image_start
  image_start=$(( $(stat -c %s "$WIN_BUILD_DIR/quorsel.exe") + 20 + 1024 ))
  "$root/tests/win32/e2e/change_two_image_bytes.py" "$work/changed/quorsel-KRV001.exe" $((image_start + 0x100000)) ||
    return 1
  # The packer still reads the container, and reports (and refuses) the broken signature.
  { "$LINUX_BUILD_DIR/quorsel-pack" --info "$work/changed/quorsel-KRV001.exe" 2>/dev/null || true; } |
    grep -q '^signature: the file.s bytes no longer match' ||
    { echo "  the packer does not report the changed file's signature" >&2; return 1; }
}
lan_signed_file_changed_after_signing() {
  change_signed_firmware || return 1
  start_apsim --generation 1
  start_in "$work/changed" ./quorsel-KRV001.exe -fz 127.0.0.1
  drive status FILE_ERROR click progress 1 && updater_ended_with $((264 - 256)) || return 1
  grep -q 'no longer match its Authenticode signature' "$work/updater.log" ||
    { echo "  no diagnostic about the signature" >&2; return 1; }
  ! grep -q 'connection 1 from' "$work/apsim.log" ||
    { echo "  the updater connected to the access point" >&2; return 1; }
}

# Another program holds the changed signed file open for writing
# (quorsel-hold-open.exe, started first). The system does not start a program file
# that a writer holds (Wine: "ShellExecuteEx" fails), and once the updater runs no
# writer gets its file; either way nothing of the held file reaches the access point.
# (The refusal of a held file as in use is tried with quorsel-fleet.exe in files.sh.)
lan_changed_signed_file_held_open() {
  change_signed_firmware || return 1
  hold_open "$work/changed/quorsel-KRV001.exe" || return 1
  start_apsim --generation 1
  start_in "$work/changed" ./quorsel-KRV001.exe -fz 127.0.0.1
  for _ in $(seq 1200); do [ -s "$work/updater.rc" ] && break; sleep 0.1; done
  release_hold || return 1
  local rc
  rc=$(cat "$work/updater.rc" 2>/dev/null || echo none)
  [ "$rc" != none ] && [ "$rc" != 0 ] || { echo "  the updater ended with $rc" >&2; return 1; }
  ! grep -q 'connection 1 from' "$work/apsim.log" ||
    { echo "  the updater connected to the access point" >&2; return 1; }
}

# Started by its bare name from another folder, found through PATH: the container
# is read from the running file, not from the name on the command line.
lan_started_through_path() {
  mkdir -p "$work/bin" "$work/elsewhere"
  cp "$work/quorsel-KRV001.exe" "$work/bin/"
  start_apsim --generation 1 --exit-after-ranges 1
  WINEPATH=$(winepath -w "$work/bin") start_in "$work/elsewhere" cmd /c quorsel-KRV001 -fz 127.0.0.1
  drive status COMPLETE box COMPLETION_BOX icon click progress 1 &&
    updater_ended_with 0 && flash_holds $DEFAULT_START $DEFAULT_LENGTH
}

# A firmware file whose name holds 表 (0x95 0x5C in code page 932: its second byte
# is a backslash), in a folder of its own. The message boxes' caption is its name.
firmware_named_with_table() {
  mkdir -p "$work/named"
  cp "$work/quorsel-KRV001.exe" "$work/named/quorsel-表.exe"
}

# On a Windows whose ANSI code page is 1252 (LANG=en_US.UTF-8 for Wine): the dialogs
# show the Japanese texts (read back as UTF-16), a password character that code page
# 932 cannot hold is refused, and a Japanese password gives the digest of its code
# page 932 bytes, which the simulator checks.
lan_code_page_1252() {
  local password='パス表'
  firmware_named_with_table
  start_apsim --generation 2 --password "$password" --exit-after-ranges 1
  LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 start_in "$work/named" ./quorsel-表.exe -fz 127.0.0.1
  LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 QUORSEL_APP_TITLE=quorsel-表 \
    drive acp 1252 wait password text password -1 PASSWORD_PROMPT status CONNECTING \
          set password 1004 'pass-é' click password 1 box PASSWORD_BAD_CHARACTER icon \
          set password 1004 "$password" click password 1 box COMPLETION_BOX icon status COMPLETE \
          click progress 1 &&
    updater_ended_with 0 && flash_holds $DEFAULT_START $DEFAULT_LENGTH
}

# The same file on code page 932: the caption is the whole name, not what follows
# the 0x5C inside 表.
lan_caption_of_a_name_with_table() {
  firmware_named_with_table
  start_apsim --generation 1 --exit-after-ranges 1
  start_in "$work/named" ./quorsel-表.exe -fz 127.0.0.1
  QUORSEL_APP_TITLE=quorsel-表 drive acp 932 status COMPLETE box COMPLETION_BOX icon click progress 1 &&
    updater_ended_with 0 && flash_holds $DEFAULT_START $DEFAULT_LENGTH
}

run_case "LAN, new generation, settings and password dialogs" lan_new_generation
run_case "LAN, old generation, address asked again" lan_old_generation
run_case "LAN, wrong password" lan_wrong_password
export QUORSEL_PEER_TIMEOUT_MS=4000
run_case "LAN, peer silent after block 2 (busy lock)" lan_silent_peer
unset QUORSEL_PEER_TIMEOUT_MS
run_case "LAN, no peer" lan_no_peer
run_case "LAN, access point found by the search dialog" search_pick_update
run_case "LAN, signed firmware file" lan_signed_firmware_file
run_case "LAN, signed file changed after signing (refused before connecting)" lan_signed_file_changed_after_signing
run_case "LAN, changed signed file held open for writing by another program (not sent)" lan_changed_signed_file_held_open
run_case "LAN, started by its bare name through PATH from another folder" lan_started_through_path
run_case "LAN, ANSI code page 1252: Japanese texts, password in code page 932" lan_code_page_1252
run_case "LAN, caption of a firmware file named with 表" lan_caption_of_a_name_with_table
run_case "serial, two ranges, two power-on prompts" serial_two_ranges
run_case "serial, power-on prompt cancelled" serial_prompt_cancelled
run_case "serial, port cannot be opened" serial_port_missing
run_case "serial, port cannot be set up" serial_port_setup_fails

if [ "$failures" -ne 0 ]; then
  log "$failures Windows end-to-end case(s) failed"
  exit 1
fi
log "All Windows end-to-end cases passed"
