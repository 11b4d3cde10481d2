// How long the watchers wait: the polling watcher's interval and the quiet
// period a portable or IEEE 1394 device keeps before its change is reported.
// The product's values are the defaults and nothing a user sets changes them.
// A developer's test run of the real program may shorten them through the
// environment variable "XP_TEST_WATCH_TIMING" ("poll=<seconds>,quiet=<ms>"),
// honoured only inside the private Wine prefix of a build folder: with
// "XP_TEST_WINEPREFIX" set, as scripts/wine-run sets it, equal to
// "WINEPREFIX" (neither exists on Windows). A value is taken only when it
// shortens its period, and never below its floor; anything else keeps the
// default. See docs/architecture.md.
#pragma once

#include <windows.h>

struct XpWatchTiming {
  int pollSeconds;
  DWORD quietMs;

  static constexpr int kPollSeconds = 5;
  static constexpr DWORD kQuietMs = 1000;
  static constexpr int kMinPollSeconds = 1;
  static constexpr DWORD kMinQuietMs = 100;

  static XpWatchTiming Defaults() { return XpWatchTiming{kPollSeconds, kQuietMs}; }
  // The defaults with what the text shortens (null or malformed: none).
  static XpWatchTiming Parse(const wchar_t* text);
  // The timing of this process: the defaults, or in a test prefix what the
  // environment asks for.
  static XpWatchTiming Current();
};
