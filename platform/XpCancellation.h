// One cancellation for everything that must stop starting work at the same
// moment: the watcher's decisions, the module registry's selections and the
// scoring runs of the Devices window share one. A cancel begins a new epoch,
// so work begun before it stays cancelled after a resume; a close cancels for
// good. Work in progress is counted, so that the end can wait for it with a
// bound.
#pragma once

#include <windows.h>

#include "platform/XpHandle.h"
#include "platform/XpSync.h"

class XpCancellation {
 public:
  XpCancellation();

  // The epoch that work begins in.
  LONG epoch() const;
  // Work begun in epoch may still start things: no cancel since, and not closed.
  bool mayContinue(LONG epoch) const;
  // Cancelled and not resumed, or closed.
  bool cancelled() const;
  // Ends the work under way and refuses new work until resume().
  void cancel();
  // New work may start again, unless closed.
  void resume();
  // Cancels for good: resume() no longer lifts it.
  void close();
  // Set while cancelled: a wait on it (a scoring run, a pause) ends at the
  // cancel. Null only when the system could make no event; cancelled() and
  // mayContinue() still answer then.
  HANDLE event() const { return m_event.get(); }

  // Counts one piece of work in progress for its lifetime.
  class Work {
   public:
    explicit Work(XpCancellation& cancellation);
    ~Work();

   private:
    Work(const Work&) = delete;
    Work& operator=(const Work&) = delete;
    XpCancellation& m_cancellation;
  };
  // Waits at most boundMs until no work is counted; false when some still is.
  bool waitIdle(DWORD boundMs);

 private:
  XpCancellation(const XpCancellation&) = delete;
  XpCancellation& operator=(const XpCancellation&) = delete;

  volatile LONG m_epoch;
  volatile LONG m_cancelled;
  volatile LONG m_closed;
  // The count and the idle event change together under the lock, so the
  // event is set exactly while nothing is counted.
  XpCriticalSection m_workLock;
  LONG m_working;
  XpUniqueHandle m_event;
  XpUniqueHandle m_idle;
};
