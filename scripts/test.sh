#!/bin/bash
# Sets up the machine, builds both architectures and runs every test under Wine.
# Prints the number of test cases run per architecture, so a test program that
# drops out of the build or stops early shows in the totals.
set -eu
start=$(date +%s)
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/setup.sh"

# Sums the GoogleTest summaries that ctest kept of every test program's output.
count_cases() {
  local log="$top/build/$1/Testing/Temporary/LastTest.log"
  [ -f "$log" ] || { echo "=== $1: no test log"; return; }
  awk -v arch="$1" '
    /^\[==========\] [0-9]+ tests? from [0-9]+ test suites? ran\./ { ran += $2; programs++ }
    /^\[  PASSED  \] [0-9]+ tests?\./ { passed += $4 }
    /^\[  SKIPPED \] [0-9]+ tests?,/ { skipped += $4 }
    /^\[  FAILED  \] [0-9]+ tests?, listed below/ { failed += $4 }
    END { printf "=== %s: %d test cases ran in %d test programs (%d passed, %d skipped, %d failed)\n",
                 arch, ran, programs, passed, skipped, failed }' "$log"
}

rc=0
summary=""
jobs=$(( $(nproc 2>/dev/null || echo 2) * 3 ))
echo "=== format"
bash "$top/scripts/format.sh" --check || rc=1

# 32-bit Windows programs need Wine's 32-bit loader, and that needs a kernel
# that runs 32-bit Linux programs; some machines have none. There the i686
# build, its import gate and its signing are still checked, its programs not.
runs32=1; why32=""
if [ ! -x /usr/lib/wine/wine ]; then
  runs32=0; why32="32-bit Wine is not installed (see the setup output)"
elif ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  runs32=0; why32="this machine cannot run 32-bit programs"
fi

for arch in x86_64 i686; do
  echo "=== $arch: build"
  bash "$top/scripts/build.sh" "$arch" || { rc=1; summary+="=== $arch: build failed"$'\n'; continue; }
  echo "=== $arch: tests"
  only=()
  if [ "$arch" = i686 ] && [ $runs32 = 0 ]; then
    echo "=== i686: $why32: only the checks that need no Wine run"
    only=(-R '^(import_gate|signing_test)$')
  fi
  # The whole output of passed tests is kept, so that the counts below see it.
  # The Wine tests mostly wait (quiet periods, other processes, bounds), and
  # the ones that start the real program each have a session of their own:
  # three entries a core keep the cores busy.
  (cd "$top/build/$arch" && ctest --output-on-failure -j"$jobs" --timeout 900 "${only[@]}" \
     --test-output-size-passed 8000000 --test-output-size-failed 8000000) || rc=1
  summary+="$(count_cases "$arch")"$'\n'
done
printf '%s' "$summary"
echo "=== test run took $(( $(date +%s) - start )) s"
exit $rc
