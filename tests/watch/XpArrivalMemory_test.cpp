#include "watch/XpArrivalMemory.h"
#include "watch/XpPortableDeviceWatchDog.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(XpArrivalMemory, OneCardOneDecisionAndAnotherCardInTheSlotIsNew) {
  XpArrivalMemory memory;
  XpString card = XpString(L"1A2B3C4D ") + L"EOS_DIGITAL";
  // The volume broadcast, then the shell's media notice seconds later.
  EXPECT_TRUE(memory.IsNew(L"E:\\", card));
  EXPECT_FALSE(memory.IsNew(L"e:\\", card));
  // Another card in the same slot, without a removal heard in between.
  XpString other = XpString(L"0000BEEF ") + L"EOS_DIGITAL";
  EXPECT_TRUE(memory.IsNew(L"E:\\", other));
  EXPECT_FALSE(memory.IsNew(L"E:\\", other));
  // The same label alone does not make the same card, nor does the same serial.
  EXPECT_TRUE(memory.IsNew(L"E:\\", XpString(L"0000BEEF ") + L"UNTITLED"));
  // Out and back in: a new arrival.
  memory.Forget(L"E:\\");
  EXPECT_TRUE(memory.IsNew(L"E:\\", other));
  // Another slot is another place.
  EXPECT_TRUE(memory.IsNew(L"F:\\", other));
}

TEST(XpArrivalMemory, CameraThroughBothInterfaceClassesIsOneDevice) {
  const wchar_t wpd[] = L"\\\\?\\usb#vid_04a9&pid_3218#0123abcd#{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
  const wchar_t still[] = L"\\\\?\\USB#VID_04A9&PID_3218#0123ABCD#{6bdd1fc6-810f-11d0-bec7-08002be2092f}";
  XpString device = XpPortableDevicePath::DeviceOf(wpd);
  XpArrivalMemory memory;
  EXPECT_TRUE(memory.IsNew(device, XpString()));
  // The second class, and the first again later: the memory holds no time.
  EXPECT_FALSE(memory.IsNew(XpPortableDevicePath::DeviceOf(still), XpString()));
  EXPECT_FALSE(memory.IsNew(XpPortableDevicePath::DeviceOf(wpd), XpString()));
  memory.Forget(XpPortableDevicePath::DeviceOf(still));
  EXPECT_TRUE(memory.IsNew(device, XpString()));
}

TEST(XpArrivalMemory, MadeUpDevicesKeepItBoundedAndVolumesHaveAnIdentity) {
  XpArrivalMemory memory;
  for (int i = 0; i < 5000; ++i) (void)memory.IsNew(XpString(std::to_wstring(i).c_str()), XpString());
  EXPECT_EQ(XpArrivalMemory::kMaxKeys, memory.Count());
  // The system drive reads; a letter without a volume has no identity.
  XpString system = XpVolumeIdentity(L"C:\\");
  EXPECT_GE(system.GetLength(), 9);
  EXPECT_EQ(system, XpVolumeIdentity(L"C:\\"));
  EXPECT_TRUE(XpVolumeIdentity(L"Q:\\").IsEmpty());
  EXPECT_TRUE(XpVolumeIdentity(nullptr).IsEmpty());
}

}  // namespace
