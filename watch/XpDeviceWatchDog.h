// Base of the event-driven watchers: one worker thread that owns a hidden
// top-level window (device broadcasts reach top-level windows only) and pumps
// its messages. Derived watchers give the class name, the device-interface
// filters and the reaction to a device change.
#pragma once

#include <windows.h>

#include <dbt.h>

#include <cstddef>

#include "platform/XpResult.h"
#include "platform/XpString.h"
#include "platform/XpThread.h"

#include <vector>

class _XpDeviceWatchDog {
 public:
  explicit _XpDeviceWatchDog(const wchar_t* className);
  virtual ~_XpDeviceWatchDog();

  // Starts the window thread and returns once its window exists (or could
  // not be made). A second Start while running gives XP_E_FILE_NOT_ACTIVE.
  [[nodiscard]] virtual XpResult Start();
  // Closes the window and joins the thread; XP_E_FILE_NOT_ACTIVE when stopped,
  // XP_E_SELF_JOIN (nothing done) from the window thread itself. A thread that
  // has not ended within the stop bound gives XP_E_TIMEOUT: it is told to end
  // and stays held (a later Stop joins it), so the object must stay alive.
  [[nodiscard]] virtual XpResult Stop();
  // How long Stop waits for the window thread (5 s unless set).
  void SetStopBound(DWORD ms) { m_stopBoundMs = ms; }
  // Keeps a copy of a device broadcast filter (its first 32-bit word is its
  // size). Null, or a size below a broadcast header, is ignored.
  virtual void AddNotificationFilter(const void* filter);
  // The filter for the device interfaces of one class.
  void AddInterfaceClassFilter(const GUID& interfaceClass);

  // The handler of WM_DEVICECHANGE: an ordinary member so that it can also
  // be driven with a made-up broadcast record.
  virtual LRESULT OnDeviceChange(WPARAM event, LPARAM header);

  HWND GetNotifyWindow() const { return m_window; }
  // Exit code of the last window thread (XP_E_FILE when no window could be
  // made); meaningful once Stop has returned.
  [[nodiscard]] XpResult GetLastRunResult() const { return m_lastRunResult; }

 protected:
  [[nodiscard]] virtual XpResult CreateNotifyWindow();
  // Closes the window synchronously; XP_E_FILE_NOT_ACTIVE without a window.
  [[nodiscard]] virtual XpResult DestroyNotifyWindow();
  virtual LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  [[nodiscard]] virtual XpResult Run();
  virtual void RegisterNotifications();
  // Releases the registrations made by RegisterNotifications. The filter
  // copies stay so that a later Start registers them again.
  virtual void UnregisterNotifications();

  const XpString& GetClassName() const { return m_className; }

  // The device-interface record of an arrival or a removal: null unless the
  // broadcast is one, the record is as long as its structure, and its name
  // ends inside the record and, unless maxChars is 0, within maxChars
  // characters before the terminator. Nothing past either is read.
  static const DEV_BROADCAST_DEVICEINTERFACE_W* InterfaceRecord(WPARAM event, LPARAM header, size_t maxChars);

 private:
  _XpDeviceWatchDog(const _XpDeviceWatchDog&) = delete;
  _XpDeviceWatchDog& operator=(const _XpDeviceWatchDog&) = delete;

  static LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static unsigned int ThreadEntry(void* argument);
  void FreeFilters();

  XpString m_className;
  std::vector<void*> m_filters;
  HWND m_window;
  std::vector<XpUniqueDevNotify> m_notifications;
  XpScopedThread m_thread;
  // Set by the window thread once its window exists or has failed.
  XpUniqueHandle m_ready;
  XpResult m_lastRunResult;
  DWORD m_stopBoundMs;
};
