#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing, packaging and the demo
# need (nlohmann-json3-dev: the JSON of quorsel-scan and of quorsel-fleet's report;
# libxcb1: quorsel's check of an X display; xvfb: the test with a real X
# server; dpkg-dev, file, lintian: scripts/package.sh and scripts/test-packages.sh;
# osslsigncode, openssl: scripts/sign-firmware.sh and its tests; libssl-dev: libcrypto,
# which checks a signed Windows firmware file's Authenticode signature on Linux;
# ccache: the build scripts compile through it, scripts/compiler-cache.sh; ansible-core:
# the tests of the Ansible collection in ansible/, which the Debian packages do not need).
# Does nothing when they are all present already.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  iproute2 util-linux procps
  python3 python3-xmodem
  nlohmann-json3-dev
  qt6-base-dev fonts-ipafont-gothic
  libxcb1 xvfb
  dpkg-dev file lintian
  clang-14 libclang-rt-14-dev
  osslsigncode openssl libssl-dev
  ccache
  ansible-core
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
