#include "device/XpDriveDeviceInfo.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/device/DeviceRegistryFixture.h"

namespace {

using namespace DeviceRegistryFixture;

// Devices are enumerated in name order under Wine, so "A_" keys come first.
const Instance kInstances[] = {
    {L"A_ABSENT", L"USBSTOR&VID_AAAA&PID_BBBB&0003", L"G", L"Gone", L"Absent Reader"},
    {L"A_OTHER", L"IDE&VID_5555&PID_6666&0001", L"H", L"Disk Maker", L"Hard Disk"},
    {L"B_LATER", L"SBP2&VID_1394&PID_0001&0001", L"G", L"Firewire Maker", L"1394 Disk"},
    {L"B_PCMCIA", L"PCMCIA&FLASH_CARD&0001", L"h", nullptr, nullptr},
    {L"C_NOIDS", L"USBSTOR&REV_0100&0002", L"F", nullptr, L"Stick"},
    {L"C_READER", L"USBSTOR&VID_1234&PID_00AB&0001", L"E", L"Maker", L"Card Reader"},
    {L"D_MULTI", L"usbstor&VID_0FCE&PID_D0A1&0001", L"JK", L"Phone Maker", L"Phone"},
};
// "HardWareKey" values of running devices; backslashes stand for "&".
const struct {
  const wchar_t* node;
  const wchar_t* hardwareKey;
} kPresent[] = {
    {L"XpTest00", L""},  // empty: must not make every device present
    {L"XpTest01", L"USBSTOR\\VID_1234&PID_00AB\\0001"},
    {L"XpTest02", L"usbstor\\rev_0100"},
    {L"XpTest03", L"SBP2\\VID_1394&PID_0001\\0001"},
    {L"XpTest04", L"PCMCIA\\FLASH_CARD\\0001"},
    {L"XpTest05", L"IDE\\VID_5555&PID_6666\\0001"},
    {L"XpTest06", L"USBSTOR\\VID_0FCE&PID_D0A1\\0001"},
};

class Win9xDeviceSearch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const Instance& i : kInstances) ASSERT_TRUE(AddInstance(i)) << "HKLM Enum\\Scsi not writable";
    for (const auto& p : kPresent)
      ASSERT_TRUE(AddPresent(p.node, p.hardwareKey)) << "HKEY_DYN_DATA not writable";
  }
  static void TearDownTestSuite() {
    for (const Instance& i : kInstances) RemoveDevice(i.device);
    for (const auto& p : kPresent) RemovePresent(p.node);
  }

  XpResult Search(wchar_t letter) {
    busType = vendorId = productId = 99;
    maker = L"-";
    desc = L"-";
    return XpDeviceDetail::SearchScsiEnum(letter, &busType, &vendorId, &productId, &maker, &desc);
  }

  int busType = 0, vendorId = 0, productId = 0;
  XpString maker, desc;
};

TEST_F(Win9xDeviceSearch, UsbStorageInstanceGivesBusTypeAndIdsFromItsName) {
  EXPECT_EQ(XP_OK, Search(L'E'));
  EXPECT_EQ(XP_BUS_TYPE_USB_STORAGE, busType);
  EXPECT_EQ(0x1234, vendorId);
  EXPECT_EQ(0xAB, productId);
  EXPECT_EQ(XpString(L"Maker"), maker);
  EXPECT_EQ(XpString(L"Card Reader"), desc);
  EXPECT_EQ(XP_OK, Search(L'e'));
  EXPECT_EQ(0x1234, vendorId);
  // A lower-case prefix still counts; the second listed letter is found too.
  EXPECT_EQ(XP_OK, Search(L'K'));
  EXPECT_EQ(0x0FCE, vendorId);
  EXPECT_EQ(0xD0A1, productId);
}

TEST_F(Win9xDeviceSearch, MissingVendorMarkerKeepsMinusOneAndStillMatches) {
  EXPECT_EQ(XP_OK, Search(L'F'));
  EXPECT_EQ(XP_BUS_TYPE_USB_STORAGE, busType);
  EXPECT_EQ(-1, vendorId);
  EXPECT_EQ(-1, productId);
  EXPECT_EQ(XpString(L"-"), maker);  // no value: untouched
  EXPECT_EQ(XpString(L"Stick"), desc);
}

TEST_F(Win9xDeviceSearch, AbsentDeviceIsSkippedAndTheSearchGoesOn) {
  EXPECT_EQ(XP_OK, Search(L'G'));
  EXPECT_EQ(XP_BUS_TYPE_SBP2, busType);
  EXPECT_EQ(0x1394, vendorId);
  EXPECT_EQ(0x0001, productId);
  EXPECT_EQ(XpString(L"Firewire Maker"), maker);
}

TEST_F(Win9xDeviceSearch, OtherPrefixIsNoMatchAndLeavesNothingBehind) {
  EXPECT_EQ(XP_OK, Search(L'H'));
  EXPECT_EQ(XP_BUS_TYPE_PCMCIA, busType);
  // Not the ids or texts of the "IDE&" instance that lists the same letter.
  EXPECT_EQ(-1, vendorId);
  EXPECT_EQ(-1, productId);
  EXPECT_EQ(XpString(L"-"), maker);
}

TEST_F(Win9xDeviceSearch, LetterNobodyListsIsNotSupported) {
  EXPECT_EQ(XP_E_NOT_SUPPORTED, Search(L'Q'));
  EXPECT_EQ(99, busType);
  EXPECT_EQ(-1, vendorId);
  EXPECT_EQ(XpString(L"-"), maker);
  // Not letters: a zero would otherwise equal the zero bytes of every value.
  EXPECT_EQ(XP_E_NOT_SUPPORTED, Search(0));
  EXPECT_EQ(XP_E_NOT_SUPPORTED, Search(L'1'));
  // Every output may be left out.
  EXPECT_EQ(XP_OK, XpDeviceDetail::SearchScsiEnum(L'E', nullptr, nullptr, nullptr, nullptr, nullptr));
}

std::wstring ProgramDir() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, length);
  return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

// The whole road under a Windows 98 version setting for a second program.
TEST_F(Win9xDeviceSearch, GetDriveDeviceInfoSearchesTheRegistryOnWindows98) {
  const wchar_t kAppKey[] = L"Software\\Wine\\AppDefaults\\device_win98_probe.exe";
  ASSERT_TRUE(WriteKey(HKEY_CURRENT_USER, kAppKey, {{L"Version", L"win98"}}));
  std::wstring dir = ProgramDir();
  std::wstring output = dir + L"device_win98_probe.out";
  DeleteFileW(output.c_str());
  std::wstring command = L"\"" + dir + L"device_win98_probe.exe\" \"" + output + L"\" EFGHQ";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(
      CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 60000));
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  SHDeleteKeyW(HKEY_CURRENT_USER, kAppKey);
  EXPECT_EQ(0u, code);

  HANDLE file = CreateFileW(output.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  wchar_t text[2048] = {};
  DWORD read = 0;
  ReadFile(file, text, sizeof(text) - sizeof(wchar_t), &read, nullptr);
  CloseHandle(file);
  DeleteFileW(output.c_str());
  EXPECT_EQ(std::wstring(L"platform 1\n"
                         L"E 0000 3 4660 171 Maker|Card Reader\n"
                         L"F 0000 3 -1 -1 -|Stick\n"
                         L"G 0000 4 5012 1 Firewire Maker|1394 Disk\n"
                         L"H 0000 5 -1 -1 -|-\n"
                         L"Q 8116 0 -1 -1 -|-\n"),
            std::wstring(text));
}

// This program runs as an NT-family program, and no UsbDriveInfo.dll lies
// beside it or on the search path.
TEST(DriveDeviceInfo, MissingLibraryFailsAndLeavesTheOutputs) {
  int bus = 99, vendor = 99, product = 99;
  XpString maker(L"keep"), desc(L"keep");
  EXPECT_EQ(XP_E_FAIL, GetDriveDeviceInfo(L'C', &bus, &vendor, &product, &maker, &desc, true));
  EXPECT_EQ(99, bus);
  EXPECT_EQ(99, vendor);
  EXPECT_EQ(XpString(L"keep"), maker);
  EXPECT_EQ(XpString(L"keep"), desc);
  EXPECT_EQ(XP_E_FAIL, GetDriveDeviceInfo(L'C', nullptr, nullptr, nullptr, nullptr, nullptr, false));
}

TEST(DriveDeviceInfo, VanishedDriveIsNotFoundWhenChecked) {
  DWORD drives = GetLogicalDrives();
  wchar_t missing = 0;
  for (int i = 25; i >= 3 && missing == 0; --i)
    if ((drives & (1u << i)) == 0) missing = static_cast<wchar_t>(L'A' + i);
  ASSERT_NE(0, missing);
  int bus = 99;
  XpString maker(L"keep");
  EXPECT_EQ(XP_E_FILE_NOT_FOUND, GetDriveDeviceInfo(missing, &bus, nullptr, nullptr, &maker, nullptr, true));
  EXPECT_EQ(99, bus);
  EXPECT_EQ(XpString(L"keep"), maker);
  EXPECT_EQ(XP_E_FILE_NOT_FOUND, GetDriveDeviceInfo(0, &bus, nullptr, nullptr, nullptr, nullptr, true));
}

}  // namespace
