#!/usr/bin/env bash
# Runs a command in a private mount namespace that changes what the machine offers
# a program, without touching the machine itself:
#   run_private_mounts.sh [--hide-qt] [--hide-dir DIR]... -- COMMAND [ARGS...]
#   --hide-qt    every libQt6*.so.6 the loader knows becomes an empty file (/dev/null
#                bound over it), as on a machine without Qt
#   --hide-dir   DIR, when it exists, becomes an empty folder
# The folder of X servers' sockets (/tmp/.X11-unix) is always emptied, so no X
# server is found through a file. Root gets a mount namespace of its own; other users
# a user namespace as well. Admin commands are called by their full path: an ordinary
# user's PATH has no /sbin.
set -euo pipefail
hide_qt=0
hide_dirs=(/tmp/.X11-unix)
while [ "$#" -gt 0 ] && [ "$1" != "--" ]; do
  case "$1" in
    --hide-qt) hide_qt=1 ;;
    --hide-dir) shift; hide_dirs+=("$1") ;;
    *) echo "run_private_mounts.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
shift
namespace=(unshare --mount)
[ "$(id -u)" -eq 0 ] || namespace=(unshare --user --map-root-user --mount)
exec "${namespace[@]}" bash -s -- "$hide_qt" "${hide_dirs[@]}" -- "$@" 3<&0 <<'INNER'
set -euo pipefail
hide_qt=$1; shift
hide_dirs=()
while [ "$1" != "--" ]; do hide_dirs+=("$1"); shift; done
shift
mount --make-rprivate /
if [ "$hide_qt" = 1 ]; then
  for library in $( (/sbin/ldconfig -p | awk '$1 ~ /^libQt6.*\.so\.6$/ {print $NF}'; ls /usr/lib/*/libQt6*.so.6 /usr/lib/libQt6*.so.6 2>/dev/null) | sort -u); do
    real=$(readlink -f "$library")
    [ -f "$real" ] || continue
    mount --bind /dev/null "$real"
  done
fi
for dir in "${hide_dirs[@]}"; do
  if [ -d "$dir" ]; then mount -t tmpfs -o mode=0755 none "$dir"; fi
done
exec "$@" <&3
INNER
