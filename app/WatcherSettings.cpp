#include "app/WatcherSettings.h"

#include "modules/SuiteKeys.h"
#include "platform/XpOsVersion.h"
#include "platform/XpRegistry.h"
#include "platform/XpResult.h"
#include "platform/XpVersionedKey.h"
#include "watch/XpVolumeWatchDog.h"

const wchar_t kWatcherSettingsPath[] = XP_SUITE_KEY L"/VolumeWatcher";
const wchar_t kScoreTimeoutValue[] = L"ImportScoreTimeout";

DWORD ReadScoreTimeout() {
  DWORD seconds = 0;
  XpScopedRegistry versioned(
      OpenVersionedKey(kWatcherSettingsPath, XpRegistry::kRootLocalMachine, XpRegistry::kRead));
  if (versioned) seconds = versioned->ReadDword(kScoreTimeoutValue, 0);
  if (seconds == 0) seconds = kDefaultScoreTimeoutSeconds;
  if (seconds > kMaxScoreTimeoutSeconds) seconds = kMaxScoreTimeoutSeconds;
  return seconds * 1000;
}

std::vector<XpString> PresentRemovableVolumes() {
  std::vector<XpString> roots;
  DWORD platform = 0;
  if (GetOsVersion(platform, nullptr, nullptr) != XP_OK) platform = XP_OS_UNKNOWN;
  int platformId = platform == XP_OS_NT ? VER_PLATFORM_WIN32_NT : VER_PLATFORM_WIN32_WINDOWS;
  DWORD drives = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if ((drives & (1u << i)) == 0) continue;
    wchar_t root[] = L"A:\\";
    root[0] = static_cast<wchar_t>(L'A' + i);
    if (GetDriveTypeW(root) != DRIVE_REMOVABLE) continue;
    if (!IsVolumePresent(root[0], false, platformId)) continue;
    roots.push_back(XpString(root));
  }
  return roots;
}
