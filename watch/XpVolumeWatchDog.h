// The polling volume watcher for systems before Windows XP, its interval
// thread, the volume presence tests, and the wrapper that picks a watcher.
#pragma once

#include <windows.h>

#include "XpVolumeWatchDogEx.h"
#include "XpWatchCallbacks.h"

#include "platform/XpResult.h"
#include "platform/XpString.h"
#include "platform/XpSync.h"
#include "platform/XpThread.h"

// A thread that wakes every interval until stopped. The wait on the stop event
// is the sleep, so Stop returns at once.
class XpAbstractWatchDog {
 public:
  // A non-zero lowerPriority runs the thread one step below its creator's.
  explicit XpAbstractWatchDog(int lowerPriority);
  virtual ~XpAbstractWatchDog();

  [[nodiscard]] virtual XpResult SetInterval(int milliseconds);
  virtual int GetInterval() const;
  // XP_E_FILE_NOT_ACTIVE when running, XP_E_OUT_OF_MEMORY without a thread.
  [[nodiscard]] virtual XpResult Start();
  // XP_E_FILE_NOT_ACTIVE when stopped; XP_E_SELF_JOIN (nothing done) from
  // the watcher's own thread; XP_E_TIMEOUT when the thread, told to end, is
  // still busy (a hung drive) after 5 s: it stays held, and the object must
  // stay alive until a later Stop joins it.
  [[nodiscard]] virtual XpResult Stop();

 protected:
  [[nodiscard]] virtual XpResult Run() = 0;
  // Waits interval/1000 whole seconds; true when the wait timed out (keep
  // going), false once the stop event is set or the wait failed.
  virtual bool WaitTick();

 private:
  XpAbstractWatchDog(const XpAbstractWatchDog&) = delete;
  XpAbstractWatchDog& operator=(const XpAbstractWatchDog&) = delete;
  static unsigned int ThreadEntry(void* argument);

  int m_lowerPriority;
  DWORD m_interval;
  XpScopedThread m_thread;
  XpManualEvent m_stop;
};

class XpVolumeWatchDog : public XpAbstractWatchDog {
 public:
  explicit XpVolumeWatchDog(int lowerPriority);
  // For tests: a given platform id (0 = the version query failed).
  XpVolumeWatchDog(int lowerPriority, DWORD platformId);
  ~XpVolumeWatchDog() override;

  [[nodiscard]] XpResult AddCallback(IXpVolumeWatchDogCallback* callback);
  // Returns once the polling thread no longer calls it.
  [[nodiscard]] XpResult RemoveCallback(IXpVolumeWatchDogCallback* callback);

  // Bit n set: drive 'A'+n present now.
  DWORD ScanMask() const;
  // Compares a new scan with the previous one, reports the changes in letter
  // order and keeps the new scan.
  void Rescan();
  // Takes the current scan as the previous one without reporting.
  void Prime() { m_previous = ScanMask(); }
  DWORD GetPreviousMask() const { return m_previous; }
  DWORD GetPlatformId() const { return m_platformId; }

 protected:
  [[nodiscard]] XpResult Run() override;

 private:
  XpWatchDetail::CallbackList<IXpVolumeWatchDogCallback> m_callbacks;
  DWORD m_platformId;
  DWORD m_previous;
};

// Is the volume of a drive letter there? On NT systems floppy drives are
// never probed unless includeFloppy. platformId 0 queries the system. A
// letter outside A..Z (either case) is never present.
bool IsVolumePresent(wchar_t letter, bool includeFloppy, int platformId);
// Is the drive a floppy drive (by its media types; on 95/98/Me by the DOS
// device parameters)? False for letters outside A..Z.
bool IsFloppyDrive(wchar_t letter);

class XpVolumeWatchDogWrapper {
 public:
  // The event watcher on Windows XP and later, the polling one otherwise
  // (also when the version query fails).
  XpVolumeWatchDogWrapper(int lowerPriority, bool coalesce);
  // The same choice for a given version; null stands for a failed query.
  XpVolumeWatchDogWrapper(int lowerPriority, bool coalesce, const OSVERSIONINFOW* version);
  virtual ~XpVolumeWatchDogWrapper();

  [[nodiscard]] virtual XpResult AddCallback(IXpVolumeWatchDogCallback* callback);
  [[nodiscard]] virtual XpResult RemoveCallback(IXpVolumeWatchDogCallback* callback);
  [[nodiscard]] virtual XpResult Start();
  [[nodiscard]] virtual XpResult Stop();

  static bool ChoosesEventWatcher(const OSVERSIONINFOW* version);
  bool IsPolling() const { return !m_polling.IsNull(); }
  XpVolumeWatchDog* GetPollingWatcher() const { return m_polling.get(); }
  XpVolumeWatchDogEx* GetEventWatcher() const { return m_event.get(); }

 private:
  XpVolumeWatchDogWrapper(const XpVolumeWatchDogWrapper&) = delete;
  XpVolumeWatchDogWrapper& operator=(const XpVolumeWatchDogWrapper&) = delete;
  void Create(int lowerPriority, bool coalesce, const OSVERSIONINFOW* version);

  XpSharedPtr<XpVolumeWatchDog> m_polling;
  XpSharedPtr<XpVolumeWatchDogEx> m_event;
};
