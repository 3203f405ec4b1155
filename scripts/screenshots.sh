#!/usr/bin/env bash
# Renders every dialog of the desktop front-end to PNG files (default:
# docs/screenshots/) on Qt's offscreen platform; no display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/compiler-cache.sh
BUILD_DIR=${BUILD_DIR:-build}
OUT_DIR=${1:-docs/screenshots}
scripts/install-deps.sh
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" --target quorsel-screenshots
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/quorsel-screenshots" "$OUT_DIR"
