// The machine's per-device launch settings: the "Launch" and "Ignore" lists of
// the watcher's versioned settings key, and the start of a listed application.
#pragma once

#include <windows.h>

#include "platform/XpString.h"

// "Software/Zelm Corporation/Vantolo/VolumeWatcher/<CurrentVersion>", the
// version read from the machine; empty when no version is named.
XpString WatcherVersionedKeyPath();

// Scans the subkeys of the machine's key listPath in enumeration order for the
// first one with both "VID" and "PID" that equal the ids. On a match its full
// path goes to entryPath (may be null) and the result is true.
bool FindDeviceListEntry(const XpString& listPath, DWORD vendorId, DWORD productId,
                         XpString* entryPath);

// "InstalledLocation" joined with "ExeName" of the suite application's
// versioned key "Software/Zelm Corporation/Vantolo/<instance>/<CurrentVersion>";
// missing values give empty parts.
XpString ResolveAppInstance(const XpString& instance);

// /Drive "<letter>" <commandLine> (a blank stays at the end when commandLine is empty).
XpString FormatLaunchArguments(wchar_t letter, const XpString& commandLine);

// The application of a Launch entry ("AppPath", else the resolved
// "AppInstance") and its arguments for the drive letter.
void ReadLaunchEntry(const XpString& entryPath, wchar_t letter, XpString* program,
                     XpString* arguments);
