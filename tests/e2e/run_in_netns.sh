#!/usr/bin/env bash
# Runs one update inside a private network namespace whose loopback carries the
# access point's default address 192.168.1.254, so quorsel uses its defaults for real.
#   run_in_netns.sh WORKDIR APSIM_ARGS -- UPDATER [ARGS...]
# Standard input goes to the updater. APSIM_ARGS "none" starts no simulator.
# Leaves in WORKDIR: apsim.log (the simulator's log), updater.rc (its exit status).
# Standard output and standard error are the updater's.
set -u
work=$1; shift
apsim_args=()
while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do apsim_args+=("$1"); shift; done
shift
exec unshare --net bash -s -- "$work" "${apsim_args[@]}" -- "$@" 3<&0 <<'INNER'
set -u
work=$1; shift
apsim_args=()
while [ "$1" != "--" ]; do apsim_args+=("$1"); shift; done
shift
ip link set lo up
ip addr add 192.168.1.254/32 dev lo
apsim_pid=""
if [ "${apsim_args[0]}" != "none" ]; then
  "${apsim_args[@]}" --listen 192.168.1.254 --port 9002 >"$work/apsim.out" 2>"$work/apsim.log" &
  apsim_pid=$!
  for _ in $(seq 200); do
    [ -s "$work/apsim.out" ] && break
    kill -0 "$apsim_pid" 2>/dev/null || break
    sleep 0.02
  done
fi
# setsid: no controlling terminal, so the password comes from standard input.
setsid -w "$@" <&3
echo $? >"$work/updater.rc"
if [ -n "$apsim_pid" ]; then
  kill "$apsim_pid" 2>/dev/null
  wait "$apsim_pid" 2>/dev/null
fi
exit 0
INNER
