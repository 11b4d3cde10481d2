// The watcher's one application object: receiver of the volume and IEEE 1394
// notifications, owner of both watchers, of the localisation library and of
// the importer module registry, and performer of the command verbs.
#pragma once

#include <windows.h>

#include <vector>

#include "modules/SfImporterModule.h"
#include "platform/XpHandle.h"
#include "platform/XpResult.h"
#include "platform/XpString.h"
#include "platform/XpSync.h"
#include "platform/XpThread.h"
#include "watch/XpIEEE1394WatchDog.h"
#include "watch/XpVolumeWatchDog.h"
#include "watch/XpWatchCallbacks.h"

// Presence of the first resident instance: a named mutex, held until the
// guard is destroyed and never waited on.
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
                         public XpIEEE1394WatchDog {
 public:
  VolumeWatcherApp();
  ~VolumeWatcherApp() override;

  // The launch decision for an arrived volume root such as E:\.
  void OnVolumeArrival(const XpString& rootPath) override;
  void OnVolumeRemoval(const XpString& rootPath) override;
  // Arrived IEEE 1394 devices go to the importer modules directly.
  void OnDeviceArrival(const wchar_t* interfaceName) override;
  void OnDeviceRemoval(const wchar_t* interfaceName) override;

  // The volume watcher, then the IEEE 1394 watcher; the first failure is returned.
  virtual int start();
  virtual int stop();
  virtual bool isFirstInstance();

  // Loaded on first use; null when it cannot be loaded (tried again next time).
  HMODULE locLibrary();
  // Empty when the library or the string is missing.
  XpString loadString(UINT id);
  // Into a caller's buffer of size characters; false when nothing was loaded.
  bool loadString(UINT id, wchar_t* buffer, int size);

  void bringMessageWindowToFront();

  XpString autostartShortcutPath();
  bool isRegistered();
  int registerAutostart();
  [[nodiscard]] XpResult unregisterAutostart();
  int unregisterAutostartAll();

  bool confirmExit();
  int requestExit(bool ask);
  int exitAll();

  XpSharedPtr<SfImporterModuleManager> moduleManager();

  bool ignoreMountWithShift() const { return m_ignoreMountWithShift; }

  // The removable volumes present now, as root paths in letter order
  // (floppy drives left out).
  static std::vector<XpString> presentRemovableVolumes();
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

  // Settings of the launch decision live here; the paths use "/".
  static const wchar_t kSettingsPath[];

 private:
  VolumeWatcherApp(const VolumeWatcherApp&) = delete;
  VolumeWatcherApp& operator=(const VolumeWatcherApp&) = delete;

  SingleInstanceGuard* m_instanceGuard;
  XpSharedPtr<SfImporterModuleManager> m_moduleManager;
  XpCriticalSection m_moduleManagerLock;
  XpUniqueModule m_locLibrary;
  bool m_ignoreMountWithShift;

  static unsigned int VolumesAtStartThread(void* argument);
  void startVolumesAtStart();
  void endVolumesAtStart(DWORD waitMs);
  bool m_volumesAtStartDone;
  XpThread* m_volumesAtStartThread;
  // Set when watching stops: the thread decides for no further volume.
  volatile LONG m_volumesAtStartCancel;
};

VolumeWatcherApp& getApp();
