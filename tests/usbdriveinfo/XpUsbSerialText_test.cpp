// The whole serial-number text of a drive's USB device, read from made-up
// device trees: lengths up to the descriptor's limit, odd and truncated
// replies, and a serial that only one language of the device answers.
#include "usbdriveinfo/XpUsbDriveSearch.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/usbdriveinfo/FakeUsbDeviceApi.h"

namespace {

using namespace XpUsbDriveResult;

const wchar_t kUsbDiskPath[] =
    L"\\\\?\\usbstor#disk&ven_gen&prod_reader&rev_1.00#0001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const wchar_t kHubPath[] = L"\\\\?\\usb#root_hub#4&1&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
const DEVINST kUsbDisk = 20, kReader = 30, kHub = 40;
const DWORD kPort = 2;

// One card reader at port 2 of a root hub, drive F.
class UsbSerialText : public ::testing::Test {
 protected:
  void SetUp() override {
    api.AddVolume(L'F', 3);
    api.AddNode(kHub, 1, L"USB\\ROOT_HUB\\4&1&0");
    api.AddNode(kReader, kHub, L"USB\\VID_1234&PID_5678\\0001", kPort);
    api.AddDisk(kUsbDisk, kReader, L"USBSTOR\\DISK&VEN_GEN&PROD_READER&REV_1.00\\0001&0", kUsbDiskPath, 3);
    api.hubs = {{kHub, kHubPath, false, false, 0}};
    Port().idVendor = 0x1234;
    Port().idProduct = 0x5678;
    Port().serialIndex = 3;
  }
  void TearDown() override {
    EXPECT_TRUE(api.openHandles.empty()) << "handles left open";
    EXPECT_TRUE(api.openSets.empty()) << "device information sets left";
  }

  FakeUsbDeviceApi::Port& Port() { return api.devices[kHubPath].ports[kPort]; }
  void Serial(WORD language, const std::wstring& text) {
    Port().strings[{3, language}] = FakeUsbDeviceApi::Descriptor(text.c_str());
  }
  std::uint32_t Read(std::uint32_t size = 256) {
    for (wchar_t& c : buffer) c = L'#';
    return XpUsbGetSerialText(api, L'F', buffer, size);
  }

  FakeUsbDeviceApi api;
  wchar_t buffer[256];
};

std::wstring Digits(size_t n) {
  std::wstring text;
  for (size_t i = 0; i < n; ++i) text += static_cast<wchar_t>(L"0123456789ABCDEFGHIJ"[i % 20]);
  return text;
}

TEST_F(UsbSerialText, WholeTextOfEveryLengthUpToTheDescriptorLimit) {
  for (size_t length : {12u, 16u, 32u, 126u}) {
    Serial(0, Digits(length));
    EXPECT_EQ(kOk, Read()) << length;
    EXPECT_EQ(Digits(length), std::wstring(buffer)) << length;
  }
  // Letter case and characters that are not hexadecimal are kept as sent.
  Serial(0, L"ab-Cd 01_xyz");
  EXPECT_EQ(kOk, Read());
  EXPECT_STREQ(L"ab-Cd 01_xyz", buffer);
}

TEST_F(UsbSerialText, EmptySerialOrNoSerialIndexIsNoSerial) {
  Serial(0, L"");
  EXPECT_EQ(kNoSerial, Read());
  EXPECT_STREQ(L"", buffer);
  Port().serialIndex = 0;
  int before = api.descriptorRequests;
  EXPECT_EQ(kNoSerial, Read());
  EXPECT_EQ(before, api.descriptorRequests) << "a device without a serial index is not asked";
}

TEST_F(UsbSerialText, OddLengthDropsItsLastByteAndATerminatorEndsTheText) {
  // bLength 7: two whole characters and one stray byte.
  Port().strings[{3, 0}] = FakeUsbDeviceApi::Raw({7, 3, 'A', 0, 'B', 0, 'C'});
  EXPECT_EQ(kOk, Read());
  EXPECT_STREQ(L"AB", buffer);
  Port().strings[{3, 0}] = FakeUsbDeviceApi::Raw({10, 3, 'X', 0, 0, 0, 'Y', 0, 'Z', 0});
  EXPECT_EQ(kOk, Read());
  EXPECT_STREQ(L"X", buffer);
}

TEST_F(UsbSerialText, TruncatedReplyIsRefusedAndTheLanguagesAreTried) {
  // The reply claims 26 bytes but brings only 10: not a serial.
  FakeUsbDeviceApi::StringReply cut = FakeUsbDeviceApi::Descriptor(L"0123456789AB");
  cut.returnedData = 10;
  Port().strings[{3, 0}] = cut;
  EXPECT_EQ(kNoSerial, Read());
  EXPECT_STREQ(L"", buffer);
  Port().strings[{0, 0}] = FakeUsbDeviceApi::Raw({4, 3, 0x09, 0x04});
  Serial(0x0409, L"FROM-THE-LIST");
  EXPECT_EQ(kOk, Read());
  EXPECT_STREQ(L"FROM-THE-LIST", buffer);
}

TEST_F(UsbSerialText, SerialOnlyInTheSecondLanguage) {
  Port().strings[{0, 0}] = FakeUsbDeviceApi::Raw({6, 3, 0x07, 0x04, 0x09, 0x04});
  FakeUsbDeviceApi::StringReply fails;
  fails.fails = true;
  Port().strings[{3, 0x0407}] = fails;
  Serial(0x0409, L"SECOND-LANGUAGE-0001");
  EXPECT_EQ(kOk, Read());
  EXPECT_STREQ(L"SECOND-LANGUAGE-0001", buffer);
  // A language list with an odd length keeps its whole entries only.
  Port().strings[{0, 0}] = FakeUsbDeviceApi::Raw({7, 3, 0x07, 0x04, 0x09, 0x04, 0x11});
  EXPECT_EQ(kOk, Read());
  EXPECT_STREQ(L"SECOND-LANGUAGE-0001", buffer);
}

TEST_F(UsbSerialText, SmallBufferGetsTheCutTextAndSaysSo) {
  Serial(0, L"0123456789ABCDEF");
  EXPECT_EQ(kBufferTooSmall, Read(5));
  EXPECT_STREQ(L"0123", buffer);
  EXPECT_EQ(L'#', buffer[5]) << "written past the given size";
  EXPECT_EQ(kBufferTooSmall, Read(1));
  EXPECT_STREQ(L"", buffer);
  EXPECT_EQ(kOk, Read(17));
  EXPECT_STREQ(L"0123456789ABCDEF", buffer);
  EXPECT_EQ(kBadArgument, XpUsbGetSerialText(api, L'F', buffer, 0));
  EXPECT_EQ(kBadArgument, XpUsbGetSerialText(api, L'F', nullptr, 10));
}

TEST_F(UsbSerialText, FailedIdentificationGivesItsCodeAndAnEmptyText) {
  for (wchar_t& c : buffer) c = L'#';
  EXPECT_EQ(kOpenFailed, XpUsbGetSerialText(api, L'Q', buffer, 256));
  EXPECT_STREQ(L"", buffer);
  // Identified, but the hub does not answer for the port.
  Port().connectionFails = true;
  EXPECT_EQ(kNoSerial, Read());
  EXPECT_STREQ(L"", buffer);
  api.nodes[kReader].id = L"USB\\ROOT_HUB\\5&1&0";
  EXPECT_EQ(kNotSupported, Read());
  EXPECT_STREQ(L"", buffer);
}

}  // namespace
