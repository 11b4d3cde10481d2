#include "device/XpDriveDeviceInfo.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "platform/XpErrorMode.h"
#include "platform/XpFileSystem.h"
#include "platform/XpHandle.h"
#include "platform/XpOsVersion.h"
#include "usbdriveinfo/UsbDriveInfo.h"

namespace {

const int kLibraryTextChars = 256;
// A serial-number descriptor holds at most 126 characters.
const int kSerialTextChars = 128;
const DWORD kLetterBytes = 65;
// "Manufacturer", "DeviceDesc" and "HardWareKey" are read with 514 bytes.
const DWORD kTextValueBytes = 514;
const int kHardwareKeyChars = 256;
const DWORD kKeyNameChars = 256;

// Opens parent\path for reading into key; false when it cannot.
bool OpenKey(HKEY parent, const wchar_t* path, XpUniqueKey& key) {
  return RegOpenKeyExW(parent, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// Subkey name number index; false at the end. A name that does not fit is
// given back empty so the enumeration can go on past it.
bool EnumSubKey(HKEY key, DWORD index, wchar_t (&name)[kKeyNameChars]) {
  DWORD length = kKeyNameChars;
  LONG status = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
  if (status == ERROR_MORE_DATA) {
    name[0] = 0;
    return true;
  }
  if (status != ERROR_SUCCESS) return false;
  name[kKeyNameChars - 1] = 0;
  return true;
}

void Put(int* target, int value) {
  if (target != nullptr) *target = value;
}

// A text value of at most 514 bytes, terminated after the returned data.
bool ReadTextValue(HKEY key, const wchar_t* name, wchar_t (&text)[kTextValueBytes / 2 + 1]) {
  std::memset(text, 0, sizeof(text));
  DWORD size = kTextValueBytes;
  if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS)
    return false;
  if (size > kTextValueBytes) size = kTextValueBytes;
  text[size / sizeof(wchar_t)] = 0;
  return true;
}

// The number behind marker ("VID_", "PID_") in the instance name; target is
// left alone when the marker or the digits are missing.
void ParseId(const wchar_t* instance, const wchar_t* marker, int* target) {
  const wchar_t* found = std::wcsstr(instance, marker);
  if (found == nullptr) return;
  const wchar_t* digits = found + 4;
  wchar_t* end = nullptr;
  unsigned long value = std::wcstoul(digits, &end, 16);
  if (end != digits) Put(target, static_cast<int>(value));
}

int BusTypeOf(const wchar_t* instance) {
  if (_wcsnicmp(instance, L"USBSTOR&", 8) == 0) return XP_BUS_TYPE_USB_STORAGE;
  if (_wcsnicmp(instance, L"SBP2&", 5) == 0) return XP_BUS_TYPE_SBP2;
  if (_wcsnicmp(instance, L"PCMCIA&", 7) == 0) return XP_BUS_TYPE_PCMCIA;
  return XP_BUS_TYPE_UNKNOWN;
}

// The instance is a device the configuration manager has running now.
bool IsPresent(const wchar_t* instance) {
  XpUniqueKey enumKey;
  if (!OpenKey(HKEY_DYN_DATA, L"Config Manager\\Enum", enumKey)) return false;
  wchar_t name[kKeyNameChars];
  for (DWORD index = 0; EnumSubKey(enumKey.get(), index, name); ++index) {
    if (name[0] == 0) continue;
    XpUniqueKey node;
    if (!OpenKey(enumKey.get(), name, node)) continue;
    wchar_t hardwareKey[kTextValueBytes / 2 + 1];
    if (!ReadTextValue(node.get(), L"HardWareKey", hardwareKey)) continue;
    hardwareKey[kHardwareKeyChars] = 0;
    for (wchar_t* c = hardwareKey; *c != 0; ++c)
      if (*c == L'\\') *c = L'&';
    size_t length = std::wcslen(hardwareKey);
    // An empty key would equal every instance.
    if (length != 0 && _wcsnicmp(instance, hardwareKey, length) == 0) return true;
  }
  return false;
}

// The instance lists the letter among its drive letters and is present.
bool ListsLetterAndIsPresent(HKEY instanceKey, const wchar_t* instance, wchar_t letter) {
  BYTE letters[kLetterBytes];
  std::memset(letters, 0, sizeof(letters));
  DWORD size = sizeof(letters);
  if (RegQueryValueExW(instanceKey, L"CurrentDriveLetterAssignment", nullptr, nullptr, letters, &size) !=
      ERROR_SUCCESS)
    return false;
  if (size > sizeof(letters)) size = sizeof(letters);
  // Byte by byte: the characters and their zero bytes alike.
  for (DWORD i = 0; i < size; ++i) {
    if (XpToUpperAscii(static_cast<wchar_t>(letters[i])) == letter) return IsPresent(instance);
  }
  return false;
}

}  // namespace

namespace XpDeviceDetail {

[[nodiscard]] XpResult SearchScsiEnum(wchar_t letter, int* busType, int* vendorId, int* productId,
                                      XpString* manufacturer, XpString* description) {
  Put(vendorId, -1);
  Put(productId, -1);
  letter = XpToUpperAscii(letter);
  // Only a drive letter can be among the letter bytes (a zero would match every terminator).
  if (letter < L'A' || letter > L'Z') return XP_E_NOT_SUPPORTED;

  XpUniqueKey scsi;
  if (!OpenKey(HKEY_LOCAL_MACHINE, L"Enum\\Scsi", scsi)) return XP_E_NOT_SUPPORTED;
  wchar_t deviceName[kKeyNameChars];
  for (DWORD d = 0; EnumSubKey(scsi.get(), d, deviceName); ++d) {
    if (deviceName[0] == 0) continue;
    XpUniqueKey device;
    if (!OpenKey(scsi.get(), deviceName, device)) continue;
    wchar_t instance[kKeyNameChars];
    for (DWORD i = 0; EnumSubKey(device.get(), i, instance); ++i) {
      // Another prefix never counts, so its values are not even read: they
      // must not leak into the outputs of a later match.
      int type = BusTypeOf(instance);
      if (type == XP_BUS_TYPE_UNKNOWN) continue;
      XpUniqueKey instanceKey;
      if (!OpenKey(device.get(), instance, instanceKey)) continue;
      if (!ListsLetterAndIsPresent(instanceKey.get(), instance, letter)) continue;

      ParseId(instance, L"VID_", vendorId);
      ParseId(instance, L"PID_", productId);
      wchar_t text[kTextValueBytes / 2 + 1];
      if (manufacturer != nullptr && ReadTextValue(instanceKey.get(), L"Manufacturer", text))
        *manufacturer = text;
      if (description != nullptr && ReadTextValue(instanceKey.get(), L"DeviceDesc", text))
        *description = text;
      Put(busType, type);
      return XP_OK;
    }
  }
  return XP_E_NOT_SUPPORTED;
}

}  // namespace XpDeviceDetail

[[nodiscard]] XpResult GetDriveDeviceInfo(wchar_t letter, int* busType, int* vendorId, int* productId,
                                          XpString* manufacturer, XpString* description, bool checkExists) {
  if (checkExists) {
    wchar_t root[] = L"?:\\";
    root[0] = letter;
    DWORD attributes;
    {
      // No "insert a disk" box for an empty card-reader slot; only this
      // thread's mode changes, so other threads' probes are not disturbed.
      XpThreadErrorMode quiet;
      attributes = GetFileAttributesW(root);
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) return XP_E_FILE_NOT_FOUND;
  }

  DWORD platform = XP_OS_UNKNOWN;
  if (XpFailed(GetOsVersion(platform, nullptr, nullptr))) return XP_E_FAIL;

  if (platform != XP_OS_NT) {
    Put(busType, XP_BUS_TYPE_UNKNOWN);
    return XpDeviceDetail::SearchScsiEnum(letter, busType, vendorId, productId, manufacturer, description);
  }

  // Beside the program, by full path: the current folder and the search
  // path are not asked.
  XpUniqueModule library(LoadProgramLibrary(XpString(L"UsbDriveInfo.dll")));
  if (!library) return XP_E_FAIL;
  XpStgDevGetVenIdAndProdIdFn entry = reinterpret_cast<XpStgDevGetVenIdAndProdIdFn>(
      reinterpret_cast<void*>(GetProcAddress(library.get(), "XpStgDevGetVenIdAndProdId")));
  if (entry == nullptr) return XP_E_FAIL;

  // The library writes all three integers; callers may leave some out.
  int bus = 0, vendor = 0, product = 0;
  int* busOut = busType != nullptr ? busType : &bus;
  int* vendorOut = vendorId != nullptr ? vendorId : &vendor;
  int* productOut = productId != nullptr ? productId : &product;
  wchar_t makerText[kLibraryTextChars];
  wchar_t productText[kLibraryTextChars];
  std::memset(makerText, 0, sizeof(makerText));
  std::memset(productText, 0, sizeof(productText));
  XpResult result = entry(letter, busOut, vendorOut, productOut, makerText, productText);
  if (result == XP_OK) {
    makerText[kLibraryTextChars - 1] = 0;
    productText[kLibraryTextChars - 1] = 0;
    if (manufacturer != nullptr) *manufacturer = makerText;
    if (description != nullptr) *description = productText;
  }
  return result;
}

XpResult GetDriveSerialText(wchar_t letter, XpString* serial) {
  DWORD platform = XP_OS_UNKNOWN;
  if (XpFailed(GetOsVersion(platform, nullptr, nullptr))) return XP_E_FAIL;
  // The registry trees of Windows 95/98/Me do not hold the device's serial text.
  if (platform != XP_OS_NT) return XP_E_NOT_SUPPORTED;

  XpUniqueModule library(LoadProgramLibrary(XpString(L"UsbDriveInfo.dll")));
  if (!library) return XP_E_FAIL;
  XpStgDeviceGetUSBSerialTextFn entry = reinterpret_cast<XpStgDeviceGetUSBSerialTextFn>(
      reinterpret_cast<void*>(GetProcAddress(library.get(), "XpStgDeviceGetUSBSerialText")));
  if (entry == nullptr) return XP_E_FAIL;
  wchar_t text[kSerialTextChars];
  std::memset(text, 0, sizeof(text));
  XpResult result = entry(letter, text, kSerialTextChars);
  text[kSerialTextChars - 1] = 0;
  if (result == XP_OK && serial != nullptr) *serial = text;
  return result;
}
