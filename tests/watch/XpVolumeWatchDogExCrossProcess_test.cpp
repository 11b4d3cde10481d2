// The watcher in this process, a real Wine drive inserted by the drive tool
// from another process.
#include "watch/XpVolumeWatchDogEx.h"

#include <gtest/gtest.h>

#include "WatchTestSupport.h"

using watchtest::Event;
using watchtest::Recorder;

TEST(CrossProcess, DriveInsertedByTheToolIsReportedOnceAndItsRemovalOnce) {
  std::wstring folder = watchtest::MakeCardFolder(L"watch_cross_card");
  Recorder client;
  XpVolumeWatchDogEx watcher(0, true);
  ASSERT_EQ(XP_OK, watcher.AddCallback(&client));
  ASSERT_EQ(XP_OK, watcher.Start());
  ASSERT_EQ(0, watchtest::DriveTool(L"insert W: \"" + folder + L"\""));
  EXPECT_EQ(static_cast<UINT>(DRIVE_REMOVABLE), GetDriveTypeW(L"W:\\"));
  ASSERT_TRUE(client.WaitFor(1, 5000));
  Sleep(1500);
  std::vector<Event> events = client.Events();
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ(L"W:\\", events[0].path);
  EXPECT_TRUE(events[0].arrival);
  ASSERT_EQ(0, watchtest::DriveTool(L"remove W:", true));
  ASSERT_TRUE(client.WaitFor(2, 5000));
  events = client.Events();
  EXPECT_EQ(L"W:\\", events[1].path);
  EXPECT_FALSE(events[1].arrival);
  EXPECT_EQ(static_cast<UINT>(DRIVE_NO_ROOT_DIR), GetDriveTypeW(L"W:\\"));
  EXPECT_EQ(XP_OK, watcher.Stop());
  EXPECT_EQ(XP_OK, watcher.RemoveCallback(&client));
}

TEST(CrossProcess, ToolRefusesBadCommandLines) {
  EXPECT_EQ(1, watchtest::DriveTool(L"", true));
  EXPECT_EQ(1, watchtest::DriveTool(L"insert", true));
  EXPECT_EQ(1, watchtest::DriveTool(L"insert 7: C:\\", true));
  EXPECT_EQ(1, watchtest::DriveTool(L"insert W:", true));
  EXPECT_EQ(1, watchtest::DriveTool(L"remove W: extra", true));
  EXPECT_EQ(1, watchtest::DriveTool(L"eject W:", true));
}
