// Keeps the system's critical-error boxes ("There is no disk in the drive")
// away while the calling thread probes a drive that may be empty.
#pragma once

#include <windows.h>

// For the lifetime of the object the calling thread fails critical errors
// instead of asking the user. Where the system has a per-thread error mode
// (SetThreadErrorMode, looked up at run time: Windows 7 and later) only this
// thread is touched and its previous mode comes back afterwards. Older
// systems only have the process mode, which several threads would set and
// restore against each other; there the boxes are turned off for the whole
// process once and stay off (this program never wants them).
class XpThreadErrorMode {
 public:
  XpThreadErrorMode() : m_setThreadMode(Lookup()), m_restore(false), m_previous(0) {
    if (m_setThreadMode) {
      m_restore = m_setThreadMode(kQuiet, &m_previous) != FALSE;
      return;
    }
    UINT previous = SetErrorMode(kQuiet);
    SetErrorMode(previous | kQuiet);
  }
  ~XpThreadErrorMode() {
    if (m_restore) m_setThreadMode(m_previous, NULL);
  }
  // True when only this thread's mode was changed.
  bool perThread() const { return m_restore; }

 private:
  typedef BOOL(WINAPI* SetThreadErrorModeFn)(DWORD, LPDWORD);
  static SetThreadErrorModeFn Lookup() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel ? reinterpret_cast<SetThreadErrorModeFn>(
                        reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadErrorMode")))
                  : NULL;
  }
  XpThreadErrorMode(const XpThreadErrorMode&) = delete;
  XpThreadErrorMode& operator=(const XpThreadErrorMode&) = delete;
  static const DWORD kQuiet = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;

  SetThreadErrorModeFn m_setThreadMode;
  bool m_restore;
  DWORD m_previous;
};
