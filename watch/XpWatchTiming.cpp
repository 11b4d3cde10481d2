#include "XpWatchTiming.h"

#include <cwchar>

namespace {

// The value of an environment variable; false when missing or too long.
bool ReadVariable(const wchar_t* name, wchar_t* value, DWORD chars) {
  DWORD n = GetEnvironmentVariableW(name, value, chars);
  return n > 0 && n < chars;
}

// Reads decimal digits into *value; false without any or beyond a million.
bool ReadNumber(const wchar_t*& at, unsigned long* value) {
  unsigned long n = 0;
  const wchar_t* start = at;
  while (*at >= L'0' && *at <= L'9') {
    n = n * 10 + static_cast<unsigned long>(*at - L'0');
    if (n > 1000000UL) return false;
    ++at;
  }
  *value = n;
  return at != start;
}

}  // namespace

XpWatchTiming XpWatchTiming::Parse(const wchar_t* text) {
  XpWatchTiming timing = Defaults();
  if (!text) return timing;
  XpWatchTiming asked = timing;
  const wchar_t* at = text;
  while (*at) {
    bool poll = wcsncmp(at, L"poll=", 5) == 0;
    bool quiet = wcsncmp(at, L"quiet=", 6) == 0;
    if (!poll && !quiet) return timing;
    at += poll ? 5 : 6;
    unsigned long value = 0;
    if (!ReadNumber(at, &value)) return timing;
    if (*at == L',') {
      ++at;
    } else if (*at != 0) {
      return timing;
    }
    if (poll && value >= static_cast<unsigned long>(kMinPollSeconds) &&
        value < static_cast<unsigned long>(kPollSeconds))
      asked.pollSeconds = static_cast<int>(value);
    if (quiet && value >= kMinQuietMs && value < kQuietMs) asked.quietMs = static_cast<DWORD>(value);
  }
  return asked;
}

XpWatchTiming XpWatchTiming::Current() {
  wchar_t marker[1024];
  wchar_t prefix[1024];
  wchar_t text[64];
  if (!ReadVariable(L"XP_TEST_WATCH_TIMING", text, 64)) return Defaults();
  if (!ReadVariable(L"XP_TEST_WINEPREFIX", marker, 1024) || !ReadVariable(L"WINEPREFIX", prefix, 1024) ||
      wcscmp(marker, prefix) != 0)
    return Defaults();
  return Parse(text);
}
