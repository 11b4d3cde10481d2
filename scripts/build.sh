#!/bin/bash
# Configures and builds one architecture: build.sh <x86_64|i686> [build-dir]
set -eu
arch=${1:-x86_64}
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${2:-$top/build/$arch}
werror=OFF; [ "${CI:-}" = true ] && werror=ON
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$arch.cmake" -DXP_WERROR=$werror >/dev/null
ninja -C "$dir"
