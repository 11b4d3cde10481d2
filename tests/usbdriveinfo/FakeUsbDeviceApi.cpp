#include "tests/usbdriveinfo/FakeUsbDeviceApi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

const GUID kDisk = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
const GUID kHub = {0xF18A0E88, 0xC30C, 0x11D0, {0x88, 0x15, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0xD8}};
HDEVINFO const kDiskSet = reinterpret_cast<HDEVINFO>(static_cast<uintptr_t>(0x2001));
HDEVINFO const kHubSet = reinterpret_cast<HDEVINFO>(static_cast<uintptr_t>(0x2002));

}  // namespace

std::vector<BYTE> FakeUsbDeviceApi::Text(const wchar_t* text, bool terminated) {
  size_t units = std::wcslen(text) + (terminated ? 1 : 0);
  std::vector<BYTE> bytes(units * sizeof(wchar_t));
  std::memcpy(bytes.data(), text, bytes.size());
  return bytes;
}

std::vector<BYTE> FakeUsbDeviceApi::Dword(DWORD value) {
  std::vector<BYTE> bytes(sizeof(value));
  std::memcpy(bytes.data(), &value, sizeof(value));
  return bytes;
}

FakeUsbDeviceApi::StringReply FakeUsbDeviceApi::Descriptor(const wchar_t* text) {
  std::vector<BYTE> bytes = Text(text, false);
  bytes.insert(bytes.begin(), 3);
  bytes.insert(bytes.begin(), static_cast<BYTE>(bytes.size() + 1));
  return Raw(bytes);
}

FakeUsbDeviceApi::StringReply FakeUsbDeviceApi::Raw(std::vector<BYTE> bytes) {
  StringReply reply;
  reply.bytes = std::move(bytes);
  return reply;
}

STORAGE_DEVICE_NUMBER FakeUsbDeviceApi::DiskNumber(DWORD number, DWORD partition) {
  STORAGE_DEVICE_NUMBER n;
  n.DeviceType = FILE_DEVICE_DISK;
  n.DeviceNumber = number;
  n.PartitionNumber = partition;
  return n;
}

FakeUsbDeviceApi::Node& FakeUsbDeviceApi::AddNode(DEVINST node, DEVINST parent, const std::wstring& id,
                                                  DWORD port) {
  Node& n = nodes[node];
  n.parent = parent;
  n.id = id;
  if (port != 0) n.address.bytes = Dword(port);
  return n;
}

void FakeUsbDeviceApi::AddDisk(DEVINST node, DEVINST parent, const std::wstring& id, const std::wstring& path,
                               DWORD number) {
  AddNode(node, parent, id);
  DiskEntry disk;
  disk.node = node;
  disk.path = path;
  disks.push_back(disk);
  devices[path].number = DiskNumber(number, 0);
}

void FakeUsbDeviceApi::AddVolume(wchar_t letter, DWORD number) {
  std::wstring path = L"\\\\.\\?:";
  path[4] = letter;
  devices[path].number = DiskNumber(number, 1);
}

HANDLE FakeUsbDeviceApi::CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                                     DWORD flags) {
  EXPECT_EQ(0u, access);
  EXPECT_EQ(static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE), share);
  EXPECT_EQ(static_cast<DWORD>(OPEN_EXISTING), disposition);
  EXPECT_EQ(0u, flags);
  opened.push_back(path);
  if (devices.find(path) == devices.end()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE handle = reinterpret_cast<HANDLE>(m_nextHandle++);
  m_handlePaths[handle] = path;
  openHandles.insert(handle);
  return handle;
}

BOOL FakeUsbDeviceApi::DeviceIoControl(HANDLE handle, DWORD code, void* in, DWORD inSize, void* out,
                                       DWORD outSize, DWORD* returned) {
  auto open = m_handlePaths.find(handle);
  if (open == m_handlePaths.end() || openHandles.count(handle) == 0) {
    ADD_FAILURE() << "request on a handle that is not open";
    return FALSE;
  }
  Device& device = devices[open->second];
  EXPECT_EQ(in, out);
  EXPECT_EQ(inSize, outSize);
  BYTE* buffer = static_cast<BYTE*>(out);
  *returned = 0;
  if (code == 0x2D1080) {
    EXPECT_EQ(sizeof(STORAGE_DEVICE_NUMBER), outSize);
    if (device.numberFails) return FALSE;
    std::memcpy(buffer, &device.number,
                std::min<DWORD>(device.numberReturned, sizeof(STORAGE_DEVICE_NUMBER)));
    *returned = device.numberReturned;
    return TRUE;
  }
  DWORD portIndex = 0;
  std::memcpy(&portIndex, buffer, sizeof(portIndex));
  auto port = device.ports.find(portIndex);
  if (code == 0x22040C) {
    EXPECT_EQ(365u, outSize);
    if (port == device.ports.end() || port->second.connectionFails) return FALSE;
    std::memset(buffer + 4, 0, outSize - 4);
    buffer[4] = 18;  // device descriptor
    buffer[5] = 1;
    std::memcpy(buffer + 12, &port->second.idVendor, 2);
    std::memcpy(buffer + 14, &port->second.idProduct, 2);
    std::memcpy(buffer + 16, &port->second.bcdDevice, 2);
    buffer[20] = port->second.serialIndex;
    *returned = port->second.connectionReturned;
    return TRUE;
  }
  if (code == 0x220410) {
    ++descriptorRequests;
    EXPECT_EQ(524u, outSize);
    EXPECT_EQ(0x80, buffer[4]);
    EXPECT_EQ(6, buffer[5]);
    EXPECT_EQ(3, buffer[7]);
    WORD length = 0;
    std::memcpy(&length, buffer + 10, 2);
    EXPECT_EQ(512, length);
    WORD language = 0;
    std::memcpy(&language, buffer + 8, 2);
    if (port == device.ports.end()) return FALSE;
    auto reply = port->second.strings.find(std::make_pair(buffer[6], language));
    if (reply == port->second.strings.end() || reply->second.fails) return FALSE;
    size_t copied = std::min<size_t>(reply->second.bytes.size(), 512);
    std::memcpy(buffer + 12, reply->second.bytes.data(), copied);
    *returned = 12 + (reply->second.returnedData < 0 ? static_cast<DWORD>(copied)
                                                     : static_cast<DWORD>(reply->second.returnedData));
    return TRUE;
  }
  ADD_FAILURE() << "unexpected control code " << code;
  return FALSE;
}

BOOL FakeUsbDeviceApi::CloseHandle(HANDLE handle) {
  if (openHandles.erase(handle) == 0) {
    ADD_FAILURE() << "closing a handle that is not open";
    return FALSE;
  }
  return TRUE;
}

HDEVINFO FakeUsbDeviceApi::SetupDiGetClassDevsW(const GUID* interfaceClass, DWORD flags) {
  HDEVINFO set = INVALID_HANDLE_VALUE;
  if (IsEqualGUID(*interfaceClass, kDisk)) {
    EXPECT_EQ(0x12u, flags);
    if (!diskSetFails) set = kDiskSet;
  } else if (IsEqualGUID(*interfaceClass, kHub)) {
    EXPECT_EQ(0x12u, flags);
    if (!hubSetFails) set = kHubSet;
  } else {
    ADD_FAILURE() << "unexpected interface class";
  }
  if (set != INVALID_HANDLE_VALUE) {
    EXPECT_EQ(0u, openSets.count(set)) << "set opened twice";
    openSets.insert(set);
  }
  return set;
}

BOOL FakeUsbDeviceApi::SetupDiEnumDeviceInterfaces(HDEVINFO set, const GUID* interfaceClass, DWORD index,
                                                   SP_DEVICE_INTERFACE_DATA* data) {
  EXPECT_EQ(1u, openSets.count(set));
  EXPECT_TRUE(IsEqualGUID(*interfaceClass, set == kDiskSet ? kDisk : kHub));
  EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DATA), data->cbSize);
  if (set == kDiskSet) {
    ++enumCalls;
    if (endlessDisks && !disks.empty()) index = 0;
    if (index >= disks.size()) {
      SetLastError(ERROR_NO_MORE_ITEMS);
      return FALSE;
    }
  } else if (index >= hubs.size() || hubs[index].noInterface) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->Reserved = index;
  return TRUE;
}

BOOL FakeUsbDeviceApi::SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                                        SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD size,
                                                        DWORD* required, SP_DEVINFO_DATA* device) {
  EXPECT_EQ(1u, openSets.count(set));
  HubEntry entry;
  if (set == kDiskSet) {
    const DiskEntry& disk = disks.at(data->Reserved);
    entry.node = disk.node;
    entry.path = disk.path;
    entry.detailFails = disk.detailFails;
  } else {
    entry = hubs.at(data->Reserved);
  }
  DWORD header = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
  DWORD needed = header + static_cast<DWORD>((entry.path.size() + 1) * sizeof(wchar_t));
  if (required != nullptr) *required = entry.requiredOverride != 0 ? entry.requiredOverride : needed;
  if (detail == nullptr || size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  // What the system checks: the fixed part's size of this platform.
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) ||
      (device != nullptr && device->cbSize != sizeof(SP_DEVINFO_DATA))) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (entry.detailFails) return FALSE;
  std::memcpy(detail->DevicePath, entry.path.c_str(), (entry.path.size() + 1) * sizeof(wchar_t));
  if (device != nullptr) device->DevInst = entry.node;
  return TRUE;
}

BOOL FakeUsbDeviceApi::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  if (openSets.erase(set) == 0) {
    ADD_FAILURE() << "destroying a set that is not open";
    return FALSE;
  }
  return TRUE;
}

CONFIGRET FakeUsbDeviceApi::CM_Get_Parent(DEVINST* parent, DEVINST node, ULONG flags) {
  ++parentCalls;
  EXPECT_EQ(0u, flags);
  auto found = nodes.find(node);
  if (found == nodes.end()) return CR_NO_SUCH_DEVNODE;
  if (found->second.parentResult != CR_SUCCESS) return found->second.parentResult;
  *parent = found->second.parent;
  return CR_SUCCESS;
}

CONFIGRET FakeUsbDeviceApi::CM_Get_DevNode_Registry_PropertyW(DEVINST node, ULONG property, ULONG* type,
                                                              void* buffer, ULONG* length, ULONG flags) {
  EXPECT_EQ(0u, flags);
  auto found = nodes.find(node);
  if (found == nodes.end()) return CR_NO_SUCH_DEVNODE;
  const Property* p = nullptr;
  if (property == CM_DRP_ADDRESS)
    p = &found->second.address;
  else if (property == CM_DRP_MFG)
    p = &found->second.manufacturer;
  else if (property == CM_DRP_DEVICEDESC)
    p = &found->second.description;
  else
    ADD_FAILURE() << "unexpected property " << property;
  if (p == nullptr) return CR_FAILURE;
  if (type != nullptr) *type = property == CM_DRP_ADDRESS ? REG_DWORD : REG_SZ;
  if (p->bytes.empty()) return p->result == CR_SUCCESS ? CR_NO_SUCH_VALUE : p->result;
  if (p->bytes.size() > *length) {
    // Fill what was offered with the property's start, as a careless driver would.
    std::memcpy(buffer, p->bytes.data(), *length);
    if (p->ignoreLength) return CR_SUCCESS;
    *length = static_cast<ULONG>(p->bytes.size());
    return CR_BUFFER_SMALL;
  }
  std::memcpy(buffer, p->bytes.data(), p->bytes.size());
  *length = static_cast<ULONG>(p->bytes.size());
  return p->result;
}

CONFIGRET FakeUsbDeviceApi::CM_Get_Device_IDW(DEVINST node, wchar_t* buffer, ULONG length, ULONG flags) {
  EXPECT_EQ(0u, flags);
  auto found = nodes.find(node);
  if (found == nodes.end()) return CR_NO_SUCH_DEVNODE;
  if (found->second.idResult != CR_SUCCESS) return found->second.idResult;
  const std::wstring& id = found->second.id;
  if (id.size() > length) return CR_BUFFER_SMALL;
  std::copy(id.begin(), id.end(), buffer);
  // As the system does: the terminator only when there is room for it.
  if (id.size() < length) buffer[id.size()] = 0;
  return CR_SUCCESS;
}
