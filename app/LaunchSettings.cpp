#include "app/LaunchSettings.h"

#include "app/WatcherSettings.h"
#include "modules/SuiteKeys.h"
#include "platform/XpPath.h"
#include "platform/XpRegistry.h"
#include "platform/XpVersionedKey.h"

namespace {

const wchar_t kVantolo[] = XP_SUITE_KEY L"/";

}  // namespace

XpString WatcherVersionedKeyPath() { return VersionedKeyPath(kWatcherSettingsPath); }

bool FindDeviceListEntry(const XpString& listPath, DWORD vendorId, DWORD productId, DeviceListEntry* entry) {
  DeviceFacts facts;
  facts.vendorId = vendorId;
  facts.productId = productId;
  DeviceList list = ReadDeviceList(listPath, XpRegistry::kRootLocalMachine);
  int index = SelectDeviceListEntry(list, facts);
  if (index < 0) return false;
  if (entry) *entry = list[static_cast<size_t>(index)];
  return true;
}

XpString ResolveAppInstance(const XpString& instance) {
  XpString base = XpString(kVantolo) + instance;
  XpString location, exeName;
  XpScopedRegistry key(OpenVersionedKey(base, XpRegistry::kRootLocalMachine, XpRegistry::kRead));
  if (key) {
    location = key->ReadString(L"InstalledLocation", XpString());
    exeName = key->ReadString(L"ExeName", XpString());
  }
  return JoinPath(location, exeName);
}

XpString FormatLaunchArguments(wchar_t letter, const XpString& commandLine) {
  wchar_t drive[2] = {letter, L'\0'};
  return XpString(L"/Drive \"") + drive + L"\" " + commandLine;
}

void ReadLaunchCommand(const DeviceListEntry& entry, XpString* program, XpString* commandLine) {
  // The list, then the entry by its name as listed: a "/" in the name is
  // part of it, never a level.
  int listLength = entry.path.GetLength() - entry.name.GetLength() - 1;
  XpScopedRegistry list(listLength > 0
                            ? XpRegistry::Open(entry.path.Left(listLength), entry.root, XpRegistry::kRead)
                            : nullptr);
  XpScopedRegistry key(list ? XpRegistry::OpenSubKeyLiteral(list.get(), entry.name, XpRegistry::kRead)
                            : nullptr);
  XpString appPath, text;
  if (key) {
    appPath = key->ReadString(L"AppPath", XpString());
    if (appPath.IsEmpty()) appPath = ResolveAppInstance(key->ReadString(L"AppInstance", XpString()));
    text = key->ReadString(L"CommandLine", XpString());
  }
  if (program) *program = appPath;
  if (commandLine) *commandLine = text;
}

XpString FormatDeviceLaunchArguments(const XpString& interfacePath, const XpString& commandLine) {
  return XpString(L"/Device \"") + interfacePath + L"\" " + commandLine;
}

// ---- device rules ----

int DeviceListEntry::criteria() const { return 2 + (wantsSerial() ? 1 : 0) + (wantsLabel() ? 1 : 0); }

DeviceList ReadDeviceList(const XpString& listPath, DWORD root) {
  DeviceList result;
  XpScopedRegistry list(XpRegistry::Open(listPath, root, XpRegistry::kRead));
  if (!list) return result;
  XpRegistry::StringList names = list->EnumSubKeys();
  for (size_t i = 0; i < names.size(); ++i) {
    // The name as listed: a "/" in it is part of the name, not a level.
    XpScopedRegistry key(XpRegistry::OpenSubKeyLiteral(list.get(), names[i], XpRegistry::kRead));
    if (!key) continue;
    if (key->HasValue(L"VID") && key->HasValue(L"PID")) {
      DeviceListEntry entry;
      entry.root = root;
      entry.path = key->GetPath();
      entry.name = names[i];
      entry.vendorId = key->ReadDword(L"VID", 0);
      entry.productId = key->ReadDword(L"PID", 0);
      entry.serial = key->ReadString(L"SerialNumber", XpString());
      entry.label = key->ReadString(L"VolumeLabel", XpString());
      result.push_back(entry);
    }
  }
  return result;
}

namespace {

wchar_t UpperChar(wchar_t c) {
  // One character through the system's table, as the comparisons of names do.
  wchar_t text[2] = {c, 0};
  CharUpperBuffW(text, 1);
  return text[0];
}

}  // namespace

bool MatchWildcardNoCase(const XpString& pattern, const XpString& text) {
  // Greedy match that returns to the last star: linear in practice, never
  // exponential, whatever the pattern.
  int p = 0, t = 0, star = -1, starText = 0;
  int pn = pattern.GetLength(), tn = text.GetLength();
  while (t < tn) {
    if (p < pn && *pattern.At(p) == L'*') {
      star = p++;
      starText = t;
    } else if (p < pn && (*pattern.At(p) == L'?' || UpperChar(*pattern.At(p)) == UpperChar(*text.At(t)))) {
      ++p;
      ++t;
    } else if (star >= 0) {
      p = star + 1;
      t = ++starText;
    } else {
      return false;
    }
  }
  while (p < pn && *pattern.At(p) == L'*') ++p;
  return p == pn;
}

bool DeviceListEntryMatches(const DeviceListEntry& entry, const DeviceFacts& facts) {
  if (entry.vendorId != facts.vendorId || entry.productId != facts.productId) return false;
  if (entry.wantsSerial() && (!facts.serialKnown || entry.serial.CompareNoCase(facts.serial.c_str()) != 0))
    return false;
  if (entry.wantsLabel() && (!facts.labelKnown || !MatchWildcardNoCase(entry.label, facts.label)))
    return false;
  return true;
}

int SelectDeviceListEntry(const DeviceList& list, const DeviceFacts& facts) {
  int best = -1;
  for (size_t i = 0; i < list.size(); ++i) {
    if (!DeviceListEntryMatches(list[i], facts)) continue;
    if (best < 0 || list[i].criteria() > list[static_cast<size_t>(best)].criteria())
      best = static_cast<int>(i);
  }
  return best;
}

bool DeviceListWantsSerial(const DeviceList& list, DWORD vendorId, DWORD productId) {
  for (const DeviceListEntry& entry : list)
    if (entry.vendorId == vendorId && entry.productId == productId && entry.wantsSerial()) return true;
  return false;
}

bool DeviceListWantsLabel(const DeviceList& list, DWORD vendorId, DWORD productId) {
  for (const DeviceListEntry& entry : list)
    if (entry.vendorId == vendorId && entry.productId == productId && entry.wantsLabel()) return true;
  return false;
}

bool DeviceRules::wantsSerial(DWORD vendorId, DWORD productId) const {
  for (const DeviceList& list : lists)
    if (DeviceListWantsSerial(list, vendorId, productId)) return true;
  return false;
}

bool DeviceRules::wantsLabel(DWORD vendorId, DWORD productId) const {
  for (const DeviceList& list : lists)
    if (DeviceListWantsLabel(list, vendorId, productId)) return true;
  return false;
}

DeviceRules ReadDeviceRules() {
  DeviceRules rules;
  XpString versioned = WatcherVersionedKeyPath();
  if (versioned.IsEmpty()) return rules;
  rules.lists[0] = ReadDeviceList(versioned + L"/Launch", XpRegistry::kRootCurrentUser);
  rules.lists[1] = ReadDeviceList(versioned + L"/Ignore", XpRegistry::kRootCurrentUser);
  rules.lists[2] = ReadDeviceList(versioned + L"/Launch", XpRegistry::kRootLocalMachine);
  rules.lists[3] = ReadDeviceList(versioned + L"/Ignore", XpRegistry::kRootLocalMachine);
  return rules;
}

DeviceRuleKind FindDeviceRule(const DeviceRules& rules, const DeviceFacts& facts, DeviceListEntry* found) {
  for (int i = 0; i < 4; ++i) {
    int index = SelectDeviceListEntry(rules.lists[i], facts);
    if (index < 0) continue;
    if (found) *found = rules.lists[i][static_cast<size_t>(index)];
    return DeviceRules::kindOf(i);
  }
  return kDeviceRuleNone;
}

XpResult AddUserIgnoreRule(const DeviceFacts& facts, bool withSerial, XpString* name) {
  XpString versioned = WatcherVersionedKeyPath();
  if (versioned.IsEmpty()) return XP_E_FAIL;
  XpString listPath = versioned + L"/Ignore";
  XpRegistry::StringList existing;
  {
    XpScopedRegistry list(XpRegistry::Open(listPath, XpRegistry::kRootCurrentUser, XpRegistry::kReadWrite));
    if (!list) return XP_E_FAIL;
    existing = list->EnumSubKeys();
  }
  // "Device 1234-5678", then "Device 1234-5678 (2)" and so on.
  wchar_t base[64];
  wsprintfW(base, L"Device %04X-%04X", static_cast<unsigned>(facts.vendorId & 0xFFFF),
            static_cast<unsigned>(facts.productId & 0xFFFF));
  XpString chosen;
  for (int n = 1; n < 1000 && chosen.IsEmpty(); ++n) {
    wchar_t candidate[80];
    if (n == 1)
      lstrcpyW(candidate, base);
    else
      wsprintfW(candidate, L"%s (%d)", base, n);
    bool taken = false;
    for (const XpString& other : existing)
      if (other.CompareNoCase(candidate) == 0) taken = true;
    if (!taken) chosen = candidate;
  }
  if (chosen.IsEmpty()) return XP_E_FAIL;
  XpScopedRegistry entry(
      XpRegistry::Open(listPath + L"/" + chosen, XpRegistry::kRootCurrentUser, XpRegistry::kReadWrite));
  if (!entry) return XP_E_FAIL;
  XpResult result = entry->WriteDword(L"VID", facts.vendorId);
  if (result == XP_OK) result = entry->WriteDword(L"PID", facts.productId);
  if (result == XP_OK && withSerial && facts.serialKnown && !facts.serial.IsEmpty())
    result = entry->WriteString(L"SerialNumber", facts.serial);
  if (result == XP_OK && name) *name = chosen;
  return result;
}
