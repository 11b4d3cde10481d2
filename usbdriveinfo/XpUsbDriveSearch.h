// The drive-to-USB-device search behind the three library exports. It finds
// the volume's disk among the disk interfaces by device number, climbs the
// device tree from the disk to the nearest USB device (bulk-only, UASP and
// composite devices alike, behind hubs at any depth) and takes the vendor and
// product ids from that device's id. Only the device release and the serial
// number are asked of the hub the device hangs on. Every system call goes
// through IXpUsbDeviceApi.
#pragma once

#include "usbdriveinfo/XpUsbDeviceApi.h"

#include <cstdint>

// The library links against nothing of the program, so it carries its own
// copies of the result codes it returns (same values as the program's).
namespace XpUsbDriveResult {
const std::uint32_t kOk = 0;
const std::uint32_t kOpenFailed = 0x810D;      // the volume does not open
const std::uint32_t kNotSupported = 0x8116;    // the volume's disk is not below a USB device
const std::uint32_t kOutOfMemory = 0x8401;     // a device information query failed
const std::uint32_t kNoSerial = 0x8601;        // no serial number obtained
const std::uint32_t kBadArgument = 0x8102;     // a required buffer is null or has no room
const std::uint32_t kBufferTooSmall = 0x8104;  // the text was cut to the buffer
}  // namespace XpUsbDriveResult

// Bus type written on success; 0 is written at the start of every search.
const int XP_USB_BUS_TYPE_USB_STORAGE = 3;

// The shared search. Integer outputs may be null (then they are not written);
// text buffers, when given, hold 256 wide characters and are always terminated.
// serial and bcdDevice are requested by passing non-null pointers.
std::uint32_t XpUsbDriveSearch(IXpUsbDeviceApi& api, wchar_t letter, int* busType, int* vendorId,
                               int* productId, wchar_t* manufacturer, wchar_t* product, std::uint64_t* serial,
                               std::uint16_t* bcdDevice);

// The exports' behaviour over a given api.
std::uint32_t XpUsbGetVenIdAndProdId(IXpUsbDeviceApi& api, wchar_t letter, int* busType, int* vendorId,
                                     int* productId, wchar_t* manufacturer, wchar_t* product);
// A null serial pointer gives kNoSerial without a search.
std::uint32_t XpUsbGetSerial(IXpUsbDeviceApi& api, wchar_t letter, std::uint64_t* serial);
std::uint32_t XpUsbGetSerialAndBcdDevice(IXpUsbDeviceApi& api, wchar_t letter, std::uint64_t* serial,
                                         std::uint16_t* bcdDevice);

// The serial-number string descriptor as the device reports it (up to its
// first terminator, at most 126 characters): the first non-empty reply asked
// with language 0, then with each language of the device's list. size counts
// wide characters with the terminator. 0; kBadArgument for a null buffer or
// size 0 (no search); kBufferTooSmall with the text cut to size - 1
// characters; kNoSerial without a serial; otherwise the search's code with an
// empty text.
std::uint32_t XpUsbGetSerialText(IXpUsbDeviceApi& api, wchar_t letter, wchar_t* buffer, std::uint32_t size);

// Reads the leading hexadecimal digits of a terminated text; stops at the first
// other character (no sign, blanks or "0x" prefix accepted). Overflow wraps.
std::uint64_t XpUsbParseHexSerial(const wchar_t* text);
