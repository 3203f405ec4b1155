#!/usr/bin/env bash
# Configures and builds everything into build/ (extra arguments go to cmake).
# BUILD_TARGETS (names separated by spaces) builds only those targets and what they need.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/compiler-cache.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
targets=()
for target in ${BUILD_TARGETS:-}; do targets+=(--target "$target"); done
cmake --build "$BUILD_DIR" -j"$(nproc)" "${targets[@]}"
