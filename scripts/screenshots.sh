#!/bin/bash
# Makes the screenshots of docs/screenshots: the watcher of the demo (see
# scripts/demo.sh) on a Wine desktop on Xvfb, showing its icon with the start
# balloon, the context menu with the reference importer's item, the about box,
# the automatic start dialog and the Devices window with a labelled card. Build first: bash scripts/build.sh x86_64
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/docs/screenshots}
mkdir -p "$out"
# XP_SCREENSHOT_DPI=144 makes the same pictures at 150 % scaling, named
# <name>-150.png, in a prefix of their own.
dpi=${XP_SCREENSHOT_DPI:-}
suffix=
if [ -n "$dpi" ]; then
  export XP_DEMO_DPI=$dpi
  suffix=-$((dpi * 100 / 96))
fi
# A state folder of its own, so that a running demo is left alone.
export XP_DEMO_STATE=${XP_DEMO_STATE:-$top/build/screenshots$suffix}
state=$XP_DEMO_STATE
export WINEPREFIX=$state/prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
# Debian's "wine" starts the 32-bit loader whenever it is installed; where
# 32-bit Linux programs cannot run, the 64-bit loader runs everything here.
if [ -x /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1 && [ -x /usr/lib/wine/wine64 ]; then
  export WINELOADER=/usr/lib/wine/wine64
  wine() { /usr/lib/wine/wine64 "$@"; }
  wineboot() { /usr/lib/wine/wine64 wineboot "$@"; }
fi
dc() { wine "$WINEPREFIX/drive_c/VantoloDemo/tools/democonfig.exe" "$@"; }

# Always on the private Xvfb, so that the pictures never show the user's screen.
export DEMO_XVFB=1
bash "$top/scripts/demo.sh" stop >/dev/null 2>&1 || true
bash "$top/scripts/demo.sh" start || { echo "screenshots: the demo did not start" >&2; exit 1; }
export DISPLAY=$(cat "$state/display")
trap 'bash "$top/scripts/demo.sh" stop >/dev/null 2>&1 || true' EXIT

# The virtual desktop is the 1024x768 window at the top left of the Xvfb screen.
shot() {
  import -window root -display "$DISPLAY" -crop 1024x768+0+0 +repage "$out/$1$suffix.png"
  echo "screenshots: $out/$1$suffix.png"
}

sleep 1
shot balloon
sleep 15   # the balloon times out after 15 seconds
dc menu
sleep 1
dc key i   # opens "Importer Settings" with the reference importer's item
sleep 2
shot menu
dc key esc
dc key esc
sleep 1
dc menu
sleep 1
dc key a   # "About" in the menu
sleep 2
shot about
dc close-dialogs
sleep 1
dc autostart
sleep 2
shot autostart
dc close-dialogs
sleep 1
# A labelled card in the reader, listed in the Devices window after the
# importer modules were asked for their scores.
printf 'DEMO_CARD' >"$WINEPREFIX/drive_c/VantoloDemo/card/.windows-label"
dc run "$WINEPREFIX/drive_c/VantoloDemo/tools/drivetool.exe" insert W 'C:\VantoloDemo\card'
sleep 8
dc devices
sleep 3
dc devices-score
sleep 5
shot devices
dc close-dialogs
dc run "$WINEPREFIX/drive_c/VantoloDemo/tools/drivetool.exe" remove W
