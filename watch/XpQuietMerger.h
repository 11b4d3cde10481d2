// Merges the arrivals and removals of one device (several interfaces, a
// device dropping off and coming back) and reports the net change once the
// device has been quiet for one second (shorter only in a test run, see
// XpWatchTiming.h), on one delivery thread of its own: never on a window
// thread, and never a thread per event.
#pragma once

#include <windows.h>

#include <map>

#include "platform/XpHandle.h"
#include "platform/XpString.h"
#include "platform/XpSync.h"
#include "platform/XpThread.h"

#include "XpWatchTiming.h"

class IXpQuietMergerClient {
 public:
  // name is the preferred name seen for the device (else its first name);
  // preferred tells whether any preferred one was seen.
  virtual void OnMerged(const XpString& name, bool preferred, bool arrival) = 0;
};

class XpQuietMerger {
 public:
  explicit XpQuietMerger(IXpQuietMergerClient* client);
  // Ends the delivery thread; what waits is dropped.
  ~XpQuietMerger() { End(); }

  // Queues an event of the device key under name. The delivery thread is made
  // on the first event after none ran or the last one ended idle; without it
  // the event is dropped.
  void Queue(const XpString& key, const XpString& name, bool arrival, bool preferred);
  // Drops what waits; the thread stays for later events.
  void Drop();
  // Ends the delivery thread now and drops what waits; later events are not
  // delivered. Never call from the delivery thread.
  void End();
  size_t PendingCount();

  static constexpr DWORD kQuietMs = XpWatchTiming::kQuietMs;
  // A delivery thread with nothing to deliver ends after this long.
  static constexpr DWORD kIdleMs = 5000;
  // Beyond this many waiting devices, new ones are dropped until some are
  // delivered (a flood of made-up names cannot grow the queue).
  static constexpr size_t kMaxPending = 64;

 private:
  XpQuietMerger(const XpQuietMerger&) = delete;
  XpQuietMerger& operator=(const XpQuietMerger&) = delete;
  struct Pending {
    XpString name;
    bool preferred;
    bool first;  // arrival (true) or removal at the start of the burst
    bool last;
    DWORD lastTick;
  };
  static unsigned int DeliveryEntry(void* argument);
  unsigned int DeliveryLoop();

  IXpQuietMergerClient* m_client;
  const DWORD m_quietMs;
  XpCriticalSection m_lock;
  std::map<XpString, Pending, XpNoCaseLess> m_pending;  // by device, under m_lock
  XpScopedThread m_delivery;                            // made on the first event
  bool m_ending;                                        // no new delivery thread
  bool m_retired;                                       // the thread ended idle
  XpUniqueHandle m_wake;                                // auto-reset: the queue changed
  XpUniqueHandle m_quit;                                // manual: the thread ends
};
