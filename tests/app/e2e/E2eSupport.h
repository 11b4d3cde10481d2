// Helpers of the end-to-end tests: processes started on the shell desktop with
// bounded waits, registry values written in this program's own view (the same
// view the watcher of the same architecture reads), files and module logs.
#pragma once

#include <windows.h>

#include <shlwapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace E2e {

// Every program of a test runs on this Wine desktop; its name turns on Wine's
// taskbar with the notification area.
const wchar_t kDesktopName[] = L"shell";
const wchar_t kWatcherClass[] = L"BrimwellTrayIconDummyWnd";

inline std::wstring ProgramDir() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, length);
  return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

inline bool FileExists(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

inline bool DirExists(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The desktop size is read by Wine's explorer when it creates the desktop.
inline void PrepareDesktop() {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops", 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
    const wchar_t size[] = L"1024x768";
    RegSetValueExW(key, kDesktopName, 0, REG_SZ, reinterpret_cast<const BYTE*>(size), sizeof(size));
    RegCloseKey(key);
  }
  HDESK desktop = CreateDesktopW(kDesktopName, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  // This thread looks for the watcher's windows on the same desktop.
  if (desktop != nullptr) SetThreadDesktop(desktop);
}

// A started process; a process still running at the end of its owner's scope
// is terminated so that no test leaves a resident watcher behind.
class Process {
 public:
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() { Kill(); }

  bool Start(const std::wstring& commandLine, const std::wstring& folder = std::wstring()) {
    Kill();
    std::wstring text = commandLine;
    wchar_t desktop[32];
    wcscpy(desktop, kDesktopName);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &text[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info))
      return false;
    CloseHandle(info.hThread);
    handle_ = info.hProcess;
    id_ = info.dwProcessId;
    return true;
  }
  // True when the process ended within the time; its exit code is kept.
  bool Wait(DWORD ms) {
    if (handle_ == nullptr) return true;
    if (WaitForSingleObject(handle_, ms) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(handle_, &exitCode_);
    return true;
  }
  bool Running() const { return handle_ != nullptr && WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT; }
  DWORD ExitCode() const { return exitCode_; }
  DWORD Id() const { return id_; }
  HANDLE Handle() const { return handle_; }
  void Kill() {
    if (handle_ == nullptr) return;
    if (WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT) {
      TerminateProcess(handle_, 99);
      WaitForSingleObject(handle_, 5000);
    }
    CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
  DWORD id_ = 0;
  DWORD exitCode_ = STILL_ACTIVE;
};

// Runs a command to its end; returns false when it did not end in time.
inline bool RunToEnd(const std::wstring& commandLine, DWORD ms, DWORD* exitCode,
                     const std::wstring& folder = std::wstring()) {
  Process p;
  if (!p.Start(commandLine, folder)) return false;
  if (!p.Wait(ms)) return false;
  if (exitCode != nullptr) *exitCode = p.ExitCode();
  return true;
}

inline std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// Hidden watcher windows of one process (0: any process).
inline std::vector<HWND> WatcherWindows(DWORD processId = 0) {
  std::vector<HWND> found;
  HWND w = nullptr;
  while ((w = FindWindowExW(nullptr, w, kWatcherClass, L"")) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (processId == 0 || owner == processId) found.push_back(w);
  }
  return found;
}

template <class Predicate>
bool WaitUntil(DWORD ms, Predicate done, DWORD step = 50) {
  DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start >= ms) return false;
    Sleep(step);
  }
}

inline HWND WaitForWatcherWindow(const Process& p, DWORD ms) {
  HWND w = nullptr;
  WaitUntil(ms, [&] {
    std::vector<HWND> all = WatcherWindows(p.Id());
    w = all.empty() ? nullptr : all.front();
    return w != nullptr || !p.Running();
  });
  return w;
}

// --- registry -----------------------------------------------------------

inline bool SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LONG r = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

inline bool SetDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LONG r = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

inline void DeleteTree(HKEY root, const std::wstring& path) { SHDeleteKeyW(root, path.c_str()); }

// --- files ----------------------------------------------------------------

inline bool CopyInto(const std::wstring& from, const std::wstring& toFolder, const wchar_t* name) {
  CreateDirectoryW(toFolder.c_str(), nullptr);
  return CopyFileW(from.c_str(), (toFolder + L"\\" + name).c_str(), FALSE) != 0;
}

inline bool WriteText(const std::wstring& path, const char* text) {
  FILE* f = _wfopen(path.c_str(), L"wb");
  if (f == nullptr) return false;
  fputs(text, f);
  fclose(f);
  return true;
}

inline std::wstring ReadUtf8(const std::wstring& path) {
  std::wstring text;
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (f == nullptr) return text;
  std::string bytes;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  fclose(f);
  int count = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (count > 0) {
    text.resize(static_cast<size_t>(count));
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], count);
  }
  return text;
}

// One run of the reference importer as its log tells it: the command line and
// the arguments it saw.
struct ModuleRun {
  std::wstring commandLine;
  std::vector<std::wstring> args;
};

inline std::vector<ModuleRun> ReadModuleLog(const std::wstring& path) {
  std::vector<ModuleRun> runs;
  std::wstring text = ReadUtf8(path);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(L"\r\n", pos);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(pos, end - pos);
    pos = end + 2;
    if (line.compare(0, 2, L"# ") != 0) {
      runs.push_back(ModuleRun());
      runs.back().commandLine = line;
    } else if (!runs.empty() && line.compare(0, 6, L"# arg ") == 0) {
      runs.back().args.push_back(line.substr(6));
    }
  }
  return runs;
}

inline int CountRuns(const std::vector<ModuleRun>& runs, const std::vector<std::wstring>& args) {
  int n = 0;
  for (const ModuleRun& r : runs)
    if (r.args == args) ++n;
  return n;
}

}  // namespace E2e
