// GoogleTest's start signal for its own threads, on a Win32 event. The win32
// thread model of the MinGW run-time has no std::mutex or
// std::condition_variable, which GoogleTest's built-in version needs; this one
// is put in front of every GoogleTest source and test by the build.
#pragma once

#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Notification() {
    if (event_ != nullptr) CloseHandle(event_);
  }
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { SetEvent(event_); }
  // GoogleTest's own threads only; the controller always notifies.
  void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

 private:
  HANDLE event_;
};

}  // namespace internal
}  // namespace testing
