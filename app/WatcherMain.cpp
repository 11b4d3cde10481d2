#include "app/WatcherMain.h"

#include <shellapi.h>

#include <new>

#include "app/AutoPlayVerb.h"
#include "app/VolumeWatcherApp.h"
#include "app/WatcherNames.h"
#include "app/WatcherTrayIcon.h"
#include "app/res/LocResources.h"
#include "platform/XpString.h"

namespace {

// How long the end of a resident run waits for arrivals being decided. They
// are cancelled first, so they normally end within milliseconds.
const DWORD kShutdownBoundMs = 5000;

struct VerbName {
  const wchar_t* name;
  WatcherVerb verb;
};

const VerbName kVerbs[] = {
    {L"isregisted", kVerbIsRegistered},
    {L"regist", kVerbRegister},
    {L"unregist", kVerbUnregister},
    {L"unregistall", kVerbUnregisterAll},
    {L"exit", kVerbExit},
    {L"exitall", kVerbExitAll},
    {L"noballoononstart", kVerbResidentNoBalloon},
    {L"nobaloononstart", kVerbResidentNoBalloon},
};

}  // namespace

WatcherVerb ParseWatcherVerb(const wchar_t* commandLine) {
  if (!commandLine || (commandLine[0] != L'-' && commandLine[0] != L'/')) return kVerbResident;
  const wchar_t* verb = commandLine + 1;
  for (size_t i = 0; i < sizeof(kVerbs) / sizeof(kVerbs[0]); ++i) {
    if (lstrcmpiW(verb, kVerbs[i].name) == 0) return kVerbs[i].verb;
  }
  return kVerbResident;
}

int RunWatcherVerb(WatcherVerb verb) {
  VolumeWatcherApp& app = getApp();
  switch (verb) {
    case kVerbIsRegistered:
      return app.isRegistered() ? 1 : 0;
    case kVerbRegister:
      return app.registerAutostart();
    case kVerbUnregister:
      return static_cast<int>(app.unregisterAutostart());
    case kVerbUnregisterAll:
      return app.unregisterAutostartAll();
    case kVerbExit:
      return app.requestExit(true);
    case kVerbExitAll:
      return app.exitAll();
    default:
      return 0;
  }
}

int RunResident(HINSTANCE instance, bool balloon) {
  VolumeWatcherApp& app = getApp();
  // A logon start the user switched off for themselves (the machine-wide
  // start of every user) ends here.
  if (!balloon && app.autostartSwitchedOff()) return 0;
  if (!app.isFirstInstance()) {
    // A second start at logon (the user's own shortcut beside the machine-wide
    // start) is quiet; a start by hand shows the running one's balloon.
    HWND running = balloon ? FindWindowW(kWatcherWindowClass, L"") : NULL;
    if (running) PostMessageW(running, WatcherTrayIcon::kShowBalloonMessage, 0, 0);
    return 0;
  }
  HMODULE loc = app.locLibrary();
  WatcherTrayIcon* icon = new (std::nothrow) WatcherTrayIcon(instance, loc);
  if (!icon) return 0;

  wchar_t text[255];
  wchar_t title[255];
  bool withBalloon =
      balloon && app.loadString(IDS_BALLOON_TEXT, text, 255) && app.loadString(IDS_APP_NAME, title, 255);
  if (withBalloon)
    icon->show(title, text, NIIF_INFO, 15000);
  else
    icon->show(nullptr, nullptr, 0, 0);

  // A watcher that cannot start leaves the icon and its menu working; the
  // next session connect tries again.
  (void)app.start();
  MSG message;
  message.wParam = 0;
  for (;;) {
    BOOL got = GetMessageW(&message, NULL, 0, 0);
    if (got == 0) break;
    if (got == -1) {
      message.wParam = 0;
      break;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  int quitCode = static_cast<int>(message.wParam);
  // Everything that waits happens here, before the entry point returns: the
  // run-time library's exit lock, held during static destruction, is also
  // wanted by a library that a watcher thread may be loading.
  bool ended = app.shutdown(kShutdownBoundMs);
  icon->remove();
  delete icon;
  // A watcher thread still inside the launch decision would meet the objects
  // that static destruction tears down: end the process without it.
  if (!ended) TerminateProcess(GetCurrentProcess(), static_cast<UINT>(quitCode));
  return quitCode;
}

int WatcherMain(HINSTANCE instance, const wchar_t* commandLine) {
  // The one verb with an argument: the volume AutoPlay offers.
  XpString volume;
  if (ParseAutoPlayVerb(commandLine, &volume)) return RunAutoPlayVerb(volume);
  WatcherVerb verb = ParseWatcherVerb(commandLine);
  if (verb == kVerbResident) return RunResident(instance, true);
  if (verb == kVerbResidentNoBalloon) return RunResident(instance, false);
  return RunWatcherVerb(verb);
}
