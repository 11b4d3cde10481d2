// The application object's part in portable devices: its watcher runs with
// the others (also across session changes) and a Launch entry's arguments
// take the device form.
#include "app/ArrivalDecision.h"
#include "app/VolumeWatcherApp.h"
#include "app/WatcherTrayIcon.h"

#include <gtest/gtest.h>

TEST(PortableDeviceApp, WatcherStartsAndStopsWithTheOthersAndOnSessionChanges) {
  VolumeWatcherApp& app = getApp();
  ASSERT_EQ(app.start(), 0);
  HWND window = app.portableDeviceWatchDog().GetNotifyWindow();
  ASSERT_NE(window, nullptr);
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  EXPECT_STREQ(name, L"Zelm_XpCommonLib_PortableDeviceWatchDogDummyWindow");
  EXPECT_EQ(app.stop(), 0);
  EXPECT_EQ(app.portableDeviceWatchDog().GetNotifyWindow(), nullptr);

  WatcherTrayIcon icon(GetModuleHandleW(NULL), app.locLibrary());
  SendMessageW(icon.window(), 0x02B1, 1, 0);  // console connect
  EXPECT_NE(app.portableDeviceWatchDog().GetNotifyWindow(), nullptr);
  SendMessageW(icon.window(), 0x02B1, 2, 0);  // console disconnect
  EXPECT_EQ(app.portableDeviceWatchDog().GetNotifyWindow(), nullptr);
  EXPECT_NE(app.stop(), 0);  // nothing left to stop
}

TEST(PortableDeviceApp, LaunchArgumentsNameTheDeviceInQuotes) {
  const wchar_t path[] = L"\\\\?\\usb#vid_04e8&pid_6860#1#{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
  EXPECT_EQ(
      FormatDeviceLaunchArguments(path, L"-x"),
      XpString(L"/Device \"\\\\?\\usb#vid_04e8&pid_6860#1#{6ac27878-a6fa-4155-ba85-f98f491d4f33}\" -x"));
  // An empty command line leaves the blank, as the drive form does.
  EXPECT_EQ(FormatDeviceLaunchArguments(path, XpString()).Right(2), XpString(L"\" "));
  // A path without USB ids is never matched against the lists.
  ArrivalDecision decision = DecideForDevice(SF_DEVICE_PORTABLE, L"\\\\?\\swd#mtpnetenum#cam#{6ac27878}");
  EXPECT_FALSE(decision.identified);
  EXPECT_EQ(kDeviceRuleNone, decision.kind);
}
