// What the watcher starts for an arrived portable device (a camera or phone
// without a drive letter). Runs on the portable-device watcher's delivery
// thread, never on its window thread.
#include "app/DeviceLaunchSettings.h"
#include "app/LaunchSettings.h"
#include "app/VolumeWatcherApp.h"
#include "platform/XpFileSystem.h"

void VolumeWatcherApp::OnPortableDeviceArrival(const XpString& interfacePath) {
  CallbackScope inside(m_inCallbacks);
  const LONG epoch = InterlockedCompareExchange(&m_epoch, 0, 0);
  // Stopped (session disconnected, or the icon is going): nothing starts.
  if (!mayStart(epoch)) return;
  if (interfacePath.IsEmpty()) return;
  // A device that stays connected is decided once, however many interfaces
  // it announces (a camera speaks two classes) and however far apart.
  if (!m_arrivals.IsNew(XpPortableDevicePath::DeviceOf(interfacePath), XpString())) return;
  XpString versioned = WatcherVersionedKeyPath();
  if (!versioned.IsEmpty()) {
    XpString entry;
    if (FindDeviceListEntryForPath(versioned + L"/Launch", interfacePath, &entry)) {
      XpString program, arguments;
      ReadDeviceLaunchEntry(entry, interfacePath, &program, &arguments);
      // A configured start that fails still counts as handled.
      if (mayStart(epoch)) (void)RunProgram(program, arguments, nullptr, nullptr);
      return;
    }
    if (FindDeviceListEntryForPath(versioned + L"/Ignore", interfacePath, nullptr)) return;
  }

  XpSharedPtr<SfImporterModuleManager> manager = moduleManager();
  if (!manager) return;
  SfImporterModulePtr module = manager->selectFor(interfacePath, SF_DEVICE_PORTABLE);
  if (!module || !mayStart(epoch)) return;
  (void)module->startImport(XpString(), interfacePath, false, nullptr);
}

void VolumeWatcherApp::OnPortableDeviceRemoval(const XpString& interfacePath) {
  m_arrivals.Forget(XpPortableDevicePath::DeviceOf(interfacePath));
}
