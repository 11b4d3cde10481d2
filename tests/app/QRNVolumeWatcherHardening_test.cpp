// The real program under Wine, with what it loads and what it keeps: a planted
// "msxml4.dll" in its current folder never runs, and twenty level-1 tools
// written by one run survive a run without the XML component and are read
// again by the next normal one. The programs are copied from beside this test
// into folders of the private prefix; the registry is written from here.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include "tests/support/XpTestSupport.h"

#include <string>
#include <vector>

namespace {

const wchar_t kRoot[] = L"C:\\vw_harden";
const wchar_t kClass[] = L"BrimwellTrayIconDummyWnd";
const wchar_t kVantolo[] = L"Software\\Zelm Corporation\\Vantolo";
const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\QRNVolumeWatcher.exe";

std::wstring Dir(const wchar_t* name) { return std::wstring(kRoot) + L"\\" + name; }

void CopyInto(const std::wstring& folder, const std::wstring& from, const wchar_t* as) {
  SHCreateDirectoryExW(NULL, folder.c_str(), NULL);
  std::wstring to = folder + L"\\" + as;
  ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE)) << "copy " << std::string(to.begin(), to.end());
}

bool SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
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

bool Start(const std::wstring& program, const std::wstring& arguments, const wchar_t* folder,
           Process* process) {
  std::wstring line = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(program.c_str(), &line[0], NULL, NULL, FALSE, 0, NULL, folder, &startup, &info))
    return false;
  CloseHandle(info.hThread);
  process->handle = info.hProcess;
  return true;
}

long RunToEnd(const std::wstring& program, const std::wstring& arguments, DWORD ms = 30000) {
  Process p;
  if (!Start(program, arguments, NULL, &p)) return -2;
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

bool WaitForWindows(int windows, DWORD ms) {
  DWORD start = GetTickCount();
  for (;;) {
    int count = 0;
    EnumWindows(CountWatchers, reinterpret_cast<LPARAM>(&count));
    if (count == windows) return true;
    if (GetTickCount() - start > ms) return false;
    Sleep(100);
  }
}

bool WaitForWatching(DWORD ms) {
  DWORD start = GetTickCount();
  while (!FindWindowW(L"Zelm_XpCommonLib_IEEE1394WatchDogDummyWindow", NULL)) {
    if (GetTickCount() - start > ms) return false;
    Sleep(100);
  }
  return true;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring Watcher() { return Dir(L"A") + L"\\QRNVolumeWatcher.exe"; }

std::wstring ToolsFolder() {
  wchar_t appData[MAX_PATH] = {};
  SHGetFolderPathW(NULL, CSIDL_APPDATA, NULL, 0, appData);
  return std::wstring(appData) + L"\\Zelm Corporation\\Vantolo\\ExtTools";
}

std::wstring Numbered(int n) { return ToolsFolder() + L"\\" + std::to_wstring(n) + L".xml"; }

void ClearTools() {
  for (int n = 0; n <= 40; ++n) DeleteFileW(Numbered(n).c_str());
  SHDeleteKeyW(HKEY_CURRENT_USER, (std::wstring(kVantolo) + L"\\InitTool").c_str());
}

// The integer after the key in a written registration; -1 when missing.
int IntegerAfterKey(const std::string& text, const std::string& key) {
  size_t at = text.find("<key>" + key + "</key>");
  if (at == std::string::npos) return -1;
  at = text.find("<integer>", at);
  if (at == std::string::npos) return -1;
  return std::atoi(text.c_str() + at + 9);
}

std::string WithIntegerAfterKey(std::string text, const std::string& key, int value) {
  size_t at = text.find("<key>" + key + "</key>");
  if (at == std::string::npos) return text;
  size_t open = text.find("<integer>", at);
  size_t close = text.find("</integer>", open);
  if (open == std::string::npos || close == std::string::npos) return text;
  return text.substr(0, open + 9) + std::to_string(value) + text.substr(close);
}

class WatcherHardening : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, kVantolo);
    SHDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults);
    CopyInto(Dir(L"A"), xptest::ProgramDir() + L"QRNVolumeWatcher.exe", L"QRNVolumeWatcher.exe");
    CopyInto(Dir(L"A"), xptest::ProgramDir() + L"QRNVolumeWatcherLOC.DLL", L"QRNVolumeWatcherLOC.DLL");
    CopyInto(Dir(L"tools"), xptest::ProgramDir() + L"drivetool.exe", L"drivetool.exe");
    CopyInto(Dir(L"importer"), xptest::ProgramDir() + L"RefImporter.exe", L"RefImporter.exe");
    CopyInto(Dir(L"importer"), xptest::ProgramDir() + L"RefImporterLoc.dll", L"RefImporterLoc.dll");
    CopyInto(Dir(L"current"), xptest::ProgramDir() + L"planted\\msxml4.dll", L"msxml4.dll");
    SHCreateDirectoryExW(NULL, (Dir(L"card") + L"\\DCIM\\100DEMO").c_str(), NULL);
    EXPECT_TRUE(xptest::WriteBytes(Dir(L"card") + L"\\DCIM\\100DEMO\\IMG_0001.JPG", "jpeg"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, Sub(L"VolumeWatcher"), L"CurrentVersion", L"1.0"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, Sub(L"VolumeWatcher\\1.0"), L"InstalledLocation", Dir(L"A")));
    std::wstring module = Sub(L"Importer\\RefImporter");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, module, L"CurrentVersion", L"1.0"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, module + L"\\1.0", L"InstalledLocation", Dir(L"importer")));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, module + L"\\1.0", L"ExeName", L"RefImporter.exe"));
    ASSERT_TRUE(SetDword(module + L"\\1.0", L"SupportedDevice", 1));
  }
  static void TearDownTestSuite() {
    EndWatchers();
    ClearTools();
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, kVantolo);
    SHDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults);
  }
  void SetUp() override { ClearTools(); }
  void TearDown() override { EndWatchers(); }

  static void EndWatchers() {
    RunToEnd(Watcher(), L"/exitall");
    WaitForWindows(0, 10000);
  }

  void Drive(const wchar_t* command, const std::wstring& extra = std::wstring()) {
    std::wstring args = std::wstring(command) + L" X" + (extra.empty() ? L"" : L" " + extra);
    EXPECT_EQ(RunToEnd(Dir(L"tools") + L"\\drivetool.exe", args), 0) << "drivetool";
  }

  // One resident run with a card inserted: the first arrival builds the
  // module registry, which reads and writes back the tool registrations
  // before the importer is started.
  void RunWithCard(const wchar_t* currentFolder) {
    std::wstring log = Dir(L"importer") + L"\\RefImporter.log";
    DeleteFileW(log.c_str());
    Process watcher;
    ASSERT_TRUE(Start(Watcher(), L"/noballoononstart", currentFolder, &watcher));
    ASSERT_TRUE(WaitForWindows(1, 20000));
    ASSERT_TRUE(WaitForWatching(20000));
    Drive(L"insert", Dir(L"card"));
    DWORD begin = GetTickCount();
    bool imported = false;
    while (!imported && GetTickCount() - begin < 20000) {
      // An import start's command line, not the scoring run's, which names
      // the volume too.
      std::string text = xptest::ReadBytes(log);
      for (size_t at = 0, end = 0; !imported && at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        imported = line.compare(0, 2, "# ") != 0 && line.find("/importscore") == std::string::npos &&
                   (line.find(" /import ") != std::string::npos || line.find("X:\\") != std::string::npos);
      }
      if (!imported) Sleep(200);
    }
    EXPECT_TRUE(imported) << "the importer was not started";
    Drive(L"remove");
    EndWatchers();
  }
};

TEST_F(WatcherHardening, PlantedXmlLibraryInTheCurrentFolderNeverRuns) {
  std::wstring marker = Dir(L"current") + L"\\msxml4-ran.txt";
  DeleteFileW(marker.c_str());
  // A registration for the run to read and write back through the XML component.
  SHCreateDirectoryExW(NULL, ToolsFolder().c_str(), NULL);
  EXPECT_TRUE(xptest::WriteBytes(
      Numbered(1),
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>AppName</key><string>Mine</string>"
      "<key>DisplayLevel</key><integer>1</integer><key>InstalledLocation</key><string>C:\\mine</string>"
      "<key>ExeName</key><string>mine.exe</string></dict></plist>"));
  RunWithCard(Dir(L"current").c_str());
  EXPECT_FALSE(Exists(marker)) << "the planted library ran inside the watcher";
  // The registration was read and written back in the program's own form.
  std::string written = xptest::ReadBytes(Numbered(1));
  EXPECT_NE(std::string::npos, written.find("Mine"));
  EXPECT_EQ(1, IntegerAfterKey(written, "UIOrder")) << written;
}

TEST_F(WatcherHardening, TwentyToolsSurviveARunWithoutTheXmlComponent) {
  // Twenty level-1 tools in a registered folder: a normal run stores them
  // as 1.xml to 20.xml in the user's tools folder.
  std::wstring regs = Dir(L"regs");
  SHCreateDirectoryExW(NULL, regs.c_str(), NULL);
  for (int i = 1; i <= 20; ++i) {
    EXPECT_TRUE(xptest::WriteBytes(
        regs + L"\\tool" + std::to_wstring(100 + i) + L".xml",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>AppName</key><string>Tool" +
            std::to_string(i) +
            "</string><key>DisplayLevel</key><integer>1</integer><key>UIOrder</key>"
            "<integer>" +
            std::to_string(i) +
            "</integer><key>InstalledLocation</key><string>C:\\t</string>"
            "<key>ExeName</key><string>t" +
            std::to_string(i) + ".exe</string></dict></plist>"));
  }
  ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, Sub(L"Browser\\ExtProgramXML"), L"Tests", regs));
  RunWithCard(NULL);
  std::string stored[21];
  for (int n = 1; n <= 20; ++n) {
    ASSERT_TRUE(Exists(Numbered(n))) << n;
    stored[n] = xptest::ReadBytes(Numbered(n));
  }
  // From now on the tools folder holds their only copy.
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, Sub(L"Browser").c_str());

  // A run whose XML component is switched off reads none of them.
  std::wstring overrides = std::wstring(kAppDefaults) + L"\\DllOverrides";
  for (const wchar_t* library : {L"msxml3", L"msxml4", L"msxml6"})
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, overrides, library, L""));
  RunWithCard(NULL);
  SHDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults);
  for (int n = 1; n <= 20; ++n) {
    ASSERT_TRUE(Exists(Numbered(n))) << n << " was deleted";
    EXPECT_EQ(stored[n], xptest::ReadBytes(Numbered(n))) << n << " was changed";
  }

  // The next normal run reads all twenty again: the tool fifth in the order,
  // moved to its end by hand, comes back with its new place in its file.
  int fileOfPlace[21] = {};
  for (int n = 1; n <= 20; ++n) {
    int place = IntegerAfterKey(stored[n], "UIOrder");
    ASSERT_TRUE(place >= 1 && place <= 20) << n;
    fileOfPlace[place] = n;
  }
  EXPECT_TRUE(xptest::WriteBytes(Numbered(fileOfPlace[5]),
                                 WithIntegerAfterKey(stored[fileOfPlace[5]], "UIOrder", 99)));
  RunWithCard(NULL);
  for (int n = 1; n <= 20; ++n) EXPECT_TRUE(Exists(Numbered(n))) << n;
  EXPECT_EQ(20, IntegerAfterKey(xptest::ReadBytes(Numbered(fileOfPlace[5])), "UIOrder"));
  EXPECT_EQ(5, IntegerAfterKey(xptest::ReadBytes(Numbered(fileOfPlace[6])), "UIOrder"));
  EXPECT_EQ(4, IntegerAfterKey(xptest::ReadBytes(Numbered(fileOfPlace[4])), "UIOrder"));
}

}  // namespace
