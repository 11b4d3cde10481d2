#include "watch/XpPortableDeviceWatchDog.h"

#include "tests/support/XpTestSupport.h"

#include <gtest/gtest.h>

#include <dbt.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct DeviceEvent {
  std::wstring path;
  bool arrival;
  DWORD tick;
  DWORD thread;
};

class PortableRecorder final : public IXpPortableDeviceWatchDogCallback {
 public:
  void OnPortableDeviceArrival(const XpString& path) override { Record(path, true); }
  void OnPortableDeviceRemoval(const XpString& path) override { Record(path, false); }
  std::vector<DeviceEvent> Events() { return m_log.Events(); }
  bool WaitFor(size_t n, DWORD timeoutMs) { return m_log.WaitFor(n, timeoutMs); }

 private:
  void Record(const XpString& path, bool arrival) {
    m_log.Add(DeviceEvent{path.c_str(), arrival, GetTickCount(), GetCurrentThreadId()});
  }
  xptest::Recorder<DeviceEvent> m_log;
};

const GUID kPortable = {0x6AC27878, 0xA6FA, 0x4155, {0xBA, 0x85, 0xF9, 0x8F, 0x49, 0x1D, 0x4F, 0x33}};
const GUID kStillImage = {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};
const GUID kAvc = {0x095780C3, 0x48A1, 0x4570, {0xBD, 0x95, 0x46, 0x70, 0x7F, 0x78, 0xC2, 0xDC}};

const wchar_t kPhoneWpd[] =
    L"\\\\?\\usb#vid_04e8&pid_6860&ms_comp_mtp&phone#6&1e6d7b7a&0&0000#{6ac27878-a6fa-4155-ba85-"
    L"f98f491d4f33}";
const wchar_t kPhoneStill[] =
    L"\\\\?\\usb#vid_04e8&pid_6860&ms_comp_mtp&phone#6&1e6d7b7a&0&0000#{6bdd1fc6-810f-11d0-bec7-"
    L"08002be2092f}";

std::vector<unsigned char> InterfaceRecord(const std::wstring& name, const GUID& cls) {
  size_t chars = name.size() + 1;
  size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + chars * sizeof(wchar_t);
  std::vector<unsigned char> record(
      size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) ? sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) : size);
  DEV_BROADCAST_DEVICEINTERFACE_W* r = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(&record[0]);
  r->dbcc_size = static_cast<DWORD>(record.size());
  r->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  r->dbcc_classguid = cls;
  memcpy(r->dbcc_name, name.c_str(), chars * sizeof(wchar_t));
  return record;
}

LRESULT Send(HWND w, WPARAM event, std::vector<unsigned char>& record) {
  return SendMessageW(w, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&record[0]));
}

}  // namespace

// Two interfaces of one phone, and the phone dropping off and coming back
// while it is unlocked: one arrival with the portable-device name, a quiet
// second after the last event, on neither the window thread nor the sender's.
// The made-up trees' cameras: one vendor's devices; every other still-image device is a scanner.
bool MadeUpCamera(const XpString& path) { return wcsstr(path.c_str(), L"VID_04A9") != nullptr; }

TEST(XpPortableDeviceWatchDog, MergesOneDevicesInterfacesAndReportsAfterTheQuietSecond) {
  PortableRecorder client;
  XpPortableDeviceWatchDog watcher;
  watcher.SetCameraTest(&MadeUpCamera);
  EXPECT_EQ(0x8102u, watcher.AddCallback(NULL));
  ASSERT_EQ(XP_OK, watcher.AddCallback(&client));
  ASSERT_EQ(XP_OK, watcher.Start());
  HWND w = watcher.GetNotifyWindow();
  ASSERT_TRUE(w != NULL);
  wchar_t name[64];
  GetClassNameW(w, name, 64);
  EXPECT_STREQ(L"Zelm_XpCommonLib_PortableDeviceWatchDogDummyWindow", name);
  DWORD windowThread = GetWindowThreadProcessId(w, NULL);

  std::vector<unsigned char> still = InterfaceRecord(kPhoneStill, kStillImage);
  std::vector<unsigned char> wpd = InterfaceRecord(kPhoneWpd, kPortable);
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEARRIVAL, still));
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEARRIVAL, wpd));
  Sleep(300);
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEREMOVECOMPLETE, wpd));
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEREMOVECOMPLETE, still));
  Sleep(300);
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEARRIVAL, still));
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEARRIVAL, wpd));
  DWORD lastEvent = GetTickCount();
  EXPECT_EQ(1u, watcher.GetPendingCount());
  ASSERT_TRUE(client.WaitFor(1, 5000));
  Sleep(1500);
  std::vector<DeviceEvent> events = client.Events();
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ(kPhoneWpd, events[0].path);
  EXPECT_TRUE(events[0].arrival);
  EXPECT_GE(events[0].tick - lastEvent, 900u);
  EXPECT_NE(windowThread, events[0].thread);
  EXPECT_NE(GetCurrentThreadId(), events[0].thread);

  // Unplugged: one removal. A still-image-only camera is named by that class.
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEREMOVECOMPLETE, wpd));
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEREMOVECOMPLETE, still));
  const wchar_t camera[] = L"\\\\?\\USB#VID_04A9&PID_3218#0123#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";
  std::vector<unsigned char> cameraRecord = InterfaceRecord(camera, kStillImage);
  // A scanner speaks the still-image class too, and is no portable device.
  const wchar_t scanner[] = L"\\\\?\\USB#VID_04B8&PID_0142#5&1A2B&0&1#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";
  std::vector<unsigned char> scannerRecord = InterfaceRecord(scanner, kStillImage);
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEARRIVAL, scannerRecord));
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEARRIVAL, cameraRecord));
  ASSERT_TRUE(client.WaitFor(3, 5000));
  events = client.Events();
  ASSERT_EQ(3u, events.size());
  // Both devices were quiet at the same moment: either may come first.
  bool removalFirst = !events[1].arrival;
  const DeviceEvent& removal = events[removalFirst ? 1 : 2];
  const DeviceEvent& arrival = events[removalFirst ? 2 : 1];
  EXPECT_FALSE(removal.arrival);
  EXPECT_EQ(kPhoneWpd, removal.path);
  EXPECT_TRUE(arrival.arrival);
  EXPECT_EQ(camera, arrival.path);
  EXPECT_EQ(XP_OK, watcher.Stop());
  EXPECT_EQ(XP_OK, watcher.RemoveCallback(&client));
  EXPECT_EQ(3u, client.Events().size());
  EXPECT_EQ(0x8101u, watcher.Stop());
  // Without a driver key saying so, nothing is a camera.
  EXPECT_FALSE(XpPortableDevicePath::IsStillImageCamera(camera));
}

// Every record the watcher was not made for answers TRUE and yields nothing;
// neither does a device that comes and goes within its quiet second.
TEST(XpPortableDeviceWatchDog, HostileAndForeignRecordsGetNothing) {
  PortableRecorder client;
  XpPortableDeviceWatchDog watcher;
  ASSERT_EQ(XP_OK, watcher.AddCallback(&client));
  ASSERT_EQ(XP_OK, watcher.Start());
  HWND w = watcher.GetNotifyWindow();
  ASSERT_TRUE(w != NULL);

  DEV_BROADCAST_VOLUME v;
  ZeroMemory(&v, sizeof(v));
  v.dbcv_size = sizeof(v);
  v.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  v.dbcv_unitmask = 1u << 4;
  EXPECT_EQ(TRUE, SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&v)));
  EXPECT_EQ(TRUE, SendMessageW(w, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0));

  std::vector<unsigned char> wpd = InterfaceRecord(kPhoneWpd, kPortable);
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEQUERYREMOVE, wpd));
  // The right class with a wrong device type, and a class not registered for.
  std::vector<unsigned char> wrongType = InterfaceRecord(kPhoneWpd, kPortable);
  reinterpret_cast<DEV_BROADCAST_HDR*>(&wrongType[0])->dbch_devicetype = DBT_DEVTYP_HANDLE;
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEARRIVAL, wrongType));
  std::vector<unsigned char> avc = InterfaceRecord(L"\\\\?\\usb#vid_1111&pid_2222#1#{x}", kAvc);
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEARRIVAL, avc));
  // A name that runs past its record.
  std::vector<unsigned char> cut = InterfaceRecord(L"\\\\?\\usb#vid_1111&pid_2222#cut", kPortable);
  DWORD cutSize =
      static_cast<DWORD>(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + 8 * sizeof(wchar_t));
  reinterpret_cast<DEV_BROADCAST_HDR*>(&cut[0])->dbch_size = cutSize;
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEARRIVAL, cut));
  // A record too short to hold a name at all.
  std::vector<unsigned char> tiny = InterfaceRecord(L"x", kPortable);
  reinterpret_cast<DEV_BROADCAST_HDR*>(&tiny[0])->dbch_size = sizeof(DEV_BROADCAST_HDR);
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEARRIVAL, tiny));
  // Overlong, and names that could split or break a command line.
  std::wstring overlong =
      L"\\\\?\\usb#vid_1111&pid_2222#" + std::wstring(XpPortableDevicePath::kMaxChars, L'a') + L"#{6ac27878}";
  const std::wstring odd[] = {overlong,
                              L"\\\\?\\usb#vid_1111&pid_2222#a b#{6ac27878}",
                              L"\\\\?\\usb#vid_1111&pid_2222#a\"/config\"#{6ac27878}",
                              L"\\\\?\\usb#vid_1111&pid_2222#a\tb#{6ac27878}",
                              L"\\\\?\\usb#vid_1111&pid_2222#\x00e9#{6ac27878}",
                              L"\\\\?\\usb#vid_1111&pid_2222#ref\\",
                              L""};
  for (const std::wstring& name : odd) {
    std::vector<unsigned char> record = InterfaceRecord(name, kPortable);
    EXPECT_EQ(TRUE, Send(w, DBT_DEVICEARRIVAL, record));
  }
  // A USB drive's portable-device face: the volume watcher reports the drive.
  std::vector<unsigned char> shadow = InterfaceRecord(
      L"\\\\?\\SWD#WPDBUSENUM#_??_USBSTOR#DISK&VEN_GENERIC&PROD_FLASH&REV_1.00#0001&0#"
      L"{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}#{6AC27878-A6FA-4155-BA85-F98F491D4F33}",
      kPortable);
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEARRIVAL, shadow));
  EXPECT_EQ(0u, watcher.GetPendingCount());

  // Plugged in and pulled out again within the second.
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEARRIVAL, wpd));
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEREMOVECOMPLETE, wpd));
  // Arrived just before the watcher is stopped (a session disconnected):
  // dropped with the window.
  const wchar_t other[] = L"\\\\?\\usb#vid_2222&pid_3333#9#{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
  std::vector<unsigned char> otherRecord = InterfaceRecord(other, kPortable);
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEARRIVAL, otherRecord));
  EXPECT_EQ(XP_OK, watcher.Stop());
  EXPECT_EQ(0u, watcher.GetPendingCount());
  Sleep(1800);
  EXPECT_TRUE(client.Events().empty());

  // Started again, it watches again.
  ASSERT_EQ(XP_OK, watcher.Start());
  w = watcher.GetNotifyWindow();
  EXPECT_EQ(TRUE, Send(w, DBT_DEVICEARRIVAL, otherRecord));
  ASSERT_TRUE(client.WaitFor(1, 5000));
  EXPECT_EQ(other, client.Events()[0].path);
  EXPECT_EQ(XP_OK, watcher.Stop());
  EXPECT_EQ(XP_OK, watcher.RemoveCallback(&client));
}

// A flood of made-up devices is held to a bounded queue, and destroying the
// watcher with events waiting ends its threads without delivering them.
TEST(XpPortableDeviceWatchDog, FloodIsBoundedAndDestructionDropsWaitingEvents) {
  PortableRecorder client;
  {
    XpPortableDeviceWatchDog watcher;
    ASSERT_EQ(XP_OK, watcher.AddCallback(&client));
    for (int i = 0; i < 500; ++i) {
      wchar_t path[96];
      swprintf(path, 96, L"\\\\?\\usb#vid_1234&pid_%04x#%d#{6ac27878-a6fa-4155-ba85-f98f491d4f33}", i, i);
      watcher.NotifyArrival(path);
    }
    EXPECT_EQ(XpPortableDeviceWatchDog::kMaxPending, watcher.GetPendingCount());
  }
  Sleep(1200);
  EXPECT_TRUE(client.Events().empty());
}

// An owner ends the delivery thread before static destruction: it is gone
// when the call returns, and what arrives afterwards is not delivered.
TEST(XpPortableDeviceWatchDog, ReleasedDeliveryEndsItsThreadAndDeliversNoMore) {
  PortableRecorder client;
  XpPortableDeviceWatchDog watcher;
  ASSERT_EQ(XP_OK, watcher.AddCallback(&client));
  watcher.NotifyArrival(kPhoneWpd);
  ASSERT_TRUE(client.WaitFor(1, 5000));
  HANDLE delivery = OpenThread(SYNCHRONIZE, FALSE, client.Events()[0].thread);
  ASSERT_TRUE(delivery != NULL);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(delivery, 0));
  EXPECT_EQ(XP_OK, watcher.RemoveCallback(&client));
  watcher.ReleaseDelivery();
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(delivery, 0));
  CloseHandle(delivery);
  ASSERT_EQ(XP_OK, watcher.AddCallback(&client));
  watcher.NotifyArrival(kPhoneStill, true);
  EXPECT_EQ(0u, watcher.GetPendingCount());
  Sleep(1300);
  EXPECT_EQ(1u, client.Events().size());
  watcher.ReleaseDelivery();  // a second call finds nothing to end
}

TEST(XpPortableDevicePath, DeviceAndAcceptableNames) {
  using namespace XpPortableDevicePath;
  XpString device = DeviceOf(kPhoneWpd);
  EXPECT_EQ(0, device.CompareNoCase(DeviceOf(kPhoneStill).c_str()));
  EXPECT_STREQ(L"\\\\?\\usb#vid_04e8&pid_6860&ms_comp_mtp&phone#6&1e6d7b7a&0&0000", device.c_str());
  EXPECT_STREQ(L"\\\\?\\a#b#c", DeviceOf(L"\\\\?\\a#b#c#{1}\\ref").c_str());
  EXPECT_STREQ(L"no-class", DeviceOf(L"no-class").c_str());
  EXPECT_STREQ(L"", DeviceOf(L"#{").c_str());

  EXPECT_TRUE(IsAcceptable(kPhoneWpd));
  EXPECT_FALSE(IsAcceptable(NULL));
  EXPECT_FALSE(IsAcceptable(L""));
  std::wstring longest(kMaxChars, L'a');
  EXPECT_TRUE(IsAcceptable(longest.c_str()));
  EXPECT_FALSE(IsAcceptable((longest + L"a").c_str()));
  EXPECT_FALSE(IsAcceptable(L"a\\"));

  EXPECT_TRUE(IsMassStorageShadow(L"\\\\?\\swd#wpdbusenum#{1}#0000#{6ac27878}"));
  EXPECT_TRUE(IsMassStorageShadow(L"\\\\?\\STORAGE#Volume#_??_USBSTOR#Disk#{6ac27878}"));
  EXPECT_TRUE(IsMassStorageShadow(
      L"\\\\?\\wpdbusenumroot#umb#2&37c186b&1&storage#volume#_??_usbstor#disk#{6ac27878}"));
  EXPECT_FALSE(IsMassStorageShadow(kPhoneWpd));
}
