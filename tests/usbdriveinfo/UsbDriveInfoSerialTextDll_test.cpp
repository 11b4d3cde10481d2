// The serial-text export of the built library, found by its exact name.
#include "usbdriveinfo/UsbDriveInfo.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

XpStgDeviceGetUSBSerialTextFn SerialTextExport(HMODULE* module) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, length);
  dir.resize(dir.find_last_of(L'\\') + 1);
  *module = LoadLibraryW((dir + L"UsbDriveInfo.dll").c_str());
  if (*module == nullptr) return nullptr;
  return reinterpret_cast<XpStgDeviceGetUSBSerialTextFn>(
      reinterpret_cast<void*>(GetProcAddress(*module, "XpStgDeviceGetUSBSerialText")));
}

TEST(UsbDriveInfoSerialTextDll, BadBuffersMissingDrivesAndNonUsbDrives) {
  HMODULE module = nullptr;
  XpStgDeviceGetUSBSerialTextFn serialText = SerialTextExport(&module);
  ASSERT_NE(nullptr, serialText);
  wchar_t text[64] = L"untouched";
  EXPECT_EQ(0x8102u, serialText(L'C', nullptr, 64));
  EXPECT_EQ(0x8102u, serialText(L'C', text, 0));
  EXPECT_STREQ(L"untouched", text);
  DWORD drives = GetLogicalDrives();
  wchar_t missing = 0;
  for (int i = 25; i >= 3 && missing == 0; --i)
    if ((drives & (1u << i)) == 0) missing = static_cast<wchar_t>(L'A' + i);
  ASSERT_NE(0, missing);
  EXPECT_EQ(0x810Du, serialText(missing, text, 64));
  EXPECT_STREQ(L"", text);
  text[0] = L'x';
  EXPECT_EQ(0x8116u, serialText(L'C', text, 64));
  EXPECT_STREQ(L"", text);
  FreeLibrary(module);
}

}  // namespace
