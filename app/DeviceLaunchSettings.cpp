#include "app/DeviceLaunchSettings.h"

#include "app/LaunchSettings.h"
#include "platform/XpRegistry.h"
#include "watch/XpPortableDeviceWatchDog.h"

bool FindDeviceListEntryForPath(const XpString& listPath, const XpString& interfacePath,
                                XpString* entryPath) {
  DWORD vendorId = 0, productId = 0;
  if (!XpPortableDevicePath::ParseUsbIds(interfacePath, &vendorId, &productId)) return false;
  return FindDeviceListEntry(listPath, vendorId, productId, entryPath);
}

XpString FormatDeviceLaunchArguments(const XpString& interfacePath, const XpString& commandLine) {
  return XpString(L"/Device \"") + interfacePath + L"\" " + commandLine;
}

void ReadDeviceLaunchEntry(const XpString& entryPath, const XpString& interfacePath, XpString* program,
                           XpString* arguments) {
  // The program is found as for a drive; only the arguments differ.
  XpString appPath;
  ReadLaunchEntry(entryPath, L'?', &appPath, nullptr);
  XpString commandLine;
  XpRegistry* entry = XpRegistry::Open(entryPath, XpRegistry::kRootLocalMachine, XpRegistry::kRead);
  if (entry) {
    commandLine = entry->ReadString(L"CommandLine", XpString());
    XpRegistry::Close(entry);
  }
  if (program) *program = appPath;
  if (arguments) *arguments = FormatDeviceLaunchArguments(interfacePath, commandLine);
}
