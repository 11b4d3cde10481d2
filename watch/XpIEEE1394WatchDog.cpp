#include "XpIEEE1394WatchDog.h"

#include "XpPortableDeviceWatchDog.h"

#include <dbt.h>

#include <cstddef>
#include <cstring>

namespace {

const wchar_t kClassName[] = L"Zelm_XpCommonLib_IEEE1394WatchDogDummyWindow";

// {CC7BFB41-F175-11D1-A392-00E0291F3959}, then {095780C3-48A1-4570-BD95-46707F78C2DC}.
const GUID kInterfaceClasses[2] = {
    {0xCC7BFB41, 0xF175, 0x11D1, {0xA3, 0x92, 0x00, 0xE0, 0x29, 0x1F, 0x39, 0x59}},
    {0x095780C3, 0x48A1, 0x4570, {0xBD, 0x95, 0x46, 0x70, 0x7F, 0x78, 0xC2, 0xDC}},
};

}  // namespace

XpIEEE1394WatchDog::XpIEEE1394WatchDog() : _XpDeviceWatchDog(kClassName), m_merger(this) {
  for (size_t i = 0; i < 2; ++i) AddInterfaceClassFilter(kInterfaceClasses[i]);
}

XpIEEE1394WatchDog::~XpIEEE1394WatchDog() {
  // The window thread calls into this object: end it before the list goes.
  (void)Stop();  // fails only when not running or on the watcher's own thread
  m_merger.End();
  m_callbacks.Clear();
}

XpResult XpIEEE1394WatchDog::Stop() {
  XpResult result = _XpDeviceWatchDog::Stop();
  if (result == XP_E_SELF_JOIN) return result;
  // Nothing is reported for a device that arrived before the stop.
  m_merger.Drop();
  return result;
}

XpResult XpIEEE1394WatchDog::AddCallback(IXpDeviceWatchDogCallback* callback) {
  return m_callbacks.Add(callback);
}

XpResult XpIEEE1394WatchDog::RemoveCallback(IXpDeviceWatchDogCallback* callback) {
  return m_callbacks.Remove(callback);
}

LRESULT XpIEEE1394WatchDog::OnDeviceChange(WPARAM event, LPARAM header) {
  // A name that does not end inside the record is not passed on.
  const DEV_BROADCAST_DEVICEINTERFACE_W* device = InterfaceRecord(event, header, 0);
  if (!device) return TRUE;
  XpString path(device->dbcc_name);
  // The first class's name is the one reported when the device shows both.
  bool preferred = memcmp(&device->dbcc_classguid, &kInterfaceClasses[0], sizeof(GUID)) == 0;
  m_merger.Queue(XpPortableDevicePath::DeviceOf(path), path, event == DBT_DEVICEARRIVAL, preferred);
  return TRUE;
}

void XpIEEE1394WatchDog::OnMerged(const XpString& name, bool, bool arrival) {
  m_callbacks.ForEach([&](IXpDeviceWatchDogCallback* callback) {
    if (arrival)
      callback->OnDeviceArrival(name.c_str());
    else
      callback->OnDeviceRemoval(name.c_str());
  });
}
