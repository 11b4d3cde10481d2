#include "device/XpUsbDevicePath.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A phone's portable-device interface as Windows 10 names it.
const wchar_t kPhoneWpd[] =
    L"\\\\?\\usb#vid_04e8&pid_6860&ms_comp_mtp&phone#6&1e6d7b7a&0&0000#{6ac27878-a6fa-4155-ba85-"
    L"f98f491d4f33}";

}  // namespace

TEST(XpUsbDevicePath, UsbIdsAreReadInAnyCaseAndOnlyFromUsbPaths) {
  using XpUsbDevicePath::ParseUsbIds;
  DWORD vid = 7, pid = 7;
  EXPECT_TRUE(ParseUsbIds(kPhoneWpd, &vid, &pid));
  EXPECT_EQ(0x04E8u, vid);
  EXPECT_EQ(0x6860u, pid);
  EXPECT_TRUE(
      ParseUsbIds(L"\\\\?\\USB#VID_04A9&PID_3218#0123#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}", &vid, &pid));
  EXPECT_EQ(0x04A9u, vid);
  EXPECT_EQ(0x3218u, pid);
  EXPECT_TRUE(ParseUsbIds(L"\\??\\Usb#Vid_abCD&Pid_Ef01&MI_00#7&1#{6ac27878}", &vid, &pid));
  EXPECT_EQ(0xABCDu, vid);
  EXPECT_EQ(0xEF01u, pid);

  const wchar_t* none[] = {
      L"",
      L"\\\\?\\usb",
      L"\\\\?\\usb#vid_04e8&pid_686",                    // cut short
      L"\\\\?\\usb#vid_04e8&pid_6860",                   // nothing after the ids
      L"\\\\?\\usb#vid_04e8&pid_68601#1#{6ac27878}",     // five digits
      L"\\\\?\\usb#vid_04g8&pid_6860#1#{6ac27878}",      // not hexadecimal
      L"\\\\?\\usb#pid_6860&vid_04e8#1#{6ac27878}",      // ids swapped
      L"\\\\?\\usb#root_hub#1#{6ac27878}",               // no ids
      L"\\\\?\\1394#camcorder&1#0800460104#{6ac27878}",  // not USB
      L"\\\\?\\swd#mtp#vid_04e8&pid_6860#{6ac27878}",    // ids in the wrong place
      L"usb#vid_04e8&pid_6860#1#{6ac27878}",             // no prefix
      L"\\\\.\\usb#vid_04e8&pid_6860#1#{6ac27878}",      // another prefix
  };
  for (const wchar_t* path : none) {
    vid = pid = 7;
    EXPECT_FALSE(ParseUsbIds(path, &vid, &pid)) << testing::PrintToString(std::wstring(path));
    EXPECT_EQ(7u, vid);
    EXPECT_EQ(7u, pid);
  }
}
