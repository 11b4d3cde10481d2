// The watcher's notification-area icon: its menu commands, the balloon shown
// again for a second start, watching paused while the session is disconnected,
// and the end of the message loop when its window goes.
#pragma once

#include <windows.h>

#include "app/SfAbstractTrayIcon.h"
#include "modules/SfImporterModule.h"
#include "platform/XpSync.h"

class WatcherTrayIcon : public SfAbstractTrayIcon {
 public:
  // A second resident start posts this to the running instance's window.
  enum { kShowBalloonMessage = WM_APP + 1 };

  WatcherTrayIcon(HINSTANCE instance, HMODULE locLibrary);
  ~WatcherTrayIcon() override;

  const SfImporterModuleList& settingsModules() const { return m_settingsModules; }
  int onCommand(UINT commandId) override;

 protected:
  bool preTranslate(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  void onSessionDisconnected() override;
  void onSessionConnected() override;
  void prepareMenu(HMENU menu) override;
  void onQuit() override;
  int onQueryEndSession() override;
  // The session ends (ending) or goes on; closeApp: the system asks this
  // program to end (an update in progress), not the session.
  void onSessionEnd(HWND window, bool ending, bool closeApp);

 private:
  HMODULE m_locLibrary;
  // Held while the about dialog, the autostart dialog or the exit question is open.
  XpSemaphore m_aboutBusy;
  XpSemaphore m_autostartBusy;
  XpSemaphore m_exitBusy;
  SfImporterModuleList m_settingsModules;
};
