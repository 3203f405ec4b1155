#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# QUORSEL_TEST_SUBSET=session builds and runs only the tests whose outcome depends on
# who runs them and in what session (user and mount namespaces, pseudo-terminals,
# the desktop module and Qt's platforms, the updater's terminal front-end): the
# end-to-end tests with the choice of front-end, the terminal and the search in a
# network namespace (label e2e), the packer and the simulator (tools) and the
# desktop dialogs (ui_qt).
set -euo pipefail
cd "$(dirname "$0")/.."
targets=""
select=()
case "${QUORSEL_TEST_SUBSET:-}" in
  "") ;;
  session)
    targets="e2e_tests search_netns_tests tools_tests ui_qt_tests"
    select=(-L '^(e2e|tools|ui_qt)$')
    ;;
  *) echo "test.sh: unknown QUORSEL_TEST_SUBSET '$QUORSEL_TEST_SUBSET' (known: session)" >&2; exit 2 ;;
esac
scripts/install-deps.sh
BUILD_TARGETS=$targets scripts/build.sh
cd "${BUILD_DIR:-build}"
# The tests start quorsel themselves and answer its terminal prompts: keep it off
# any desktop the caller may have (the desktop tests set their own platform).
# The JUnit report lists the tests that did not run; CI fails on those it does not allow.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ctest --output-on-failure -j2 --timeout 300 \
  "${select[@]}" --output-junit "$PWD/ctest-junit.xml"
