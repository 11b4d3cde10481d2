// Reports portable devices (cameras and phones over MTP or PTP) that get no
// drive letter, by the arrival and removal of their device interfaces; of
// still-image devices only cameras. One
// device shows several interfaces and, while the user unlocks it, may drop off
// and come back: its events are merged per device and reported after the
// device has been quiet for one second, on a delivery thread of this watcher
// (never on the window thread, so a slow client does not hold up broadcasts).
#pragma once

#include "XpDeviceWatchDog.h"
#include "XpQuietMerger.h"
#include "XpWatchCallbacks.h"

#include "platform/XpHandle.h"
#include "platform/XpString.h"
#include "platform/XpSync.h"
#include "platform/XpThread.h"

#include <map>

// Implemented by clients of the portable-device watcher. The path is the
// device's interface path as the system names it (the Windows Portable
// Devices API opens the device by it).
class IXpPortableDeviceWatchDogCallback {
 public:
  virtual void OnPortableDeviceArrival(const XpString& interfacePath) = 0;
  virtual void OnPortableDeviceRemoval(const XpString& interfacePath) = 0;
};

namespace XpPortableDevicePath {

// Longer names are refused: a device instance id is shorter than 200
// characters, and its interface path only adds a prefix, the class and a
// short reference.
const int kMaxChars = 300;

// Whether a name can stand for a device on a command line: 1 to kMaxChars
// characters, each printable ASCII other than a blank or a double quote, and
// not ending in a backslash (which would escape a closing quote).
bool IsAcceptable(const wchar_t* path);

// The device part of an interface path: the path without its last
// "#{class}" component and what follows it, so that every interface of one
// device gives the same text. A path without one is its own device.
XpString DeviceOf(const XpString& interfacePath);

// A mass-storage volume's portable-device face (Windows 7 and later give
// every USB drive one). The volume watcher already reports the volume.
bool IsMassStorageShadow(const XpString& interfacePath);

// A still-image interface belongs to a camera when the device's driver key
// says so ("DeviceType" 2, as the still-image class installer writes it);
// scanners and multifunction printers speak the same class. False when the
// device or its key cannot be read.
bool IsStillImageCamera(const XpString& interfacePath);

}  // namespace XpPortableDevicePath

class XpPortableDeviceWatchDog : public _XpDeviceWatchDog, private IXpQuietMergerClient {
 public:
  XpPortableDeviceWatchDog();
  // Ends the window thread and the delivery thread; events not yet
  // delivered are dropped.
  ~XpPortableDeviceWatchDog() override;

  // Stops the window and drops the events not yet delivered, so nothing is
  // reported for a device that arrived before a session was disconnected.
  // A delivery in progress is not waited for.
  [[nodiscard]] XpResult Stop() override;

  // Null gives XP_E_FILE_BAD_ARGUMENT.
  [[nodiscard]] virtual XpResult AddCallback(IXpPortableDeviceWatchDogCallback* callback);
  // Returns once no delivery is still calling it; nothing calls it afterwards.
  [[nodiscard]] virtual XpResult RemoveCallback(IXpPortableDeviceWatchDogCallback* callback);

  // Always TRUE. Arrivals and removals of the two registered interface
  // classes are queued for their device; every other record is ignored.
  LRESULT OnDeviceChange(WPARAM event, LPARAM header) override;

  // Queue an event as a broadcast does (null or unacceptable paths are
  // ignored). The still-image class is the fallback name of a device.
  void NotifyArrival(const wchar_t* interfacePath, bool stillImage = false);
  void NotifyRemoval(const wchar_t* interfacePath, bool stillImage = false);

  // Devices with events waiting for their quiet second.
  size_t GetPendingCount();

  // Ends the delivery thread now and drops what waits, so that an owner
  // finishes it before static destruction; later events are not delivered.
  // Call after RemoveCallback, when no delivery can be calling out.
  void ReleaseDelivery() { EndDelivery(); }

  // For tests: what tells a camera among still-image devices (set before Start).
  typedef bool (*CameraTest)(const XpString& interfacePath);
  void SetCameraTest(CameraTest test) { m_isCamera = test; }

  static constexpr DWORD kQuietMs = XpQuietMerger::kQuietMs;
  static constexpr size_t kMaxPending = XpQuietMerger::kMaxPending;

 private:
  void Queue(const wchar_t* interfacePath, bool arrival, bool portableClass);
  void OnMerged(const XpString& path, bool portableClass, bool arrival) override;
  void Deliver(const XpString& path, bool arrival);
  void EndDelivery();

  XpWatchDetail::CallbackList<IXpPortableDeviceWatchDogCallback> m_callbacks;
  // Declared after the callbacks: it ends its thread before they go.
  XpQuietMerger m_merger;
  CameraTest m_isCamera;
};
