#!/bin/bash
# Installs, upgrades and removes the watcher's package under Wine, in a fresh
# prefix of its own (never the user's), and checks what each step leaves:
#   1. an older package of the same product (built here, version 0.9.0) goes in
#      silently: files, machine configuration and the autostart shortcut;
#   2. the suite is configured (an importer module, a Launch entry, a user's
#      registration file);
#   3. the package under test upgrades it with reduced UI: the configuration is
#      kept, the files are the new ones, one product is registered and the
#      installer has started the watcher, which imports a simulated card;
#   4. the package is removed silently: no watcher runs and nothing of it is
#      left, while the suite's other keys and the user's file stay.
set -u
while [ $# -gt 0 ]; do
  case "$1" in
    --msi) msi=$2 ;; --arch) arch=$2 ;; --wxs) wxs=$2 ;; --config-version) cfgver=$2 ;;
    --version) version=$2 ;; --stage) stage=$2 ;; --state) state=$2 ;; --tools) tools=$2 ;;
    --wine-run) winerun=$2 ;; *) echo "unknown argument $1"; exit 2 ;;
  esac
  shift 2
done

fails=0
pass() { echo "ok   $*"; }
fail() { echo "FAIL $*"; fails=$((fails + 1)); }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }

rm -rf "$state"
mkdir -p "$state"
prefix=$state/prefix
wr() { "$winerun" "$state" "$@"; }
trap 'wr --stop >/dev/null 2>&1' EXIT
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

if [ "$arch" = x64 ]; then
  pf="Program Files"; view=/reg:64
else
  pf="Program Files (x86)"; view=/reg:32
fi
installdir="$prefix/drive_c/$pf/Vantolo/VolumeWatcher"
wininstall="C:\\$pf\\Vantolo\\VolumeWatcher\\"
key='HKLM\Software\Zelm Corporation\Vantolo\VolumeWatcher'

regq() { wr reg query "$@" "$view" 2>/dev/null | tr -d '\r'; }
has_key() { wr reg query "$1" "$view" >/dev/null 2>&1; }
value_of() { regq "$1" /v "$2" | awk -v n="$2" '$1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }
shortcut() { find "$prefix/drive_c/users" -name 'Vantolo Card Watcher.lnk' 2>/dev/null; }
# Watchers of this prefix only (other build folders run their own).
watchers() {
  local pid
  for pid in $(pgrep -f 'QRNVolumeWatcher\.exe' 2>/dev/null); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && echo "$pid"
  done
}
wait_for() { local n=$1; shift; local i; for i in $(seq 1 "$n"); do "$@" && return 0; sleep 1; done; return 1; }
watcher_runs() { [ -n "$(watchers)" ]; }
no_watcher() { [ -z "$(watchers)" ]; }
products() {
  regq 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | grep -c 'DisplayName.*Vantolo Card Watcher'
}

echo "=== prefix $prefix ($arch package $(basename "$msi"))"
wr --start || { echo "FAIL no Wine session"; exit 1; }

# An older package of the same product, from the same files.
old=$state/old
mkdir -p "$old"
cp "$stage"/* "$old/"
printf '0.9.0' >"$old/version.txt"
(cd "$state" && wixl -a "$arch" -D Arch="$arch" -D Version=0.9.0 -D ConfigVersion="$cfgver" -D BinDir=old \
  -o "$state/old.msi" "$wxs") || { echo "FAIL older package"; exit 1; }

# The test's own programs: configuration writer, drive tool, reference importer, card.
work="$prefix/drive_c/msitest"
mkdir -p "$work/importer" "$work/card/DCIM/100TEST"
IFS=';' read -r -a toolfiles <<<"$tools"
cp "${toolfiles[@]}" "$work/"
mv "$work/RefImporter.exe" "$work/RefImporterLoc.dll" "$work/importer/" 2>/dev/null ||
  mv "$work"/refimporter*.exe "$work"/refimporterloc*.dll "$work/importer/"
for i in 1 2 3; do printf 'jpeg' >"$work/card/DCIM/100TEST/IMG_000$i.JPG"; done

echo "--- 1. older package, silent install"
wr msiexec /i "$(winpath "$state/old.msi")" /qn; rc=$?
check "install exits 0 (got $rc)" [ $rc = 0 ]
for f in QRNVolumeWatcher.exe UsbDriveInfo.dll QRNVolumeWatcherLOC.DLL version.txt; do
  check "installed $pf/Vantolo/VolumeWatcher/$f" [ -f "$installdir/$f" ]
done
check "version.txt is 0.9.0" [ "$(cat "$installdir/version.txt" 2>/dev/null)" = 0.9.0 ]
check "CurrentVersion is $cfgver" [ "$(value_of "$key" CurrentVersion)" = "$cfgver" ]
check "InstalledLocation is the installation folder" [ "$(value_of "$key\\$cfgver" InstalledLocation)" = "$wininstall" ]
check "empty Launch key" has_key "$key\\$cfgver\\Launch"
check "empty Ignore key" has_key "$key\\$cfgver\\Ignore"
check "autostart shortcut of the installing user" [ -n "$(shortcut)" ]
check "a silent install starts no watcher" no_watcher

echo "--- 2. the suite's configuration"
wr "$work/democonfig.exe" setup "${wininstall%\\}" 'C:\msitest\importer' 'C:\msitest\viewer.exe' >/dev/null
check "importer module registered" has_key 'HKLM\Software\Zelm Corporation\Vantolo\Importer\RefImporter'
check "Launch entry written" has_key "$key\\$cfgver\\Launch\\SampleViewer"
userfile=$(find "$prefix/drive_c/users" -maxdepth 1 -mindepth 1 -type d ! -name Public | head -1)
userfile="$userfile/AppData/Roaming/Zelm Corporation/Vantolo/ExtTools/keep.xml"
mkdir -p "$(dirname "$userfile")"
printf '<?xml version="1.0"?><plist version="1.0"><dict/></plist>' >"$userfile"

echo "--- 3. upgrade to $version with reduced UI"
wr msiexec /i "$(winpath "$msi")" /qr; rc=$?
check "upgrade exits 0 (got $rc)" [ $rc = 0 ]
check "the program is the new one" cmp -s "$stage/QRNVolumeWatcher.exe" "$installdir/QRNVolumeWatcher.exe"
# Windows replaces an unversioned file the user has not changed; Wine's
# installer sometimes keeps the older version.txt on an upgrade (not yet
# understood). Reported, not failed, here.
if [ "$(cat "$installdir/version.txt" 2>/dev/null)" = "$version" ]; then
  pass "version.txt is $version"
else
  echo "note version.txt is $(cat "$installdir/version.txt" 2>/dev/null), not $version, after Wine's upgrade"
fi
# Windows removes the old package with UPGRADINGPRODUCTCODE set, so its final
# removal steps (device lists, every user's shortcut) are skipped. Wine's
# installer passes only REMOVE=ALL: the lists go. Reported, not failed, here.
if has_key "$key\\$cfgver\\Launch\\SampleViewer"; then
  pass "Launch entry kept"
else
  echo "note Launch entry not kept: Wine removes the older package without UPGRADINGPRODUCTCODE"
fi
check "InstalledLocation kept" [ "$(value_of "$key\\$cfgver" InstalledLocation)" = "$wininstall" ]
check "one product registered (got $(products))" [ "$(products)" = 1 ]
check "autostart shortcut kept" [ -n "$(shortcut)" ]
check "the installer started the watcher" wait_for 30 watcher_runs
sleep 3
rm -f "$work/importer/RefImporter.log"
wr "$work/drivetool.exe" insert W 'C:\msitest\card' >/dev/null
imported() { tr -d '\r' <"$work/importer/RefImporter.log" 2>/dev/null | grep -q '^# import\|^# arg W:\\$'; }
check "the watcher imports an inserted card" wait_for 30 imported
[ -f "$work/importer/RefImporter.log" ] && sed 's/^/     | /' "$work/importer/RefImporter.log" | tr -d '\r'

echo "--- 3b. AutoPlay: the registration and its command as the shell runs it"
ap='HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\AutoplayHandlers'
handler=VantoloImportOnArrival
check "CancelAutoplay lists the watcher's class id without braces" \
  eval 'regq "$ap\CancelAutoplay\CLSID" /v 5E0B7C61-2F4A-4D8E-9B37-6A1C0F2D8E45 | grep -q REG_SZ'
progid=$(value_of "$ap\Handlers\\$handler" InvokeProgID)
verb=$(value_of "$ap\Handlers\\$handler" InvokeVerb)
check "the handler names a ProgID and a verb ($progid, $verb)" [ -n "$progid" -a -n "$verb" ]
check "the handler's icon is the program's" [ "$(value_of "$ap\Handlers\\$handler" DefaultIcon)" = "${wininstall}QRNVolumeWatcher.exe,0" ]
for event in ShowPicturesOnArrival PlayVideoFilesOnArrival MixedContentOnArrival; do
  check "handler listed for $event" eval 'regq "$ap\EventHandlers\\$event" /v "$handler" | grep -q REG_SZ'
done
command=$(regq "HKLM\Software\Classes\\$progid\shell\\$verb\command" /ve | awk '/REG_SZ/ { sub(/^.*REG_SZ +/, ""); print }')
check "the command runs the autoplay verb ($command)" [ "$command" = "\"${wininstall}QRNVolumeWatcher.exe\" /autoplay \"%L\"" ]
# As the shell runs it: %L becomes the volume's root, the program's path and
# the argument are split as the command line's quotes say.
run_choice() {
  local line=${command//%L/W:\\}
  local program=${line#\"}
  program=${program%%\"*}
  local rest=${line#"\"$program\" "}
  local argument=${rest#* }
  argument=${argument#\"}
  wr "$program" "${rest%% *}" "${argument%\"}"
}
# Import runs: the program and the volume alone (scoring runs say /importscore).
imports() { tr -d '\r' 2>/dev/null <"$work/importer/RefImporter.log" | grep -c 'RefImporter\.exe" *W:\\$'; }
# The choice once: it exits 0 and the importer starts once.
choice_imports_once() {
  rm -f "$work/importer/RefImporter.log"
  run_choice; rc=$?
  check "the choice $1 exits 0 (got $rc)" [ $rc = 0 ]
  check "the importer starts $1" wait_for 30 eval '[ "$(imports)" -ge 1 ]'
  sleep 3  # a second start would come within this time
  check "the importer started once $1 (got $(imports))" [ "$(imports)" = 1 ]
}
choice_imports_once "with the watcher running"
wr "$installdir/QRNVolumeWatcher.exe" /exit >/dev/null 2>&1
check "the watcher ended" wait_for 15 no_watcher
choice_imports_once "with no watcher"
check "the choice leaves no watcher running" no_watcher
wr "$work/drivetool.exe" remove W >/dev/null

echo "--- 4. silent removal"
wr msiexec /x "$(winpath "$msi")" /qn; rc=$?
check "removal exits 0 (got $rc)" [ $rc = 0 ]
check "no watcher runs" wait_for 15 no_watcher
check "installation folder gone" [ ! -e "$installdir" ]
check "VolumeWatcher key gone" eval '! has_key "$key"'
check "autostart shortcut gone" [ -z "$(shortcut)" ]
check "no product registered" [ "$(products)" = 0 ]
check "CancelAutoplay value gone" eval '! regq "$ap\CancelAutoplay\CLSID" /v 5E0B7C61-2F4A-4D8E-9B37-6A1C0F2D8E45 | grep -q REG_SZ'
check "AutoPlay handler gone" eval '! has_key "$ap\Handlers\\$handler"'
check "handler's ProgID gone" eval '! has_key "HKLM\Software\Classes\\$progid"'
check "the suite's importer registration stays" has_key 'HKLM\Software\Zelm Corporation\Vantolo\Importer\RefImporter'
check "the user's registration file stays" [ -f "$userfile" ]

echo "=== $fails failed"
[ $fails = 0 ]
