// Helpers of the end-to-end tests, over the test-support library: processes
// started on the shell desktop with bounded waits, registry values written in
// this program's own view (the same view the watcher of the same architecture
// reads), files and module logs.
#pragma once

#include <windows.h>

#include <shlwapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/support/XpTestSupport.h"

namespace E2e {

// Every program of a test runs on this Wine desktop; its name turns on Wine's
// taskbar with the notification area.
const wchar_t kDesktopName[] = L"shell";
const wchar_t kWatcherClass[] = L"BrimwellTrayIconDummyWnd";

// The installed names and keys the tests lay out and read, as the watcher
// itself spells them.
const wchar_t kExeName[] = L"QRNVolumeWatcher.exe";
const wchar_t kLocName[] = L"QRNVolumeWatcherLOC.DLL";
const wchar_t kVantolo[] = L"Software\\Zelm Corporation\\Vantolo";
const wchar_t kWatcherKey[] = L"Software\\Zelm Corporation\\Vantolo\\VolumeWatcher";
const wchar_t kVersioned[] = L"Software\\Zelm Corporation\\Vantolo\\VolumeWatcher\\1.0";
const wchar_t kImporterKey[] = L"Software\\Zelm Corporation\\Vantolo\\Importer";
const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\QRNVolumeWatcher.exe";

using xptest::DirExists;
using xptest::FileExists;
using xptest::ProgramDir;
using xptest::Quoted;
using xptest::ReadUtf8;
using xptest::RunningCount;
using xptest::WaitUntil;

// The watchers' timing of a test run (see watch/XpWatchTiming.h): polling
// every second, portable and IEEE 1394 devices quiet for a fifth of a second.
// Every watcher this program starts inherits it; a test of the product's own
// periods clears it for its watcher (ProductTiming).
const wchar_t kTimingVariable[] = L"XP_TEST_WATCH_TIMING";
const DWORD kTestQuietMs = 200;
inline void UseTestTiming() { SetEnvironmentVariableW(kTimingVariable, L"poll=1,quiet=200"); }

// The product's periods for the watchers started in its scope.
class ProductTiming {
 public:
  ProductTiming() { SetEnvironmentVariableW(kTimingVariable, nullptr); }
  ~ProductTiming() { UseTestTiming(); }
  ProductTiming(const ProductTiming&) = delete;
  ProductTiming& operator=(const ProductTiming&) = delete;
};

// The desktop size is read by Wine's explorer when it creates the desktop.
inline void PrepareDesktop() {
  UseTestTiming();
  const wchar_t size[] = L"1024x768";
  xptest::SetString(xptest::RealCurrentUser(), L"Software\\Wine\\Explorer\\Desktops", kDesktopName, size);
  HDESK desktop = CreateDesktopW(kDesktopName, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  // This thread looks for the watcher's windows on the same desktop.
  if (desktop != nullptr) SetThreadDesktop(desktop);
}

// A process started on the test desktop; one still running at the end of its
// owner's scope is terminated so that no test leaves a resident watcher behind.
class Process : public xptest::ChildProcess {
 public:
  bool Start(const std::wstring& commandLine, const std::wstring& folder = std::wstring()) {
    return xptest::ChildProcess::Start(commandLine, folder, kDesktopName);
  }
};

// Runs a command on the test desktop to its end; false when it did not end in time.
inline bool RunToEnd(const std::wstring& commandLine, DWORD ms, DWORD* exitCode,
                     const std::wstring& folder = std::wstring()) {
  return xptest::RunToEnd(commandLine, ms, exitCode, folder, kDesktopName);
}

// The folder a suite lays its programs and files out in: inside this Wine
// session's prefix (its temporary folder), so that parts of the suite run
// side by side in sessions of their own never share one.
inline std::wstring WorkFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH + 1] = {};
  DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  std::wstring base = n > 0 && n <= MAX_PATH ? std::wstring(temp, n) : ProgramDir();
  return base + name;
}

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

inline HWND WaitForWatcherWindow(const Process& p, DWORD ms) {
  HWND w = nullptr;
  WaitUntil(ms, [&] {
    std::vector<HWND> all = WatcherWindows(p.Id());
    w = all.empty() ? nullptr : all.front();
    return w != nullptr || !p.Running();
  });
  return w;
}

// The watchers start after the icon is shown, the IEEE 1394 watcher's window
// last, and stop (their windows go) while the session is disconnected: that
// window of a process tells whether it watches.
const wchar_t kDeviceWatcherClass[] = L"Zelm_XpCommonLib_IEEE1394WatchDogDummyWindow";

inline HWND DeviceWatcherWindow(DWORD processId) {
  HWND w = nullptr;
  while ((w = FindWindowExW(nullptr, w, kDeviceWatcherClass, nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == processId) return w;
  }
  return nullptr;
}

// Until the process watches (or, with false, no longer does).
inline bool WaitForWatching(const Process& p, DWORD ms, bool watching = true) {
  return WaitUntil(ms, [&] { return (DeviceWatcherWindow(p.Id()) != nullptr) == watching; });
}

// --- registry -----------------------------------------------------------

using xptest::DeleteTree;
using xptest::SetDword;
using xptest::SetString;

// The reference importer registered as module <name> in <folder> for the
// device kinds given.
inline void RegisterImporter(const wchar_t* name, const std::wstring& folder, DWORD kinds,
                             DWORD hasSettingsDialog = 0) {
  std::wstring key = std::wstring(kImporterKey) + L"\\" + name;
  SetString(HKEY_LOCAL_MACHINE, key, L"CurrentVersion", L"1.0");
  SetString(HKEY_LOCAL_MACHINE, key + L"\\1.0", L"InstalledLocation", folder);
  SetString(HKEY_LOCAL_MACHINE, key + L"\\1.0", L"ExeName", L"RefImporter.exe");
  SetDword(HKEY_LOCAL_MACHINE, key + L"\\1.0", L"HasSettingsDialog", hasSettingsDialog);
  SetDword(HKEY_LOCAL_MACHINE, key + L"\\1.0", L"SupportedDevice", kinds);
}

// A machine "Launch" or "Ignore" entry; no program path or a null command
// line leaves that value out.
inline void AddDeviceEntry(const wchar_t* list, const wchar_t* name, DWORD vid, DWORD pid,
                           const std::wstring& appPath, const wchar_t* commandLine) {
  std::wstring key = std::wstring(kVersioned) + L"\\" + list + L"\\" + name;
  SetDword(HKEY_LOCAL_MACHINE, key, L"VID", vid);
  SetDword(HKEY_LOCAL_MACHINE, key, L"PID", pid);
  if (!appPath.empty()) SetString(HKEY_LOCAL_MACHINE, key, L"AppPath", appPath);
  if (commandLine != nullptr) SetString(HKEY_LOCAL_MACHINE, key, L"CommandLine", commandLine);
}

// --- files ----------------------------------------------------------------

inline bool CopyInto(const std::wstring& from, const std::wstring& toFolder, const wchar_t* name) {
  xptest::MakeDirs(toFolder);
  return CopyFileW(from.c_str(), (toFolder + L"\\" + name).c_str(), FALSE) != 0;
}

// Whether this test program's folder holds the watcher and its localisation
// library (the build puts them there).
inline bool WatcherBuilt(const std::wstring& dir) {
  return FileExists(dir + kExeName) && FileExists(dir + kLocName);
}

// The watcher installed into a folder of its own, as a package lays it out.
inline void InstallWatcher(const std::wstring& dir, const std::wstring& folder) {
  CopyInto(dir + kExeName, folder, kExeName);
  CopyInto(dir + kLocName, folder, kLocName);
  if (FileExists(dir + L"UsbDriveInfo.dll")) CopyInto(dir + L"UsbDriveInfo.dll", folder, L"UsbDriveInfo.dll");
}

inline bool WriteText(const std::wstring& path, const char* text) { return xptest::WriteBytes(path, text); }

// The reference importer and its resource library installed into a folder,
// as an importer module is laid out.
inline void InstallRefImporter(const std::wstring& dir, const std::wstring& folder) {
  CopyInto(dir + L"RefImporter.exe", folder, L"RefImporter.exe");
  CopyInto(dir + L"RefImporterLoc.dll", folder, L"RefImporterLoc.dll");
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

// "Nothing more comes" read from a sign rather than after a pause: a marker
// card put in at another letter after what is under test, and decided (the
// module log shows its import), comes after every notice the watcher had
// before it. The marker is taken out again.
inline ::testing::AssertionResult MarkerDecided(wchar_t letter, const std::wstring& card,
                                                const std::wstring& moduleLog, DWORD ms = 30000) {
  xptest::InsertedDrive marker;
  ::testing::AssertionResult in = marker.Insert(letter, card);
  if (!in) return in;
  const wchar_t root[] = {letter, L':', L'\\', 0};
  if (!WaitUntil(ms, [&] { return CountRuns(ReadModuleLog(moduleLog), {root}) >= 1; }))
    return ::testing::AssertionFailure() << "the marker card was not decided";
  return ::testing::AssertionSuccess();
}

}  // namespace E2e
