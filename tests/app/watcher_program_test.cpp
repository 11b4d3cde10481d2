// The real program under Wine: verbs, single instance, exit, exitall, a card
// insertion that starts the reference importer, and the Launch and Ignore
// lists under a Windows 98 setting. The programs are copied from beside this
// test into folders of the private prefix; the registry is written from here
// (same bitness as the watcher, so the same view).
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

const wchar_t kRoot[] = L"C:\\vw_program";
const wchar_t kClass[] = L"BrimwellTrayIconDummyWnd";
const wchar_t kVantolo[] = L"Software\\Zelm Corporation\\Vantolo";
const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\QRNVolumeWatcher.exe";

std::wstring Here() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
  std::wstring p(path, n);
  return p.substr(0, p.find_last_of(L'\\'));
}

std::wstring Dir(const wchar_t* name) { return std::wstring(kRoot) + L"\\" + name; }

void CopyBeside(const std::wstring& folder, const wchar_t* file, const wchar_t* as = nullptr) {
  SHCreateDirectoryExW(NULL, folder.c_str(), NULL);
  std::wstring from = Here() + L"\\" + file;
  std::wstring to = folder + L"\\" + (as ? as : file);
  ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE)) << "copy " << std::string(to.begin(), to.end());
}

void InstallWatcher(const std::wstring& folder) {
  CopyBeside(folder, L"QRNVolumeWatcher.exe");
  CopyBeside(folder, L"QRNVolumeWatcherLOC.DLL");
}

bool SetString(const std::wstring& path, const wchar_t* name, const std::wstring& value,
               HKEY root = HKEY_LOCAL_MACHINE) {
  HKEY key = NULL;
  if (RegCreateKeyExW(root, path.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
    return false;
  LONG r = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

bool SetDword(const std::wstring& path, const wchar_t* name, DWORD value) {
  HKEY key = NULL;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
      ERROR_SUCCESS)
    return false;
  LONG r = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

std::wstring Sub(const std::wstring& rest) { return std::wstring(kVantolo) + L"\\" + rest; }

struct Process {
  HANDLE handle = NULL;
  ~Process() {
    if (handle) {
      if (WaitForSingleObject(handle, 0) == WAIT_TIMEOUT) TerminateProcess(handle, 99);
      CloseHandle(handle);
    }
  }
};

bool Start(const std::wstring& program, const std::wstring& arguments, Process* process) {
  std::wstring line = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info)) return false;
  CloseHandle(info.hThread);
  process->handle = info.hProcess;
  return true;
}

// Exit code of a run that must end within the time; -1 when it does not.
long RunToEnd(const std::wstring& program, const std::wstring& arguments, DWORD ms = 30000) {
  Process p;
  if (!Start(program, arguments, &p)) return -2;
  if (WaitForSingleObject(p.handle, ms) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(p.handle, &code);
  return static_cast<long>(code);
}

BOOL CALLBACK CountWatchers(HWND w, LPARAM count) {
  wchar_t name[64] = {};
  GetClassNameW(w, name, 64);
  if (wcscmp(name, kClass) == 0) ++*reinterpret_cast<int*>(count);
  return TRUE;
}

int WatcherWindows() {
  int count = 0;
  EnumWindows(CountWatchers, reinterpret_cast<LPARAM>(&count));
  return count;
}

bool WaitFor(int windows, DWORD ms) {
  DWORD start = GetTickCount();
  while (WatcherWindows() != windows) {
    if (GetTickCount() - start > ms) return false;
    Sleep(100);
  }
  return true;
}

// The watchers are started after the icon is shown; the IEEE 1394 watcher's
// window is made last, so once it exists the volume watcher runs too.
bool WaitForWatching(DWORD ms) {
  DWORD start = GetTickCount();
  while (!FindWindowW(L"Zelm_XpCommonLib_IEEE1394WatchDogDummyWindow", NULL)) {
    if (GetTickCount() - start > ms) return false;
    Sleep(100);
  }
  return true;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  std::ifstream in(std::string(path.begin(), path.end()).c_str());
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("# ", 0) != 0) lines.push_back(line);
  }
  return lines;
}

std::wstring Watcher(const wchar_t* folder) { return Dir(folder) + L"\\QRNVolumeWatcher.exe"; }

std::wstring StartupShortcut() {
  wchar_t startup[MAX_PATH] = {};
  SHGetFolderPathW(NULL, CSIDL_STARTUP, NULL, 0, startup);
  return std::wstring(startup) + L"\\Vantolo Card Watcher.lnk";
}

void EndWatchers() {
  RunToEnd(Watcher(L"C"), L"/exitall");
  WaitFor(0, 10000);
}

class WatcherProgram : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Start from a clean configuration: nothing left by a demo or an earlier run.
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, kVantolo);
    SHDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults);
    InstallWatcher(Dir(L"A"));
    InstallWatcher(Dir(L"B"));
    InstallWatcher(Dir(L"C"));
    CopyBeside(Dir(L"tools"), L"drivetool.exe");
    CopyBeside(Dir(L"importer"), L"RefImporter.exe");
    CopyBeside(Dir(L"importer"), L"RefImporterLoc.dll");
    CopyBeside(Dir(L"viewer"), L"RefImporter.exe", L"viewer.exe");
    SHCreateDirectoryExW(NULL, (Dir(L"card") + L"\\DCIM\\100DEMO").c_str(), NULL);
    std::ofstream(std::string("C:\\vw_program\\card\\DCIM\\100DEMO\\IMG_0001.JPG")) << "jpeg";
    ASSERT_TRUE(SetString(Sub(L"VolumeWatcher"), L"CurrentVersion", L"1.0"));
    ASSERT_TRUE(SetString(Sub(L"VolumeWatcher\\1.0"), L"InstalledLocation", Dir(L"A")));
    std::wstring module = Sub(L"Importer\\RefImporter");
    ASSERT_TRUE(SetString(module, L"CurrentVersion", L"1.0"));
    ASSERT_TRUE(SetString(module + L"\\1.0", L"InstalledLocation", Dir(L"importer")));
    ASSERT_TRUE(SetString(module + L"\\1.0", L"ExeName", L"RefImporter.exe"));
    ASSERT_TRUE(SetDword(module + L"\\1.0", L"SupportedDevice", 1));
  }
  static void TearDownTestSuite() {
    EndWatchers();
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, kVantolo);
    SHDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults);
  }
  void TearDown() override { EndWatchers(); }

  void Drive(const wchar_t* command, const std::wstring& extra = std::wstring()) {
    std::wstring args = std::wstring(command) + L" X" + (extra.empty() ? L"" : L" " + extra);
    EXPECT_EQ(RunToEnd(Dir(L"tools") + L"\\drivetool.exe", args), 0) << "drivetool";
  }
};

TEST_F(WatcherProgram, RegistVerbsWorkOnTheRealShortcutFile) {
  std::wstring shortcut = StartupShortcut();
  DeleteFileW(shortcut.c_str());
  EXPECT_EQ(RunToEnd(Watcher(L"A"), L"/isregisted"), 0);
  EXPECT_EQ(RunToEnd(Watcher(L"A"), L"/REGIST"), 0);
  EXPECT_TRUE(PathFileExistsW(shortcut.c_str()));
  EXPECT_EQ(RunToEnd(Watcher(L"A"), L"-isregisted"), 1);
  EXPECT_EQ(RunToEnd(Watcher(L"A"), L"/unregist"), 0);
  EXPECT_FALSE(PathFileExistsW(shortcut.c_str()));
  EXPECT_EQ(RunToEnd(Watcher(L"A"), L"/isregisted"), 0);
  // Nothing left to delete: the file layer's code for a missing file.
  EXPECT_EQ(RunToEnd(Watcher(L"A"), L"/unregist"), 0x8105);
  ASSERT_TRUE(CreateDirectoryW(shortcut.c_str(), NULL));
  EXPECT_EQ(RunToEnd(Watcher(L"A"), L"/isregisted"), 0);
  RemoveDirectoryW(shortcut.c_str());
  // "exit" with no running instance does nothing and answers 0.
  EXPECT_EQ(RunToEnd(Watcher(L"A"), L"/exit"), 0);
}

TEST_F(WatcherProgram, SecondStartReturnsAtOnceAndExitClosesTheFirst) {
  Process first;
  ASSERT_TRUE(Start(Watcher(L"A"), L"/noballoononstart", &first));
  ASSERT_TRUE(WaitFor(1, 20000));
  EXPECT_EQ(RunToEnd(Watcher(L"A"), L"", 20000), 0);
  EXPECT_EQ(RunToEnd(Watcher(L"A"), L"/regist now"), 0);  // not a verb: a second start
  EXPECT_EQ(WaitForSingleObject(first.handle, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WatcherWindows(), 1);
  EXPECT_EQ(RunToEnd(Watcher(L"A"), L"/exit"), 0);
  ASSERT_EQ(WaitForSingleObject(first.handle, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 99;
  GetExitCodeProcess(first.handle, &code);
  EXPECT_EQ(code, 0u);
}

TEST_F(WatcherProgram, ExitAllEndsInstancesFromOtherFoldersButNotItself) {
  Process a, b;
  ASSERT_TRUE(Start(Watcher(L"A"), L"/noballoononstart", &a));
  ASSERT_TRUE(WaitFor(1, 20000));
  // Another folder is another instance: its mutex name differs.
  ASSERT_TRUE(Start(Watcher(L"B"), L"/nobaloononstart", &b));
  ASSERT_TRUE(WaitFor(2, 20000));
  EXPECT_EQ(RunToEnd(Watcher(L"C"), L"/exitall"), 0);
  EXPECT_EQ(WaitForSingleObject(a.handle, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(b.handle, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(WaitFor(0, 5000));
}

TEST_F(WatcherProgram, InsertedCardStartsTheBestImporterOnceWithTheVolume) {
  std::wstring log = Dir(L"importer") + L"\\RefImporter.log";
  DeleteFileW(log.c_str());
  Process watcher;
  ASSERT_TRUE(Start(Watcher(L"A"), L"", &watcher));
  ASSERT_TRUE(WaitFor(1, 20000));
  ASSERT_TRUE(WaitForWatching(20000));
  DWORD inserted = GetTickCount();
  Drive(L"insert", Dir(L"card"));
  std::vector<std::string> imports;
  while (GetTickCount() - inserted < 20000) {
    imports.clear();
    for (const std::string& line : ReadLines(log))
      if (line.find("/importscore") == std::string::npos) imports.push_back(line);
    if (!imports.empty()) break;
    Sleep(200);
  }
  DWORD started = GetTickCount() - inserted;
  ASSERT_EQ(imports.size(), 1u);
  EXPECT_NE(imports[0].find("RefImporter.exe\""), std::string::npos) << imports[0];
  EXPECT_NE(imports[0].find(" X:\\"), std::string::npos) << imports[0];
  EXPECT_EQ(imports[0].find("/parentwindow"), std::string::npos) << imports[0];
  EXPECT_GE(started, 900u);  // the quiet second before the path is reported
  Sleep(3000);
  int count = 0;
  for (const std::string& line : ReadLines(log))
    if (line.find("/importscore") == std::string::npos) ++count;
  EXPECT_EQ(count, 1);
  Drive(L"remove");
}

TEST_F(WatcherProgram, LaunchAndIgnoreListsUnderWindows98) {
  ASSERT_TRUE(SetString(kAppDefaults, L"Version", L"win98", HKEY_CURRENT_USER));
  // The trees a Windows 98 system keeps for a USB card reader at X:.
  ASSERT_TRUE(SetString(L"Enum\\Scsi\\PROGRAM_READER\\USBSTOR&VID_1234&PID_0010&0001",
                        L"CurrentDriveLetterAssignment", L"X"));
  ASSERT_TRUE(SetString(L"Config Manager\\Enum\\ProgramReader", L"HardWareKey",
                        L"USBSTOR\\VID_1234&PID_0010\\0001", HKEY_DYN_DATA));
  std::wstring launch = Sub(L"VolumeWatcher\\1.0\\Launch\\Viewer");
  std::wstring ignore = Sub(L"VolumeWatcher\\1.0\\Ignore\\Reader");
  std::wstring viewer = Dir(L"viewer") + L"\\viewer.exe";
  std::wstring viewerLog = Dir(L"viewer") + L"\\viewer.log";
  std::wstring importerLog = Dir(L"importer") + L"\\RefImporter.log";

  struct Case {
    bool launch, ignore;
  } cases[] = {{true, false}, {false, true}, {true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.launch ? (c.ignore ? "both lists" : "launch list") : "ignore list");
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, launch.c_str());
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, ignore.c_str());
    if (c.launch) {
      ASSERT_TRUE(SetDword(launch, L"VID", 0x1234));
      ASSERT_TRUE(SetDword(launch, L"PID", 0x0010));
      ASSERT_TRUE(SetString(launch, L"AppPath", viewer));
      ASSERT_TRUE(SetString(launch, L"CommandLine", L"-x"));
    }
    if (c.ignore) {
      ASSERT_TRUE(SetDword(ignore, L"VID", 0x1234));
      ASSERT_TRUE(SetDword(ignore, L"PID", 0x0010));
    }
    DeleteFileW(viewerLog.c_str());
    DeleteFileW(importerLog.c_str());
    Process watcher;
    ASSERT_TRUE(Start(Watcher(L"A"), L"/noballoononstart", &watcher));
    ASSERT_TRUE(WaitFor(1, 20000));
    ASSERT_TRUE(WaitForWatching(20000));  // the polling watcher has taken its first scan
    Drive(L"define", Dir(L"card"));
    // One poll interval is five seconds; the start follows the scan.
    DWORD begin = GetTickCount();
    while (GetTickCount() - begin < 12000 && ReadLines(viewerLog).empty()) Sleep(200);
    if (c.launch) {
      std::vector<std::string> lines = ReadLines(viewerLog);
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(lines[0], "\"C:\\vw_program\\viewer\\viewer.exe\" /Drive \"X\" -x");
    } else {
      EXPECT_TRUE(ReadLines(viewerLog).empty());
    }
    // Neither a launched nor an ignored device reaches the importer modules.
    EXPECT_TRUE(ReadLines(importerLog).empty());
    Drive(L"undefine");
    EndWatchers();
  }
  SHDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults);
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"Enum\\Scsi\\PROGRAM_READER");
  SHDeleteKeyW(HKEY_DYN_DATA, L"Config Manager\\Enum\\ProgramReader");
}

}  // namespace
