#!/bin/bash
# Runs the built watcher in a private Wine prefix with a sample configuration.
#
#   demo.sh [start]      prepare the prefix, start the watcher on a Wine desktop
#                        (your display when there is one, else a private Xvfb,
#                        with a screenshot saved as build/demo/screenshot.png)
#   demo.sh --win98      the same under Wine's Windows 98 setting: the card
#                        reader is identified and the sample Launch entry starts
#   demo.sh insert       insert a simulated memory card as W: and show what started
#   demo.sh remove       take the card out again
#   demo.sh phone        a phone without a drive letter (a portable device)
#                        arrives; show what started
#   demo.sh stop         end the watcher, the desktop and the Wine session
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${XP_DEMO_BUILD:-$top/build/x86_64}
state=${XP_DEMO_STATE:-$top/build/demo}
letter=W
mode=${1:-start}
wr="$top/scripts/wine-run"
export WINEPREFIX="$state/prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
# Debian's "wine" starts the 32-bit loader whenever it is installed; where
# 32-bit Linux programs cannot run, the 64-bit loader runs everything here.
if [ -x /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1 && [ -x /usr/lib/wine/wine64 ]; then
  export WINELOADER=/usr/lib/wine/wine64
  wine() { /usr/lib/wine/wine64 "$@"; }
  wineboot() { /usr/lib/wine/wine64 wineboot "$@"; }
fi
stage="$WINEPREFIX/drive_c/VantoloDemo"
win='C:\VantoloDemo'

# The user's display when it answers, otherwise the session's own Xvfb.
pick_display() {
  if [ -n "${DISPLAY:-}" ] && [ -z "${DEMO_XVFB:-}" ] && xdpyinfo >/dev/null 2>&1; then
    own_display=0
  else
    "$wr" "$state" --start
    export DISPLAY=$(cat "$state/display")
    own_display=1
  fi
}

dc() { wine "$stage/tools/democonfig.exe" "$@"; }

shot() {
  [ "$own_display" = 1 ] || return 0
  sleep "${2:-2}"
  import -window root -crop 1024x768+0+0 +repage "$1"
  echo "screenshot: $1"
}

stage_files() {
  mkdir -p "$stage/watcher" "$stage/importer" "$stage/viewer" "$stage/tools" "$stage/card/DCIM/100DEMO"
  cp "$build/app/QRNVolumeWatcher.exe" "$build/app/QRNVolumeWatcherLOC.DLL" "$stage/watcher/"
  [ -f "$build/usbdriveinfo/UsbDriveInfo.dll" ] && cp "$build/usbdriveinfo/UsbDriveInfo.dll" "$stage/watcher/"
  cp "$build/tools/refimporter/RefImporter.exe" "$build/tools/refimporter/RefImporterLoc.dll" "$stage/importer/"
  # The sample Launch entry starts this logging stand-in for a viewer.
  cp "$build/tools/refimporter/RefImporter.exe" "$stage/viewer/viewer.exe"
  cp "$build/tools/drivetool/drivetool.exe" "$build/tools/democonfig/democonfig.exe" "$stage/tools/"
  # The about box shows the build's own version, as an installation does.
  if [ -f "$build/app/version.txt" ]; then
    cp "$build/app/version.txt" "$stage/watcher/version.txt"
  else
    printf '1.0 (demo build %s)' "$(date +%Y-%m-%d)" >"$stage/watcher/version.txt"
  fi
  for i in 1 2 3; do printf 'jpeg' >"$stage/card/DCIM/100DEMO/IMG_000$i.JPG"; done
  rm -f "$stage/importer/RefImporter.log" "$stage/viewer/viewer.log"
}

start() {
  local version=${1:-default}
  pick_display
  [ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
  # XP_DEMO_DPI=144: the desktop at 150 % (Wine reads LogPixels when a program starts).
  if [ -n "${XP_DEMO_DPI:-}" ]; then
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$XP_DEMO_DPI" /f >/dev/null 2>&1 || true
  fi
  stage_files
  # A card left in by an earlier run would be present from the start and never "arrive".
  wine "$stage/tools/drivetool.exe" undefine "$letter" >/dev/null 2>&1 || true
  dc setup "$win\\watcher" "$win\\importer" "$win\\viewer\\viewer.exe"
  dc version "$version"
  [ "$version" = win98 ] && dc device98 "$letter"
  dc show
  # Wine's desktop shell has a taskbar with a notification area.
  setsid nohup "${WINELOADER:-wine}" explorer /desktop=shell,1024x768 "$win\\watcher\\QRNVolumeWatcher.exe" \
    >"$state/watcher.out" 2>&1 &
  if ! dc wait 60; then
    # Under the Windows 98 setting the search across desktops may not see the window.
    if [ "$version" = win98 ] && pgrep -f 'VantoloDemo.watcher.QRNVolumeWatcher' >/dev/null; then
      echo "The watcher runs (its window is not visible to the search under win98)."
    else
      echo "the watcher did not start; see $state/watcher.out"; exit 1
    fi
  fi
  echo "The watcher runs on display $DISPLAY (Wine desktop \"shell\")."
  shot "$state/screenshot.png" 4
  echo "Next: bash scripts/demo.sh insert   (a card arrives as $letter:)"
}

insert() {
  pick_display
  rm -f "$stage/importer/RefImporter.log" "$stage/viewer/viewer.log"
  dc run "$stage/tools/drivetool.exe" insert "$letter" "$win\\card"
  echo "Card inserted as $letter:. Waiting for the watcher (a quiet second, or a 5 s poll under win98)..."
  sleep 8
  echo "--- importer module runs (scoring, then the import):"
  cat "$stage/importer/RefImporter.log" 2>/dev/null || echo "(none)"
  echo "--- applications of the Launch list:"
  cat "$stage/viewer/viewer.log" 2>/dev/null || echo "(none)"
}

phone() {
  pick_display
  rm -f "$stage/importer/RefImporter.log" "$stage/viewer/viewer.log"
  dc phone arrive
  echo "Waiting for the watcher (a quiet second, then the importer's scoring run)..."
  sleep 6
  echo "--- importer module runs (scoring, then the import):"
  cat "$stage/importer/RefImporter.log" 2>/dev/null || echo "(none)"
  dc phone leave >/dev/null
}

remove() {
  pick_display
  dc run "$stage/tools/drivetool.exe" remove "$letter"
}

stop() {
  pick_display
  [ -f "$stage/watcher/QRNVolumeWatcher.exe" ] && { wine "$stage/watcher/QRNVolumeWatcher.exe" /exitall || true; }
  [ -f "$stage/tools/drivetool.exe" ] && { wine "$stage/tools/drivetool.exe" undefine "$letter" >/dev/null 2>&1 || true; }
  wineserver -k >/dev/null 2>&1 || true
  "$wr" "$state" --stop
}

case "$mode" in
  start) start ;;
  --win98) start win98 ;;
  insert) insert ;;
  remove) remove ;;
  phone) phone ;;
  stop) stop ;;
  *) sed -n '2,13p' "$0"; exit 1 ;;
esac
