#include "app/ArrivalDecision.h"

#include "device/XpDriveDeviceInfo.h"
#include "device/XpUsbDevicePath.h"
#include "platform/XpResult.h"

void ApplyDeviceRules(const DeviceRules& rules, ArrivalDecision* decision) {
  decision->kind = kDeviceRuleNone;
  if (!decision->identified) return;
  decision->kind = FindDeviceRule(rules, decision->facts, &decision->rule);
  if (decision->kind != kDeviceRuleLaunch) return;
  XpString commandLine;
  ReadLaunchCommand(decision->rule, &decision->program, &commandLine);
  decision->arguments = decision->deviceKind == SF_DEVICE_VOLUME
                            ? FormatLaunchArguments(decision->letter, commandLine)
                            : FormatDeviceLaunchArguments(decision->path, commandLine);
}

ArrivalDecision DecideForVolume(const XpString& rootPath, IDeviceIdentification& identification,
                                bool allFacts) {
  ArrivalDecision decision;
  decision.path = rootPath;
  if (rootPath.IsEmpty()) return decision;
  decision.letter = *rootPath.At(0);
  DeviceFacts& facts = decision.facts;
  int busType = 0;
  if (identification.identifyDrive(decision.letter, &busType, &facts.vendorId, &facts.productId) != XP_OK) {
    if (allFacts) facts.labelKnown = identification.volumeLabel(rootPath, &facts.label);
    return decision;
  }
  decision.identified = true;
  decision.busType = busType;
  DeviceRules rules = ReadDeviceRules();
  if (allFacts || rules.wantsSerial(facts.vendorId, facts.productId))
    facts.serialKnown = identification.driveSerial(decision.letter, &facts.serial) == XP_OK;
  if (allFacts || rules.wantsLabel(facts.vendorId, facts.productId))
    facts.labelKnown = identification.volumeLabel(rootPath, &facts.label);
  ApplyDeviceRules(rules, &decision);
  return decision;
}

ArrivalDecision DecideForDevice(DWORD deviceKind, const XpString& interfacePath) {
  ArrivalDecision decision;
  decision.deviceKind = deviceKind;
  decision.path = interfacePath;
  if (deviceKind != SF_DEVICE_PORTABLE) return decision;
  DeviceFacts& facts = decision.facts;
  if (!XpUsbDevicePath::ParseUsbIds(interfacePath, &facts.vendorId, &facts.productId)) return decision;
  decision.identified = true;
  // The USB bus, as the Devices window names it.
  decision.busType = XP_BUS_TYPE_USB_STORAGE;
  facts.serial = XpUsbDevicePath::SerialOf(interfacePath);
  facts.serialKnown = !facts.serial.IsEmpty();
  ApplyDeviceRules(ReadDeviceRules(), &decision);
  return decision;
}
