#include "app/DeviceIdentification.h"

#include "device/XpDriveDeviceInfo.h"
#include "platform/XpErrorMode.h"

namespace {

class SystemIdentification : public IDeviceIdentification {
 public:
  XpResult identifyDrive(wchar_t letter, int* busType, DWORD* vendorId, DWORD* productId) override {
    int bus = 0, vid = 0, pid = 0;
    XpResult result = GetDriveDeviceInfo(letter, &bus, &vid, &pid, nullptr, nullptr, true);
    if (result != XP_OK) return result;
    if (busType) *busType = bus;
    // The registry search of older systems gives -1 for an id it cannot
    // read: kept as the all-ones value, which no rule names.
    if (vendorId) *vendorId = static_cast<DWORD>(vid);
    if (productId) *productId = static_cast<DWORD>(pid);
    return XP_OK;
  }

  XpResult driveSerial(wchar_t letter, XpString* serial) override {
    return GetDriveSerialText(letter, serial);
  }

  bool volumeLabel(const XpString& rootPath, XpString* label) override {
    wchar_t text[MAX_PATH + 1];
    text[0] = L'\0';
    // No "insert a disk" box for a reader slot without a card; this thread's
    // mode only, since other threads probe drives at the same time.
    BOOL ok;
    {
      XpThreadErrorMode quiet;
      ok = GetVolumeInformationW(rootPath.c_str(), text, MAX_PATH + 1, NULL, NULL, NULL, NULL, 0);
    }
    if (!ok) return false;
    text[MAX_PATH] = L'\0';
    if (label) *label = text;
    return true;
  }
};

}  // namespace

IDeviceIdentification& SystemDeviceIdentification() {
  // No state and nothing to release: a plain static that never waits.
  static SystemIdentification identification;
  return identification;
}
