#!/usr/bin/env bash
# Cross-builds the Windows updater (quorsel.exe), quorsel-scan.exe, its libraries and its unit tests
# with Debian's mingw-w64 into ${BUILD_DIR:-build-windows}/ (extra arguments go to
# cmake). Installs the cross toolchain first when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/compiler-cache.sh

PACKAGES=(
  cmake ninja-build
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  googletest nlohmann-json3-dev
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

BUILD_DIR=${BUILD_DIR:-build-windows}
JOBS=${JOBS:-2}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$JOBS"
