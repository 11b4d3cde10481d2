#include "app/VolumeWatcherApp.h"

#include <cstddef>

#include "platform/XpHandle.h"
#include "platform/XpOsVersion.h"

XpString SingleInstanceGuard::mutexName(const XpString& executablePath) {
  XpString name = executablePath;
  int n = name.GetLength();
  if (n == 0) return name;
  // Copy-on-write: build the lowered text in a buffer and assign it once.
  wchar_t* text = new wchar_t[static_cast<size_t>(n) + 1];
  for (int i = n - 1; i >= 0; --i) {
    const wchar_t c = *name.At(i);
    text[i] = c == L'\\' ? L'/' : XpToLowerAscii(c);
  }
  text[n] = L'\0';
  name = text;
  delete[] text;
  return name;
}

SingleInstanceGuard::SingleInstanceGuard(const XpString& executablePath, bool global) : m_isFirst(false) {
  XpString name = mutexName(executablePath);
  if (global) {
    DWORD platform = 0, major = 0;
    if (GetOsVersion(platform, &major, nullptr) == XP_OK && major >= 5) name = L"Global\\" + name;
  }
  m_mutex.reset(CreateMutexW(NULL, FALSE, name.c_str()));
  m_isFirst = m_mutex && GetLastError() != ERROR_ALREADY_EXISTS;
}

SingleInstanceGuard::~SingleInstanceGuard() {}
