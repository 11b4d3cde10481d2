// The functions that UsbDriveInfo.dll exports under these exact names,
// caller-cleans. The program does not link the library; it loads it by name
// and uses these pointer types.
#pragma once

#include <cstdint>

#ifdef XP_USBDRIVEINFO_BUILD
#define XP_USBDRIVEINFO_API extern "C" __declspec(dllexport)
#else
#define XP_USBDRIVEINFO_API extern "C"
#endif

// Drive letter (either case) to bus type 3 and the USB vendor and product id
// (zero-extended); manufacturer and product are caller buffers of 256 wide
// characters or null. Returns 0, 0x810D, 0x8116 or 0x8401.
XP_USBDRIVEINFO_API std::uint32_t __cdecl XpStgDevGetVenIdAndProdId(wchar_t letter, int* busType,
                                                                    int* vendorId, int* productId,
                                                                    wchar_t* manufacturer, wchar_t* product);
// The 48-bit number of a 12-character hexadecimal serial; 0x8601 without one.
XP_USBDRIVEINFO_API std::uint32_t __cdecl XpStgDeviceGetUSBSerial(wchar_t letter, std::uint64_t* serial);
// As XpStgDeviceGetUSBSerial, and the device release number (bcdDevice may be null).
XP_USBDRIVEINFO_API std::uint32_t __cdecl XpStgDeviceGetUSBSerialAndBcdDevice(wchar_t letter,
                                                                              std::uint64_t* serial,
                                                                              std::uint16_t* bcdDevice);

// The whole serial-number text of the drive's USB device (at most 126
// characters) into buffer, which holds size wide characters with the
// terminator. 0; 0x8102 for a null buffer or size 0; 0x8104 with the text cut
// to the buffer; 0x8601 without a serial; 0x810D, 0x8116 or 0x8401 as above,
// each with an empty text.
XP_USBDRIVEINFO_API std::uint32_t __cdecl XpStgDeviceGetUSBSerialText(wchar_t letter, wchar_t* buffer,
                                                                      std::uint32_t size);

typedef std::uint32_t(__cdecl* XpStgDevGetVenIdAndProdIdFn)(wchar_t, int*, int*, int*, wchar_t*, wchar_t*);
typedef std::uint32_t(__cdecl* XpStgDeviceGetUSBSerialFn)(wchar_t, std::uint64_t*);
typedef std::uint32_t(__cdecl* XpStgDeviceGetUSBSerialAndBcdDeviceFn)(wchar_t, std::uint64_t*,
                                                                      std::uint16_t*);
typedef std::uint32_t(__cdecl* XpStgDeviceGetUSBSerialTextFn)(wchar_t, wchar_t*, std::uint32_t);
