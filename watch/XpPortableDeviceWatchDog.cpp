#include "XpPortableDeviceWatchDog.h"

#include <dbt.h>
#include <setupapi.h>

#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

namespace {

const wchar_t kClassName[] = L"Zelm_XpCommonLib_PortableDeviceWatchDogDummyWindow";

// The portable-device interface class, then the still-image class (cameras
// that speak PTP show one or both).
const GUID kPortableClass = {0x6AC27878, 0xA6FA, 0x4155, {0xBA, 0x85, 0xF9, 0x8F, 0x49, 0x1D, 0x4F, 0x33}};
const GUID kStillImageClass = {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};

bool SameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }

bool ContainsNoCase(const XpString& text, const wchar_t* pattern) {
  for (int i = 0; i < text.GetLength(); ++i)
    if (XpHasAtNoCase(text, i, pattern)) return true;
  return false;
}

}  // namespace

// ---- interface paths ----

bool XpPortableDevicePath::IsAcceptable(const wchar_t* path) {
  if (!path || !path[0]) return false;
  int n = 0;
  for (; path[n] != 0; ++n) {
    if (n >= kMaxChars) return false;
    wchar_t c = path[n];
    if (c <= 0x20 || c >= 0x7F || c == L'"') return false;
  }
  return path[n - 1] != L'\\';
}

XpString XpPortableDevicePath::DeviceOf(const XpString& interfacePath) {
  for (int i = interfacePath.GetLength() - 2; i >= 0; --i)
    if (*interfacePath.At(i) == L'#' && *interfacePath.At(i + 1) == L'{') return interfacePath.Left(i);
  return interfacePath;
}

bool XpPortableDevicePath::IsMassStorageShadow(const XpString& interfacePath) {
  return XpHasAtNoCase(interfacePath, 0, L"\\\\?\\swd#wpdbusenum#") ||
         XpHasAtNoCase(interfacePath, 0, L"\\\\?\\storage#") || ContainsNoCase(interfacePath, L"usbstor#");
}

// ---- the watcher ----

XpPortableDeviceWatchDog::XpPortableDeviceWatchDog()
    : _XpDeviceWatchDog(kClassName), m_merger(this), m_isCamera(&XpPortableDevicePath::IsStillImageCamera) {
  AddInterfaceClassFilter(kPortableClass);
  AddInterfaceClassFilter(kStillImageClass);
}

XpPortableDeviceWatchDog::~XpPortableDeviceWatchDog() {
  // The window thread queues into this object and the delivery thread calls
  // out of it: both end before the members go.
  // Not started or already stopped is all the same here.
  (void)Stop();
  EndDelivery();
  m_callbacks.Clear();
}

XpResult XpPortableDeviceWatchDog::Stop() {
  XpResult result = _XpDeviceWatchDog::Stop();
  if (result == XP_E_SELF_JOIN) return result;
  m_merger.Drop();
  return result;
}

void XpPortableDeviceWatchDog::EndDelivery() { m_merger.End(); }

XpResult XpPortableDeviceWatchDog::AddCallback(IXpPortableDeviceWatchDogCallback* callback) {
  return m_callbacks.Add(callback);
}

XpResult XpPortableDeviceWatchDog::RemoveCallback(IXpPortableDeviceWatchDogCallback* callback) {
  return m_callbacks.Remove(callback);
}

size_t XpPortableDeviceWatchDog::GetPendingCount() { return m_merger.PendingCount(); }

LRESULT XpPortableDeviceWatchDog::OnDeviceChange(WPARAM event, LPARAM header) {
  // The name must end within the longest name taken.
  const DEV_BROADCAST_DEVICEINTERFACE_W* device =
      InterfaceRecord(event, header, static_cast<size_t>(XpPortableDevicePath::kMaxChars));
  if (!device) return TRUE;
  bool portable = SameGuid(device->dbcc_classguid, kPortableClass);
  if (!portable && !SameGuid(device->dbcc_classguid, kStillImageClass)) return TRUE;
  Queue(device->dbcc_name, event == DBT_DEVICEARRIVAL, portable);
  return TRUE;
}

void XpPortableDeviceWatchDog::NotifyArrival(const wchar_t* interfacePath, bool stillImage) {
  Queue(interfacePath, true, !stillImage);
}

void XpPortableDeviceWatchDog::NotifyRemoval(const wchar_t* interfacePath, bool stillImage) {
  Queue(interfacePath, false, !stillImage);
}

void XpPortableDeviceWatchDog::Queue(const wchar_t* interfacePath, bool arrival, bool portableClass) {
  if (!XpPortableDevicePath::IsAcceptable(interfacePath)) return;
  XpString path(interfacePath);
  if (XpPortableDevicePath::IsMassStorageShadow(path)) return;
  m_merger.Queue(XpPortableDevicePath::DeviceOf(path), path, arrival, portableClass);
}

void XpPortableDeviceWatchDog::OnMerged(const XpString& path, bool portableClass, bool arrival) {
  // A device heard only through the still-image class is asked whether it
  // is a camera; its removal needs no answer.
  if (arrival && !portableClass && !m_isCamera(path)) return;
  Deliver(path, arrival);
}

void XpPortableDeviceWatchDog::Deliver(const XpString& path, bool arrival) {
  m_callbacks.ForEach([&](IXpPortableDeviceWatchDogCallback* callback) {
    if (arrival)
      callback->OnPortableDeviceArrival(path);
    else
      callback->OnPortableDeviceRemoval(path);
  });
}

bool XpPortableDevicePath::IsStillImageCamera(const XpString& interfacePath) {
  const DWORD kCameraType = 2;
  XpUniqueDevInfo set(SetupDiCreateDeviceInfoList(NULL, NULL));
  if (!set.valid()) return false;
  SP_DEVICE_INTERFACE_DATA iface;
  memset(&iface, 0, sizeof(iface));
  iface.cbSize = sizeof(iface);
  if (!SetupDiOpenDeviceInterfaceW(set.get(), interfacePath.c_str(), 0, &iface)) return false;
  // Opening the interface put its device into the set.
  SP_DEVINFO_DATA device;
  memset(&device, 0, sizeof(device));
  device.cbSize = sizeof(device);
  if (!SetupDiEnumDeviceInfo(set.get(), 0, &device)) return false;
  HKEY opened = SetupDiOpenDevRegKey(set.get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
  // The call fails with INVALID_HANDLE_VALUE, which the key owner would take for a key.
  if (opened == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) return false;
  XpUniqueKey key(opened);
  if (!key.valid()) return false;
  DWORD type = 0, kind = 0, size = sizeof(type);
  if (RegQueryValueExW(key.get(), L"DeviceType", NULL, &kind, reinterpret_cast<BYTE*>(&type), &size) !=
          ERROR_SUCCESS ||
      kind != REG_DWORD || size != sizeof(type))
    return false;
  // Stored as the installer's number, or as the major type in the high word.
  return type == kCameraType || HIWORD(type) == kCameraType;
}
