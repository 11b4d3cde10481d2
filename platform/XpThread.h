// Worker threads started through the run-time library. Each started thread
// computes with rounding toward zero and the user's default locale.
#pragma once

#include <windows.h>

#include <vector>

#include "XpHandle.h"
#include "XpOsVersion.h"
#include "XpResult.h"

// Some Windows headers still define a 16-bit era Yield() macro.
#ifdef Yield
#undef Yield
#endif

typedef unsigned int (*XpThreadFunction)(void* argument);

class XpThread {
 public:
  // Returns a running thread owned by the caller, or null if it could not start.
  static XpThread* Create(XpThreadFunction function, void* argument);
  // Waits for the end, deletes the object and returns the exit code;
  // XP_E_INVALID_HANDLE for null, XP_E_SELF_JOIN from the thread itself.
  [[nodiscard]] static XpResult Join(XpThread* thread);

  [[nodiscard]] XpResult SetPriority(int priority);
  [[nodiscard]] XpResult LowerPriority();
  static void Yield() { ::Sleep(0); }
  static void Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

  DWORD GetId() const { return m_id; }
  HANDLE GetHandle() const { return m_handle.get(); }

  // Closes the handle only; a thread not joined runs on.
  virtual ~XpThread() {}

 private:
  XpThread() : m_id(0) {}
  XpThread(const XpThread&) = delete;
  XpThread& operator=(const XpThread&) = delete;

  XpUniqueHandle m_handle;
  unsigned int m_id;
};

// Joins a thread from XpThread::Create when the scope ends, unless it was
// joined or released before. Whoever holds it asks the thread to end first:
// the join waits for the end.
class XpScopedThread {
 public:
  XpScopedThread() : m_thread(NULL) {}
  explicit XpScopedThread(XpThread* thread) : m_thread(thread) {}
  XpScopedThread(XpScopedThread&& other) noexcept : m_thread(other.release()) {}
  XpScopedThread& operator=(XpScopedThread&& other) noexcept {
    if (this != &other) {
      // The exit code of a thread replaced unjoined has no reader.
      (void)Join();
      m_thread = other.release();
    }
    return *this;
  }
  // The exit code has no reader here; a caller that wants it joins first.
  ~XpScopedThread() { (void)Join(); }

  // XpThread::Join's result; XP_E_INVALID_HANDLE when empty. From the thread
  // itself XP_E_SELF_JOIN, and the thread stays held.
  [[nodiscard]] XpResult Join() {
    if (!m_thread) return XP_E_INVALID_HANDLE;
    XpResult result = XpThread::Join(m_thread);
    if (result != XP_E_SELF_JOIN) m_thread = NULL;
    return result;
  }
  // Join, waiting at most ms: XP_E_TIMEOUT when the thread still runs then,
  // and it stays held (whoever owns what it uses must keep that alive).
  [[nodiscard]] XpResult JoinWithin(DWORD ms) {
    if (!m_thread) return XP_E_INVALID_HANDLE;
    if (GetCurrentThreadId() != m_thread->GetId() &&
        WaitForSingleObject(m_thread->GetHandle(), ms) == WAIT_TIMEOUT)
      return XP_E_TIMEOUT;
    return Join();
  }
  XpThread* get() const { return m_thread; }
  XpThread* operator->() const { return m_thread; }
  explicit operator bool() const { return m_thread != NULL; }
  // The caller takes over the duty to join.
  [[nodiscard]] XpThread* release() {
    XpThread* thread = m_thread;
    m_thread = NULL;
    return thread;
  }

 private:
  XpScopedThread(const XpScopedThread&) = delete;
  XpScopedThread& operator=(const XpScopedThread&) = delete;
  XpThread* m_thread;
};

// Threads started one after another for work of the same kind (a decision
// each), every one held until joined. Safe to use from several threads.
class XpThreadSet {
 public:
  XpThreadSet();
  // Joins what is left without a bound: whoever owns the set has made the
  // threads end (or joined them with a bound) before.
  ~XpThreadSet();

  // Starts function(argument) on a thread held by the set; false when it
  // could not start (then the argument is still the caller's). Threads that
  // have ended are joined first.
  bool Start(XpThreadFunction function, void* argument);
  // Joins the threads that have ended; never waits.
  void Reap();
  // Waits at most ms for every thread held to end, then joins those that
  // did. True when none is left; threads still running stay held.
  bool JoinWithin(DWORD ms);
  bool Empty();

 private:
  XpThreadSet(const XpThreadSet&) = delete;
  XpThreadSet& operator=(const XpThreadSet&) = delete;
  // Moves the threads that have ended out of m_threads; the caller holds m_lock.
  void TakeEnded(std::vector<XpScopedThread>& ended);

  CRITICAL_SECTION m_lock;
  std::vector<XpScopedThread> m_threads;
};

// Rounding toward zero for the calling thread (the main thread calls it at start-up).
void XpSetRoundTowardZero();

// Process start-up settings, called once by the entry point before anything
// else: DPI awareness where the system offers it, the low-fragmentation heap
// for the run-time library's heap (or its small-block heap on systems without
// it), and rounding toward zero for the main thread.
void XpSetupProcess();
// Part of XpSetupProcess: the current folder (and, where the system can, the
// search path) is no longer searched for libraries loaded by bare name.
void XpRestrictLibrarySearch();

struct XpMemoryStatus {
  unsigned long long totalPhysical;
  unsigned long long availablePhysical;
};

DWORD GetProcessorCount();
XpMemoryStatus GetMemoryStatus();
unsigned long long GetTotalPhysicalMemory();
unsigned long long GetAvailablePhysicalMemory();
long long GetCurrentTime64();
