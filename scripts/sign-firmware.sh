#!/usr/bin/env bash
# Signs a packed Windows firmware file with Authenticode (Debian's osslsigncode) and
# checks that the updater still reads its container:
#
#   scripts/sign-firmware.sh CERT KEY IN.exe [OUT.exe]
#
# CERT is the code-signing certificate (PEM or DER, with its chain when there is
# one), KEY its private key (PEM or DER). OUT defaults to IN, which is then replaced
# only once the signed file is complete. SIGN_KEY_PASSWORD_FILE names a file holding
# the key's password; SIGN_TIMESTAMP_URL a time-stamping server (RFC 3161) to
# countersign with, which is the only time this script uses the network. QUORSEL_PACK
# (default: quorsel-pack on PATH, else build/quorsel-pack) reads the result back.
set -euo pipefail

usage() { echo "usage: ${0##*/} CERT KEY IN.exe [OUT.exe]" >&2; exit 2; }
[ "$#" -eq 3 ] || [ "$#" -eq 4 ] || usage
cert=$1 key=$2 in=$3 out=${4:-$3}
for f in "$cert" "$key" "$in"; do
  [ -r "$f" ] || { echo "${0##*/}: cannot read $f" >&2; exit 1; }
done
command -v osslsigncode >/dev/null || { echo "${0##*/}: osslsigncode is missing (apt-get install osslsigncode)" >&2; exit 1; }
pack=${QUORSEL_PACK:-$(command -v quorsel-pack || echo "$(dirname "$0")/../build/quorsel-pack")}

name=$(basename "$out")
name=${name%.exe}
args=(sign -certs "$cert" -key "$key" -h sha256 -n "$name")
[ -n "${SIGN_KEY_PASSWORD_FILE:-}" ] && args+=(-readpass "$SIGN_KEY_PASSWORD_FILE")
[ -n "${SIGN_TIMESTAMP_URL:-}" ] && args+=(-ts "$SIGN_TIMESTAMP_URL")

tmp=$(mktemp "$(dirname "$out")/.${name}.XXXXXX")
trap 'rm -f "$tmp"' EXIT
rm -f "$tmp"  # osslsigncode refuses to overwrite
osslsigncode "${args[@]}" -in "$in" -out "$tmp" >/dev/null
# The updater must still find its container before the certificate table.
info=$("$pack" --info "$tmp") && grep -q '^signed: yes' <<<"$info" ||
  { echo "${0##*/}: the signed file's container cannot be read back" >&2; exit 1; }
chmod 0755 "$tmp"
mv -f "$tmp" "$out"
trap - EXIT
echo "$out"
