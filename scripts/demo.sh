#!/usr/bin/env bash
# Installs what is missing, builds, packs a sample firmware into the updater, finds
# the simulated access point on 127.0.0.1 with quorsel-scan and runs a real LAN
# update of it there.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
BUILD=${BUILD_DIR:-build}

work=$(mktemp -d)
apsim=""
cleanup() {
  [ -n "$apsim" ] && kill "$apsim" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A sample 2 MiB flash image for model KRV001 (model code at trailer offset 0xFF0)
# and a 1 KiB loader.
head -c $((0x200000)) /dev/urandom >"$work/image.bin"
printf 'KRV001' | dd of="$work/image.bin" bs=1 seek=$((0x200000 - 4096 + 0xFF0)) conv=notrunc status=none
head -c 1024 /dev/urandom >"$work/loader.bin"

echo "== Packing the firmware into the updater"
"$BUILD/quorsel-pack" "$BUILD/quorsel" "$work/loader.bin" "$work/image.bin" "$work/quorsel-KRV001"
"$BUILD/quorsel-pack" --info "$work/quorsel-KRV001"

echo "== Starting the simulated access point on 127.0.0.1:9002 (password: demo)"
"$BUILD/quorsel-apsim" --model KRV001 --generation 2 --password demo --flash "$work/flash.bin" \
  --listen 127.0.0.1 --port 9002 --exit-after-ranges 1 >"$work/apsim.out" 2>"$work/apsim.log" &
apsim=$!
for _ in $(seq 1200); do [ -s "$work/apsim.out" ] && break; kill -0 $apsim 2>/dev/null || break; sleep 0.05; done

echo "== Finding it: quorsel-scan --firmware quorsel-KRV001 127.0.0.1"
# 127.0.0.1 stands for the LAN here; without a target quorsel-scan searches the
# subnets of this machine's interfaces and 192.168.1.254.
"$BUILD/quorsel-scan" --firmware "$work/quorsel-KRV001" 127.0.0.1 || {
  echo "== quorsel-scan found no access point" >&2
  exit 1
}

echo "== Updating regions 4 and 5 over the LAN: quorsel -fz 127.0.0.1"
# setsid: without a controlling terminal the password is read from standard input.
status=0
# Without a display variable quorsel uses its terminal front-end.
echo demo | env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM setsid -w "$work/quorsel-KRV001" -fz 127.0.0.1 || status=$?
echo "== quorsel exit status: $status"

# Regions 4 and 5 of the 2 MiB layout run from 0xB000 to the end.
if cmp -s <(tail -c +$((0xB000 + 1)) "$work/image.bin") <(tail -c +$((0xB000 + 1)) "$work/flash.bin"); then
  echo "== The simulator's flash equals the firmware image over 0xB000..0x1FFFFF"
else
  echo "== The simulator's flash differs from the firmware image" >&2
  status=1
fi
exit "$status"
