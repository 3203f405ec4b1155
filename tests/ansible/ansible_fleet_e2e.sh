#!/usr/bin/env bash
# The collection built and installed with ansible-galaxy, its playbook quorsel.fleet.rollout
# run by Debian's ansible-playbook over two sites (both this machine, ansible_connection:
# local) in a private network namespace, each with a /24 of simulated access points:
#   site_a 10.80.1.0/24: .11 KRV001 generation 2 (password), .12 KRV001 generation 1
#   site_b 10.80.2.0/24: .11 KRV001 generation 2 (password), .20 KRV002 (another model)
# Check mode, the update, the same again, and a new access point at site_a that refuses the
# password.   ansible_fleet_e2e.sh SOURCE_DIR BUILD_DIR
set -u
if [ -z "${QUORSEL_ANSIBLE_NETNS:-}" ]; then
  export QUORSEL_ANSIBLE_NETNS=1
  if [ "$(id -u)" -eq 0 ]; then exec unshare --net "$0" "$@"; fi
  exec unshare --user --map-root-user --net "$0" "$@"
fi
source_dir=$1 build=$2 password='Site-pass 7'
ip link set lo up
ip addr add 10.80.1.1/24 dev lo
ip addr add 10.80.2.1/24 dev lo
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait; rm -rf "$work"' EXIT
fail() { [ -n "${out:-}" ] && cat "$out"; echo "${0##*/}: $*" >&2; exit 1; }
start_apsim() {  # ADDRESS [OPTIONS...]
  "$build/quorsel-apsim" --listen "$1" --port 9002 --flash "$work/flash-$1.bin" "${@:2}" \
    >"$work/apsim-$1.out" 2>"$work/apsim-$1.log" &
  pids+=($!)
  for _ in $(seq 3000); do [ -s "$work/apsim-$1.out" ] && return 0; sleep 0.02; done  # up to 60 s
  fail "quorsel-apsim at $1 did not start"
}
ranges_written() { cat "$work"/apsim-*.log | grep -c "range written"; }

head -c $((0x200000)) /dev/urandom >"$work/image.bin"
printf 'KRV001' | dd of="$work/image.bin" bs=1 seek=$((0x200000 - 4096 + 0xFF0)) conv=notrunc status=none
head -c 1024 /dev/urandom >"$work/loader.bin"
"$build/quorsel-pack" "$build/quorsel" "$work/loader.bin" "$work/image.bin" "$work/quorsel-KRV001" >/dev/null ||
  fail "cannot pack the firmware file"

python=$(head -1 "$(command -v ansible-playbook)" | sed 's/^#! *//')
export ANSIBLE_HOME=$work/ansible-home ANSIBLE_CONFIG=$work/ansible.cfg
printf '[defaults]\ncollections_path = %s\nlocal_tmp = %s\nremote_tmp = %s\ninterpreter_python = %s\nnocolor = true\n' \
  "$work/collections" "$work/tmp" "$work/tmp" "$python" >"$ANSIBLE_CONFIG"
{ ansible-galaxy collection build "$source_dir/ansible" --output-path "$work" &&
  ansible-galaxy collection install --offline -p "$work/collections" "$work/quorsel-fleet-1.0.0.tar.gz"
} >"$work/galaxy.out" 2>&1 || { cat "$work/galaxy.out"; fail "the collection cannot be built and installed"; }

cat >"$work/inventory.yml" <<EOF
sites:
  vars: {ansible_connection: local, quorsel_firmware: ["$work/quorsel-KRV001"], quorsel_password: "$password",
         quorsel_fleet_executable: "$build/quorsel-fleet"}
  hosts:
    site_a: {quorsel_targets: [10.80.1.0/24], quorsel_record: "$work/site_a/record.json"}
    site_b: {quorsel_targets: [10.80.2.0/24], quorsel_record: "$work/site_b/record.json"}
EOF
start_apsim 10.80.1.11 --model KRV001 --generation 2 --password "$password"
start_apsim 10.80.1.12 --model KRV001 --generation 1
start_apsim 10.80.2.11 --model KRV001 --generation 2 --password "$password"
start_apsim 10.80.2.20 --model KRV002 --generation 2

run=0
playbook() {  # [OPTIONS...]: the output in $out, the exit status in $status; the recap shown
  run=$((run + 1)) out=$work/run-$run.out
  ansible-playbook -v -i "$work/inventory.yml" quorsel.fleet.rollout "$@" >"$out" 2>&1
  status=$?
  echo "== run $run: ansible-playbook $*: exit status $status"
  sed -n '/^PLAY RECAP/,$p' "$out"
  ! grep -qF "$password" "$out" || fail "run $run shows the password"
}
expect() {  # EXIT_STATUS then SITE=CHANGED/FAILED...: the exit status and the recap's counts
  [ "$status" = "$1" ] || fail "run $run: exit status $status, not $1"
  local site host counts
  for site in "${@:2}"; do
    host=${site%%=*} counts=${site#*=}
    grep -qE "^$host +: ok=[0-9]+ +changed=${counts%/*} +unreachable=0 +failed=${counts#*/} " "$out" ||
      fail "run $run: the recap does not show $host with changed=${counts%/*} failed=${counts#*/}"
  done
}
results_of() {  # SITE: "address result," for each access point of its record that answered
  "$python" -c 'import json, sys
print("".join("%s %s," % (e["address"], e["result"]) for e in json.load(open(sys.argv[1]))["accessPoints"]
              if e["result"] != "no-answer"))' "$work/$1/record.json"
}

playbook --check
expect 0 site_a=1/0 site_b=1/0
[ "$(ranges_written)" = 0 ] && [ ! -e "$work/site_a" ] && [ ! -e "$work/site_b" ] || fail "the check run wrote"
playbook
expect 0 site_a=1/0 site_b=1/0
[ "$(results_of site_a)" = "10.80.1.11 updated,10.80.1.12 updated," ] || fail "site_a: $(results_of site_a)"
[ "$(results_of site_b)" = "10.80.2.11 updated,10.80.2.20 skipped-other-model," ] || fail "site_b: $(results_of site_b)"
written=$(ranges_written)
playbook
expect 0 site_a=0/0 site_b=0/0
[ "$(ranges_written)" = "$written" ] || fail "the second update wrote again"
start_apsim 10.80.1.13 --model KRV001 --generation 2 --password "not the site's"
playbook
expect 2 site_a=0/1
grep -q "10.80.1.13 failed-before-writing" "$out" || fail "the failure does not name 10.80.1.13"
! grep -qE "^site_b +:" "$out" || fail "the rollout went on to site_b after site_a failed"
echo "ansible e2e: the four runs as expected"
