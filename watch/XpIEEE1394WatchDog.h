// Reports IEEE 1394 devices (camcorders among them) that do not show up as
// volumes, by their device interface arrival and removal.
#pragma once

#include "XpDeviceWatchDog.h"
#include "XpWatchCallbacks.h"

class XpIEEE1394WatchDog : public _XpDeviceWatchDog {
 public:
  XpIEEE1394WatchDog();
  ~XpIEEE1394WatchDog() override;

  // Null gives XP_E_FILE_BAD_ARGUMENT.
  [[nodiscard]] virtual XpResult AddCallback(IXpDeviceWatchDogCallback* callback);
  // Returns once the window thread no longer calls it.
  [[nodiscard]] virtual XpResult RemoveCallback(IXpDeviceWatchDogCallback* callback);

  // Always TRUE; interface arrivals and removals go to every client.
  LRESULT OnDeviceChange(WPARAM event, LPARAM header) override;

 private:
  XpWatchDetail::CallbackList<IXpDeviceWatchDogCallback> m_callbacks;
};
