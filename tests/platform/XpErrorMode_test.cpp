// The quiet error mode for drive probes touches the calling thread only.
#include "platform/XpErrorMode.h"

#include <gtest/gtest.h>

namespace {

typedef DWORD(WINAPI* GetThreadErrorModeFn)();

GetThreadErrorModeFn ThreadModeQuery() {
  return reinterpret_cast<GetThreadErrorModeFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadErrorMode")));
}

struct Probe {
  HANDLE inside;
  HANDLE done;
};

DWORD WINAPI HoldQuietMode(void* argument) {
  Probe* probe = static_cast<Probe*>(argument);
  XpThreadErrorMode quiet;
  SetEvent(probe->inside);
  WaitForSingleObject(probe->done, 10000);
  return quiet.perThread() ? 1 : 0;
}

}  // namespace

TEST(XpThreadErrorMode, QuietOnlyOnItsThreadAndRestoredAfterwards) {
  GetThreadErrorModeFn threadMode = ThreadModeQuery();
  if (!threadMode) GTEST_SKIP() << "no per-thread error mode on this system";
  DWORD before = threadMode();
  UINT processBefore = SetErrorMode(0);
  SetErrorMode(processBefore);
  {
    XpThreadErrorMode quiet;
    EXPECT_TRUE(quiet.perThread());
    EXPECT_NE(0u, threadMode() & SEM_FAILCRITICALERRORS);
  }
  EXPECT_EQ(before, threadMode());

  // Another thread holding the quiet mode changes nothing here.
  Probe probe = {CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HANDLE thread = CreateThread(nullptr, 0, HoldQuietMode, &probe, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(probe.inside, 10000));
  EXPECT_EQ(before, threadMode());
  UINT process = SetErrorMode(0);
  SetErrorMode(process);
  EXPECT_EQ(processBefore, process) << "the process mode was changed";
  SetEvent(probe.done);
  WaitForSingleObject(thread, 10000);
  DWORD perThread = 0;
  GetExitCodeThread(thread, &perThread);
  EXPECT_EQ(1u, perThread);
  CloseHandle(thread);
  CloseHandle(probe.inside);
  CloseHandle(probe.done);
}
