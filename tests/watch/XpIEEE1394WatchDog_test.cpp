#include "watch/XpIEEE1394WatchDog.h"

#include <gtest/gtest.h>

#include <dbt.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class DeviceRecorder final : public IXpDeviceWatchDogCallback {
 public:
  void OnDeviceArrival(const wchar_t* name) override { events.push_back(L"+" + std::wstring(name)); }
  void OnDeviceRemoval(const wchar_t* name) override { events.push_back(L"-" + std::wstring(name)); }
  std::vector<std::wstring> events;  // written on the window thread, read after SendMessage
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

  const wchar_t* device = L"\\\\?\\1394#CAMCORDER&1#0800460104#{095780c3-48a1-4570-bd95-46707f78c2dc}";
  std::vector<unsigned char> record = InterfaceRecord(device, kAvc);
  EXPECT_EQ(TRUE, SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&record[0])));
  EXPECT_EQ(TRUE,
            SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&record[0])));
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
  ASSERT_EQ(2u, client.events.size());
  EXPECT_EQ(L"+" + std::wstring(device), client.events[0]);
  EXPECT_EQ(L"-" + std::wstring(device), client.events[1]);
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
  ASSERT_EQ(2u, client.events.size());
  EXPECT_EQ(XP_OK, watcher.RemoveCallback(&client));
  EXPECT_EQ(TRUE, watcher.OnDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&record[0])));
  EXPECT_EQ(2u, client.events.size());
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
