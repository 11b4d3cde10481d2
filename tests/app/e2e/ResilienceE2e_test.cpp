// End-to-end tests of the real watcher against modules that hang or crash,
// exits that meet a decision under way or an instance that does not answer,
// an exit question whose asker was killed, and SHIFT held while a card
// arrives. Every wait is bounded; a watcher left running is terminated.
#include <windows.h>

#include <dbt.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "tests/app/e2e/E2eSupport.h"

namespace {

using namespace E2e;

const wchar_t kAccessorKey[] = L"Software\\Zelm Corporation\\Vantolo\\Accessor\\HDD1";
// The drive these tests insert.
const wchar_t kLetter[] = L"R";
const wchar_t kRoot[] = L"R:\\";

// One copy of the reference importer under its own program name, so that its
// processes can be told apart from the others'.
struct Module {
  const wchar_t* subkey;
  std::wstring folder, exeName;
  std::wstring exe() const { return folder + L"\\" + exeName; }
  std::wstring side(const wchar_t* suffix) const {
    return folder + L"\\" + exeName.substr(0, exeName.size() - 4) + suffix;
  }
  std::wstring log() const { return side(L".log"); }
};

// Holds SHIFT down, as the keyboard does, until released or destroyed.
class ShiftKey {
 public:
  ShiftKey() = default;
  ShiftKey(const ShiftKey&) = delete;
  ShiftKey& operator=(const ShiftKey&) = delete;
  ~ShiftKey() { Release(); }
  void Press() {
    Send(0);
    down_ = true;
  }
  void Release() {
    if (!down_) return;
    Send(KEYEVENTF_KEYUP);
    down_ = false;
  }

 private:
  static void Send(DWORD flags) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = VK_SHIFT;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(VK_SHIFT, 0));
    input.ki.dwFlags = flags;
    SendInput(1, &input, sizeof(input));
  }
  bool down_ = false;
};

// A resumed thread on every way out, so that the process can be ended.
class SuspendedThread {
 public:
  explicit SuspendedThread(DWORD threadId) : handle_(OpenThread(THREAD_SUSPEND_RESUME, FALSE, threadId)) {
    suspended_ = handle_ != nullptr && SuspendThread(handle_) != static_cast<DWORD>(-1);
  }
  SuspendedThread(const SuspendedThread&) = delete;
  SuspendedThread& operator=(const SuspendedThread&) = delete;
  ~SuspendedThread() {
    if (suspended_) ResumeThread(handle_);
    if (handle_) CloseHandle(handle_);
  }
  bool suspended() const { return suspended_; }

 private:
  HANDLE handle_;
  bool suspended_ = false;
};

class ResilienceE2e : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ready_ = folders_.LayOut(L"e2e_resilience");
    if (!ready_) return;
    const std::wstring& root = folders_.root;
    card_ = root + L"\\card";
    CreateDirectoryW(card_.c_str(), nullptr);
    CreateDirectoryW((card_ + L"\\DCIM").c_str(), nullptr);
    // Registered in this order (the registry lists subkeys by name).
    hang_ = {L"E2eR1Hang", root + L"\\hang", L"HangImporter.exe"};
    crash_ = {L"E2eR2Crash", root + L"\\crash", L"CrashImporter.exe"};
    good_ = {L"E2eR3Good", root + L"\\good", L"GoodImporter.exe"};
    for (Module* m : {&hang_, &crash_, &good_})
      CopyInto(ProgramDir() + L"RefImporter.exe", m->folder, m->exeName.c_str());
    // The hanging module never answers on its own; the crashing one dies of
    // an access violation; the good one claims everything with 100.
    WriteText(hang_.side(L".sleep"), "600000");
    WriteText(hang_.side(L".score"), "50");
    WriteText(crash_.side(L".crash"), "");
    WriteText(good_.side(L".score"), "100");
    ClearConfiguration();
  }

  static void TearDownTestSuite() {
    if (ready_) ClearConfiguration();
  }

  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "QRNVolumeWatcher.exe is not built yet";
    ClearConfiguration();
    SetString(HKEY_LOCAL_MACHINE, kWatcherKey, L"CurrentVersion", L"1.0");
    for (Module* m : {&hang_, &crash_, &good_}) DeleteFileW(m->log().c_str());
  }

  void TearDown() override {
    if (!ready_) return;
    if (GetDriveTypeW(kRoot) != DRIVE_NO_ROOT_DIR) DriveTool(std::wstring(L"remove ") + kLetter);
    ClearConfiguration();
  }

  static void ClearConfiguration() {
    DeleteTree(HKEY_LOCAL_MACHINE, kWatcherKey);
    DeleteTree(HKEY_CURRENT_USER, kWatcherKey);
    DeleteTree(HKEY_LOCAL_MACHINE, kAccessorKey);
    for (const Module* m : {&hang_, &crash_, &good_})
      DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kImporterKey) + L"\\" + m->subkey);
  }

  // Registers the modules for volumes and IEEE 1394 devices, with a bound on
  // a scoring run (0: the product's), and starts the watcher; it watches once
  // this returns.
  static ::testing::AssertionResult StartWatcher(Process* p,
                                                 std::initializer_list<const Module*> modules = {},
                                                 DWORD scoreTimeout = 0) {
    for (const Module* m : modules) RegisterImporter(m->subkey, m->folder, 3, 0, m->exeName);
    if (scoreTimeout) SetDword(HKEY_LOCAL_MACHINE, kVersioned, L"ImportScoreTimeout", scoreTimeout);
    ::testing::AssertionResult started = E2e::StartWatcher(p, folders_.exe());
    if (!started) return started;
    // The watcher threads start after the icon is shown.
    if (!WaitForWatching(*p, 20000)) return ::testing::AssertionFailure() << "not watching within 20 s";
    return ::testing::AssertionSuccess();
  }

  static DWORD Verb(const wchar_t* verb) { return E2e::Verb(folders_.exe(), verb, 40000); }

  // "exit" answers 0 and the instance has ended within the time.
  static ::testing::AssertionResult Exits(Process* p, DWORD ms = 1000) {
    DWORD code = Verb(L"/exit");
    bool ended = p->Wait(ms);
    if (code != 0) return ::testing::AssertionFailure() << "exit answered 0x" << std::hex << code;
    if (!ended)
      return ::testing::AssertionFailure() << "the instance still runs " << ms << " ms after the exit";
    return ::testing::AssertionSuccess();
  }

  static DWORD InsertCard() { return DriveTool(std::wstring(L"insert ") + kLetter + L" " + Quoted(card_)); }

  static int Imports(const Module& m, const std::wstring& what) {
    return CountRuns(ReadModuleLog(m.log()), {what});
  }
  static int Scorings(const Module& m) { return CountRuns(ReadModuleLog(m.log()), {L"/importscore", kRoot}); }

  static bool ready_;
  static SuiteFolders folders_;
  static std::wstring card_;
  static Module hang_, crash_, good_;
};

bool ResilienceE2e::ready_ = false;
SuiteFolders ResilienceE2e::folders_;
std::wstring ResilienceE2e::card_;
Module ResilienceE2e::hang_, ResilienceE2e::crash_, ResilienceE2e::good_;

TEST_F(ResilienceE2e, HungScoringRunIsEndedAtTheBoundAndTheNextModuleStarts) {
  Process watcher;
  // The bound applies to the good module too: enough for a start on a busy machine.
  ASSERT_TRUE(StartWatcher(&watcher, {&hang_, &good_}, 8));
  ASSERT_EQ(0u, InsertCard());
  EXPECT_TRUE(WaitUntil(30000, [&] { return Imports(good_, kRoot) == 1; }))
      << "the module that scores was not started after the hung one";
  EXPECT_TRUE(ReadModuleLog(hang_.log()).empty()) << "the hung scoring run was not ended";
  EXPECT_TRUE(WaitUntil(5000, [&] { return RunningCount(hang_.exeName) == 0; }));

  // IEEE 1394 devices: the window takes a second arrival while the first
  // one's modules are still being scored, and both are decided.
  HWND devices = DeviceWatcherWindow(watcher.Id());
  ASSERT_NE(nullptr, devices);
  const std::wstring first = L"\\\\?\\1394#e2e#1", second = L"\\\\?\\1394#e2e#2";
  ASSERT_TRUE(SendInterface(devices, DBT_DEVICEARRIVAL, first.c_str(), nullptr, 5000, SMTO_NORMAL));
  EXPECT_TRUE(WaitUntil(10000, [&] { return RunningCount(hang_.exeName) >= 1; }));
  EXPECT_TRUE(SendInterface(devices, DBT_DEVICEARRIVAL, second.c_str(), nullptr, 2000, SMTO_NORMAL))
      << "the device window is blocked by a scoring run";
  EXPECT_TRUE(WaitUntil(60000, [&] { return Imports(good_, first) == 1 && Imports(good_, second) == 1; }))
      << "not every device was decided; the module's log:\n"
      << ::testing::PrintToString(ReadUtf8(good_.log()));
  EXPECT_TRUE(watcher.Running());
  EXPECT_TRUE(Exits(&watcher));
}

TEST_F(ResilienceE2e, CrashingModuleBeforeOneThatScores100) {
  // A scoring run starts without the crash dialog on Windows (it inherits
  // the watcher's error mode); Wine passes no error mode on and shows its
  // debugger's dialog instead, so that dialog is turned off for the test.
  const wchar_t kWineDbg[] = L"Software\\Wine\\WineDbg";
  SetDword(HKEY_CURRENT_USER, kWineDbg, L"ShowCrashDialog", 0);
  struct Restore {
    const wchar_t* key;
    ~Restore() { xptest::DeleteTree(HKEY_CURRENT_USER, key); }
  } restore = {kWineDbg};
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher, {&crash_, &good_}));
  ASSERT_EQ(0u, InsertCard());
  // The crash ends the run at once: no dialog of the system waits for a user.
  EXPECT_TRUE(WaitUntil(15000, [&] { return Imports(good_, kRoot) == 1; }))
      << "a crashed module kept the one that scores 100 from starting";
  EXPECT_TRUE(WaitUntil(5000, [&] { return RunningCount(crash_.exeName) == 0; }));
  // A rescan would come before a card put in afterwards is decided.
  EXPECT_TRUE(MarkerDecided(L'M', card_, good_.log()));
  EXPECT_EQ(1, Scorings(crash_)) << "a crash is no request to be asked again";
  EXPECT_EQ(1, Scorings(good_));
  EXPECT_EQ(1, Imports(good_, kRoot));
  EXPECT_TRUE(Exits(&watcher));
}

TEST_F(ResilienceE2e, ExitDuringAHungScoringRunThenANewStartAtOnce) {
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher, {&hang_, &good_}, 600));
  ASSERT_EQ(0u, InsertCard());
  ASSERT_TRUE(WaitUntil(15000, [&] { return RunningCount(hang_.exeName) >= 1; })) << "no scoring run began";

  EXPECT_TRUE(Exits(&watcher)) << "exit did not end the instance";
  EXPECT_TRUE(WaitUntil(5000, [&] { return RunningCount(hang_.exeName) == 0; }))
      << "the scoring run was left behind";

  Process next;
  ASSERT_TRUE(StartWatcher(&next)) << "a start right after the exit is refused";
  EXPECT_TRUE(next.Running()) << "the new start took itself for a second instance";
  EXPECT_EQ(1u, WatcherWindows().size());
  EXPECT_EQ(0, Imports(good_, kRoot)) << "the decision cut off by the exit started a module";
  EXPECT_TRUE(Exits(&next));
}

TEST_F(ResilienceE2e, ExitAllEndsAnInstanceWhoseMainThreadIsBlocked) {
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher));
  HWND window = WaitForWatcherWindow(watcher, 1000);
  ASSERT_NE(nullptr, window);
  DWORD processId = 0;
  DWORD mainThread = GetWindowThreadProcessId(window, &processId);
  SuspendedThread blocked(mainThread);
  ASSERT_TRUE(blocked.suspended());

  // "exit" cannot end it and says so.
  EXPECT_EQ(0x8201u, Verb(L"/exit"));
  EXPECT_TRUE(watcher.Running());
  Process all;
  ASSERT_TRUE(all.Start(Quoted(folders_.exe()) + L" /exitall", folders_.watcher));
  ASSERT_TRUE(all.Wait(40000)) << "exitall waits for the blocked instance";
  EXPECT_EQ(0u, all.ExitCode());
  EXPECT_TRUE(watcher.Wait(5000)) << "the blocked instance still runs";
}

TEST_F(ResilienceE2e, AbandonedExitQuestionCountsAsFree) {
  // With the hard-disk accessor registered, "exit" asks before closing. The
  // accessor is read along with the importers, so their key must exist even
  // when no earlier test has left it behind.
  ASSERT_TRUE(xptest::CreateKey(HKEY_LOCAL_MACHINE, kImporterKey));
  SetString(HKEY_LOCAL_MACHINE, kAccessorKey, L"CurrentVersion", L"1.0");
  SetString(HKEY_LOCAL_MACHINE, std::wstring(kAccessorKey) + L"\\1.0", L"InstalledLocation", good_.folder);
  SetString(HKEY_LOCAL_MACHINE, std::wstring(kAccessorKey) + L"\\1.0", L"ExeName", good_.exeName);
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher));
  // This handle keeps the question's mutex alive across its owner's death.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"BwvwMessageBoxMutex");
  ASSERT_NE(nullptr, mutex);

  Process asker;
  ASSERT_TRUE(asker.Start(Quoted(folders_.exe()) + L" /exit", folders_.watcher));
  bool asking =
      WaitUntil(20000, [&] { return !FindWindows(asker.Id(), L"#32770", nullptr, IsWindowVisible).empty(); });
  ASSERT_TRUE(asking) << "the exit question did not appear";
  asker.Kill();  // killed while its question is open: the mutex is abandoned
  EXPECT_TRUE(watcher.Running());

  DeleteTree(HKEY_LOCAL_MACHINE, kAccessorKey);
  EXPECT_TRUE(Exits(&watcher)) << "an abandoned question blocked the next exit";
  // And the mutex is free again for whoever asks next.
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, 0));
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

TEST_F(ResilienceE2e, ShiftHeldDuringAnArrivalStartsNothing) {
  SetDword(HKEY_CURRENT_USER, kVersioned, L"IgnoreMoutingOnPressingSHIFT", 1);
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher, {&good_}));
  {
    ShiftKey shift;
    shift.Press();
    ASSERT_NE(0, GetAsyncKeyState(VK_SHIFT) & 0x8000) << "the injected key is not seen";
    ASSERT_EQ(0u, InsertCard());
    // Held through the quiet second and the decision. A held key repeats; the
    // repeats also survive Wine taking the keyboard state from the display
    // when one of the watcher's windows is shown.
    WaitUntil(
        4000,
        [&] {
          shift.Press();
          return false;
        },
        100);
    shift.Release();
  }
  EXPECT_TRUE(ReadModuleLog(good_.log()).empty())
      << "a card inserted with SHIFT held was offered to a module";
  // Another letter: the same one put in again within the removal's quiet
  // second would merge with it into nothing.
  xptest::InsertedDrive again;
  ASSERT_TRUE(again.Insert(L'S', card_));
  EXPECT_TRUE(WaitUntil(30000, [&] { return Imports(good_, L"S:\\") == 1; }))
      << "without SHIFT the card was ignored";
  EXPECT_TRUE(Exits(&watcher));
}

// Wine never reports session changes; the test sends them as the system would.
TEST_F(ResilienceE2e, DisconnectDropsAQueuedArrivalAndCutsAScoringRunShort) {
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher, {&hang_, &good_}, 600));
  HWND window = WaitForWatcherWindow(watcher, 1000);
  ASSERT_NE(nullptr, window);
  DWORD_PTR result = 0;

  // Inserted, and disconnected within its quiet second.
  ASSERT_EQ(0u, InsertCard());
  ASSERT_NE(0, SendMessageTimeoutW(window, kSessionChange, 2 /* console disconnect */, 0, SMTO_NORMAL, 5000,
                                   &result));
  Sleep(3000);
  EXPECT_EQ(0, RunningCount(hang_.exeName)) << "an arrival queued before the disconnect was decided";
  EXPECT_TRUE(ReadModuleLog(good_.log()).empty());
  ASSERT_NE(
      0, SendMessageTimeoutW(window, kSessionChange, 1 /* console connect */, 0, SMTO_NORMAL, 5000, &result));
  ASSERT_TRUE(WaitForWatching(watcher, 15000)) << "the watchers did not start again";

  // Disconnected while a module is being scored: the icon answers at once.
  // Another letter: the first card's removal would merge with a new arrival.
  xptest::InsertedDrive second;
  ASSERT_TRUE(second.Insert(L'S', card_));
  ASSERT_TRUE(WaitUntil(15000, [&] { return RunningCount(hang_.exeName) >= 1; })) << "no scoring run began";
  EXPECT_NE(0, SendMessageTimeoutW(window, kSessionChange, 2, 0, SMTO_NORMAL, 5000, &result))
      << "the icon froze on a disconnect during a scoring run";
  EXPECT_TRUE(WaitUntil(5000, [&] { return RunningCount(hang_.exeName) == 0; }));
  Sleep(1000);
  EXPECT_EQ(0, Imports(good_, L"S:\\")) << "a decision cut off by the disconnect started a module";
  EXPECT_NE(0, SendMessageTimeoutW(window, kSessionChange, 1, 0, SMTO_NORMAL, 5000, &result));
  EXPECT_TRUE(Exits(&watcher));
}

// A registration as a file, written as text: name, level, the installation it
// names (empty: none) and its program.
std::string Registration(const char* app, const char* installName, const char* folder) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\" ?><plist version=\"1.0\"><dict>";
  xml += std::string("<key>AppName</key><string>") + app + "</string>";
  xml += "<key>DisplayLevel</key><integer>1</integer>";
  if (*installName) xml += std::string("<key>InstallSettingName</key><string>") + installName + "</string>";
  xml += std::string("<key>InstalledLocation</key><string>") + folder + "</string>";
  xml += "<key>ExeName</key><string>tool.exe</string></dict></plist>";
  return xml;
}

TEST_F(ResilienceE2e, SkippedRegistrationsKeepTheirFilesThroughTheWriteBack) {
  wchar_t appData[MAX_PATH] = {0};
  ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData)));
  const std::wstring tools = std::wstring(appData) + L"\\Zelm Corporation\\Vantolo\\ExtTools";
  const std::wstring regs = folders_.root + L"\\regs";
  const std::wstring browser = std::wstring(kVantolo) + L"\\Browser";
  xptest::RemoveTree(tools);
  ASSERT_TRUE(xptest::MakeDirs(tools));
  ASSERT_TRUE(xptest::MakeDirs(regs));
  // The user's list: a tool switched off, one whose program is on a drive
  // that is not there now, and two that stay listed around them.
  const std::string off = Registration("Off", "E2e\\Off", "C:\\windows");
  const std::string away = Registration("Away", "E2e\\Away", "Q:\\unplugged");
  WriteText(tools + L"\\1.xml", Registration("First", "", "C:\\windows").c_str());
  WriteText(tools + L"\\2.xml", off.c_str());
  WriteText(tools + L"\\3.xml", away.c_str());
  WriteText(tools + L"\\4.xml", Registration("Last", "", "C:\\windows").c_str());
  SetDword(HKEY_CURRENT_USER, browser + L"\\ExtProgramXML\\Ignore", L"E2e\\Off", 1);
  // A tool registered since, in a folder the machine names.
  WriteText(regs + L"\\new.xml", Registration("Added", "", "C:\\windows").c_str());
  SetString(HKEY_LOCAL_MACHINE, browser + L"\\ExtProgramXML", L"E2e", regs);

  // The exit question reads the module registry, which writes the list back.
  EXPECT_EQ(0u, Verb(L"/exit"));
  DeleteTree(HKEY_LOCAL_MACHINE, browser);
  DeleteTree(HKEY_CURRENT_USER, browser);
  EXPECT_EQ(off, xptest::ReadBytes(tools + L"\\2.xml")) << "the switched-off tool's file was overwritten";
  EXPECT_EQ(away, xptest::ReadBytes(tools + L"\\3.xml")) << "the file of a tool away for now was lost";
  EXPECT_NE(std::string::npos, xptest::ReadBytes(tools + L"\\1.xml").find("First"));
  EXPECT_NE(std::string::npos, xptest::ReadBytes(tools + L"\\4.xml").find("Last"));
  EXPECT_NE(std::string::npos, xptest::ReadBytes(tools + L"\\5.xml").find("Added"))
      << "the new tool did not get a number of its own";
  xptest::RemoveTree(tools);
}

// The Devices window's button that scores the modules for a device.
const int kScoreButtonId = 1015;

TEST_F(ResilienceE2e, ExitWhileTheDevicesWindowScoresAHungModuleLeavesNoModuleRunning) {
  // Present before the start, so that only the window asks the module.
  ASSERT_EQ(0u, InsertCard());
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher, {&hang_}, 600));
  HWND dialog = OpenDevicesWindow(watcher);
  ASSERT_NE(nullptr, dialog) << "no Devices window";
  ASSERT_TRUE(WaitUntil(20000, [&] { return DetailsText(dialog).find(kRoot) != std::wstring::npos; }))
      << "the card is not listed";
  EXPECT_EQ(0, RunningCount(hang_.exeName));
  // Pressed twice: one scoring at a time.
  for (int i = 0; i < 2; ++i)
    ASSERT_TRUE(PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kScoreButtonId, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(dialog, kScoreButtonId))));
  ASSERT_TRUE(WaitUntil(15000, [&] { return RunningCount(hang_.exeName) >= 1; })) << "no scoring run began";
  EXPECT_EQ(1, RunningCount(hang_.exeName));

  EXPECT_TRUE(Exits(&watcher, 10000)) << "the exit waited for the window's scoring run";
  EXPECT_TRUE(WaitUntil(5000, [&] { return RunningCount(hang_.exeName) == 0; }))
      << "the window's scoring run was left behind";
}

// Wine never ends a session; the test sends the messages as the system would.
TEST_F(ResilienceE2e, SessionEndCancelsScoringAndAnUpdateClosesTheWatcher) {
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher, {&hang_}, 600));
  HWND window = WaitForWatcherWindow(watcher, 1000);
  ASSERT_NE(nullptr, window);
  ASSERT_EQ(0u, InsertCard());
  ASSERT_TRUE(WaitUntil(15000, [&] { return RunningCount(hang_.exeName) >= 1; })) << "no scoring run began";
  DWORD_PTR answer = 0;
  // A logoff that another program refuses changes nothing.
  ASSERT_NE(
      0, SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer));
  EXPECT_NE(0u, answer);
  ASSERT_NE(0,
            SendMessageTimeoutW(window, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer));
  EXPECT_EQ(1, RunningCount(hang_.exeName));
  // Logging off: before the end is answered the scoring run is gone.
  ASSERT_NE(
      0, SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer));
  ASSERT_NE(0,
            SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &answer))
      << "the end of the session waited without bound";
  EXPECT_EQ(0, RunningCount(hang_.exeName)) << "the scoring run outlived the session";

  // An update asks the watcher itself to close.
  ASSERT_NE(
      0, SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_NORMAL, 5000, &answer));
  EXPECT_NE(0u, answer);
  ASSERT_NE(
      0, SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP, SMTO_NORMAL, 10000, &answer));
  EXPECT_TRUE(watcher.Wait(15000)) << "the watcher did not end when asked to close";
  EXPECT_TRUE(WatcherWindows(watcher.Id()).empty());
}

}  // namespace
