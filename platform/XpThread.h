// Worker threads started through the run-time library. Each started thread
// computes with rounding toward zero and the user's default locale.
#pragma once

#include <windows.h>

#include "XpHandle.h"
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

// Platform family of the running system.
const DWORD XP_OS_UNKNOWN = 0;
const DWORD XP_OS_WIN9X = 1;  // Windows 95, 98, Me
const DWORD XP_OS_NT = 2;     // Windows NT, 2000, XP and later

// 0, or XP_E_FAIL (out-parameters untouched) when the version cannot be read.
// major and minor may be null.
[[nodiscard]] XpResult GetOsVersion(DWORD& platform, DWORD* major, DWORD* minor);
