#!/usr/bin/env bash
# Builds the Debian packages (scripts/package.sh), checks them with lintian (no
# errors allowed), extracts both into a scratch root with dpkg-deb -x and, with that
# root's /usr/lib laid over the machine's in a private mount namespace:
#   - packs a firmware file with the extracted quorsel-pack and its built-in updater
#     path (/usr/lib/quorsel/quorsel);
#   - completes a LAN update with it against the extracted quorsel-apsim (terminal);
#   - starts it on Qt's offscreen platform and sees the installed desktop module load.
# The machine itself is not changed; nothing is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
mapfile -t debs < <(scripts/package.sh)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
for deb in "${debs[@]}"; do
  echo "== $deb"
  dpkg-deb -f "$deb" Package Version Depends Recommends
  dpkg-deb -x "$deb" "$root/tree"
done

echo "== lintian"
lintian --fail-on error "${debs[@]}" 2>&1 | grep -v 'running with root privileges' || true
lintian --fail-on error "${debs[@]}" >/dev/null 2>&1 || { echo "lintian reports errors" >&2; exit 1; }

mkdir "$root/work"
echo "== update with the extracted packages"
tests/e2e/run_private_mounts.sh -- bash -c '
set -euo pipefail
tree=$1 work=$2 source_dir=$3
mount -t overlay overlay -o "lowerdir=$tree/usr/lib:/usr/lib" /usr/lib

# A 2 MiB image for model KRV001 (model code at offset 0xFF0 of the last block), a loader.
head -c $((0x200000)) /dev/urandom >"$work/image.bin"
printf KRV001 | dd of="$work/image.bin" bs=1 seek=$((0x200000 - 4096 + 0xFF0)) conv=notrunc status=none
head -c 1024 /dev/urandom >"$work/loader.bin"
"$tree/usr/bin/quorsel-pack" "$work/loader.bin" "$work/image.bin" "$work/quorsel-KRV001"
size=$(stat -c %s /usr/lib/quorsel/quorsel)
cmp -s -n "$size" /usr/lib/quorsel/quorsel "$work/quorsel-KRV001" || { echo "the installed updater was not packed" >&2; exit 1; }

echo demo | "$source_dir/tests/e2e/run_in_netns.sh" "$work" "$tree/usr/bin/quorsel-apsim" --model KRV001 \
  --generation 2 --password demo --flash "$work/flash.bin" --exit-after-ranges 1 -- \
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$work/quorsel-KRV001" -fz 192.168.1.254
rc=$(cat "$work/updater.rc")
[ "$rc" = 0 ] || { echo "update ended with status $rc" >&2; cat "$work/apsim.log" >&2; exit 1; }
# Regions 4 and 5 of the 2 MiB layout run from 0xB000 to the end.
cmp -s <(tail -c +$((0xB000 + 1)) "$work/image.bin") <(tail -c +$((0xB000 + 1)) "$work/flash.bin") ||
  { echo "the flash differs from the image" >&2; exit 1; }
echo "update completed, flash equals the image over 0xB000..0x1FFFFF"

QT_QPA_PLATFORM=offscreen setsid "$work/quorsel-KRV001" </dev/null >/dev/null 2>"$work/desktop.err" &
pid=$!
loaded=no
for _ in $(seq 1200); do
  if grep -q " /usr/lib/quorsel/quorsel-desktop.so$" /proc/$pid/maps 2>/dev/null; then loaded=yes; break; fi
  kill -0 $pid 2>/dev/null || break
  sleep 0.05
done
kill $pid 2>/dev/null || true
wait $pid 2>/dev/null || true
[ "$loaded" = yes ] || { echo "the installed desktop module was not loaded:" >&2; cat "$work/desktop.err" >&2; exit 1; }
echo "the firmware file loaded /usr/lib/quorsel/quorsel-desktop.so on the offscreen platform"
' test-packages "$root/tree" "$root/work" "$source_dir"
echo "packages: built, lintian without errors, update completed"
