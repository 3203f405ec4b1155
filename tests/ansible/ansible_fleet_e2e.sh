#!/usr/bin/env bash
# The collection quorsel.fleet end to end: built with ansible-galaxy, installed into a
# scratch folder, and its playbook quorsel.fleet.rollout run by Debian's ansible-playbook
# over two sites inside a private network namespace. Both sites' machines are this one
# (ansible_connection: local); each site has its own /24 of simulated access points on
# loopback:
#   site_a 10.80.1.0/24: .11 KRV001 generation 2 (password), .12 KRV001 generation 1
#   site_b 10.80.2.0/24: .11 KRV001 generation 2 (password), .20 KRV002 (another model)
# Four runs: check mode (both would change, nothing written), the update (both change),
# the same again (changed=0), and with a new access point at site_a that refuses the
# password (site_a fails, the rollout stops before site_b).
#   ansible_fleet_e2e.sh SOURCE_DIR BUILD_DIR
set -u
if [ -z "${QUORSEL_ANSIBLE_NETNS:-}" ]; then
  export QUORSEL_ANSIBLE_NETNS=1
  if [ "$(id -u)" -eq 0 ]; then exec unshare --net "$0" "$@"; fi
  exec unshare --user --map-root-user --net "$0" "$@"
fi
source_dir=$1 build=$2
password='Site-pass 7'
ip link set lo up
ip addr add 10.80.1.1/24 dev lo
ip addr add 10.80.2.1/24 dev lo

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "${0##*/}: $*" >&2; exit 1; }

start_apsim() {  # ADDRESS [OPTIONS...]
  local address=$1; shift
  "$build/quorsel-apsim" --listen "$address" --port 9002 --flash "$work/flash-$address.bin" "$@" \
    >"$work/apsim-$address.out" 2>"$work/apsim-$address.log" &
  pids+=($!)
  # Up to 60 s: a loaded machine may be slow to start it.
  for _ in $(seq 3000); do [ -s "$work/apsim-$address.out" ] && return 0; sleep 0.02; done
  fail "quorsel-apsim at $address did not start"
}
ranges_written() { cat "$work"/apsim-*.log | grep -c "range written"; }

# A firmware file for KRV001.
head -c $((0x200000)) /dev/urandom >"$work/image.bin"
printf 'KRV001' | dd of="$work/image.bin" bs=1 seek=$((0x200000 - 4096 + 0xFF0)) conv=notrunc status=none
head -c 1024 /dev/urandom >"$work/loader.bin"
"$build/quorsel-pack" "$build/quorsel" "$work/loader.bin" "$work/image.bin" "$work/quorsel-KRV001" >/dev/null ||
  fail "cannot pack the firmware file"

# The collection, built and installed as an operator would.
python=$(head -1 "$(command -v ansible-playbook)" | sed 's/^#! *//')
export ANSIBLE_HOME=$work/ansible-home ANSIBLE_CONFIG=$work/ansible.cfg
cat >"$ANSIBLE_CONFIG" <<EOF
[defaults]
collections_path = $work/collections
local_tmp = $work/ansible-tmp
remote_tmp = $work/ansible-tmp
interpreter_python = $python
retry_files_enabled = false
nocolor = true
EOF
ansible-galaxy collection build "$source_dir/ansible" --output-path "$work" >"$work/galaxy.out" 2>&1 ||
  { cat "$work/galaxy.out"; fail "ansible-galaxy collection build failed"; }
ansible-galaxy collection install --offline -p "$work/collections" "$work/quorsel-fleet-1.0.0.tar.gz" \
  >>"$work/galaxy.out" 2>&1 || { cat "$work/galaxy.out"; fail "the built collection cannot be installed"; }

cat >"$work/inventory.yml" <<EOF
sites:
  vars:
    ansible_connection: local
    quorsel_firmware: ["$work/quorsel-KRV001"]
    quorsel_password: "$password"
    quorsel_fleet_executable: "$build/quorsel-fleet"
  hosts:
    site_a:
      quorsel_targets: [10.80.1.0/24]
      quorsel_record: "$work/site_a/record.json"
    site_b:
      quorsel_targets: [10.80.2.0/24]
      quorsel_record: "$work/site_b/record.json"
EOF

start_apsim 10.80.1.11 --model KRV001 --generation 2 --password "$password"
start_apsim 10.80.1.12 --model KRV001 --generation 1
start_apsim 10.80.2.11 --model KRV001 --generation 2 --password "$password"
start_apsim 10.80.2.20 --model KRV002 --generation 2

run=0
playbook() {  # [ansible-playbook options...]; the output in $work/run-N.out, its status in $status
  run=$((run + 1))
  out=$work/run-$run.out
  ansible-playbook -v -i "$work/inventory.yml" quorsel.fleet.rollout "$@" >"$out" 2>&1
  status=$?
  echo "== run $run: ansible-playbook $*, exit status $status"
  sed -n '/^PLAY RECAP/,$p' "$out"
  if grep -qF "$password" "$out"; then fail "run $run shows the password"; fi
}
expect_recap() {  # HOST CHANGED FAILED
  grep -qE "^$1 +: ok=[0-9]+ +changed=$2 +unreachable=0 +failed=$3 " "$out" ||
    { cat "$out"; fail "run $run: the recap does not show $1 with changed=$2 failed=$3"; }
}
results_of() {  # HOST: "address result" per access point in its record
  "$python" -c 'import json, sys
for e in json.load(open(sys.argv[1]))["accessPoints"]:
    if e["result"] != "no-answer": print(e["address"], e["result"])' "$work/$1/record.json"
}

playbook --check
[ "$status" = 0 ] || { cat "$out"; fail "the check run failed"; }
expect_recap site_a 1 0
expect_recap site_b 1 0
[ "$(ranges_written)" = 0 ] || fail "the check run wrote a range"
[ ! -e "$work/site_a" ] && [ ! -e "$work/site_b" ] || fail "the check run wrote a record"

playbook
[ "$status" = 0 ] || { cat "$out"; fail "the update failed"; }
expect_recap site_a 1 0
expect_recap site_b 1 0
[ "$(results_of site_a | tr '\n' ,)" = "10.80.1.11 updated,10.80.1.12 updated," ] || fail "site_a: $(results_of site_a)"
[ "$(results_of site_b | tr '\n' ,)" = "10.80.2.11 updated,10.80.2.20 skipped-other-model," ] ||
  fail "site_b: $(results_of site_b)"
written=$(ranges_written)

playbook
[ "$status" = 0 ] || { cat "$out"; fail "the second update failed"; }
expect_recap site_a 0 0
expect_recap site_b 0 0
[ "$(ranges_written)" = "$written" ] || fail "the second update wrote again"

start_apsim 10.80.1.13 --model KRV001 --generation 2 --password "not the site's"
playbook
[ "$status" != 0 ] || { cat "$out"; fail "a failed access point did not fail the playbook"; }
expect_recap site_a 0 1
grep -q "10.80.1.13 failed-before-writing" "$out" || { cat "$out"; fail "the failure does not name 10.80.1.13"; }
grep -qE "^site_b +:" "$out" && { cat "$out"; fail "the rollout went on to site_b after site_a failed"; }
grep -q "NO MORE HOSTS LEFT" "$out" || { cat "$out"; fail "the play did not stop"; }
echo "ansible e2e: 4 runs as expected"
