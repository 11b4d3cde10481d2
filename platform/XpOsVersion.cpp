#include "XpOsVersion.h"

#include <cstring>

bool GetOsVersionInfo(OSVERSIONINFOW* info) {
  if (info == nullptr) return false;
  OSVERSIONINFOW read;
  std::memset(&read, 0, sizeof(read));
  read.dwOSVersionInfoSize = sizeof(read);
#ifdef _MSC_VER
#pragma warning(push)
#pragma warning(disable : 4996)  // the version query is what the callers ask for
#endif
  const BOOL ok = GetVersionExW(&read);
#ifdef _MSC_VER
#pragma warning(pop)
#endif
  if (!ok) return false;
  OSVERSIONINFOW v;
  std::memset(&v, 0, sizeof(v));
  v.dwOSVersionInfoSize = sizeof(v);
  v.dwMajorVersion = read.dwMajorVersion;
  v.dwMinorVersion = read.dwMinorVersion;
  v.dwBuildNumber = read.dwBuildNumber;
  v.dwPlatformId = read.dwPlatformId;
  *info = v;
  return true;
}

XpResult GetOsVersion(DWORD& platform, DWORD* major, DWORD* minor) {
  OSVERSIONINFOW info;
  if (!GetOsVersionInfo(&info)) return XP_E_FAIL;
  if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
    platform = XP_OS_WIN9X;
  else if (info.dwPlatformId == VER_PLATFORM_WIN32_NT)
    platform = XP_OS_NT;
  else
    platform = XP_OS_UNKNOWN;
  if (major) *major = info.dwMajorVersion;
  if (minor) *minor = info.dwMinorVersion;
  return XP_OK;
}
