#!/usr/bin/env bash
# Runs the tests as a newcomer does: an ordinary user in a login shell (its PATH
# without /sbin, no XDG_RUNTIME_DIR, no locale, no terminal), in a fresh clone of
# this checkout's commit in its home, after root has installed the packages. For
# root (CI): creates a throw-away user, runs scripts/test.sh there through `su -`,
# copies ctest's JUnit report out and removes the user with its home at the end.
#   scripts/test-as-user.sh [REPORT]    REPORT: where the JUnit report goes
#                                       (default build-user/ctest-junit.xml)
#   QUORSEL_TEST_SUBSET   passed to scripts/test.sh; "session" unless set ("" runs all)
# The user's umask is 002, as on systems with a group of its own for each user, so
# that nothing depends on root's 022 either.
set -euo pipefail
cd "$(dirname "$0")/.."
report=$(realpath -m "${1:-build-user/ctest-junit.xml}")
subset=${QUORSEL_TEST_SUBSET-session}
if [ "$(id -u)" -ne 0 ]; then
  echo "test-as-user.sh: run it as root: it creates and removes a user" >&2
  exit 2
fi
start=$SECONDS
# The user cannot install anything: the packages come first, from root.
scripts/install-deps.sh

user=quorsel-newcomer-$$
/usr/sbin/useradd --create-home --shell /bin/bash "$user"
cleanup() {
  # A process of the user's tests that outlived them is named and ended: the user
  # cannot be removed while it runs.
  if pgrep -u "$user" >/dev/null; then
    ps -u "$user" -o pid=,args= | sed 's/^/test-as-user.sh: still running: /' >&2
    pkill -KILL -u "$user" || true
    sleep 1
  fi
  # Whatever the user's tests left in the shared temporary folders goes too, named.
  find /tmp /var/tmp /dev/shm -user "$user" -printf 'test-as-user.sh: left behind: %p\n' -delete 2>/dev/null || true
  /usr/sbin/userdel --remove "$user" 2>/dev/null ||
    echo "test-as-user.sh: could not remove the user $user" >&2
}
trap cleanup EXIT
home=$(getent passwd "$user" | cut -d: -f6)

# A clone of the commit checked out here, owned by the user (--no-hardlinks: the
# clone shares no file with this checkout).
git clone --quiet --no-hardlinks "$PWD" "$home/quorsel"
git -C "$home/quorsel" checkout --quiet --detach "$(git rev-parse HEAD)"
chown -R "$user:" "$home/quorsel"

status=0
su - "$user" -c "umask 002 && cd quorsel && QUORSEL_TEST_SUBSET='$subset' scripts/test.sh" </dev/null || status=$?
mkdir -p "$(dirname "$report")"
rm -f "$report"
if [ -f "$home/quorsel/build/ctest-junit.xml" ]; then
  cp "$home/quorsel/build/ctest-junit.xml" "$report"
fi
count=$(grep -c '<testcase ' "$report" 2>/dev/null || true)
echo "test-as-user: ${count:-0} tests (subset '${subset:-all}') as $user in a login shell, status $status," \
  "$((SECONDS - start)) s"
exit "$status"
