// The built library under the system (Wine here): loaded by file name from
// beside this program, entry points found by their exact names.
#include "usbdriveinfo/UsbDriveInfo.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

class UsbDriveInfoDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    dir.resize(dir.find_last_of(L'\\') + 1);
    s_module = LoadLibraryW((dir + L"UsbDriveInfo.dll").c_str());
  }
  static void TearDownTestSuite() {
    if (s_module != nullptr) FreeLibrary(s_module);
    s_module = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(nullptr, s_module) << "UsbDriveInfo.dll not beside the test program";
    identify = reinterpret_cast<XpStgDevGetVenIdAndProdIdFn>(
        reinterpret_cast<void*>(GetProcAddress(s_module, "XpStgDevGetVenIdAndProdId")));
    serial = reinterpret_cast<XpStgDeviceGetUSBSerialFn>(
        reinterpret_cast<void*>(GetProcAddress(s_module, "XpStgDeviceGetUSBSerial")));
    serialAndBcd = reinterpret_cast<XpStgDeviceGetUSBSerialAndBcdDeviceFn>(
        reinterpret_cast<void*>(GetProcAddress(s_module, "XpStgDeviceGetUSBSerialAndBcdDevice")));
    ASSERT_NE(nullptr, identify);
    ASSERT_NE(nullptr, serial);
    ASSERT_NE(nullptr, serialAndBcd);
  }

  static wchar_t MissingLetter() {
    DWORD drives = GetLogicalDrives();
    for (int i = 25; i >= 3; --i)
      if ((drives & (1u << i)) == 0) return static_cast<wchar_t>(L'A' + i);
    return 0;
  }

  static HMODULE s_module;
  XpStgDevGetVenIdAndProdIdFn identify = nullptr;
  XpStgDeviceGetUSBSerialFn serial = nullptr;
  XpStgDeviceGetUSBSerialAndBcdDeviceFn serialAndBcd = nullptr;
};

HMODULE UsbDriveInfoDll::s_module = nullptr;

TEST_F(UsbDriveInfoDll, ExportsOnlyUndecoratedNames) {
  EXPECT_EQ(nullptr, GetProcAddress(s_module, "_XpStgDevGetVenIdAndProdId"));
  EXPECT_EQ(nullptr, GetProcAddress(s_module, "XpStgDeviceGetUSBSerial@8"));
  EXPECT_EQ(nullptr, GetProcAddress(s_module, "_XpStgDeviceGetUSBSerialAndBcdDevice@12"));
}

TEST_F(UsbDriveInfoDll, LetterWithoutVolumeDoesNotOpen) {
  wchar_t letter = MissingLetter();
  ASSERT_NE(0, letter);
  int bus = 9, vendor = 9, product = 9;
  wchar_t maker[256] = L"x", desc[256] = L"y";
  EXPECT_EQ(0x810Du, identify(letter, &bus, &vendor, &product, maker, desc));
  EXPECT_EQ(0, bus);
  EXPECT_EQ(9, vendor);
  EXPECT_STREQ(L"x", maker);
  std::uint64_t number = 5;
  EXPECT_EQ(0x8601u, serial(letter, &number));
  EXPECT_EQ(0u, number);
}

// Wine opens the system volume and lists no USB storage disk for it, so the
// search ends without a hub port.
TEST_F(UsbDriveInfoDll, SystemDriveIsNoUsbStorage) {
  int bus = 9, vendor = 9, product = 9;
  wchar_t maker[256] = L"x", desc[256] = L"y";
  EXPECT_EQ(0x8116u, identify(L'C', &bus, &vendor, &product, maker, desc));
  EXPECT_EQ(0, bus);
  EXPECT_EQ(9, vendor);
  EXPECT_EQ(0x8116u, identify(L'c', &bus, &vendor, &product, nullptr, nullptr));
  std::uint64_t number = 5;
  std::uint16_t bcd = 7;
  EXPECT_EQ(0x8601u, serialAndBcd(L'C', &number, &bcd));
  EXPECT_EQ(0u, number);
  EXPECT_EQ(0u, bcd);
}

}  // namespace
