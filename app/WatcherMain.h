// The program's entry: a command verb performed against the application
// object, or the resident run with the notification-area icon.
#pragma once

#include <windows.h>

enum WatcherVerb {
  kVerbResident,           // no verb, or one that is not recognised: with the balloon
  kVerbResidentNoBalloon,  // "noballoononstart" / "nobaloononstart"
  kVerbIsRegistered,       // "isregisted"
  kVerbRegister,           // "regist"
  kVerbUnregister,         // "unregist"
  kVerbUnregisterAll,      // "unregistall"
  kVerbExit,               // "exit"
  kVerbExitAll             // "exitall"
};

// The verb is the whole text after a leading "-" or "/", compared ignoring
// case; nothing is split at blanks. Null or empty text is no verb.
WatcherVerb ParseWatcherVerb(const wchar_t* commandLine);

// Performs a command verb and returns the process exit code (not for the
// resident verbs).
int RunWatcherVerb(WatcherVerb verb);

// The resident run; returns the quit message's code.
int RunResident(HINSTANCE instance, bool balloon);

// Everything the entry point does, after the process start-up settings. The
// "autoplay" verb with its volume (app/AutoPlayVerb.h) comes before the others.
int WatcherMain(HINSTANCE instance, const wchar_t* commandLine);
