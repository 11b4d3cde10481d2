#include "app/VolumeWatcherApp.h"

#include <tlhelp32.h>

#include "app/WatcherNames.h"
#include "app/res/LocResources.h"
#include "platform/XpHandle.h"
#include "platform/XpPath.h"

namespace {

const wchar_t kMessageBoxMutex[] = L"BwvwMessageBoxMutex";

// Terminates one process found by the snapshot, with the debug privilege
// held for the duration when the thread can get it.
void TerminateInstance(DWORD processId) {
  HANDLE rawToken = NULL;
  bool impersonating = false;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE, &rawToken)) {
    rawToken = NULL;
    if (GetLastError() == ERROR_NO_TOKEN && ImpersonateSelf(SecurityImpersonation)) {
      impersonating = true;
      if (!OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE, &rawToken))
        rawToken = NULL;
    }
  }
  XpUniqueHandle token(rawToken);
  bool enabled = false;
  TOKEN_PRIVILEGES privileges;
  ZeroMemory(&privileges, sizeof(privileges));
  if (token.valid() && LookupPrivilegeValueW(NULL, L"SeDebugPrivilege", &privileges.Privileges[0].Luid)) {
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    SetLastError(0);
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(privileges), NULL, NULL);
    enabled = GetLastError() == 0;
  }
  XpUniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
  if (process.valid()) {
    TerminateProcess(process.get(), 0);
    WaitForSingleObject(process.get(), 4096);
  }
  if (enabled) {
    privileges.Privileges[0].Attributes = 0;
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(privileges), NULL, NULL);
  }
  token.reset();
  // The thread must not keep a security context it did not have before.
  if (impersonating) RevertToSelf();
}

}  // namespace

bool VolumeWatcherApp::confirmExit() {
  XpMutex question(kMessageBoxMutex);
  XpResult taken = question.LockTimeout(0);
  // An owner that was killed while its question was open asks nothing any
  // more: the abandoned mutex was handed back, so it is free to take now.
  if (taken == XP_E_ABANDONED) taken = question.LockTimeout(0);
  if (taken != XP_OK) {
    // Another instance (or an earlier command) is asking right now.
    bringMessageWindowToFront();
    return false;
  }
  bool answer = true;
  // While an arrival still builds the registry, the accessor is not known
  // yet: the question is asked rather than waited for.
  XpSharedPtr<SfImporterModuleManager> manager = readyModuleManager();
  if (!manager || manager->hasDiskAccessor()) {
    XpString text = loadString(IDS_CONFIRM_EXIT);
    XpString caption = loadString(IDS_APP_NAME);
    answer = MessageBoxW(NULL, text.c_str(), caption.c_str(), MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2) ==
             IDOK;
  }
  // Taken above by this thread, so the release succeeds.
  (void)question.Unlock();
  return answer;
}

namespace {

// Asks the running instance's window to close, with bounds on the request and
// on the end of its process. 0 when it ended or there is none.
int CloseRunningInstance(DWORD sendMs, DWORD waitMs) {
  HWND window = FindWindowW(kWatcherWindowClass, L"");
  if (!window) return 0;
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  XpUniqueHandle process(processId ? OpenProcess(SYNCHRONIZE, FALSE, processId) : NULL);
  DWORD_PTR answer = 0;
  // A main thread that does not pump messages must not hold this one up.
  if (!SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG | SMTO_NORMAL, sendMs, &answer))
    return IsWindow(window) ? static_cast<int>(XP_E_TIMEOUT) : 0;
  if (process.valid())
    return WaitForSingleObject(process.get(), waitMs) == WAIT_OBJECT_0 ? 0 : static_cast<int>(XP_E_TIMEOUT);
  // Without a handle to wait on, the window going away is the sign.
  DWORD started = GetTickCount();
  while (IsWindow(window)) {
    if (GetTickCount() - started >= waitMs) return static_cast<int>(XP_E_TIMEOUT);
    Sleep(50);
  }
  return 0;
}

}  // namespace

int VolumeWatcherApp::requestExit(bool ask) {
  if (ask && !confirmExit()) return kExitKept;
  return CloseRunningInstance(kExitSendMs, kExitWaitMs);
}

int VolumeWatcherApp::exitAll() {
  // The polite request has a short bound; whatever does not answer is ended
  // by the loop below. Its result does not change what the loop does.
  (void)CloseRunningInstance(kExitAllSendMs, kExitWaitMs);
  XpUniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.valid()) return static_cast<int>(XP_E_FAIL);
  XpString ownName = GetFileName(executablePath());
  DWORD self = GetCurrentProcessId();
  PROCESSENTRY32W entry;
  ZeroMemory(&entry, sizeof(entry));
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == self) continue;
    entry.szExeFile[MAX_PATH - 1] = L'\0';
    // The snapshot may report a full path on some systems: compare file names.
    XpString name = GetFileName(XpString(entry.szExeFile));
    if (!ownName.IsEmpty() && name.CompareNoCase(ownName.c_str()) == 0)
      TerminateInstance(entry.th32ProcessID);
  }
  return 0;
}
