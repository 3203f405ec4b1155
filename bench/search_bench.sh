#!/usr/bin/env bash
# The search's speed and memory targets, measured inside a private network namespace:
# a /24 whose every address drops the connect attempt (routed into a tun device that
# nobody reads; target: at most 1.5 s), a /24 whose every address refuses (loopback;
# target: at most 0.3 s), and the peak memory of the process (target: under 8 MiB).
#   bench/search_bench.sh [BUILD_DIR]      (default build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
if [ -z "${QUORSEL_SEARCH_BENCH_NETNS:-}" ]; then
  export QUORSEL_SEARCH_BENCH_NETNS=1
  if [ "$(id -u)" -eq 0 ]; then exec unshare --net "$0" "$build"; fi
  exec unshare --user --map-root-user --net "$0" "$build"
fi
ip link set lo up
ip addr add 10.79.0.1/24 dev lo
ip tuntap add dev t0 mode tun
ip link set t0 up
ip addr add 10.78.0.1/22 dev t0
"$build/quorsel_search_timing" 10.78.0.0/24 3
"$build/quorsel_search_timing" 10.79.0.0/24 20
# The widest default target, a /22 that drops: four rounds of the connect bound.
"$build/quorsel_search_timing" 10.78.0.0/22 1
