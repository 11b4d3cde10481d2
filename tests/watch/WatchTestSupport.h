// Helpers shared by the watcher tests: a recording client, made-up device
// broadcasts, shell notification messages and the drive tool.
#pragma once

#include <windows.h>
#include <dbt.h>
#include <shlobj.h>

#include "platform/XpString.h"
#include "tests/support/XpTestSupport.h"
#include "watch/XpWatchCallbacks.h"

#include <string>
#include <vector>

namespace watchtest {

struct Event {
  std::wstring path;
  bool arrival;
  DWORD tick;
  DWORD thread;
};

// The volume callbacks as the suite's recorder keeps them; a delay holds
// each call for a while (a slow client), and the calls under way are counted.
class Recorder final : public IXpVolumeWatchDogCallback {
 public:
  void OnVolumeArrival(const XpString& path) override { Record(path, true); }
  void OnVolumeRemoval(const XpString& path) override { Record(path, false); }

  std::vector<Event> Events() { return m_log.Events(); }
  size_t Count() { return m_log.Count(); }
  // Waits until at least n events were recorded or the time is up.
  bool WaitFor(size_t n, DWORD timeoutMs) { return m_log.WaitFor(n, timeoutMs); }
  void SetDelay(DWORD ms) { m_delayMs = ms; }
  LONG InCall() const { return m_inCall; }

 private:
  void Record(const XpString& path, bool arrival) {
    InterlockedIncrement(&m_inCall);
    if (m_delayMs) Sleep(m_delayMs);
    m_log.Add(Event{path.c_str(), arrival, GetTickCount(), GetCurrentThreadId()});
    InterlockedDecrement(&m_inCall);
  }
  xptest::Recorder<Event> m_log;
  volatile DWORD m_delayMs = 0;
  volatile LONG m_inCall = 0;
};

inline LRESULT SendVolumeBroadcast(HWND window, WPARAM event, DWORD mask, WORD flags = 0) {
  DEV_BROADCAST_VOLUME v;
  ZeroMemory(&v, sizeof(v));
  v.dbcv_size = sizeof(v);
  v.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  v.dbcv_unitmask = mask;
  v.dbcv_flags = flags;
  return SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&v));
}

// A shell notification as the shell delivers it to the windows of this
// process (shell notifications do not cross processes under Wine). The
// watcher takes only what the shell's lock call opens, so the message cannot
// be made up here; window and message stay for the callers' sake.
inline bool SendShellEvent(HWND, UINT, LONG event, const wchar_t* path) {
  SHChangeNotify(event, SHCNF_PATHW | SHCNF_FLUSH, path, NULL);
  return true;
}

inline std::wstring ExeDir() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
  std::wstring s(path, n);
  size_t slash = s.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : s.substr(0, slash + 1);
}

// Runs a program next to the test exe and returns its exit code (-1 if it
// could not start or did not end within a minute; it is then ended).
inline int RunNextToMe(const std::wstring& exe, const std::wstring& args, bool quiet = false) {
  DWORD code = 0;
  if (!xptest::RunToEnd(L"\"" + ExeDir() + exe + L"\" " + args, 60000, &code, std::wstring(), NULL, quiet))
    return -1;
  return static_cast<int>(code);
}

inline int DriveTool(const std::wstring& args, bool quiet = false) {
  return RunNextToMe(L"drivetool.exe", args, quiet);
}

// A fresh folder under the temporary directory, in Windows form.
inline std::wstring MakeCardFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring dir = std::wstring(temp) + name;
  CreateDirectoryW(dir.c_str(), NULL);
  std::wstring marker = dir + L"\\DCIM";
  CreateDirectoryW(marker.c_str(), NULL);
  return dir;
}

}  // namespace watchtest
