// The running system's version, read in one place for the whole program.
#pragma once

#include <windows.h>

#include "XpResult.h"

// Platform family of the running system.
const DWORD XP_OS_UNKNOWN = 0;
const DWORD XP_OS_WIN9X = 1;  // Windows 95, 98, Me
const DWORD XP_OS_NT = 2;     // Windows NT, 2000, XP and later

// 0, or XP_E_FAIL (out-parameters untouched) when the version cannot be read.
// major and minor may be null.
[[nodiscard]] XpResult GetOsVersion(DWORD& platform, DWORD* major, DWORD* minor);

// The same answer in the system's structure (platform id, major and minor
// version, build; the rest zero), for code that chooses by it. False when the
// version cannot be read; info is then left as it was.
[[nodiscard]] bool GetOsVersionInfo(OSVERSIONINFOW* info);
