#include "app/VolumeDecision.h"

#include "device/XpDriveDeviceInfo.h"
#include "platform/XpErrorMode.h"

XpString ReadVolumeLabel(const XpString& rootPath, bool* known) {
  wchar_t label[MAX_PATH + 1];
  label[0] = L'\0';
  // No "insert a disk" box for a reader slot without a card; this thread's
  // mode only, since other threads probe drives at the same time.
  BOOL ok;
  {
    XpThreadErrorMode quiet;
    ok = GetVolumeInformationW(rootPath.c_str(), label, MAX_PATH + 1, NULL, NULL, NULL, NULL, 0);
  }
  label[MAX_PATH] = L'\0';
  if (known) *known = ok != FALSE;
  return ok ? XpString(label) : XpString();
}

VolumeDecision DecideForVolume(const XpString& rootPath, bool allFacts) {
  VolumeDecision decision;
  decision.rootPath = rootPath;
  if (rootPath.IsEmpty()) return decision;
  decision.letter = *rootPath.At(0);
  int busType = 0, vendorId = 0, productId = 0;
  if (GetDriveDeviceInfo(decision.letter, &busType, &vendorId, &productId, nullptr, nullptr, true) != XP_OK) {
    if (allFacts) decision.facts.label = ReadVolumeLabel(rootPath, &decision.facts.labelKnown);
    return decision;
  }
  decision.identified = true;
  decision.busType = busType;
  decision.facts.vendorId = static_cast<DWORD>(vendorId);
  decision.facts.productId = static_cast<DWORD>(productId);

  DeviceRules rules = ReadDeviceRules();
  DeviceFacts& facts = decision.facts;
  if (allFacts || rules.wantsSerial(facts.vendorId, facts.productId))
    facts.serialKnown = GetDriveSerialText(decision.letter, &facts.serial) == XP_OK;
  if (allFacts || rules.wantsLabel(facts.vendorId, facts.productId))
    facts.label = ReadVolumeLabel(rootPath, &facts.labelKnown);

  decision.kind = FindDeviceRule(rules, facts, &decision.rule);
  if (decision.kind == kDeviceRuleLaunch)
    ReadLaunchEntry(decision.rule.path, decision.rule.root, decision.letter, &decision.program,
                    &decision.arguments);
  return decision;
}
