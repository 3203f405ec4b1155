#!/usr/bin/env bash
# Runs one update inside a private network namespace whose loopback carries the
# access point's default address 192.168.1.254, so quorsel uses its defaults for real.
#   run_in_netns.sh WORKDIR APSIM_ARGS -- UPDATER [ARGS...]
# Standard input goes to the updater. APSIM_ARGS "none" starts no simulator.
# NETNS_APSIM_ADDRESS puts the simulator at another address (on the loopback)
# instead of the default one, which then carries nothing. NETNS_SEARCH_SUBNET
# (a.b.c.d/n) gives the namespace an interface on that subnet: a tun device that no
# process reads, so a connect to any other address of it times out silently.
# Leaves in WORKDIR: apsim.log (the simulator's log), updater.rc (its exit status).
# Standard output and standard error are the updater's. With NETNS_ON_TERMINAL=1 the
# updater stays in the caller's session, so a terminal the caller runs on stays its
# controlling terminal (the password is then read from it).
# As root the namespace needs only --net; an ordinary user gets one inside a user
# namespace of its own, where it is root and may configure the loopback.
set -u
work=$1; shift
apsim_args=()
while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do apsim_args+=("$1"); shift; done
shift
namespaces=(--net)
[ "$(id -u)" -eq 0 ] || namespaces=(--user --map-root-user --net)
exec unshare "${namespaces[@]}" bash -s -- "$work" "${apsim_args[@]}" -- "$@" 3<&0 <<'INNER'
set -u
work=$1; shift
apsim_args=()
while [ "$1" != "--" ]; do apsim_args+=("$1"); shift; done
shift
ip link set lo up
apsim_address=${NETNS_APSIM_ADDRESS:-192.168.1.254}
ip addr add "$apsim_address/32" dev lo
if [ -n "${NETNS_SEARCH_SUBNET:-}" ]; then
  ip tuntap add dev t0 mode tun
  ip link set t0 up
  ip addr add "$NETNS_SEARCH_SUBNET" dev t0
fi
apsim_pid=""
if [ "${apsim_args[0]}" != "none" ]; then
  if [ "${NETNS_ON_TERMINAL:-0}" = 1 ]; then
    # Out of the terminal's process group: Ctrl-C typed for the updater must not end it.
    setsid "${apsim_args[@]}" --listen "$apsim_address" --port 9002 >"$work/apsim.out" 2>"$work/apsim.log" &
  else
    "${apsim_args[@]}" --listen "$apsim_address" --port 9002 >"$work/apsim.out" 2>"$work/apsim.log" &
  fi
  apsim_pid=$!
  # The simulator prints its address once it listens; a loaded machine may take a
  # while to start it, so wait up to 60 s (it is checked for having died meanwhile).
  for _ in $(seq 3000); do
    [ -s "$work/apsim.out" ] && break
    kill -0 "$apsim_pid" 2>/dev/null || break
    sleep 0.02
  done
fi
if [ "${NETNS_ON_TERMINAL:-0}" = 1 ]; then
  "$@" <&3
else
  # setsid: no controlling terminal, so the password comes from standard input.
  setsid -w "$@" <&3
fi
echo $? >"$work/updater.rc"
if [ -n "$apsim_pid" ]; then
  kill "$apsim_pid" 2>/dev/null
  wait "$apsim_pid" 2>/dev/null
fi
exit 0
INNER
