// What the watcher starts for an arrived volume, IEEE 1394 device or portable
// device: the decision of ArrivalDecision, carried out. Runs on the watchers'
// delivery threads, never on their window threads; the only shared state is
// the module registry.
#include <new>

#include "app/ArrivalDecision.h"
#include "app/LaunchSettings.h"
#include "app/VolumeWatcherApp.h"
#include "app/VolumeDecisionTracker.h"
#include "platform/XpProcessStart.h"

struct VolumeWatcherApp::DeviceDecision {
  VolumeWatcherApp* app;
  XpString device;
  LONG epoch;
  // A volume root asked for from outside (AutoPlay's choice), not a device.
  bool requestedVolume;
};

IDeviceIdentification& VolumeWatcherApp::deviceIdentification() {
  IDeviceIdentification* identification = m_identification;
  return identification ? *identification : SystemDeviceIdentification();
}

void VolumeWatcherApp::setDeviceIdentification(IDeviceIdentification* identification) {
  m_identification = identification;
}

XpResult VolumeWatcherApp::addObserver(IArrivalObserver* observer) { return m_observers.Add(observer); }

XpResult VolumeWatcherApp::removeObserver(IArrivalObserver* observer) { return m_observers.Remove(observer); }

void VolumeWatcherApp::volumesChanged() {
  m_observers.ForEach([](IArrivalObserver* observer) { observer->OnVolumesChanged(); });
}

void VolumeWatcherApp::OnVolumeArrival(const XpString& rootPath) { decideVolume(rootPath, false); }

void VolumeWatcherApp::decideVolumeOnRequest(const XpString& rootPath) { decideVolume(rootPath, true); }

void VolumeWatcherApp::decideVolume(const XpString& rootPath, bool onRequest) {
  XpCancellation::Work inside(*m_cancellation);
  const LONG epoch = m_cancellation->epoch();
  // Stopped (session disconnected, or the icon is going): an arrival that was
  // still queued is dropped.
  if (!mayStart(epoch)) return;
  if (rootPath.IsEmpty()) return;
  volumesChanged();
  // A network drive holds no card: neither the lists nor the importers are asked.
  if (GetDriveTypeW(rootPath.c_str()) == DRIVE_REMOTE) return;
  // One card, one decision: a further notice for the card that is still in
  // the slot is not decided again. A volume that cannot be read has no
  // identity and is decided at every notice. A request is always decided.
  XpString identity = XpVolumeIdentity(rootPath.c_str());
  if (onRequest) {
    if (!identity.IsEmpty()) m_arrivals.Remember(rootPath, identity);
  } else if (!identity.IsEmpty() && !m_arrivals.IsNew(rootPath, identity)) {
    return;
  }
  // The physical state of the key: this thread reads no keyboard input, so
  // its own key state never changes.
  if (m_ignoreMountWithShift && (GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0) {
    m_volumeDecisions.set(rootPath, kVolumeNotActing);
    return;
  }
  decideVolumeNow(rootPath, epoch);
}

void VolumeWatcherApp::decideVolumeNow(const XpString& rootPath, LONG epoch) {
  VolumeDecisionMark mark(m_volumeDecisions, rootPath);
  carryOut(DecideForVolume(rootPath, deviceIdentification(), false), epoch, &mark);
}

void VolumeWatcherApp::carryOut(const ArrivalDecision& decision, LONG epoch, VolumeDecisionMark* mark) {
  m_observers.ForEach([&decision](IArrivalObserver* observer) { observer->OnArrivalDecided(decision); });
  if (decision.kind == kDeviceRuleLaunch) {
    // A configured start that fails still counts as handled.
    if (mayStart(epoch)) {
      if (mark) mark->acting();
      (void)RunProgram(decision.program, decision.arguments, nullptr, nullptr);
    }
    return;
  }
  if (decision.kind == kDeviceRuleIgnore) return;

  if (!mayStart(epoch)) return;
  XpSharedPtr<SfImporterModuleManager> manager = moduleManager();
  if (!manager) return;
  SfImporterModulePtr module = manager->selectFor(decision.path, decision.deviceKind);
  // Decided while the icon went away or the session was disconnected: the
  // user no longer expects anything to start.
  if (!module || !mayStart(epoch)) return;
  // A volume's importer starts without a parent window; a device's keeps its own.
  if (decision.deviceKind == SF_DEVICE_VOLUME) module->setParentWindow(NULL);
  if (mark) mark->acting();
  // Nothing waits on the import: a start that fails leaves the device as it was.
  (void)module->startImport(XpString(), decision.path, false, nullptr);
}

void VolumeWatcherApp::OnVolumeRemoval(const XpString& rootPath) {
  m_arrivals.Forget(rootPath);
  m_volumeDecisions.forget(rootPath);
  volumesChanged();
}

void VolumeWatcherApp::decideDevice(const XpString& device, LONG epoch) {
  if (!mayStart(epoch)) return;
  carryOut(DecideForDevice(SF_DEVICE_1394, device), epoch, nullptr);
}

void VolumeWatcherApp::decideRequestedVolume(const XpString& rootPath, LONG epoch) {
  // A network drive holds no card, asked for or not.
  if (GetDriveTypeW(rootPath.c_str()) == DRIVE_REMOTE) return;
  // The card asked for is the one in the slot now: a later notice for it is
  // a repeat, not a second card.
  XpString identity = XpVolumeIdentity(rootPath.c_str());
  if (!identity.IsEmpty()) m_arrivals.Remember(rootPath, identity);
  decideVolumeNow(rootPath, epoch);
}

unsigned int VolumeWatcherApp::DeviceDecisionThread(void* argument) {
  DeviceDecision* decision = static_cast<DeviceDecision*>(argument);
  if (!decision) return XP_E_FILE_BAD_ARGUMENT;
  {
    XpCancellation::Work inside(*decision->app->m_cancellation);
    if (decision->requestedVolume)
      decision->app->decideRequestedVolume(decision->device, decision->epoch);
    else
      decision->app->decideDevice(decision->device, decision->epoch);
  }
  delete decision;
  return XP_OK;
}

bool VolumeWatcherApp::requestVolumeDecision(const XpString& rootPath) {
  return startDecisionThread(rootPath, true);
}

bool VolumeWatcherApp::startDecisionThread(const XpString& target, bool volume) {
  const LONG epoch = m_cancellation->epoch();
  if (!mayStart(epoch)) return false;
  // The name lives only as long as the broadcast; the copy goes with the thread.
  DeviceDecision* decision = new (std::nothrow) DeviceDecision;
  if (!decision) return false;
  decision->app = this;
  decision->device = target;
  decision->epoch = epoch;
  decision->requestedVolume = volume;
  // Counted from here, so that shutdown never misses a thread about to start.
  XpCancellation::Work starting(*m_cancellation);
  if (!m_deviceDecisions.Start(&VolumeWatcherApp::DeviceDecisionThread, decision)) {
    // Without a thread of its own this device is not offered; the window must
    // not block on its modules.
    delete decision;
    return false;
  }
  return true;
}

// Called on the IEEE 1394 watcher's delivery thread, once per device and
// quiet second: decided there, so arrivals never cost a thread each.
void VolumeWatcherApp::OnDeviceArrival(const wchar_t* interfaceName) {
  if (!interfaceName) return;
  XpCancellation::Work inside(*m_cancellation);
  const LONG epoch = m_cancellation->epoch();
  decideDevice(XpString(interfaceName), epoch);
}

void VolumeWatcherApp::OnDeviceRemoval(const wchar_t*) {}

void VolumeWatcherApp::OnPortableDeviceArrival(const XpString& interfacePath) {
  XpCancellation::Work inside(*m_cancellation);
  const LONG epoch = m_cancellation->epoch();
  // Stopped (session disconnected, or the icon is going): nothing starts.
  if (!mayStart(epoch)) return;
  if (interfacePath.IsEmpty()) return;
  // A device that stays connected is decided once, however many interfaces
  // it announces (a camera speaks two classes) and however far apart.
  if (!m_arrivals.IsNew(XpPortableDevicePath::DeviceOf(interfacePath), XpString())) return;
  carryOut(DecideForDevice(SF_DEVICE_PORTABLE, interfacePath), epoch, nullptr);
}

void VolumeWatcherApp::OnPortableDeviceRemoval(const XpString& interfacePath) {
  m_arrivals.Forget(XpPortableDevicePath::DeviceOf(interfacePath));
}
