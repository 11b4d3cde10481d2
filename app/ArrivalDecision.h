// What the watcher does for one arrived device, and why: one road for every
// kind. The facts about the device (its kind, its volume root or interface
// path, bus, USB ids, serial number, label) meet the "Launch" and "Ignore"
// lists, read once for all kinds: the user's lists before the machine's,
// serial and label where a rule asks for them and the device has them, entry
// names taken as listed ("/" included). Only the form of a launched
// program's arguments differs by kind. The arrival callbacks carry the
// decision out; the Devices window shows it.
#pragma once

#include <windows.h>

#include "app/DeviceIdentification.h"
#include "app/LaunchSettings.h"
#include "modules/SfImporterModule.h"
#include "platform/XpString.h"

struct ArrivalDecision {
  ArrivalDecision()
      : deviceKind(SF_DEVICE_VOLUME), letter(0), identified(false), busType(0), kind(kDeviceRuleNone) {}

  // The facts. deviceKind is the importer modules' kind: SF_DEVICE_VOLUME,
  // SF_DEVICE_1394 or SF_DEVICE_PORTABLE.
  DWORD deviceKind;
  // A volume's root such as E:\, or a device's interface path.
  XpString path;
  // A volume's drive letter; 0 for a device.
  wchar_t letter;
  // The device's USB ids are known; facts hold them.
  bool identified;
  int busType;
  DeviceFacts facts;

  // What to do. kDeviceRuleNone: the importer modules of deviceKind decide.
  DeviceRuleKind kind;
  DeviceListEntry rule;
  // For a Launch rule: the program and its arguments in the kind's form.
  XpString program;
  XpString arguments;
};

// Finds the rule for the facts of decision and, for a Launch rule, the
// program with its arguments: "/Drive" for a volume, "/Device" otherwise.
// A device whose ids are not known matches no rule.
void ApplyDeviceRules(const DeviceRules& rules, ArrivalDecision* decision);

// A volume: identifies the device behind the root's drive letter and decides.
// The serial and the label are asked for only when a rule with the device's
// ids wants them, unless allFacts is set (for showing them). A device that
// cannot be identified goes to the importer modules.
ArrivalDecision DecideForVolume(const XpString& rootPath, IDeviceIdentification& identification,
                                bool allFacts);

// A device by interface path. A portable device is known by the USB ids in
// its path and, where the path carries one, its serial number; it has no
// label. The lists do not apply to IEEE 1394 devices: they go to the
// importer modules.
ArrivalDecision DecideForDevice(DWORD deviceKind, const XpString& interfacePath);
