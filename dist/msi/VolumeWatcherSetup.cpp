// Custom actions of the watcher's installer package, kept in the package and
// never installed. Each runs in the registry view of its own architecture, the
// view the package writes, and none stops the installation: a failure does
// less and returns success.
//
// RemoveConfiguration runs only when the package is removed for good (not when
// a newer one replaces it): it moves the "Launch" and "Ignore" lists below the
// watcher's versioned machine key, with the entries an administrator added, to
// a key of their own. RestoreConfiguration (rollback) puts them back when the
// removal fails; CommitConfigurationRemoval deletes them when it completes.
// The package creates the two keys but leaves their removal to these actions,
// so that an upgrade keeps them.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>
#include <shlwapi.h>
#include <tlhelp32.h>

namespace {

const wchar_t kWatcherKey[] = L"Software\\Zelm Corporation\\Vantolo\\VolumeWatcher";
// Outside the watcher key, so that the installer's removal of that key is not
// held up by the copy.
const wchar_t kRemovedKey[] = L"Software\\Zelm Corporation\\Vantolo\\VolumeWatcherRemoved";
const wchar_t* const kLists[] = {L"Launch", L"Ignore"};
const wchar_t kProgramName[] = L"QRNVolumeWatcher.exe";

// The "CurrentVersion" string of key, when it names a subkey (no backslash).
bool ReadVersion(HKEY root, const wchar_t* key, wchar_t* version, DWORD chars) {
  HKEY opened = NULL;
  if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  DWORD size = (chars - 1) * sizeof(wchar_t);
  ZeroMemory(version, chars * sizeof(wchar_t));
  LONG read =
      RegQueryValueExW(opened, L"CurrentVersion", NULL, &type, reinterpret_cast<BYTE*>(version), &size);
  RegCloseKey(opened);
  // An empty or odd version would name the watcher key itself.
  return read == ERROR_SUCCESS && type == REG_SZ && version[0] != 0 && wcschr(version, L'\\') == NULL;
}

// Copies HKLM source with its subkeys to HKLM destination (created).
bool CopyKey(const wchar_t* source, const wchar_t* destination) {
  HKEY target = NULL;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, destination, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &target, NULL) !=
      ERROR_SUCCESS)
    return false;
  bool copied = SHCopyKeyW(HKEY_LOCAL_MACHINE, source, target, 0) == ERROR_SUCCESS;
  RegCloseKey(target);
  return copied;
}

bool KeyExists(const wchar_t* key) {
  HKEY opened = NULL;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

void Log(MSIHANDLE install, const wchar_t* text) {
  MSIHANDLE record = MsiCreateRecord(1);
  if (!record) return;
  MsiRecordSetStringW(record, 0, text);
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
  MsiCloseHandle(record);
}

// Elevated (Vista and later) or the system's own account: the watcher must
// not run with such a token. Systems without elevation answer for the
// account only.
bool TokenTooPowerful() {
  HANDLE token = NULL;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return true;
  bool powerful = false;
  DWORD elevation = 0;
  DWORD size = 0;
  // TokenElevation (20) exists from Vista on; older systems fail the call.
  if (GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(20), &elevation, sizeof(elevation),
                          &size) &&
      elevation != 0)
    powerful = true;
  BYTE userBuffer[256];
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID system = NULL;
  if (!powerful && GetTokenInformation(token, TokenUser, userBuffer, sizeof(userBuffer), &size) &&
      AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system)) {
    powerful = EqualSid(reinterpret_cast<TOKEN_USER*>(userBuffer)->User.Sid, system) != FALSE;
    FreeSid(system);
  }
  CloseHandle(token);
  return powerful;
}

typedef BOOL(WINAPI* CreateProcessWithTokenFn)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR,
                                               LPSTARTUPINFOW, LPPROCESS_INFORMATION);

// A primary token of the desktop shell's process: the logged-on user with
// that user's normal rights. Null without a shell in this session.
HANDLE ShellUserToken() {
  HWND shell = GetShellWindow();
  DWORD processId = 0;
  if (!shell || !GetWindowThreadProcessId(shell, &processId) || processId == 0) return NULL;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
  if (!process) return NULL;
  HANDLE token = NULL;
  HANDLE primary = NULL;
  if (OpenProcessToken(process, TOKEN_DUPLICATE | TOKEN_QUERY, &token)) {
    if (!DuplicateTokenEx(token,
                          TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                              TOKEN_ADJUST_SESSIONID,
                          NULL, SecurityImpersonation, TokenPrimary, &primary))
      primary = NULL;
    CloseHandle(token);
  }
  CloseHandle(process);
  return primary;
}

}  // namespace

extern "C" UINT __stdcall RemoveConfiguration(MSIHANDLE /*install*/) {
  wchar_t version[64];
  if (!ReadVersion(HKEY_LOCAL_MACHINE, kWatcherKey, version, 64))
    return ERROR_SUCCESS;  // nothing installed: nothing to remove
  // A copy left by an earlier removal that ended without commit is stale.
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, kRemovedKey);
  HKEY removed = NULL;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRemovedKey, 0, NULL, 0, KEY_SET_VALUE, NULL, &removed, NULL) !=
      ERROR_SUCCESS)
    return ERROR_SUCCESS;
  RegSetValueExW(removed, L"CurrentVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                 static_cast<DWORD>((lstrlenW(version) + 1) * sizeof(wchar_t)));
  RegCloseKey(removed);
  for (const wchar_t* list : kLists) {
    wchar_t path[256];
    wchar_t copy[256];
    wnsprintfW(path, 256, L"%s\\%s\\%s", kWatcherKey, version, list);
    wnsprintfW(copy, 256, L"%s\\%s", kRemovedKey, list);
    // A list that cannot be kept for a rollback is not deleted either.
    if (KeyExists(path) && CopyKey(path, copy)) SHDeleteKeyW(HKEY_LOCAL_MACHINE, path);
  }
  return ERROR_SUCCESS;
}

extern "C" UINT __stdcall RestoreConfiguration(MSIHANDLE /*install*/) {
  wchar_t version[64];
  if (!ReadVersion(HKEY_LOCAL_MACHINE, kRemovedKey, version, 64)) return ERROR_SUCCESS;
  bool restored = true;
  for (const wchar_t* list : kLists) {
    wchar_t path[256];
    wchar_t copy[256];
    wnsprintfW(path, 256, L"%s\\%s\\%s", kWatcherKey, version, list);
    wnsprintfW(copy, 256, L"%s\\%s", kRemovedKey, list);
    if (KeyExists(copy) && !CopyKey(copy, path)) restored = false;
  }
  // A copy that could not be put back stays for the administrator to find.
  if (restored) SHDeleteKeyW(HKEY_LOCAL_MACHINE, kRemovedKey);
  return ERROR_SUCCESS;
}

extern "C" UINT __stdcall CommitConfigurationRemoval(MSIHANDLE /*install*/) {
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, kRemovedKey);
  return ERROR_SUCCESS;
}

// Ends every watcher of every session, of either architecture's package: run
// as the system, after the installing user's watchers were asked to exit.
extern "C" UINT __stdcall EndWatchers(MSIHANDLE /*install*/) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ERROR_SUCCESS;
  PROCESSENTRY32W entry;
  ZeroMemory(&entry, sizeof(entry));
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    entry.szExeFile[MAX_PATH - 1] = L'\0';
    const wchar_t* slash = wcsrchr(entry.szExeFile, L'\\');
    if (lstrcmpiW(slash ? slash + 1 : entry.szExeFile, kProgramName) != 0) continue;
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
    if (!process) continue;
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 4096);
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return ERROR_SUCCESS;
}

// Starts the installed watcher (property WATCHERPATH) as the logged-on user
// with that user's normal rights: directly when this process has no more, else
// with the token of the user's desktop shell (CreateProcessWithTokenW, Vista
// and later, looked up at run time); otherwise not at all.
extern "C" UINT __stdcall StartWatcherAsUser(MSIHANDLE install) {
  wchar_t path[MAX_PATH + 1];
  DWORD chars = MAX_PATH + 1;
  if (MsiGetPropertyW(install, L"WATCHERPATH", path, &chars) != ERROR_SUCCESS || path[0] == 0)
    return ERROR_SUCCESS;
  HANDLE shellToken = NULL;
  CreateProcessWithTokenFn withToken = NULL;
  if (TokenTooPowerful()) {
    HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
    withToken = advapi ? reinterpret_cast<CreateProcessWithTokenFn>(
                             reinterpret_cast<void*>(GetProcAddress(advapi, "CreateProcessWithTokenW")))
                       : NULL;
    shellToken = withToken ? ShellUserToken() : NULL;
    if (!shellToken) {
      Log(install,
          L"StartWatcherAsUser: not started, the installer runs elevated or as the system and no "
          L"shell of the logged-on user is there; the watcher starts at the next logon");
      return ERROR_SUCCESS;
    }
  }
  wchar_t commandLine[MAX_PATH + 3];
  wnsprintfW(commandLine, MAX_PATH + 3, L"\"%s\"", path);
  wchar_t folder[MAX_PATH + 1];
  lstrcpynW(folder, path, MAX_PATH + 1);
  wchar_t* slash = wcsrchr(folder, L'\\');
  if (slash) *slash = L'\0';
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started;
  BOOL ok = shellToken ? withToken(shellToken, 0, path, commandLine, 0, NULL, slash ? folder : NULL, &startup,
                                   &started)
                       : CreateProcessW(path, commandLine, NULL, NULL, FALSE, 0, NULL, slash ? folder : NULL,
                                        &startup, &started);
  if (shellToken) CloseHandle(shellToken);
  if (ok) {
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    Log(install,
        shellToken
            ? L"StartWatcherAsUser: started with the shell's token, the logged-on user's normal rights"
            : L"StartWatcherAsUser: started directly, the installer has the logged-on user's normal rights");
  }
  return ERROR_SUCCESS;
}
