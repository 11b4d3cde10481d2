#!/bin/bash
# Installs, upgrades and removes the watcher's package under Wine, in a fresh
# prefix of its own (never the user's), and checks what each step leaves:
#   0. the package's tables, read back with msiinfo: supported systems, file
#      versions, no forced reinstall mode, secure properties, terminal-server
#      aware custom actions with a rollback, the other architecture excluded;
#   1. an older package of the same product (built here, version 0.9.0) goes in
#      silently into a folder of the administrator's choice: files, machine
#      configuration, the start of every user's logon and the common Start
#      menu shortcut, no shortcut of the installing user's own;
#   2. the suite is configured (an importer module, a Launch entry, a user's
#      registration file);
#   3. the package under test upgrades it with reduced UI into the remembered
#      folder: the configuration and the user's opt-out are kept, the files are
#      the new ones, one product is registered and the installer has started
#      the watcher by the unelevated road, which imports a simulated card; a
#      rebuild of the same version is refused;
#   4. the package is removed silently: no watcher runs and nothing of it is
#      left, while the suite's other keys and the user's file stay;
#   5. the other architecture's package, installed first, is replaced by this
#      one: never both.
set -u
while [ $# -gt 0 ]; do
  case "$1" in
    --msi) msi=$2 ;; --arch) arch=$2 ;; --wxs) wxs=$2 ;; --config-version) cfgver=$2 ;;
    --version) version=$2 ;; --file-version) fileversion=$2 ;; --finish) finish=$2 ;; --stage) stage=$2 ;; --state) state=$2 ;; --tools) tools=$2 ;;
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
  view=/reg:64; other=x86; otherpf="Program Files (x86)"
else
  view=/reg:32; other=x64; otherpf="Program Files"
fi
# The administrator's folder of the first installation; upgrades find it again.
installdir="$prefix/drive_c/Card Watcher"
wininstall='C:\Card Watcher\'
key='HKLM\Software\Zelm Corporation\Vantolo\VolumeWatcher'
runkey='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
optout='HKCU\Software\Zelm Corporation\Vantolo\VolumeWatcher'

regq() { wr reg query "$@" "$view" 2>/dev/null | tr -d '\r'; }
has_key() { wr reg query "$1" "$view" >/dev/null 2>&1; }
value_of() { regq "$1" /v "$2" | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
# Autostart shortcuts in any profile's Startup folder.
shortcut() { find "$prefix/drive_c/users" -path '*/Startup/Vantolo Card Watcher.lnk' 2>/dev/null; }
# The Start menu shortcut. Windows puts ProgramMenuFolder of a per-machine
# package (ALLUSERS=1) into the menu of all users; Wine's installer resolves it
# to the installing user's menu, so the table is what shows "every user".
startmenu_link() { find "$prefix/drive_c" -path '*/Start Menu/Programs/Vantolo Card Watcher.lnk' 2>/dev/null; }
table() { msiinfo export "$1" "$2" | tail -n +4 | tr -d '\r'; }
package() {  # package <arch> <version> <folder with the files> <out.msi>
  (cd "$state" && wixl -a "$1" -D Arch="$1" -D Version="$2" -D ConfigVersion="$cfgver" -D BinDir="$3" \
    -o "$4" "$wxs") && bash "$finish" "$4" "$2.0"
}
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
# Both registry views: the other architecture's package registers in its own.
products() {
  local v
  for v in /reg:64 /reg:32; do
    wr reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s "$v" 2>/dev/null
  done | tr -d '\r' | grep -c 'DisplayName.*Vantolo Card Watcher'
}

echo "=== prefix $prefix ($arch package $(basename "$msi"))"

echo "--- 0. the package's tables"
if [ "$arch" = x64 ]; then systems='Installed OR VersionNT64 >= 502'; else
  systems='Installed OR VersionNT > 500 OR (VersionNT = 500 AND ServicePackLevel >= 3)'; fi
check "launch condition: $systems" eval 'table "$msi" LaunchCondition | cut -f1 | grep -qxF "$systems"'
check "a rebuild of the installed version is refused" eval \
  'table "$msi" LaunchCondition | cut -f1 | grep -qxF "Installed OR NOT SAMEVERSIONFOUND"'
check "the same version is detected (minimum and maximum inclusive)" eval \
  'table "$msi" Upgrade | awk -F"\t" "\$7 == \"SAMEVERSIONFOUND\" { exit !(\$2 == \"$version\" && \$3 == \"$version\" && \$5 == 770) }"'
for f in WatcherExe UsbDriveInfoDll WatcherLoc; do
  check "File $f has version $fileversion" eval \
    '[ "$(table "$msi" File | awk -F"\t" -v f=$f "\$1 == f { print \$5 }")" = "$fileversion" ]'
done
check "version.txt is a companion of the program" eval \
  '[ "$(table "$msi" File | awk -F"\t" "\$1 == \"VersionTxt\" { print \$5 }")" = WatcherExe ]'
check "no REINSTALLMODE" eval '! table "$msi" Property | grep -q "^REINSTALLMODE"'
secure=$(table "$msi" Property | awk -F'\t' '$1 == "SecureCustomProperties" { print $2 }')
for p in AUTOSTART STARTWATCHER INSTALLDIR OTHERARCHFOUND; do
  check "$p is a secure property" eval '[[ ";$secure;" == *";$p;"* ]]'
done
catype() { table "$msi" CustomAction | awk -F'\t' -v a="$1" '$1 == a { print $2 }'; }
for a in EndWatchers UnregisterAllUsers RemoveConfiguration RestoreConfiguration CommitConfigurationRemoval; do
  check "$a is deferred and terminal-server aware" eval '(( ($(catype $a) & 0x4400) == 0x4400 ))'
done
check "RestoreConfiguration is a rollback action" eval '(( ($(catype RestoreConfiguration) & 0x700) == 0x500 ))'
check "CommitConfigurationRemoval is a commit action" eval '(( ($(catype CommitConfigurationRemoval) & 0x700) == 0x600 ))'
check "the watchers end before the files-in-use check" eval \
  'table "$msi" InstallExecuteSequence | awk -F"\t" "\$1 == \"CloseWatchers\" { exit !(\$3 < 1400) }"'
check "the watcher is started by the helper, not as msiexec's program" eval \
  '[ "$(table "$msi" CustomAction | awk -F"\t" "\$1 == \"StartWatcher\" { print \$4 }")" = StartWatcherAsUser ]'
otherCode=$(table "$msi" Upgrade | awk -F'\t' '$7 == "OTHERARCHFOUND" { print $1 }')
check "the other architecture's package is replaced (Upgrade $otherCode)" [ -n "$otherCode" ]

wr --start || { echo "FAIL no Wine session"; exit 1; }

# An older package of the same product, from the same files.
old=$state/old
mkdir -p "$old"
cp "$stage"/* "$old/"
printf '0.9.0' >"$old/version.txt"
package "$arch" 0.9.0 old "$state/old.msi" || { echo "FAIL older package"; exit 1; }

# The test's own programs: configuration writer, drive tool, reference importer, card.
work="$prefix/drive_c/msitest"
mkdir -p "$work/importer" "$work/card/DCIM/100TEST"
IFS=';' read -r -a toolfiles <<<"$tools"
cp "${toolfiles[@]}" "$work/"
mv "$work/RefImporter.exe" "$work/RefImporterLoc.dll" "$work/importer/" 2>/dev/null ||
  mv "$work"/refimporter*.exe "$work"/refimporterloc*.dll "$work/importer/"
for i in 1 2 3; do printf 'jpeg' >"$work/card/DCIM/100TEST/IMG_000$i.JPG"; done

echo "--- 1. older package, silent install"
wr msiexec /i "$(winpath "$state/old.msi")" /qn "INSTALLDIR=$wininstall"; rc=$?
check "install exits 0 (got $rc)" [ $rc = 0 ]
for f in QRNVolumeWatcher.exe UsbDriveInfo.dll QRNVolumeWatcherLOC.DLL version.txt; do
  check "installed $f in the chosen folder" [ -f "$installdir/$f" ]
done
check "version.txt is 0.9.0" [ "$(cat "$installdir/version.txt" 2>/dev/null)" = 0.9.0 ]
check "CurrentVersion is $cfgver" [ "$(value_of "$key" CurrentVersion)" = "$cfgver" ]
check "InstalledLocation is the installation folder" [ "$(value_of "$key\\$cfgver" InstalledLocation)" = "$wininstall" ]
check "empty Launch key" has_key "$key\\$cfgver\\Launch"
check "empty Ignore key" has_key "$key\\$cfgver\\Ignore"
check "every user's logon starts the watcher (machine Run value)" \
  [ "$(value_of "$runkey" "Vantolo Card Watcher")" = "\"${wininstall}QRNVolumeWatcher.exe\" /noballoononstart" ]
check "nothing in the installing user's own Run key" eval '! wr reg query "HKCU\Software\Microsoft\Windows\CurrentVersion\Run" /v "Vantolo Card Watcher" >/dev/null 2>&1'
check "no shortcut in any user's profile" [ -z "$(shortcut)" ]
check "Start menu shortcut made ($(startmenu_link))" [ -n "$(startmenu_link)" ]
check "in ProgramMenuFolder of a per-machine package" eval \
  'table "$msi" Shortcut | cut -f2 | grep -qx ProgramMenuFolder && table "$msi" Property | grep -qx "ALLUSERS.1"'
check "a silent install starts no watcher" no_watcher
verb() { wr "$installdir/QRNVolumeWatcher.exe" "$@" >/dev/null 2>&1; echo $?; }
check "isregisted: the machine-wide start counts (got $(verb /isregisted))" [ "$(verb /isregisted)" = 1 ]

echo "--- 2. the suite's configuration"
wr "$work/democonfig.exe" setup "${wininstall%\\}" 'C:\msitest\importer' 'C:\msitest\viewer.exe' >/dev/null
check "importer module registered" has_key 'HKLM\Software\Zelm Corporation\Vantolo\Importer\RefImporter'
check "Launch entry written" has_key "$key\\$cfgver\\Launch\\SampleViewer"
userfile=$(find "$prefix/drive_c/users" -maxdepth 1 -mindepth 1 -type d ! -name Public | head -1)
userfile="$userfile/AppData/Roaming/Zelm Corporation/Vantolo/ExtTools/keep.xml"
mkdir -p "$(dirname "$userfile")"
printf '<?xml version="1.0"?><plist version="1.0"><dict/></plist>' >"$userfile"
# The user switches automatic start off for themselves (as the dialog does).
wr reg add "$optout\\$cfgver" /v NoMachineAutostart /t REG_DWORD /d 1 /f "$view" >/dev/null 2>&1
check "isregisted after the user's opt-out is 0" [ "$(verb /isregisted)" = 0 ]
check "a logon start of that user ends at once (exit $(verb /noballoononstart))" [ "$(verb /noballoononstart)" = 0 ]
check "and leaves no watcher" no_watcher

echo "--- 3. upgrade to $version with reduced UI"
wr msiexec /i "$(winpath "$msi")" /qr /l*v "$(winpath "$state/upgrade.log")"; rc=$?
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
check "machine-wide start names the same folder" \
  [ "$(value_of "$runkey" "Vantolo Card Watcher")" = "\"${wininstall}QRNVolumeWatcher.exe\" /noballoononstart" ]
check "the upgrade keeps the user's opt-out (isregisted $(verb /isregisted))" [ "$(verb /isregisted)" = 0 ]
# The user switches automatic start on again.
wr reg add "$optout\\$cfgver" /v NoMachineAutostart /t REG_DWORD /d 0 /f "$view" >/dev/null 2>&1
check "isregisted after switching on again is 1" [ "$(verb /isregisted)" = 1 ]
# The helper starts the watcher with the logged-on user's normal rights or not
# at all. Wine's msiexec runs elevated and its session has no desktop shell
# to take a user's token from: there the helper must refuse.
road=$(tr -d '\r' <"$state/upgrade.log" | grep -a '^StartWatcherAsUser:')
check "never with msiexec's elevated rights ($road)" eval \
  '[[ "$road" == *"the logged-on user'"'"'s normal rights"* || "$road" == *"not started, the installer runs elevated"* ]]'
if [[ "$road" == *"not started"* ]]; then
  # What the next logon does: the machine-wide Run command, as the user.
  logon=$(value_of "$runkey" "Vantolo Card Watcher")
  check "no watcher started with msiexec's token" no_watcher
  wr "$installdir/QRNVolumeWatcher.exe" /noballoononstart >/dev/null 2>&1 &
fi
check "the watcher runs (started $([[ "$road" == *"not started"* ]] && echo "by the logon command $logon" || echo "by the installer"))" \
  wait_for 30 watcher_runs
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

rebuild=$state/rebuild
mkdir -p "$rebuild"
cp "$stage"/* "$rebuild/"
package "$arch" "$version" rebuild "$state/rebuild.msi" >/dev/null 2>&1
wr msiexec /i "$(winpath "$state/rebuild.msi")" /qn; rc=$?
check "a rebuild of the same version is refused (exit $rc)" [ $rc != 0 ]
check "still one product" [ "$(products)" = 1 ]

echo "--- 4. silent removal"
wr msiexec /x "$(winpath "$msi")" /qn; rc=$?
check "removal exits 0 (got $rc)" [ $rc = 0 ]
check "no watcher runs" wait_for 15 no_watcher
check "installation folder gone" [ ! -e "$installdir" ]
check "VolumeWatcher key gone" eval '! has_key "$key"'
check "no shortcut in any profile" [ -z "$(shortcut)" ]
check "Start menu shortcut gone" [ -z "$(startmenu_link)" ]
check "machine-wide start gone" eval '[ -z "$(value_of "$runkey" "Vantolo Card Watcher")" ]'
check "the device lists' rollback copy is gone" eval '! has_key "HKLM\Software\Zelm Corporation\Vantolo\VolumeWatcherRemoved"'
check "no product registered" [ "$(products)" = 0 ]
check "CancelAutoplay value gone" eval '! regq "$ap\CancelAutoplay\CLSID" /v 5E0B7C61-2F4A-4D8E-9B37-6A1C0F2D8E45 | grep -q REG_SZ'
check "AutoPlay handler gone" eval '! has_key "$ap\Handlers\\$handler"'
check "handler's ProgID gone" eval '! has_key "HKLM\Software\Classes\\$progid"'
check "the suite's importer registration stays" has_key 'HKLM\Software\Zelm Corporation\Vantolo\Importer\RefImporter'
check "the user's registration file stays" [ -f "$userfile" ]

wr reg delete "$optout" /f "$view" >/dev/null 2>&1

echo "--- 5. the other architecture's package is replaced"
otherdir=$state/other
mkdir -p "$otherdir"
cp "$stage"/* "$otherdir/"
package "$other" "$version" other "$state/other.msi" >/dev/null 2>&1 || fail "other package built"
wr msiexec /i "$(winpath "$state/other.msi")" /qn; rc=$?
check "the $other package installs (exit $rc)" [ $rc = 0 ]
check "its program is there" [ -f "$prefix/drive_c/$otherpf/Vantolo/VolumeWatcher/QRNVolumeWatcher.exe" ]
wr msiexec /i "$(winpath "$msi")" /qn; rc=$?
check "this package installs over it (exit $rc)" [ $rc = 0 ]
check "one product registered (got $(products))" [ "$(products)" = 1 ]
check "the $other package's program is gone" [ ! -e "$prefix/drive_c/$otherpf/Vantolo/VolumeWatcher/QRNVolumeWatcher.exe" ]
wr msiexec /x "$(winpath "$msi")" /qn
check "nothing registered at the end" [ "$(products)" = 0 ]

echo "=== $fails failed"
[ $fails = 0 ]
