#!/usr/bin/env bash
# Builds the Debian packages quorsel and quorsel-desktop with CPack into build-package/
# (installed under /usr, with Debian's hardening flags; extra arguments go to cmake,
# e.g. -DQUORSEL_WINDOWS_UPDATER=build-windows/quorsel.exe). Prints the packages' paths.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/compiler-cache.sh
BUILD_DIR=${BUILD_DIR:-build-package}
export DEB_BUILD_MAINT_OPTIONS=${DEB_BUILD_MAINT_OPTIONS:-hardening=+all}
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUORSEL_TESTS=OFF -DQUORSEL_BENCHMARKS=OFF \
  "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "-DCMAKE_MODULE_LINKER_FLAGS=$ldflags" \
  "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" >&2
rm -f "$BUILD_DIR"/*.deb
(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)
ls "$BUILD_DIR"/*.deb
