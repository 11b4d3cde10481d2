// The library's exports: the shared search over the system's own functions.
#include "usbdriveinfo/UsbDriveInfo.h"

#include "usbdriveinfo/XpUsbDriveSearch.h"

namespace {
// Stateless, so one object serves every call on every thread.
XpSystemUsbDeviceApi g_systemApi;
}  // namespace

std::uint32_t __cdecl XpStgDevGetVenIdAndProdId(wchar_t letter, int* busType, int* vendorId, int* productId,
                                                wchar_t* manufacturer, wchar_t* product) {
  return XpUsbGetVenIdAndProdId(g_systemApi, letter, busType, vendorId, productId, manufacturer, product);
}

std::uint32_t __cdecl XpStgDeviceGetUSBSerial(wchar_t letter, std::uint64_t* serial) {
  return XpUsbGetSerial(g_systemApi, letter, serial);
}

std::uint32_t __cdecl XpStgDeviceGetUSBSerialAndBcdDevice(wchar_t letter, std::uint64_t* serial,
                                                          std::uint16_t* bcdDevice) {
  return XpUsbGetSerialAndBcdDevice(g_systemApi, letter, serial, bcdDevice);
}

std::uint32_t __cdecl XpStgDeviceGetUSBSerialText(wchar_t letter, wchar_t* buffer, std::uint32_t size) {
  return XpUsbGetSerialText(g_systemApi, letter, buffer, size);
}
