// End-to-end tests of portable devices (cameras and phones without a drive
// letter) in the real watcher program: this process sends the device-interface
// arrivals to the watcher's portable-device window, as the system does, and
// reads what the reference importers and a launch probe were started with.
#include <windows.h>

#include <dbt.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/e2e/E2eSupport.h"

namespace {

using namespace E2e;

const GUID kStillImageClass = {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};

const wchar_t kPhone[] =
    L"\\\\?\\usb#vid_04e8&pid_6860&ms_comp_mtp#6&1e6d7b7a&0&0000#{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
const wchar_t kPhoneStill[] =
    L"\\\\?\\usb#vid_04e8&pid_6860&ms_comp_mtp#6&1e6d7b7a&0&0000#{6bdd1fc6-810f-11d0-bec7-08002be2092f}";
const wchar_t kCamera[] = L"\\\\?\\USB#VID_04A9&PID_3218#0123#{6AC27878-A6FA-4155-BA85-F98F491D4F33}";
const wchar_t kNetworkCamera[] = L"\\\\?\\swd#mtpnetenum#cam1#{6ac27878-a6fa-4155-ba85-f98f491d4f33}";

struct PortableLayout : SuiteFolders {
  std::wstring portable, volumeOnly;
  std::wstring portableLog() const { return portable + L"\\RefImporter.log"; }
  std::wstring volumeLog() const { return volumeOnly + L"\\RefImporter.log"; }
};

void ClearConfiguration() {
  DeleteTree(HKEY_LOCAL_MACHINE, kWatcherKey);
  DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kImporterKey) + L"\\E2ePortable");
  DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kImporterKey) + L"\\E2eVolumeOnly");
}

class PortableDeviceE2e : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ready_ = FileExists(ProgramDir() + L"RefImporter.exe") && layout_.LayOut(L"e2e_portable");
    if (!ready_) return;
    PortableLayout& l = layout_;
    l.portable = l.root + L"\\importer-portable";
    l.volumeOnly = l.root + L"\\importer-volume";
    for (const std::wstring* f : {&l.portable, &l.volumeOnly}) {
      InstallRefImporter(ProgramDir(), *f);
    }
    // The volume-only module would claim anything it were asked about.
    WriteText(l.volumeOnly + L"\\RefImporter.score", "90");
    l.InstallProbe();

    ClearConfiguration();
    l.RegisterWatcher();
    RegisterImporter(L"E2eVolumeOnly", l.volumeOnly, 1);
    RegisterImporter(L"E2ePortable", l.portable, 4);
  }

  static void TearDownTestSuite() {
    if (ready_) ClearConfiguration();
  }

  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "QRNVolumeWatcher.exe is not built yet";
    DeleteFileW(layout_.portableLog().c_str());
    DeleteFileW(layout_.volumeLog().c_str());
    DeleteFileW(layout_.probeLog().c_str());
  }

  void TearDown() override {
    DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kVersioned) + L"\\Launch");
    DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kVersioned) + L"\\Ignore");
  }

  // Starts the watcher and returns its portable-device window once it exists.
  static HWND StartWatcher(Process* p) {
    if (!p->Start(Quoted(layout_.exe()) + L" /noballoononstart", layout_.watcher)) return nullptr;
    return WaitForWindow(*p, kPortableWindowClass, 30000);
  }

  // Sent from this process to the watcher's window, as the system sends it;
  // the window takes it.
  static bool SendInterface(HWND window, WPARAM event, const wchar_t* name, const GUID& cls) {
    DWORD_PTR answer = 0;
    return E2e::SendInterface(window, event, name, &cls, 10000, SMTO_ABORTIFHUNG, &answer) && answer == TRUE;
  }

  // A device on no list, announced after what a test looks at: once it is
  // started, every earlier event has been decided. Each marker is another
  // device, so that none merges with an earlier one.
  static ::testing::AssertionResult MarkerStarted(HWND window) {
    static int markers = 0;
    std::wstring marker = L"\\\\?\\swd#mtpnetenum#marker" + std::to_wstring(++markers) +
                          L"#{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
    if (!SendInterface(window, DBT_DEVICEARRIVAL, marker.c_str(), kPortableClass))
      return ::testing::AssertionFailure() << "the marker was not taken";
    if (!WaitUntil(30000, [&] { return CountRuns(ReadModuleLog(layout_.portableLog()), {marker}) == 1; }))
      return ::testing::AssertionFailure() << "the marker was not started";
    return ::testing::AssertionSuccess();
  }

  static bool ready_;
  static PortableLayout layout_;
};

bool PortableDeviceE2e::ready_ = false;
PortableLayout PortableDeviceE2e::layout_;

// A phone that shows two interfaces and drops off once while it is unlocked:
// the portable-device module is asked once and started once with the
// portable-device name, after the quiet second; the volume-only module is
// never asked.
TEST_F(PortableDeviceE2e, ArrivalScoresAndStartsThePortableModuleOnce) {
  ProductTiming quietSecond;
  Process watcher;
  HWND window = StartWatcher(&watcher);
  ASSERT_NE(nullptr, window) << "no portable-device window in the watcher";
  ASSERT_TRUE(SendInterface(window, DBT_DEVICEARRIVAL, kPhoneStill, kStillImageClass));
  ASSERT_TRUE(SendInterface(window, DBT_DEVICEARRIVAL, kPhone, kPortableClass));
  Sleep(300);
  ASSERT_TRUE(SendInterface(window, DBT_DEVICEREMOVECOMPLETE, kPhone, kPortableClass));
  ASSERT_TRUE(SendInterface(window, DBT_DEVICEARRIVAL, kPhone, kPortableClass));
  DWORD sent = GetTickCount();

  const std::vector<std::wstring> import = {kPhone};
  DWORD startedAfter = 0;
  bool started = WaitUntil(30000, [&] {
    startedAfter = GetTickCount() - sent;
    return CountRuns(ReadModuleLog(layout_.portableLog()), import) > 0;
  });
  EXPECT_TRUE(started) << "the portable-device module was not started within 30 s; log:\n"
                       << testing::PrintToString(ReadUtf8(layout_.portableLog()));
  // A second start would come before a device announced afterwards is started.
  EXPECT_TRUE(MarkerStarted(window));
  std::vector<ModuleRun> runs = ReadModuleLog(layout_.portableLog());
  EXPECT_EQ(1, CountRuns(runs, {L"/importscore", kPhone}));
  EXPECT_EQ(1, CountRuns(runs, import));
  EXPECT_EQ(4u, runs.size()) << testing::PrintToString(ReadUtf8(layout_.portableLog()));
  if (started) {
    EXPECT_GE(startedAfter, 900u) << "started before the quiet second ended";
  }
  EXPECT_TRUE(ReadModuleLog(layout_.volumeLog()).empty()) << "a volume-only module was asked";
  EXPECT_FALSE(FileExists(layout_.probeLog()));

  // Unplugged: nothing is started for a removal.
  ASSERT_TRUE(SendInterface(window, DBT_DEVICEREMOVECOMPLETE, kPhone, kPortableClass));
  EXPECT_TRUE(MarkerStarted(window));
  EXPECT_EQ(6u, ReadModuleLog(layout_.portableLog()).size()) << "a removal started something";
  EXPECT_EQ(1, CountRuns(ReadModuleLog(layout_.portableLog()), import));
  EXPECT_TRUE(watcher.Running());
  ExitWatcher(&watcher, layout_.exe());
}

// The phone is announced again through both classes after its decision (more
// than the quiet period later) and is still connected: nothing more is asked.
// Read once a camera announced after it has been started. A session
// disconnect hears no removal: the phone announced after the reconnect is
// decided again (it may have been taken away and brought back meanwhile).
TEST_F(PortableDeviceE2e, PhoneAnnouncedAgainWhileConnectedIsOneDecision) {
  Process watcher;
  HWND window = StartWatcher(&watcher);
  ASSERT_NE(nullptr, window) << "no portable-device window in the watcher";
  auto runsOf = [&](const wchar_t* path) { return CountRuns(ReadModuleLog(layout_.portableLog()), {path}); };
  ASSERT_TRUE(SendInterface(window, DBT_DEVICEARRIVAL, kPhone, kPortableClass));
  DWORD first = GetTickCount();
  ASSERT_TRUE(SendInterface(window, DBT_DEVICEARRIVAL, kPhoneStill, kStillImageClass));
  ASSERT_TRUE(WaitUntil(30000, [&] { return runsOf(kPhone) == 1; }));
  ASSERT_TRUE(SendInterface(window, DBT_DEVICEARRIVAL, kPhoneStill, kStillImageClass));
  ASSERT_TRUE(SendInterface(window, DBT_DEVICEARRIVAL, kPhone, kPortableClass));
  EXPECT_GE(GetTickCount() - first, kTestQuietMs);
  ASSERT_TRUE(SendInterface(window, DBT_DEVICEARRIVAL, kCamera, kPortableClass));
  ASSERT_TRUE(WaitUntil(30000, [&] { return runsOf(kCamera) == 1; }));
  std::vector<ModuleRun> runs = ReadModuleLog(layout_.portableLog());
  EXPECT_EQ(1, CountRuns(runs, {L"/importscore", kPhone}))
      << testing::PrintToString(ReadUtf8(layout_.portableLog()));
  EXPECT_EQ(1, runsOf(kPhone));
  EXPECT_FALSE(Mentions(runs, L"6bdd1fc6")) << "the still-image name went to the module";

  HWND icon = WaitForWatcherWindow(watcher, 1000);
  ASSERT_NE(nullptr, icon);
  DWORD_PTR result = 0;
  ASSERT_NE(0, SendMessageTimeoutW(icon, kSessionChange, 2 /* console disconnect */, 0, SMTO_NORMAL, 10000,
                                   &result));
  ASSERT_NE(
      0, SendMessageTimeoutW(icon, kSessionChange, 1 /* console connect */, 0, SMTO_NORMAL, 10000, &result));
  HWND again = WindowOf(kPortableWindowClass, watcher.Id());
  ASSERT_NE(nullptr, again) << "no portable-device window after the reconnect";
  ASSERT_TRUE(SendInterface(again, DBT_DEVICEARRIVAL, kPhone, kPortableClass));
  EXPECT_TRUE(WaitUntil(30000, [&] { return runsOf(kPhone) == 2; }))
      << "the phone announced after a reconnect was not decided again";
  ExitWatcher(&watcher, layout_.exe());
}

// By the USB ids in the path: a Launch entry starts its program with the
// device form of the arguments and no module is asked; an Ignore entry starts
// nothing; a device on neither list (here one without USB ids) goes to the
// portable-device module.
TEST_F(PortableDeviceE2e, LaunchAndIgnoreListsMatchTheIdsInThePath) {
  AddDeviceEntry(L"Launch", L"Phone", 0x04E8, 0x6860, layout_.probeExe(), L"-phone");
  AddDeviceEntry(L"Ignore", L"Camera", 0x04A9, 0x3218, std::wstring(), nullptr);
  Process watcher;
  HWND window = StartWatcher(&watcher);
  ASSERT_NE(nullptr, window) << "no portable-device window in the watcher";
  ASSERT_TRUE(SendInterface(window, DBT_DEVICEARRIVAL, kPhone, kPortableClass));
  ASSERT_TRUE(SendInterface(window, DBT_DEVICEARRIVAL, kCamera, kPortableClass));
  ASSERT_TRUE(SendInterface(window, DBT_DEVICEARRIVAL, kNetworkCamera, kPortableClass));

  std::wstring expected = Quoted(layout_.probeExe()) + L" /Device \"" + kPhone + L"\" -phone";
  EXPECT_TRUE(WaitUntil(30000, [&] { return layout_.ProbeSaw(expected); }))
      << "expected " << testing::PrintToString(expected) << ", log:\n"
      << testing::PrintToString(ReadUtf8(layout_.probeLog()));
  EXPECT_TRUE(WaitUntil(30000, [&] {
    return CountRuns(ReadModuleLog(layout_.portableLog()), {kNetworkCamera}) > 0;
  })) << "the device on neither list was not handed to the module";
  EXPECT_TRUE(MarkerStarted(window));
  std::vector<ModuleRun> probe = ReadModuleLog(layout_.probeLog());
  EXPECT_EQ(1u, probe.size());
  std::vector<ModuleRun> runs = ReadModuleLog(layout_.portableLog());
  EXPECT_FALSE(Mentions(runs, L"vid_04e8")) << "a launched device goes to no module";
  EXPECT_FALSE(Mentions(runs, L"VID_04A9")) << "an ignored device goes to no module";
  EXPECT_FALSE(Mentions(probe, L"VID_04A9")) << "an ignored device starts nothing";
  EXPECT_TRUE(ReadModuleLog(layout_.volumeLog()).empty());
  ExitWatcher(&watcher, layout_.exe());
}

}  // namespace
