#include "platform/XpCancellation.h"

XpCancellation::XpCancellation()
    : m_epoch(0),
      m_cancelled(0),
      m_closed(0),
      m_working(0),
      m_event(CreateEventW(NULL, TRUE, FALSE, NULL)),
      m_idle(CreateEventW(NULL, TRUE, TRUE, NULL)) {}

LONG XpCancellation::epoch() const {
  return InterlockedCompareExchange(const_cast<volatile LONG*>(&m_epoch), 0, 0);
}

bool XpCancellation::mayContinue(LONG epoch) const { return this->epoch() == epoch && !cancelled(); }

bool XpCancellation::cancelled() const {
  return InterlockedCompareExchange(const_cast<volatile LONG*>(&m_cancelled), 0, 0) != 0 ||
         InterlockedCompareExchange(const_cast<volatile LONG*>(&m_closed), 0, 0) != 0;
}

void XpCancellation::cancel() {
  // The flag before the epoch: whoever reads the new epoch also sees the flag.
  InterlockedExchange(&m_cancelled, 1);
  InterlockedIncrement(&m_epoch);
  if (m_event) SetEvent(m_event.get());
}

void XpCancellation::resume() {
  if (InterlockedCompareExchange(&m_closed, 0, 0) != 0) return;
  InterlockedExchange(&m_cancelled, 0);
  if (m_event) ResetEvent(m_event.get());
}

void XpCancellation::close() {
  InterlockedExchange(&m_closed, 1);
  cancel();
}

XpCancellation::Work::Work(XpCancellation& cancellation) : m_cancellation(cancellation) {
  XpSingleLock guard(&m_cancellation.m_workLock);
  if (m_cancellation.m_working++ == 0 && m_cancellation.m_idle) ResetEvent(m_cancellation.m_idle.get());
}

XpCancellation::Work::~Work() {
  XpSingleLock guard(&m_cancellation.m_workLock);
  if (--m_cancellation.m_working == 0 && m_cancellation.m_idle) SetEvent(m_cancellation.m_idle.get());
}

bool XpCancellation::waitIdle(DWORD boundMs) {
  if (m_idle) return WaitForSingleObject(m_idle.get(), boundMs) == WAIT_OBJECT_0;
  // Without an event the count itself is the answer, with no wait.
  XpSingleLock guard(&m_workLock);
  return m_working == 0;
}
