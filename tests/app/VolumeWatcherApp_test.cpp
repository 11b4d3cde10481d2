// The application object and its helpers inside one test process: verb
// grammar, the single-instance name, the about text, the launch lists, the
// tray icon's commands and menu. The localisation library is copied beside
// this program under the name the rule gives for it.
#include "app/LaunchSettings.h"
#include "app/VolumeWatcherApp.h"
#include "app/WatcherDialogs.h"
#include "app/WatcherMain.h"
#include "app/WatcherTrayIcon.h"
#include "app/res/LocResources.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include "platform/XpFileSystem.h"
#include "platform/XpRegistry.h"
#include "tests/support/XpTestSupport.h"

#include <string>

namespace {

const wchar_t kVantolo[] = L"Software\\Zelm Corporation\\Vantolo";

// The program runs in a scratch registry (see tests/support): these keys
// never reach a real installation.
bool SetString(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  return xptest::SetString(HKEY_LOCAL_MACHINE, path, name, value);
}

bool SetDword(const std::wstring& path, const wchar_t* name, DWORD value) {
  return xptest::SetDword(HKEY_LOCAL_MACHINE, path, name, value);
}

TEST(WatcherVerbs, GrammarTakesTheWholeTextAfterOneDashOrSlash) {
  EXPECT_EQ(ParseWatcherVerb(L"/REGIST"), kVerbRegister);
  EXPECT_EQ(ParseWatcherVerb(L"-regist"), kVerbRegister);
  EXPECT_EQ(ParseWatcherVerb(L"regist"), kVerbResident);
  EXPECT_EQ(ParseWatcherVerb(L"/regist now"), kVerbResident);
  EXPECT_EQ(ParseWatcherVerb(L"/regist "), kVerbResident);
  EXPECT_EQ(ParseWatcherVerb(L"//regist"), kVerbResident);
  EXPECT_EQ(ParseWatcherVerb(L"/isregisted"), kVerbIsRegistered);
  EXPECT_EQ(ParseWatcherVerb(L"/unregist"), kVerbUnregister);
  EXPECT_EQ(ParseWatcherVerb(L"-UnRegistAll"), kVerbUnregisterAll);
  EXPECT_EQ(ParseWatcherVerb(L"/exit"), kVerbExit);
  EXPECT_EQ(ParseWatcherVerb(L"/exitall"), kVerbExitAll);
  EXPECT_EQ(ParseWatcherVerb(L"/noballoononstart"), kVerbResidentNoBalloon);
  EXPECT_EQ(ParseWatcherVerb(L"/nobaloononstart"), kVerbResidentNoBalloon);
  EXPECT_EQ(ParseWatcherVerb(L""), kVerbResident);
  EXPECT_EQ(ParseWatcherVerb(L"/"), kVerbResident);
  EXPECT_EQ(ParseWatcherVerb(nullptr), kVerbResident);
}

TEST(SingleInstanceGuard, NameLowersOnlyCapitalsAndTurnsBackslashes) {
  EXPECT_EQ(SingleInstanceGuard::mutexName(L"C:\\Program Files\\X\\QRNVolumeWatcher.exe"),
            XpString(L"c:/program files/x/qrnvolumewatcher.exe"));
  // Letters outside A..Z keep their case.
  EXPECT_EQ(SingleInstanceGuard::mutexName(L"D:\\\x00C4pfel\\W.EXE"), XpString(L"d:/\x00C4pfel/w.exe"));
  EXPECT_EQ(SingleInstanceGuard::mutexName(L""), XpString(L""));

  SingleInstanceGuard first(L"C:\\Guard Test\\One.exe", false);
  SingleInstanceGuard second(L"c:/guard test/one.exe", false);
  SingleInstanceGuard other(L"C:\\Guard Test\\Two.exe", false);
  EXPECT_TRUE(first.isFirst());
  EXPECT_FALSE(second.isFirst());
  EXPECT_TRUE(other.isFirst());
}

TEST(VolumeWatcherApp, LocalisationLibraryFollowsTheProgramName) {
  EXPECT_EQ(VolumeWatcherApp::locLibraryName(L"C:\\A\\QRNVolumeWatcher.exe"),
            XpString(L"QRNVolumeWatcherLOC.DLL"));
  EXPECT_EQ(VolumeWatcherApp::locLibraryName(L"C:\\A.B\\prog"), XpString(L"progLOC.DLL"));
  ASSERT_NE(getApp().locLibrary(), nullptr);
  EXPECT_EQ(getApp().loadString(IDS_APP_NAME), XpString(L"Vantolo Card Watcher"));
  EXPECT_TRUE(getApp().loadString(9999).IsEmpty());
  wchar_t small[8];
  EXPECT_TRUE(getApp().loadString(IDS_APP_NAME, small, 8));
  EXPECT_STREQ(small, L"Vantolo");
  EXPECT_FALSE(getApp().loadString(IDS_APP_NAME, nullptr, 8));
}

TEST(WatcherDialogs, AboutTextFillsOnePlaceholderAndNothingElse) {
  EXPECT_EQ(FormatAboutText(L"Version %s", L"2.1"), XpString(L"Version 2.1"));
  EXPECT_EQ(FormatAboutText(L"%s and %s", L"1"), XpString(L"1 and %s"));
  EXPECT_EQ(FormatAboutText(L"100%% %d %n %s", L"v"), XpString(L"100% %d %n v"));
  EXPECT_EQ(FormatAboutText(L"trailing %", L"v"), XpString(L"trailing %"));
  EXPECT_EQ(FormatAboutText(L"Version %s", L""), XpString(L"Version "));
}

class LaunchLists : public ::testing::Test {
 protected:
  const std::wstring list = std::wstring(kVantolo) + L"Test\\Launch";
  void TearDown() override {
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kVantolo) + L"Test").c_str());
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, kVantolo);
  }
};

TEST_F(LaunchLists, FirstCompleteMatchingEntryWins) {
  ASSERT_TRUE(SetDword(list + L"\\a_only_vid", L"VID", 0x1234));
  ASSERT_TRUE(SetDword(list + L"\\b_other", L"VID", 0x1234));
  ASSERT_TRUE(SetDword(list + L"\\b_other", L"PID", 0x0011));
  ASSERT_TRUE(SetDword(list + L"\\c_match", L"VID", 0x1234));
  ASSERT_TRUE(SetDword(list + L"\\c_match", L"PID", 0x0010));
  ASSERT_TRUE(SetDword(list + L"\\d_match_too", L"VID", 0x1234));
  ASSERT_TRUE(SetDword(list + L"\\d_match_too", L"PID", 0x0010));
  ASSERT_TRUE(SetString(list + L"\\e_text", L"VID", L"4660"));
  ASSERT_TRUE(SetDword(list + L"\\e_text", L"PID", 0x0020));
  DeviceListEntry entry;
  std::wstring path = list;
  for (auto& c : path)
    if (c == L'\\') c = L'/';
  EXPECT_TRUE(FindDeviceListEntry(XpString(path.c_str()), 0x1234, 0x0010, &entry));
  EXPECT_EQ(entry.path, XpString((path + L"/c_match").c_str()));
  EXPECT_FALSE(FindDeviceListEntry(XpString(path.c_str()), 0x1234, 0x0099, &entry));
  // A value of another type reads as 0.
  EXPECT_TRUE(FindDeviceListEntry(XpString(path.c_str()), 0, 0x0020, nullptr));
  EXPECT_FALSE(FindDeviceListEntry(L"Software/Zelm Corporation/Missing", 1, 1, nullptr));
}

TEST_F(LaunchLists, EntryGivesProgramAndDriveArguments) {
  EXPECT_EQ(FormatLaunchArguments(L'F', L"-x"), XpString(L"/Drive \"F\" -x"));
  EXPECT_EQ(FormatLaunchArguments(L'E', L""), XpString(L"/Drive \"E\" "));
  EXPECT_TRUE(WatcherVersionedKeyPath().IsEmpty());
  ASSERT_TRUE(SetString(std::wstring(kVantolo) + L"\\VolumeWatcher", L"CurrentVersion", L"3.0"));
  EXPECT_EQ(WatcherVersionedKeyPath(), XpString(L"Software/Zelm Corporation/Vantolo/VolumeWatcher/3.0"));

  ASSERT_TRUE(SetString(list + L"\\direct", L"AppPath", L"C:\\Tools\\view.exe"));
  ASSERT_TRUE(SetString(list + L"\\direct", L"CommandLine", L"-x"));
  ASSERT_TRUE(SetString(list + L"\\suite", L"AppInstance", L"Viewer"));
  ASSERT_TRUE(SetString(std::wstring(kVantolo) + L"\\Viewer", L"CurrentVersion", L"2"));
  ASSERT_TRUE(SetString(std::wstring(kVantolo) + L"\\Viewer\\2", L"InstalledLocation", L"C:\\Suite"));
  ASSERT_TRUE(SetString(std::wstring(kVantolo) + L"\\Viewer\\2", L"ExeName", L"viewer.exe"));
  // Entries as the machine's list gives them, rules or not.
  auto entry = [](const wchar_t* list, const wchar_t* name) {
    DeviceListEntry e;
    e.root = XpRegistry::kRootLocalMachine;
    e.name = name;
    e.path = XpString(list) + L"/" + name;
    return e;
  };
  XpString program, commandLine;
  ReadLaunchCommand(entry(L"Software/Zelm CorporationTest", L"none"), &program, &commandLine);
  EXPECT_TRUE(program.IsEmpty());
  ReadLaunchCommand(entry(L"Software/Zelm Corporation/VantoloTest/Launch", L"direct"), &program,
                    &commandLine);
  EXPECT_EQ(program, XpString(L"C:\\Tools\\view.exe"));
  EXPECT_EQ(FormatLaunchArguments(L'F', commandLine), XpString(L"/Drive \"F\" -x"));
  ReadLaunchCommand(entry(L"Software/Zelm Corporation/VantoloTest/Launch", L"suite"), &program, &commandLine);
  EXPECT_EQ(program, XpString(L"C:\\Suite\\viewer.exe"));
  EXPECT_EQ(FormatLaunchArguments(L'G', commandLine), XpString(L"/Drive \"G\" "));
  EXPECT_EQ(ResolveAppInstance(L"Missing"), XpString(L""));
}

// Exposes the menu preparation and counts nothing else.
class TestTrayIcon : public WatcherTrayIcon {
 public:
  TestTrayIcon() : WatcherTrayIcon(GetModuleHandleW(NULL), getApp().locLibrary()) {}
  using WatcherTrayIcon::prepareMenu;
};

HWND g_dialog = NULL;
BOOL CALLBACK FindOwnDialog(HWND w, LPARAM) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  wchar_t name[16] = {};
  GetClassNameW(w, name, 16);
  if (pid == GetCurrentProcessId() && wcscmp(name, L"#32770") == 0 && IsWindowVisible(w)) {
    g_dialog = w;
    return FALSE;
  }
  return TRUE;
}

// Runs on a helper thread: waits for this process's dialog, records the text
// of one control and presses a button.
struct DialogDriver {
  DialogDriver(int c, WPARAM b, bool click) : control(c), button(b), clickCheck(click) {}
  int control;
  WPARAM button;
  bool clickCheck;
  std::wstring text;
  UINT checked = 2;
  static DWORD WINAPI Run(void* p) {
    DialogDriver* d = static_cast<DialogDriver*>(p);
    for (int i = 0; i < 100 && !g_dialog; ++i) {
      EnumWindows(FindOwnDialog, 0);
      if (!g_dialog) Sleep(100);
    }
    if (!g_dialog) return 1;
    wchar_t buffer[600] = {};
    GetDlgItemTextW(g_dialog, d->control, buffer, 600);
    d->text = buffer;
    d->checked = static_cast<UINT>(SendDlgItemMessageW(g_dialog, IDC_AUTOSTART_CHECK, BM_GETCHECK, 0, 0));
    if (d->clickCheck) SendDlgItemMessageW(g_dialog, IDC_AUTOSTART_CHECK, BM_CLICK, 0, 0);
    PostMessageW(g_dialog, WM_COMMAND, d->button, 0);
    return 0;
  }
  void Drive(WatcherTrayIcon& icon, UINT command) {
    g_dialog = NULL;
    HANDLE t = CreateThread(NULL, 0, &DialogDriver::Run, this, 0, NULL);
    icon.onCommand(command);
    WaitForSingleObject(t, 20000);
    CloseHandle(t);
  }
};

class WatcherTray : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The module registry is made once per process: register before first use.
    std::wstring importer = std::wstring(kVantolo) + L"\\Importer\\Cards";
    SetString(importer, L"CurrentVersion", L"1");
    SetString(importer + L"\\1", L"InstalledLocation", L"C:\\windows\\system32");
    SetString(importer + L"\\1", L"ExeName", L"notepad.exe");
    SetDword(importer + L"\\1", L"HasSettingsDialog", 1);
    SetString(std::wstring(kVantolo) + L"\\VolumeWatcher", L"CurrentVersion", L"1.0");
    wchar_t here[MAX_PATH];
    GetModuleFileNameW(NULL, here, MAX_PATH);
    *wcsrchr(here, L'\\') = 0;
    SetString(std::wstring(kVantolo) + L"\\VolumeWatcher\\1.0", L"InstalledLocation", here);
    FILE* f = _wfopen((std::wstring(here) + L"\\version.txt").c_str(), L"wb");
    if (f) {
      fputs("4.2.1 (test)\r\n", f);
      fclose(f);
    }
    ASSERT_FALSE(getApp().moduleManager().IsNull());
  }
  static void TearDownTestSuite() { SHDeleteKeyW(HKEY_LOCAL_MACHINE, kVantolo); }
};

TEST_F(WatcherTray, SecondStartMessageShowsTheBalloonEvenAfterAQuietStart) {
  TestTrayIcon icon;
  ASSERT_NE(icon.window(), nullptr);
  EXPECT_EQ(icon.defaultCommand(), static_cast<UINT>(ID_TRAY_AUTOSTART));
  icon.show(nullptr, nullptr, 0, 0);
  EXPECT_EQ(icon.iconState(), SfAbstractTrayIcon::kStateAdded);
  EXPECT_EQ(SendMessageW(icon.window(), WM_APP + 1, 0, 0), 0);
  EXPECT_EQ(icon.iconState(), SfAbstractTrayIcon::kStateModified);
  EXPECT_EQ(icon.iconData().dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
  EXPECT_EQ(icon.iconData().uTimeout, 15000u);
}

TEST_F(WatcherTray, SessionDisconnectStopsAndConnectStartsWatching) {
  TestTrayIcon icon;
  VolumeWatcherApp& app = getApp();
  SendMessageW(icon.window(), 0x02B1, 1, 0);  // console connect
  EXPECT_NE(app.XpIEEE1394WatchDog::GetNotifyWindow(), nullptr);
  SendMessageW(icon.window(), 0x02B1, 4, 0);  // remote disconnect
  EXPECT_EQ(app.XpIEEE1394WatchDog::GetNotifyWindow(), nullptr);
  SendMessageW(icon.window(), 0x02B1, 3, 0);  // remote connect
  EXPECT_NE(app.XpIEEE1394WatchDog::GetNotifyWindow(), nullptr);
  EXPECT_EQ(app.stop(), 0);
  EXPECT_NE(app.stop(), 0);  // nothing left to stop
}

TEST_F(WatcherTray, MenuGetsOneItemPerModuleWithSettingsAfterASeparator) {
  TestTrayIcon icon;
  HMENU menu = LoadMenuW(getApp().locLibrary(), MAKEINTRESOURCEW(IDR_TRAY_MENU));
  ASSERT_NE(menu, nullptr);
  HMENU popup = GetSubMenu(menu, 0);
  HMENU settings = GetSubMenu(popup, 0);
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(GetMenuItemID(settings, 0), static_cast<UINT>(ID_TRAY_DESTINATION));
  int before = GetMenuItemCount(settings);
  icon.prepareMenu(popup);
  ASSERT_EQ(icon.settingsModules().size(), 1u);
  ASSERT_EQ(GetMenuItemCount(settings), before + 2);
  EXPECT_EQ(GetMenuState(settings, before, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
  EXPECT_EQ(GetMenuItemID(settings, before + 1), static_cast<UINT>(ID_TRAY_MODULE_FIRST));
  wchar_t text[64] = {};
  GetMenuStringW(settings, before + 1, text, 64, MF_BYPOSITION);
  EXPECT_STREQ(text, L"Cards");  // no resource library: the subkey name
  // Every command id of the library's menu is one the icon knows.
  EXPECT_EQ(GetMenuState(popup, ID_TRAY_AUTOSTART, MF_BYCOMMAND) & MF_DEFAULT, 0u);
  EXPECT_NE(GetMenuState(popup, ID_TRAY_ABOUT, MF_BYCOMMAND), static_cast<UINT>(-1));
  EXPECT_NE(GetMenuState(popup, ID_TRAY_EXIT, MF_BYCOMMAND), static_cast<UINT>(-1));
  DestroyMenu(menu);
  // Unknown ids and ids past the modules do nothing.
  EXPECT_EQ(icon.onCommand(0), 0);
  EXPECT_EQ(icon.onCommand(ID_TRAY_MODULE_FIRST + 1), 0);
}

TEST_F(WatcherTray, AboutBoxShowsTheInstalledVersion) {
  TestTrayIcon icon;
  DialogDriver driver(IDC_ABOUT_VERSION, IDOK, false);
  driver.Drive(icon, ID_TRAY_ABOUT);
  EXPECT_EQ(driver.text, L"Version 4.2.1 (test)");
}

TEST_F(WatcherTray, AutostartDialogPresetsTheBoxAndAppliesTheChoice) {
  TestTrayIcon icon;
  VolumeWatcherApp& app = getApp();
  (void)app.unregisterAutostart();  // the shortcut may not exist yet
  ASSERT_FALSE(app.autostartShortcutPath().IsEmpty());
  ASSERT_FALSE(app.isRegistered());
  DialogDriver on(IDC_AUTOSTART_CHECK, IDOK, true);
  on.Drive(icon, ID_TRAY_AUTOSTART);
  EXPECT_EQ(on.checked, static_cast<UINT>(BST_UNCHECKED));
  EXPECT_TRUE(app.isRegistered());
  DialogDriver cancel(IDC_AUTOSTART_CHECK, IDCANCEL, true);
  cancel.Drive(icon, ID_TRAY_AUTOSTART);
  EXPECT_EQ(cancel.checked, static_cast<UINT>(BST_CHECKED));
  EXPECT_TRUE(app.isRegistered());
  DialogDriver off(IDC_AUTOSTART_CHECK, IDOK, true);
  off.Drive(icon, ID_TRAY_AUTOSTART);
  EXPECT_FALSE(app.isRegistered());
}

bool Exists(const XpString& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The package's start of every user's logon counts as this user's until the
// user switches it off in the dialog; that leaves the user out without
// touching the machine's value, and switching on again only withdraws that.
TEST_F(WatcherTray, MachineWideStartIsSwitchedOffPerUser) {
  TestTrayIcon icon;
  VolumeWatcherApp& app = getApp();
  (void)app.unregisterAutostart();
  const std::wstring run = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  const std::wstring exe = VolumeWatcherApp::executablePath().c_str();
  ASSERT_TRUE(
      SetString(run, VolumeWatcherApp::kMachineAutostartValue, L"\"" + exe + L"\" /noballoononstart"));
  EXPECT_TRUE(app.isRegistered());
  EXPECT_FALSE(app.autostartSwitchedOff());

  DialogDriver off(IDC_AUTOSTART_CHECK, IDOK, true);
  off.Drive(icon, ID_TRAY_AUTOSTART);
  EXPECT_EQ(off.checked, static_cast<UINT>(BST_CHECKED));
  EXPECT_FALSE(app.isRegistered());
  EXPECT_TRUE(app.autostartSwitchedOff()) << "a logon start of this user must end at once";
  EXPECT_TRUE(app.machineAutostartPresent()) << "the machine's value is every user's";
  // The user's own shortcut ("regist") starts the watcher regardless.
  app.registerAutostart();
  EXPECT_TRUE(app.isRegistered());
  EXPECT_FALSE(app.autostartSwitchedOff());
  ASSERT_EQ(app.unregisterAutostart(), XP_OK);

  DialogDriver on(IDC_AUTOSTART_CHECK, IDOK, true);
  on.Drive(icon, ID_TRAY_AUTOSTART);
  EXPECT_EQ(on.checked, static_cast<UINT>(BST_UNCHECKED));
  EXPECT_TRUE(app.isRegistered());
  EXPECT_FALSE(app.machineAutostartOptedOut());
  EXPECT_FALSE(Exists(app.autostartShortcutPath())) << "the machine-wide start needs no shortcut";

  // The start of another copy of the program is not this one's.
  ASSERT_TRUE(SetString(run, VolumeWatcherApp::kMachineAutostartValue,
                        L"\"C:\\Other\\QRNVolumeWatcher.exe\" /noballoononstart"));
  EXPECT_FALSE(app.machineAutostartPresent());
  EXPECT_FALSE(app.isRegistered());
  SHDeleteValueW(HKEY_LOCAL_MACHINE, run.c_str(), VolumeWatcherApp::kMachineAutostartValue);
}

// Profiles come from the system's profile list, wherever their folders lie,
// not from the folder that holds the caller's own profile.
TEST_F(WatcherTray, UnregistAllFindsProfilesInTheProfileList) {
  VolumeWatcherApp& app = getApp();
  XpString own = app.autostartShortcutPath();
  XpString ownProfile = GetSpecialFolderPath(XP_FOLDER_PROFILE, false);
  ASSERT_FALSE(own.IsEmpty());
  ASSERT_EQ(own.Left(ownProfile.GetLength()).CompareNoCase(ownProfile.c_str()), 0);
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring elsewhere = std::wstring(temp) + L"vw-profile-list\\pupil";
  std::wstring link = elsewhere + own.Right(own.GetLength() - ownProfile.GetLength()).c_str();
  SHCreateDirectoryExW(NULL, link.substr(0, link.rfind(L'\\')).c_str(), NULL);
  app.registerAutostart();
  ASSERT_TRUE(CopyFileW(own.c_str(), link.c_str(), FALSE));
  const std::wstring list = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
  ASSERT_TRUE(SetString(list + L"\\S-1-5-21-1-2-3-1001", L"ProfileImagePath", elsewhere));

  EXPECT_EQ(app.unregisterAutostartAll(), 0);
  EXPECT_FALSE(Exists(own));
  EXPECT_FALSE(Exists(link.c_str())) << "the listed profile's shortcut stays";
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, list.c_str());
  xptest::RemoveTree(std::wstring(temp) + L"vw-profile-list");
}

}  // namespace

namespace {

// The registry build held up inside a library load, until released.
HANDLE g_buildEntered = NULL;
HANDLE g_buildRelease = NULL;
void* g_realLoadLibraryEx = nullptr;

HMODULE WINAPI HeldLoadLibraryEx(LPCWSTR name, HANDLE file, DWORD flags) {
  SetEvent(g_buildEntered);
  WaitForSingleObject(g_buildRelease, 20000);
  return reinterpret_cast<HMODULE(WINAPI*)(LPCWSTR, HANDLE, DWORD)>(g_realLoadLibraryEx)(name, file, flags);
}

DWORD WINAPI BuildRegistry(void* app) {
  return static_cast<VolumeWatcherApp*>(app)->moduleManager().IsNull() ? 1 : 0;
}

DWORD WINAPI StopApp(void* app) {
  (void)static_cast<VolumeWatcherApp*>(app)->stop();
  return 0;
}

}  // namespace

TEST(ModuleRegistryBuild, StopAndTheUserInterfaceDoNotWaitForIt) {
  std::wstring importer = std::wstring(kVantolo) + L"\\Importer\\Slow";
  SetString(importer, L"CurrentVersion", L"1");
  SetString(importer + L"\\1", L"InstalledLocation", L"C:\\windows");
  SetString(importer + L"\\1", L"ExeName", L"slow.exe");
  g_buildEntered = CreateEventW(NULL, TRUE, FALSE, NULL);
  g_buildRelease = CreateEventW(NULL, TRUE, FALSE, NULL);
  g_realLoadLibraryEx = xptest::PatchImport("LoadLibraryExW", reinterpret_cast<void*>(&HeldLoadLibraryEx));
  ASSERT_NE(nullptr, g_realLoadLibraryEx);
  {
    VolumeWatcherApp app;
    HANDLE builder = CreateThread(NULL, 0, &BuildRegistry, &app, 0, NULL);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g_buildEntered, 20000)) << "the build did not begin";
    HANDLE stopper = CreateThread(NULL, 0, &StopApp, &app, 0, NULL);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(stopper, 3000)) << "stop() waited for the registry build";
    EXPECT_TRUE(app.readyModuleManager().IsNull()) << "the user interface got a registry still being built";
    SetEvent(g_buildRelease);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(builder, 20000));
    WaitForSingleObject(stopper, 20000);
    DWORD built = 1;
    GetExitCodeThread(builder, &built);
    EXPECT_EQ(0u, built);
    EXPECT_FALSE(app.readyModuleManager().IsNull());
    CloseHandle(stopper);
    CloseHandle(builder);
  }
  xptest::PatchImport("LoadLibraryExW", g_realLoadLibraryEx);
  CloseHandle(g_buildEntered);
  CloseHandle(g_buildRelease);
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, importer.c_str());
}
