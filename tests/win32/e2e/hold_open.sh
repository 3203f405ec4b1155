# Sourced by the Windows end-to-end scripts (with $work holding quorsel-hold-open.exe):
# another Windows program, under the same Wine server, that holds a file open for
# writing.
#
#   hold_open FILE    starts the hold and waits until the file is held
#   release_hold      ends it and waits for the program to end
QUORSEL_HOLD_PID=""
# Up to 60 s for Wine to start the program on a loaded machine.
QUORSEL_HOLD_WAIT_STEPS=3000
hold_open() {
  rm -f "$work/hold.out" "$work/hold.release"
  wine "$work/quorsel-hold-open.exe" "$(winepath -w "$1")" "$(winepath -w "$work")\\hold.release" \
    >"$work/hold.out" 2>&1 &
  QUORSEL_HOLD_PID=$!
  for _ in $(seq "$QUORSEL_HOLD_WAIT_STEPS"); do
    grep -q '^held' "$work/hold.out" 2>/dev/null && return 0
    kill -0 "$QUORSEL_HOLD_PID" 2>/dev/null || break
    sleep 0.02
  done
  echo "  the file could not be held open: $(cat "$work/hold.out" 2>/dev/null)" >&2
  return 1
}
release_hold() {
  [ -n "$QUORSEL_HOLD_PID" ] || return 0
  touch "$work/hold.release"
  local status=0
  wait "$QUORSEL_HOLD_PID" || status=$?
  QUORSEL_HOLD_PID=""
  [ "$status" -eq 0 ] || { echo "  the hold ended with status $status" >&2; return 1; }
}
