// Reports IEEE 1394 devices (camcorders among them) that do not show up as
// volumes, by their device interface arrival and removal. A device that shows
// both interface classes is one arrival: its events are merged and reported
// one quiet second after the last, on one delivery thread of this watcher.
#pragma once

#include "XpDeviceWatchDog.h"
#include "XpQuietMerger.h"
#include "XpWatchCallbacks.h"

class XpIEEE1394WatchDog : public _XpDeviceWatchDog, private IXpQuietMergerClient {
 public:
  XpIEEE1394WatchDog();
  ~XpIEEE1394WatchDog() override;

  // Null gives XP_E_FILE_BAD_ARGUMENT.
  [[nodiscard]] virtual XpResult AddCallback(IXpDeviceWatchDogCallback* callback);
  // Returns once the window thread no longer calls it.
  [[nodiscard]] virtual XpResult RemoveCallback(IXpDeviceWatchDogCallback* callback);

  // Stops the window and drops the events not yet delivered.
  [[nodiscard]] XpResult Stop() override;

  // Always TRUE; interface arrivals and removals are queued for their device.
  LRESULT OnDeviceChange(WPARAM event, LPARAM header) override;

  // Devices with events waiting for their quiet second.
  size_t GetPendingCount() { return m_merger.PendingCount(); }
  // Ends the delivery thread now, so that an owner finishes it before static
  // destruction; call after RemoveCallback. Later events are not delivered.
  void ReleaseDelivery() { m_merger.End(); }

 private:
  void OnMerged(const XpString& name, bool preferred, bool arrival) override;

  XpWatchDetail::CallbackList<IXpDeviceWatchDogCallback> m_callbacks;
  // Declared after the callbacks: it ends its thread before they go.
  XpQuietMerger m_merger;
};
