// Importer modules with real registrations and real child processes of the
// reference importer program.
#include "modules/SfImporterModule.h"

#include <gtest/gtest.h>

#include "modules/ExternalProgram.h"
#include "tests/modules/ModulesTestSupport.h"

using namespace modtest;

namespace {

class ImporterTest : public ::testing::Test {
 protected:
  ImporterTest() : m_modules(L"xp_mod_importers"), m_volume(L"xp_mod_volume"), m_regs(L"xp_mod_regs") {}
  void SetUp() override { ClearSuiteState(); }
  void TearDown() override { ClearSuiteState(); }

  // Installs a copy of the reference importer and registers it under Importer.
  std::wstring AddImporter(const std::wstring& subkey, DWORD supported = 1, bool withTexts = true) {
    return AddRegisteredImporter(m_modules.Path(), subkey, supported, withTexts);
  }

  std::wstring VolumePath() const { return m_volume.Path() + L"\\"; }

  ScratchDir m_modules;
  ScratchDir m_volume;
  ScratchDir m_regs;
};

std::wstring Quoted(const std::wstring& exe) { return L"\"" + exe + L"\""; }

// The exit codes of the runs reported done, in order.
class RecordingCompletion : public ISfImporterCompletion {
 public:
  void OnImporterRunDone(int exitCode) override { codes.Add(exitCode); }
  xptest::Recorder<int> codes;
};

}  // namespace

TEST(ImporterArguments, QuotingFollowsTheCommandLineSplittingRules) {
  EXPECT_STREQ(L"E:\\", SfQuoteArgument(L"E:\\").c_str());
  EXPECT_STREQ(L"C:\\plain\\path", SfQuoteArgument(L"C:\\plain\\path").c_str());
  EXPECT_STREQ(L"\"C:\\My Card\\\\\"", SfQuoteArgument(L"C:\\My Card\\").c_str());
  EXPECT_STREQ(L"\"a\\\"b\"", SfQuoteArgument(L"a\"b").c_str());
  EXPECT_STREQ(L"\"a\\\\\\\"b c\"", SfQuoteArgument(L"a\\\"b c").c_str());
  EXPECT_STREQ(L"\"\"", SfQuoteArgument(L"").c_str());
  EXPECT_STREQ(L"\"E:\\\\\"", SfQuoteArgumentAlways(L"E:\\").c_str());
  // Whatever the text, the splitter gives back exactly one argument equal to it.
  const wchar_t* samples[] = {L"E:\\", L"C:\\My Card\\", L"x\" /evil \"y", L"\\\\server\\share dir\\",
                              L"tab\there"};
  for (const wchar_t* sample : samples) {
    std::wstring line = std::wstring(L"prog.exe ") + SfQuoteArgument(sample).c_str();
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(line.c_str(), &argc);
    ASSERT_EQ(2, argc) << line;
    EXPECT_STREQ(sample, argv[1]);
    LocalFree(argv);
  }
}

TEST(ImporterArguments, ProtocolStrings) {
  SfImporterModule module(L"X");
  EXPECT_STREQ(L"/importscore E:\\", module.scoreArguments(L"E:\\").c_str());
  EXPECT_STREQ(L"/config", module.settingsArguments().c_str());
  EXPECT_STREQ(L" E:\\", module.importArguments(L"", L"E:\\").c_str());
  EXPECT_STREQ(L"", module.importArguments(L"", L"").c_str());
  module.setParentWindow(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x120ABC)));
  EXPECT_STREQ(L"/config /parentwindow 00120ABC", module.settingsArguments().c_str());
  EXPECT_STREQ(L"/destdir /parentwindow 00120ABC", module.destinationArguments().c_str());
  EXPECT_STREQ(L" /import \"C:\\src\" /parentwindow 00120ABC E:\\",
               module.importArguments(L"C:\\src", L"E:\\").c_str());
  // Only the handle's 32-bit value is written, also from a 64-bit build.
  module.setParentWindow(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0xABCDEF)));
  EXPECT_STREQ(L" /parentwindow 00ABCDEF", module.parentWindowPart().c_str());
  EXPECT_EQ(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0xABCDEF)), module.setParentWindow(nullptr));
  EXPECT_STREQ(L"", module.parentWindowPart().c_str());
}

TEST(ImporterArguments, UnstartablePrograms) {
  SfImporterModule module(L"X");
  EXPECT_EQ(-1, module.importScore(L"E:\\"));  // empty program path
  module.setExePath(L"C:\\no\\such\\module.exe");
  EXPECT_FALSE(module.isInstalled());
  int score = 7;
  EXPECT_EQ(XP_E_FAIL, module.runImportScore(L"E:\\", &score));
  EXPECT_EQ(-1, score);
  // A quote in the program path would end the quoted path early.
  module.setExePath(L"C:\\windows\\system32\\cmd.exe\" /c \"x");
  EXPECT_EQ(XP_E_FILE_BAD_ARGUMENT, module.run(L"", true, nullptr, nullptr));
  module.setExePath(L"C:\\windows\\notepad.exe");
  EXPECT_EQ(XP_E_FILE_BAD_ARGUMENT, module.runImportScore(std::wstring(500, L'a').c_str(), &score));
}

TEST_F(ImporterTest, RegistryFieldsTextsAndKeys) {
  std::wstring exe = AddImporter(L"DCF");
  ImporterRegistration named;
  named.subkey = L"Named";
  named.location = m_modules / L"Named";
  named.exeName = L"Named.exe";
  named.settingsMenuStrId = 1000;  // present in the library
  named.visibleNameStrId = 999;    // missing: fallback 301
  named.hasSettingsDialog = 0;
  named.supportedDevice = 3;
  InstallModule(named.location, named.exeName);
  Register(named);
  AddImporter(L"NoTexts", 1, false);
  // No CurrentVersion: the module keeps its defaults.
  SetString(HKEY_LOCAL_MACHINE, std::wstring(kSuiteKey) + L"\\Importer\\Stale", L"Other", L"x");

  SfImporterModuleManager manager;
  ASSERT_EQ(4u, manager.modules().size());
  SfImporterModulePtr dcf = manager.findByKey(L"importer/dcf");
  ASSERT_FALSE(dcf.IsNull());
  EXPECT_EQ(dcf.get(), manager.cameraFolderModule().get());
  EXPECT_STREQ(L"DCF", dcf->name().c_str());
  EXPECT_STREQ(L"Importer/DCF", dcf->key().c_str());
  EXPECT_STREQ(exe.c_str(), dcf->exePath().c_str());
  EXPECT_STREQ((m_modules / L"DCF\\DCFLoc.dll").c_str(), dcf->resourceLibrary().c_str());
  EXPECT_STREQ(L"Reference importer settings...", dcf->settingsMenuText().c_str());
  EXPECT_STREQ(L"Reference importer", dcf->visibleName().c_str());
  EXPECT_STREQ(L"Imports pictures for the tests and the demo", dcf->comment().c_str());
  EXPECT_TRUE(dcf->hasSettingsDialog());
  EXPECT_TRUE(dcf->isInstalled());

  SfImporterModulePtr n = manager.findByKey(L"Importer/Named");
  ASSERT_FALSE(n.IsNull());
  EXPECT_STREQ(L"Settings of the reference importer", n->settingsMenuText().c_str());
  EXPECT_STREQ(L"Reference importer", n->visibleName().c_str());
  EXPECT_FALSE(n->hasSettingsDialog());
  EXPECT_EQ(3u, n->supportedDevices());

  SfImporterModulePtr plain = manager.findByKey(L"Importer/NoTexts");
  ASSERT_FALSE(plain.IsNull());
  EXPECT_STREQ(L"NoTexts", plain->settingsMenuText().c_str());
  EXPECT_STREQ(L"NoTexts", plain->visibleName().c_str());
  EXPECT_STREQ(L"", plain->comment().c_str());

  SfImporterModulePtr stale = manager.findByKey(L"Importer/Stale");
  ASSERT_FALSE(stale.IsNull());
  EXPECT_STREQ(L"Stale", stale->name().c_str());
  EXPECT_STREQ(L"", stale->exePath().c_str());
  EXPECT_FALSE(stale->hasSettingsDialog());
  EXPECT_EQ(1u, stale->supportedDevices());

  SfImporterModuleList withSettings = manager.modulesWithSettings();
  ASSERT_EQ(2u, withSettings.size());
  EXPECT_STREQ(L"Importer/DCF", withSettings[0]->key().c_str());
  EXPECT_STREQ(L"Importer/NoTexts", withSettings[1]->key().c_str());
  EXPECT_TRUE(manager.findByKey(L"Importer/None").IsNull());
  EXPECT_FALSE(manager.hasDiskAccessor());
}

TEST_F(ImporterTest, EqualScoresChooseTheEarlierModule) {
  std::wstring a = AddImporter(L"AFirst");
  std::wstring b = AddImporter(L"BSecond");
  WriteText(SideFile(a, L".score"), "5");
  WriteText(SideFile(b, L".score"), "5");
  SfImporterModuleManager manager;
  SfImporterModulePtr chosen = manager.selectFor(VolumePath().c_str(), SF_DEVICE_VOLUME);
  ASSERT_FALSE(chosen.IsNull());
  EXPECT_STREQ(L"Importer/AFirst", chosen->key().c_str());
  std::vector<std::wstring> logA = ReadLog(a), logB = ReadLog(b);
  ASSERT_EQ(1u, logA.size());
  ASSERT_EQ(1u, logB.size());
  EXPECT_EQ(Quoted(a) + L" /importscore " + VolumePath(), logA[0]);
  EXPECT_EQ(Quoted(b) + L" /importscore " + VolumePath(), logB[0]);
}

TEST_F(ImporterTest, ScoresFromVolumeContentAndZeroNeverChooses) {
  std::wstring a = AddImporter(L"Camera");
  SfImporterModuleManager manager;
  EXPECT_TRUE(manager.selectFor(VolumePath().c_str(), SF_DEVICE_VOLUME).IsNull());  // empty volume: 0
  CreateDirectoryW((m_volume / L"DCIM").c_str(), nullptr);
  SfImporterModulePtr module = manager.findByKey(L"Importer/Camera");
  EXPECT_EQ(100, module->importScore(VolumePath().c_str()));
  EXPECT_EQ(module.get(), manager.selectFor(VolumePath().c_str(), SF_DEVICE_VOLUME).get());
}

TEST_F(ImporterTest, NegativeScoreRescansAfterThePause) {
  std::wstring a = AddImporter(L"AOnce");
  std::wstring b = AddImporter(L"BLater");
  WriteText(SideFile(a, L".negative"), "");
  WriteText(SideFile(a, L".score"), "3");
  WriteText(SideFile(b, L".score"), "2");
  SfImporterModuleManager manager;
  DWORD start = GetTickCount();
  SfImporterModulePtr chosen = manager.selectFor(VolumePath().c_str(), SF_DEVICE_VOLUME);
  DWORD elapsed = GetTickCount() - start;
  ASSERT_FALSE(chosen.IsNull());
  EXPECT_STREQ(L"Importer/AOnce", chosen->key().c_str());
  EXPECT_GE(elapsed, 3333u - 20u);  // tick granularity
  EXPECT_LT(elapsed, 3333u + 3000u);
  std::vector<std::wstring> notes = ReadLog(a, true);
  ASSERT_EQ(2u, ReadLog(a).size());
  // The module after the negative one is not asked in the first scan.
  EXPECT_EQ(1u, ReadLog(b).size());
  bool sawNegative = false;
  for (const std::wstring& line : notes) sawNegative = sawNegative || line == L"# score -1";
  EXPECT_TRUE(sawNegative);
}

TEST_F(ImporterTest, ThreeNegativeScansChooseNothing) {
  std::wstring a = AddImporter(L"Never");
  WriteText(SideFile(a, L".score"), "-1");
  SfImporterModuleManager manager;
  DWORD start = GetTickCount();
  EXPECT_TRUE(manager.selectFor(VolumePath().c_str(), SF_DEVICE_VOLUME).IsNull());
  DWORD elapsed = GetTickCount() - start;
  EXPECT_EQ(3u, ReadLog(a).size());
  // Two pauses: none after the third scan.
  EXPECT_GE(elapsed, 2u * 3333u - 20u);
  EXPECT_LT(elapsed, 3u * 3333u);
}

TEST_F(ImporterTest, StaleRegistrationDoesNotDelayOrBlockTheChoice) {
  // Subkeys enumerate in name order: the stale one is asked first.
  SetString(HKEY_LOCAL_MACHINE, std::wstring(kSuiteKey) + L"\\Importer\\AStale", L"CurrentVersion", L"1.0");
  SetString(HKEY_LOCAL_MACHINE, std::wstring(kSuiteKey) + L"\\Importer\\AStale\\1.0", L"InstalledLocation",
            m_modules / L"gone");
  SetString(HKEY_LOCAL_MACHINE, std::wstring(kSuiteKey) + L"\\Importer\\AStale\\1.0", L"ExeName",
            L"Gone.exe");
  std::wstring good = AddImporter(L"BGood");
  WriteText(SideFile(good, L".score"), "4");
  SfImporterModuleManager manager;
  ASSERT_EQ(2u, manager.modules().size());
  EXPECT_EQ(-1, manager.modules()[0]->importScore(VolumePath().c_str()));
  DWORD start = GetTickCount();
  SfImporterModulePtr chosen = manager.selectFor(VolumePath().c_str(), SF_DEVICE_VOLUME);
  DWORD elapsed = GetTickCount() - start;
  ASSERT_FALSE(chosen.IsNull());
  EXPECT_STREQ(L"Importer/BGood", chosen->key().c_str());
  EXPECT_LT(elapsed, 3000u);
  EXPECT_EQ(1u, ReadLog(good).size());
}

TEST_F(ImporterTest, DeviceKindsDecideWhoIsAsked) {
  std::wstring firewire = AddImporter(L"Firewire", SF_DEVICE_1394);
  WriteText(SideFile(firewire, L".score"), "7");
  SfImporterModuleManager manager;
  EXPECT_TRUE(manager.selectFor(VolumePath().c_str(), SF_DEVICE_VOLUME).IsNull());
  EXPECT_TRUE(ReadLog(firewire).empty());
  SfImporterModulePtr chosen = manager.selectFor(L"\\\\?\\1394#device", SF_DEVICE_1394);
  ASSERT_FALSE(chosen.IsNull());
  EXPECT_STREQ(L"Importer/Firewire", chosen->key().c_str());
  ASSERT_EQ(1u, ReadLog(firewire).size());
  EXPECT_EQ(Quoted(firewire) + L" /importscore \\\\?\\1394#device", ReadLog(firewire)[0]);
}

TEST_F(ImporterTest, PathWithBlanksReachesTheModuleAsOneArgument) {
  std::wstring a = AddImporter(L"Camera");
  std::wstring folder = m_volume / L"My Card";
  CreateDirectoryW(folder.c_str(), nullptr);
  CreateDirectoryW(Join(folder, L"DCIM").c_str(), nullptr);
  SfImporterModuleManager manager;
  SfImporterModulePtr module = manager.findByKey(L"Importer/Camera");
  std::wstring path = folder + L"\\";
  EXPECT_EQ(100, module->importScore(path.c_str()));
  EXPECT_EQ(XP_OK, module->startImport(L"", path.c_str(), true, nullptr));
  std::vector<std::wstring> log = ReadLog(a, true);
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(Quoted(a) + L" /importscore \"" + folder + L"\\\\\"", log[0]);
  EXPECT_EQ(L"# arg /importscore", log[1]);
  EXPECT_EQ(L"# arg " + path, log[2]);
  std::vector<std::wstring> commands = ReadLog(a);
  ASSERT_EQ(2u, commands.size());
  EXPECT_EQ(Quoted(a) + L"  \"" + folder + L"\\\\\"", commands[1]);
}

TEST_F(ImporterTest, AccessorRegisteredBothWaysIsListedOnce) {
  AddImporter(L"Camera");
  std::wstring accessorFolder = m_modules / L"HDD1";
  std::wstring accessorExe = InstallModule(accessorFolder, L"Accessor.exe");
  ImporterRegistration accessor;
  accessor.root = L"Accessor";
  accessor.subkey = L"HDD1";
  accessor.location = accessorFolder;
  accessor.exeName = L"Accessor.exe";
  Register(accessor);
  {
    SfImporterModuleManager manager;
    SfImporterModulePtr found = manager.findByKey(L"Accessor/HDD1");
    ASSERT_FALSE(found.IsNull());
    EXPECT_EQ(found.get(), manager.diskAccessorModule().get());
    EXPECT_TRUE(manager.hasDiskAccessor());
    EXPECT_EQ(2u, manager.modules().size());
  }
  // The same accessor as a level-6 tool registration as well.
  AddRegistrationFolder(L"Tests", m_regs.Path());
  WritePlist(m_regs / L"accessor.xml", {{L"AppName", "string", L"Accessor"},
                                        {L"GroupApp", "true", L""},
                                        {L"DisplayLevel", "integer", L"6"},
                                        {L"InstallSettingName", "string", L"Accessor\\HDD1"},
                                        {L"Description", "string", L"Hard disk"},
                                        {L"SettingDescription", "string", L"Hard disk settings"},
                                        {L"SupportedDeviceMask", "integer", L"1"}});
  SfImporterModuleManager manager;
  int count = 0;
  for (const SfImporterModulePtr& m : manager.modules()) count += m->key() == L"Accessor/HDD1" ? 1 : 0;
  EXPECT_EQ(1, count);
  EXPECT_TRUE(manager.diskAccessorModule().IsNull());
  SfImporterModulePtr found = manager.findByKey(L"accessor/hdd1");
  ASSERT_FALSE(found.IsNull());
  EXPECT_STREQ(L"HDD1", found->name().c_str());
  EXPECT_STREQ(accessorExe.c_str(), found->exePath().c_str());
  EXPECT_STREQ(L"Hard disk", found->visibleName().c_str());
  EXPECT_STREQ(L"Hard disk settings", found->settingsMenuText().c_str());
  EXPECT_TRUE(found->hasSettingsDialog());
}

TEST_F(ImporterTest, AccessorNeedsTheImporterKeyAndAnInstalledProgram) {
  ImporterRegistration accessor;
  accessor.root = L"Accessor";
  accessor.subkey = L"HDD1";
  accessor.location = m_modules / L"HDD1";
  accessor.exeName = L"Accessor.exe";
  Register(accessor);
  {
    SfImporterModuleManager manager;  // no Importer key, program missing
    EXPECT_FALSE(manager.hasDiskAccessor());
  }
  xptest::CreateKey(HKEY_LOCAL_MACHINE, std::wstring(kSuiteKey) + L"\\Importer");
  {
    SfImporterModuleManager manager;  // program still missing
    EXPECT_FALSE(manager.hasDiskAccessor());
  }
  InstallModule(accessor.location, accessor.exeName);
  SfImporterModuleManager manager;
  EXPECT_TRUE(manager.hasDiskAccessor());
}

TEST_F(ImporterTest, ExactArgumentsOfEveryRunWithFixedArgumentsAndParentWindow) {
  std::wstring folder = m_modules / L"Tool";
  std::wstring exe = InstallModule(folder, L"Tool.exe");
  SetString(HKEY_LOCAL_MACHINE, std::wstring(kSuiteKey) + L"\\TestTools\\Tool\\1.0", L"InstalledLocation",
            folder);
  SetString(HKEY_LOCAL_MACHINE, std::wstring(kSuiteKey) + L"\\TestTools\\Tool\\1.0", L"ExeName", L"Tool.exe");
  AddRegistrationFolder(L"Tests", m_regs.Path());
  WritePlist(m_regs / L"tool.xml", {{L"AppName", "string", L"Tool"},
                                    {L"GroupApp", "true", L""},
                                    {L"DisplayLevel", "integer", L"6"},
                                    {L"InstallSettingName", "string", L"TestTools/Tool"},
                                    {L"Option", "string", L"-profile 2"},
                                    {L"SupportedDeviceMask", "integer", L"3"}});
  WriteText(SideFile(exe, L".exitcode"), "42");
  SfImporterModuleManager manager;
  SfImporterModulePtr module = manager.findByKey(L"TestTools/Tool");
  ASSERT_FALSE(module.IsNull());
  EXPECT_STREQ(L"-profile 2", module->fixedArguments().c_str());

  HWND window = CreateWindowExW(0, L"STATIC", L"parent", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(nullptr, window);
  wchar_t hex[16];
  swprintf(hex, 16, L"%08lX", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)));
  module->setParentWindow(window);
  EXPECT_EQ(XP_OK, module->openSettings(true));
  EXPECT_EQ(XP_OK, module->startImport(L"C:\\from here\\", L"E:\\", true, nullptr));
  DWORD code = 0;
  EXPECT_EQ(XP_OK, module->openDestinationFolder(nullptr, &code));
  EXPECT_EQ(42u, code);
  module->setParentWindow(nullptr);
  EXPECT_EQ(0, module->importScore(L"E:\\"));
  HANDLE process = nullptr;
  EXPECT_EQ(XP_OK, module->startImport(L"", L"E:\\", false, &process));
  ASSERT_NE(nullptr, process);
  WaitForSingleObject(process, 10000);
  CloseHandle(process);

  std::vector<std::wstring> log = ReadLog(exe);
  ASSERT_EQ(5u, log.size());
  std::wstring q = Quoted(exe);
  EXPECT_EQ(q + L" -profile 2 /config /parentwindow " + hex, log[0]);
  EXPECT_EQ(q + L" -profile 2  /import \"C:\\from here\\\\\" /parentwindow " + hex + L" E:\\", log[1]);
  EXPECT_EQ(q + L" -profile 2 /destdir /parentwindow " + hex, log[2]);
  EXPECT_EQ(q + L" -profile 2 /importscore E:\\", log[3]);
  EXPECT_EQ(q + L" -profile 2  E:\\", log[4]);
  // The module read the handle back as this window.
  bool sawParent = false;
  for (const std::wstring& line : ReadLog(exe, true)) {
    sawParent = sawParent || line == std::wstring(L"# parent ") + hex + L" window=1 enabled=1";
  }
  EXPECT_TRUE(sawParent);
  DestroyWindow(window);
}

TEST_F(ImporterTest, DestinationDialogInTheBackgroundAndModal) {
  std::wstring exe = AddImporter(L"DCF");
  WriteText(SideFile(exe, L".exitcode"), "7");
  SfImporterModuleManager manager;
  RecordingCompletion background;
  ASSERT_EQ(XP_OK, manager.openCameraFolderDestination(nullptr, &background, false));
  ASSERT_TRUE(background.codes.WaitFor(1, 20000));
  EXPECT_EQ(std::vector<int>{7}, background.codes.Events());

  HWND window = CreateWindowExW(0, L"STATIC", L"parent", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(nullptr, window);
  WriteText(SideFile(exe, L".sleep"), "700");
  WriteText(SideFile(exe, L".exitcode"), "9");
  ClearLog(exe);
  RecordingCompletion modal;
  EXPECT_EQ(XP_OK, manager.openCameraFolderDestination(window, &modal, true));
  EXPECT_EQ(std::vector<int>{9}, modal.codes.Events());
  EXPECT_TRUE(IsWindowEnabled(window));
  EXPECT_EQ(window, manager.cameraFolderModule()->parentWindow());
  std::vector<std::wstring> log = ReadLog(exe, true);
  bool disabledDuringRun = false;
  for (const std::wstring& line : log)
    disabledDuringRun = disabledDuringRun || line == L"# parent later enabled=0";
  EXPECT_TRUE(disabledDuringRun);
  DestroyWindow(window);
}

// The user may keep the dialog open for hours; exiting the watcher meanwhile
// must not wait for it.
TEST_F(ImporterTest, AModuleGoesAtOnceWhileItsBackgroundDestinationDialogStaysOpen) {
  std::wstring exe = AddImporter(L"DCF");
  const std::wstring hold = L"RefImporterHold" + std::to_wstring(GetCurrentProcessId());
  WriteText(SideFile(exe, L".hold"), std::to_string(GetCurrentProcessId()));
  xptest::Handle open = xptest::MakeEvent((hold + L"Open").c_str());
  xptest::Handle release = xptest::MakeEvent(hold.c_str());
  RecordingCompletion completion;
  struct Going {
    static DWORD WINAPI Drop(void* manager) {
      delete static_cast<SfImporterModuleManager*>(manager);
      return 0;
    }
  };
  SfImporterModuleManager* manager = new SfImporterModuleManager;
  ASSERT_EQ(XP_OK, manager->openCameraFolderDestination(nullptr, &completion, false));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(open.get(), 20000));
  xptest::Handle dropping(CreateThread(nullptr, 0, &Going::Drop, manager, 0, nullptr));
  ASSERT_TRUE(dropping);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(dropping.get(), 10000)) << "the module waited for the dialog";
  // The dialog is still the user's: it ends when they close it.
  SetEvent(release.get());
  WaitForSingleObject(dropping.get(), 70000);
  for (int i = 0; i < 200 && ReadLog(exe).empty(); ++i) Sleep(50);
  EXPECT_EQ(1u, ReadLog(exe).size());
  EXPECT_TRUE(completion.codes.Events().empty());
}

TEST_F(ImporterTest, CameraFolderDestinationWithoutTheModule) {
  AddImporter(L"Other");
  SfImporterModuleManager manager;
  RecordingCompletion completion;
  EXPECT_EQ(XP_E_FILE_NOT_FOUND, manager.openCameraFolderDestination(nullptr, &completion, false));
  EXPECT_TRUE(completion.codes.Events().empty());
}
