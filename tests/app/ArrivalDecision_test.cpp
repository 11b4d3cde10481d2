// The one decision road, driven through the application object's own
// callbacks for every kind of device, with made-up devices behind a drive
// letter the test system does not have: the rules of both roots, serial and
// label rules, entry names with "/", the argument forms, and the Devices
// window's text for the same decision. The program runs in a scratch registry.
#include "app/ArrivalDecision.h"
#include "app/DevicesWindow.h"
#include "app/VolumeWatcherApp.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/XpTestSupport.h"

namespace {

const wchar_t kWatcher[] = L"Software\\Zelm Corporation\\Vantolo\\VolumeWatcher";
const wchar_t kVersioned[] = L"Software\\Zelm Corporation\\Vantolo\\VolumeWatcher\\4.2";
// A phone seen as one device (its serial is the instance) and as a composite
// function (the system made the instance up).
const wchar_t kPhone[] = L"\\\\?\\usb#vid_04e8&pid_6860#r58m12ab#{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
const wchar_t kSlashPhone[] =
    L"\\\\?\\usb#vid_04e8&pid_6861&ms_comp_mtp#6&1e6d7b7a&0&0000#{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
const wchar_t kCamcorder[] =
    L"\\\\?\\1394#sony&dcr-trv#0800460102030405#{6bdd1fc6-810f-11d0-bec7-08002be2092f}";

// One USB card reader behind Q:, with a serial and a card labelled HOLIDAY.
class FakeIdentification : public IDeviceIdentification {
 public:
  XpResult identifyDrive(wchar_t letter, int* busType, DWORD* vendorId, DWORD* productId) override {
    if (letter != L'Q') return XP_E_NOT_SUPPORTED;
    *busType = 3;
    *vendorId = 0x1234;
    *productId = 0x0010;
    return XP_OK;
  }
  XpResult driveSerial(wchar_t letter, XpString* serial) override {
    ++serialQuestions;
    if (letter != L'Q') return XP_E_NOT_SUPPORTED;
    *serial = L"SN-0001";
    return XP_OK;
  }
  bool volumeLabel(const XpString&, XpString* label) override {
    ++labelQuestions;
    *label = L"HOLIDAY_26";
    return true;
  }
  int serialQuestions = 0;
  int labelQuestions = 0;
};

class Recorder : public IArrivalObserver {
 public:
  void OnVolumesChanged() override { ++changes; }
  void OnArrivalDecided(const ArrivalDecision& decision) override { decisions.push_back(decision); }
  // The callbacks below all decide on the test's own thread.
  ArrivalDecision Last() {
    EXPECT_FALSE(decisions.empty());
    return decisions.empty() ? ArrivalDecision() : decisions.back();
  }
  int changes = 0;
  std::vector<ArrivalDecision> decisions;
};

class ArrivalRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(xptest::SetString(HKEY_LOCAL_MACHINE, kWatcher, L"CurrentVersion", L"4.2"));
    // An application object of the test's own: its module registry and
    // what it remembers of arrivals go with it. Never started, so it hears
    // no broadcast; it decides whatever its callbacks are given.
    app_.reset(new VolumeWatcherApp);
    app_->setDeviceIdentification(&identification_);
    ASSERT_EQ(XP_OK, app_->addObserver(&recorder_));
  }
  void TearDown() override {
    (void)app_->removeObserver(&recorder_);
    app_.reset();
    xptest::DeleteTree(HKEY_CURRENT_USER, L"Software\\Zelm Corporation");
    xptest::DeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Zelm Corporation");
  }
  static void Rule(HKEY root, const std::wstring& list, const std::wstring& name, DWORD vid, DWORD pid) {
    std::wstring path = std::wstring(kVersioned) + L"\\" + list + L"\\" + name;
    // RegCreateKeyExW takes "/" as a character of the name.
    ASSERT_TRUE(xptest::SetDword(root, path, L"VID", vid));
    ASSERT_TRUE(xptest::SetDword(root, path, L"PID", pid));
  }
  static void Value(HKEY root, const std::wstring& entry, const wchar_t* name, const wchar_t* value) {
    ASSERT_TRUE(xptest::SetString(root, std::wstring(kVersioned) + L"\\" + entry, name, value));
  }

  std::unique_ptr<VolumeWatcherApp> app_;
  FakeIdentification identification_;
  Recorder recorder_;
};

TEST_F(ArrivalRoad, EveryKindReadsBothRootsSerialsAndSlashNames) {
  Rule(HKEY_LOCAL_MACHINE, L"Launch", L"Viewer", 0x1234, 0x0010);
  Value(HKEY_LOCAL_MACHINE, L"Launch\\Viewer", L"AppPath", L"C:\\Absent\\view.exe");
  Value(HKEY_LOCAL_MACHINE, L"Launch\\Viewer", L"CommandLine", L"-x");
  // The phone's owner silenced it for themselves; the machine launches it.
  Rule(HKEY_LOCAL_MACHINE, L"Launch", L"Phones", 0x04E8, 0x6860);
  Value(HKEY_LOCAL_MACHINE, L"Launch\\Phones", L"AppPath", L"C:\\Absent\\phone.exe");
  Rule(HKEY_CURRENT_USER, L"Ignore", L"My phone", 0x04E8, 0x6860);
  Rule(HKEY_LOCAL_MACHINE, L"Launch", L"Phone 5/8", 0x04E8, 0x6861);
  Value(HKEY_LOCAL_MACHINE, L"Launch\\Phone 5/8", L"AppPath", L"C:\\Absent\\phone.exe");
  Value(HKEY_LOCAL_MACHINE, L"Launch\\Phone 5/8", L"CommandLine", L"-phone");
  VolumeWatcherApp& app = *app_;

  // A volume: the ids alone decide; no rule asks for the serial or label.
  app.OnVolumeArrival(L"Q:\\");
  ArrivalDecision card = recorder_.Last();
  EXPECT_EQ(kDeviceRuleLaunch, card.kind);
  EXPECT_EQ(XpString(L"Viewer"), card.rule.name);
  EXPECT_EQ(XpString(L"C:\\Absent\\view.exe"), card.program);
  EXPECT_EQ(XpString(L"/Drive \"Q\" -x"), card.arguments);
  EXPECT_EQ(0, identification_.serialQuestions + identification_.labelQuestions);
  EXPECT_GE(recorder_.changes, 1);

  // The user's Ignore list applies to a phone before the machine's Launch.
  app.OnPortableDeviceArrival(kPhone);
  ArrivalDecision phone = recorder_.Last();
  EXPECT_EQ(kDeviceRuleIgnore, phone.kind);
  EXPECT_EQ(XpString(L"My phone"), phone.rule.name);
  EXPECT_EQ(XpString(L"r58m12ab"), phone.facts.serial);

  // A Launch entry named with "/" keeps its command line for a phone.
  app.OnPortableDeviceArrival(kSlashPhone);
  ArrivalDecision slash = recorder_.Last();
  EXPECT_EQ(kDeviceRuleLaunch, slash.kind);
  EXPECT_EQ(XpString(L"Phone 5/8"), slash.rule.name);
  EXPECT_EQ(XpString(L"C:\\Absent\\phone.exe"), slash.program);
  EXPECT_EQ(XpString(L"/Device \"") + kSlashPhone + L"\" -phone", slash.arguments);
  EXPECT_FALSE(slash.facts.serialKnown) << "a made-up instance is no serial";

  // IEEE 1394 devices go to the importer modules; the lists do not apply.
  size_t before = recorder_.decisions.size();
  app.OnDeviceArrival(kCamcorder);
  ASSERT_EQ(before + 1, recorder_.decisions.size());
  EXPECT_EQ(kDeviceRuleNone, recorder_.Last().kind);
  EXPECT_EQ(DWORD(SF_DEVICE_1394), recorder_.Last().deviceKind);

  // A rule for one card by serial and label, more specific than the model's:
  // now the reader's serial and the card's label are asked for.
  Rule(HKEY_CURRENT_USER, L"Ignore", L"Office card", 0x1234, 0x0010);
  Value(HKEY_CURRENT_USER, L"Ignore\\Office card", L"SerialNumber", L"sn-0001");
  Value(HKEY_CURRENT_USER, L"Ignore\\Office card", L"VolumeLabel", L"holiday*");
  app.OnVolumeRemoval(L"Q:\\");
  app.OnVolumeArrival(L"Q:\\");
  EXPECT_EQ(kDeviceRuleIgnore, recorder_.Last().kind);
  EXPECT_EQ(XpString(L"Office card"), recorder_.Last().rule.name);
  EXPECT_EQ(1, identification_.serialQuestions);
  EXPECT_EQ(1, identification_.labelQuestions);
  // A phone has no label: a rule asking for one never matches it.
  Rule(HKEY_CURRENT_USER, L"Launch", L"Labelled phone", 0x04E8, 0x6861);
  Value(HKEY_CURRENT_USER, L"Launch\\Labelled phone", L"VolumeLabel", L"*");
  EXPECT_EQ(XpString(L"Phone 5/8"), DecideForDevice(SF_DEVICE_PORTABLE, kSlashPhone).rule.name);

  // A drive whose device is not known goes to the importers, decided too.
  app.OnVolumeArrival(L"R:\\");
  EXPECT_EQ(kDeviceRuleNone, recorder_.Last().kind);
  EXPECT_FALSE(recorder_.Last().identified);
}

TEST_F(ArrivalRoad, DevicesWindowShowsTheSameDecision) {
  Rule(HKEY_CURRENT_USER, L"Launch", L"Reader 5/8", 0x1234, 0x0010);
  Value(HKEY_CURRENT_USER, L"Launch\\Reader 5/8", L"AppPath", L"C:\\Absent\\view.exe");
  Value(HKEY_CURRENT_USER, L"Launch\\Reader 5/8", L"CommandLine", L"-s");
  DevicesText::Formats f;
  f.launch = L"Launch: %1 %2 (rule %3)";
  f.importers = L"Importer modules";
  f.buses = DevicesText::SplitBars(L"Unknown|||USB");
  ArrivalDecision shown = DecideForVolume(L"Q:\\", app_->deviceIdentification(), true);
  EXPECT_EQ(XpString(L"Launch: C:\\Absent\\view.exe /Drive \"Q\" -s (rule Reader 5/8)"),
            DevicesText::DecisionText(shown, f));
  EXPECT_EQ(XpString(L"USB"), DevicesText::BusText(shown, f));
  EXPECT_EQ(XpString(L"1234:0010"), DevicesText::IdsText(shown));
  // Shown with every fact, asked for or not.
  EXPECT_EQ(XpString(L"SN-0001"), shown.facts.serial);
  EXPECT_EQ(XpString(L"HOLIDAY_26"), shown.facts.label);
  ArrivalDecision unknown = DecideForVolume(L"R:\\", app_->deviceIdentification(), true);
  EXPECT_EQ(XpString(L"Importer modules"), DevicesText::DecisionText(unknown, f));
  EXPECT_EQ(XpString(L"Unknown"), DevicesText::BusText(unknown, f));
}

}  // namespace
