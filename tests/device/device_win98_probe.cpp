// Started by the device tests under a per-program Windows 98 version setting:
// identifies each letter of argv[2] and writes one line per letter, UTF-16,
// into the file argv[1]: "<letter> <result> <bus> <vendor> <product> <maker>|<desc>".
#include <windows.h>

#include <cwchar>

#include "device/XpDriveDeviceInfo.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
#ifdef _MSC_VER
#pragma warning(suppress : 4996)
#endif
  GetVersionExW(&version);
  XpString out;
  out.Format(L"platform %lu\n", version.dwPlatformId);
  for (const wchar_t* letter = argv[2]; *letter != 0; ++letter) {
    int bus = 99, vendor = 99, product = 99;
    XpString maker(L"-"), desc(L"-");
    XpResult result = GetDriveDeviceInfo(*letter, &bus, &vendor, &product, &maker, &desc, false);
    out.AppendFormat(L"%c %04X %d %d %d %ls|%ls\n", *letter, result, bus, vendor, product, maker.c_str(),
                     desc.c_str());
  }
  HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(file, out.c_str(), static_cast<DWORD>(out.GetLength() * sizeof(wchar_t)), &written, nullptr);
  CloseHandle(file);
  return 0;
}
