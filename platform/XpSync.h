// Lockable objects of the platform layer. Every lock reports an XpResult;
// time-outs are whole seconds, -1 waits without limit and 0 does not wait.
#pragma once

#include <windows.h>

#include "XpHandle.h"
#include "XpResult.h"

#include <vector>

class XpSyncObject {
 public:
  [[nodiscard]] virtual XpResult Lock() = 0;
  // For events and semaphores this signals rather than releases.
  [[nodiscard]] virtual XpResult Unlock() = 0;
  [[nodiscard]] virtual XpResult TryLock() = 0;
  virtual ~XpSyncObject() {}
};

// In-process recursive lock; the cheapest one, also guards the combo objects.
class XpCriticalSection : public XpSyncObject {
 public:
  XpCriticalSection();
  [[nodiscard]] XpResult Lock() override;
  [[nodiscard]] XpResult Unlock() override;
  // Not offered: always XP_E_SYNC_NOT_SUPPORTED, never locks.
  [[nodiscard]] XpResult TryLock() override;
  ~XpCriticalSection() override;

 private:
  XpCriticalSection(const XpCriticalSection&) = delete;
  XpCriticalSection& operator=(const XpCriticalSection&) = delete;
  CRITICAL_SECTION m_section;
};

// Scoped guard; a null object is accepted and never touched.
class XpSingleLock {
 public:
  explicit XpSingleLock(XpSyncObject* object);
  virtual ~XpSingleLock();
  [[nodiscard]] XpResult GetResult() const { return m_result; }

 private:
  XpSingleLock(const XpSingleLock&) = delete;
  XpSingleLock& operator=(const XpSingleLock&) = delete;
  XpSyncObject* m_object;
  XpResult m_result;
};

// Maps a Win32 wait result (and, for failures, the last error) to an XpResult.
[[nodiscard]] XpResult XpMapWaitResult(DWORD waitResult);
[[nodiscard]] XpResult XpMapLastError(DWORD error);

class XpMultiWaiterBase;

// State lives in plain fields under m_lock; each waiter sleeps on an event of
// its own until the state may have changed, and always re-tests when woken.
class XpComboSyncObject : public XpSyncObject {
 public:
  XpComboSyncObject();
  [[nodiscard]] XpResult Lock() override { return LockTimeout(-1); }
  [[nodiscard]] XpResult Unlock() override = 0;
  [[nodiscard]] XpResult TryLock() override { return LockTimeout(0); }
  ~XpComboSyncObject() override;
  [[nodiscard]] virtual XpResult LockTimeout(int seconds) = 0;

  // A multi-waiter is woken through its wake-up object on every change.
  void AddWaiter(XpMultiWaiterBase* waiter);
  void RemoveWaiter(XpMultiWaiterBase* waiter);

 protected:
  // Both are called with m_lock held.
  [[nodiscard]] XpResult WaitForChange(int seconds);
  void NotifyChange();

  // Write-lock wait of the reader-writer locks, with m_lock held: waits while
  // mustWait() holds, counted among the waiting writers. On failure, readers
  // that only this writer was holding back are woken.
  template <class MustWait>
  [[nodiscard]] XpResult WaitAsWriter(LONG& waitingWriters, const LONG& writerCount, int seconds,
                                      MustWait mustWait) {
    if (!mustWait()) return XP_OK;
    XpResult r = XP_OK;
    ++waitingWriters;
    while (r == XP_OK && mustWait()) r = WaitForChange(seconds);
    --waitingWriters;
    if (r != XP_OK && waitingWriters == 0 && writerCount == 0) NotifyChange();
    return r;
  }

  XpCriticalSection m_lock;

 private:
  XpComboSyncObject(const XpComboSyncObject&) = delete;
  XpComboSyncObject& operator=(const XpComboSyncObject&) = delete;
  std::vector<XpMultiWaiterBase*> m_waiters;
  // The events of the waiters sleeping until the next change, under m_lock.
  // A wait whose event the system refuses fails with XP_E_INVALID_HANDLE.
  std::vector<HANDLE> m_sleepers;
};

class XpManualEvent : public XpComboSyncObject {
 public:
  explicit XpManualEvent(bool initiallySet);
  // Unlock sets the flag; waiting never clears it.
  [[nodiscard]] XpResult Unlock() override;
  [[nodiscard]] XpResult LockTimeout(int seconds) override;
  void Set(bool value);

 private:
  LONG m_signalled;
};

class XpSemaphore : public XpComboSyncObject {
 public:
  static const DWORD kNoMaximum = 0xFFFFFFFFu;
  XpSemaphore(unsigned long long initialCount, DWORD maximum);
  [[nodiscard]] XpResult Unlock() override;
  [[nodiscard]] XpResult LockTimeout(int seconds) override;

 private:
  unsigned long long m_count;
  DWORD m_maximum;
};

// Recursive in-process lock that also holds a named system-wide Win32 mutex
// while held, so other processes using the same name are excluded too.
class XpMutex : public XpComboSyncObject {
 public:
  explicit XpMutex(const wchar_t* name);
  [[nodiscard]] XpResult Unlock() override;
  // Only -1 and 0 are accepted; other time-outs give XP_E_INVALID_HANDLE.
  // When the system mutex is not acquired the call fails with the mapped
  // wait result (XP_E_TIMEOUT when held elsewhere, XP_E_ABANDONED when its
  // owner ended without releasing it) and the object is left unheld.
  [[nodiscard]] XpResult LockTimeout(int seconds) override;
  ~XpMutex() override;

 private:
  DWORD m_owner;
  LONG m_recursion;
  XpUniqueHandle m_mutex;
};

// Reader count with a recursive, writer-preferring writer. A reader that asks
// again while a writer waits is made to wait like any new reader.
class XpRwLock : public XpComboSyncObject {
 public:
  XpRwLock();
  [[nodiscard]] XpResult Unlock() override;
  [[nodiscard]] XpResult LockTimeout(int seconds) override;  // write
  [[nodiscard]] virtual XpResult LockReadTimeout(int seconds);
  [[nodiscard]] virtual XpResult TryLockRead() { return LockReadTimeout(0); }

 private:
  LONG m_readers;
  LONG m_writerCount;
  LONG m_waitingWriters;
  DWORD m_writer;
};

// Per-thread readers; the only reader may upgrade to the write lock, and the
// writer may take read locks (counted as further write levels).
class XpRwLockEx : public XpComboSyncObject {
 public:
  XpRwLockEx();
  [[nodiscard]] XpResult Unlock() override;
  [[nodiscard]] XpResult LockTimeout(int seconds) override;  // write
  [[nodiscard]] virtual XpResult LockReadTimeout(int seconds);
  [[nodiscard]] virtual XpResult TryLockRead() { return LockReadTimeout(0); }

 private:
  struct ReaderEntry {
    DWORD thread;
    LONG count;
  };
  bool WriteMustWait(DWORD self) const;
  LONG m_waitingWriters;
  std::vector<ReaderEntry> m_readers;
  DWORD m_writer;
  LONG m_writerCount;
};

// Waits on several combo objects at once; the whole wait happens in the
// constructor. The wake-up object is normally an XpSemaphore(0, kNoMaximum).
class XpMultiWaiterBase {
 public:
  XpMultiWaiterBase(bool autoUnlock, XpComboSyncObject* wakeUp)
      : m_wakeUp(wakeUp), m_result(XP_OK), m_autoUnlock(autoUnlock) {}
  virtual ~XpMultiWaiterBase() {}
  [[nodiscard]] XpResult GetResult() const { return m_result; }
  XpComboSyncObject* GetWakeUp() const { return m_wakeUp; }

 protected:
  XpComboSyncObject* m_wakeUp;
  XpResult m_result;
  bool m_autoUnlock;

 private:
  XpMultiWaiterBase(const XpMultiWaiterBase&) = delete;
  XpMultiWaiterBase& operator=(const XpMultiWaiterBase&) = delete;
};

class XpMultiLockOne : public XpMultiWaiterBase {
 public:
  XpMultiLockOne(bool autoUnlock, const std::vector<XpComboSyncObject*>& objects, XpComboSyncObject* wakeUp,
                 int seconds);
  XpMultiLockOne(bool autoUnlock, XpComboSyncObject* first, XpComboSyncObject* second,
                 XpComboSyncObject* wakeUp, int seconds);
  ~XpMultiLockOne() override;
  int GetIndex() const { return m_index; }
  XpComboSyncObject* GetAcquired() const { return m_acquired; }

 private:
  void Wait(const std::vector<XpComboSyncObject*>& objects, int seconds);
  int m_index;
  XpComboSyncObject* m_acquired;
};

class XpMultiLockAll : public XpMultiWaiterBase {
 public:
  XpMultiLockAll(bool autoUnlock, const std::vector<XpComboSyncObject*>& objects, XpComboSyncObject* wakeUp,
                 int seconds);
  XpMultiLockAll(bool autoUnlock, XpComboSyncObject* first, XpComboSyncObject* second,
                 XpComboSyncObject* wakeUp, int seconds);
  ~XpMultiLockAll() override;
  // In acquisition order; what was acquired before a failure stays held.
  const std::vector<int>& GetAcquiredIndices() const { return m_indices; }
  const std::vector<XpComboSyncObject*>& GetAcquired() const { return m_acquired; }

 private:
  void Wait(const std::vector<XpComboSyncObject*>& objects, int seconds);
  std::vector<int> m_indices;
  std::vector<XpComboSyncObject*> m_acquired;
};
