#include "XpQuietMerger.h"

#include <utility>
#include <vector>

XpQuietMerger::XpQuietMerger(IXpQuietMergerClient* client)
    : m_client(client),
      m_quietMs(XpWatchTiming::Current().quietMs),
      m_ending(false),
      m_retired(false),
      m_wake(CreateEventW(NULL, FALSE, FALSE, NULL)),
      m_quit(CreateEventW(NULL, TRUE, FALSE, NULL)) {}

void XpQuietMerger::End() {
  XpScopedThread thread;
  {
    XpSingleLock guard(&m_lock);
    m_ending = true;
    thread = std::move(m_delivery);
    m_pending.clear();
    if (m_quit.get()) SetEvent(m_quit.get());
  }
  // The delivery thread's exit code has no reader.
  (void)thread.Join();
}

void XpQuietMerger::Drop() {
  XpSingleLock guard(&m_lock);
  m_pending.clear();
}

size_t XpQuietMerger::PendingCount() {
  XpSingleLock guard(&m_lock);
  return m_pending.size();
}

void XpQuietMerger::Queue(const XpString& key, const XpString& name, bool arrival, bool preferred) {
  DWORD now = GetTickCount();
  XpSingleLock guard(&m_lock);
  if (m_ending) return;
  if (!m_delivery.get() || m_retired) {
    if (!m_wake.get() || !m_quit.get()) return;
    ResetEvent(m_quit.get());
    // A thread that retired is on its way out, holding nothing: the
    // assignment joins it.
    m_retired = false;
    m_delivery = XpScopedThread(XpThread::Create(&XpQuietMerger::DeliveryEntry, this));
    // Without its thread the event is dropped; the next one tries again.
    if (!m_delivery.get()) return;
  }
  auto found = m_pending.find(key);
  if (found == m_pending.end()) {
    if (m_pending.size() >= kMaxPending) return;
    Pending entry = {name, preferred, arrival, arrival, now};
    m_pending[key] = entry;
  } else {
    Pending& entry = found->second;
    entry.last = arrival;
    entry.lastTick = now;
    // A preferred name replaces any other; another name stands in only
    // while no preferred one has been seen.
    if (preferred || !entry.preferred) {
      entry.name = name;
      entry.preferred = preferred;
    }
  }
  SetEvent(m_wake.get());
}

unsigned int XpQuietMerger::DeliveryEntry(void* argument) {
  if (!argument) return XP_E_FILE_BAD_ARGUMENT;
  return static_cast<XpQuietMerger*>(argument)->DeliveryLoop();
}

unsigned int XpQuietMerger::DeliveryLoop() {
  for (;;) {
    std::vector<Pending> due;
    DWORD wait = INFINITE;
    {
      XpSingleLock guard(&m_lock);
      DWORD now = GetTickCount();
      for (auto it = m_pending.begin(); it != m_pending.end();) {
        DWORD quiet = now - it->second.lastTick;
        if (quiet >= m_quietMs) {
          due.push_back(it->second);
          it = m_pending.erase(it);
        } else {
          DWORD left = m_quietMs - quiet;
          if (left < wait) wait = left;
          ++it;
        }
      }
    }
    for (size_t i = 0; i < due.size(); ++i) {
      if (WaitForSingleObject(m_quit.get(), 0) == WAIT_OBJECT_0) return XP_OK;
      // A burst that ends as it began reports that change once; one that
      // ends where the device was before reports nothing.
      if (due[i].first == due[i].last) m_client->OnMerged(due[i].name, due[i].preferred, due[i].first);
    }
    if (!due.empty()) continue;
    HANDLE waits[2] = {m_quit.get(), m_wake.get()};
    // With nothing waiting the thread ends after an idle while; the next
    // event makes a new one.
    const bool idle = wait == INFINITE;
    DWORD got = WaitForMultipleObjects(2, waits, FALSE, idle ? kIdleMs : wait);
    if (got == WAIT_OBJECT_0 || got == WAIT_FAILED) return XP_OK;
    if (got == WAIT_TIMEOUT && idle) {
      XpSingleLock guard(&m_lock);
      if (m_pending.empty()) {
        m_retired = true;
        return XP_OK;
      }
    }
  }
}
