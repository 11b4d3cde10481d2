#!/bin/bash
# What wixl cannot write, added to a package it built:
#   finish-package.sh <package.msi> <file version a.b.c.d>
# - the version of each PE file in the File table, so that Windows Installer
#   replaces files by their versions; version.txt becomes a companion file of
#   the program (installed and replaced whenever the program is);
# - AUTOSTART, STARTWATCHER, INSTALLDIR and REMEMBEREDDIR among the secure
#   properties, so that the values given to msiexec reach the installation run;
# - the condition of the machine-wide autostart component (AUTOSTART="1");
# - the inclusive maximum (0x200) of the Upgrade row that detects a build of
#   the same version (wixl drops IncludeMaximum);
# - the rollback (0x500) and commit (0x600) kinds of the two actions that
#   undo or complete the removal of the device lists (wixl writes them as
#   immediate actions);
# - the terminal-server aware flag (0x4000) on every deferred custom action.
set -eu
msi=$1
version=$2
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "finish-package: bad version $version" >&2; exit 2; }

table() { msiinfo export "$msi" "$1" | tail -n +4 | tr -d '\r'; }

secure=$(table Property | awk -F'\t' '$1 == "SecureCustomProperties" { print $2 }')
secure=${secure:+$secure;}AUTOSTART\;STARTWATCHER\;INSTALLDIR\;REMEMBEREDDIR
queries=(
  "UPDATE File SET Version = '$version', Language = '0' WHERE File = 'WatcherExe' OR File = 'UsbDriveInfoDll' OR File = 'WatcherLoc'"
  "UPDATE File SET Version = 'WatcherExe' WHERE File = 'VersionTxt'"
  "UPDATE Component SET Condition = 'AUTOSTART=\"1\"' WHERE Component = 'MachineAutostart'"
)
# Attributes belongs to the Upgrade table's key: the row is written anew.
# (Fields are cut by awk: read would merge the empty ones.)
same=$(table Upgrade | awk -F'\t' '$7 == "SAMEVERSIONFOUND" && int($5 / 512) % 2 == 0 { print $1 "\t" $2 "\t" $3 "\t" $5 }')
if [ -n "$same" ]; then
  IFS=$'\t' read -r code low high attributes <<<"$same"
  queries+=("DELETE FROM Upgrade WHERE ActionProperty = 'SAMEVERSIONFOUND'"
    "INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax, Attributes, ActionProperty) VALUES ('$code', '$low', '$high', $((attributes | 0x200)), 'SAMEVERSIONFOUND')")
fi
if table Property | grep -q '^SecureCustomProperties'; then
  queries+=("UPDATE Property SET Value = '$secure' WHERE Property = 'SecureCustomProperties'")
else
  queries+=("INSERT INTO Property (Property, Value) VALUES ('SecureCustomProperties', '$secure')")
fi
# Deferred (0x400) actions, rollback and commit included, get 0x4000.
while IFS=$'\t' read -r action type _; do
  new=$type
  case $action in
    RestoreConfiguration) new=$((new | 0x500)) ;;
    CommitConfigurationRemoval) new=$((new | 0x600)) ;;
  esac
  ((new & 0x400)) && new=$((new | 0x4000))
  if ((new != type)); then
    queries+=("UPDATE CustomAction SET Type = $new WHERE Action = '$action'")
  fi
done < <(table CustomAction)
for q in "${queries[@]}"; do
  msibuild "$msi" -q "$q"
done
