#include "usbdriveinfo/XpUsbDriveSearch.h"

#include <winioctl.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

using namespace XpUsbDriveResult;

const DWORD kIoctlStorageGetDeviceNumber = 0x2D1080;
const DWORD kIoctlUsbGetNodeConnectionInformation = 0x22040C;
const DWORD kIoctlUsbGetDescriptorFromNodeConnection = 0x220410;

const GUID kDiskInterface = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
const GUID kHubInterface = {0xF18A0E88, 0xC30C, 0x11D0, {0x88, 0x15, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0xD8}};

// Manufacturer and description are read with 256 bytes.
const ULONG kNodeTextBytes = 256;
const int kNodeTextChars = kNodeTextBytes / sizeof(wchar_t);
const int kCallerTextChars = 256;
// A device instance id is at most 200 characters.
const ULONG kDeviceIdChars = 200;
// No real tree holds a disk this far below its USB device; a tree whose
// parents loop is cut off here.
const int kMaxClimb = 16;
// An enumeration that never reports its end is cut off here.
const DWORD kMaxDevices = 65536;
// An interface path never comes near this; larger answers are refused.
const DWORD kMaxInterfaceDetailBytes = 65536;

// Record layouts of the hub requests.
const DWORD kConnectionInfoBytes = 365;
const DWORD kConnIdVendor = 12;
const DWORD kConnIdProduct = 14;
const DWORD kConnBcdDevice = 16;
const DWORD kConnSerialIndex = 20;
const DWORD kDescriptorRequestBytes = 524;
const DWORD kDescriptorDataOffset = 12;
const DWORD kDescriptorDataBytes = 512;
const BYTE kStringDescriptorType = 3;
// A serial of 12 UTF-16 characters behind the 2-byte header.
const BYTE kSerialDescriptorLength = 26;
const int kSerialChars = 12;
// A descriptor's length byte allows at most 126 characters and the terminator.
const int kSerialTextChars = 128;

struct NodeTexts {
  // One unit more than the read can fill, so the text is always terminated.
  wchar_t manufacturer[kNodeTextChars + 1];
  wchar_t description[kNodeTextChars + 1];
};

// What the disk walk found out about the drive's USB device.
struct UsbDevicePlace {
  DEVINST usbNode;  // 0: none found
  int vendorId;
  int productId;
  DWORD port;  // on its hub; 0: unknown
  DEVINST hubNode;
};

void Put(int* target, int value) {
  if (target != nullptr) *target = value;
}

bool IsDriveLetter(wchar_t letter) {
  return (letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z');
}

HANDLE OpenDevice(IXpUsbDeviceApi& api, const wchar_t* path) {
  return api.CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
}

// A reply shorter than the record counts as a failed request.
bool ReadDeviceNumber(IXpUsbDeviceApi& api, HANDLE device, STORAGE_DEVICE_NUMBER* number) {
  STORAGE_DEVICE_NUMBER answer;
  std::memset(&answer, 0, sizeof(answer));
  DWORD returned = 0;
  if (!api.DeviceIoControl(device, kIoctlStorageGetDeviceNumber, &answer, sizeof(answer), &answer,
                           sizeof(answer), &returned))
    return false;
  if (returned < sizeof(answer)) return false;
  *number = answer;
  return true;
}

// Cleared first, so a property that does not fit gives an empty text.
void ReadNodeText(IXpUsbDeviceApi& api, DEVINST node, ULONG property, wchar_t (&text)[kNodeTextChars + 1]) {
  std::memset(text, 0, sizeof(text));
  ULONG length = kNodeTextBytes;
  if (api.CM_Get_DevNode_Registry_PropertyW(node, property, nullptr, text, &length, 0) != CR_SUCCESS)
    std::memset(text, 0, sizeof(text));
  text[kNodeTextChars] = 0;
}

// A parent equal to the node itself (or to the node below) is no parent.
bool GetParent(IXpUsbDeviceApi& api, DEVINST node, DEVINST below, DEVINST* parent) {
  DEVINST answer = 0;
  if (api.CM_Get_Parent(&answer, node, 0) != CR_SUCCESS) return false;
  if (answer == 0 || answer == node || answer == below) return false;
  *parent = answer;
  return true;
}

// The path of one interface of the set, in block, and the device exposing it.
const wchar_t* ReadInterfaceDetail(IXpUsbDeviceApi& api, HDEVINFO set, SP_DEVICE_INTERFACE_DATA* iface,
                                   XpUniqueHeapBlock* block, SP_DEVINFO_DATA* device) {
  DWORD required = 0;
  (void)api.SetupDiGetDeviceInterfaceDetailW(set, iface, nullptr, 0, &required, nullptr);
  const DWORD header = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
  if (required < header + sizeof(wchar_t) || required > kMaxInterfaceDetailBytes) return nullptr;
  // One spare terminator behind what the system fills.
  block->reset(std::calloc(required + sizeof(wchar_t) + sizeof(DWORD), 1));
  SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block->get());
  if (detail == nullptr) return nullptr;
  // The fixed part's own size: 6 bytes on 32-bit systems, 8 on 64-bit ones.
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  std::memset(device, 0, sizeof(*device));
  device->cbSize = sizeof(*device);
  if (!api.SetupDiGetDeviceInterfaceDetailW(set, iface, detail, required, nullptr, device)) return nullptr;
  wchar_t* path = detail->DevicePath;
  path[(required - header) / sizeof(wchar_t)] = 0;
  return path[0] != 0 ? path : nullptr;
}

// Exactly four hexadecimal digits.
bool ParseHex4(const wchar_t* text, int* value) {
  int result = 0;
  for (int i = 0; i < 4; ++i) {
    wchar_t c = text[i];
    int digit;
    if (c >= L'0' && c <= L'9')
      digit = c - L'0';
    else if (c >= L'a' && c <= L'f')
      digit = c - L'a' + 10;
    else if (c >= L'A' && c <= L'F')
      digit = c - L'A' + 10;
    else
      return false;
    result = result * 16 + digit;
  }
  *value = result;
  return true;
}

// "USB\VID_xxxx&PID_yyyy\instance" is a USB device. With anything after the
// product id ("&MI_nn") it is one interface of a composite device, whose
// ancestor is the device; hubs' own ids ("USB\ROOT_HUB30\...") have no ids.
bool ParseUsbDeviceId(const wchar_t* id, int* vendorId, int* productId) {
  if (_wcsnicmp(id, L"USB\\VID_", 8) != 0 || !ParseHex4(id + 8, vendorId)) return false;
  if (_wcsnicmp(id + 12, L"&PID_", 5) != 0 || !ParseHex4(id + 17, productId)) return false;
  return id[21] == L'\\';
}

// The nearest ancestor of the disk that is a USB device: directly above a
// bulk-only disk, above the SCSI adapter node of a UASP disk, above the
// interface node of a composite device. Returns 0 when the disk is not USB.
DEVINST FindUsbDevice(IXpUsbDeviceApi& api, DEVINST disk, int* vendorId, int* productId) {
  DEVINST below = 0;
  DEVINST node = disk;
  for (int depth = 0; depth < kMaxClimb; ++depth) {
    DEVINST parent = 0;
    if (!GetParent(api, node, below, &parent)) return 0;
    wchar_t id[kDeviceIdChars + 1];
    std::memset(id, 0, sizeof(id));
    // A node that cannot tell its id ends the climb: going on would take the
    // hub above it for the device.
    if (api.CM_Get_Device_IDW(parent, id, kDeviceIdChars, 0) != CR_SUCCESS) return 0;
    id[kDeviceIdChars] = 0;
    if (ParseUsbDeviceId(id, vendorId, productId)) return parent;
    below = node;
    node = parent;
  }
  return 0;
}

// Examines one disk interface of the set; fills place and texts when it is
// the volume's disk and sits below a USB device.
void ExamineDisk(IXpUsbDeviceApi& api, HDEVINFO set, SP_DEVICE_INTERFACE_DATA* iface,
                 const STORAGE_DEVICE_NUMBER& volume, UsbDevicePlace* place, NodeTexts* texts) {
  XpUniqueHeapBlock block;
  SP_DEVINFO_DATA disk;
  const wchar_t* path = ReadInterfaceDetail(api, set, iface, &block, &disk);
  if (path == nullptr) return;
  // The tree is asked first: a disk that is not USB is never opened.
  int vendorId = 0, productId = 0;
  DEVINST usbNode = FindUsbDevice(api, disk.DevInst, &vendorId, &productId);
  if (usbNode == 0) return;

  XpUsbApiHandle device(OpenDevice(api, path), XpUsbApiHandleTraits(&api));
  if (!device.valid()) return;
  STORAGE_DEVICE_NUMBER number;
  if (!ReadDeviceNumber(api, device.get(), &number)) return;
  // The partition number is not compared: the volume is one partition of the disk.
  if (number.DeviceType != volume.DeviceType || number.DeviceNumber != volume.DeviceNumber) return;

  DWORD address = 0;
  ULONG length = sizeof(address);
  if (api.CM_Get_DevNode_Registry_PropertyW(usbNode, CM_DRP_ADDRESS, nullptr, &address, &length, 0) !=
      CR_SUCCESS)
    address = 0;
  ReadNodeText(api, usbNode, CM_DRP_MFG, texts->manufacturer);
  ReadNodeText(api, usbNode, CM_DRP_DEVICEDESC, texts->description);
  DEVINST hubNode = 0;
  if (!GetParent(api, usbNode, disk.DevInst, &hubNode)) hubNode = 0;
  place->usbNode = usbNode;
  place->vendorId = vendorId;
  place->productId = productId;
  place->port = address;
  place->hubNode = hubNode;
}

// Opens the hub whose device node is hubNode, through its interface path.
HANDLE OpenHub(IXpUsbDeviceApi& api, HDEVINFO hubs, DEVINST hubNode) {
  for (DWORD index = 0; index < kMaxDevices; ++index) {
    SP_DEVICE_INTERFACE_DATA iface;
    std::memset(&iface, 0, sizeof(iface));
    iface.cbSize = sizeof(iface);
    if (!api.SetupDiEnumDeviceInterfaces(hubs, &kHubInterface, index, &iface)) break;
    XpUniqueHeapBlock block;
    SP_DEVINFO_DATA device;
    const wchar_t* path = ReadInterfaceDetail(api, hubs, &iface, &block, &device);
    if (path != nullptr && device.DevInst == hubNode) return OpenDevice(api, path);
  }
  return INVALID_HANDLE_VALUE;
}

// A string descriptor reply that passed its checks: bLength is at least 2,
// inside the reply, and the type is a string.
struct StringDescriptor {
  BYTE length;
  BYTE data[kDescriptorDataBytes];
};

bool RequestString(IXpUsbDeviceApi& api, HANDLE hub, DWORD port, BYTE index, WORD language,
                   StringDescriptor* reply) {
  BYTE request[kDescriptorRequestBytes];
  std::memset(request, 0, sizeof(request));
  std::memcpy(request, &port, sizeof(port));
  request[4] = 0x80;  // device to host, standard, device
  request[5] = 6;     // GET_DESCRIPTOR
  WORD value = static_cast<WORD>(0x0300 + index);
  WORD length = static_cast<WORD>(kDescriptorDataBytes);
  std::memcpy(request + 6, &value, sizeof(value));
  std::memcpy(request + 8, &language, sizeof(language));
  std::memcpy(request + 10, &length, sizeof(length));
  DWORD returned = 0;
  if (!api.DeviceIoControl(hub, kIoctlUsbGetDescriptorFromNodeConnection, request, sizeof(request), request,
                           sizeof(request), &returned))
    return false;
  if (returned > sizeof(request)) returned = sizeof(request);
  if (returned < kDescriptorDataOffset + 2) return false;
  DWORD available = returned - kDescriptorDataOffset;
  const BYTE* data = request + kDescriptorDataOffset;
  if (data[1] != kStringDescriptorType || data[0] < 2 || data[0] > available) return false;
  reply->length = data[0];
  std::memcpy(reply->data, data, data[0]);
  return true;
}

bool ParseSerialReply(const StringDescriptor& reply, std::uint64_t* serial) {
  if (reply.length != kSerialDescriptorLength) return false;
  wchar_t text[kSerialChars + 1];
  std::memcpy(text, reply.data + 2, kSerialChars * sizeof(wchar_t));
  text[kSerialChars] = 0;
  *serial = XpUsbParseHexSerial(text);
  return true;
}

void ReadSerial(IXpUsbDeviceApi& api, HANDLE hub, DWORD port, BYTE serialIndex, std::uint64_t* serial) {
  StringDescriptor reply;
  if (RequestString(api, hub, port, serialIndex, 0, &reply)) ParseSerialReply(reply, serial);
  if (*serial != 0) return;

  if (!RequestString(api, hub, port, 0, 0, &reply)) return;
  // An odd length leaves its last byte out; a bare header lists nothing.
  int count = reply.length / 2 - 1;
  WORD languages[kDescriptorDataBytes / 2];
  for (int i = 0; i < count; ++i) std::memcpy(&languages[i], reply.data + 2 + 2 * i, 2);
  for (int i = 0; i < count; ++i) {
    if (RequestString(api, hub, port, serialIndex, languages[i], &reply) && ParseSerialReply(reply, serial))
      return;
  }
}

// The characters of a string descriptor up to its first terminator; an odd
// length leaves its last byte out. Returns the number of characters.
int DescriptorText(const StringDescriptor& reply, wchar_t* text) {
  int count = (reply.length - 2) / 2;
  int n = 0;
  for (; n < count; ++n) {
    WORD unit;
    std::memcpy(&unit, reply.data + 2 + 2 * n, sizeof(unit));
    if (unit == 0) break;
    text[n] = static_cast<wchar_t>(unit);
  }
  text[n] = 0;
  return n;
}

// The whole serial-number text: the first non-empty reply, asked with
// language 0 and then with each language the device lists.
void ReadSerialText(IXpUsbDeviceApi& api, HANDLE hub, DWORD port, BYTE serialIndex,
                    wchar_t (&text)[kSerialTextChars]) {
  text[0] = 0;
  StringDescriptor reply;
  if (RequestString(api, hub, port, serialIndex, 0, &reply) && DescriptorText(reply, text) > 0) return;
  text[0] = 0;
  if (!RequestString(api, hub, port, 0, 0, &reply)) return;
  int count = reply.length / 2 - 1;
  WORD languages[kDescriptorDataBytes / 2];
  for (int i = 0; i < count; ++i) std::memcpy(&languages[i], reply.data + 2 + 2 * i, 2);
  for (int i = 0; i < count; ++i) {
    if (RequestString(api, hub, port, serialIndex, languages[i], &reply) && DescriptorText(reply, text) > 0)
      return;
    text[0] = 0;
  }
}

void CopyText(wchar_t* target, const wchar_t* source) {
  if (target == nullptr) return;
  int i = 0;
  for (; i < kCallerTextChars - 1 && source[i] != 0; ++i) target[i] = source[i];
  target[i] = 0;
}

}  // namespace

std::uint64_t XpUsbParseHexSerial(const wchar_t* text) {
  std::uint64_t value = 0;
  for (; *text != 0; ++text) {
    wchar_t c = *text;
    unsigned digit;
    if (c >= L'0' && c <= L'9')
      digit = static_cast<unsigned>(c - L'0');
    else if (c >= L'a' && c <= L'f')
      digit = static_cast<unsigned>(c - L'a' + 10);
    else if (c >= L'A' && c <= L'F')
      digit = static_cast<unsigned>(c - L'A' + 10);
    else
      break;
    value = value * 16 + digit;
  }
  return value;
}

namespace {

std::uint32_t Search(IXpUsbDeviceApi& api, wchar_t letter, int* busType, int* vendorId, int* productId,
                     wchar_t* manufacturer, wchar_t* product, std::uint64_t* serial, std::uint16_t* bcdDevice,
                     wchar_t (*serialText)[kSerialTextChars]) {
  if (serialText != nullptr) (*serialText)[0] = 0;
  if (serial != nullptr) *serial = 0;
  if (bcdDevice != nullptr) *bcdDevice = 0;
  Put(busType, 0);

  if (!IsDriveLetter(letter)) return kOpenFailed;
  wchar_t volumePath[] = L"\\\\.\\?:";
  volumePath[4] = letter;
  STORAGE_DEVICE_NUMBER volume;
  std::memset(&volume, 0, sizeof(volume));
  bool volumeKnown;
  {
    XpUsbApiHandle handle(OpenDevice(api, volumePath), XpUsbApiHandleTraits(&api));
    if (!handle.valid()) return kOpenFailed;
    volumeKnown = ReadDeviceNumber(api, handle.get(), &volume);
  }

  UsbDevicePlace place = {0, 0, 0, 0, 0};
  NodeTexts texts;
  std::memset(&texts, 0, sizeof(texts));
  {
    XpUsbApiDevInfo disks(api.SetupDiGetClassDevsW(&kDiskInterface, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
                          XpUsbApiDevInfoTraits(&api));
    if (!disks.valid()) return kOutOfMemory;
    // Without the volume's number no disk can be its disk.
    for (DWORD index = 0; volumeKnown && index < kMaxDevices && place.usbNode == 0; ++index) {
      SP_DEVICE_INTERFACE_DATA iface;
      std::memset(&iface, 0, sizeof(iface));
      iface.cbSize = sizeof(iface);
      if (!api.SetupDiEnumDeviceInterfaces(disks.get(), &kDiskInterface, index, &iface)) break;
      ExamineDisk(api, disks.get(), &iface, volume, &place, &texts);
    }
  }
  if (place.usbNode == 0) return kNotSupported;
  Put(busType, XP_USB_BUS_TYPE_USB_STORAGE);
  Put(vendorId, place.vendorId);
  Put(productId, place.productId);
  CopyText(manufacturer, texts.manufacturer);
  CopyText(product, texts.description);

  // The hub is asked only for what the device id does not carry.
  bool wantsPort = serial != nullptr || bcdDevice != nullptr || serialText != nullptr;
  if (!wantsPort || place.port == 0 || place.hubNode == 0) return kOk;
  XpUsbApiDevInfo hubs(api.SetupDiGetClassDevsW(&kHubInterface, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
                       XpUsbApiDevInfoTraits(&api));
  if (!hubs.valid()) return kOk;
  XpUsbApiHandle hub(OpenHub(api, hubs.get(), place.hubNode), XpUsbApiHandleTraits(&api));
  if (!hub.valid()) return kOk;

  BYTE connection[kConnectionInfoBytes];
  std::memset(connection, 0, sizeof(connection));
  std::memcpy(connection, &place.port, sizeof(place.port));
  DWORD returned = 0;
  if (!api.DeviceIoControl(hub.get(), kIoctlUsbGetNodeConnectionInformation, connection, sizeof(connection),
                           connection, sizeof(connection), &returned) ||
      returned <= kConnSerialIndex)
    return kOk;
  WORD idVendor, idProduct, release;
  std::memcpy(&idVendor, connection + kConnIdVendor, sizeof(idVendor));
  std::memcpy(&idProduct, connection + kConnIdProduct, sizeof(idProduct));
  std::memcpy(&release, connection + kConnBcdDevice, sizeof(release));
  // Another device at that port (the address went stale): its serial is not this one's.
  if (idVendor != place.vendorId || idProduct != place.productId) return kOk;
  BYTE serialIndex = connection[kConnSerialIndex];
  if (bcdDevice != nullptr) *bcdDevice = release;
  if (serial != nullptr && serialIndex != 0) ReadSerial(api, hub.get(), place.port, serialIndex, serial);
  if (serialText != nullptr && serialIndex != 0)
    ReadSerialText(api, hub.get(), place.port, serialIndex, *serialText);
  return kOk;
}

}  // namespace

std::uint32_t XpUsbDriveSearch(IXpUsbDeviceApi& api, wchar_t letter, int* busType, int* vendorId,
                               int* productId, wchar_t* manufacturer, wchar_t* product, std::uint64_t* serial,
                               std::uint16_t* bcdDevice) {
  return Search(api, letter, busType, vendorId, productId, manufacturer, product, serial, bcdDevice, nullptr);
}

std::uint32_t XpUsbGetSerialText(IXpUsbDeviceApi& api, wchar_t letter, wchar_t* buffer, std::uint32_t size) {
  if (buffer == nullptr || size == 0) return kBadArgument;
  buffer[0] = 0;
  int busType = 0, vendorId = 0, productId = 0;
  wchar_t text[kSerialTextChars];
  std::uint32_t result =
      Search(api, letter, &busType, &vendorId, &productId, nullptr, nullptr, nullptr, nullptr, &text);
  if (result != kOk) return result;
  if (text[0] == 0) return kNoSerial;
  std::uint32_t length = static_cast<std::uint32_t>(std::wcslen(text));
  std::uint32_t copied = length < size - 1 ? length : size - 1;
  std::memcpy(buffer, text, copied * sizeof(wchar_t));
  buffer[copied] = 0;
  return copied == length ? kOk : kBufferTooSmall;
}

std::uint32_t XpUsbGetVenIdAndProdId(IXpUsbDeviceApi& api, wchar_t letter, int* busType, int* vendorId,
                                     int* productId, wchar_t* manufacturer, wchar_t* product) {
  return XpUsbDriveSearch(api, letter, busType, vendorId, productId, manufacturer, product, nullptr, nullptr);
}

std::uint32_t XpUsbGetSerial(IXpUsbDeviceApi& api, wchar_t letter, std::uint64_t* serial) {
  return XpUsbGetSerialAndBcdDevice(api, letter, serial, nullptr);
}

std::uint32_t XpUsbGetSerialAndBcdDevice(IXpUsbDeviceApi& api, wchar_t letter, std::uint64_t* serial,
                                         std::uint16_t* bcdDevice) {
  if (bcdDevice != nullptr) *bcdDevice = 0;
  if (serial == nullptr) return kNoSerial;
  int busType = 0, vendorId = 0, productId = 0;
  std::uint32_t result =
      XpUsbDriveSearch(api, letter, &busType, &vendorId, &productId, nullptr, nullptr, serial, bcdDevice);
  if (*serial == 0) return kNoSerial;
  return result;
}
