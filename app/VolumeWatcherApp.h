// The watcher's one application object: receiver of the volume and IEEE 1394
// notifications, owner of both watchers, of the localisation library and of
// the importer module registry, and performer of the command verbs.
#pragma once

#include <windows.h>

#include <atomic>

#include <memory>
#include <vector>

#include "app/ArrivalObserver.h"
#include "app/AutoPlayCancel.h"
#include "app/DeviceIdentification.h"
#include "app/VolumeDecisionTracker.h"
#include "app/WatcherSettings.h"
#include "modules/SfImporterModule.h"
#include "platform/XpCancellation.h"
#include "platform/XpHandle.h"
#include "platform/XpResult.h"
#include "platform/XpString.h"
#include "platform/XpSync.h"
#include "platform/XpThread.h"
#include "watch/XpArrivalMemory.h"
#include "watch/XpIEEE1394WatchDog.h"
#include "watch/XpPortableDeviceWatchDog.h"
#include "watch/XpVolumeWatchDog.h"
#include "watch/XpWatchCallbacks.h"

// Presence of the first resident instance: a named mutex, held until the
// guard is destroyed and never waited on.
struct ArrivalDecision;

class SingleInstanceGuard {
 public:
  // global prefixes the name with "Global\" on systems of major version 5 and later.
  SingleInstanceGuard(const XpString& executablePath, bool global);
  ~SingleInstanceGuard();
  bool isFirst() const { return m_isFirst; }
  // The executable path with every backslash turned into "/" and only A..Z lowered.
  static XpString mutexName(const XpString& executablePath);

 private:
  SingleInstanceGuard(const SingleInstanceGuard&) = delete;
  SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;
  bool m_isFirst;
  XpUniqueHandle m_mutex;
};

class VolumeWatcherApp : public IXpVolumeWatchDogCallback,
                         public XpVolumeWatchDogWrapper,
                         public IXpDeviceWatchDogCallback,
                         public XpIEEE1394WatchDog,
                         public IXpPortableDeviceWatchDogCallback {
 public:
  VolumeWatcherApp();
  ~VolumeWatcherApp() override;

  // The launch decision for an arrived volume root such as E:\.
  void OnVolumeArrival(const XpString& rootPath) override;
  void OnVolumeRemoval(const XpString& rootPath) override;
  // The same decision asked for by the user ("Run Decision Now"): decided
  // even when the card in the slot was decided already.
  void decideVolumeOnRequest(const XpString& rootPath);
  // Arrived IEEE 1394 devices go to the importer modules directly.
  void OnDeviceArrival(const wchar_t* interfaceName) override;
  void OnDeviceRemoval(const wchar_t* interfaceName) override;
  // Arrived portable devices: the Launch and Ignore lists by the USB ids in
  // the path, then the importer modules of the portable-device kind.
  void OnPortableDeviceArrival(const XpString& interfacePath) override;
  void OnPortableDeviceRemoval(const XpString& interfacePath) override;

  // Decides for a volume root at once on a thread of its own (AutoPlay's
  // choice handed over by another process): no quiet second, and never taken
  // for a repeat of an arrival already decided. False when watching is
  // stopped or no thread could be started.
  bool requestVolumeDecision(const XpString& rootPath);
  // The same decision on the calling thread, for the process that has no
  // watcher running (the "autoplay" verb).
  void decideVolumeHere(const XpString& rootPath) {
    decideRequestedVolume(rootPath, m_cancellation->epoch());
  }

  // The volume watcher, the IEEE 1394 watcher, then the portable-device
  // watcher; the first failure is returned (and what was started is stopped).
  // Arrivals are decided only between start and stop.
  [[nodiscard]] virtual int start();
  // Never waits for a scoring run: decisions under way are cancelled (their
  // scoring runs ended) and arrivals still queued are dropped. XP_E_TIMEOUT
  // when a thread of this object was still busy after its bound: it stays
  // held, and the object must be kept alive.
  [[nodiscard]] virtual int stop();
  virtual bool isFirstInstance();

  // The end of a resident run, before the entry point returns: the
  // single-instance mutex goes first (so a new start at once is the first
  // instance), then every arrival being decided is cancelled, the watchers
  // stop and the callbacks are unregistered. False when a watcher thread was
  // still inside a callback after boundMs, or a destination-folder dialog is
  // still open (its end would wait for the user): the caller must then end
  // the process without static destruction.
  bool shutdown(DWORD boundMs);
  // Closes the single-instance mutex now rather than at static destruction.
  void releaseInstanceGuard();

  // Loaded on first use; null when it cannot be loaded (tried again next time).
  HMODULE locLibrary();
  // Empty when the library or the string is missing.
  XpString loadString(UINT id);
  // Into a caller's buffer of size characters; false when nothing was loaded.
  bool loadString(UINT id, wchar_t* buffer, int size);

  void bringMessageWindowToFront();

  XpString autostartShortcutPath();
  // The user's own shortcut, or the machine-wide start of every user's logon
  // (the package's Run value naming this program) unless the user switched it
  // off for themselves.
  bool isRegistered();
  // HKLM "Software\Microsoft\Windows\CurrentVersion\Run" value of this name.
  static const wchar_t kMachineAutostartValue[];
  // HKCU DWORD of the versioned settings key: non-zero leaves this user out of
  // the machine-wide start.
  static const wchar_t kMachineAutostartOffValue[];
  // The Run value exists and names this program's path.
  bool machineAutostartPresent();
  bool machineAutostartOptedOut();
  // A start at logon ("/noballoononstart") that this user switched off: the
  // machine-wide start is there, the user left it and has no shortcut of
  // their own.
  bool autostartSwitchedOff();
  // The autostart dialog's choice. On: the user's opt-out goes, or, without a
  // machine-wide start, the shortcut is made. Off: the shortcut goes and the
  // user leaves the machine-wide start. The first failure is returned.
  [[nodiscard]] XpResult setAutostart(bool on);
  int registerAutostart();
  [[nodiscard]] XpResult unregisterAutostart();
  int unregisterAutostartAll();

  bool confirmExit();
  // 0 when the running instance ended (or none was running); kExitKept when
  // it was not asked to close (the user kept it, or another exit question is
  // open); XP_E_TIMEOUT when it did not answer or did not end within the wait.
  int requestExit(bool ask);
  int exitAll();
  enum { kExitKept = 1 };
  // Bounds of the exit verbs, in milliseconds: the close request, then the end.
  static const DWORD kExitSendMs = 10000;
  static const DWORD kExitWaitMs = 10000;
  static const DWORD kExitAllSendMs = 5000;
  // Bound on revoking the AutoPlay answer when watching stops.
  static const DWORD kAutoPlayStopMs = 3000;

  // Built on first use; waits while another thread builds it.
  XpSharedPtr<SfImporterModuleManager> moduleManager();
  // For the user interface: never waits for a build under way on another
  // thread (null then); builds it here only when nobody has begun.
  XpSharedPtr<SfImporterModuleManager> readyModuleManager();

  // Who answers the decision's questions about a drive's device; the system
  // unless a test puts its own in before the arrivals it drives (null puts
  // the system's back).
  IDeviceIdentification& deviceIdentification();
  void setDeviceIdentification(IDeviceIdentification* identification);
  // Observers hear of volume changes and decisions until they are removed;
  // removal waits for a call in progress on another thread.
  [[nodiscard]] XpResult addObserver(IArrivalObserver* observer);
  [[nodiscard]] XpResult removeObserver(IArrivalObserver* observer);

  XpCancellation& cancellation() { return *m_cancellation; }

  bool ignoreMountWithShift() const { return m_ignoreMountWithShift; }
  XpPortableDeviceWatchDog& portableDeviceWatchDog() { return m_portableWatchDog; }

  // The removable volumes present now (see PresentRemovableVolumes).
  static std::vector<XpString> presentRemovableVolumes() { return PresentRemovableVolumes(); }
  // With the user's "HandleVolumesAtStart" set, the first start() decides once
  // for every removable volume present, on a thread of its own.
  bool volumesAtStartHandled() const { return m_volumesAtStartDone; }

  // HKLM "...\VolumeWatcher\<CurrentVersion>" "InstalledLocation" joined with
  // "version.txt"; empty when a key is missing.
  static XpString versionTextPath();
  // At most 511 bytes of the file in the ANSI code page; empty when unreadable.
  static XpString readVersionText();
  // The localisation library's file name for a program path: the file name
  // without its extension, followed by "LOC.DLL".
  static XpString locLibraryName(const XpString& executablePath);
  static XpString executablePath();

  // Settings of the launch decision live here (see app/WatcherSettings.h).
  static constexpr const wchar_t* kSettingsPath = kWatcherSettingsPath;
  // A window of the program whose workers call into this object gives how
  // to close it and join them within a bound; shutdown() calls it, so the
  // application object needs no knowledge of its windows.
  typedef bool (*InterfaceJoin)(DWORD boundMs);
  void setInterfaceJoin(InterfaceJoin join) { m_interfaceJoin.store(join); }
  // The bound of one scoring run in milliseconds from the machine's settings.
  static DWORD readScoreTimeout() { return ReadScoreTimeout(); }

 private:
  VolumeWatcherApp(const VolumeWatcherApp&) = delete;
  VolumeWatcherApp& operator=(const VolumeWatcherApp&) = delete;

  // A volume asked for from outside (AutoPlay's choice) is decided on a
  // thread of its own, so that the hidden window keeps answering meanwhile.
  struct DeviceDecision;
  static unsigned int DeviceDecisionThread(void* argument);
  void decideDevice(const XpString& device, LONG epoch);
  void decideVolume(const XpString& rootPath, bool onRequest);
  // The Launch and Ignore lists, then the importer modules, for one volume.
  void decideVolumeNow(const XpString& rootPath, LONG epoch);
  // Starts what the decision names, unless watching stopped since epoch;
  // mark (volumes only) learns whether something starts.
  void carryOut(const ArrivalDecision& decision, LONG epoch, VolumeDecisionMark* mark);
  // Tells the observers that a volume came or went.
  void volumesChanged();
  void decideRequestedVolume(const XpString& rootPath, LONG epoch);
  bool startDecisionThread(const XpString& target, bool volume);
  // The manager without creating it.
  XpSharedPtr<SfImporterModuleManager> existingModuleManager();
  // An arrival decided in epoch may still start something.
  bool mayStart(LONG epoch) const;

  std::unique_ptr<SingleInstanceGuard> m_instanceGuard;
  XpSharedPtr<SfImporterModuleManager> m_moduleManager;
  XpCriticalSection m_moduleManagerLock;
  // Held for the whole build only; nobody holding m_moduleManagerLock takes it.
  XpCriticalSection m_moduleManagerBuildLock;
  volatile LONG m_moduleManagerBuilding;
  XpUniqueModule m_locLibrary;
  bool m_ignoreMountWithShift;
  // Shared with the module registry and the Devices window: a stop cancels
  // (a decision begun before it starts nothing, a scoring run ends), a start
  // resumes, the end closes for good. It counts the callers inside the
  // arrival callbacks, so that the end can wait for them with a bound.
  XpSharedPtr<XpCancellation> m_cancellation;
  bool m_shutDown;
  // The identification library, held while watching. Every unload of it
  // leaves about 75 KB of its run-time library behind, so the load made anew
  // for each arrival would grow the watcher with the number of arrivals.
  XpUniqueModule m_identificationLibrary;
  // Volumes asked for from outside, each decided on a thread of its own.
  XpThreadSet m_deviceDecisions;
  std::atomic<InterfaceJoin> m_interfaceJoin{nullptr};  // set by the Devices window
  XpPortableDeviceWatchDog m_portableWatchDog;
  // What arrived and was decided, while it stays: cards by drive root and
  // identity, portable devices by device.
  XpArrivalMemory m_arrivals;
  VolumeDecisionTracker m_volumeDecisions;
  IDeviceIdentification* volatile m_identification;
  XpWatchDetail::CallbackList<IArrivalObserver> m_observers;
  AutoPlayCancel m_autoPlayCancel;

  static unsigned int VolumesAtStartThread(void* argument);
  void startVolumesAtStart();
  // False when the thread did not end within waitMs: it stays held.
  bool endVolumesAtStart(DWORD waitMs);
  bool m_volumesAtStartDone;
  XpScopedThread m_volumesAtStartThread;
  // Set when watching stops: the thread decides for no further volume.
  volatile LONG m_volumesAtStartCancel;
};

VolumeWatcherApp& getApp();
