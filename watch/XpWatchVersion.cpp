#include "XpWatchCallbacks.h"

#include "platform/XpThread.h"

#include <cstring>

namespace XpWatchDetail {

bool QuerySystemVersion(OSVERSIONINFOW* info) {
  if (!info) return false;
  DWORD family = XP_OS_UNKNOWN;
  DWORD major = 0;
  DWORD minor = 0;
  if (XpFailed(GetOsVersion(family, &major, &minor))) return false;
  OSVERSIONINFOW v;
  memset(&v, 0, sizeof(v));
  v.dwOSVersionInfoSize = sizeof(v);
  v.dwMajorVersion = major;
  v.dwMinorVersion = minor;
  v.dwPlatformId = family == XP_OS_NT      ? VER_PLATFORM_WIN32_NT
                   : family == XP_OS_WIN9X ? VER_PLATFORM_WIN32_WINDOWS
                                           : VER_PLATFORM_WIN32s;
  *info = v;
  return true;
}

}  // namespace XpWatchDetail
