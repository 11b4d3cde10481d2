// End-to-end tests of the watcher's part in AutoPlay, with the real program
// under Wine (which has the running object table and the proxy of the
// question's interface, but no AutoPlay of its own): this process asks the
// object the watcher registers, as the shell would, and runs the "autoplay"
// verb that the package's AutoPlay choice runs.
#include <windows.h>

#include <dbt.h>
#include <objbase.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/e2e/E2eSupport.h"
#include "tests/device/DeviceRegistryFixture.h"

namespace {

using namespace E2e;
using xptest::InsertedDrive;

const wchar_t kImporterName[] = L"E2eAutoPlayRef";
// The watcher's class id in the running object table, as the package lists it.
const CLSID kWatcherAutoPlayClass = {
    0x5e0b7c61, 0x2f4a, 0x4d8e, {0x9b, 0x37, 0x6a, 0x1c, 0x0f, 0x2d, 0x8e, 0x45}};
const IID kIidQueryCancelAutoPlay = {
    0xddefe873, 0x6997, 0x4e68, {0xbe, 0x26, 0x39, 0xb6, 0x33, 0xad, 0xbe, 0x12}};
const HRESULT kNotAsked = static_cast<HRESULT>(0x8000FFFFL);
const DWORD kAnswerBoundMs = 2000;

struct Folders : SuiteFolders {
  std::wstring importer, card;
  std::wstring log() const { return importer + L"\\RefImporter.log"; }
};

// AutoPlay's question for one path, from this process through the running
// object table; the failure of the look-up when nothing is registered.
HRESULT AskAutoPlay(const wchar_t* path, DWORD* tookMs = nullptr) {
  HRESULT entered = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HRESULT result = kNotAsked;
  IRunningObjectTable* table = nullptr;
  IMoniker* moniker = nullptr;
  IUnknown* object = nullptr;
  IQueryCancelAutoPlay* question = nullptr;
  if (SUCCEEDED(GetRunningObjectTable(0, &table)) &&
      SUCCEEDED(CreateClassMoniker(kWatcherAutoPlayClass, &moniker))) {
    result = table->GetObject(moniker, &object);
    if (SUCCEEDED(result))
      result = object->QueryInterface(kIidQueryCancelAutoPlay, reinterpret_cast<void**>(&question));
    if (SUCCEEDED(result)) {
      DWORD started = GetTickCount();
      // Pictures (ARCONTENT_PICTURES), with a label and a serial as the shell passes them.
      result = question->AllowAutoPlay(path, 0x00000004, L"CARD", 0x1234ABCD);
      if (tookMs) *tookMs = GetTickCount() - started;
    }
  }
  if (question) question->Release();
  if (object) object->Release();
  if (moniker) moniker->Release();
  if (table) table->Release();
  if (SUCCEEDED(entered)) CoUninitialize();
  return result;
}

// DBT_DEVICEARRIVAL of one drive letter, sent to the watcher's volume window.
bool SendVolumeArrival(wchar_t letter) {
  HWND window = FindWindowW(L"ZelmXpVolumeWatchDogExDummyWindow", nullptr);
  if (window == nullptr) return false;
  DEV_BROADCAST_VOLUME volume = {};
  volume.dbcv_size = sizeof(volume);
  volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  volume.dbcv_unitmask = 1u << (letter - L'A');
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume),
                             SMTO_ABORTIFHUNG, 10000, &result) != 0;
}

bool Registered() {
  HRESULT r = AskAutoPlay(L"Q:\\");
  return r == S_OK || r == S_FALSE;
}

class AutoPlayE2e : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ready_ = folders_.LayOut(L"e2e_autoplay");
    if (!ready_) return;
    folders_.importer = folders_.root + L"\\importer";
    folders_.card = folders_.root + L"\\card";
    InstallRefImporter(ProgramDir(), folders_.importer);
    WriteText(folders_.importer + L"\\RefImporter.score", "7");
    CreateDirectoryW(folders_.card.c_str(), nullptr);
    CreateDirectoryW((folders_.card + L"\\DCIM").c_str(), nullptr);

    ClearSettings(kImporterName);
    folders_.RegisterWatcher();
    RegisterImporter(kImporterName, folders_.importer, 1);
  }
  static void TearDownTestSuite() {
    if (ready_) ClearSettings(kImporterName);
  }

  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "QRNVolumeWatcher.exe is not built yet";
    DeleteFileW(folders_.log().c_str());
  }
  void TearDown() override {
    using namespace DeviceRegistryFixture;
    RemoveDevice(L"E2E_AUTOPLAY_U");
    RemovePresent(L"E2eAutoPlayU");
    DeleteTree(HKEY_CURRENT_USER, kAppDefaults);
    DeleteTree(HKEY_CURRENT_USER, kVersioned);
    DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(kVersioned) + L"\\Ignore");
  }

  static DWORD AutoPlayVerb(const std::wstring& argument) {
    return Verb(folders_.exe(), L"/autoplay " + argument, 60000);
  }
  static int Imports(const wchar_t* root) { return CountRuns(ReadModuleLog(folders_.log()), {root}); }

  static bool ready_;
  static Folders folders_;
};

bool AutoPlayE2e::ready_ = false;
Folders AutoPlayE2e::folders_;

// A card asked about while it is still in its quiet second gets an answer
// within the bound; once the importer took it, AutoPlay is cancelled for it;
// paths the watcher does not know are allowed. A paused session revokes the
// object, a connected one registers it again, and exit revokes it.
TEST_F(AutoPlayE2e, CancelsForACardAnImporterTookAndAllowsOtherPaths) {
  Process watcher;
  HWND window = nullptr;
  ASSERT_TRUE(StartWatcher(&watcher, folders_.exe(), L"/noballoononstart", &window));
  ASSERT_TRUE(WaitUntil(20000, Registered)) << "nothing in the running object table";

  // The drive is defined without a broadcast; the arrival is then sent to the
  // watcher's volume window as the system sends it, so that when the send
  // returns the card is known to be in its quiet second.
  InsertedDrive card;
  ASSERT_TRUE(card.Insert(L'W', folders_.card, false));
  ASSERT_TRUE(SendVolumeArrival(L'W'));
  DWORD took = 0;
  HRESULT early = AskAutoPlay(L"W:\\", &took);
  EXPECT_TRUE(early == S_OK || early == S_FALSE) << std::hex << early;
  EXPECT_GE(took, 500u) << "answered without waiting for the decision under way";
  EXPECT_LE(took, kAnswerBoundMs + 1500) << "the question was held past its bound";
  ASSERT_TRUE(WaitUntil(30000, [] { return Imports(L"W:\\") == 1; })) << "the importer did not start";
  EXPECT_EQ(S_FALSE, AskAutoPlay(L"W:\\", &took)) << "AutoPlay not cancelled for the card the importer took";
  EXPECT_LE(took, 1000u);
  EXPECT_EQ(S_FALSE, AskAutoPlay(L"w:")) << "the same volume in another spelling";
  EXPECT_EQ(S_OK, AskAutoPlay(L"Q:\\")) << "a drive with nothing in it";
  EXPECT_EQ(S_OK, AskAutoPlay(L"W:\\DCIM")) << "not a volume root";
  EXPECT_EQ(S_OK, AskAutoPlay(L"\\\\server\\share\\")) << "a network path";
  EXPECT_EQ(S_OK, AskAutoPlay(L""));

  DWORD_PTR result = 0;
  ASSERT_NE(0, SendMessageTimeoutW(window, kSessionChange, 2 /* console disconnect */, 0, SMTO_ABORTIFHUNG,
                                   15000, &result));
  EXPECT_TRUE(WaitUntil(5000, [] { return !Registered(); })) << "still registered while paused";
  ASSERT_NE(0, SendMessageTimeoutW(window, kSessionChange, 1 /* console connect */, 0, SMTO_ABORTIFHUNG,
                                   15000, &result));
  EXPECT_TRUE(WaitUntil(5000, Registered)) << "not registered again after the session was connected";

  card.Remove();
  ExitWatcher(&watcher, folders_.exe());
  EXPECT_FALSE(watcher.Running());
  EXPECT_FALSE(Registered()) << "the object outlived the watcher";
  EXPECT_EQ(1, Imports(L"W:\\"));
}

// An ignored device is AutoPlay's: the watcher allows it.
TEST_F(AutoPlayE2e, AllowsAnIgnoredCard) {
  using namespace DeviceRegistryFixture;
  ASSERT_TRUE(AddInstance({L"E2E_AUTOPLAY_U", L"USBSTOR&VID_1234&PID_0020&0001", L"U", L"Maker", L"Stick"}));
  ASSERT_TRUE(AddPresent(L"E2eAutoPlayU", L"USBSTOR\\VID_1234&PID_0020&0001"));
  AddDeviceEntry(L"Ignore", L"Stick", 0x1234, 0x0020, std::wstring(), nullptr);
  // Under the Windows 98 setting the device behind a letter comes from the
  // registry trees of that system; the watcher polls the drives.
  ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kAppDefaults, L"Version", L"win98"));
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher, folders_.exe()));
  ASSERT_TRUE(WaitUntil(20000, Registered));
  // Both arrive in the same polling round; the unidentified one goes to the
  // importer, whose start shows that the round was decided.
  InsertedDrive ignored, other;
  ASSERT_TRUE(ignored.Insert(L'U', folders_.card));
  ASSERT_TRUE(other.Insert(L'V', folders_.card));
  ASSERT_TRUE(WaitUntil(30000, [] { return Imports(L"V:\\") == 1; }));
  EXPECT_EQ(S_FALSE, AskAutoPlay(L"V:\\"));
  EXPECT_EQ(S_OK, AskAutoPlay(L"U:\\")) << "AutoPlay cancelled for an ignored device";
  EXPECT_EQ(0, Imports(L"U:\\"));
  ignored.Remove();
  other.Remove();
  ExitWatcher(&watcher, folders_.exe());
}

// The verb of the AutoPlay choice: refused for what is not a present volume's
// root; with a watcher running the volume is handed to it, which starts the
// importer at once although it decided the same card on its arrival; with
// none, the verb's own process starts the importer. Once per request. The
// user's switch keeps the object out of the table.
TEST_F(AutoPlayE2e, AutoPlayVerbImportsOnceWithAndWithoutARunningWatcher) {
  EXPECT_EQ(0x8102u, AutoPlayVerb(L""));
  EXPECT_EQ(0x8102u, AutoPlayVerb(L"\"W:\\DCIM\""));
  EXPECT_EQ(0x8102u, AutoPlayVerb(L"\"%L\""));
  EXPECT_EQ(0x8105u, AutoPlayVerb(L"\"Q:\\\"")) << "no volume at Q:";

  // The user's switch leaves AutoPlay alone; the choice still imports.
  ASSERT_TRUE(SetDword(HKEY_CURRENT_USER, kVersioned, L"DoNotCancelAutoPlay", 1));
  Process watcher;
  ASSERT_TRUE(StartWatcher(&watcher, folders_.exe()));
  InsertedDrive card;
  ASSERT_TRUE(card.Insert(L'W', folders_.card));
  ASSERT_TRUE(WaitUntil(30000, [] { return Imports(L"W:\\") == 1; })) << "the arrival was not decided";
  EXPECT_EQ(0u, AutoPlayVerb(L"\"W:\\\""));
  EXPECT_TRUE(WaitUntil(30000, [] { return Imports(L"W:\\") == 2; }))
      << "the handed-over volume was not decided";
  EXPECT_FALSE(Registered()) << "registered although switched off";
  ExitWatcher(&watcher, folders_.exe());
  ASSERT_FALSE(watcher.Running());

  EXPECT_EQ(0u, AutoPlayVerb(L"\"W:\\\""));
  EXPECT_TRUE(WaitUntil(30000, [] { return Imports(L"W:\\") == 3; })) << "no import without a watcher";
  // The verb's process has ended: a second start would be an importer still running.
  EXPECT_TRUE(WaitUntil(30000, [] { return RunningCount(L"RefImporter.exe") == 0; }));
  EXPECT_EQ(3, Imports(L"W:\\"));
  card.Remove();
}

}  // namespace
