// What the launch decision asks about the device behind a drive letter. The
// decision sees only this interface, so that tests can put made-up devices
// behind letters that the test system does not have.
#pragma once

#include <windows.h>

#include "platform/XpResult.h"
#include "platform/XpString.h"

class IDeviceIdentification {
 public:
  // The bus type and USB ids of the drive's device (GetDriveDeviceInfo with
  // the drive's existence checked); the outputs are written only on success.
  [[nodiscard]] virtual XpResult identifyDrive(wchar_t letter, int* busType, DWORD* vendorId,
                                               DWORD* productId) = 0;
  // The device's whole USB serial-number text; written only on success.
  [[nodiscard]] virtual XpResult driveSerial(wchar_t letter, XpString* serial) = 0;
  // The volume's label; false (and the label untouched) when the volume
  // cannot be asked.
  virtual bool volumeLabel(const XpString& rootPath, XpString* label) = 0;

 protected:
  // Never deleted through the interface.
  ~IDeviceIdentification() {}
};

// The one that asks the system (UsbDriveInfo.dll, the volume itself).
IDeviceIdentification& SystemDeviceIdentification();
