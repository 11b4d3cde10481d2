// Helpers of the end-to-end tests and the benchmarks of the real program,
// over the test-support library: processes started on the shell desktop with
// bounded waits, the watcher's windows and the broadcasts sent to them,
// registry values written in this program's own view (the same view the
// watcher of the same architecture reads), files and module logs.
#pragma once

#include <windows.h>

#include <dbt.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
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

// Top-level windows on this thread's desktop of a class and a title (null:
// any), of one process (0: any), that pass a test.
template <class Test>
std::vector<HWND> FindWindows(DWORD processId, const wchar_t* cls, const wchar_t* title, Test test) {
  std::vector<HWND> found;
  HWND w = nullptr;
  while ((w = FindWindowExW(nullptr, w, cls, title)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if ((processId == 0 || owner == processId) && test(w)) found.push_back(w);
  }
  return found;
}

inline bool AnyWindow(HWND) { return true; }
inline HWND FirstOf(const std::vector<HWND>& windows) { return windows.empty() ? nullptr : windows.front(); }
inline HWND WindowOf(const wchar_t* cls, DWORD processId) {
  return FirstOf(FindWindows(processId, cls, nullptr, AnyWindow));
}

// A window of the class that the process makes; null when it did not within
// the time or the process ended first.
inline HWND WaitForWindow(const Process& p, const wchar_t* cls, DWORD ms, const wchar_t* title = nullptr) {
  HWND w = nullptr;
  WaitUntil(ms, [&] {
    w = FirstOf(FindWindows(p.Id(), cls, title, AnyWindow));
    return w != nullptr || !p.Running();
  });
  return w;
}

// Hidden watcher windows of one process (0: any process).
inline std::vector<HWND> WatcherWindows(DWORD processId = 0) {
  return FindWindows(processId, kWatcherClass, L"", AnyWindow);
}

inline HWND WaitForWatcherWindow(const Process& p, DWORD ms) {
  return WaitForWindow(p, kWatcherClass, ms, L"");
}

// The watchers start after the icon is shown, the IEEE 1394 watcher's window
// last, and stop (their windows go) while the session is disconnected: that
// window of a process tells whether it watches.
const wchar_t kDeviceWatcherClass[] = L"Zelm_XpCommonLib_IEEE1394WatchDogDummyWindow";
// The portable-device watcher's window, where its arrivals are sent.
const wchar_t kPortableWindowClass[] = L"Zelm_XpCommonLib_PortableDeviceWatchDogDummyWindow";

inline HWND DeviceWatcherWindow(DWORD processId) { return WindowOf(kDeviceWatcherClass, processId); }

// Until the process watches (or, with false, no longer does).
inline bool WaitForWatching(const Process& p, DWORD ms, bool watching = true) {
  return WaitUntil(ms, [&] { return (DeviceWatcherWindow(p.Id()) != nullptr) == watching; });
}

// Wine's notification area shows a balloon as a visible tooltip window.
inline bool BalloonVisible() {
  return !FindWindows(0, L"tooltips_class32", nullptr, IsWindowVisible).empty();
}

// Wine never reports session changes: the tests send them as the system would.
const UINT kSessionChange = 0x02B1;  // WM_WTSSESSION_CHANGE

// The Devices window of the icon menu: a top-level window of the process
// that holds the details text.
const UINT kDevicesCommand = 0x8016;
const int kDetailsId = 1011;

inline std::vector<HWND> DevicesWindows(DWORD processId) {
  return FindWindows(processId, nullptr, nullptr,
                     [](HWND w) { return GetDlgItem(w, kDetailsId) != nullptr; });
}

inline HWND DevicesWindowOf(DWORD processId) { return FirstOf(DevicesWindows(processId)); }

// Opens the Devices window with the command of the icon menu; null when it
// did not show within the time.
inline HWND OpenDevicesWindow(const Process& p, HWND* icon = nullptr) {
  HWND w = WaitForWatcherWindow(p, 1000);
  if (icon) *icon = w;
  HWND dialog = nullptr;
  if (w && PostMessageW(w, WM_COMMAND, kDevicesCommand, 0))
    WaitUntil(15000, [&] { return (dialog = DevicesWindowOf(p.Id())) != nullptr; });
  return dialog;
}

inline std::wstring DetailsText(HWND dialog) {
  HWND details = GetDlgItem(dialog, kDetailsId);
  wchar_t text[4096] = {};
  DWORD_PTR copied = 0;
  if (!details || !SendMessageTimeoutW(details, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text),
                                       SMTO_ABORTIFHUNG, 5000, &copied))
    return std::wstring();
  return text;
}

// --- the watcher's processes ------------------------------------------------

// Starts a watcher in its folder and waits for its hidden window.
inline ::testing::AssertionResult StartWatcher(Process* p, const std::wstring& exe,
                                               const std::wstring& args = L"/noballoononstart",
                                               HWND* window = nullptr) {
  if (!p->Start(Quoted(exe) + L" " + args, exe.substr(0, exe.find_last_of(L'\\'))))
    return ::testing::AssertionFailure() << "cannot start the watcher";
  HWND w = WaitForWatcherWindow(*p, 30000);
  if (w == nullptr) return ::testing::AssertionFailure() << "no hidden window within 30 s";
  if (window) *window = w;
  return ::testing::AssertionSuccess();
}

// A verb of the watcher run to its end: its exit code, 0xBAD when it did not end in time.
inline DWORD Verb(const std::wstring& exe, const std::wstring& args, DWORD ms = 30000) {
  DWORD code = 0xDEAD;
  if (!RunToEnd(Quoted(exe) + L" " + args, ms, &code)) return 0xBAD;
  return code;
}

// Asks the instance of that program to exit; false when it still runs.
inline bool ExitWatcher(Process* p, const std::wstring& exe) {
  RunToEnd(Quoted(exe) + L" /exit", 30000, nullptr);
  return p->Wait(15000);
}

// The drive tool beside the test program, run on the test desktop within
// half a minute (xptest::DriveTool runs it on this program's desktop).
inline DWORD DriveTool(const std::wstring& args) {
  DWORD code = 0xDEAD;
  if (!RunToEnd(Quoted(ProgramDir() + L"drivetool.exe") + L" " + args, 30000, &code)) return 0xBAD;
  return code;
}

// --- device broadcasts ------------------------------------------------------

// The interface class of portable devices (cameras and phones).
const GUID kPortableClass = {0x6AC27878, 0xA6FA, 0x4155, {0xBA, 0x85, 0xF9, 0x8F, 0x49, 0x1D, 0x4F, 0x33}};

// A device-interface record as the system broadcasts it (no class: zeros).
inline std::vector<unsigned char> InterfaceRecord(const wchar_t* name, const GUID* cls = nullptr) {
  size_t chars = wcslen(name) + 1;
  size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + chars * sizeof(wchar_t);
  std::vector<unsigned char> record(size);
  DEV_BROADCAST_DEVICEINTERFACE_W* r = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(record.data());
  r->dbcc_size = static_cast<DWORD>(size);
  r->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  if (cls) r->dbcc_classguid = *cls;
  memcpy(r->dbcc_name, name, chars * sizeof(wchar_t));
  return record;
}

// Sends a device-interface event to a watcher's device window from this
// process, as the system does; false when the window did not take it within
// the time. The window's answer goes to *answer.
inline bool SendInterface(HWND window, WPARAM event, const wchar_t* name, const GUID* cls = nullptr,
                          DWORD ms = 10000, UINT flags = SMTO_ABORTIFHUNG, DWORD_PTR* answer = nullptr) {
  std::vector<unsigned char> record = InterfaceRecord(name, cls);
  DWORD_PTR result = 0;
  bool taken = window != nullptr &&
               SendMessageTimeoutW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record.data()),
                                   flags, ms, &result) != 0;
  if (answer) *answer = result;
  return taken;
}

// --- registry -----------------------------------------------------------

using xptest::DeleteTree;
using xptest::SetDword;
using xptest::SetString;

// The reference importer (or a copy of it under another program name)
// registered as module <name> in <folder> for the device kinds given.
inline void RegisterImporter(const wchar_t* name, const std::wstring& folder, DWORD kinds,
                             DWORD hasSettingsDialog = 0, const std::wstring& exeName = L"RefImporter.exe") {
  std::wstring key = std::wstring(kImporterKey) + L"\\" + name;
  SetString(HKEY_LOCAL_MACHINE, key, L"CurrentVersion", L"1.0");
  SetString(HKEY_LOCAL_MACHINE, key + L"\\1.0", L"InstalledLocation", folder);
  SetString(HKEY_LOCAL_MACHINE, key + L"\\1.0", L"ExeName", exeName);
  SetDword(HKEY_LOCAL_MACHINE, key + L"\\1.0", L"HasSettingsDialog", hasSettingsDialog);
  SetDword(HKEY_LOCAL_MACHINE, key + L"\\1.0", L"SupportedDevice", kinds);
}

// The watcher's machine and user configuration, one importer module's
// registration and the watcher's Wine settings, taken out.
inline void ClearSettings(const wchar_t* importerName) {
  DeleteTree(HKEY_LOCAL_MACHINE, kWatcherKey);
  DeleteTree(HKEY_CURRENT_USER, kWatcherKey);
  DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kImporterKey) + L"\\" + importerName);
  DeleteTree(HKEY_CURRENT_USER, kAppDefaults);
}

// A machine "Launch" or "Ignore" entry; no program path, a null command line
// or a null volume label leaves that value out.
inline void AddDeviceEntry(const wchar_t* list, const wchar_t* name, DWORD vid, DWORD pid,
                           const std::wstring& appPath, const wchar_t* commandLine,
                           const wchar_t* volumeLabel = nullptr) {
  std::wstring key = std::wstring(kVersioned) + L"\\" + list + L"\\" + name;
  SetDword(HKEY_LOCAL_MACHINE, key, L"VID", vid);
  SetDword(HKEY_LOCAL_MACHINE, key, L"PID", pid);
  if (volumeLabel != nullptr) SetString(HKEY_LOCAL_MACHINE, key, L"VolumeLabel", volumeLabel);
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

// Whether a run's command line holds the text.
inline bool Mentions(const std::vector<ModuleRun>& runs, const wchar_t* text) {
  for (const ModuleRun& r : runs)
    if (r.commandLine.find(text) != std::wstring::npos) return true;
  return false;
}

// One suite's folders inside its session's prefix (see WorkFolder), with the
// watcher installed in one of its own; a suite adds the folders it needs.
struct SuiteFolders {
  std::wstring root, watcher, probe;
  std::wstring exe() const { return watcher + L"\\" + kExeName; }
  std::wstring probeExe() const { return probe + L"\\LaunchProbe.exe"; }
  std::wstring probeLog() const { return probe + L"\\LaunchProbe.log"; }

  // False when the watcher is not built beside the test program; otherwise
  // the desktop is prepared and the folder <name> laid out with the watcher.
  bool LayOut(const wchar_t* name) {
    const std::wstring dir = ProgramDir();
    if (!WatcherBuilt(dir)) return false;
    PrepareDesktop();
    root = WorkFolder(name);
    watcher = root + L"\\watcher";
    probe = root + L"\\probe";
    CreateDirectoryW(root.c_str(), nullptr);
    InstallWatcher(dir, watcher);
    return true;
  }
  // The program a Launch entry starts: the reference importer under another
  // name, which logs the command lines it was started with.
  void InstallProbe() const { CopyInto(ProgramDir() + L"RefImporter.exe", probe, L"LaunchProbe.exe"); }
  bool ProbeSaw(const std::wstring& commandLine) const {
    for (const ModuleRun& r : ReadModuleLog(probeLog()))
      if (r.commandLine == commandLine) return true;
    return false;
  }
  // The configuration's version and the watcher's folder, as the package writes them.
  void RegisterWatcher() const {
    SetString(HKEY_LOCAL_MACHINE, kWatcherKey, L"CurrentVersion", L"1.0");
    SetString(HKEY_LOCAL_MACHINE, kVersioned, L"InstalledLocation", watcher);
  }
};

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

// --- the benchmarks' clock ----------------------------------------------------

inline LARGE_INTEGER Now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t;
}

inline double Ms(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(f.QuadPart);
}

// The value at that fraction of the sorted times (0.5: the median); -1 for none.
inline double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

}  // namespace E2e
