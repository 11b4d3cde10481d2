// The per-device launch settings: the "Launch" and "Ignore" lists of the
// watcher's versioned settings key, the user's before the machine's, and the
// start of a listed application.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/XpResult.h"
#include "platform/XpString.h"

// "Software/Zelm Corporation/Vantolo/VolumeWatcher/<CurrentVersion>", the
// version read from the machine; empty when no version is named.
XpString WatcherVersionedKeyPath();

// "InstalledLocation" joined with "ExeName" of the suite application's
// versioned key "Software/Zelm Corporation/Vantolo/<instance>/<CurrentVersion>";
// missing values give empty parts.
XpString ResolveAppInstance(const XpString& instance);

// /Drive "<letter>" <commandLine> (a blank stays at the end when commandLine is empty).
XpString FormatLaunchArguments(wchar_t letter, const XpString& commandLine);

// ---- device rules: entries of "Launch" and "Ignore" ----

// What a device is known by when its rule is looked up. A serial number or
// volume label counts only when known; an entry that asks for one that is not
// known does not match. A caller that knows only the ids leaves both unknown.
struct DeviceFacts {
  DeviceFacts() : vendorId(0), productId(0), serialKnown(false), labelKnown(false) {}
  DWORD vendorId;
  DWORD productId;
  bool serialKnown;
  XpString serial;
  bool labelKnown;
  XpString label;
};

// One subkey of a "Launch" or "Ignore" list. Empty serial or label texts are
// no criterion.
struct DeviceListEntry {
  DeviceListEntry() : root(0), vendorId(0), productId(0) {}
  DWORD root;     // XpRegistry::kRootCurrentUser or kRootLocalMachine
  XpString path;  // the subkey's full path
  XpString name;  // the subkey's own name
  DWORD vendorId;
  DWORD productId;
  XpString serial;  // "SerialNumber", compared ignoring case
  XpString label;   // "VolumeLabel", ignoring case, with * and ? wildcards
  // 2 for the ids, one more for each of serial and label.
  int criteria() const;
  bool wantsSerial() const { return !serial.IsEmpty(); }
  bool wantsLabel() const { return !label.IsEmpty(); }
};
typedef std::vector<DeviceListEntry> DeviceList;

// The subkeys of listPath under root with both "VID" and "PID", in enumeration order.
DeviceList ReadDeviceList(const XpString& listPath, DWORD root);
// * matches any run of characters, ? any one; letter case is ignored.
bool MatchWildcardNoCase(const XpString& pattern, const XpString& text);
bool DeviceListEntryMatches(const DeviceListEntry& entry, const DeviceFacts& facts);
// The machine's list at listPath alone, for a device known by its ids alone:
// the entry a decision would take from that list (never one with serial or
// label criteria). On a match it goes to entry (may be null).
bool FindDeviceListEntry(const XpString& listPath, DWORD vendorId, DWORD productId, DeviceListEntry* entry);
// Index of the matching entry with the most criteria, the first in list order
// among equals; -1 when none matches.
int SelectDeviceListEntry(const DeviceList& list, const DeviceFacts& facts);
// Whether some entry with these ids asks for a serial or a label, so that a
// caller fetches them only when a rule needs them.
bool DeviceListWantsSerial(const DeviceList& list, DWORD vendorId, DWORD productId);
bool DeviceListWantsLabel(const DeviceList& list, DWORD vendorId, DWORD productId);

enum DeviceRuleKind { kDeviceRuleNone = 0, kDeviceRuleLaunch = 1, kDeviceRuleIgnore = 2 };

// The four lists in the order they are consulted: the user's "Launch" and
// "Ignore" (HKCU) before the machine's (HKLM), "Launch" before "Ignore" in each.
struct DeviceRules {
  DeviceList lists[4];
  static DeviceRuleKind kindOf(int list) { return list % 2 == 0 ? kDeviceRuleLaunch : kDeviceRuleIgnore; }
  bool wantsSerial(DWORD vendorId, DWORD productId) const;
  bool wantsLabel(DWORD vendorId, DWORD productId) const;
};
// Reads the four lists of the versioned key; all empty without a version.
DeviceRules ReadDeviceRules();
// The rule that decides for a device: the first list with a match gives it.
// kDeviceRuleNone without one (the importer modules decide).
DeviceRuleKind FindDeviceRule(const DeviceRules& rules, const DeviceFacts& facts, DeviceListEntry* found);

// The program of a Launch entry ("AppPath", else the resolved "AppInstance",
// which is always looked up on the machine) and its "CommandLine"; empty
// texts when the entry cannot be opened. The entry is opened in its list by
// its name as listed, so a "/" in the name is part of it.
void ReadLaunchCommand(const DeviceListEntry& entry, XpString* program, XpString* commandLine);

// /Device "<interfacePath>" <commandLine> (a blank stays at the end when
// commandLine is empty).
XpString FormatDeviceLaunchArguments(const XpString& interfacePath, const XpString& commandLine);

// Adds a subkey to the user's "Ignore" list that names the device by its ids
// and, when given, its serial. The name is free among the list's subkeys and
// returned in *name. 0 or the registry's failure.
[[nodiscard]] XpResult AddUserIgnoreRule(const DeviceFacts& facts, bool withSerial, XpString* name);
