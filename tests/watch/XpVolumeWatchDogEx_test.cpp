#include "watch/XpVolumeWatchDogEx.h"

#include <gtest/gtest.h>

#include "WatchTestSupport.h"

#include <algorithm>
#include <memory>
#include <string>

using watchtest::Event;
using watchtest::Recorder;

namespace {

// A started watcher with one recording client; stopped and destroyed at the end.
struct Running {
  explicit Running(bool coalesce) : watcher(new XpVolumeWatchDogEx(0, coalesce)) {
    EXPECT_EQ(XP_OK, watcher->AddCallback(&client));
    EXPECT_EQ(XP_OK, watcher->Start());
    window = watcher->GetNotifyWindow();
    EXPECT_TRUE(window != NULL);
  }
  ~Running() {
    watcher->Stop();
    EXPECT_EQ(XP_OK, watcher->RemoveCallback(&client));
    watcher.reset();
  }
  Recorder client;
  std::unique_ptr<XpVolumeWatchDogEx> watcher;
  HWND window;
};

DWORD Bit(wchar_t letter) { return 1u << (letter - L'A'); }

}  // namespace

TEST(XpVolumeWatchDogEx, StateErrorsAndNullClient) {
  XpVolumeWatchDogEx watcher(0, true);
  EXPECT_EQ(0x8102u, watcher.AddCallback(NULL));
  EXPECT_EQ(0x8101u, watcher.Stop());
  EXPECT_EQ(XP_OK, watcher.Start());
  EXPECT_EQ(0x8101u, watcher.Start());
  HWND window = watcher.GetNotifyWindow();
  ASSERT_TRUE(window != NULL);
  wchar_t name[64];
  GetClassNameW(window, name, 64);
  EXPECT_STREQ(L"ZelmXpVolumeWatchDogExDummyWindow", name);
  GetWindowTextW(window, name, 64);
  EXPECT_STREQ(L"_XpDeviceWatchDog", name);
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_TRUE(GetParent(window) == NULL);  // broadcasts reach top-level windows only
  EXPECT_TRUE(watcher.IsShellRegistered());
  // A restarted shell has forgotten the registration: it is made again.
  EXPECT_EQ(1u, watcher.GetShellRegistrationCount());
  SendMessageW(window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_EQ(2u, watcher.GetShellRegistrationCount());
  EXPECT_TRUE(watcher.IsShellRegistered());
  EXPECT_EQ(XP_OK, watcher.Stop());
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(0x8101u, watcher.Stop());
  // A stopped watcher starts again with a new window.
  EXPECT_EQ(XP_OK, watcher.Start());
  EXPECT_TRUE(IsWindow(watcher.GetNotifyWindow()));
  EXPECT_EQ(XP_OK, watcher.Stop());
}

TEST(XpVolumeWatchDogEx, BroadcastAndShellEventForOneCardGiveOneArrivalAfterAQuietSecond) {
  Running r(true);
  watchtest::SendVolumeBroadcast(r.window, DBT_DEVICEARRIVAL, Bit(L'E'));
  Sleep(400);
  ASSERT_TRUE(
      watchtest::SendShellEvent(r.window, r.watcher->GetShellMessage(), SHCNE_MEDIAINSERTED, L"E:\\"));
  DWORD last = GetTickCount();
  ASSERT_TRUE(r.client.WaitFor(1, 4000));
  Sleep(1500);  // a second delivery would come by now
  std::vector<Event> events = r.client.Events();
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ(L"E:\\", events[0].path);
  EXPECT_TRUE(events[0].arrival);
  DWORD after = events[0].tick - last;
  EXPECT_GE(after, 900u);
  EXPECT_LE(after, 2500u);
  // Delivered on the path's notifier thread, not the window thread.
  EXPECT_NE(GetWindowThreadProcessId(r.window, NULL), events[0].thread);
}

TEST(XpVolumeWatchDogEx, OnlyTheNetChangeOfABurstIsDelivered) {
  Running r(true);
  HWND w = r.window;
  // G: arrives and leaves; H: leaves and comes back; I: arrives, leaves, arrives;
  // J: leaves twice.
  watchtest::SendVolumeBroadcast(w, DBT_DEVICEARRIVAL, Bit(L'G') | Bit(L'I'));
  watchtest::SendVolumeBroadcast(w, DBT_DEVICEREMOVECOMPLETE, Bit(L'H') | Bit(L'J'));
  Sleep(200);
  watchtest::SendVolumeBroadcast(w, DBT_DEVICEREMOVECOMPLETE, Bit(L'G') | Bit(L'I'));
  watchtest::SendVolumeBroadcast(w, DBT_DEVICEARRIVAL, Bit(L'H'));
  Sleep(200);
  watchtest::SendVolumeBroadcast(w, DBT_DEVICEARRIVAL, Bit(L'I'));
  watchtest::SendVolumeBroadcast(w, DBT_DEVICEREMOVECOMPLETE, Bit(L'J'));
  ASSERT_TRUE(r.client.WaitFor(2, 4000));
  Sleep(1500);
  std::vector<Event> events = r.client.Events();
  ASSERT_EQ(2u, events.size());
  bool sawI = false, sawJ = false;
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].path == L"I:\\" && events[i].arrival) sawI = true;
    if (events[i].path == L"J:\\" && !events[i].arrival) sawJ = true;
  }
  EXPECT_TRUE(sawI);
  EXPECT_TRUE(sawJ);
  EXPECT_EQ(4u, r.watcher->GetNotifierCount());
}

TEST(XpVolumeWatchDogEx, MaskBitsGiveRootPathsInLetterOrderAndHighBitsAreIgnored) {
  Running r(false);
  watchtest::SendVolumeBroadcast(r.window, DBT_DEVICEARRIVAL, Bit(L'D') | Bit(L'F'));
  watchtest::SendVolumeBroadcast(r.window, DBT_DEVICEREMOVECOMPLETE, 0xFC000000u | Bit(L'Z'));
  watchtest::SendVolumeBroadcast(r.window, DBT_DEVICEARRIVAL, 0xFC000000u);
  watchtest::SendVolumeBroadcast(r.window, DBT_DEVICEARRIVAL, Bit(L'A'));
  std::vector<Event> events = r.client.Events();
  ASSERT_EQ(4u, events.size());
  EXPECT_EQ(L"D:\\", events[0].path);
  EXPECT_EQ(L"F:\\", events[1].path);
  EXPECT_TRUE(events[0].arrival && events[1].arrival);
  EXPECT_EQ(L"Z:\\", events[2].path);
  EXPECT_FALSE(events[2].arrival);
  EXPECT_EQ(L"A:\\", events[3].path);
  // Direct mode calls on the window thread.
  EXPECT_EQ(GetWindowThreadProcessId(r.window, NULL), events[0].thread);
}

TEST(XpVolumeWatchDogEx, OtherHeadersAndEventsGiveNothing) {
  Running r(false);
  HWND w = r.window;
  SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
  SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0);
  DEV_BROADCAST_DEVICEINTERFACE_W iface;
  ZeroMemory(&iface, sizeof(iface));
  iface.dbcc_size = sizeof(iface);
  iface.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&iface));
  DEV_BROADCAST_HDR port;
  ZeroMemory(&port, sizeof(port));
  port.dbch_size = sizeof(port);
  port.dbch_devicetype = DBT_DEVTYP_PORT;
  SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&port));
  const WPARAM others[] = {DBT_DEVICEQUERYREMOVE, DBT_DEVICEQUERYREMOVEFAILED, DBT_DEVICEREMOVEPENDING,
                           DBT_CONFIGCHANGED, DBT_DEVNODES_CHANGED};
  for (size_t i = 0; i < sizeof(others) / sizeof(others[0]); ++i)
    watchtest::SendVolumeBroadcast(w, others[i], Bit(L'E'));
  // A mapped network drive, as the redirector announces it.
  watchtest::SendVolumeBroadcast(w, DBT_DEVICEARRIVAL, Bit(L'Z'), DBTF_NET);
  watchtest::SendVolumeBroadcast(w, DBT_DEVICEREMOVECOMPLETE, Bit(L'Z'), DBTF_NET);
  // A volume header shorter than a volume record is not read.
  DEV_BROADCAST_HDR shortVolume = {sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_VOLUME, 0};
  SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&shortVolume));
  // Shell events other than the four, and a message without items.
  UINT shell = r.watcher->GetShellMessage();
  watchtest::SendShellEvent(w, shell, SHCNE_CREATE, L"C:\\");
  watchtest::SendShellEvent(w, shell, SHCNE_UPDATEDIR, L"C:\\");
  SendMessageW(w, shell, 0, SHCNE_MEDIAINSERTED);
  EXPECT_EQ(0u, r.client.Count());
}

TEST(XpVolumeWatchDogEx, DirectModeReportsEachSourceAndAllFourShellEvents) {
  Running r(false);
  UINT shell = r.watcher->GetShellMessage();
  watchtest::SendVolumeBroadcast(r.window, DBT_DEVICEARRIVAL, Bit(L'E'));
  ASSERT_TRUE(watchtest::SendShellEvent(r.window, shell, SHCNE_MEDIAINSERTED, L"E:\\"));
  ASSERT_TRUE(watchtest::SendShellEvent(r.window, shell, SHCNE_DRIVEADD, L"E:\\"));
  ASSERT_TRUE(watchtest::SendShellEvent(r.window, shell, SHCNE_MEDIAREMOVED, L"E:\\"));
  ASSERT_TRUE(watchtest::SendShellEvent(r.window, shell, SHCNE_DRIVEREMOVED, L"E:\\"));
  std::vector<Event> events = r.client.Events();
  ASSERT_EQ(5u, events.size());
  for (size_t i = 0; i < events.size(); ++i) EXPECT_EQ(L"E:\\", events[i].path);
  EXPECT_TRUE(events[0].arrival && events[1].arrival && events[2].arrival);
  EXPECT_FALSE(events[3].arrival || events[4].arrival);
}

TEST(XpVolumeWatchDogEx, PathsDifferingInCaseShareOneNotifierAndQuietPeriod) {
  Running r(true);
  r.watcher->NotifyArrival(L"k:\\");
  r.watcher->NotifyRemoval(L"K:\\");
  r.watcher->NotifyArrival(L"m:\\");
  r.watcher->NotifyArrival(L"M:\\");
  EXPECT_EQ(2u, r.watcher->GetNotifierCount());
  ASSERT_TRUE(r.client.WaitFor(1, 4000));
  Sleep(1300);
  std::vector<Event> events = r.client.Events();
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ(L"m:\\", events[0].path);  // the path the notifier was made for
  EXPECT_TRUE(events[0].arrival);
}

TEST(XpVolumeWatchDogEx, ShellNotificationsOfThisProcessReachTheWatcher) {
  Running r(false);
  ASSERT_TRUE(r.watcher->IsShellRegistered());
  SHChangeNotify(SHCNE_MEDIAINSERTED, SHCNF_PATHW | SHCNF_FLUSH, L"C:\\", NULL);
  ASSERT_TRUE(r.client.WaitFor(1, 3000));
  std::vector<Event> events = r.client.Events();
  EXPECT_EQ(L"C:\\", events[0].path);
  EXPECT_TRUE(events[0].arrival);
}

TEST(XpVolumeWatchDogEx, BurstOfThousandsKeepsOneNotifierAndOneDeliveryPerPath) {
  Running r(true);
  // 10,000 events over 26 letters, each letter's burst starting and ending
  // with an arrival; every hundredth comes through the window, the rest are
  // queued directly (cross-thread sends are slow under Wine).
  for (int i = 0; i < 10000; ++i) {
    int letter = i % 26;
    bool arrival = (i / 26) % 2 == 0 || i >= 10000 - 26;
    wchar_t path[] = L"A:\\";
    path[0] = static_cast<wchar_t>(L'A' + letter);
    if (i % 100 == 0)
      watchtest::SendVolumeBroadcast(r.window, arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                                     1u << letter);
    else if (arrival)
      r.watcher->NotifyArrival(path);
    else
      r.watcher->NotifyRemoval(path);
  }
  EXPECT_EQ(26u, r.watcher->GetNotifierCount());
  ASSERT_TRUE(r.client.WaitFor(26, 6000));
  Sleep(1300);
  std::vector<Event> events = r.client.Events();
  ASSERT_EQ(26u, events.size());
  std::vector<int> seen(26, 0);
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_TRUE(events[i].arrival);
    ++seen[events[i].path[0] - L'A'];
  }
  for (int i = 0; i < 26; ++i) EXPECT_EQ(1, seen[i]) << i;
}

TEST(XpVolumeWatchDogEx, MadeUpPathsLeaveABoundedNumberOfNotifiers) {
  Running r(true);
  for (int i = 0; i < 1000; ++i) {
    std::wstring path = L"C:\\made\\up\\" + std::to_wstring(i);
    r.watcher->NotifyArrival(path.c_str());
  }
  // Drive roots still get theirs, in either spelling.
  r.watcher->NotifyArrival(L"E:\\");
  r.watcher->NotifyArrival(L"f:");
  size_t count = r.watcher->GetNotifierCount();
  EXPECT_GE(count, 3u);
  EXPECT_LE(count, 16u + 2u);
  ASSERT_TRUE(r.client.WaitFor(count, 6000));
  std::vector<Event> events = r.client.Events();
  EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const Event& e) { return e.path == L"E:\\"; }));
}

// An idle notifier ends its thread; a later event for its path is still
// delivered, by a new one.
TEST(XpVolumeWatchDogEx, IdleNotifierRetiresAndALaterEventIsStillDelivered) {
  Running r(true);
  r.watcher->SetNotifierIdleSeconds(1);
  r.watcher->NotifyArrival(L"G:\\");
  ASSERT_TRUE(r.client.WaitFor(1, 6000));
  DWORD start = GetTickCount();
  while (r.watcher->GetNotifierCount() != 0 && GetTickCount() - start < 10000) Sleep(20);
  ASSERT_EQ(0u, r.watcher->GetNotifierCount()) << "the idle notifier did not retire";
  r.watcher->NotifyRemoval(L"G:\\");
  ASSERT_TRUE(r.client.WaitFor(2, 6000));
  std::vector<Event> events = r.client.Events();
  EXPECT_EQ(L"G:\\", events[1].path);
  EXPECT_FALSE(events[1].arrival);
  EXPECT_NE(events[0].thread, events[1].thread);
}

TEST(XpVolumeWatchDogEx, NoCallbackRunsAfterRemovalOrDuringDestruction) {
  Recorder* slow = new Recorder();
  slow->SetDelay(300);
  Recorder other;
  XpVolumeWatchDogEx* watcher = new XpVolumeWatchDogEx(0, true);
  ASSERT_EQ(XP_OK, watcher->AddCallback(slow));
  ASSERT_EQ(XP_OK, watcher->AddCallback(&other));
  ASSERT_EQ(XP_OK, watcher->Start());
  for (int i = 0; i < 8; ++i) {
    wchar_t path[] = L"N:\\";
    path[0] = static_cast<wchar_t>(L'N' + i);
    watcher->NotifyArrival(path);
  }
  // Wait until deliveries are under way, then stop and unregister the slow
  // client while notifier threads are inside it.
  for (int i = 0; i < 400 && slow->InCall() == 0; ++i) Sleep(5);
  ASSERT_NE(0, slow->InCall());
  EXPECT_EQ(XP_OK, watcher->Stop());
  EXPECT_EQ(XP_OK, watcher->RemoveCallback(slow));
  EXPECT_EQ(0, slow->InCall());
  size_t calls = slow->Count();
  delete slow;  // from here a late call would touch freed memory
  Sleep(400);
  EXPECT_GE(other.Count(), 1u);
  // Destroyed with events still queued: nothing is delivered afterwards.
  watcher->NotifyArrival(L"N:\\");
  watcher->NotifyRemoval(L"O:\\");
  size_t before = other.Count();
  delete watcher;
  Sleep(1300);
  EXPECT_EQ(before, other.Count());
  EXPECT_LE(calls, 8u);
}

TEST(XpVolumeWatchDogEx, DestroyedWhileRunningAndBusyIsSafe) {
  Recorder client;
  for (int round = 0; round < 3; ++round) {
    XpVolumeWatchDogEx* watcher = new XpVolumeWatchDogEx(0, round % 2 == 0);
    ASSERT_EQ(XP_OK, watcher->AddCallback(&client));
    ASSERT_EQ(XP_OK, watcher->Start());
    HWND w = watcher->GetNotifyWindow();
    for (int i = 0; i < 50; ++i) PostMessageW(w, watcher->GetShellMessage(), 0, SHCNE_MEDIAINSERTED);
    watcher->NotifyArrival(L"Q:\\");
    delete watcher;  // without Stop: the destructor ends the window thread first
    EXPECT_FALSE(IsWindow(w));
  }
}

namespace {

class StoppingClient final : public IXpVolumeWatchDogCallback {
 public:
  StoppingClient() : watcher(NULL), result(0) {}
  void OnVolumeArrival(const XpString&) override { result = watcher->Stop(); }
  void OnVolumeRemoval(const XpString&) override {}
  XpVolumeWatchDogEx* watcher;
  XpResult result;
};

}  // namespace

TEST(XpVolumeWatchDogEx, StopFromItsOwnWindowThreadIsRefusedAndChangesNothing) {
  StoppingClient client;
  XpVolumeWatchDogEx watcher(0, false);
  client.watcher = &watcher;
  ASSERT_EQ(XP_OK, watcher.AddCallback(&client));
  ASSERT_EQ(XP_OK, watcher.Start());
  watchtest::SendVolumeBroadcast(watcher.GetNotifyWindow(), DBT_DEVICEARRIVAL, 1u << 4);
  EXPECT_EQ(0x8205u, client.result);
  EXPECT_TRUE(IsWindow(watcher.GetNotifyWindow()));
  EXPECT_EQ(XP_OK, watcher.Stop());
  EXPECT_EQ(XP_OK, watcher.RemoveCallback(&client));
}

namespace {

// A watcher whose window thread is held inside a message, as by a call into
// a device that does not answer.
class WedgedWatcher : public _XpDeviceWatchDog {
 public:
  WedgedWatcher()
      : _XpDeviceWatchDog(L"XpWedgedWatcherWindow"),
        entered(CreateEventW(NULL, TRUE, FALSE, NULL)),
        release(CreateEventW(NULL, TRUE, FALSE, NULL)) {}
  ~WedgedWatcher() override {
    SetEvent(release);
    (void)Stop();
    CloseHandle(entered);
    CloseHandle(release);
  }
  HANDLE entered;
  HANDLE release;

 protected:
  LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_APP) {
      SetEvent(entered);
      WaitForSingleObject(release, 60000);
      return 0;
    }
    return _XpDeviceWatchDog::WindowProc(window, message, wParam, lParam);
  }
};

}  // namespace

TEST(XpDeviceWatchDog, StopOfAWedgedWindowThreadReturnsAtItsBoundAndJoinsLater) {
  WedgedWatcher watcher;
  watcher.SetStopBound(300);
  ASSERT_EQ(XP_OK, watcher.Start());
  ASSERT_TRUE(PostMessageW(watcher.GetNotifyWindow(), WM_APP, 0, 0));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(watcher.entered, 10000));
  DWORD started = GetTickCount();
  EXPECT_EQ(XP_E_TIMEOUT, watcher.Stop());
  EXPECT_LT(GetTickCount() - started, 3000u);
  // Told to end already: once free, the thread ends and the next stop joins it.
  SetEvent(watcher.release);
  watcher.SetStopBound(10000);
  EXPECT_EQ(XP_OK, watcher.Stop());
  EXPECT_EQ(XP_E_FILE_NOT_ACTIVE, watcher.Stop());
}
