// From a drive letter to the device behind it: bus type and, for USB, the
// vendor and product ids with the device's manufacturer and description. On
// NT-family systems UsbDriveInfo.dll answers (loaded by name for each call);
// on Windows 95/98/Me the program searches the registry trees those systems keep.
#pragma once

#include "platform/XpResult.h"
#include "platform/XpString.h"

// Bus types.
const int XP_BUS_TYPE_UNKNOWN = 0;
const int XP_BUS_TYPE_USB_STORAGE = 3;  // "USBSTOR&"
const int XP_BUS_TYPE_SBP2 = 4;         // "SBP2&", IEEE 1394
const int XP_BUS_TYPE_PCMCIA = 5;       // "PCMCIA&"

// Returns 0; XP_E_FAIL when the version query, the library load or the entry
// point lookup fails; XP_E_FILE_NOT_FOUND (0x8105) when checkExists is set and
// the drive's root does not exist; XP_E_NOT_SUPPORTED (0x8116) when no device
// matches; on NT-family systems also the library's codes (0x810D, 0x8401).
// On Windows 95/98/Me the ids are -1 when they cannot be parsed. Every output
// may be null; texts are written only on success.
[[nodiscard]] XpResult GetDriveDeviceInfo(wchar_t letter, int* busType, int* vendorId, int* productId,
                                          XpString* manufacturer, XpString* description, bool checkExists);

// The whole USB serial-number text of the drive's device, as the device
// reports it (UsbDriveInfo.dll's XpStgDeviceGetUSBSerialText, loaded for the
// call). 0; the library's codes (0x8601 without a serial); XP_E_FAIL when the
// library or its entry point is missing; XP_E_NOT_SUPPORTED on Windows
// 95/98/Me, whose registry does not hold it. serial is written only on success.
[[nodiscard]] XpResult GetDriveSerialText(wchar_t letter, XpString* serial);

namespace XpDeviceDetail {

// The Windows 95/98/Me search: instances under HKEY_LOCAL_MACHINE "Enum\Scsi"
// that list the letter in "CurrentDriveLetterAssignment" and are present in
// HKEY_DYN_DATA "Config Manager\Enum". 0 on a classified match, 0x8116 otherwise.
// Outputs as for GetDriveDeviceInfo (busType is written only on a match).
[[nodiscard]] XpResult SearchScsiEnum(wchar_t letter, int* busType, int* vendorId, int* productId,
                                      XpString* manufacturer, XpString* description);

}  // namespace XpDeviceDetail
