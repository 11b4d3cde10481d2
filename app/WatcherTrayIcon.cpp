#include "app/WatcherTrayIcon.h"

#include <shellapi.h>

#include "app/AutoPlayVerb.h"
#include "app/DevicesWindow.h"
#include "app/VolumeWatcherApp.h"
#include "app/WatcherNames.h"
#include "app/WatcherDialogs.h"
#include "app/res/LocResources.h"
#include "platform/XpResult.h"
#include "platform/XpString.h"

namespace {

// Releases a semaphore taken without waiting when the command is done.
class BusyToken {
 public:
  explicit BusyToken(XpSemaphore& busy) : m_busy(busy), m_taken(busy.LockTimeout(0) == XP_OK) {}
  ~BusyToken() {
    if (m_taken) m_busy.Unlock();
  }
  bool taken() const { return m_taken; }

 private:
  BusyToken(const BusyToken&) = delete;
  BusyToken& operator=(const BusyToken&) = delete;
  XpSemaphore& m_busy;
  bool m_taken;
};

}  // namespace

WatcherTrayIcon::WatcherTrayIcon(HINSTANCE instance, HMODULE locLibrary)
    : SfAbstractTrayIcon(instance, locLibrary, kWatcherWindowClass, IDI_WATCHER, IDR_TRAY_MENU, IDS_APP_NAME),
      m_locLibrary(locLibrary),
      m_aboutBusy(1, 1),
      m_autostartBusy(1, 1),
      m_exitBusy(1, 1) {
  setDefaultCommand(ID_TRAY_AUTOSTART);
  // A second start of the user's own rights reaches an elevated watcher too.
  allowMessageFromLowerRights(window(), kShowBalloonMessage);
}

// The Devices window closes with the icon; its thread never waits for the
// icon's, so the bounded wait here ends soon.
WatcherTrayIcon::~WatcherTrayIcon() { DevicesWindow::Close(5000); }

bool WatcherTrayIcon::preTranslate(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ENDSESSION) {
    onSessionEnd(window, wParam != 0, (static_cast<DWORD>(lParam) & ENDSESSION_CLOSEAPP) != 0);
    return true;
  }
  if (HandleAutoPlayVolumeMessage(message, wParam, lParam)) return true;
  // The Devices command also reaches the window as a plain command message
  // (from a keyboard accelerator or a helper program): it only opens a window.
  if (message == WM_COMMAND && lParam == 0 && LOWORD(wParam) == ID_TRAY_DEVICES) {
    onCommand(ID_TRAY_DEVICES);
    return true;
  }
  if (message != kShowBalloonMessage) return false;
  wchar_t text[256];
  wchar_t title[256];
  if (getApp().loadString(IDS_BALLOON_TEXT, text, 256) && getApp().loadString(IDS_APP_NAME, title, 256))
    showBalloon(title, text, NIIF_INFO, 15000);
  return true;
}

// A thread still busy after its bound stays held by the application object,
// which lives on; a failed start is tried again at the next connect.
void WatcherTrayIcon::onSessionDisconnected() { (void)getApp().stop(); }

void WatcherTrayIcon::onSessionConnected() { (void)getApp().start(); }

void WatcherTrayIcon::onQuit() { PostQuitMessage(0); }

// Nothing is refused and nothing is stopped yet: another program may still
// keep the session from ending.
int WatcherTrayIcon::onQueryEndSession() { return TRUE; }

void WatcherTrayIcon::onSessionEnd(HWND window, bool ending, bool closeApp) {
  if (!ending) return;
  // The process may be ended as soon as this returns: watching stops, the
  // scoring runs end and the icon goes first.
  (void)getApp().stop();
  remove();
  // Asked to close for an update: the window goes, the message loop ends and
  // the resident run ends as on exit.
  if (closeApp) DestroyWindow(window);
}

int WatcherTrayIcon::onCommand(UINT id) {
  VolumeWatcherApp& app = getApp();
  if (id == ID_TRAY_EXIT) {
    BusyToken busy(m_exitBusy);
    if (!busy.taken()) {
      // The question of an earlier exit command is still open.
      app.bringMessageWindowToFront();
      return 0;
    }
    if (app.confirmExit() && window()) SendMessageW(window(), WM_CLOSE, 0, 0);
  } else if (id == ID_TRAY_ABOUT) {
    BusyToken busy(m_aboutBusy);
    if (busy.taken()) RunAboutDialog(m_locLibrary, window());
  } else if (id == ID_TRAY_AUTOSTART) {
    BusyToken busy(m_autostartBusy);
    if (!busy.taken()) return 0;
    SetForegroundWindow(window());
    bool checked = false;
    if (RunAutostartDialog(m_locLibrary, window(), app.isRegistered(), &checked) == IDOK) {
      // The dialog reads the state back each time it opens; a change that
      // could not be written shows there.
      (void)app.setAutostart(checked);
    }
  } else if (id == ID_TRAY_DEVICES) {
    DevicesWindow::Open(m_locLibrary);
  } else if (id == ID_TRAY_DESTINATION) {
    XpSharedPtr<SfImporterModuleManager> manager = app.readyModuleManager();
    // A folder window that does not open is its own answer to the user.
    if (manager) (void)manager->openCameraFolderDestination(window(), nullptr, false);
  } else if (id >= ID_TRAY_MODULE_FIRST &&
             id - ID_TRAY_MODULE_FIRST < static_cast<UINT>(m_settingsModules.size())) {
    SfImporterModulePtr module = m_settingsModules[id - ID_TRAY_MODULE_FIRST];
    module->setParentWindow(window());
    // The module's own settings program shows its failures itself.
    (void)module->openSettings(false);
    module->setParentWindow(NULL);
  }
  return 0;
}

void WatcherTrayIcon::prepareMenu(HMENU menu) {
  if (m_settingsModules.empty()) {
    // Without the modules' items while an arrival still builds the registry.
    XpSharedPtr<SfImporterModuleManager> manager = getApp().readyModuleManager();
    if (manager) m_settingsModules = manager->modulesWithSettings();
  }
  if (m_settingsModules.empty()) return;
  HMENU settings = GetSubMenu(menu, 0);
  if (!settings) return;
  AppendMenuW(settings, MF_SEPARATOR, 0, NULL);
  for (size_t i = 0; i < m_settingsModules.size(); ++i) {
    AppendMenuW(settings, MF_STRING, ID_TRAY_MODULE_FIRST + i,
                m_settingsModules[i]->settingsMenuText().c_str());
  }
}
