#include "usbdriveinfo/XpUsbDeviceApi.h"

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

BOOL XpSystemUsbDeviceApi::SetupDiEnumDeviceInterfaces(HDEVINFO set, const GUID* interfaceClass, DWORD index,
                                                       SP_DEVICE_INTERFACE_DATA* data) {
  return ::SetupDiEnumDeviceInterfaces(set, nullptr, interfaceClass, index, data);
}

BOOL XpSystemUsbDeviceApi::SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                                            SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail,
                                                            DWORD size, DWORD* required,
                                                            SP_DEVINFO_DATA* device) {
  return ::SetupDiGetDeviceInterfaceDetailW(set, data, detail, size, required, device);
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

CONFIGRET XpSystemUsbDeviceApi::CM_Get_Device_IDW(DEVINST node, wchar_t* buffer, ULONG length, ULONG flags) {
  return ::CM_Get_Device_IDW(node, buffer, length, flags);
}
