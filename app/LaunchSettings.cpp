#include "app/LaunchSettings.h"

#include "app/VolumeWatcherApp.h"
#include "modules/SuiteKeys.h"
#include "platform/XpFileSystem.h"
#include "platform/XpRegistry.h"
#include "platform/XpVersionedKey.h"

namespace {

const wchar_t kVantolo[] = XP_SUITE_KEY L"/";

}  // namespace

XpString WatcherVersionedKeyPath() { return VersionedKeyPath(VolumeWatcherApp::kSettingsPath); }

bool FindDeviceListEntry(const XpString& listPath, DWORD vendorId, DWORD productId,
                         XpString* entryPath) {
  XpRegistry* list = XpRegistry::Open(listPath, XpRegistry::kRootLocalMachine, XpRegistry::kRead);
  if (!list) return false;
  bool found = false;
  XpRegistry::StringList names = list->EnumSubKeys();
  for (size_t i = 0; i < names.size() && !found; ++i) {
    XpRegistry* entry = XpRegistry::OpenSubKey(list, names[i], XpRegistry::kRead);
    if (!entry) continue;
    if (entry->HasValue(L"VID") && entry->HasValue(L"PID") &&
        entry->ReadDword(L"VID", 0) == vendorId && entry->ReadDword(L"PID", 0) == productId) {
      found = true;
      if (entryPath) *entryPath = entry->GetPath();
    }
    XpRegistry::Close(entry);
  }
  XpRegistry::Close(list);
  return found;
}

XpString ResolveAppInstance(const XpString& instance) {
  XpString base = XpString(kVantolo) + instance;
  XpString location, exeName;
  XpScopedRegistry key(OpenVersionedKey(base, XpRegistry::kRootLocalMachine, XpRegistry::kRead));
  if (key) {
    location = key->ReadString(L"InstalledLocation", XpString());
    exeName = key->ReadString(L"ExeName", XpString());
  }
  return JoinPath(location, exeName);
}

XpString FormatLaunchArguments(wchar_t letter, const XpString& commandLine) {
  wchar_t drive[2] = {letter, L'\0'};
  return XpString(L"/Drive \"") + drive + L"\" " + commandLine;
}

void ReadLaunchEntry(const XpString& entryPath, wchar_t letter, XpString* program,
                     XpString* arguments) {
  XpString appPath, commandLine;
  XpRegistry* entry = XpRegistry::Open(entryPath, XpRegistry::kRootLocalMachine, XpRegistry::kRead);
  if (entry) {
    appPath = entry->ReadString(L"AppPath", XpString());
    if (appPath.IsEmpty()) appPath = ResolveAppInstance(entry->ReadString(L"AppInstance", XpString()));
    commandLine = entry->ReadString(L"CommandLine", XpString());
    XpRegistry::Close(entry);
  }
  if (program) *program = appPath;
  if (arguments) *arguments = FormatLaunchArguments(letter, commandLine);
}
