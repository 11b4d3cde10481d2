#include "app/LaunchSettings.h"

#include "app/VolumeWatcherApp.h"
#include "modules/SuiteKeys.h"
#include "platform/XpFileSystem.h"
#include "platform/XpRegistry.h"
#include "platform/XpVersionedKey.h"

namespace {

const wchar_t kVantolo[] = XP_SUITE_KEY L"/";

// An entry path as FindDeviceListEntry gives it; when the entry's own name
// holds "/", the path splits at a later "/" into a key and a literal name.
XpRegistry* OpenEntry(const XpString& entryPath) {
  XpRegistry* entry = XpRegistry::Open(entryPath, XpRegistry::kRootLocalMachine, XpRegistry::kRead);
  for (int split = entryPath.ReverseFind(L'/'); !entry && split > 0;) {
    XpRegistry* parent = XpRegistry::Open(entryPath.Left(split), XpRegistry::kRootLocalMachine, XpRegistry::kRead);
    if (parent) {
      entry = XpRegistry::OpenSubKeyLiteral(parent, entryPath.Right(entryPath.GetLength() - split - 1),
                                            XpRegistry::kRead);
      XpRegistry::Close(parent);
    }
    do {
      --split;
    } while (split > 0 && *entryPath.At(split) != L'/');
  }
  return entry;
}

}  // namespace

XpString WatcherVersionedKeyPath() { return VersionedKeyPath(VolumeWatcherApp::kSettingsPath); }

bool FindDeviceListEntry(const XpString& listPath, DWORD vendorId, DWORD productId,
                         XpString* entryPath) {
  XpRegistry* list = XpRegistry::Open(listPath, XpRegistry::kRootLocalMachine, XpRegistry::kRead);
  if (!list) return false;
  bool found = false;
  XpRegistry::StringList names = list->EnumSubKeys();
  for (size_t i = 0; i < names.size() && !found; ++i) {
    // The name as listed: a "/" in it is part of the name, not a level.
    XpRegistry* entry = XpRegistry::OpenSubKeyLiteral(list, names[i], XpRegistry::kRead);
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
  XpRegistry* entry = OpenEntry(entryPath);
  if (entry) {
    appPath = entry->ReadString(L"AppPath", XpString());
    if (appPath.IsEmpty()) appPath = ResolveAppInstance(entry->ReadString(L"AppInstance", XpString()));
    commandLine = entry->ReadString(L"CommandLine", XpString());
    XpRegistry::Close(entry);
  }
  if (program) *program = appPath;
  if (arguments) *arguments = FormatLaunchArguments(letter, commandLine);
}
