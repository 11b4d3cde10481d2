#!/bin/bash
# Sets up the machine, builds the watcher and runs it under Wine.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/setup.sh"
bash "$top/scripts/build.sh" x86_64
if [ ! -f "$top/build/x86_64/app/QRNVolumeWatcher.exe" ]; then
  echo "The platform builds; the watcher program itself does not exist yet."
  exit 0
fi
exec bash "$top/scripts/demo.sh" "$@"
