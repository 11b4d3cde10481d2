// Launch and Ignore entries whose key names hold "/" (a reader's model name,
// say) are opened as listed, matched, and their application read.
#include "app/LaunchSettings.h"

#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kList[] = L"Software\\Zelm Corporation\\VantoloNames\\Launch";

bool Set(const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY key = NULL;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
      ERROR_SUCCESS)
    return false;
  LONG r = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

bool SetDword(const std::wstring& path, const wchar_t* name, DWORD value) {
  return Set(path, name, REG_DWORD, &value, sizeof(value));
}

bool SetString(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  return Set(path, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

TEST(LaunchListNames, EntryNamesWithASlashAreMatchedAndRead) {
  std::wstring entry = std::wstring(kList) + L"\\Card Reader 5/8";
  // RegCreateKeyExW takes "/" as a character of the name.
  ASSERT_TRUE(SetDword(entry, L"VID", 0x1234));
  ASSERT_TRUE(SetDword(entry, L"PID", 0x0058));
  ASSERT_TRUE(SetString(entry, L"AppPath", L"C:\\Tools\\view.exe"));
  ASSERT_TRUE(SetString(entry, L"CommandLine", L"-s"));
  std::wstring list = kList;
  for (auto& c : list)
    if (c == L'\\') c = L'/';
  DeviceListEntry found;
  EXPECT_TRUE(FindDeviceListEntry(XpString(list.c_str()), 0x1234, 0x0058, &found));
  EXPECT_EQ(XpString((list + L"/Card Reader 5/8").c_str()), found.path);
  EXPECT_EQ(XpString(L"Card Reader 5/8"), found.name);
  XpString program, commandLine;
  ReadLaunchCommand(found, &program, &commandLine);
  EXPECT_EQ(XpString(L"C:\\Tools\\view.exe"), program);
  EXPECT_EQ(XpString(L"/Drive \"E\" -s"), FormatLaunchArguments(L'E', commandLine));
  SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Zelm Corporation\\VantoloNames");
}
