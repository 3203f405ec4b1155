# Sourced by tests/win32/e2e/run.sh and scripts/screenshots-windows.sh (with root,
# WIN_BUILD_DIR and LINUX_BUILD_DIR set): moves the calling script into a network
# namespace of its own with only loopback, starts Xvfb on a free display, prepares
# the Wine prefix (code page 932, the template font's substitute, COM2 missing),
# packs a sample firmware into quorsel-KRV001.exe in $work, and defines the helpers
# that start the simulator, the updater and the dialog driver.
if [ -z "${QUORSEL_WIN_E2E_NETNS:-}" ]; then
  export QUORSEL_WIN_E2E_NETNS=1
  if [ "$(id -u)" -eq 0 ]; then
    exec unshare --net "$0" "$@"
  fi
  exec unshare --user --map-root-user --net "$0" "$@"
fi
ip link set lo up

for f in "$WIN_BUILD_DIR/quorsel.exe" "$WIN_BUILD_DIR/quorsel-dialog-driver.exe" "$WIN_BUILD_DIR/quorsel-hold-open.exe" \
         "$LINUX_BUILD_DIR/quorsel-pack" "$LINUX_BUILD_DIR/quorsel-apsim"; do
  [ -x "$f" ] || { echo "${0##*/}: $f is missing; build it first" >&2; exit 2; }
done

work=$(mktemp -d)
xvfb=""
apsim=""
own_prefix=""
cleanup() {
  [ -n "$apsim" ] && kill "$apsim" 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
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
# The prefix's server, started here with its output discarded (it writes a dump of
# its objects when it is stopped). A server started outside this namespace would
# own the sockets: it is stopped first.
restart_wineserver() {
  wineserver -k >/dev/null 2>&1 || true
  mkdir -p "$WINEPREFIX"
  wineserver -p >/dev/null 2>&1
}
restart_wineserver

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
# COM2 names a device that does not exist: Wine opens it, but the line settings
# cannot be read (the set-up error). COM4 is not mapped at all (the open error).
wine reg add 'HKLM\Software\Wine\Ports' /v COM2 /t REG_SZ /d /nonexistent/quorsel-com2 /f >/dev/null 2>&1
wine reg delete 'HKLM\Software\Wine\Ports' /v COM4 /f >/dev/null 2>&1 || true
restart_wineserver
rm -f "$WINEPREFIX/dosdevices/com4"

# The firmware: a 2 MiB image for KRV001 (model code in the trailer block) and a
# 1 KiB loader, packed into the Windows updater.
head -c $((0x200000)) /dev/urandom >"$work/image.bin"
printf 'KRV001' | dd of="$work/image.bin" bs=1 seek=$((0x200000 - 4096 + 0xFF0)) conv=notrunc status=none
head -c 1024 /dev/urandom >"$work/loader.bin"
"$LINUX_BUILD_DIR/quorsel-pack" "$WIN_BUILD_DIR/quorsel.exe" "$work/loader.bin" "$work/image.bin" \
  "$work/quorsel-KRV001.exe" >/dev/null
cp "$WIN_BUILD_DIR/quorsel-dialog-driver.exe" "$WIN_BUILD_DIR/quorsel-hold-open.exe" "$work/"
export QUORSEL_APP_TITLE=quorsel-KRV001


start_apsim() {
  rm -f "$work/flash.bin" "$work/apsim.out"
  "$LINUX_BUILD_DIR/quorsel-apsim" --model KRV001 --flash "$work/flash.bin" "$@" \
    >"$work/apsim.out" 2>"$work/apsim.log" &
  apsim=$!
  # Up to 60 s: a loaded machine may be slow to start it.
  for _ in $(seq 3000); do [ -s "$work/apsim.out" ] && break; kill -0 "$apsim" 2>/dev/null || break; sleep 0.02; done
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
# COM1 is the simulator's pseudo-terminal. The prefix's mount manager makes the
# port from HKLM\Software\Wine\Ports when the server starts; until it is done, the
# name can reach a device object of its own on which every communications call
# fails. So the server is started anew, a first program waits the start-up out, and
# the case goes on only once dosdevices\com1 leads to the device. The server keeps
# running to the end of the case, so the link stays.
map_com1() {
  local device
  device=$(head -n 1 "$work/apsim.out")
  wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$device" /f >/dev/null 2>&1
  restart_wineserver
  wine cmd /c exit >/dev/null 2>&1 || true
  for _ in $(seq 100); do
    [ "$(readlink "$WINEPREFIX/dosdevices/com1" 2>/dev/null)" = "$device" ] && return 0
    sleep 0.05
  done
  ln -sfn "$device" "$WINEPREFIX/dosdevices/com1"
}

. "$root/tests/win32/e2e/hold_open.sh"

# Leaves no updater behind after a failed case.
end_case() {
  stop_apsim
  release_hold >/dev/null 2>&1 || true
  restart_wineserver
  rm -f "$work/updater.rc"
}
