#!/bin/bash
# Signs one Windows file (program, library or installer package) in place with
# osslsigncode: sign.sh <file>. The certificate is the PKCS#12 file named by
# XP_SIGN_PKCS12, its password XP_SIGN_PASSWORD (or XP_SIGN_PASSWORD_DEFAULT,
# which the build passes from its cache). SHA-256, with the product name.
set -eu
file=$1
: "${XP_SIGN_PKCS12:?XP_SIGN_PKCS12 names no certificate}"
pass=${XP_SIGN_PASSWORD:-${XP_SIGN_PASSWORD_DEFAULT:-}}
tmp="$file.signing"
rm -f "$tmp"
# The password travels in a file of mode 600, never on a command line.
passfile=$(mktemp)
trap 'rm -f "$passfile" "$tmp"' EXIT
printf '%s' "$pass" >"$passfile"
osslsigncode sign -pkcs12 "$XP_SIGN_PKCS12" -readpass "$passfile" -h sha256 \
  -n "Vantolo Card Watcher" -in "$file" -out "$tmp" >/dev/null
mv -f "$tmp" "$file"
