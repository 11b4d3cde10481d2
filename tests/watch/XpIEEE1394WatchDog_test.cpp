#include "watch/XpIEEE1394WatchDog.h"

#include "tests/support/XpTestSupport.h"

#include <gtest/gtest.h>

#include <dbt.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Called on the watcher's delivery thread, read by the test.
class DeviceRecorder final : public IXpDeviceWatchDogCallback {
 public:
  void OnDeviceArrival(const wchar_t* name) override { m_log.Add(L"+" + std::wstring(name)); }
  void OnDeviceRemoval(const wchar_t* name) override { m_log.Add(L"-" + std::wstring(name)); }
  std::vector<std::wstring> Events() { return m_log.Events(); }
  // Until n events were recorded, at most timeoutMs.
  bool WaitFor(size_t n, DWORD timeoutMs) { return m_log.WaitFor(n, timeoutMs); }

 private:
  xptest::Recorder<std::wstring> m_log;
};

// A device interface record with its name, as the system sends it.
std::vector<unsigned char> InterfaceRecord(const wchar_t* name, const GUID& cls) {
  size_t chars = wcslen(name) + 1;
  size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + chars * sizeof(wchar_t);
  std::vector<unsigned char> record(
      size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) ? sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) : size);
  DEV_BROADCAST_DEVICEINTERFACE_W* r = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(&record[0]);
  r->dbcc_size = static_cast<DWORD>(record.size());
  r->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  r->dbcc_classguid = cls;
  memcpy(r->dbcc_name, name, chars * sizeof(wchar_t));
  return record;
}

const GUID kAvc = {0x095780C3, 0x48A1, 0x4570, {0xBD, 0x95, 0x46, 0x70, 0x7F, 0x78, 0xC2, 0xDC}};
const GUID k1394 = {0xCC7BFB41, 0xF175, 0x11D1, {0xA3, 0x92, 0x00, 0xE0, 0x29, 0x1F, 0x39, 0x59}};

}  // namespace

TEST(XpIEEE1394WatchDog, ReportsInterfaceArrivalAndRemovalSentToItsWindow) {
  DeviceRecorder client;
  XpIEEE1394WatchDog watcher;
  EXPECT_EQ(0x8102u, watcher.AddCallback(NULL));
  ASSERT_EQ(XP_OK, watcher.AddCallback(&client));
  ASSERT_EQ(XP_OK, watcher.Start());
  HWND w = watcher.GetNotifyWindow();
  ASSERT_TRUE(w != NULL);
  wchar_t name[64];
  GetClassNameW(w, name, 64);
  EXPECT_STREQ(L"Zelm_XpCommonLib_IEEE1394WatchDogDummyWindow", name);

  // One camcorder, both interface classes: one arrival, named by the 1394 class.
  const wchar_t* device = L"\\\\?\\1394#CAMCORDER&1#0800460104#{cc7bfb41-f175-11d1-a392-00e0291f3959}";
  const wchar_t* avc = L"\\\\?\\1394#CAMCORDER&1#0800460104#{095780c3-48a1-4570-bd95-46707f78c2dc}";
  std::vector<unsigned char> record = InterfaceRecord(device, k1394);
  std::vector<unsigned char> avcRecord = InterfaceRecord(avc, kAvc);
  EXPECT_EQ(TRUE,
            SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&avcRecord[0])));
  EXPECT_EQ(TRUE, SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&record[0])));
  EXPECT_EQ(1u, watcher.GetPendingCount());
  ASSERT_TRUE(client.WaitFor(1, 5000));
  EXPECT_EQ(TRUE,
            SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&record[0])));
  EXPECT_EQ(TRUE, SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                               reinterpret_cast<LPARAM>(&avcRecord[0])));
  ASSERT_TRUE(client.WaitFor(2, 5000));
  // A volume header, a null header, other events and a name running past
  // its record give nothing but still answer TRUE.
  DEV_BROADCAST_VOLUME v;
  ZeroMemory(&v, sizeof(v));
  v.dbcv_size = sizeof(v);
  v.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  v.dbcv_unitmask = 1u << 4;
  EXPECT_EQ(TRUE, SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&v)));
  EXPECT_EQ(TRUE, SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0));
  EXPECT_EQ(TRUE,
            SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, reinterpret_cast<LPARAM>(&record[0])));
  std::vector<unsigned char> cut = InterfaceRecord(L"ABCDEFGH", kAvc);
  reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(&cut[0])->dbcc_size = 30;
  cut[28] = 'X';
  cut[29] = 0;
  EXPECT_EQ(TRUE, SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&cut[0])));
  EXPECT_EQ(XP_OK, watcher.Stop());
  std::vector<std::wstring> events = client.Events();
  ASSERT_EQ(2u, events.size());
  EXPECT_EQ(L"+" + std::wstring(device), events[0]);
  EXPECT_EQ(L"-" + std::wstring(device), events[1]);
  EXPECT_EQ(XP_OK, watcher.RemoveCallback(&client));
  EXPECT_EQ(0x8101u, watcher.Stop());
}

TEST(XpIEEE1394WatchDog, HandlerCanBeDrivenWithoutAWindow) {
  DeviceRecorder client;
  XpIEEE1394WatchDog watcher;
  ASSERT_EQ(XP_OK, watcher.AddCallback(&client));
  ASSERT_EQ(XP_OK, watcher.AddCallback(&client));  // twice: called twice
  std::vector<unsigned char> record = InterfaceRecord(L"dev1", kAvc);
  EXPECT_EQ(TRUE, watcher.OnDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&record[0])));
  ASSERT_TRUE(client.WaitFor(2, 5000));
  EXPECT_EQ(XP_OK, watcher.RemoveCallback(&client));
  record = InterfaceRecord(L"dev2", kAvc);
  EXPECT_EQ(TRUE, watcher.OnDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&record[0])));
  // A flood of made-up devices waits in a bounded queue, on one thread.
  for (int i = 0; i < 1000; ++i) {
    std::vector<unsigned char> made = InterfaceRecord((L"made-up " + std::to_wstring(i)).c_str(), kAvc);
    EXPECT_EQ(TRUE, watcher.OnDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&made[0])));
  }
  EXPECT_LE(watcher.GetPendingCount(), 64u);
  watcher.ReleaseDelivery();
  EXPECT_EQ(2u, client.Events().size());
}

namespace {

// Stands for a window class or window the system refuses.
class NoWindowWatchDog : public _XpDeviceWatchDog {
 public:
  NoWindowWatchDog() : _XpDeviceWatchDog(L"XpWatchTestNoWindow") {}
  ~NoWindowWatchDog() override { (void)Stop(); }

 protected:
  XpResult CreateNotifyWindow() override { return 0x8100; }
};

}  // namespace

TEST(XpDeviceWatchDog, WindowThatCannotBeMadeEndsTheThreadQuietly) {
  NoWindowWatchDog watcher;
  EXPECT_EQ(XP_OK, watcher.Start());
  EXPECT_TRUE(watcher.GetNotifyWindow() == NULL);
  EXPECT_EQ(XP_OK, watcher.Stop());
  EXPECT_EQ(0x8100u, watcher.GetLastRunResult());
  EXPECT_EQ(0x8101u, watcher.Stop());
  // Filters that are null or too short to be a broadcast header are ignored.
  watcher.AddNotificationFilter(NULL);
  DWORD tiny = 2;
  watcher.AddNotificationFilter(&tiny);
}
