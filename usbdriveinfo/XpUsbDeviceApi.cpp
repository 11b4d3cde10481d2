#include "usbdriveinfo/XpUsbDeviceApi.h"

DWORD XpSystemUsbDeviceApi::QueryDosDeviceW(const wchar_t* name, wchar_t* targets, DWORD maxChars) {
  return ::QueryDosDeviceW(name, targets, maxChars);
}

HANDLE XpSystemUsbDeviceApi::CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                                         DWORD flags) {
  return ::CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
}

BOOL XpSystemUsbDeviceApi::DeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out,
                                           DWORD outSize, DWORD* returned) {
  return ::DeviceIoControl(device, code, in, inSize, out, outSize, returned, nullptr);
}

BOOL XpSystemUsbDeviceApi::CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }

HDEVINFO XpSystemUsbDeviceApi::SetupDiGetClassDevsW(const GUID* interfaceClass, DWORD flags) {
  return ::SetupDiGetClassDevsW(interfaceClass, nullptr, nullptr, flags);
}

BOOL XpSystemUsbDeviceApi::SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) {
  return ::SetupDiEnumDeviceInfo(set, index, device);
}

BOOL XpSystemUsbDeviceApi::SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                             DWORD property, BYTE* buffer, DWORD size,
                                                             DWORD* required) {
  return ::SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, buffer, size, required);
}

BOOL XpSystemUsbDeviceApi::SetupDiEnumDeviceInterfaces(HDEVINFO set, const GUID* interfaceClass, DWORD index,
                                                       SP_DEVICE_INTERFACE_DATA* data) {
  return ::SetupDiEnumDeviceInterfaces(set, nullptr, interfaceClass, index, data);
}

BOOL XpSystemUsbDeviceApi::SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                                            SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail,
                                                            DWORD size, DWORD* required) {
  return ::SetupDiGetDeviceInterfaceDetailW(set, data, detail, size, required, nullptr);
}

BOOL XpSystemUsbDeviceApi::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  return ::SetupDiDestroyDeviceInfoList(set);
}

CONFIGRET XpSystemUsbDeviceApi::CM_Get_Parent(DEVINST* parent, DEVINST node, ULONG flags) {
  return ::CM_Get_Parent(parent, node, flags);
}

CONFIGRET XpSystemUsbDeviceApi::CM_Get_DevNode_Registry_PropertyW(DEVINST node, ULONG property, ULONG* type,
                                                                  void* buffer, ULONG* length, ULONG flags) {
  return ::CM_Get_DevNode_Registry_PropertyW(node, property, type, buffer, length, flags);
}
