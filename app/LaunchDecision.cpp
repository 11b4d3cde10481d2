// What the watcher starts for an arrived volume or IEEE 1394 device. Runs on
// the watchers' threads; the only shared state is the module registry.
#include "app/DevicesWindow.h"
#include "app/LaunchSettings.h"
#include "app/VolumeWatcherApp.h"
#include "app/VolumeDecision.h"
#include "device/XpDriveDeviceInfo.h"
#include "platform/XpFileSystem.h"

void VolumeWatcherApp::OnVolumeArrival(const XpString& rootPath) {
  if (rootPath.IsEmpty()) return;
  DevicesWindow::VolumesChanged();
  if (m_ignoreMountWithShift && GetKeyState(VK_SHIFT) != 0) return;
  VolumeDecision decision = DecideForVolume(rootPath, false);
  if (decision.kind == kDeviceRuleLaunch) {
    // A configured start that fails still counts as handled.
    (void)RunProgram(decision.program, decision.arguments, nullptr, nullptr);
    return;
  }
  if (decision.kind == kDeviceRuleIgnore) return;

  XpSharedPtr<SfImporterModuleManager> manager = moduleManager();
  if (!manager) return;
  SfImporterModulePtr module = manager->selectFor(rootPath, SF_DEVICE_VOLUME);
  if (!module) return;
  module->setParentWindow(NULL);
  // Nothing waits on the import: a start that fails leaves the volume as it was.
  (void)module->startImport(XpString(), rootPath, false, nullptr);
}

void VolumeWatcherApp::OnVolumeRemoval(const XpString&) { DevicesWindow::VolumesChanged(); }

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
