// Runs in a program that Wine presents as Windows 2000 (see PollLauncher.cpp).
#include "watch/XpVolumeWatchDog.h"

#include <gtest/gtest.h>

#include "WatchTestSupport.h"
#include "platform/XpOsVersion.h"

using watchtest::Event;
using watchtest::Recorder;

namespace {

OSVERSIONINFOW Version(DWORD platform, DWORD major, DWORD minor) {
  OSVERSIONINFOW v;
  ZeroMemory(&v, sizeof(v));
  v.dwOSVersionInfoSize = sizeof(v);
  v.dwPlatformId = platform;
  v.dwMajorVersion = major;
  v.dwMinorVersion = minor;
  return v;
}

class TickCounter : public XpAbstractWatchDog {
 public:
  TickCounter() : XpAbstractWatchDog(1), ticks(0) {}
  ~TickCounter() override { (void)Stop(); }
  volatile LONG ticks;

 protected:
  XpResult Run() override {
    while (WaitTick()) InterlockedIncrement(&ticks);
    return XP_OK;
  }
};

}  // namespace

TEST(XpVolumeWatchDogWrapper, ChoosesByVersionAndTheWindows2000SettingGivesThePollingWatcher) {
  OSVERSIONINFOW running;
  ASSERT_TRUE(GetOsVersionInfo(&running));
  EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_NT), running.dwPlatformId);
  EXPECT_EQ(5u, running.dwMajorVersion);
  EXPECT_EQ(0u, running.dwMinorVersion);
  XpVolumeWatchDogWrapper wrapper(1, true);
  EXPECT_TRUE(wrapper.IsPolling());
  ASSERT_TRUE(wrapper.GetPollingWatcher() != NULL);
  EXPECT_EQ(5000, wrapper.GetPollingWatcher()->GetInterval());

  OSVERSIONINFOW xp = Version(VER_PLATFORM_WIN32_NT, 5, 1);
  OSVERSIONINFOW vista = Version(VER_PLATFORM_WIN32_NT, 6, 0);
  OSVERSIONINFOW w2k = Version(VER_PLATFORM_WIN32_NT, 5, 0);
  OSVERSIONINFOW nt4 = Version(VER_PLATFORM_WIN32_NT, 4, 0);
  OSVERSIONINFOW me = Version(VER_PLATFORM_WIN32_WINDOWS, 4, 90);
  EXPECT_TRUE(XpVolumeWatchDogWrapper::ChoosesEventWatcher(&xp));
  EXPECT_TRUE(XpVolumeWatchDogWrapper::ChoosesEventWatcher(&vista));
  EXPECT_FALSE(XpVolumeWatchDogWrapper::ChoosesEventWatcher(&w2k));
  EXPECT_FALSE(XpVolumeWatchDogWrapper::ChoosesEventWatcher(&nt4));
  EXPECT_FALSE(XpVolumeWatchDogWrapper::ChoosesEventWatcher(&me));
  EXPECT_FALSE(XpVolumeWatchDogWrapper::ChoosesEventWatcher(NULL));

  XpVolumeWatchDogWrapper onXp(1, true, &xp);
  EXPECT_FALSE(onXp.IsPolling());
  ASSERT_TRUE(onXp.GetEventWatcher() != NULL);
  EXPECT_TRUE(onXp.GetEventWatcher()->IsCoalescing());
  EXPECT_EQ(0x8102u, onXp.AddCallback(NULL));
  // A failed query: polling, and all 26 letters are candidates.
  XpVolumeWatchDogWrapper failed(1, true, NULL);
  ASSERT_TRUE(failed.IsPolling());
  EXPECT_EQ(0u, failed.GetPollingWatcher()->GetPlatformId());
  EXPECT_EQ(0x8102u, failed.AddCallback(NULL));
  EXPECT_EQ(0x8101u, failed.Stop());
}

TEST(XpVolumeWatchDog, ReportsADriveInsertedAndRemovedWithinItsIntervalButNotThosePresentAtStart) {
  std::wstring folder = watchtest::MakeCardFolder(L"watch_poll_card");
  Recorder client;
  XpVolumeWatchDogWrapper wrapper(1, true);
  ASSERT_TRUE(wrapper.IsPolling());
  ASSERT_EQ(XP_OK, wrapper.AddCallback(&client));
  ASSERT_EQ(XP_OK, wrapper.Start());
  EXPECT_EQ(0x8101u, wrapper.Start());
  Sleep(300);  // the first scan is taken
  ASSERT_EQ(0, watchtest::DriveTool(L"insert P: \"" + folder + L"\"", true));
  DWORD inserted = GetTickCount();
  ASSERT_TRUE(client.WaitFor(1, 7000));
  std::vector<Event> events = client.Events();
  ASSERT_EQ(1u, events.size());  // C: and Z: were there at the start
  EXPECT_EQ(L"P:\\", events[0].path);
  EXPECT_TRUE(events[0].arrival);
  EXPECT_LE(events[0].tick - inserted, 6500u);
  EXPECT_NE(GetCurrentThreadId(), events[0].thread);
  ASSERT_EQ(0, watchtest::DriveTool(L"remove P:", true));
  ASSERT_TRUE(client.WaitFor(2, 7000));
  events = client.Events();
  ASSERT_EQ(2u, events.size());
  EXPECT_EQ(L"P:\\", events[1].path);
  EXPECT_FALSE(events[1].arrival);
  EXPECT_EQ(XP_OK, wrapper.Stop());
  EXPECT_EQ(0x8101u, wrapper.Stop());
  EXPECT_EQ(XP_OK, wrapper.RemoveCallback(&client));
}

TEST(XpVolumeWatchDog, OneScanReportsEveryChangeInLetterOrder) {
  std::wstring folder = watchtest::MakeCardFolder(L"watch_scan_card");
  Recorder client;
  XpVolumeWatchDog watcher(0);
  EXPECT_EQ(0x8102u, watcher.AddCallback(NULL));
  ASSERT_EQ(XP_OK, watcher.AddCallback(&client));
  watcher.Prime();
  EXPECT_TRUE(watcher.GetPreviousMask() & (1u << 2));  // C:
  ASSERT_EQ(0, watchtest::DriveTool(L"define R: \"" + folder + L"\"", true));
  ASSERT_EQ(0, watchtest::DriveTool(L"define Q: \"" + folder + L"\"", true));
  watcher.Rescan();
  std::vector<Event> events = client.Events();
  ASSERT_EQ(2u, events.size());
  EXPECT_EQ(L"Q:\\", events[0].path);
  EXPECT_EQ(L"R:\\", events[1].path);
  EXPECT_TRUE(events[0].arrival && events[1].arrival);
  ASSERT_EQ(0, watchtest::DriveTool(L"define S: \"" + folder + L"\"", true));
  ASSERT_EQ(0, watchtest::DriveTool(L"undefine Q:", true));
  watcher.Rescan();
  events = client.Events();
  ASSERT_EQ(4u, events.size());
  EXPECT_EQ(L"Q:\\", events[2].path);
  EXPECT_FALSE(events[2].arrival);
  EXPECT_EQ(L"S:\\", events[3].path);
  EXPECT_TRUE(events[3].arrival);
  watcher.Rescan();  // nothing changed
  EXPECT_EQ(4u, client.Count());
  watchtest::DriveTool(L"undefine R:", true);
  watchtest::DriveTool(L"undefine S:", true);
  watcher.Rescan();
  EXPECT_EQ(6u, client.Count());
  EXPECT_EQ(XP_OK, watcher.RemoveCallback(&client));
}

TEST(XpVolumeWatchDog, PresenceTestsForBothSystemFamilies) {
  EXPECT_TRUE(IsVolumePresent(L'C', false, 0));
  EXPECT_TRUE(IsVolumePresent(L'c', false, VER_PLATFORM_WIN32_NT));
  EXPECT_FALSE(IsVolumePresent(L'Y', false, VER_PLATFORM_WIN32_NT));
  EXPECT_FALSE(IsVolumePresent(L'1', true, 0));
  EXPECT_FALSE(IsVolumePresent(0, true, 0));
  // The 95/98/Me form: A and B are skipped unless floppies are wanted.
  EXPECT_TRUE(IsVolumePresent(L'C', false, VER_PLATFORM_WIN32_WINDOWS));
  EXPECT_FALSE(IsVolumePresent(L'A', false, VER_PLATFORM_WIN32_WINDOWS));
  EXPECT_FALSE(IsVolumePresent(L'Y', true, VER_PLATFORM_WIN32_WINDOWS));
  EXPECT_FALSE(IsFloppyDrive(L'C'));
  EXPECT_FALSE(IsFloppyDrive(L'#'));
  // With a failed version query every letter is a candidate.
  XpVolumeWatchDog unknown(0, 0);
  DWORD mask = unknown.ScanMask();
  EXPECT_TRUE(mask & (1u << 2));
  EXPECT_FALSE(mask & (1u << 24));
}

TEST(XpAbstractWatchDog, IntervalStatesAndContinuousPollingBelowOneSecond) {
  TickCounter t;
  EXPECT_EQ(2000, t.GetInterval());
  EXPECT_EQ(0x8101u, t.Stop());
  EXPECT_EQ(XP_OK, t.SetInterval(500));
  EXPECT_EQ(500, t.GetInterval());
  EXPECT_EQ(XP_OK, t.Start());
  EXPECT_EQ(0x8101u, t.Start());
  Sleep(300);
  EXPECT_EQ(XP_OK, t.Stop());
  EXPECT_GT(t.ticks, 5);
  // Stopped and started again; a long interval does not hold Stop up.
  LONG before = t.ticks;
  EXPECT_EQ(XP_OK, t.SetInterval(60000));
  EXPECT_EQ(XP_OK, t.Start());
  EXPECT_EQ(XP_OK, t.Stop());
  EXPECT_EQ(before, t.ticks);
}
