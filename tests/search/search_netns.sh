#!/usr/bin/env bash
# Runs the search's network tests (a GoogleTest program) inside a private network
# namespace laid out as a small LAN:
#   10.79.1.0/24 on loopback: simulated access points at .10 (KRV001, generation 2),
#     .11 (MXD001, generation 1) and .12 (KRV001, generation 1); at .20 a service
#     that answers garbage, at .21 one that accepts and stays silent; every other
#     address refuses at once.
#   10.78.0.0/24 routed into the tun device t0 that no process reads: a connect to
#     any address there but the machine's own 10.78.0.1 times out silently.
#   search_netns.sh APSIM TEST_PROGRAM [GTEST_ARGS...]
set -u
if [ -z "${QUORSEL_SEARCH_NETNS:-}" ]; then
  export QUORSEL_SEARCH_NETNS=1
  if [ "$(id -u)" -eq 0 ]; then exec unshare --net "$0" "$@"; fi
  exec unshare --user --map-root-user --net "$0" "$@"
fi
apsim=$1; shift
ip link set lo up
ip addr add 10.79.1.1/24 dev lo
ip tuntap add dev t0 mode tun
ip link set t0 up
ip addr add 10.78.0.1/24 dev t0

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
start_apsim() {
  local out=$work/apsim.${#pids[@]}.out
  "$apsim" "$@" --port 9002 >"$out" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 200); do [ -s "$out" ] && return 0; sleep 0.02; done
  echo "${0##*/}: quorsel-apsim $* did not start" >&2
  exit 1
}
# --max-connections is left unbounded: the tests search the /24 more than once.
start_apsim --listen 10.79.1.10 --model KRV001 --generation 2
start_apsim --listen 10.79.1.11 --model MXD001 --generation 1
start_apsim --listen 10.79.1.12 --model KRV001 --generation 1
start_apsim --listen 10.79.1.20 --garbage-at inquiry
start_apsim --listen 10.79.1.21 --silent-at inquiry --silent-hold 60000
"$@"
