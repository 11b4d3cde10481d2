#include "XpArrivalMemory.h"

#include "platform/XpErrorMode.h"

bool XpArrivalMemory::IsNew(const XpString& key, const XpString& identity) {
  XpSingleLock guard(&m_lock);
  auto found = m_present.find(key);
  if (found != m_present.end() && found->second == identity) return false;
  RememberLocked(key, identity);
  return true;
}

void XpArrivalMemory::Remember(const XpString& key, const XpString& identity) {
  XpSingleLock guard(&m_lock);
  RememberLocked(key, identity);
}

void XpArrivalMemory::RememberLocked(const XpString& key, const XpString& identity) {
  auto found = m_present.find(key);
  if (found != m_present.end()) {
    found->second = identity;
    return;
  }
  if (m_present.size() >= kMaxKeys) m_present.erase(m_present.begin());
  m_present[key] = identity;
}

void XpArrivalMemory::Forget(const XpString& key) {
  XpSingleLock guard(&m_lock);
  m_present.erase(key);
}

void XpArrivalMemory::Clear() {
  XpSingleLock guard(&m_lock);
  m_present.clear();
}

size_t XpArrivalMemory::Count() {
  XpSingleLock guard(&m_lock);
  return m_present.size();
}

XpString XpVolumeIdentity(const wchar_t* rootPath) {
  if (rootPath == nullptr || rootPath[0] == 0) return XpString();
  wchar_t label[MAX_PATH + 1] = {};
  DWORD serial = 0;
  BOOL ok;
  {
    // An empty slot must not raise the "insert a disk" box.
    XpThreadErrorMode quiet;
    ok = GetVolumeInformationW(rootPath, label, MAX_PATH + 1, &serial, nullptr, nullptr, nullptr, 0);
  }
  if (!ok) return XpString();
  label[MAX_PATH] = 0;
  // Eight hexadecimal digits, a blank, the label.
  wchar_t text[10];
  for (int i = 0; i < 8; ++i) text[i] = L"0123456789ABCDEF"[(serial >> (28 - 4 * i)) & 0xF];
  text[8] = L' ';
  text[9] = 0;
  return XpString(text) + XpString(label);
}
