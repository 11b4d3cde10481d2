#include "usbdriveinfo/XpUsbDriveSearch.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/usbdriveinfo/FakeUsbDeviceApi.h"

namespace {

using namespace XpUsbDriveResult;

const wchar_t kUsbDiskName[] =
    L"USBSTOR#Disk&Ven_Gen&Prod_Reader&Rev_1.00#0001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const wchar_t kIdeDiskName[] = L"IDE#DiskMaker_1000#5&1&0&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const wchar_t kRootHubPath[] = L"\\\\?\\usb#root_hub#4&1&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
const wchar_t kHubPath[] = L"\\\\?\\usb#vid_05e3&pid_0608#5&2&0&1#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";

const DEVINST kIdeDisk = 10, kIdeChannel = 11, kUsbDisk = 20, kReader = 30, kHub = 40, kRootHub = 50;
const DWORD kReaderPort = 3;

STORAGE_DEVICE_NUMBER Number(DWORD number, DWORD partition) {
  STORAGE_DEVICE_NUMBER n;
  n.DeviceType = FILE_DEVICE_DISK;
  n.DeviceNumber = number;
  n.PartitionNumber = partition;
  return n;
}

// A card reader at port 3 of an external hub, which itself sits at port 1 of
// the root hub; the root hub's own port 3 holds another device, so ids taken
// from the wrong hub show.
class UsbDriveSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    api.dosNames = {{L"C:", L"\\Device\\HarddiskVolume1"},
                    {L"E:", L"\\Device\\HarddiskVolume5"},
                    {kIdeDiskName, L"\\Device\\Ide\\IdeDeviceP0T0L0-3"},
                    {kUsbDiskName, L"\\DEVICE\\00000061"}};
    api.devices[L"\\\\.\\C:"].number = Number(0, 1);
    api.devices[L"\\\\.\\E:"].number = Number(2, 1);
    api.devices[L"\\\\.\\e:"].number = Number(2, 1);
    api.devices[std::wstring(L"\\\\.\\") + kIdeDiskName].number = Number(0, 0);
    api.devices[std::wstring(L"\\\\.\\") + kUsbDiskName].number = Number(2, 0);
    api.disks = {{kIdeDisk, L"\\Device\\Ide\\IdeDeviceP0T0L0-3", false},
                 {kUsbDisk, L"\\Device\\00000061", false}};

    api.nodes[kIdeDisk].parent = kIdeChannel;
    api.nodes[kIdeChannel].parent = 1;
    api.nodes[kUsbDisk].parent = kReader;
    FakeUsbDeviceApi::Node& reader = api.nodes[kReader];
    reader.parent = kHub;
    reader.address.bytes = FakeUsbDeviceApi::Dword(kReaderPort);
    reader.manufacturer.bytes = FakeUsbDeviceApi::Text(L"Generic");
    reader.description.bytes = FakeUsbDeviceApi::Text(L"USB Card Reader");
    FakeUsbDeviceApi::Node& hub = api.nodes[kHub];
    hub.parent = kRootHub;
    hub.address.bytes = FakeUsbDeviceApi::Dword(1);
    hub.manufacturer.bytes = FakeUsbDeviceApi::Text(L"HubMaker");
    hub.description.bytes = FakeUsbDeviceApi::Text(L"Generic USB Hub");
    api.nodes[kRootHub].parent = 2;

    api.hubs = {{kRootHub, kRootHubPath, false, false, 0}, {kHub, kHubPath, false, false, 0}};
    FakeUsbDeviceApi::Device& root = api.devices[kRootHubPath];
    root.ports[1].idVendor = 0x05E3;
    root.ports[1].idProduct = 0x0608;
    root.ports[3].idVendor = 0x1111;
    root.ports[3].idProduct = 0x2222;
    FakeUsbDeviceApi::Port& port = ReaderPort();
    port.idVendor = 0x058F;
    port.idProduct = 0x6362;
    port.bcdDevice = 0x0100;
    port.serialIndex = 3;
    Strings()[{3, 0}] = FakeUsbDeviceApi::Descriptor(L"0123456789AB");
  }

  void TearDown() override {
    EXPECT_TRUE(api.openHandles.empty()) << "handles left open";
    EXPECT_TRUE(api.openSets.empty()) << "device information sets left";
  }

  FakeUsbDeviceApi::Port& ReaderPort() { return api.devices[kHubPath].ports[kReaderPort]; }
  std::map<std::pair<BYTE, WORD>, FakeUsbDeviceApi::StringReply>& Strings() { return ReaderPort().strings; }

  std::uint32_t Identify(wchar_t letter) {
    busType = vendorId = productId = 77;
    return XpUsbGetVenIdAndProdId(api, letter, &busType, &vendorId, &productId, manufacturer, product);
  }
  std::uint32_t Serial(wchar_t letter) {
    serial = 0xDEAD;
    return XpUsbGetSerial(api, letter, &serial);
  }

  FakeUsbDeviceApi api;
  int busType = 0, vendorId = 0, productId = 0;
  wchar_t manufacturer[256] = L"untouched";
  wchar_t product[256] = L"untouched";
  std::uint64_t serial = 0;
};

TEST_F(UsbDriveSearch, CardReaderGivesTheDeviceIdsAndTextsNotTheHubs) {
  EXPECT_EQ(kOk, Identify(L'E'));
  EXPECT_EQ(3, busType);
  EXPECT_EQ(0x058F, vendorId);
  EXPECT_EQ(0x6362, productId);
  EXPECT_STREQ(L"Generic", manufacturer);
  EXPECT_STREQ(L"USB Card Reader", product);
  // The identification alone never asks for the serial.
  EXPECT_EQ(0, api.descriptorRequests);

  EXPECT_EQ(kOk, Identify(L'e'));
  EXPECT_EQ(0x6362, productId);
}

TEST_F(UsbDriveSearch, InternalDiskIsNotSupportedAndKeepsTheOtherOutputs) {
  EXPECT_EQ(kNotSupported, Identify(L'C'));
  EXPECT_EQ(0, busType);
  EXPECT_EQ(77, vendorId);
  EXPECT_EQ(77, productId);
  EXPECT_STREQ(L"untouched", manufacturer);
  EXPECT_EQ(kNoSerial, Serial(L'C'));
  EXPECT_EQ(0u, serial);
}

TEST_F(UsbDriveSearch, LetterWithoutVolumeDoesNotOpen) {
  EXPECT_EQ(kOpenFailed, Identify(L'Q'));
  EXPECT_EQ(0, busType);
  EXPECT_EQ(77, vendorId);
  // Not a letter: nothing is opened at all.
  size_t opens = api.opened.size();
  EXPECT_EQ(kOpenFailed, Identify(L'1'));
  EXPECT_EQ(kOpenFailed, Identify(0));
  EXPECT_EQ(kOpenFailed, Identify(L'\\'));
  EXPECT_EQ(opens, api.opened.size());
  EXPECT_EQ(kNoSerial, Serial(L'Q'));
}

TEST_F(UsbDriveSearch, TwelveHexCharacterSerialAndDeviceRelease) {
  EXPECT_EQ(kOk, Serial(L'E'));
  EXPECT_EQ(0x0123456789ABull, serial);
  std::uint16_t bcd = 0xFFFF;
  serial = 0;
  EXPECT_EQ(kOk, XpUsbGetSerialAndBcdDevice(api, L'E', &serial, &bcd));
  EXPECT_EQ(0x0123456789ABull, serial);
  EXPECT_EQ(0x0100, bcd);
  EXPECT_EQ(kOk, XpUsbGetSerialAndBcdDevice(api, L'E', &serial, nullptr));
  // Lower-case digits parse the same.
  Strings()[{3, 0}] = FakeUsbDeviceApi::Descriptor(L"00000000beef");
  EXPECT_EQ(kOk, Serial(L'E'));
  EXPECT_EQ(0xBEEFull, serial);
}

TEST_F(UsbDriveSearch, SerialOfAnotherLengthCountsAsAbsentWhileIdentificationWorks) {
  Strings()[{3, 0}] = FakeUsbDeviceApi::Descriptor(L"0123456789ABCDEF");
  EXPECT_EQ(kNoSerial, Serial(L'E'));
  EXPECT_EQ(0u, serial);
  std::uint16_t bcd = 0;
  EXPECT_EQ(kNoSerial, XpUsbGetSerialAndBcdDevice(api, L'E', &serial, &bcd));
  EXPECT_EQ(0x0100, bcd);
  EXPECT_EQ(kOk, Identify(L'E'));
  EXPECT_EQ(3, busType);
  // No serial index: nothing is asked.
  ReaderPort().serialIndex = 0;
  api.descriptorRequests = 0;
  EXPECT_EQ(kNoSerial, Serial(L'E'));
  EXPECT_EQ(0, api.descriptorRequests);
  // Null serial pointer.
  EXPECT_EQ(kNoSerial, XpUsbGetSerial(api, L'E', nullptr));
}

TEST_F(UsbDriveSearch, SerialFoundOnlyThroughTheLanguageList) {
  Strings().erase({3, 0});
  Strings()[{0, 0}] = FakeUsbDeviceApi::Raw({6, 3, 0x07, 0x04, 0x09, 0x04});
  Strings()[{3, 0x0407}] = FakeUsbDeviceApi::Descriptor(L"0123456789ABCDEF");
  Strings()[{3, 0x0409}] = FakeUsbDeviceApi::Descriptor(L"00000000CAFE");
  EXPECT_EQ(kOk, Serial(L'E'));
  EXPECT_EQ(0xCAFEull, serial);
  EXPECT_EQ(4, api.descriptorRequests);

  // A 12-character serial that parses to 0 at language 0 also sends the search to the list.
  Strings()[{3, 0}] = FakeUsbDeviceApi::Descriptor(L"000000000000");
  EXPECT_EQ(kOk, Serial(L'E'));
  EXPECT_EQ(0xCAFEull, serial);
}

TEST_F(UsbDriveSearch, NullTextBuffersAndIntegerOutputsAreAccepted) {
  int bus = 0;
  EXPECT_EQ(kOk, XpUsbGetVenIdAndProdId(api, L'E', &bus, &vendorId, &productId, nullptr, nullptr));
  EXPECT_EQ(3, bus);
  EXPECT_EQ(0x058F, vendorId);
  EXPECT_EQ(kOk, XpUsbGetVenIdAndProdId(api, L'E', nullptr, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(UsbDriveSearch, NodeTextsAreCutToTheirReadAndAlwaysTerminated) {
  // Caller buffers with a guard area behind their 256 characters.
  wchar_t maker[300], desc[300];
  for (int i = 0; i < 300; ++i) maker[i] = desc[i] = 0xCCCC;
  std::wstring longText(300, L'M');
  api.nodes[kReader].manufacturer.bytes = FakeUsbDeviceApi::Text(longText.c_str());
  // Exactly the 256-byte read, without a terminator, reported as success.
  std::wstring exact(128, L'D');
  FakeUsbDeviceApi::Property& description = api.nodes[kReader].description;
  description.bytes = FakeUsbDeviceApi::Text((exact + L"XYZ").c_str());
  description.ignoreLength = true;
  int bus = 0;
  EXPECT_EQ(kOk, XpUsbGetVenIdAndProdId(api, L'E', &bus, &vendorId, &productId, maker, desc));
  EXPECT_STREQ(L"", maker);  // did not fit: empty, even though the driver wrote into the buffer
  EXPECT_EQ(exact, std::wstring(desc));
  for (int i = 256; i < 300; ++i) {
    EXPECT_EQ(0xCCCC, maker[i]);
    EXPECT_EQ(0xCCCC, desc[i]);
  }
  // A property that fails outright gives an empty text too.
  api.nodes[kReader].manufacturer.bytes.clear();
  api.nodes[kReader].manufacturer.result = CR_FAILURE;
  EXPECT_EQ(kOk, Identify(L'E'));
  EXPECT_STREQ(L"", manufacturer);
}

TEST_F(UsbDriveSearch, HostileSerialDescriptorsCountAsAbsent) {
  std::vector<FakeUsbDeviceApi::StringReply> replies;
  FakeUsbDeviceApi::StringReply good = FakeUsbDeviceApi::Descriptor(L"0123456789AB");
  FakeUsbDeviceApi::StringReply r = good;
  r.returnedData = 10;  // bLength 26, but the reply is shorter
  replies.push_back(r);
  r = good;
  r.bytes[0] = 27;  // odd
  r.bytes.push_back(0);
  replies.push_back(r);
  r = good;
  r.bytes[0] = 255;  // beyond the reply
  replies.push_back(r);
  r = good;
  r.bytes[0] = 1;  // below the header
  replies.push_back(r);
  r = good;
  r.bytes[0] = 0;
  replies.push_back(r);
  r = good;
  r.bytes[1] = 2;  // not a string descriptor
  replies.push_back(r);
  replies.push_back(FakeUsbDeviceApi::Raw({}));    // empty reply
  replies.push_back(FakeUsbDeviceApi::Raw({26}));  // one byte
  // Not hexadecimal from the start, or with a sign, blank or prefix.
  replies.push_back(FakeUsbDeviceApi::Descriptor(L"G0123456789A"));
  replies.push_back(FakeUsbDeviceApi::Descriptor(L"-00000000001"));
  replies.push_back(FakeUsbDeviceApi::Descriptor(L" 0123456789A"));
  replies.push_back(FakeUsbDeviceApi::Descriptor(L"0x0123456789"));
  for (size_t i = 0; i < replies.size(); ++i) {
    Strings()[{3, 0}] = replies[i];
    EXPECT_EQ(kNoSerial, Serial(L'E')) << "reply " << i;
    EXPECT_EQ(0u, serial) << "reply " << i;
  }
  // Parsed up to the first other character.
  Strings()[{3, 0}] = FakeUsbDeviceApi::Descriptor(L"01234G789ABC");
  EXPECT_EQ(kOk, Serial(L'E'));
  EXPECT_EQ(0x01234ull, serial);
}

TEST_F(UsbDriveSearch, HostileLanguageListsAskOnlyForWhatTheyHold) {
  Strings().erase({3, 0});
  Strings()[{3, 0x0407}] = FakeUsbDeviceApi::Descriptor(L"0123456789AB");
  struct Case {
    std::vector<BYTE> list;
    int requests;  // serial at 0, the list, then one per listed language
  } cases[] = {
      {{5, 3, 0x09, 0x04, 0x07, 0x04}, 3},  // odd length: the stray byte is no entry
      {{2, 3, 0x07, 0x04}, 2},              // no entries
      {{0, 3, 0x07, 0x04}, 2},              // bLength below the header
      {{1, 3, 0x07, 0x04}, 2},
      {{200, 3, 0x07, 0x04}, 2},  // beyond the reply
      {{4, 1, 0x07, 0x04}, 2},    // not a string descriptor
  };
  for (const Case& c : cases) {
    Strings()[{0, 0}] = FakeUsbDeviceApi::Raw(c.list);
    api.descriptorRequests = 0;
    EXPECT_EQ(kNoSerial, Serial(L'E')) << int(c.list[0]);
    EXPECT_EQ(c.requests, api.descriptorRequests) << int(c.list[0]);
  }
  // The full list of 255 bytes: 126 languages, the matching one last.
  std::vector<BYTE> full(255, 0x01);
  full[0] = 255;
  full[1] = 3;
  full[252] = 0x07;
  full[253] = 0x04;
  Strings()[{0, 0}] = FakeUsbDeviceApi::Raw(full);
  EXPECT_EQ(kOk, Serial(L'E'));
  EXPECT_EQ(0x0123456789ABull, serial);
}

TEST_F(UsbDriveSearch, FailedOrShortDeviceNumberRequestsMatchNoDisk) {
  api.devices[L"\\\\.\\E:"].numberFails = true;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  EXPECT_EQ(0, busType);
  api.devices[L"\\\\.\\E:"].numberFails = false;
  api.devices[L"\\\\.\\E:"].numberReturned = 8;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  api.devices[L"\\\\.\\E:"].numberReturned = sizeof(STORAGE_DEVICE_NUMBER);
  api.devices[std::wstring(L"\\\\.\\") + kUsbDiskName].numberFails = true;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  // Same number but another device type is another disk.
  api.devices[std::wstring(L"\\\\.\\") + kUsbDiskName].numberFails = false;
  api.devices[std::wstring(L"\\\\.\\") + kUsbDiskName].number.DeviceType = FILE_DEVICE_CD_ROM;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
}

TEST_F(UsbDriveSearch, ParentAnswersThatPointBackEndTheSearch) {
  // An old configuration manager answered the child itself as its parent.
  api.nodes[kUsbDisk].parent = kUsbDisk;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  EXPECT_LT(api.parentCalls, 10);
  api.nodes[kUsbDisk].parent = kReader;
  api.nodes[kReader].parent = kReader;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  api.nodes[kReader].parent = kUsbDisk;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  api.nodes[kReader].parent = 0;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  // The parent query as a stub that always fails.
  api.nodes[kReader].parent = kHub;
  api.nodes[kUsbDisk].parentResult = CR_CALL_NOT_IMPLEMENTED;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  api.nodes[kUsbDisk].parentResult = CR_SUCCESS;
  EXPECT_EQ(kOk, Identify(L'E'));
}

TEST_F(UsbDriveSearch, EnumerationThatNeverEndsIsCutOff) {
  api.disks = {{kIdeDisk, L"\\Device\\Ide\\IdeDeviceP0T0L0-3", false}};
  api.endlessDisks = true;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  EXPECT_LE(api.enumCalls, 5000);
}

TEST_F(UsbDriveSearch, DiskPlaceFailures) {
  api.diskSetFails = true;
  EXPECT_EQ(kOutOfMemory, Identify(L'E'));
  EXPECT_EQ(0, busType);
  api.diskSetFails = false;
  // Port address 0, or none at all.
  api.nodes[kReader].address.bytes = FakeUsbDeviceApi::Dword(0);
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  api.nodes[kReader].address.bytes.clear();
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  api.nodes[kReader].address.bytes = FakeUsbDeviceApi::Dword(kReaderPort);
  // The object name cannot be read, or has no MS-DOS name.
  api.disks[1].objectNameFails = true;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  api.disks[1].objectNameFails = false;
  api.disks[1].objectName = L"\\Device\\00000099";
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  api.disks[1].objectName = L"\\Device\\00000061";
  EXPECT_EQ(kOk, Identify(L'E'));
}

TEST_F(UsbDriveSearch, HubFailuresGiveNotSupported) {
  api.hubSetFails = true;
  EXPECT_EQ(kOutOfMemory, Identify(L'E'));
  api.hubSetFails = false;
  struct Change {
    void (*apply)(FakeUsbDeviceApi::HubEntry&);
  } changes[] = {
      {[](FakeUsbDeviceApi::HubEntry& h) { h.node = 99; }},
      {[](FakeUsbDeviceApi::HubEntry& h) { h.noInterface = true; }},
      {[](FakeUsbDeviceApi::HubEntry& h) { h.detailFails = true; }},
      {[](FakeUsbDeviceApi::HubEntry& h) { h.requiredOverride = 0x40000000; }},
      {[](FakeUsbDeviceApi::HubEntry& h) { h.requiredOverride = 2; }},
      {[](FakeUsbDeviceApi::HubEntry& h) { h.path = L"\\\\?\\gone"; }},
  };
  for (size_t i = 0; i < sizeof(changes) / sizeof(changes[0]); ++i) {
    FakeUsbDeviceApi::HubEntry saved = api.hubs[1];
    changes[i].apply(api.hubs[1]);
    EXPECT_EQ(kNotSupported, Identify(L'E')) << "change " << i;
    EXPECT_EQ(0, busType) << "change " << i;
    api.hubs[1] = saved;
  }
  // A larger detail size than needed still works.
  api.hubs[1].requiredOverride = 4096;
  EXPECT_EQ(kOk, Identify(L'E'));

  ReaderPort().connectionFails = true;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  EXPECT_EQ(0, busType);
  EXPECT_EQ(77, vendorId);
  ReaderPort().connectionFails = false;
  ReaderPort().connectionReturned = 16;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
}

TEST_F(UsbDriveSearch, NameListsAreReadInsideTheirBuffer) {
  // A list that fills the whole buffer without any terminator.
  api.rawNameList = true;
  api.nameList.assign(70000, L'U');
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  // The real list, but missing its final terminator.
  api.nameList.clear();
  for (const auto& entry : api.dosNames) {
    api.nameList.insert(api.nameList.end(), entry.first.begin(), entry.first.end());
    api.nameList.push_back(0);
  }
  api.nameList.pop_back();
  EXPECT_EQ(kOk, Identify(L'E'));
  // No list at all.
  api.nameList.clear();
  EXPECT_EQ(kNotSupported, Identify(L'E'));
}

TEST(UsbParseHexSerial, StopsAtTheFirstOtherCharacter) {
  EXPECT_EQ(0xFFFFFFFFFFFFull, XpUsbParseHexSerial(L"FFFFFFFFFFFF"));
  EXPECT_EQ(0xABull, XpUsbParseHexSerial(L"aBz1"));
  EXPECT_EQ(0ull, XpUsbParseHexSerial(L""));
  EXPECT_EQ(0ull, XpUsbParseHexSerial(L"+1"));
}

}  // namespace
