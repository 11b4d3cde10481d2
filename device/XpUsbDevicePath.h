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

}  // namespace XpUsbDevicePath
