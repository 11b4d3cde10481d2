// GetDriveDeviceInfo with the built UsbDriveInfo.dll beside this program:
// the NT-family road loads it by name and passes its answers on.
#include "device/XpDriveDeviceInfo.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

wchar_t MissingLetter() {
  DWORD drives = GetLogicalDrives();
  for (int i = 25; i >= 3; --i)
    if ((drives & (1u << i)) == 0) return static_cast<wchar_t>(L'A' + i);
  return 0;
}

TEST(DriveDeviceInfoWithLibrary, SystemDriveIsNoUsbDeviceUnderWine) {
  int bus = 99, vendor = 99, product = 99;
  XpString maker(L"keep"), desc(L"keep");
  EXPECT_EQ(XP_E_NOT_SUPPORTED, GetDriveDeviceInfo(L'C', &bus, &vendor, &product, &maker, &desc, true));
  EXPECT_EQ(0, bus);
  EXPECT_EQ(99, vendor);
  EXPECT_EQ(XpString(L"keep"), maker);
  EXPECT_EQ(XpString(L"keep"), desc);
  // The library is released after each call: it is not left loaded.
  EXPECT_EQ(nullptr, GetModuleHandleW(L"UsbDriveInfo.dll"));
  EXPECT_EQ(XP_E_NOT_SUPPORTED, GetDriveDeviceInfo(L'c', nullptr, nullptr, nullptr, nullptr, nullptr, false));
}

TEST(DriveDeviceInfoWithLibrary, MissingDriveIsNotFoundOrDoesNotOpen) {
  wchar_t missing = MissingLetter();
  ASSERT_NE(0, missing);
  int bus = 99, vendor = 99, product = 99;
  EXPECT_EQ(XP_E_FILE_NOT_FOUND,
            GetDriveDeviceInfo(missing, &bus, &vendor, &product, nullptr, nullptr, true));
  EXPECT_EQ(99, bus);
  EXPECT_EQ(XP_E_OPEN_FAILED, GetDriveDeviceInfo(missing, &bus, &vendor, &product, nullptr, nullptr, false));
  EXPECT_EQ(0, bus);
  EXPECT_EQ(99, vendor);
}

}  // namespace
