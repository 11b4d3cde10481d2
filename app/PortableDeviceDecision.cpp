// What the watcher starts for an arrived portable device (a camera or phone
// without a drive letter). Runs on the portable-device watcher's delivery
// thread, never on its window thread.
#include "app/DeviceLaunchSettings.h"
#include "app/LaunchSettings.h"
#include "app/VolumeWatcherApp.h"
#include "platform/XpFileSystem.h"

void VolumeWatcherApp::OnPortableDeviceArrival(const XpString& interfacePath) {
  if (interfacePath.IsEmpty()) return;
  XpString versioned = WatcherVersionedKeyPath();
  if (!versioned.IsEmpty()) {
    XpString entry;
    if (FindDeviceListEntryForPath(versioned + L"/Launch", interfacePath, &entry)) {
      XpString program, arguments;
      ReadDeviceLaunchEntry(entry, interfacePath, &program, &arguments);
      // A configured start that fails still counts as handled.
      (void)RunProgram(program, arguments, nullptr, nullptr);
      return;
    }
    if (FindDeviceListEntryForPath(versioned + L"/Ignore", interfacePath, nullptr)) return;
  }

  XpSharedPtr<SfImporterModuleManager> manager = moduleManager();
  if (!manager) return;
  SfImporterModulePtr module = manager->selectFor(interfacePath, SF_DEVICE_PORTABLE);
  if (!module) return;
  (void)module->startImport(XpString(), interfacePath, false, nullptr);
}

void VolumeWatcherApp::OnPortableDeviceRemoval(const XpString&) {}
