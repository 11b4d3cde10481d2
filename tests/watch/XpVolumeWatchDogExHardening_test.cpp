// The volume watcher against what other programs and a failing system can
// hand it: shell-notification messages with made-up values, and wait
// handles the system refuses to create.
#include "watch/XpVolumeWatchDogEx.h"

#include <gtest/gtest.h>

#include "WatchTestSupport.h"
#include "tests/support/XpTestSupport.h"

#include <cstring>
#include <memory>

using watchtest::Recorder;

namespace {

// ---- refusing the creation of wait handles ----

volatile LONG g_refusing = 0;
decltype(&CreateEventW) g_createEvent = NULL;
decltype(&CreateSemaphoreW) g_createSemaphore = NULL;

HANDLE WINAPI RefusingCreateEvent(LPSECURITY_ATTRIBUTES a, BOOL manual, BOOL initial, LPCWSTR name) {
  if (g_refusing) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return NULL;
  }
  return g_createEvent(a, manual, initial, name);
}

HANDLE WINAPI RefusingCreateSemaphore(LPSECURITY_ATTRIBUTES a, LONG initial, LONG maximum, LPCWSTR name) {
  if (g_refusing) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return NULL;
  }
  return g_createSemaphore(a, initial, maximum, name);
}

// While it lives, this program's wait handles cannot be made.
struct RefuseWaitHandles {
  RefuseWaitHandles() {
    g_createEvent = reinterpret_cast<decltype(&CreateEventW)>(
        xptest::PatchImport("CreateEventW", reinterpret_cast<void*>(&RefusingCreateEvent)));
    g_createSemaphore = reinterpret_cast<decltype(&CreateSemaphoreW)>(
        xptest::PatchImport("CreateSemaphoreW", reinterpret_cast<void*>(&RefusingCreateSemaphore)));
    InterlockedExchange(&g_refusing, 1);
  }
  ~RefuseWaitHandles() {
    InterlockedExchange(&g_refusing, 0);
    if (g_createEvent)
      xptest::ReplaceImport(reinterpret_cast<void*>(&RefusingCreateEvent),
                            reinterpret_cast<void*>(g_createEvent));
    if (g_createSemaphore)
      xptest::ReplaceImport(reinterpret_cast<void*>(&RefusingCreateSemaphore),
                            reinterpret_cast<void*>(g_createSemaphore));
  }
  bool Active() const { return g_createEvent != NULL || g_createSemaphore != NULL; }
};

TEST(XpVolumeWatchDogExHardening, NotifierWhoseWaitsFailEndsAndTheNextEventWorks) {
  Recorder client;
  XpVolumeWatchDogEx watcher(0, true);
  ASSERT_EQ(XP_OK, watcher.AddCallback(&client));
  {
    RefuseWaitHandles refuse;
    ASSERT_TRUE(refuse.Active()) << "the program imports neither creation call";
    // The notifier's waits fail at once; retried, they would keep a
    // processor busy for good. This event is lost.
    watcher.NotifyArrival(L"Q:\\");
    Sleep(1500);
  }
  watcher.NotifyArrival(L"Q:\\");
  EXPECT_EQ(1u, watcher.GetNotifierCount());
  EXPECT_TRUE(client.WaitFor(1, 4000)) << "the path's notifier no longer delivers";
  (void)watcher.RemoveCallback(&client);
}

// ---- shell-notification messages ----

struct Running {
  explicit Running(bool coalesce) : watcher(new XpVolumeWatchDogEx(0, coalesce)) {
    EXPECT_EQ(XP_OK, watcher->AddCallback(&client));
    EXPECT_EQ(XP_OK, watcher->Start());
    window = watcher->GetNotifyWindow();
  }
  ~Running() {
    (void)watcher->Stop();
    (void)watcher->RemoveCallback(&client);
    watcher.reset();
  }
  Recorder client;
  std::unique_ptr<XpVolumeWatchDogEx> watcher;
  HWND window;
};

TEST(XpVolumeWatchDogExHardening, MadeUpShellMessagesAreIgnoredWithoutHarm) {
  Running r(false);
  ASSERT_TRUE(r.window != NULL);
  UINT shell = r.watcher->GetShellMessage();
  // Pointers to item lists in the old delivery form, handles that are no
  // shared blocks, and numbers that are nothing at all.
  PIDLIST_ABSOLUTE item = ILCreateFromPathW(L"C:\\");
  PCIDLIST_ABSOLUTE items[2] = {item, NULL};
  HANDLE event = CreateEventW(NULL, TRUE, FALSE, NULL);
  const WPARAM wParams[] = {0,
                            1,
                            3,
                            reinterpret_cast<WPARAM>(items),
                            reinterpret_cast<WPARAM>(event),
                            static_cast<WPARAM>(0xDEADBEEF),
                            ~static_cast<WPARAM>(0)};
  const LPARAM lParams[] = {0, SHCNE_MEDIAINSERTED, SHCNE_DRIVEADD,
                            static_cast<LPARAM>(GetCurrentProcessId()), -1};
  for (WPARAM w : wParams)
    for (LPARAM l : lParams) SendMessageW(r.window, shell, w, l);
  CloseHandle(event);
  ILFree(item);
  EXPECT_TRUE(IsWindow(r.window));
  EXPECT_EQ(0u, r.client.Count());
  // The real thing still arrives.
  SHChangeNotify(SHCNE_MEDIAINSERTED, SHCNF_PATHW | SHCNF_FLUSH, L"C:\\", NULL);
  ASSERT_TRUE(r.client.WaitFor(1, 3000));
  EXPECT_EQ(L"C:\\", r.client.Events()[0].path);
}

}  // namespace
