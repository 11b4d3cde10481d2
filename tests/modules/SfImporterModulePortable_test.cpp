// The portable-device kind (4): only modules registered for it, in the
// registry or by a registration file, are asked about a device path, and they
// are asked about nothing else.
#include "modules/SfImporterModule.h"

#include <gtest/gtest.h>

#include "tests/modules/ModulesTestSupport.h"

using namespace modtest;

namespace {

const wchar_t kPhonePath[] = L"\\\\?\\usb#vid_04e8&pid_6860#R58M#{6ac27878-a6fa-4155-ba85-f98f491d4f33}";

}  // namespace

TEST(PortableDeviceKind, OnlyModulesOfTheKindAreAskedAndTheBestStarts) {
  ClearSuiteState();
  ScratchDir modules(L"xp_mod_portable"), volume(L"xp_mod_portable_volume"), regs(L"xp_mod_portable_regs");
  ImporterRegistration phones;
  phones.subkey = L"Phones";
  phones.location = modules / L"Phones";
  phones.exeName = L"Phones.exe";
  phones.supportedDevice = SF_DEVICE_PORTABLE;
  std::wstring phonesExe = InstallModule(phones.location, phones.exeName);
  Register(phones);
  ImporterRegistration cards = phones;
  cards.subkey = L"Cards";
  cards.location = modules / L"Cards";
  cards.exeName = L"Cards.exe";
  cards.supportedDevice = SF_DEVICE_VOLUME | SF_DEVICE_1394;
  std::wstring cardsExe = InstallModule(cards.location, cards.exeName);
  WriteText(SideFile(cardsExe, L".score"), "90");
  Register(cards);
  // Volumes and portable devices, by file; it scores above the reference's 50.
  std::wstring bothExe = InstallModule(modules / L"Both", L"Both.exe");
  WriteText(SideFile(bothExe, L".score"), "60");
  AddRegistrationFolder(L"Tests", regs.Path());
  WritePlist(regs / L"both.xml", {{L"AppName", "string", L"Both"},
                                  {L"GroupApp", "true", L""},
                                  {L"DisplayLevel", "integer", L"6"},
                                  {L"InstallSettingName", "string", L"TestTools/Both"},
                                  {L"InstalledLocation", "string", modules / L"Both"},
                                  {L"ExeName", "string", L"Both.exe"},
                                  {L"SupportedDeviceMask", "integer", L"5"}});
  {
    SfImporterModuleManager manager;
    ASSERT_EQ(3u, manager.modules().size());
    SfImporterModulePtr chosen = manager.selectFor(kPhonePath, SF_DEVICE_PORTABLE);
    ASSERT_FALSE(chosen.IsNull());
    EXPECT_STREQ(L"TestTools/Both", chosen->key().c_str());
    EXPECT_TRUE(ReadLog(cardsExe).empty()) << "a volume and IEEE 1394 module was asked about a phone";
    ASSERT_EQ(1u, ReadLog(phonesExe).size());
    EXPECT_EQ(L"\"" + phonesExe + L"\" /importscore " + kPhonePath, ReadLog(phonesExe)[0]);
    EXPECT_EQ(1u, ReadLog(bothExe).size());

    // Volumes and IEEE 1394 devices never reach the portable-device module.
    ClearLog(bothExe);
    manager.selectFor((volume.Path() + L"\\").c_str(), SF_DEVICE_VOLUME);
    manager.selectFor(L"\\\\?\\1394#camcorder#1#{095780c3-48a1-4570-bd95-46707f78c2dc}", SF_DEVICE_1394);
    EXPECT_EQ(1u, ReadLog(phonesExe).size());
    EXPECT_EQ(1u, ReadLog(bothExe).size()) << "asked about the volume only";
    EXPECT_EQ(2u, ReadLog(cardsExe).size());
  }
  ClearSuiteState();
}
