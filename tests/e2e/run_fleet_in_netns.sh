#!/usr/bin/env bash
# Runs quorsel-fleet against several simulated access points inside a private
# network namespace whose loopback carries 10.79.2.0/24 (or FLEET_NETWORK, e.g.
# 192.168.1.1/24).
#   run_fleet_in_netns.sh WORKDIR APSIM APS -- FLEET [ARGS...]
# APS names a file with one access point per line: "ADDRESS [APSIM OPTIONS...]";
# each is started as APSIM --listen ADDRESS --port 9002 --flash WORKDIR/flash-ADDRESS.bin
# OPTIONS, its log in WORKDIR/apsim-ADDRESS.log.
# With FLEET_INTERRUPT_LOG and FLEET_INTERRUPT_PATTERN set, the fleet gets SIGINT
# (Ctrl-C; FLEET_INTERRUPT_SIGNAL names another, e.g. TERM) FLEET_INTERRUPT_DELAY
# seconds after that log has a line matching the pattern, and with
# FLEET_SECOND_INTERRUPT=1 a second one a moment later.
# With FLEET_OUTPUT_CLOSED=1 the fleet's standard output and error are a pipe whose
# reader has gone (as after `quorsel-fleet ... | tee log` when tee ended first).
# With FLEET_RSS_OUT set, the simulators' peak memory goes to that file.
# Leaves WORKDIR/fleet.rc (the fleet's exit status). Standard input goes to the fleet.
set -u
work=$1 apsim=$2 aps=$3; shift 3
shift  # --
namespaces=(--net)
[ "$(id -u)" -eq 0 ] || namespaces=(--user --map-root-user --net)
exec unshare "${namespaces[@]}" bash -s -- "$work" "$apsim" "$aps" "$@" 3<&0 <<'INNER'
set -u
work=$1 apsim=$2 aps=$3; shift 3
ip link set lo up
ip addr add "${FLEET_NETWORK:-10.79.2.1/24}" dev lo
pids=()
while read -r address options; do
  case "$address" in ''|'#'*) continue ;; esac
  # shellcheck disable=SC2086
  "$apsim" --listen "$address" --port 9002 --flash "$work/flash-$address.bin" $options \
    >"$work/apsim-$address.out" 2>"$work/apsim-$address.log" &
  pids+=($!)
done <"$aps"
# Every simulator has printed its port once its .out file is not empty (up to 60 s:
# a loaded machine may be slow to start them).
for _ in $(seq 3000); do
  ready=1
  for out in "$work"/apsim-*.out; do [ -s "$out" ] || ready=0; done
  [ "$ready" = 1 ] && break
  sleep 0.02
done
if [ "${FLEET_OUTPUT_CLOSED:-0}" = 1 ]; then
  # Opened for reading and writing, then for writing, then the reader closed: the
  # only end left is the fleet's.
  mkfifo "$work/closed-output"
  exec 5<>"$work/closed-output" 6>"$work/closed-output" 5<&-
  "$@" <&3 >&6 2>&6 &
  fleet=$!
  exec 6>&-
else
  "$@" <&3 &
  fleet=$!
fi
if [ -n "${FLEET_INTERRUPT_LOG:-}" ]; then
  for _ in $(seq 1500); do
    grep -qE "$FLEET_INTERRUPT_PATTERN" "$FLEET_INTERRUPT_LOG" 2>/dev/null && break
    kill -0 "$fleet" 2>/dev/null || break
    sleep 0.02
  done
  sleep "${FLEET_INTERRUPT_DELAY:-0}"
  kill -"${FLEET_INTERRUPT_SIGNAL:-INT}" "$fleet" 2>/dev/null
  if [ "${FLEET_SECOND_INTERRUPT:-0}" = 1 ]; then
    sleep 0.3
    kill -"${FLEET_INTERRUPT_SIGNAL:-INT}" "$fleet" 2>/dev/null
  fi
fi
wait "$fleet"
echo $? >"$work/fleet.rc"
if [ -n "${FLEET_RSS_OUT:-}" ]; then
  # The simulators' peak resident memory, one line each in KiB.
  for pid in "${pids[@]}"; do awk '/^VmHWM/ {print $2}' /proc/"$pid"/status 2>/dev/null; done >"$FLEET_RSS_OUT"
fi
for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
exit 0
INNER
