// Which arrival notices announce something new. A card gives several notices
// (the volume broadcast, the shell's media and drive notices) that can land
// more than the quiet second apart; a phone or camera announces one interface
// per class it speaks. Each thing arrived is decided once while it stays: a
// further notice with the same identity is not new, a removal or another
// identity in the same place (another card in the slot) makes the next one new.
#pragma once

#include <windows.h>

#include <map>

#include "platform/XpString.h"
#include "platform/XpSync.h"

class XpArrivalMemory {
 public:
  XpArrivalMemory() {}

  // True when the arrival at key (a drive root, a device) with identity is
  // new, and then remembers it; false for a repeat of what is present.
  [[nodiscard]] bool IsNew(const XpString& key, const XpString& identity);
  // Remembers key as decided with identity, whatever was there.
  void Remember(const XpString& key, const XpString& identity);
  // The thing at key went away.
  void Forget(const XpString& key);
  // Nothing is known to be present any more (nothing was heard for a while).
  void Clear();
  size_t Count();

  // More remembered keys than this are not kept (the oldest key in order
  // goes): any program can announce made-up devices.
  static constexpr size_t kMaxKeys = 256;

 private:
  XpArrivalMemory(const XpArrivalMemory&) = delete;
  XpArrivalMemory& operator=(const XpArrivalMemory&) = delete;
  void RememberLocked(const XpString& key, const XpString& identity);

  XpCriticalSection m_lock;
  std::map<XpString, XpString, XpNoCaseLess> m_present;
};

// The identity of the volume at a root: its serial number and label.
// Empty when the volume cannot be read (then every notice counts as new).
XpString XpVolumeIdentity(const wchar_t* rootPath);
