// The operating-system calls the drive search makes, behind one small
// interface: the library passes the real functions, tests pass a made-up
// device tree. Each operation has the meaning and the argument rules of the
// system function of the same name.
#pragma once

#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include "platform/XpHandle.h"

class IXpUsbDeviceApi {
 public:
  virtual ~IXpUsbDeviceApi() {}

  // Security attributes and template are always null.
  virtual HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                             DWORD flags) = 0;
  // Always synchronous (no OVERLAPPED).
  virtual BOOL DeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                               DWORD* returned) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;

  // Enumerator and parent window are always null.
  virtual HDEVINFO SetupDiGetClassDevsW(const GUID* interfaceClass, DWORD flags) = 0;
  // Every device of the set (the device filter is always null).
  virtual BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, const GUID* interfaceClass, DWORD index,
                                           SP_DEVICE_INTERFACE_DATA* data) = 0;
  // device, when not null, receives the device that exposes the interface.
  virtual BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                                SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD size,
                                                DWORD* required, SP_DEVINFO_DATA* device) = 0;
  virtual BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) = 0;

  virtual CONFIGRET CM_Get_Parent(DEVINST* parent, DEVINST node, ULONG flags) = 0;
  virtual CONFIGRET CM_Get_DevNode_Registry_PropertyW(DEVINST node, ULONG property, ULONG* type, void* buffer,
                                                      ULONG* length, ULONG flags) = 0;
  virtual CONFIGRET CM_Get_Device_IDW(DEVINST node, wchar_t* buffer, ULONG length, ULONG flags) = 0;
};

// Forwards every call to the system. Keeps no state; one object serves every thread.
class XpSystemUsbDeviceApi : public IXpUsbDeviceApi {
 public:
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
};

// Owners of what the interface hands out, closing through the same interface
// so that a made-up device tree sees its own handles closed.
template <BOOL (IXpUsbDeviceApi::*CloseFunction)(HANDLE)>
struct XpUsbApiTraits {
  typedef HANDLE Type;
  explicit XpUsbApiTraits(IXpUsbDeviceApi* deviceApi = nullptr) : api(deviceApi) {}
  // Both kinds fail with INVALID_HANDLE_VALUE; null was never opened either.
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE value) { return value != INVALID_HANDLE_VALUE && value != nullptr; }
  void Close(HANDLE value) const { (void)(api->*CloseFunction)(value); }
  IXpUsbDeviceApi* api;
};

typedef XpUsbApiTraits<&IXpUsbDeviceApi::CloseHandle> XpUsbApiHandleTraits;
typedef XpUsbApiTraits<&IXpUsbDeviceApi::SetupDiDestroyDeviceInfoList> XpUsbApiDevInfoTraits;
typedef XpUniqueAny<XpUsbApiHandleTraits> XpUsbApiHandle;
typedef XpUniqueAny<XpUsbApiDevInfoTraits> XpUsbApiDevInfo;
