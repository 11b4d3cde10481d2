// Writes a Windows 95/98/Me device tree into the registry of the test prefix:
// instances under HKEY_LOCAL_MACHINE "Enum\Scsi" and presence entries under
// HKEY_DYN_DATA "Config Manager\Enum" (both writable under Wine), and removes
// them again.
#pragma once

#include <windows.h>

#include <shlwapi.h>

#include <string>
#include <vector>

#include "tests/support/XpTestSupport.h"

namespace DeviceRegistryFixture {

struct Instance {
  const wchar_t* device;        // key under Enum\Scsi
  const wchar_t* instance;      // key under the device
  const wchar_t* letters;       // "CurrentDriveLetterAssignment"
  const wchar_t* manufacturer;  // null: no value
  const wchar_t* description;
};

inline bool SetText(HKEY key, const wchar_t* name, const wchar_t* text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

inline bool WriteKey(HKEY root, const std::wstring& path,
                     const std::vector<std::pair<const wchar_t*, const wchar_t*>>& values) {
  xptest::Key key = xptest::CreateKey(root, path);
  if (!key) return false;
  bool ok = true;
  for (const auto& value : values)
    if (value.second != nullptr) ok = SetText(key.get(), value.first, value.second) && ok;
  return ok;
}

inline bool AddInstance(const Instance& i) {
  return WriteKey(HKEY_LOCAL_MACHINE, std::wstring(L"Enum\\Scsi\\") + i.device + L"\\" + i.instance,
                  {{L"CurrentDriveLetterAssignment", i.letters},
                   {L"Manufacturer", i.manufacturer},
                   {L"DeviceDesc", i.description}});
}

// A running device; the node name is made unique by the caller.
inline bool AddPresent(const wchar_t* node, const wchar_t* hardwareKey) {
  return WriteKey(HKEY_DYN_DATA, std::wstring(L"Config Manager\\Enum\\") + node,
                  {{L"HardWareKey", hardwareKey}});
}

inline void RemoveDevice(const wchar_t* device) {
  xptest::DeleteTree(HKEY_LOCAL_MACHINE, std::wstring(L"Enum\\Scsi\\") + device);
}

inline void RemovePresent(const wchar_t* node) {
  xptest::DeleteTree(HKEY_DYN_DATA, std::wstring(L"Config Manager\\Enum\\") + node);
}

}  // namespace DeviceRegistryFixture
