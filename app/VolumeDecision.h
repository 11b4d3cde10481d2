// What the watcher decides for one volume, with the facts it decided on: the
// device's identity, the rule that matched and the program it would start.
// The arrival callback and the Devices window share it.
#pragma once

#include <windows.h>

#include "app/LaunchSettings.h"
#include "platform/XpString.h"

struct VolumeDecision {
  VolumeDecision() : letter(0), identified(false), busType(0), kind(kDeviceRuleNone) {}
  XpString rootPath;
  wchar_t letter;
  // The device behind the letter was identified; facts hold its ids.
  bool identified;
  int busType;
  DeviceFacts facts;
  // kDeviceRuleNone: the importer modules decide.
  DeviceRuleKind kind;
  DeviceListEntry rule;
  // For a Launch rule: the program and its arguments.
  XpString program;
  XpString arguments;
};

// The volume's label; *known is false when the volume cannot be asked.
XpString ReadVolumeLabel(const XpString& rootPath, bool* known);

// Identifies the device behind the root's drive letter and finds its rule.
// The serial and the label are read only when a rule with the device's ids
// asks for them, unless allFacts is set (for showing them).
VolumeDecision DecideForVolume(const XpString& rootPath, bool allFacts);
