// A component's settings live under "<component key>/<CurrentVersion>", where
// the "CurrentVersion" value of the component key on the local machine names
// the installed version. One place reads it for every component.
#pragma once

#include <windows.h>

#include "XpRegistry.h"
#include "XpString.h"

// path + "/" + the version, or fallbackVersion where the value is missing or
// empty; empty when neither names a version.
inline XpString VersionedKeyPath(const XpString& path, const XpString& fallbackVersion = XpString()) {
  XpScopedRegistry component(XpRegistry::Open(path, XpRegistry::kRootLocalMachine, XpRegistry::kRead));
  XpString version = component ? component->ReadString(L"CurrentVersion", XpString()) : XpString();
  if (version.IsEmpty()) version = fallbackVersion;
  if (version.IsEmpty()) return XpString();
  return path + L"/" + version;
}

// That key under root (the version itself always comes from the machine);
// null without a version or when the open fails. The caller ends it with
// XpRegistry::Close or holds it in an XpScopedRegistry.
inline XpRegistry* OpenVersionedKey(const XpString& path, DWORD root, DWORD access,
                                    const XpString& fallbackVersion = XpString()) {
  const XpString versioned = VersionedKeyPath(path, fallbackVersion);
  return versioned.IsEmpty() ? nullptr : XpRegistry::Open(versioned, root, access);
}
