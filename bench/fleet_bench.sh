#!/usr/bin/env bash
# Times quorsel-fleet against paced simulated access points side by side, in a
# private network namespace:
#   - one access point alone (quorsel-fleet with one target);
#   - COUNT access points (default 32) with --jobs COUNT;
# each simulator paced with --erase-ms ERASE_MS (1500) --block-ms BLOCK_MS (5), as an
# access point's flash work. Prints the wall times and their ratio, the fleet
# process's CPU time (user + system) as a share of its wall time, its peak memory,
# and the simulators' memory.
#   bench/fleet_bench.sh [BUILD_DIR]   (default build/)
# Targets of the issue: ratio <= 1.15, CPU < 10 % of wall, peak memory < 64 MiB.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
COUNT=${COUNT:-32}
ERASE_MS=${ERASE_MS:-1500}
BLOCK_MS=${BLOCK_MS:-5}
for tool in quorsel quorsel-pack quorsel-apsim quorsel-fleet; do
  [ -x "$build/$tool" ] || { echo "missing $build/$tool (build it first)" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A 2 MiB firmware for model KRV001 (regions 4 and 5: 2,052,096 bytes, 501 blocks).
python3 - "$work" <<'PY'
import random, sys
work = sys.argv[1]
rng = random.Random(16)
size = 0x200000
image = bytearray(rng.getrandbits(8) for _ in range(size))
image[size - 4096 + 0xFF0:size - 4096 + 0xFF6] = b"KRV001"
open(f"{work}/image.bin", "wb").write(image)
open(f"{work}/loader.bin", "wb").write(b"\x5a" * 300)
PY
"$build/quorsel-pack" "$build/quorsel" "$work/loader.bin" "$work/image.bin" "$work/firmware" >/dev/null
echo secret >"$work/password"

# One run: COUNT simulators, the fleet under /usr/bin/time; prints "wall user sys
# maxrss_kib" of the fleet, then the simulators' summed and largest peak memory in KiB.
run() {  # count
  local count=$1 dir="$work/run-$1"
  mkdir -p "$dir"
  : >"$dir/aps"
  local targets=()
  for i in $(seq 1 "$count"); do
    echo "10.79.3.$((i + 1)) --model KRV001 --password secret --erase-ms $ERASE_MS --block-ms $BLOCK_MS" >>"$dir/aps"
    targets+=("10.79.3.$((i + 1))")
  done
  FLEET_NETWORK=10.79.3.1/24 FLEET_RSS_OUT="$dir/apsim-rss" tests/e2e/run_fleet_in_netns.sh "$dir" "$build/quorsel-apsim" \
    "$dir/aps" -- /usr/bin/time -f "%e %U %S %M" -o "$dir/time" \
    "$build/quorsel-fleet" "$work/firmware" --password-file "$work/password" --jobs "$count" \
    --report "$dir/report.json" "${targets[@]}" >"$dir/out" 2>&1
  if [ "$(cat "$dir/fleet.rc")" != 0 ]; then
    echo "the fleet of $count failed:" >&2
    tail -5 "$dir/out" >&2
    exit 1
  fi
  echo "$(cat "$dir/time") $(awk '{s += $1; if ($1 > m) m = $1} END {print s, m}' "$dir/apsim-rss")"
}

read -r wall1 _ _ _ _ _ < <(run 1)
read -r wallN userN sysN rssN simSum simMax < <(run "$COUNT")
python3 - "$wall1" "$wallN" "$userN" "$sysN" "$rssN" "$simSum" "$simMax" "$COUNT" <<'PY'
import sys
wall1, wallN, user, sys_, rss, simSum, simMax = map(float, sys.argv[1:8])
count = int(sys.argv[8])
ratio = wallN / wall1
cpu = (user + sys_) / wallN * 100
print(f"one access point alone:   {wall1:.2f} s wall")
print(f"{count} access points, --jobs {count}: {wallN:.2f} s wall ({ratio:.3f}x one alone; target <= 1.15x)")
print(f"fleet CPU time: {user + sys_:.2f} s (user {user:.2f} s, system {sys_:.2f} s) = {cpu:.1f} % of its wall time (target < 10 %)")
print(f"fleet peak memory: {rss / 1024:.1f} MiB (target < 64 MiB)")
print(f"simulators' peak memory: {simSum / 1024:.1f} MiB for {count} ({simMax / 1024:.1f} MiB the largest)")
PY
