// What the watcher starts for an arrived volume or IEEE 1394 device. Runs on
// the watchers' threads; the only shared state is the module registry.
#include "app/LaunchSettings.h"
#include "app/VolumeWatcherApp.h"
#include "device/XpDriveDeviceInfo.h"
#include "platform/XpFileSystem.h"

void VolumeWatcherApp::OnVolumeArrival(const XpString& rootPath) {
  if (rootPath.IsEmpty()) return;
  if (m_ignoreMountWithShift && GetKeyState(VK_SHIFT) != 0) return;
  wchar_t letter = *rootPath.At(0);

  int busType = 0, vendorId = 0, productId = 0;
  if (GetDriveDeviceInfo(letter, &busType, &vendorId, &productId, nullptr, nullptr, true) == XP_OK) {
    XpString versioned = WatcherVersionedKeyPath();
    if (!versioned.IsEmpty()) {
      XpString entry;
      if (FindDeviceListEntry(versioned + L"/Launch", static_cast<DWORD>(vendorId),
                              static_cast<DWORD>(productId), &entry)) {
        XpString program, arguments;
        ReadLaunchEntry(entry, letter, &program, &arguments);
        // A configured start that fails still counts as handled.
        (void)RunProgram(program, arguments, nullptr, nullptr);
        return;
      }
      if (FindDeviceListEntry(versioned + L"/Ignore", static_cast<DWORD>(vendorId),
                              static_cast<DWORD>(productId), nullptr))
        return;
    }
  }

  XpSharedPtr<SfImporterModuleManager> manager = moduleManager();
  if (!manager) return;
  SfImporterModulePtr module = manager->selectFor(rootPath, SF_DEVICE_VOLUME);
  if (!module) return;
  module->setParentWindow(NULL);
  // Nothing waits on the import: a start that fails leaves the volume as it was.
  (void)module->startImport(XpString(), rootPath, false, nullptr);
}

void VolumeWatcherApp::OnVolumeRemoval(const XpString&) {}

void VolumeWatcherApp::OnDeviceArrival(const wchar_t* interfaceName) {
  if (!interfaceName) return;
  XpSharedPtr<SfImporterModuleManager> manager = moduleManager();
  if (!manager) return;
  XpString device(interfaceName);
  SfImporterModulePtr module = manager->selectFor(device, SF_DEVICE_1394);
  if (!module) return;
  // Nothing waits on the import: a start that fails leaves the device as it was.
  (void)module->startImport(XpString(), device, false, nullptr);
}

void VolumeWatcherApp::OnDeviceRemoval(const wchar_t*) {}
