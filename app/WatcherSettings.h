// Where the watcher's settings live and the few readings that more than the
// application object need (the rules, AutoPlay's answer, the Devices window):
// they take them from here rather than from the application object.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/XpString.h"

// Settings of the launch decision live here; the paths use "/".
extern const wchar_t kWatcherSettingsPath[];
// HKLM DWORD of the versioned key: the bound of one scoring run in seconds.
extern const wchar_t kScoreTimeoutValue[];
// Seconds of that value when it is absent or 0; larger values are capped.
const DWORD kDefaultScoreTimeoutSeconds = 30;
const DWORD kMaxScoreTimeoutSeconds = 3600;

// The bound of one scoring run in milliseconds from the machine's settings.
DWORD ReadScoreTimeout();
// The removable volumes present now, as root paths in letter order (floppy
// drives left out).
std::vector<XpString> PresentRemovableVolumes();
