#include "usbdriveinfo/XpUsbDriveSearch.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/usbdriveinfo/FakeUsbDeviceApi.h"

namespace {

using namespace XpUsbDriveResult;

const wchar_t kUsbDiskPath[] =
    L"\\\\?\\usbstor#disk&ven_gen&prod_reader&rev_1.00#0001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const wchar_t kIdeDiskPath[] = L"\\\\?\\ide#diskmaker_1000#5&1&0&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const wchar_t kRootHubPath[] = L"\\\\?\\usb#root_hub#4&1&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
const wchar_t kHubPath[] = L"\\\\?\\usb#vid_05e3&pid_0608#5&2&0&1#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";

const DEVINST kIdeDisk = 10, kIdeChannel = 11, kUsbDisk = 20, kReader = 30, kHub = 40, kRootHub = 50;
const DEVINST kTreeRoot = 1, kController = 2;
const DWORD kReaderPort = 3;

// A bulk-only card reader at port 3 of an external hub, which itself sits at
// port 1 of the root hub; the root hub's own port 3 holds another device, so
// anything taken from the wrong hub shows. Drive C is an internal disk.
class UsbDriveSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    api.AddVolume(L'C', 0);
    api.AddVolume(L'E', 2);
    api.AddVolume(L'e', 2);
    api.AddNode(kTreeRoot, 0, L"HTREE\\ROOT\\0");
    api.AddNode(kController, kTreeRoot, L"PCI\\VEN_8086&DEV_1E31&SUBSYS_00000000&REV_04\\3&11583659&0&A0");
    api.AddNode(kIdeChannel, kTreeRoot, L"PCIIDE\\IDECHANNEL\\4&1F7E2B&0&0");
    api.AddDisk(kIdeDisk, kIdeChannel, L"IDE\\DISKMAKER_1000\\5&1&0&0", kIdeDiskPath, 0);
    api.AddNode(kRootHub, kController, L"USB\\ROOT_HUB\\4&1&0");
    FakeUsbDeviceApi::Node& hub = api.AddNode(kHub, kRootHub, L"USB\\VID_05E3&PID_0608\\5&2&0&1", 1);
    hub.manufacturer.bytes = FakeUsbDeviceApi::Text(L"HubMaker");
    hub.description.bytes = FakeUsbDeviceApi::Text(L"Generic USB Hub");
    FakeUsbDeviceApi::Node& reader =
        api.AddNode(kReader, kHub, L"USB\\VID_058F&PID_6362\\058F312D81B", kReaderPort);
    reader.manufacturer.bytes = FakeUsbDeviceApi::Text(L"Generic");
    reader.description.bytes = FakeUsbDeviceApi::Text(L"USB Card Reader");
    api.AddDisk(kUsbDisk, kReader, L"USBSTOR\\DISK&VEN_GEN&PROD_READER&REV_1.00\\0001&0", kUsbDiskPath, 2);

    api.hubs = {{kRootHub, kRootHubPath, false, false, 0}, {kHub, kHubPath, false, false, 0}};
    FakeUsbDeviceApi::Device& root = api.devices[kRootHubPath];
    root.ports[1].idVendor = 0x05E3;
    root.ports[1].idProduct = 0x0608;
    root.ports[3].idVendor = 0x1111;
    root.ports[3].idProduct = 0x2222;
    root.ports[3].bcdDevice = 0x9999;
    root.ports[3].serialIndex = 3;
    root.ports[3].strings[{3, 0}] = FakeUsbDeviceApi::Descriptor(L"FFFFFFFFFFFF");
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
  api.devices[kUsbDiskPath].numberFails = true;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  // Same number but another device type is another disk.
  api.devices[kUsbDiskPath].numberFails = false;
  api.devices[kUsbDiskPath].number.DeviceType = FILE_DEVICE_CD_ROM;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
}

TEST_F(UsbDriveSearch, ParentAnswersThatPointBackEndTheSearch) {
  // An old configuration manager answered the child itself as its parent.
  api.nodes[kUsbDisk].parent = kUsbDisk;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  EXPECT_LT(api.parentCalls, 10);
  // A loop of nodes that are no USB device is climbed only so far.
  api.AddNode(60, 61, L"SCSI\\ADAPTER\\0");
  api.AddNode(61, 62, L"SCSI\\ADAPTER\\1");
  api.AddNode(62, 60, L"SCSI\\ADAPTER\\2");
  api.nodes[kUsbDisk].parent = 60;
  api.parentCalls = 0;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  EXPECT_LT(api.parentCalls, 40);
  // The parent query as a stub that always fails.
  api.nodes[kUsbDisk].parent = kReader;
  api.nodes[kUsbDisk].parentResult = CR_CALL_NOT_IMPLEMENTED;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  api.nodes[kUsbDisk].parentResult = CR_SUCCESS;
  EXPECT_EQ(kOk, Identify(L'E'));
  // A device whose hub answer points back is still identified; only its serial is unknown.
  for (DEVINST back : {kReader, kUsbDisk, DEVINST(0)}) {
    api.nodes[kReader].parent = back;
    EXPECT_EQ(kOk, Identify(L'E'));
    EXPECT_EQ(0x6362, productId);
    EXPECT_EQ(kNoSerial, Serial(L'E'));
  }
}

TEST_F(UsbDriveSearch, EnumerationThatNeverEndsIsCutOff) {
  api.disks.resize(1);
  api.endlessDisks = true;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  EXPECT_LE(api.enumCalls, 70000);
}

TEST_F(UsbDriveSearch, DiskPlaceFailures) {
  api.diskSetFails = true;
  EXPECT_EQ(kOutOfMemory, Identify(L'E'));
  EXPECT_EQ(0, busType);
  api.diskSetFails = false;
  // Port address 0, or none at all: identified, but the hub is not asked.
  api.nodes[kReader].address.bytes = FakeUsbDeviceApi::Dword(0);
  EXPECT_EQ(kOk, Identify(L'E'));
  EXPECT_EQ(kNoSerial, Serial(L'E'));
  api.nodes[kReader].address.bytes.clear();
  EXPECT_EQ(kNoSerial, Serial(L'E'));
  EXPECT_EQ(0, api.descriptorRequests);
  api.nodes[kReader].address.bytes = FakeUsbDeviceApi::Dword(kReaderPort);
  // The disk's interface detail cannot be read, or its id cannot be.
  api.disks[1].detailFails = true;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  api.disks[1].detailFails = false;
  api.nodes[kReader].idResult = CR_NO_SUCH_DEVNODE;
  EXPECT_EQ(kNotSupported, Identify(L'E'));
  api.nodes[kReader].idResult = CR_SUCCESS;
  // Ids that only look like a USB device's.
  for (const wchar_t* id : {L"USB\\VID_058F&PID_636", L"USB\\VID_058F&PID_6362&REV_0100", L"USB\\VID_058F\\1",
                            L"USB\\VID_05XF&PID_6362\\1", L"USBSTOR\\VID_058F&PID_6362\\1"}) {
    api.nodes[kReader].id = id;
    api.nodes[kHub].id = L"USB\\ROOT_HUB20\\1";
    EXPECT_EQ(kNotSupported, Identify(L'E')) << std::wstring(id).c_str();
  }
  api.nodes[kReader].id = L"usb\\vid_058f&pid_6362\\1";
  EXPECT_EQ(kOk, Identify(L'E'));
  EXPECT_EQ(0x058F, vendorId);
}

TEST_F(UsbDriveSearch, HubFailuresLeaveOnlyTheSerialAndReleaseOut) {
  api.hubSetFails = true;
  EXPECT_EQ(kOk, Identify(L'E'));
  EXPECT_EQ(kNoSerial, Serial(L'E'));
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
    EXPECT_EQ(kOk, Identify(L'E')) << "change " << i;
    EXPECT_EQ(0x058F, vendorId) << "change " << i;
    std::uint16_t bcd = 0xFFFF;
    EXPECT_EQ(kNoSerial, XpUsbGetSerialAndBcdDevice(api, L'E', &serial, &bcd)) << "change " << i;
    EXPECT_EQ(0, bcd) << "change " << i;
    api.hubs[1] = saved;
  }
  // A larger detail size than needed still works.
  api.hubs[1].requiredOverride = 4096;
  EXPECT_EQ(kOk, Serial(L'E'));

  ReaderPort().connectionFails = true;
  EXPECT_EQ(kNoSerial, Serial(L'E'));
  ReaderPort().connectionFails = false;
  ReaderPort().connectionReturned = 16;
  EXPECT_EQ(kNoSerial, Serial(L'E'));
  // Another device at the port the address names: its serial is not taken.
  ReaderPort().connectionReturned = 365;
  ReaderPort().idProduct = 0x6366;
  EXPECT_EQ(kNoSerial, Serial(L'E'));
}

// Real topologies, added to the tree of the fixture. Each letter gets the
// identity of the USB device its disk hangs on.
class UsbDriveTopology : public UsbDriveSearch {
 protected:
  FakeUsbDeviceApi::Device& AddHub(DEVINST node, DEVINST parent, const std::wstring& id, DWORD port,
                                   const std::wstring& path) {
    api.AddNode(node, parent, id, port);
    api.hubs.push_back({node, path, false, false, 0});
    return api.devices[path];
  }
  void AtPort(const std::wstring& hubPath, DWORD port, WORD vendor, WORD product, WORD bcd,
              const wchar_t* serialText) {
    FakeUsbDeviceApi::Port& p = api.devices[hubPath].ports[port];
    p.idVendor = vendor;
    p.idProduct = product;
    p.bcdDevice = bcd;
    p.serialIndex = serialText != nullptr ? 3 : 0;
    if (serialText != nullptr) p.strings[{3, 0}] = FakeUsbDeviceApi::Descriptor(serialText);
  }
  void ExpectIdentity(wchar_t letter, int vendor, int product, std::uint64_t expectedSerial, WORD bcd) {
    SCOPED_TRACE(std::string(1, static_cast<char>(letter)));
    EXPECT_EQ(kOk, Identify(letter));
    EXPECT_EQ(3, busType);
    EXPECT_EQ(vendor, vendorId);
    EXPECT_EQ(product, productId);
    std::uint16_t release = 0xFFFF;
    serial = 0xDEAD;
    EXPECT_EQ(expectedSerial != 0 ? kOk : kNoSerial,
              XpUsbGetSerialAndBcdDevice(api, letter, &serial, &release));
    EXPECT_EQ(expectedSerial, serial);
    EXPECT_EQ(bcd, release);
  }
};

TEST_F(UsbDriveTopology, BulkOnlyReaderBehindTwoHubs) {
  const wchar_t path[] = L"\\\\?\\usb#vid_0409&pid_005a#6&3&0&2#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
  AddHub(41, kHub, L"USB\\VID_0409&PID_005A\\6&3&0&2", 2, path);
  api.nodes[kReader].parent = 41;
  AtPort(path, kReaderPort, 0x058F, 0x6362, 0x0100, L"0123456789AB");
  // The first hub's port 3 now holds another device.
  AtPort(kHubPath, kReaderPort, 0x0BDA, 0x0129, 0x3960, L"AAAAAAAAAAAA");
  ExpectIdentity(L'E', 0x058F, 0x6362, 0x0123456789ABull, 0x0100);
}

TEST_F(UsbDriveTopology, UaspEnclosureAndCompositeDeviceWithACardSlot) {
  // UASP: the disk is a SCSI disk whose parent is the USB device itself.
  const wchar_t root30[] = L"\\\\?\\usb#root_hub30#4&2&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
  AddHub(70, kController, L"USB\\ROOT_HUB30\\4&2&0", 0, root30);
  api.AddNode(71, 70, L"USB\\VID_174C&PID_55AA\\123456789012", 2);
  api.AddDisk(
      72, 71, L"SCSI\\DISK&VEN_SAMSUNG&PROD_SSD_860\\7&2A4A1D4E&0&000000",
      L"\\\\?\\scsi#disk&ven_samsung&prod_ssd_860#7&2a4a1d4e&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
      3);
  api.AddVolume(L'F', 3);
  AtPort(root30, 2, 0x174C, 0x55AA, 0x0100, L"1234567890AB");
  // Composite: a printer's card slot below its mass-storage interface node.
  api.AddNode(73, kRootHub, L"USB\\VID_03F0&PID_5511\\CN12345678", 4);
  api.AddNode(74, 73, L"USB\\VID_03F0&PID_5511&MI_02\\7&1&0&0002", 0);
  api.AddDisk(75, 74, L"USBSTOR\\DISK&VEN_HP&PROD_PHOTOSMART&REV_1.00\\CN12345678&0",
              L"\\\\?\\usbstor#disk&ven_hp&prod_photosmart&rev_1.00#cn12345678&0#{53f56307-b6bf-11d0-94f2-"
              L"00a0c91efb8b}",
              4);
  api.AddVolume(L'G', 4);
  AtPort(kRootHubPath, 4, 0x03F0, 0x5511, 0x0200, L"00000000C0DE");

  ExpectIdentity(L'F', 0x174C, 0x55AA, 0x1234567890ABull, 0x0100);
  ExpectIdentity(L'G', 0x03F0, 0x5511, 0xC0DEull, 0x0200);
}

TEST_F(UsbDriveTopology, FourSlotReaderOnAUsb3HubGivesEveryLetterOneIdentity) {
  // A USB 3 hub is two hubs: the SuperSpeed one and its USB 2 companion,
  // listed first, whose port 1 holds a keyboard.
  const wchar_t companion[] = L"\\\\?\\usb#vid_2109&pid_2817#5&9&0&3#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
  const wchar_t superSpeed[] = L"\\\\?\\usb#vid_2109&pid_0817#5&8&0&2#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
  AddHub(80, kRootHub, L"USB\\VID_2109&PID_2817\\5&9&0&3", 3, companion);
  AddHub(81, kRootHub, L"USB\\VID_2109&PID_0817\\5&8&0&2", 2, superSpeed);
  std::swap(api.hubs[0], api.hubs[2]);
  AtPort(companion, 1, 0x046D, 0xC31C, 0x6400, nullptr);
  api.AddNode(82, 81, L"USB\\VID_05E3&PID_0736\\000000000272", 1);
  AtPort(superSpeed, 1, 0x05E3, 0x0736, 0x0272, L"000000000272");
  const wchar_t* letters = L"HIJK";
  for (DWORD lun = 0; lun < 4; ++lun) {
    std::wstring n = std::to_wstring(lun);
    api.AddDisk(83 + lun, 82, L"USBSTOR\\DISK&VEN_GENERIC&PROD_STORAGE_DEVICE&REV_0272\\000000000272&" + n,
                L"\\\\?\\usbstor#disk&ven_generic&prod_storage_device&rev_0272#000000000272&" + n +
                    L"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                5 + lun);
    api.AddVolume(letters[lun], 5 + lun);
  }
  for (int i = 0; i < 4; ++i) ExpectIdentity(letters[i], 0x05E3, 0x0736, 0x272ull, 0x0272);
}

TEST_F(UsbDriveTopology, StickWithoutASerialDescriptor) {
  // Windows makes up the instance id of a device without a serial.
  api.AddNode(90, kRootHub, L"USB\\VID_0781&PID_5567\\6&2BEA7A0&0&2", 2);
  api.AddDisk(91, 90, L"USBSTOR\\DISK&VEN_SANDISK&PROD_CRUZER_BLADE&REV_1.26\\6&2BEA7A0&0&2&0",
              L"\\\\?\\usbstor#disk&ven_sandisk&prod_cruzer_blade&rev_1.26#6&2bea7a0&0&2&0#{53f56307-b6bf-"
              L"11d0-94f2-00a0c91efb8b}",
              9);
  api.AddVolume(L'M', 9);
  AtPort(kRootHubPath, 2, 0x0781, 0x5567, 0x0126, nullptr);
  api.descriptorRequests = 0;
  ExpectIdentity(L'M', 0x0781, 0x5567, 0, 0x0126);
  EXPECT_EQ(0, api.descriptorRequests);
}

TEST_F(UsbDriveTopology, MachineWithTwentyThousandDeviceNames) {
  // A server with thousands of virtual disks: no list of names is read, and
  // none of those disks is opened to find the reader behind them.
  const DEVINST adapter = 100;
  api.AddNode(adapter, kController, L"ROOT\\VHDMP\\0000");
  std::vector<FakeUsbDeviceApi::DiskEntry> reader(api.disks.begin() + 1, api.disks.end());
  api.disks.resize(1);
  for (DWORD i = 0; i < 20000; ++i) {
    std::wstring n = std::to_wstring(i);
    api.AddDisk(1000 + i, adapter, L"SCSI\\DISK&VEN_MSFT&PROD_VIRTUAL_DISK\\2&1F4ADFFE&0&" + n,
                L"\\\\?\\scsi#disk&ven_msft&prod_virtual_disk#2&1f4adffe&0&" + n +
                    L"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                100 + i);
  }
  api.disks.insert(api.disks.end(), reader.begin(), reader.end());
  api.opened.clear();
  ExpectIdentity(L'E', 0x058F, 0x6362, 0x0123456789ABull, 0x0100);
  EXPECT_LT(api.opened.size(), 10u);
}

TEST(UsbParseHexSerial, StopsAtTheFirstOtherCharacter) {
  EXPECT_EQ(0xFFFFFFFFFFFFull, XpUsbParseHexSerial(L"FFFFFFFFFFFF"));
  EXPECT_EQ(0xABull, XpUsbParseHexSerial(L"aBz1"));
  EXPECT_EQ(0ull, XpUsbParseHexSerial(L""));
  EXPECT_EQ(0ull, XpUsbParseHexSerial(L"+1"));
}

}  // namespace
