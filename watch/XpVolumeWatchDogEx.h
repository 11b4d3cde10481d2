// Event-driven volume watcher (Windows XP and later): volume broadcasts and
// shell change notifications, reported directly or, in coalescing mode, through
// one notifier per path that reports the net change after a quiet second and
// ends after idling. Network volumes are not reported.
#pragma once

#include "XpDeviceWatchDog.h"
#include "XpWatchCallbacks.h"

#include "platform/XpSync.h"

#include <map>

class XpVolumeWatchDogEx;

// One per path in coalescing mode. The queue keeps only what delivery reads,
// the first and the last event of the current burst (1 arrival, 0 removal), so
// a burst of any length costs two bytes.
class _XpVolumeNotifier {
 public:
  _XpVolumeNotifier(XpVolumeWatchDogEx* owner, const XpString& path);
  // Sets the quit event and joins the thread; queued events are dropped.
  ~_XpVolumeNotifier();

  // The thread was started and has not ended.
  bool IsRunning() const;
  // False (nothing queued) once the notifier retired after idling.
  [[nodiscard]] bool Queue(bool arrival);
  bool IsRetired();
  const XpString& GetPath() const { return m_path; }
  // An arrival waits for its quiet second or is being delivered right now.
  bool IsArrivalPending();

 private:
  _XpVolumeNotifier(const _XpVolumeNotifier&) = delete;
  _XpVolumeNotifier& operator=(const _XpVolumeNotifier&) = delete;

  static unsigned int ThreadEntry(void* argument);
  unsigned int Loop();
  void Deliver();
  void ClearPending();
  // Ends the notifier's life when nothing is queued; later events are refused.
  bool Retire();

  XpVolumeWatchDogEx* m_owner;
  XpString m_path;
  XpScopedThread m_thread;
  XpManualEvent m_pending;
  XpManualEvent m_quit;
  XpSemaphore m_wakeUp;
  unsigned char m_first;
  unsigned char m_last;
  int m_queued;
  // Mirrors m_pending under m_lock.
  bool m_signalled;
  bool m_retired;
  bool m_deliveringArrival;
  const int m_idleSeconds;
  XpCriticalSection m_lock;
};

class XpVolumeWatchDogEx : public _XpDeviceWatchDog {
 public:
  // The first argument only gives both volume watchers one constructor shape.
  XpVolumeWatchDogEx(int ignored, bool coalesce);
  ~XpVolumeWatchDogEx() override;

  // Null gives XP_E_FILE_BAD_ARGUMENT.
  [[nodiscard]] XpResult AddCallback(IXpVolumeWatchDogCallback* callback);
  // Removes every entry equal to callback and returns once no watcher
  // thread is still calling it; nothing calls it afterwards.
  [[nodiscard]] XpResult RemoveCallback(IXpVolumeWatchDogCallback* callback);

  LRESULT OnDeviceChange(WPARAM event, LPARAM header) override;

  // Called on the window thread by both sources (also usable from a test).
  void NotifyArrival(const wchar_t* path);
  void NotifyRemoval(const wchar_t* path);

  // Whether an arrival of the path is still in its quiet second or being
  // delivered, so that a question about the volume can wait for its decision.
  bool IsArrivalPending(const XpString& path);

  // Ends every per-path notifier thread now (queued events are dropped), so
  // that an owner can finish them before static destruction. Call after
  // Stop; later events make new notifiers.
  void ReleaseNotifiers();

  bool IsCoalescing() const { return m_coalesce; }
  // Notifiers whose thread still runs and takes events.
  size_t GetNotifierCount();
  // How long a notifier waits for an event before its thread ends (5 s;
  // tests shorten it). Notifiers made afterwards use it.
  void SetNotifierIdleSeconds(int seconds) { m_notifierIdleSeconds = seconds > 0 ? seconds : 1; }
  // The message id the shell notifications arrive with.
  UINT GetShellMessage() const { return m_shellMessage; }
  bool IsShellRegistered() const { return m_shellRegistration != 0; }
  // Shell registrations made since construction: a restarted shell
  // ("TaskbarCreated") has forgotten the old one and gets a new one.
  unsigned GetShellRegistrationCount() const { return m_shellRegistrations; }

 protected:
  LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  void RegisterNotifications() override;
  void UnregisterNotifications() override;

 private:
  friend class _XpVolumeNotifier;
  void Notify(const wchar_t* path, bool arrival);
  // The running notifier of the path, made if needed; null when the bound of
  // notifiers for other paths than drive roots is reached.
  XpSharedPtr<_XpVolumeNotifier> FindNotifier(const wchar_t* path);
  void OnShellNotification(WPARAM wParam, LPARAM lParam);
  void RegisterShell();
  void UnregisterShell();
  void Deliver(const XpString& path, bool arrival);

  XpWatchDetail::CallbackList<IXpVolumeWatchDogCallback> m_callbacks;
  bool m_coalesce;
  // Touched by the window thread, the destructor and direct callers.
  std::map<XpString, XpSharedPtr<_XpVolumeNotifier>, XpNoCaseLess> m_notifiers;
  XpCriticalSection m_notifierLock;
  ULONG m_shellRegistration;
  UINT m_shellMessage;
  UINT m_taskbarCreated;
  unsigned m_shellRegistrations;
  volatile int m_notifierIdleSeconds;
};
