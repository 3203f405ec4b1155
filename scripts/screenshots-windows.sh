#!/usr/bin/env bash
# Screenshots of every dialog of the Windows updater, under Wine and Xvfb, into
# docs/screenshots/windows/ (or the folder given): the updater runs against the
# simulated access point and quorsel-dialog-driver brings each dialog up.
# Needs build-windows/ (scripts/build-windows.sh) and build/ (scripts/build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
WIN_BUILD_DIR=$(cd "$root" && realpath -m "${WIN_BUILD_DIR:-build-windows}")
LINUX_BUILD_DIR=$(cd "$root" && realpath -m "${LINUX_BUILD_DIR:-build}")
OUT_DIR=$(cd "$root" && realpath -m "${1:-docs/screenshots/windows}")
export WIN_BUILD_DIR LINUX_BUILD_DIR OUT_DIR

# Wine, a display, the Japanese gothic that stands in for the template font, Wine's
# own fonts (the title-bar buttons) and ImageMagick's import.
PACKAGES=(wine wine64 xvfb fonts-ipafont-gothic fonts-wine imagemagick locales)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
for wanted in ja_JP en_US; do
  locale -a | grep -qi "^$wanted.utf8\$" || { echo "$wanted.UTF-8 locale missing: run locale-gen" >&2; exit 2; }
done
. "$root/tests/win32/e2e/session.sh"
mkdir -p "$OUT_DIR"

# Wine's Marlett draws the title-bar buttons; the prefix's font folder is where
# Wine finds it.
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
# A virtual desktop: Wine draws the title bars itself, as Windows would.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1024x768 /f >/dev/null 2>&1
restart_wineserver

# Saves the window of DIALOG as NAME.png, cropped to the dialog.
shot() {
  local geometry
  geometry=$(drive rect "$1")
  read -r x y w h <<<"$geometry"
  sleep 0.5  # let the last repaint land
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$OUT_DIR/$2.png"
  echo "$OUT_DIR/$2.png"
}

# A Windows whose ANSI code page is 1252 (an English installation; LANG=en_US.UTF-8
# for Wine): the settings dialog, the password prompt over the progress dialog and
# the completion box, with the same Japanese texts. QUORSEL_SHOTS=cp1252 takes only
# these.
LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 drive acp 1252
start_apsim --generation 2 --password demo --exit-after-ranges 1
LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 start_updater
export LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8
drive wait settings
shot settings cp1252-settings
drive set settings 1004 127.0.0.1 click settings 1 wait password move password 300 320 status CONNECTING
shot progress cp1252-progress-connecting
drive set password 1004 demo click password 1 wait box
shot box cp1252-completion-box
drive box COMPLETION_BOX icon status COMPLETE click progress 1
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
end_case
[ "${QUORSEL_SHOTS:-all}" = cp1252 ] && exit 0

# Settings (LAN, then serial), the version box, the password prompt over the
# progress dialog ("接続中"), the completion box and the finished progress dialog.
start_apsim --generation 2 --password demo --exit-after-ranges 1
start_updater
drive wait settings
shot settings settings-lan
drive click settings 1017 sleep 300
shot settings settings-serial
drive sysmenu settings 16 wait about move about 40 40
shot about about
drive click about 1 gone about click settings 1016 set settings 1004 127.0.0.1 click settings 1 \
      wait password move password 300 320 status CONNECTING
shot progress progress-connecting
shot password password
drive set password 1004 demo click password 1 wait box
shot box completion-box
drive box COMPLETION_BOX icon status COMPLETE
shot progress progress-complete
drive click progress 1
end_case

# Writing: the peer falls silent mid-range, Cancel greyed.
start_apsim --generation 2 --silent-at block:3
start_updater -f 127.0.0.1
drive wait password click password 1 status WRITING
shot progress progress-writing
end_case

# Serial: "準備中" while the password is asked, then the power-on prompt.
start_apsim --serial --loader-length 1024 --silent-at wake
map_com1
start_updater -f com1
drive wait password move password 300 320 status PREPARING
shot progress progress-preparing
drive click password 1 wait power-on move power-on 120 160
shot power-on power-on
drive click power-on 2 status ABORTED
shot progress progress-aborted
end_case

# The search from the settings dialog's system menu, in the namespace's own subnet
# 10.79.0.0/24 (one end of a veth pair with nobody behind it): two access points found, the
# fitting one selected; then, with no access point left, nothing found.
ip link add t0 type veth peer name t1 && ip link set t1 up && ip link set t0 up && ip addr add 10.79.0.1/24 dev t0
ip addr add 10.79.0.7/32 dev lo && ip addr add 10.79.0.9/32 dev lo
start_apsim --generation 2 --listen 10.79.0.7
"$LINUX_BUILD_DIR/quorsel-apsim" --model MXD001 --generation 1 --listen 10.79.0.9 --port 9002 >/dev/null 2>&1 &
second_apsim=$!
start_updater
drive wait settings sysmenu settings 32 wait search move search 40 40 rows search 1030 2 becomes search 1033 1 \
      key search 1030 40 becomes search 1 1
shot search search
kill "$second_apsim" 2>/dev/null || true
stop_apsim
drive click search 1033 becomes search 1033 0 becomes search 1033 1 text search 1032 SEARCH_NONE_FOUND
shot search search-none
end_case

# The port list from the settings dialog's system menu, with COM7 mapped to the
# simulator's pseudo-terminal as a USB serial adapter would be; the fourth row
# (COM1 to COM3 are the prefix's own, COM4 is unmapped) is COM7, and it is chosen.
start_apsim --serial --loader-length 1024
map_com 7
start_updater
drive wait settings sysmenu settings 48 wait ports move ports 40 40 key ports 1034 40 key ports 1034 40 \
      key ports 1034 40 key ports 1034 40 becomes ports 1 1
shot ports ports
drive click ports 1 wait settings
shot settings settings-port-chosen
end_case

# A port that cannot be opened, and a command line that is not valid.
start_updater -f com4
drive wait password click password 1 wait box
shot box port-open-error
end_case
start_updater -x
drive wait box
shot box invalid-arguments
end_case
