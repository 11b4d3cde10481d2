#include "app/VolumeWatcherApp.h"

#include "platform/XpHandle.h"
#include "platform/XpPath.h"
#include "platform/XpRegistry.h"
#include "platform/XpVersionedKey.h"

XpString VolumeWatcherApp::versionTextPath() {
  XpScopedRegistry versioned(
      OpenVersionedKey(kSettingsPath, XpRegistry::kRootLocalMachine, XpRegistry::kRead));
  if (!versioned) return XpString();
  return JoinPath(versioned->ReadString(L"InstalledLocation", XpString()), L"version.txt");
}

XpString VolumeWatcherApp::readVersionText() {
  XpString path = versionTextPath();
  if (path.IsEmpty()) return XpString();
  XpUniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
  if (!file.valid()) return XpString();
  char bytes[512];
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes, 511, &read, NULL)) return XpString();
  // A trailing line break of the file is not part of the version.
  while (read > 0 && (bytes[read - 1] == '\n' || bytes[read - 1] == '\r')) --read;
  bytes[read] = '\0';
  return XpStringA(bytes).ToWide();
}
