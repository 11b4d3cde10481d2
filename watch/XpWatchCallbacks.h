// The interfaces through which the watchers report, and the client list that
// every watcher keeps of them.
#pragma once

#include <windows.h>

#include "platform/XpHandle.h"
#include "platform/XpResult.h"
#include "platform/XpString.h"
#include "platform/XpSync.h"

#include <cstddef>
#include <vector>

// Implemented by every client of a volume watcher. The path is a volume root
// such as E:\ (or a shell item's path). No virtual destructor: clients are
// never deleted through it.
class IXpVolumeWatchDogCallback {
 public:
  virtual void OnVolumeArrival(const XpString& path) = 0;
  virtual void OnVolumeRemoval(const XpString& path) = 0;
};

// Implemented by clients of the IEEE 1394 watcher. The name points into the
// broadcast record and is valid only during the call.
class IXpDeviceWatchDogCallback {
 public:
  virtual void OnDeviceArrival(const wchar_t* interfaceName) = 0;
  virtual void OnDeviceRemoval(const wchar_t* interfaceName) = 0;
};

namespace XpWatchDetail {

// Registration-ordered list of client pointers (not owned; duplicates allowed).
// Deliveries never hold the lock while a client runs. Remove() returns only
// when no other thread is still inside a call on the removed client, and no
// call on it starts afterwards, so a client may unregister and then be
// destroyed even while watcher threads are delivering.
template <class I>
class CallbackList {
 public:
  CallbackList() : m_callEnded(CreateEventW(NULL, TRUE, FALSE, NULL)) {}

  [[nodiscard]] XpResult Add(I* callback) {
    if (!callback) return XP_E_FILE_BAD_ARGUMENT;
    XpSingleLock guard(&m_lock);
    m_items.push_back(callback);
    return XP_OK;
  }

  [[nodiscard]] XpResult Remove(I* callback) {
    DWORD self = GetCurrentThreadId();
    XpSingleLock guard(&m_lock);
    for (size_t i = m_items.size(); i-- > 0;)
      if (m_items[i] == callback) m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(i));
    // A call made by this very thread (a client unregistering itself from
    // inside its callback) cannot be waited for.
    while (IsCalledElsewhere(callback, self)) {
      ResetEvent(m_callEnded.get());
      // A critical section always enters and leaves.
      (void)m_lock.Unlock();
      // The time-out is only a backstop against a missed wake-up.
      WaitForSingleObject(m_callEnded.get(), 100);
      (void)m_lock.Lock();
    }
    return XP_OK;
  }

  void Clear() {
    std::vector<I*> all;
    {
      XpSingleLock guard(&m_lock);
      all = m_items;
    }
    // Every entry was just read from the list, so each is found.
    for (size_t i = 0; i < all.size(); ++i) (void)Remove(all[i]);
  }

  size_t Count() {
    XpSingleLock guard(&m_lock);
    return m_items.size();
  }

  // Calls call(client) for every client in registration order that is still
  // registered when its turn comes.
  template <class F>
  void ForEach(F call) {
    std::vector<I*> snapshot;
    {
      XpSingleLock guard(&m_lock);
      snapshot = m_items;
    }
    DWORD self = GetCurrentThreadId();
    for (size_t i = 0; i < snapshot.size(); ++i) {
      I* target = snapshot[i];
      {
        XpSingleLock guard(&m_lock);
        if (!Contains(target)) continue;
        Call record = {self, target};
        m_calls.push_back(record);
      }
      call(target);
      {
        XpSingleLock guard(&m_lock);
        for (size_t k = m_calls.size(); k-- > 0;) {
          if (m_calls[k].thread == self && m_calls[k].target == target) {
            m_calls.erase(m_calls.begin() + static_cast<std::ptrdiff_t>(k));
            break;
          }
        }
        SetEvent(m_callEnded.get());
      }
    }
  }

 private:
  struct Call {
    DWORD thread;
    I* target;
  };

  bool Contains(I* target) const {
    for (size_t i = 0; i < m_items.size(); ++i)
      if (m_items[i] == target) return true;
    return false;
  }

  bool IsCalledElsewhere(I* target, DWORD self) const {
    for (size_t i = 0; i < m_calls.size(); ++i)
      if (m_calls[i].target == target && m_calls[i].thread != self) return true;
    return false;
  }

  CallbackList(const CallbackList&) = delete;
  CallbackList& operator=(const CallbackList&) = delete;

  XpCriticalSection m_lock;
  std::vector<I*> m_items;
  std::vector<Call> m_calls;
  XpUniqueHandle m_callEnded;
};

}  // namespace XpWatchDetail
