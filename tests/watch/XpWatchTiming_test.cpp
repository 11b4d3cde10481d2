// The watchers' periods: the product's unless a test run inside the private
// prefix shortens them, and then only within their floors.
#include "watch/XpWatchTiming.h"

#include <gtest/gtest.h>

#include <string>

namespace {

void ExpectTiming(const XpWatchTiming& t, int pollSeconds, DWORD quietMs, const char* text) {
  EXPECT_EQ(pollSeconds, t.pollSeconds) << text;
  EXPECT_EQ(quietMs, t.quietMs) << text;
}

// An environment variable set for one scope, put back afterwards.
class Variable {
 public:
  Variable(const wchar_t* name, const wchar_t* value) : name_(name) {
    wchar_t old[1024];
    DWORD n = GetEnvironmentVariableW(name, old, 1024);
    had_ = n > 0 && n < 1024;
    if (had_) old_.assign(old, n);
    SetEnvironmentVariableW(name, value);
  }
  ~Variable() { SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }
  Variable(const Variable&) = delete;
  Variable& operator=(const Variable&) = delete;

 private:
  const wchar_t* name_;
  std::wstring old_;
  bool had_ = false;
};

TEST(XpWatchTiming, OnlyShortensWithinFloorsAndOnlyInTheTestPrefix) {
  ExpectTiming(XpWatchTiming::Parse(nullptr), 5, 1000, "none");
  ExpectTiming(XpWatchTiming::Parse(L"poll=1,quiet=200"), 1, 200, "both");
  ExpectTiming(XpWatchTiming::Parse(L"quiet=150"), 5, 150, "quiet only");
  // Longer than the product's, below the floor, or not understood: the defaults.
  ExpectTiming(XpWatchTiming::Parse(L"poll=60,quiet=5000"), 5, 1000, "longer");
  ExpectTiming(XpWatchTiming::Parse(L"poll=0,quiet=10"), 5, 1000, "below the floors");
  ExpectTiming(XpWatchTiming::Parse(L"poll=1;quiet=200"), 5, 1000, "bad separator");
  ExpectTiming(XpWatchTiming::Parse(L"poll=99999999999,quiet=200"), 5, 1000, "huge");
  ExpectTiming(XpWatchTiming::Parse(L"fast"), 5, 1000, "unknown");

  // This program runs inside the private prefix (the marker equals WINEPREFIX).
  Variable asked(L"XP_TEST_WATCH_TIMING", L"poll=2,quiet=300");
  ExpectTiming(XpWatchTiming::Current(), 2, 300, "in the test prefix");
  {
    Variable elsewhere(L"XP_TEST_WINEPREFIX", L"C:\\somewhere-else");
    ExpectTiming(XpWatchTiming::Current(), 5, 1000, "another prefix");
  }
  {
    Variable unmarked(L"XP_TEST_WINEPREFIX", nullptr);
    ExpectTiming(XpWatchTiming::Current(), 5, 1000, "no marker");
  }
}

}  // namespace
