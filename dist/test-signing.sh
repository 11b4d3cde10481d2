#!/bin/bash
# Signs copies of the shipped files and the package with a certificate made for
# this run only, then checks every signature with osslsigncode verify.
#   test-signing.sh <sign.sh> <work folder> <file>...
set -eu
sign=$1; work=$2; shift 2
rm -rf "$work"; mkdir -p "$work"
cd "$work"
openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -subj "/CN=Vantolo test signing" \
  -keyout key.pem -out cert.pem >/dev/null 2>&1
openssl pkcs12 -export -inkey key.pem -in cert.pem -out test.p12 -passout pass:throwaway >/dev/null 2>&1
export XP_SIGN_PKCS12=$work/test.p12 XP_SIGN_PASSWORD=throwaway
rc=0
for f in "$@"; do
  copy=$work/$(basename "$f")
  cp "$f" "$copy"
  if ! bash "$sign" "$copy"; then echo "FAIL sign $copy"; rc=1; continue; fi
  if osslsigncode verify -CAfile cert.pem -in "$copy" >verify.log 2>&1 && grep -q "Signature verification: ok" verify.log; then
    echo "ok   $(basename "$f") signed and verified"
  else
    echo "FAIL $(basename "$f")"; cat verify.log; rc=1
  fi
done
# A file changed after signing no longer verifies.
exe=$(ls "$work"/*.exe | head -1)
printf 'x' | dd of="$exe" bs=1 seek=1000 conv=notrunc 2>/dev/null
if osslsigncode verify -CAfile cert.pem -in "$exe" >verify.log 2>&1 && grep -q "Signature verification: ok" verify.log; then
  echo "FAIL a changed file still verifies"; rc=1
else
  echo "ok   a changed file fails verification"
fi
rm -f key.pem test.p12
exit $rc
