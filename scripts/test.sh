#!/bin/bash
# Sets up the machine, builds both architectures and runs every test under Wine.
set -eu
start=$(date +%s)
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/setup.sh"
rc=0
for arch in x86_64 i686; do
  echo "=== $arch: build"
  bash "$top/scripts/build.sh" "$arch" || { rc=1; continue; }
  echo "=== $arch: tests"
  (cd "$top/build/$arch" && ctest --output-on-failure -j2 --timeout 900) || rc=1
done
echo "=== test run took $(( $(date +%s) - start )) s"
exit $rc
