// End-to-end tests of the real watcher program: it runs on a Wine desktop with
// a notification area, reads a real registry configuration, scores and starts
// real importer module programs, and sees drives that the drive tool inserts.
// Its verbs, single instance, exit and exitall, a card insertion, a paused
// session and the Launch and Ignore lists under a Windows 98 setting. Every
// wait is bounded; a watcher left running is terminated by its owner, a drive
// left in is taken out by its owner. The program refuses to run outside the
// private Wine prefix of its build folder, since it rewrites the suite's
// machine-wide configuration.
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/e2e/E2eSupport.h"
#include "tests/device/DeviceRegistryFixture.h"

namespace {

using namespace E2e;
using xptest::DriveTool;
using xptest::InsertedDrive;

// Folders of one run, below the test program's own folder.
struct Layout : SuiteFolders {
  std::wstring other, third, importerA, importerB, card;
  std::wstring otherExe() const { return other + L"\\" + kExeName; }
  std::wstring thirdExe() const { return third + L"\\" + kExeName; }
  std::wstring logA() const { return importerA + L"\\RefImporter.log"; }
  std::wstring logB() const { return importerB + L"\\RefImporter.log"; }
};

// Nothing left by a demo or an earlier run: another registered importer would
// take part in the scoring. This is the private prefix (see the environment
// linked into this program), never a real installation.
void ClearConfiguration() {
  DeleteTree(HKEY_LOCAL_MACHINE, kVantolo);
  DeleteTree(HKEY_CURRENT_USER, kAppDefaults);
}

std::wstring LoadLocString(const std::wstring& loc, UINT id) {
  HMODULE m = LoadLibraryExW(loc.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (m == nullptr) return std::wstring();
  wchar_t text[1024] = {};
  int n = LoadStringW(m, id, text, 1024);
  FreeLibrary(m);
  return std::wstring(text, n > 0 ? static_cast<size_t>(n) : 0);
}

class WatcherE2e : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ready_ = layout_.LayOut(L"e2e_work");
    if (!ready_) return;
    const std::wstring dir = ProgramDir();
    Layout& l = layout_;
    l.other = l.root + L"\\other";
    l.importerA = l.root + L"\\importer-a";
    l.importerB = l.root + L"\\importer-b";
    l.third = l.root + L"\\third";
    l.card = l.root + L"\\card";
    for (const std::wstring* f : {&l.other, &l.third}) {
      InstallWatcher(dir, *f);
    }
    for (const std::wstring* f : {&l.importerA, &l.importerB}) {
      InstallRefImporter(dir, *f);
    }
    // A scores every volume 5, B scores a card with a DCIM folder 100.
    WriteText(l.importerA + L"\\RefImporter.score", "5");
    l.InstallProbe();
    CreateDirectoryW(l.card.c_str(), nullptr);
    CreateDirectoryW((l.card + L"\\DCIM").c_str(), nullptr);
    CreateDirectoryW((l.card + L"\\DCIM\\100DEMO").c_str(), nullptr);
    WriteText(l.card + L"\\DCIM\\100DEMO\\IMG_0001.JPG", "jpeg");
    WriteText(l.watcher + L"\\version.txt", "1.0 (end-to-end test)");

    ClearConfiguration();
    l.RegisterWatcher();
    RegisterImporter(L"E2eRefA", l.importerA, 1, 1);
    RegisterImporter(L"E2eRefB", l.importerB, 1, 1);
  }

  static void TearDownTestSuite() {
    if (!ready_) return;
    ClearConfiguration();
  }

  void SetUp() override {
    ASSERT_TRUE(ready_) << "QRNVolumeWatcher.exe and its library must be beside the test program";
    DeleteFileW(layout_.logA().c_str());
    DeleteFileW(layout_.logB().c_str());
    DeleteFileW(layout_.probeLog().c_str());
  }

  static DWORD Verb(const wchar_t* verb) { return E2e::Verb(layout_.exe(), verb); }

  static bool ready_;
  static Layout layout_;
};

bool WatcherE2e::ready_ = false;
Layout WatcherE2e::layout_;

TEST_F(WatcherE2e, SecondStartShowsTheBalloonAndExitClosesTheFirst) {
  Process first;
  ASSERT_TRUE(StartWatcher(&first, layout_.exe()));
  // The icon (and a balloon of the start, if any) is shown before the watchers start.
  ASSERT_TRUE(WaitForWatching(first, 20000));
  bool balloonBefore = BalloonVisible();

  Process second;
  ASSERT_TRUE(second.Start(Quoted(layout_.exe()), layout_.watcher));
  ASSERT_TRUE(second.Wait(30000)) << "a second start must end at once";
  EXPECT_EQ(0u, second.ExitCode());
  // Trailing text makes a verb unknown: one more second start.
  EXPECT_EQ(0u, Verb(L"/regist now"));
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(1u, WatcherWindows().size()) << "a second start creates no window";
  // Started without a balloon, the first instance shows one only when asked.
  EXPECT_FALSE(balloonBefore);
  EXPECT_TRUE(WaitUntil(5000, BalloonVisible)) << "no balloon after the second start";

  EXPECT_EQ(0u, Verb(L"/exit"));
  EXPECT_TRUE(first.Wait(15000)) << "exit did not close the running instance";
  EXPECT_EQ(0u, first.ExitCode());
  EXPECT_TRUE(WatcherWindows().empty());
  // Nothing left to ask.
  EXPECT_EQ(0u, Verb(L"/exit"));
}

TEST_F(WatcherE2e, ExitAllEndsInstancesStartedFromOtherFolders) {
  Process a, b;
  ASSERT_TRUE(StartWatcher(&a, layout_.exe()));
  // Another folder is another instance: its mutex name differs.
  ASSERT_TRUE(StartWatcher(&b, layout_.otherExe(), L"/nobaloononstart"));
  EXPECT_EQ(2u, WatcherWindows().size());

  // Asked from a third folder, where no instance runs.
  Process all;
  ASSERT_TRUE(all.Start(Quoted(layout_.thirdExe()) + L" -EXITALL", layout_.third));
  ASSERT_TRUE(all.Wait(40000));
  EXPECT_EQ(0u, all.ExitCode());
  EXPECT_TRUE(a.Wait(15000));
  EXPECT_TRUE(b.Wait(15000));
  EXPECT_TRUE(WaitUntil(5000, [] { return WatcherWindows().empty(); }));
}

// The autostart shortcut as the verbs see it, with the real shell link.
TEST_F(WatcherE2e, RegistVerbsUseTheStartupShortcut) {
  std::wstring name = LoadLocString(layout_.watcher + L"\\" + kLocName, 101);
  ASSERT_FALSE(name.empty());
  wchar_t startup[MAX_PATH] = {};
  ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_STARTUP | CSIDL_FLAG_CREATE, nullptr, 0, startup));
  std::wstring link = std::wstring(startup) + L"\\" + name + L".lnk";
  DeleteFileW(link.c_str());
  RemoveDirectoryW(link.c_str());

  EXPECT_EQ(0u, Verb(L"/isregisted"));
  EXPECT_EQ(0u, Verb(L"/REGIST"));
  ASSERT_TRUE(FileExists(link));
  EXPECT_EQ(1u, Verb(L"-isregisted"));

  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IShellLinkW* shell = nullptr;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&shell)));
  IPersistFile* file = nullptr;
  ASSERT_EQ(S_OK, shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)));
  EXPECT_EQ(S_OK, file->Load(link.c_str(), STGM_READ));
  wchar_t target[1040] = {}, args[1040] = {};
  shell->GetPath(target, 1040, nullptr, SLGP_RAWPATH);
  shell->GetArguments(args, 1040);
  EXPECT_EQ(0, _wcsicmp(layout_.exe().c_str(), target)) << target;
  EXPECT_STREQ(L"/noballoononstart", args);
  file->Release();
  shell->Release();
  CoUninitialize();

  EXPECT_EQ(0u, Verb(L"-regist")) << "an existing shortcut is overwritten";
  EXPECT_EQ(0u, Verb(L"/unregist"));
  EXPECT_FALSE(FileExists(link));
  EXPECT_EQ(0u, Verb(L"/isregisted"));
  // Nothing left to delete: the file layer's code for a missing file.
  EXPECT_EQ(0x8105u, Verb(L"/unregist"));

  ASSERT_TRUE(CreateDirectoryW(link.c_str(), nullptr));
  EXPECT_EQ(0u, Verb(L"/isregisted")) << "a directory of that name is no shortcut";
  RemoveDirectoryW(link.c_str());

  // Trailing text makes the verb unknown: a resident start, which is closed again.
  Process resident;
  ASSERT_TRUE(StartWatcher(&resident, layout_.exe(), L"/regist now"));
  EXPECT_FALSE(FileExists(link));
  ExitWatcher(&resident, layout_.exe());
  EXPECT_FALSE(resident.Running());
}

// A card with a DCIM folder: both importers are asked, the better one starts
// with the volume path, once, after the quiet second.
TEST_F(WatcherE2e, InsertedCardStartsTheBestScoringImporterOnce) {
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher, layout_.exe()));
  ASSERT_TRUE(WaitForWatching(watcher, 20000));
  InsertedDrive card;
  ASSERT_TRUE(card.Insert(L'W', layout_.card));
  DWORD inserted = GetTickCount();
  const std::vector<std::wstring> import = {L"W:\\"};
  DWORD startedAfter = 0;
  bool started = WaitUntil(30000, [&] {
    startedAfter = GetTickCount() - inserted;
    return CountRuns(ReadModuleLog(layout_.logB()), import) > 0;
  });
  EXPECT_TRUE(started) << "the importer was not started within 30 s";
  // A second start would come before a card put in afterwards is decided.
  EXPECT_TRUE(MarkerDecided(L'P', layout_.card, layout_.logB()));
  std::vector<ModuleRun> a = ReadModuleLog(layout_.logA()), b = ReadModuleLog(layout_.logB());
  EXPECT_EQ(1, CountRuns(b, import));
  EXPECT_EQ(0, CountRuns(a, import));
  EXPECT_GE(CountRuns(a, {L"/importscore", L"W:\\"}), 1);
  EXPECT_GE(CountRuns(b, {L"/importscore", L"W:\\"}), 1);
  for (const ModuleRun& run : b) {
    if (run.args != import) continue;
    // The program by its full path, the volume alone, no parent window.
    EXPECT_EQ(0u, run.commandLine.find(Quoted(layout_.importerB + L"\\RefImporter.exe")))
        << testing::PrintToString(run.commandLine);
    EXPECT_EQ(std::wstring::npos, run.commandLine.find(L"/parentwindow"));
  }
  if (started) {
    EXPECT_GE(startedAfter, 900u) << "started before the quiet period ended";
    EXPECT_LE(startedAfter, 15000u);
  }
  EXPECT_FALSE(FileExists(layout_.probeLog()));
  card.Remove();
  ExitWatcher(&watcher, layout_.exe());
}

// A second notice of the card in the slot decides nothing; another card in the
// same slot (another volume serial) is decided again; a network volume asks no
// module. "Nothing happened" is read once a marker card at another letter,
// put in after the notice, has been decided.
TEST_F(WatcherE2e, OneCardIsOneDecisionAndNetworkVolumesAskNoModule) {
  const std::wstring slot = layout_.root + L"\\slot", shared = layout_.root + L"\\shared";
  for (const std::wstring& f : {slot, shared}) {
    xptest::MakeDirs(f + L"\\DCIM\\100DEMO");
    WriteText(f + L"\\DCIM\\100DEMO\\IMG_0001.JPG", "jpeg");
    WriteText(f + L"\\.windows-label", "CARD");
  }
  WriteText(slot + L"\\.windows-serial", "1234abcd");
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher, layout_.exe()));
  ASSERT_TRUE(WaitForWatching(watcher, 20000));
  auto runsOf = [&](const wchar_t* root) { return CountRuns(ReadModuleLog(layout_.logB()), {root}); };
  InsertedDrive card, network;
  ASSERT_TRUE(card.Insert(L'R', slot));
  ASSERT_TRUE(WaitUntil(30000, [&] { return runsOf(L"R:\\") == 1; }));
  ASSERT_EQ(0u, DriveTool(L"arrive R"));
  ASSERT_TRUE(network.Insert(L'Q', shared, false));
  ASSERT_EQ(0u, DriveTool(L"netarrive Q"));
  ASSERT_TRUE(MarkerDecided(L'P', layout_.card, layout_.logB()));
  EXPECT_EQ(1, runsOf(L"R:\\")) << "a second notice of the same card was decided again";
  EXPECT_EQ(0, CountRuns(ReadModuleLog(layout_.logA()), {L"/importscore", L"Q:\\"}));
  EXPECT_EQ(0, CountRuns(ReadModuleLog(layout_.logB()), {L"/importscore", L"Q:\\"}));

  // The card is swapped while the letter stays, unheard: a new serial is a new card.
  WriteText(shared + L"\\.windows-serial", "5678ef01");
  ASSERT_EQ(0u, DriveTool(L"undefine R"));
  ASSERT_EQ(0u, DriveTool(L"define R " + Quoted(shared)));
  ASSERT_EQ(0u, DriveTool(L"arrive R"));
  EXPECT_TRUE(WaitUntil(30000, [&] { return runsOf(L"R:\\") == 2; })) << "another card was not decided";
  card.Remove();
  network.Remove();
  ExitWatcher(&watcher, layout_.exe());
}

// Wine never reports session changes, so the test sends them to the hidden
// window the way the system would: a disconnected session watches nothing, a
// connected one watches again. A card put in while disconnected would be
// decided before one put in after the reconnection.
TEST_F(WatcherE2e, DisconnectedSessionPausesWatching) {
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher, layout_.exe()));
  HWND window = WaitForWatcherWindow(watcher, 1000);
  ASSERT_NE(nullptr, window);
  ASSERT_TRUE(WaitForWatching(watcher, 20000));
  DWORD_PTR result = 0;
  ASSERT_NE(0, SendMessageTimeoutW(window, kSessionChange, 2 /* console disconnect */, 0, SMTO_ABORTIFHUNG,
                                   15000, &result));
  EXPECT_TRUE(WaitForWatching(watcher, 15000, false)) << "the watchers still run while disconnected";
  InsertedDrive paused;
  ASSERT_TRUE(paused.Insert(L'W', layout_.card));

  ASSERT_NE(0, SendMessageTimeoutW(window, kSessionChange, 1 /* console connect */, 0, SMTO_ABORTIFHUNG,
                                   15000, &result));
  ASSERT_TRUE(WaitForWatching(watcher, 15000)) << "the watchers did not start again";
  InsertedDrive card;
  ASSERT_TRUE(card.Insert(L'S', layout_.card));
  EXPECT_TRUE(WaitUntil(30000, [&] { return CountRuns(ReadModuleLog(layout_.logB()), {L"S:\\"}) == 1; }))
      << "not watching again after the session was connected";
  EXPECT_EQ(0, CountRuns(ReadModuleLog(layout_.logB()), {L"W:\\"})) << "watching while disconnected";
  EXPECT_EQ(0, CountRuns(ReadModuleLog(layout_.logB()), {L"/importscore", L"W:\\"}));
  card.Remove();
  paused.Remove();
  EXPECT_TRUE(watcher.Running());
  ExitWatcher(&watcher, layout_.exe());
}

// Under a Windows 98 version setting the watcher polls the drives and finds the
// device behind a letter in the registry trees of that system.
class Win98Devices : public WatcherE2e {
 protected:
  void SetUp() override {
    WatcherE2e::SetUp();
    if (HasFatalFailure()) return;
    using namespace DeviceRegistryFixture;
    ASSERT_TRUE(AddInstance({L"E2E_LAUNCH", L"USBSTOR&VID_1234&PID_0010&0001", L"V", L"Maker", L"Reader"}));
    ASSERT_TRUE(AddInstance({L"E2E_IGNORE", L"USBSTOR&VID_1234&PID_0020&0001", L"U", L"Maker", L"Stick"}));
    ASSERT_TRUE(AddInstance({L"E2E_BOTH", L"USBSTOR&VID_1234&PID_0030&0001", L"T", L"Maker", L"Camera"}));
    ASSERT_TRUE(AddPresent(L"E2e01", L"USBSTOR\\VID_1234&PID_0010\\0001"));
    ASSERT_TRUE(AddPresent(L"E2e02", L"USBSTOR\\VID_1234&PID_0020\\0001"));
    ASSERT_TRUE(AddPresent(L"E2e03", L"USBSTOR\\VID_1234&PID_0030\\0001"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kAppDefaults, L"Version", L"win98"));
  }
  void TearDown() override {
    using namespace DeviceRegistryFixture;
    for (const wchar_t* d : {L"E2E_LAUNCH", L"E2E_IGNORE", L"E2E_BOTH"}) RemoveDevice(d);
    for (const wchar_t* n : {L"E2e01", L"E2e02", L"E2e03"}) RemovePresent(n);
    DeleteTree(HKEY_CURRENT_USER, kAppDefaults);
    DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kVersioned) + L"\\Launch");
    DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kVersioned) + L"\\Ignore");
  }
};

TEST_F(Win98Devices, LaunchListStartsTheConfiguredApplication) {
  AddDeviceEntry(L"Launch", L"Viewer", 0x1234, 0x0010, layout_.probeExe(), L"-x");
  AddDeviceEntry(L"Launch", L"OnlyVendor", 0x1234, 0xFFFF, std::wstring(), nullptr);
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher, layout_.exe()));
  InsertedDrive card;
  ASSERT_TRUE(card.Insert(L'V', layout_.card));
  std::wstring expected = Quoted(layout_.probeExe()) + L" /Drive \"V\" -x";
  // Polling rounds, then the quiet second.
  EXPECT_TRUE(WaitUntil(30000, [&] { return layout_.ProbeSaw(expected); }))
      << "expected " << testing::PrintToString(expected) << ", log:\n"
      << testing::PrintToString(ReadUtf8(layout_.probeLog()));
  EXPECT_TRUE(MarkerDecided(L'M', layout_.card, layout_.logB()));
  EXPECT_EQ(1u, ReadModuleLog(layout_.probeLog()).size());
  EXPECT_FALSE(Mentions(ReadModuleLog(layout_.logB()), L"V:\\")) << "a launched device goes to no importer";
  card.Remove();
  ExitWatcher(&watcher, layout_.exe());
}

TEST_F(Win98Devices, IgnoreListStartsNothingAndLaunchWinsOverIgnore) {
  AddDeviceEntry(L"Ignore", L"Stick", 0x1234, 0x0020, std::wstring(), nullptr);
  AddDeviceEntry(L"Ignore", L"Camera", 0x1234, 0x0030, std::wstring(), nullptr);
  AddDeviceEntry(L"Launch", L"Camera", 0x1234, 0x0030, layout_.probeExe(), L"-both");
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher, layout_.exe()));
  InsertedDrive ignored, both;
  ASSERT_TRUE(ignored.Insert(L'U', layout_.card));
  ASSERT_TRUE(both.Insert(L'T', layout_.card));
  std::wstring launched = Quoted(layout_.probeExe()) + L" /Drive \"T\" -both";
  EXPECT_TRUE(WaitUntil(30000, [&] { return layout_.ProbeSaw(launched); }))
      << "the device in both lists was not launched";
  // The polling round that decides a card put in afterwards has seen the ignored drive.
  EXPECT_TRUE(MarkerDecided(L'M', layout_.card, layout_.logB()));
  std::vector<ModuleRun> probe = ReadModuleLog(layout_.probeLog());
  EXPECT_EQ(1u, probe.size());
  EXPECT_FALSE(Mentions(probe, L"\"U\""));
  EXPECT_FALSE(Mentions(ReadModuleLog(layout_.logA()), L"U:\\"))
      << "an ignored device is offered to no importer";
  EXPECT_FALSE(Mentions(ReadModuleLog(layout_.logB()), L"U:\\"));
  ignored.Remove();
  both.Remove();
  ExitWatcher(&watcher, layout_.exe());
}

}  // namespace
