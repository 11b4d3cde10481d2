// The device rules of the launch decision: matching by ids, serial number and
// volume label, the most specific entry first, the user's lists before the
// machine's, and the rule the Devices window adds. Registry cases run on
// scratch keys that stand in for both roots of this process.
#include "app/DevicesWindow.h"
#include "app/LaunchSettings.h"
#include "app/res/LocResources.h"
#include "platform/XpRegistry.h"

#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kScratch[] = L"Software\\XpTestScratch\\DeviceRules";
const wchar_t kVersioned[] = L"Software\\Zelm Corporation\\Vantolo\\VolumeWatcher\\7.1";

DeviceListEntry Entry(const wchar_t* name, DWORD vid, DWORD pid, const wchar_t* serial = L"",
                      const wchar_t* label = L"") {
  DeviceListEntry e;
  e.name = name;
  e.vendorId = vid;
  e.productId = pid;
  e.serial = serial;
  e.label = label;
  return e;
}

DeviceFacts Facts(DWORD vid, DWORD pid) {
  DeviceFacts f;
  f.vendorId = vid;
  f.productId = pid;
  return f;
}

TEST(DeviceRules, WildcardLabelsIgnoreCase) {
  EXPECT_TRUE(MatchWildcardNoCase(L"HOLIDAY", L"holiday"));
  EXPECT_TRUE(MatchWildcardNoCase(L"cam*", L"CAMERA_01"));
  EXPECT_TRUE(MatchWildcardNoCase(L"*01", L"CAMERA_01"));
  EXPECT_TRUE(MatchWildcardNoCase(L"c?m*0?", L"CAMERA_01"));
  EXPECT_TRUE(MatchWildcardNoCase(L"*", L""));
  EXPECT_TRUE(MatchWildcardNoCase(L"a*b*c", L"aXbYbZc"));
  EXPECT_FALSE(MatchWildcardNoCase(L"cam", L"CAMERA"));
  EXPECT_FALSE(MatchWildcardNoCase(L"?", L""));
  EXPECT_FALSE(MatchWildcardNoCase(L"a*b*c", L"aXbYbZ"));
  EXPECT_FALSE(MatchWildcardNoCase(L"CARD", L"CARDS"));
  // Many stars against a long text that does not match end quickly.
  std::wstring text(300, L'a');
  EXPECT_FALSE(MatchWildcardNoCase(L"*a*a*a*a*a*a*a*a*b", text.c_str()));
}

TEST(DeviceRules, MostCriteriaWinThenListOrder) {
  DeviceList list = {Entry(L"Model", 0x1234, 0x10),
                     Entry(L"ModelAgain", 0x1234, 0x10),
                     Entry(L"Labelled", 0x1234, 0x10, L"", L"TRIP*"),
                     Entry(L"Serial", 0x1234, 0x10, L"ab12cd34ef56", L""),
                     Entry(L"Both", 0x1234, 0x10, L"AB12CD34EF56", L"trip-2026"),
                     Entry(L"Other", 0x1234, 0x20)};
  DeviceFacts facts = Facts(0x1234, 0x10);
  // Only the ids are known: the entries that ask for more do not match.
  EXPECT_EQ(0, SelectDeviceListEntry(list, facts));
  facts.labelKnown = true;
  facts.label = L"Trip-2026";
  EXPECT_EQ(2, SelectDeviceListEntry(list, facts));
  facts.serialKnown = true;
  facts.serial = L"AB12CD34EF56";
  EXPECT_EQ(4, SelectDeviceListEntry(list, facts));
  facts.label = L"WORK";
  // Serial (3 criteria) beats the ids alone; the label entries no longer match.
  EXPECT_EQ(3, SelectDeviceListEntry(list, facts));
  facts.serial = L"AB12CD34EF57";
  EXPECT_EQ(0, SelectDeviceListEntry(list, facts));
  EXPECT_EQ(-1, SelectDeviceListEntry(list, Facts(0x1234, 0x30)));
  // Serial and label never stand in for the ids.
  DeviceFacts wrongIds = facts;
  wrongIds.productId = 0x11;
  wrongIds.serial = L"AB12CD34EF56";
  EXPECT_EQ(-1, SelectDeviceListEntry(list, wrongIds));
  EXPECT_TRUE(DeviceListWantsSerial(list, 0x1234, 0x10));
  EXPECT_FALSE(DeviceListWantsSerial(list, 0x1234, 0x20));
  EXPECT_FALSE(DeviceListWantsLabel(list, 0x1234, 0x20));
}

TEST(DevicesText, PlaceholdersAndDecisionTexts) {
  std::vector<XpString> args = {L"C:\\Tools\\view.exe", L"/Drive \"F\" -x", L"Viewer"};
  EXPECT_EQ(XpString(L"Launch: C:\\Tools\\view.exe /Drive \"F\" -x (rule Viewer)"),
            DevicesText::FormatPlaceholders(L"Launch: %1 %2 (rule %3)", args));
  // Placeholders without an argument and other percent signs stay as written.
  EXPECT_EQ(XpString(L"%4 100% %s Viewer%"), DevicesText::FormatPlaceholders(L"%4 100% %s %3%", args));
  // An argument's own placeholders are not expanded again.
  EXPECT_EQ(XpString(L"[%2]"), DevicesText::FormatPlaceholders(L"[%1]", {L"%2", L"x"}));

  DevicesText::Formats f;
  f.launch = L"Launch: %1 %2 (rule %3)";
  f.ignored = L"Ignored (rule %1)";
  f.importers = L"Importer modules";
  f.scores = L"Importer modules: %1";
  f.scoreItem = L"%1 scores %2";
  f.noModule = L"none";
  f.buses = DevicesText::SplitBars(L"Unknown|||USB|IEEE 1394|PCMCIA");
  ASSERT_EQ(6u, f.buses.size());
  ArrivalDecision d;
  d.kind = kDeviceRuleIgnore;
  d.rule.name = L"Stick";
  EXPECT_EQ(XpString(L"Ignored (rule Stick)"), DevicesText::DecisionText(d, f));
  EXPECT_EQ(XpString(L"Unknown"), DevicesText::BusText(d, f));
  EXPECT_EQ(XpString(), DevicesText::IdsText(d));
  d.identified = true;
  d.busType = 3;
  d.facts = Facts(0x58F, 0x6362);
  EXPECT_EQ(XpString(L"USB"), DevicesText::BusText(d, f));
  EXPECT_EQ(XpString(L"058F:6362"), DevicesText::IdsText(d));
  d.busType = 9;
  EXPECT_EQ(XpString(L"Unknown"), DevicesText::BusText(d, f));
  // The registry search of older systems leaves an id it cannot read at -1.
  d.facts.vendorId = 0xFFFFFFFF;
  EXPECT_EQ(XpString(), DevicesText::IdsText(d));
  EXPECT_EQ(XpString(L"Importer modules"), DevicesText::ImportersText(false, {}, f));
  EXPECT_EQ(XpString(L"none"), DevicesText::ImportersText(true, {}, f));
  EXPECT_EQ(XpString(L"Importer modules: A scores 5, B scores 100"),
            DevicesText::ImportersText(true, {{L"A", 5}, {L"B", 100}}, f));
}

// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER of this process point at two
// scratch keys for the test's duration.
class DeviceRulesRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    SHDeleteKeyW(HKEY_CURRENT_USER, kScratch);
    std::wstring base(kScratch);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, (base + L"\\machine").c_str(), 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &machine_, NULL));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, (base + L"\\user").c_str(), 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &user_, NULL));
    ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_));
    ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CURRENT_USER, user_));
    SetString(HKEY_LOCAL_MACHINE, L"Software\\Zelm Corporation\\Vantolo\\VolumeWatcher", L"CurrentVersion",
              L"7.1");
  }
  void TearDown() override {
    RegOverridePredefKey(HKEY_CURRENT_USER, NULL);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, NULL);
    if (machine_) RegCloseKey(machine_);
    if (user_) RegCloseKey(user_);
    SHDeleteKeyW(HKEY_CURRENT_USER, kScratch);
  }

  static void SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    HKEY key = NULL;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(root, path.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL));
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  static void AddRule(HKEY root, const wchar_t* list, const wchar_t* name, DWORD vid, DWORD pid,
                      const wchar_t* serial = nullptr, const wchar_t* label = nullptr) {
    std::wstring path = std::wstring(kVersioned) + L"\\" + list + L"\\" + name;
    HKEY key = NULL;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(root, path.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL));
    RegSetValueExW(key, L"VID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&vid), sizeof(vid));
    RegSetValueExW(key, L"PID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&pid), sizeof(pid));
    RegCloseKey(key);
    if (serial) SetString(root, path, L"SerialNumber", serial);
    if (label) SetString(root, path, L"VolumeLabel", label);
  }

  HKEY machine_ = NULL;
  HKEY user_ = NULL;
};

TEST_F(DeviceRulesRegistry, UserListsComeBeforeTheMachinesAndLaunchBeforeIgnore) {
  AddRule(HKEY_LOCAL_MACHINE, L"Launch", L"Viewer", 0x1234, 0x10);
  SetString(HKEY_LOCAL_MACHINE, std::wstring(kVersioned) + L"\\Launch\\Viewer", L"AppPath",
            L"C:\\Tools\\view.exe");
  AddRule(HKEY_LOCAL_MACHINE, L"Ignore", L"Stick", 0x1234, 0x20);
  DeviceListEntry found;
  EXPECT_EQ(kDeviceRuleLaunch, FindDeviceRule(ReadDeviceRules(), Facts(0x1234, 0x10), &found));
  EXPECT_EQ(XpString(L"Viewer"), found.name);
  EXPECT_EQ(DWORD(XpRegistry::kRootLocalMachine), found.root);
  EXPECT_EQ(kDeviceRuleIgnore, FindDeviceRule(ReadDeviceRules(), Facts(0x1234, 0x20), &found));
  EXPECT_EQ(kDeviceRuleNone, FindDeviceRule(ReadDeviceRules(), Facts(0x1234, 0x30), &found));

  // A user silences the machine's Launch entry for themselves, and starts
  // their own program for the machine's ignored stick.
  AddRule(HKEY_CURRENT_USER, L"Ignore", L"MyViewer", 0x1234, 0x10);
  AddRule(HKEY_CURRENT_USER, L"Launch", L"MyStick", 0x1234, 0x20);
  SetString(HKEY_CURRENT_USER, std::wstring(kVersioned) + L"\\Launch\\MyStick", L"AppPath",
            L"C:\\Mine\\s.exe");
  SetString(HKEY_CURRENT_USER, std::wstring(kVersioned) + L"\\Launch\\MyStick", L"CommandLine", L"-q");
  DeviceRules rules = ReadDeviceRules();
  EXPECT_EQ(kDeviceRuleIgnore, FindDeviceRule(rules, Facts(0x1234, 0x10), &found));
  EXPECT_EQ(XpString(L"MyViewer"), found.name);
  EXPECT_EQ(DWORD(XpRegistry::kRootCurrentUser), found.root);
  EXPECT_EQ(kDeviceRuleLaunch, FindDeviceRule(rules, Facts(0x1234, 0x20), &found));
  XpString program, commandLine;
  ReadLaunchCommand(found, &program, &commandLine);
  EXPECT_EQ(XpString(L"C:\\Mine\\s.exe"), program);
  EXPECT_EQ(XpString(L"-q"), commandLine);
  // The machine-only lookup of the ids still sees the machine's entry.
  DeviceListEntry path;
  EXPECT_TRUE(FindDeviceListEntry(XpString(L"Software/Zelm Corporation/Vantolo/VolumeWatcher/7.1/Launch"),
                                  0x1234, 0x10, &path));
}

TEST_F(DeviceRulesRegistry, SerialAndLabelEntriesBesideAGeneralOne) {
  AddRule(HKEY_LOCAL_MACHINE, L"Launch", L"AnyReader", 0x1234, 0x10);
  AddRule(HKEY_LOCAL_MACHINE, L"Launch", L"HolidayCards", 0x1234, 0x10, nullptr, L"holiday*");
  AddRule(HKEY_LOCAL_MACHINE, L"Ignore", L"OfficeReader", 0x1234, 0x10, L"SN-0001");
  // Present but empty: no criterion; a label that is not text: none either.
  AddRule(HKEY_LOCAL_MACHINE, L"Launch", L"Empty", 0x1234, 0x11, L"", L"");
  DeviceRules rules = ReadDeviceRules();
  EXPECT_TRUE(rules.wantsLabel(0x1234, 0x10));
  EXPECT_TRUE(rules.wantsSerial(0x1234, 0x10));
  EXPECT_FALSE(rules.wantsLabel(0x1234, 0x11));

  DeviceFacts card = Facts(0x1234, 0x10);
  card.labelKnown = true;
  card.label = L"HOLIDAY_2026";
  card.serialKnown = true;
  card.serial = L"sn-0001";
  DeviceListEntry found;
  // The Launch list decides before Ignore, and in it the labelled entry is the more specific.
  EXPECT_EQ(kDeviceRuleLaunch, FindDeviceRule(rules, card, &found));
  EXPECT_EQ(XpString(L"HolidayCards"), found.name);
  card.label = L"WORK";
  EXPECT_EQ(kDeviceRuleLaunch, FindDeviceRule(rules, card, &found));
  EXPECT_EQ(XpString(L"AnyReader"), found.name);
  EXPECT_EQ(kDeviceRuleLaunch, FindDeviceRule(rules, Facts(0x1234, 0x11), &found));
  EXPECT_EQ(XpString(L"Empty"), found.name);
  // The ids-only lookup for other callers passes over entries that want more.
  DeviceListEntry path;
  EXPECT_TRUE(FindDeviceListEntry(XpString(L"Software/Zelm Corporation/Vantolo/VolumeWatcher/7.1/Ignore"),
                                  0x1234, 0x10, &path) == false);
}

TEST_F(DeviceRulesRegistry, AddedUserIgnoreRuleSilencesTheDeviceUnderAFreeName) {
  DeviceFacts stick = Facts(0x058F, 0x6362);
  XpString first, second;
  ASSERT_EQ(XP_OK, AddUserIgnoreRule(stick, false, &first));
  EXPECT_EQ(XpString(L"Device 058F-6362"), first);
  stick.serialKnown = true;
  stick.serial = L"ABC";
  ASSERT_EQ(XP_OK, AddUserIgnoreRule(stick, true, &second));
  EXPECT_EQ(XpString(L"Device 058F-6362 (2)"), second);
  DeviceListEntry found;
  DeviceRules rules = ReadDeviceRules();
  EXPECT_EQ(kDeviceRuleIgnore, FindDeviceRule(rules, stick, &found));
  EXPECT_EQ(second, found.name) << "the rule with the serial is the more specific";
  EXPECT_EQ(XpString(L"ABC"), found.serial);
  EXPECT_EQ(0u, rules.lists[3].size()) << "nothing written for the machine";
  // The machine's lists are untouched; the rule lives under the user's key.
  HKEY key = NULL;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER,
                                         (std::wstring(kVersioned) + L"\\Ignore\\Device 058F-6362").c_str(),
                                         0, KEY_READ, &key));
  if (key) RegCloseKey(key);
}

TEST_F(DeviceRulesRegistry, WithoutAVersionNoRuleAndNoRuleWritten) {
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Zelm Corporation");
  XpString name;
  EXPECT_NE(XP_OK, AddUserIgnoreRule(Facts(1, 2), false, &name));
  EXPECT_EQ(kDeviceRuleNone, FindDeviceRule(ReadDeviceRules(), Facts(1, 2), nullptr));
}

// The window in this process, from the localisation library beside the test
// program: one at a time, closed with a bounded wait; a library without its
// template opens nothing.
TEST(DevicesWindow, OneAtATimeAndClosedWithTheIcon) {
  DevicesWindow::Open(GetModuleHandleW(NULL));
  Sleep(300);
  EXPECT_EQ(nullptr, DevicesWindow::Window()) << "opened without a template";

  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
  std::wstring loc(path, n);
  loc = loc.substr(0, loc.size() - 4) + L"LOC.DLL";
  HMODULE library = LoadLibraryW(loc.c_str());
  ASSERT_NE(nullptr, library);
  DevicesWindow::Open(library);
  HWND first = nullptr;
  for (int i = 0; i < 200 && !first; ++i, Sleep(50)) first = DevicesWindow::Window();
  ASSERT_NE(nullptr, first);
  EXPECT_NE(nullptr, GetDlgItem(first, IDC_DEVICES_LIST));
  DevicesWindow::Open(library);
  Sleep(300);
  EXPECT_EQ(first, DevicesWindow::Window());
  EXPECT_TRUE(IsWindow(first));
  DevicesWindow::Close(5000);
  EXPECT_EQ(nullptr, DevicesWindow::Window());
  EXPECT_FALSE(IsWindow(first));
  // And again after it was closed.
  DevicesWindow::Open(library);
  HWND second = nullptr;
  for (int i = 0; i < 200 && !second; ++i, Sleep(50)) second = DevicesWindow::Window();
  EXPECT_NE(nullptr, second);
  DevicesWindow::Close(5000);
  EXPECT_EQ(nullptr, DevicesWindow::Window());
  FreeLibrary(library);
}

}  // namespace
