// The "Launch" and "Ignore" lists for devices that arrive by name rather than
// by drive letter (portable devices): matched by the USB vendor and product id
// read from the device's interface path.
#pragma once

#include <windows.h>

#include "platform/XpString.h"

// Scans the machine's list at listPath like FindDeviceListEntry, with the ids
// read from a USB interface path. False, without a scan, for a path that
// carries no USB ids.
bool FindDeviceListEntryForPath(const XpString& listPath, const XpString& interfacePath, XpString* entryPath);

// /Device "<interfacePath>" <commandLine> (a blank stays at the end when
// commandLine is empty).
XpString FormatDeviceLaunchArguments(const XpString& interfacePath, const XpString& commandLine);

// The application of a Launch entry ("AppPath", else the resolved
// "AppInstance") and its arguments for the device.
void ReadDeviceLaunchEntry(const XpString& entryPath, const XpString& interfacePath, XpString* program,
                           XpString* arguments);
