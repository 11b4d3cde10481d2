// The USB vendor and product ids a device interface path carries, as the
// device identification reads them for devices that have no drive letter
// (phones, cameras).
#pragma once

#include <windows.h>

#include "platform/XpString.h"

namespace XpUsbDevicePath {

// Vendor and product id of a USB interface path \\?\usb#vid_XXXX&pid_YYYY#...
// or ...&pid_YYYY&mi_00#... (any letter case; "\??\" also taken as the
// prefix). False, with the outputs untouched, for any other path.
bool ParseUsbIds(const XpString& interfacePath, DWORD* vendorId, DWORD* productId);

// The serial number such a path carries: the device instance part when the
// device reported a serial (the system then uses it as the instance), empty
// when the system made the instance up (it holds "&") or for any other path.
XpString SerialOf(const XpString& interfacePath);

}  // namespace XpUsbDevicePath
