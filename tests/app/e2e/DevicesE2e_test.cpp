// End-to-end tests of the rules by volume label, of the volumes present at
// start and of the Devices window, with the real program under Wine. Cards are
// folders that the drive tool turns into removable drives; a card's label is
// the text of the ".windows-label" file in its root, where Wine reads it.
#include <windows.h>

#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/e2e/E2eSupport.h"
#include "tests/device/DeviceRegistryFixture.h"

namespace {

using namespace E2e;

const wchar_t kImporterName[] = L"E2eDevicesRef";
const int kIgnoreButtonId = 1013;

struct Folders : SuiteFolders {
  std::wstring importer, holiday, work;
  std::wstring log() const { return importer + L"\\RefImporter.log"; }
};

class DevicesE2e : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ready_ = folders_.LayOut(L"e2e_devices");
    if (!ready_) return;
    Folders& f = folders_;
    f.importer = f.root + L"\\importer";
    f.holiday = f.root + L"\\holiday-card";
    f.work = f.root + L"\\work-card";
    InstallRefImporter(ProgramDir(), f.importer);
    WriteText(f.importer + L"\\RefImporter.score", "7");
    f.InstallProbe();
    for (const std::wstring* card : {&f.holiday, &f.work}) {
      CreateDirectoryW(card->c_str(), nullptr);
      CreateDirectoryW((*card + L"\\DCIM").c_str(), nullptr);
    }
    WriteText(f.holiday + L"\\.windows-label", "HOLIDAY_2026");
    WriteText(f.work + L"\\.windows-label", "WORK");

    ClearSettings(kImporterName);
    f.RegisterWatcher();
    // A module with a settings dialog (what a missing value is read as).
    RegisterImporter(kImporterName, f.importer, 1, 1);
  }
  static void TearDownTestSuite() {
    if (ready_) ClearSettings(kImporterName);
  }

  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "QRNVolumeWatcher.exe is not built yet";
    DeleteFileW(folders_.log().c_str());
    DeleteFileW(folders_.probeLog().c_str());
  }
  void TearDown() override {
    using namespace DeviceRegistryFixture;
    for (const wchar_t* d : {L"E2E_DEV_R", L"E2E_DEV_Q", L"E2E_DEV_O"}) RemoveDevice(d);
    for (const wchar_t* n : {L"E2eDevR", L"E2eDevQ", L"E2eDevO"}) RemovePresent(n);
    DeleteTree(HKEY_CURRENT_USER, kAppDefaults);
    DeleteTree(HKEY_CURRENT_USER, kWatcherKey);
    DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kVersioned) + L"\\Launch");
    DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kVersioned) + L"\\Ignore");
  }

  // Under the Windows 98 setting the device behind a letter comes from the
  // registry trees of that system.
  static void Win98Device(const wchar_t* device, const wchar_t* instance, const wchar_t* letter,
                          const wchar_t* node, const wchar_t* hardwareKey) {
    using namespace DeviceRegistryFixture;
    ASSERT_TRUE(AddInstance({device, instance, letter, L"Maker", L"Reader"}));
    ASSERT_TRUE(AddPresent(node, hardwareKey));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kAppDefaults, L"Version", L"win98"));
  }

  static int Runs(const std::vector<std::wstring>& args) {
    return CountRuns(ReadModuleLog(folders_.log()), args);
  }

  static bool ready_;
  static Folders folders_;
};

bool DevicesE2e::ready_ = false;
Folders DevicesE2e::folders_;

TEST_F(DevicesE2e, LaunchEntryByVolumeLabelStartsOnlyForTheMatchingCard) {
  Win98Device(L"E2E_DEV_R", L"USBSTOR&VID_1234&PID_0040&0001", L"R", L"E2eDevR",
              L"USBSTOR\\VID_1234&PID_0040\\0001");
  Win98Device(L"E2E_DEV_Q", L"USBSTOR&VID_1234&PID_0040&0002", L"Q", L"E2eDevQ",
              L"USBSTOR\\VID_1234&PID_0040\\0002");
  AddDeviceEntry(L"Launch", L"HolidayCards", 0x1234, 0x0040, folders_.probeExe(), L"-label", L"holiday*");
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher, folders_.exe()));
  ASSERT_EQ(0u, DriveTool(L"insert R " + Quoted(folders_.holiday)));
  ASSERT_EQ(0u, DriveTool(L"insert Q " + Quoted(folders_.work)));
  std::wstring expected = Quoted(folders_.probeExe()) + L" /Drive \"R\" -label";
  EXPECT_TRUE(WaitUntil(30000, [&] { return folders_.ProbeSaw(expected); }))
      << "the card labelled HOLIDAY_2026 did not start the program; probe log:\n"
      << testing::PrintToString(ReadUtf8(folders_.probeLog()));
  EXPECT_TRUE(WaitUntil(30000, [&] { return Runs({L"Q:\\"}) == 1; }))
      << "the card labelled WORK did not go to the importer modules";
  // One more polling round: it decides a card put in afterwards.
  EXPECT_TRUE(MarkerDecided(L'M', folders_.work, folders_.log()));
  EXPECT_EQ(1u, ReadModuleLog(folders_.probeLog()).size()) << "started for the wrong card or twice";
  EXPECT_EQ(0, Runs({L"R:\\"})) << "a launched card goes to no importer";
  EXPECT_EQ(0, Runs({L"/importscore", L"R:\\"}));
  EXPECT_EQ(1, Runs({L"Q:\\"}));
  DriveTool(L"remove R");
  DriveTool(L"remove Q");
  ExitWatcher(&watcher, folders_.exe());
}

TEST_F(DevicesE2e, CardPresentAtStartIsHandledOnceWhenAskedFor) {
  ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kVersioned, L"HandleVolumesAtStart", 1));
  ASSERT_EQ(0u, DriveTool(L"insert P " + Quoted(folders_.work)));
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher, folders_.exe()));
  EXPECT_TRUE(WaitUntil(30000, [&] { return Runs({L"P:\\"}) >= 1; }))
      << "the card inserted before the start was not handled";
  // A second start of the program only asks the first to show its balloon.
  DWORD code = 0;
  EXPECT_TRUE(RunToEnd(Quoted(folders_.exe()) + L" /noballoononstart", 30000, &code));
  EXPECT_TRUE(MarkerDecided(L'M', folders_.work, folders_.log()));
  EXPECT_EQ(1, Runs({L"P:\\"})) << "handled more than once";
  ExitWatcher(&watcher, folders_.exe());

  // Off (the default): a card present at start is left alone.
  DeleteFileW(folders_.log().c_str());
  DeleteTree(HKEY_CURRENT_USER, kWatcherKey);
  Process quiet;
  ASSERT_TRUE(StartWatcher(&quiet, folders_.exe()));
  // The volumes present at start would be decided before a card put in afterwards.
  EXPECT_TRUE(MarkerDecided(L'M', folders_.work, folders_.log()));
  EXPECT_EQ(0, Runs({L"/importscore", L"P:\\"}));
  EXPECT_EQ(0, Runs({L"P:\\"}));
  DriveTool(L"remove P");
  ExitWatcher(&quiet, folders_.exe());
}

TEST_F(DevicesE2e, DevicesWindowShowsTheCardAndItsIgnoreButtonSilencesIt) {
  Win98Device(L"E2E_DEV_O", L"USBSTOR&VID_1234&PID_0050&0001", L"O", L"E2eDevO",
              L"USBSTOR\\VID_1234&PID_0050\\0001");
  ASSERT_EQ(0u, DriveTool(L"insert O " + Quoted(folders_.holiday)));
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher, folders_.exe()));
  HWND icon = nullptr;
  HWND dialog = OpenDevicesWindow(watcher, &icon);
  ASSERT_NE(nullptr, dialog) << "no Devices window";
  std::wstring details;
  EXPECT_TRUE(WaitUntil(20000,
                        [&] {
                          details = DetailsText(dialog);
                          return details.find(L"O:\\") != std::wstring::npos;
                        }))
      << "the card is not listed; details: " << testing::PrintToString(details);
  EXPECT_NE(std::wstring::npos, details.find(L"1234:0050")) << testing::PrintToString(details);
  EXPECT_NE(std::wstring::npos, details.find(L"HOLIDAY_2026")) << testing::PrintToString(details);
  EXPECT_NE(std::wstring::npos, details.find(L"Importer modules")) << testing::PrintToString(details);

  // A second command brings the same window to the front; sent, it has been
  // handled once the call returns.
  DWORD_PTR handled = 0;
  EXPECT_NE(0, SendMessageTimeoutW(icon, WM_COMMAND, kDevicesCommand, 0, SMTO_ABORTIFHUNG, 15000, &handled));
  EXPECT_EQ(1u, DevicesWindows(watcher.Id()).size());

  ASSERT_TRUE(PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kIgnoreButtonId, BN_CLICKED),
                           reinterpret_cast<LPARAM>(GetDlgItem(dialog, kIgnoreButtonId))));
  EXPECT_TRUE(WaitUntil(20000,
                        [&] {
                          details = DetailsText(dialog);
                          return details.find(L"Ignored (rule Device 1234-0050)") != std::wstring::npos;
                        }))
      << "the decision did not change to the new rule; details: " << testing::PrintToString(details);
  HKEY rule = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER,
                                         (std::wstring(kVersioned) + L"\\Ignore\\Device 1234-0050").c_str(),
                                         0, KEY_READ, &rule));
  if (rule) RegCloseKey(rule);

  // The next insertion starts nothing; the window follows the card out and in.
  DriveTool(L"remove O");
  EXPECT_TRUE(WaitUntil(20000, [&] { return DetailsText(dialog).find(L"O:\\") == std::wstring::npos; }))
      << "the removed card is still listed";
  // Two polling rounds of the test timing: the polling watcher sees the card
  // gone before it comes back (nothing outside the watcher shows that round).
  Sleep(2500);
  ASSERT_EQ(0u, DriveTool(L"insert O " + Quoted(folders_.holiday)));
  EXPECT_TRUE(WaitUntil(20000, [&] { return DetailsText(dialog).find(L"O:\\") != std::wstring::npos; }))
      << "the inserted card is not listed again";
  // Polling, the quiet second and a scoring run would all be done before a
  // card put in afterwards is decided.
  EXPECT_TRUE(MarkerDecided(L'M', folders_.work, folders_.log()));
  EXPECT_EQ(0, Runs({L"/importscore", L"O:\\"}));
  EXPECT_EQ(0, Runs({L"O:\\"}));
  EXPECT_FALSE(FileExists(folders_.probeLog()));

  // The window closes with the watcher.
  ExitWatcher(&watcher, folders_.exe());
  EXPECT_FALSE(watcher.Running());
  DriveTool(L"remove O");
}

}  // namespace
