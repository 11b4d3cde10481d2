#include "app/VolumeWatcherApp.h"

#include <cstddef>
#include <new>

#include "platform/XpHandle.h"
#include "platform/XpPath.h"
#include "platform/XpRegistry.h"
#include "platform/XpThread.h"
#include "platform/XpVersionedKey.h"
#include "watch/XpVolumeWatchDog.h"
#include "watch/XpVolumeWatchDogEx.h"

// Built on first use, which the initialiser below makes happen during static
// initialisation; whatever asks for it earlier still gets a finished object,
// and it is destroyed after every static built after it.
VolumeWatcherApp& getApp() {
  static VolumeWatcherApp app;
  return app;
}

namespace {
[[maybe_unused]] VolumeWatcherApp& g_appBuiltBeforeEntry = getApp();
}

// ---- construction and destruction ----

VolumeWatcherApp::VolumeWatcherApp()
    : XpVolumeWatchDogWrapper(1, true),
      m_moduleManagerBuilding(0),
      m_ignoreMountWithShift(false),
      m_cancellation(new XpCancellation),
      m_shutDown(false),
      m_identification(nullptr),
      m_autoPlayCancel(m_volumeDecisions, *this),
      m_volumesAtStartDone(false),
      m_volumesAtStartCancel(0) {
  // Adding to a list that does not hold the object yet always succeeds.
  (void)XpVolumeWatchDogWrapper::AddCallback(static_cast<IXpVolumeWatchDogCallback*>(this));
  (void)XpIEEE1394WatchDog::AddCallback(static_cast<IXpDeviceWatchDogCallback*>(this));
  (void)m_portableWatchDog.AddCallback(static_cast<IXpPortableDeviceWatchDogCallback*>(this));
  XpScopedRegistry settings(OpenVersionedKey(kSettingsPath, XpRegistry::kRootCurrentUser, XpRegistry::kRead));
  if (settings) m_ignoreMountWithShift = settings->ReadDword(L"IgnoreMoutingOnPressingSHIFT", 0) != 0;
}

VolumeWatcherApp::~VolumeWatcherApp() {
  // A resident run has joined this thread in shutdown(); a command run never
  // started it. Asked to end all the same, so that nothing is decided any more.
  (void)endVolumesAtStart(0);
  // A resident run has unregistered before the entry point returned: nothing
  // here may wait, since the run-time library's exit lock is held now. A
  // command run never started a watcher, so no call can be in progress.
  if (!m_shutDown) {
    (void)XpVolumeWatchDogWrapper::RemoveCallback(static_cast<IXpVolumeWatchDogCallback*>(this));
    (void)XpIEEE1394WatchDog::RemoveCallback(static_cast<IXpDeviceWatchDogCallback*>(this));
    (void)m_portableWatchDog.RemoveCallback(static_cast<IXpPortableDeviceWatchDogCallback*>(this));
  }
  m_instanceGuard.reset();
  XpSharedPtr<SfImporterModuleManager> released;
  {
    XpSingleLock guard(&m_moduleManagerLock);
    released = m_moduleManager;
    m_moduleManager = XpSharedPtr<SfImporterModuleManager>();
  }
  m_locLibrary.reset();
  // released goes here, then the watchers in the base destructors.
}

XpSharedPtr<SfImporterModuleManager> VolumeWatcherApp::existingModuleManager() {
  XpSingleLock guard(&m_moduleManagerLock);
  return m_moduleManager;
}

bool VolumeWatcherApp::mayStart(LONG epoch) const { return m_cancellation->mayContinue(epoch); }

void VolumeWatcherApp::releaseInstanceGuard() { m_instanceGuard.reset(); }

bool VolumeWatcherApp::shutdown(DWORD boundMs) {
  releaseInstanceGuard();
  m_cancellation->close();
  // Cancels the decisions under way; the window threads only hand arrivals
  // on, so stopping them does not wait for a scoring run. Watchers already
  // stopped by a disconnected session report it, which changes nothing here.
  // A watcher thread that did not end within its bound still uses this
  // object: the process then ends without destroying it.
  if (stop() == static_cast<int>(XP_E_TIMEOUT)) return false;
  DWORD started = GetTickCount();
  if (!m_cancellation->waitIdle(boundMs)) return false;
  DWORD spent = GetTickCount() - started;
  if (!m_deviceDecisions.JoinWithin(spent < boundMs ? boundMs - spent : 0)) return false;
  // The Devices window's workers call into this object: they end here too.
  spent = GetTickCount() - started;
  InterfaceJoin join = reinterpret_cast<InterfaceJoin>(InterlockedCompareExchangePointer(
      reinterpret_cast<PVOID volatile*>(&m_interfaceJoin), nullptr, nullptr));
  if (join && !join(spent < boundMs ? boundMs - spent : 0)) return false;
  // No call is in progress any more, so these return at once; all were
  // added in the constructor, so all are found.
  (void)XpVolumeWatchDogWrapper::RemoveCallback(static_cast<IXpVolumeWatchDogCallback*>(this));
  (void)XpIEEE1394WatchDog::RemoveCallback(static_cast<IXpDeviceWatchDogCallback*>(this));
  (void)m_portableWatchDog.RemoveCallback(static_cast<IXpPortableDeviceWatchDogCallback*>(this));
  // The per-path notifier threads and the portable-device and IEEE 1394
  // delivery threads are idle now; they end here rather than in static
  // destruction.
  if (XpVolumeWatchDogEx* events = GetEventWatcher()) events->ReleaseNotifiers();
  m_portableWatchDog.ReleaseDelivery();
  XpIEEE1394WatchDog::ReleaseDelivery();
  m_identificationLibrary.reset();
  m_shutDown = true;
  return true;
}

namespace {

// Asks the system to start the watcher again when an update ended it
// (Windows Vista and later; looked up, so older systems simply go without).
// Not after a crash, a hang or a reboot: the autostart shortcut covers that.
void RegisterForRestart() {
  static volatile LONG registered = 0;
  if (InterlockedExchange(&registered, 1) != 0) return;
  typedef HRESULT(WINAPI * RegisterRestartFn)(PCWSTR, DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  RegisterRestartFn registerRestart = kernel ? reinterpret_cast<RegisterRestartFn>(reinterpret_cast<void*>(
                                                   GetProcAddress(kernel, "RegisterApplicationRestart")))
                                             : NULL;
  const DWORD kNoCrash = 1, kNoHang = 2, kNoReboot = 8;
  // Without it the watcher is only back at the next sign-in.
  if (registerRestart) (void)registerRestart(L"/noballoononstart", kNoCrash | kNoHang | kNoReboot);
}

}  // namespace

int VolumeWatcherApp::start() {
  RegisterForRestart();
  // While stopped (a disconnected session) no removal was heard: a card or
  // phone taken away meanwhile and brought back is a new arrival.
  m_arrivals.Clear();
  m_cancellation->resume();
  if (!m_identificationLibrary) {
    // By its full path beside the program: the identification's own load by
    // file name then finds this module and only counts a reference.
    XpString program = executablePath();
    if (!program.IsEmpty())
      m_identificationLibrary.reset(
          LoadLibraryW(JoinPath(GetDirectory(program), L"UsbDriveInfo.dll").c_str()));
  }
  XpResult result = XpVolumeWatchDogWrapper::Start();
  if (result != XP_OK) return static_cast<int>(result);
  result = XpIEEE1394WatchDog::Start();
  if (result != XP_OK) {
    // The start failure is what the caller learns; the watcher just started stops.
    (void)XpVolumeWatchDogWrapper::Stop();
    return static_cast<int>(result);
  }
  result = m_portableWatchDog.Start();
  if (result != XP_OK) {
    // As above: the start failure is what the caller learns.
    (void)XpIEEE1394WatchDog::Stop();
    (void)XpVolumeWatchDogWrapper::Stop();
    return static_cast<int>(result);
  }
  startVolumesAtStart();
  m_autoPlayCancel.start();
  return 0;
}

unsigned int VolumeWatcherApp::VolumesAtStartThread(void* argument) {
  VolumeWatcherApp* app = static_cast<VolumeWatcherApp*>(argument);
  std::vector<XpString> roots = presentRemovableVolumes();
  for (size_t i = 0; i < roots.size(); ++i) {
    if (InterlockedCompareExchange(&app->m_volumesAtStartCancel, 0, 0) != 0) break;
    app->OnVolumeArrival(roots[i]);
  }
  return 0;
}

void VolumeWatcherApp::startVolumesAtStart() {
  // Once per run: a start after a reconnected session does not repeat it.
  if (m_volumesAtStartDone) return;
  m_volumesAtStartDone = true;
  XpScopedRegistry settings(OpenVersionedKey(kSettingsPath, XpRegistry::kRootCurrentUser, XpRegistry::kRead));
  bool wanted = settings && settings->ReadDword(L"HandleVolumesAtStart", 0) != 0;
  if (!wanted) return;
  InterlockedExchange(&m_volumesAtStartCancel, 0);
  m_volumesAtStartThread = XpScopedThread(XpThread::Create(&VolumesAtStartThread, this));
}

bool VolumeWatcherApp::endVolumesAtStart(DWORD waitMs) {
  if (!m_volumesAtStartThread) return true;
  InterlockedExchange(&m_volumesAtStartCancel, 1);
  // A module's scoring run may still be going: the wait is bounded, and a
  // thread that does not end in time stays held for the next stop.
  // The thread's exit code says nothing more.
  return m_volumesAtStartThread.JoinWithin(waitMs) != XP_E_TIMEOUT;
}

int VolumeWatcherApp::stop() {
  // First the decisions: arrivals still queued are dropped, scoring runs end.
  m_cancellation->cancel();
  // Paused or ending, the watcher decides nothing: AutoPlay has the volumes.
  // Its questions in progress end at once, so the bound is not reached.
  const bool autoPlayEnded = m_autoPlayCancel.stop(kAutoPlayStopMs);
  // Its decisions were cancelled above, so the wait is short and bounded.
  const bool volumesAtStartEnded = endVolumesAtStart(3000);
  XpResult portable = m_portableWatchDog.Stop();
  XpResult ieee = XpIEEE1394WatchDog::Stop();
  XpResult volume = XpVolumeWatchDogWrapper::Stop();
  // A watcher thread still busy after its bound is reported first: the
  // caller must then keep this object (and its watchers) alive.
  if (portable == XP_E_TIMEOUT || ieee == XP_E_TIMEOUT || volume == XP_E_TIMEOUT || !volumesAtStartEnded ||
      !autoPlayEnded)
    return static_cast<int>(XP_E_TIMEOUT);
  if (ieee != XP_OK) return static_cast<int>(ieee);
  return static_cast<int>(volume != XP_OK ? volume : portable);
}

bool VolumeWatcherApp::isFirstInstance() {
  if (!m_instanceGuard) {
    m_instanceGuard.reset(new (std::nothrow) SingleInstanceGuard(executablePath(), false));
    if (!m_instanceGuard) return true;
  }
  return m_instanceGuard->isFirst();
}
