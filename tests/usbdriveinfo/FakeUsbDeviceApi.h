// A made-up device tree behind IXpUsbDeviceApi: volumes and disk interfaces
// that open, device nodes with parents, instance ids and properties, hubs with ports that answer
// connection and string-descriptor requests with whatever a test sets.
#pragma once

#include "usbdriveinfo/XpUsbDeviceApi.h"

#include <winioctl.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

class FakeUsbDeviceApi : public IXpUsbDeviceApi {
 public:
  // A reply to one string-descriptor request: the descriptor bytes as sent.
  struct StringReply {
    bool fails = false;
    std::vector<BYTE> bytes;
    // Bytes the request reports back beyond its 12-byte header; -1: all of bytes.
    int returnedData = -1;
  };
  struct Port {
    bool connectionFails = false;
    DWORD connectionReturned = 365;
    WORD idVendor = 0;
    WORD idProduct = 0;
    WORD bcdDevice = 0;
    BYTE serialIndex = 0;
    // Keyed by (descriptor index, language id).
    std::map<std::pair<BYTE, WORD>, StringReply> strings;
  };
  // Anything CreateFileW can open: a volume, a disk or a hub.
  struct Device {
    bool numberFails = false;
    DWORD numberReturned = sizeof(STORAGE_DEVICE_NUMBER);
    STORAGE_DEVICE_NUMBER number = {};
    std::map<DWORD, Port> ports;
  };
  struct Property {
    CONFIGRET result = CR_SUCCESS;
    std::vector<BYTE> bytes;
    // When the bytes do not fit: fill the buffer to its length and report
    // success anyway, instead of scribbling and reporting CR_BUFFER_SMALL.
    bool ignoreLength = false;
  };
  struct Node {
    DEVINST parent = 0;
    CONFIGRET parentResult = CR_SUCCESS;
    std::wstring id;  // the device instance id
    CONFIGRET idResult = CR_SUCCESS;
    Property address;
    Property manufacturer;
    Property description;
  };
  struct DiskEntry {
    DEVINST node = 0;
    std::wstring path;  // the disk interface path, opened as a device
    bool detailFails = false;
  };
  struct HubEntry {
    DEVINST node = 0;
    std::wstring path;
    bool noInterface = false;
    bool detailFails = false;
    DWORD requiredOverride = 0;  // 0: the true size
  };

  // The tree.
  std::map<std::wstring, Device> devices;  // by path
  std::map<DEVINST, Node> nodes;
  std::vector<DiskEntry> disks;
  std::vector<HubEntry> hubs;
  bool diskSetFails = false;
  bool hubSetFails = false;
  bool endlessDisks = false;  // the disk enumeration never reports its end

  // What the search did.
  std::set<HANDLE> openHandles;
  std::set<HDEVINFO> openSets;
  std::vector<std::wstring> opened;
  int parentCalls = 0;
  int enumCalls = 0;  // disk interface enumerations
  int descriptorRequests = 0;

  // Helpers for building trees.
  static std::vector<BYTE> Text(const wchar_t* text, bool terminated = true);
  static std::vector<BYTE> Dword(DWORD value);
  static StringReply Descriptor(const wchar_t* text);
  static StringReply Raw(std::vector<BYTE> bytes);
  static STORAGE_DEVICE_NUMBER DiskNumber(DWORD number, DWORD partition);
  // A node with its parent and instance id; a USB device's port address on its hub.
  Node& AddNode(DEVINST node, DEVINST parent, const std::wstring& id, DWORD port = 0);
  // A disk node with its interface, answering the device number given.
  void AddDisk(DEVINST node, DEVINST parent, const std::wstring& id, const std::wstring& path, DWORD number);
  // A volume "\\.\X:" on partition 1 of disk number.
  void AddVolume(wchar_t letter, DWORD number);

  HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) override;
  BOOL DeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                       DWORD* returned) override;
  BOOL CloseHandle(HANDLE handle) override;
  HDEVINFO SetupDiGetClassDevsW(const GUID* interfaceClass, DWORD flags) override;
  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, const GUID* interfaceClass, DWORD index,
                                   SP_DEVICE_INTERFACE_DATA* data) override;
  BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                        SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD size,
                                        DWORD* required, SP_DEVINFO_DATA* device) override;
  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override;
  CONFIGRET CM_Get_Parent(DEVINST* parent, DEVINST node, ULONG flags) override;
  CONFIGRET CM_Get_DevNode_Registry_PropertyW(DEVINST node, ULONG property, ULONG* type, void* buffer,
                                              ULONG* length, ULONG flags) override;
  CONFIGRET CM_Get_Device_IDW(DEVINST node, wchar_t* buffer, ULONG length, ULONG flags) override;

 private:
  std::map<HANDLE, std::wstring> m_handlePaths;
  uintptr_t m_nextHandle = 0x1000;
};
