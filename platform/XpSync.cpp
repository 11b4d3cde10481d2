#include "XpSync.h"

#include <cstddef>
#include <new>

XpCriticalSection::XpCriticalSection() { InitializeCriticalSection(&m_section); }
XpCriticalSection::~XpCriticalSection() { DeleteCriticalSection(&m_section); }

XpResult XpCriticalSection::Lock() {
  EnterCriticalSection(&m_section);
  return XP_OK;
}

XpResult XpCriticalSection::Unlock() {
  LeaveCriticalSection(&m_section);
  return XP_OK;
}

XpResult XpCriticalSection::TryLock() { return XP_E_SYNC_NOT_SUPPORTED; }

XpSingleLock::XpSingleLock(XpSyncObject* object) : m_object(object), m_result(XP_OK) {
  if (m_object) m_result = m_object->Lock();
}

XpSingleLock::~XpSingleLock() {
  if (m_object && m_result == XP_OK) m_object->Unlock();
}

[[nodiscard]] XpResult XpMapLastError(DWORD error) {
  switch (error) {
    case 0:
      return XP_OK;
    case ERROR_INVALID_HANDLE:
      return XP_E_INVALID_HANDLE;
    case ERROR_NOT_OWNER:
      return XP_E_NOT_OWNER;
    default:
      return XP_E_SYNC;
  }
}

[[nodiscard]] XpResult XpMapWaitResult(DWORD waitResult) {
  switch (waitResult) {
    case WAIT_OBJECT_0:
      return XP_OK;
    case WAIT_ABANDONED:
      return XP_E_ABANDONED;
    case WAIT_TIMEOUT:
      return XP_E_TIMEOUT;
    default:
      return XpMapLastError(GetLastError());
  }
}

XpComboSyncObject::XpComboSyncObject() {}

XpComboSyncObject::~XpComboSyncObject() {}

XpResult XpComboSyncObject::WaitForChange(int seconds) {
  // With m_lock held nothing can change during a wait of no time.
  if (seconds == 0) return XP_E_TIMEOUT;
  // Every sleeper waits on an event of its own, listed under m_lock before
  // m_lock is left: a change sets the events of all listed sleepers, and no
  // other waiter can take or reset that signal, whatever runs between
  // leaving m_lock and starting to wait.
  XpUniqueHandle owned(CreateEventW(NULL, TRUE, FALSE, NULL));
  if (!owned) return XP_E_INVALID_HANDLE;
  const HANDLE wake = owned.get();
  try {
    m_sleepers.push_back(wake);
  } catch (const std::bad_alloc&) {
    return XP_E_OUT_OF_MEMORY;
  }
  // A critical section always enters and leaves.
  (void)m_lock.Unlock();
  DWORD ms = seconds < 0 ? INFINITE : static_cast<DWORD>(seconds) * 1000u;
  DWORD w = WaitForSingleObject(wake, ms);
  XpResult r = XpMapWaitResult(w);
  (void)m_lock.Lock();
  bool listed = false;
  for (size_t i = 0; i < m_sleepers.size(); ++i) {
    if (m_sleepers[i] == wake) {
      m_sleepers.erase(m_sleepers.begin() + static_cast<std::ptrdiff_t>(i));
      listed = true;
      break;
    }
  }
  // No longer listed: a change came, even if the wait ended otherwise.
  if (!listed) r = XP_OK;
  return r;
}

void XpComboSyncObject::NotifyChange() {
  for (size_t i = 0; i < m_sleepers.size(); ++i) SetEvent(m_sleepers[i]);
  m_sleepers.clear();
  for (size_t i = 0; i < m_waiters.size(); ++i) {
    XpComboSyncObject* wakeUp = m_waiters[i]->GetWakeUp();
    if (wakeUp) wakeUp->Unlock();
  }
}

void XpComboSyncObject::AddWaiter(XpMultiWaiterBase* waiter) {
  XpSingleLock guard(&m_lock);
  for (size_t i = 0; i < m_waiters.size(); ++i)
    if (m_waiters[i] == waiter) return;
  m_waiters.push_back(waiter);
}

void XpComboSyncObject::RemoveWaiter(XpMultiWaiterBase* waiter) {
  XpSingleLock guard(&m_lock);
  for (size_t i = 0; i < m_waiters.size(); ++i) {
    if (m_waiters[i] == waiter) {
      m_waiters.erase(m_waiters.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

XpManualEvent::XpManualEvent(bool initiallySet) : m_signalled(initiallySet ? 1 : 0) {}

XpResult XpManualEvent::Unlock() {
  Set(true);
  return XP_OK;
}

void XpManualEvent::Set(bool value) {
  XpSingleLock guard(&m_lock);
  m_signalled = value ? 1 : 0;
  if (value) NotifyChange();
}

XpResult XpManualEvent::LockTimeout(int seconds) {
  XpSingleLock guard(&m_lock);
  XpResult r = XP_OK;
  while (!m_signalled && r == XP_OK) r = WaitForChange(seconds);
  return r;
}

XpSemaphore::XpSemaphore(unsigned long long initialCount, DWORD maximum)
    : m_count(initialCount), m_maximum(maximum) {}

XpResult XpSemaphore::LockTimeout(int seconds) {
  XpSingleLock guard(&m_lock);
  if (m_count > 0) {
    --m_count;
    return XP_OK;
  }
  for (;;) {
    XpResult r = WaitForChange(seconds);
    if (m_count > 0) {
      if (r != XP_OK) return r;
      --m_count;
      return XP_OK;
    }
    if (r != XP_OK) return r;
  }
}

XpResult XpSemaphore::Unlock() {
  XpSingleLock guard(&m_lock);
  if (m_maximum == kNoMaximum || m_count < m_maximum) ++m_count;
  if (m_count > 0) NotifyChange();
  return XP_OK;
}

XpMutex::XpMutex(const wchar_t* name) : m_owner(0), m_recursion(0) {
  // A null DACL lets processes of any user open the same name.
  SECURITY_DESCRIPTOR sd;
  SECURITY_ATTRIBUTES sa;
  sa.nLength = sizeof(sa);
  sa.bInheritHandle = FALSE;
  sa.lpSecurityDescriptor = NULL;
  if (InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
      SetSecurityDescriptorDacl(&sd, TRUE, NULL, FALSE))
    sa.lpSecurityDescriptor = &sd;
  m_mutex.reset(CreateMutexW(&sa, FALSE, name));
}

XpMutex::~XpMutex() {}

XpResult XpMutex::LockTimeout(int seconds) {
  if (seconds != -1 && seconds != 0) return XP_E_INVALID_HANDLE;
  DWORD self = GetCurrentThreadId();
  bool outermost = false;
  {
    XpSingleLock guard(&m_lock);
    for (;;) {
      if (m_recursion <= 0 || m_owner == self) {
        ++m_recursion;
        m_owner = self;
        outermost = (m_recursion == 1);
        break;
      }
      XpResult r = WaitForChange(seconds);
      if (r != XP_OK) return r;
    }
  }
  if (!outermost || !m_mutex) return XP_OK;
  DWORD w = WaitForSingleObject(m_mutex.get(), seconds < 0 ? INFINITE : 0);
  if (w == WAIT_OBJECT_0) return XP_OK;
  // Mapped before the clean-up can change the last error, so callers get a
  // code of this layer (0x8201, 0x8204, ...) rather than a raw wait value.
  XpResult r = XpMapWaitResult(w);
  if (r == XP_OK) r = XP_E_SYNC;
  // Not acquired: roll back so a failed attempt does not leave the object
  // held. An abandoned mutex was handed to us; give it back as well.
  if (w == WAIT_ABANDONED) ReleaseMutex(m_mutex.get());
  XpSingleLock guard(&m_lock);
  if (m_owner == self && m_recursion > 0 && --m_recursion == 0) {
    m_owner = 0;
    NotifyChange();
  }
  return r;
}

XpResult XpMutex::Unlock() {
  XpSingleLock guard(&m_lock);
  if (m_recursion > 0 && m_owner == GetCurrentThreadId()) {
    if (--m_recursion == 0) {
      if (m_mutex) ReleaseMutex(m_mutex.get());
      m_owner = 0;
      NotifyChange();
    }
  }
  return XP_OK;
}

XpRwLock::XpRwLock() : m_readers(0), m_writerCount(0), m_waitingWriters(0), m_writer(0) {}

XpResult XpRwLock::LockTimeout(int seconds) {
  DWORD self = GetCurrentThreadId();
  XpSingleLock guard(&m_lock);
  XpResult r = WaitAsWriter(m_waitingWriters, m_writerCount, seconds,
                            [&]() { return !(m_readers == 0 && (m_writerCount == 0 || m_writer == self)); });
  if (r != XP_OK) return r;
  ++m_writerCount;
  m_writer = self;
  return XP_OK;
}

XpResult XpRwLock::LockReadTimeout(int seconds) {
  XpSingleLock guard(&m_lock);
  while (m_writerCount > 0 || m_waitingWriters > 0) {
    XpResult r = WaitForChange(seconds);
    if (r != XP_OK) return r;
  }
  ++m_readers;
  return XP_OK;
}

XpResult XpRwLock::Unlock() {
  XpSingleLock guard(&m_lock);
  bool notify = false;
  if (m_writerCount > 0 && m_writer == GetCurrentThreadId()) {
    if (--m_writerCount == 0) m_writer = 0;
    if (m_readers == 0) notify = true;
  } else if (m_readers > 0) {
    if (--m_readers == 0) notify = true;
  }
  if (m_writerCount == 0) notify = true;
  if (notify) NotifyChange();
  return XP_OK;
}

XpRwLockEx::XpRwLockEx() : m_waitingWriters(0), m_writer(0), m_writerCount(0) {}

bool XpRwLockEx::WriteMustWait(DWORD self) const {
  if (m_writerCount > 0 && m_writer != self) return true;
  if (m_readers.size() >= 2) return true;
  return m_readers.size() == 1 && m_readers[0].thread != self;
}

XpResult XpRwLockEx::LockTimeout(int seconds) {
  DWORD self = GetCurrentThreadId();
  XpSingleLock guard(&m_lock);
  XpResult r = WaitAsWriter(m_waitingWriters, m_writerCount, seconds, [&]() { return WriteMustWait(self); });
  if (r != XP_OK) return r;
  ++m_writerCount;
  m_writer = self;
  return XP_OK;
}

XpResult XpRwLockEx::LockReadTimeout(int seconds) {
  DWORD self = GetCurrentThreadId();
  XpSingleLock guard(&m_lock);
  if (m_writerCount > 0 && m_writer == self) {
    ++m_writerCount;
    return XP_OK;
  }
  while ((m_writerCount > 0 && m_writer != self) || m_waitingWriters > 0) {
    XpResult r = WaitForChange(seconds);
    if (r != XP_OK) return r;
  }
  for (size_t i = 0; i < m_readers.size(); ++i) {
    if (m_readers[i].thread == self) {
      ++m_readers[i].count;
      return XP_OK;
    }
  }
  ReaderEntry entry = {self, 1};
  m_readers.push_back(entry);
  return XP_OK;
}

XpResult XpRwLockEx::Unlock() {
  DWORD self = GetCurrentThreadId();
  XpSingleLock guard(&m_lock);
  if (m_writerCount > 0 && m_writer == self) {
    if (--m_writerCount == 0) m_writer = 0;
  } else {
    for (size_t i = 0; i < m_readers.size(); ++i) {
      if (m_readers[i].thread == self) {
        if (--m_readers[i].count <= 0) m_readers.erase(m_readers.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
  }
  if (m_readers.empty() || m_writerCount == 0) NotifyChange();
  return XP_OK;
}

namespace {

std::vector<XpComboSyncObject*> Pair(XpComboSyncObject* first, XpComboSyncObject* second) {
  std::vector<XpComboSyncObject*> objects;
  objects.push_back(first);
  objects.push_back(second);
  return objects;
}

}  // namespace

XpMultiLockOne::XpMultiLockOne(bool autoUnlock, const std::vector<XpComboSyncObject*>& objects,
                               XpComboSyncObject* wakeUp, int seconds)
    : XpMultiWaiterBase(autoUnlock, wakeUp), m_index(-1), m_acquired(NULL) {
  Wait(objects, seconds);
}

XpMultiLockOne::XpMultiLockOne(bool autoUnlock, XpComboSyncObject* first, XpComboSyncObject* second,
                               XpComboSyncObject* wakeUp, int seconds)
    : XpMultiWaiterBase(autoUnlock, wakeUp), m_index(-1), m_acquired(NULL) {
  Wait(Pair(first, second), seconds);
}

void XpMultiLockOne::Wait(const std::vector<XpComboSyncObject*>& objects, int seconds) {
  m_result = XP_OK;
  for (size_t i = 0; i < objects.size(); ++i) objects[i]->AddWaiter(this);
  for (;;) {
    bool got = false;
    for (size_t i = 0; i < objects.size(); ++i) {
      if (objects[i]->LockTimeout(0) == XP_OK) {
        m_acquired = objects[i];
        m_index = static_cast<int>(i);
        m_result = XP_OK;
        got = true;
        break;
      }
    }
    if (got) break;
    m_result = m_wakeUp ? m_wakeUp->LockTimeout(seconds) : XP_E_INVALID_HANDLE;
    if (m_result != XP_OK) break;
  }
  for (size_t i = 0; i < objects.size(); ++i) objects[i]->RemoveWaiter(this);
}

XpMultiLockOne::~XpMultiLockOne() {
  if (m_autoUnlock && m_acquired) m_acquired->Unlock();
}

XpMultiLockAll::XpMultiLockAll(bool autoUnlock, const std::vector<XpComboSyncObject*>& objects,
                               XpComboSyncObject* wakeUp, int seconds)
    : XpMultiWaiterBase(autoUnlock, wakeUp) {
  Wait(objects, seconds);
}

XpMultiLockAll::XpMultiLockAll(bool autoUnlock, XpComboSyncObject* first, XpComboSyncObject* second,
                               XpComboSyncObject* wakeUp, int seconds)
    : XpMultiWaiterBase(autoUnlock, wakeUp) {
  Wait(Pair(first, second), seconds);
}

void XpMultiLockAll::Wait(const std::vector<XpComboSyncObject*>& objects, int seconds) {
  for (size_t i = 0; i < objects.size(); ++i) objects[i]->AddWaiter(this);
  std::vector<int> pending;
  for (size_t i = 0; i < objects.size(); ++i) pending.push_back(static_cast<int>(i));
  for (;;) {
    for (size_t k = pending.size(); k-- > 0;) {
      int index = pending[k];
      if (objects[static_cast<size_t>(index)]->LockTimeout(0) == XP_OK) {
        m_indices.push_back(index);
        m_acquired.push_back(objects[static_cast<size_t>(index)]);
        pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(k));
      }
    }
    if (pending.empty()) {
      m_result = XP_OK;
      break;
    }
    m_result = m_wakeUp ? m_wakeUp->LockTimeout(seconds) : XP_E_INVALID_HANDLE;
    if (m_result != XP_OK) break;
  }
  for (size_t i = 0; i < objects.size(); ++i) objects[i]->RemoveWaiter(this);
}

XpMultiLockAll::~XpMultiLockAll() {
  if (!m_autoUnlock) return;
  for (size_t i = 0; i < m_acquired.size(); ++i) m_acquired[i]->Unlock();
}
