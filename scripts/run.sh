#!/bin/bash
# Sets up the machine, builds the watcher and runs it under Wine.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/setup.sh"
bash "$top/scripts/build.sh" x86_64
exec bash "$top/scripts/demo.sh" "$@"
