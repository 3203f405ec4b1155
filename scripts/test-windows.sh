#!/usr/bin/env bash
# Builds the Windows updater and runs its tests: the imports and the absence of the
# container signature in quorsel.exe, the portable unit tests under Wine in a
# private prefix, packing quorsel.exe with the Linux quorsel-pack, and the
# end-to-end tests through the dialogs (tests/win32/e2e/run.sh), quorsel-fleet.exe
# against three simulated access points (tests/win32/e2e/fleet.sh) and the fleet and
# the scan opening the file that was named (tests/win32/e2e/files.sh) when they exist.
#
# BUILD_DIR (default build-windows) is the Windows build, LINUX_BUILD_DIR (default
# build) the Linux one that provides quorsel-pack and quorsel-apsim.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/compiler-cache.sh
root=$PWD
export BUILD_DIR=${BUILD_DIR:-build-windows}
LINUX_BUILD_DIR=${LINUX_BUILD_DIR:-build}

# Packages: the Linux build's, the cross toolchain (build-windows.sh), Wine, the
# Japanese and English locales, a virtual display, the dialogs' font, and the signing tools.
scripts/install-deps.sh
PACKAGES=(wine wine64 locales xvfb xdotool fonts-ipafont-gothic binutils-mingw-w64-x86-64 osslsigncode openssl)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# Japanese (code page 932) for the tests, English (code page 1252) for the cases of
# a Windows that is not Japanese.
for wanted in ja_JP en_US; do
  if ! locale -a 2>/dev/null | grep -qix "$wanted.utf8"; then
    $SUDO sed -i "s/^# *\($wanted.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$wanted.UTF-8 UTF-8" /etc/locale.gen || echo "$wanted.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
  fi
done

scripts/build-windows.sh -DQUORSEL_TESTS=ON
if [ ! -x "$LINUX_BUILD_DIR/quorsel-pack" ] || [ ! -x "$LINUX_BUILD_DIR/quorsel-apsim" ]; then
  cmake -S . -B "$LINUX_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$LINUX_BUILD_DIR" --target quorsel-pack quorsel-apsim -j"${JOBS:-2}"
fi

failures=0
check() {
  if "$@"; then echo "PASS $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}

exe="$BUILD_DIR/quorsel.exe"

# quorsel.exe imports only DLLs that every Windows installation has (wintrust.dll:
# the check of a signed firmware file's signature).
imports_are_system_dlls() {
  local allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|advapi32|shell32|msvcrt|wsock32|ws2_32|iphlpapi|wintrust|setupapi)\.dll$'
  local dlls
  dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
  echo "  imports: $(echo "$dlls" | tr '\n' ' ')"
  [ -n "$dlls" ] || return 1
  ! echo "$dlls" | grep -Evq "$allowed"
}
# The container scan must not find a signature inside the updater itself.
holds_no_signature() {
  local signature='@Wln'
  signature+='$ap@'
  [ "$(stat -c %s "$exe")" -gt 10000 ] && ! grep -qaF -- "$signature" "$exe"
}
# Every firmware file carries quorsel.exe: it has no debug information (the build
# keeps an unstripped quorsel-debug.exe beside it).
carries_no_debug_information() {
  echo "  quorsel.exe: $(stat -c %s "$exe") bytes; quorsel-debug.exe: $(stat -c %s "$BUILD_DIR/quorsel-debug.exe") bytes"
  ! x86_64-w64-mingw32-objdump -h "$exe" | grep -Eq '[[:space:]]\.debug_' &&
    x86_64-w64-mingw32-objdump -h "$BUILD_DIR/quorsel-debug.exe" | grep -Eq '[[:space:]]\.debug_'
}
# Every Windows program carries the manifest that lets it take paths longer than
# MAX_PATH (res/quorsel.manifest).
programs_are_long_path_aware() {
  local program
  for program in quorsel.exe quorsel-scan.exe quorsel-fleet.exe; do
    grep -qaF '<ws2:longPathAware>true</ws2:longPathAware>' "$BUILD_DIR/$program" ||
      { echo "  $program has no longPathAware manifest"; return 1; }
  done
}
check imports_are_system_dlls
check holds_no_signature
check carries_no_debug_information
check programs_are_long_path_aware

# Wine in a private prefix for this run.
# shellcheck source=scripts/wine-env.sh
. "$root/scripts/wine-env.sh"
quorsel_wine_prefix_new
trap quorsel_wine_prefix_remove EXIT

unit_tests_under_wine() {
  ctest --test-dir "$BUILD_DIR" -L win32 --output-on-failure --timeout 600
}
check unit_tests_under_wine

# The Linux packer packs the Windows updater, and reads the result back.
packs_the_windows_updater() {
  local work
  work=$(mktemp -d)
  head -c $((0x200000)) /dev/urandom >"$work/image.bin"
  printf 'KRV001' | dd of="$work/image.bin" bs=1 seek=$((0x200000 - 4096 + 0xFF0)) conv=notrunc status=none
  head -c 1024 /dev/urandom >"$work/loader.bin"
  local ok=0
  "$LINUX_BUILD_DIR/quorsel-pack" "$exe" "$work/loader.bin" "$work/image.bin" "$work/quorsel-KRV001.exe" \
    >/dev/null || ok=1
  if [ "$ok" -eq 0 ]; then
    "$LINUX_BUILD_DIR/quorsel-pack" --info "$work/quorsel-KRV001.exe" >"$work/info.txt" || ok=1
    sed 's/^/  /' "$work/info.txt"
    grep -q 'KRV001' "$work/info.txt" || ok=1
    # The updater's own bytes come first, unchanged.
    cmp -s -n "$(stat -c %s "$exe")" "$exe" "$work/quorsel-KRV001.exe" || ok=1
    echo "  firmware file for a 2 MiB image: $(stat -c %s "$work/quorsel-KRV001.exe") bytes"
  fi
  rm -rf "$work"
  return "$ok"
}
check packs_the_windows_updater

if [ -x tests/win32/e2e/run.sh ]; then
  # The end-to-end script runs in a network namespace of its own and starts its
  # own server there.
  wineserver -k 2>/dev/null || true
  end_to_end_under_wine() {
    WIN_BUILD_DIR="$BUILD_DIR" LINUX_BUILD_DIR="$LINUX_BUILD_DIR" tests/win32/e2e/run.sh
  }
  check end_to_end_under_wine
fi

if [ -x tests/win32/e2e/scan.sh ]; then
  wineserver -k 2>/dev/null || true
  scan_under_wine() {
    WIN_BUILD_DIR="$BUILD_DIR" LINUX_BUILD_DIR="$LINUX_BUILD_DIR" tests/win32/e2e/scan.sh
  }
  check scan_under_wine
fi

if [ -x tests/win32/e2e/fleet.sh ]; then
  # quorsel-fleet.exe: three simulated access points at once, in a namespace of its own.
  wineserver -k 2>/dev/null || true
  fleet_under_wine() {
    WIN_BUILD_DIR="$BUILD_DIR" LINUX_BUILD_DIR="$LINUX_BUILD_DIR" tests/win32/e2e/fleet.sh
  }
  check fleet_under_wine
fi

if [ -x tests/win32/e2e/files.sh ]; then
  # quorsel-fleet.exe and quorsel-scan.exe open the file that was named: names outside
  # ASCII on code page 932, a file held open for writing, the long form.
  wineserver -k 2>/dev/null || true
  named_files_under_wine() {
    WIN_BUILD_DIR="$BUILD_DIR" LINUX_BUILD_DIR="$LINUX_BUILD_DIR" tests/win32/e2e/files.sh
  }
  check named_files_under_wine
fi

if [ "$failures" -ne 0 ]; then
  echo "test-windows: $failures check(s) failed" >&2
  exit 1
fi
echo "test-windows: all checks passed"
