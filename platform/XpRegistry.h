// One open registry key under the current user or the local machine. Paths and
// value names are written with "/" and handed to the system with "\"; typed
// reads return the caller's default whenever the value cannot be used, so
// callers never have to tell a missing value from an unreadable one.
#pragma once

#include <windows.h>

#include <vector>

#include "XpResult.h"
#include "XpString.h"

class XpRegistry {
 public:
  typedef std::vector<XpString> StringList;

  // Roots: 1 is HKEY_LOCAL_MACHINE, any other value HKEY_CURRENT_USER.
  static const DWORD kRootCurrentUser = 0;
  static const DWORD kRootLocalMachine = 1;
  // Access flags.
  static const DWORD kRead = 1;
  static const DWORD kWrite = 2;
  static const DWORD kReadWrite = 3;

  // Read-only access opens an existing key; any write access creates a missing
  // one. Null when the key cannot be opened; the caller ends the object with Close.
  static XpRegistry* Open(const XpString& path, DWORD root, DWORD access);
  // parent's path + "/" + name under parent's root; access without bit 1 or 2
  // takes the parent's. Null when parent is null or closed, or the open fails.
  static XpRegistry* OpenSubKey(const XpRegistry* parent, const XpString& name, DWORD access);
  // Closes the key and deletes the object; null does nothing.
  static void Close(XpRegistry* registry);

  XpRegistry();
  virtual ~XpRegistry();

  // Closes any open key first. 0 or XP_E_FAIL.
  [[nodiscard]] XpResult OpenKey(const XpString& path, DWORD root, DWORD access);
  // XP_E_FAIL when no key is open or the system refuses to close it.
  [[nodiscard]] XpResult CloseKey();

  bool IsOpen() const { return m_key != NULL; }
  const XpString& GetPath() const { return m_path; }
  DWORD GetRoot() const { return m_root; }
  DWORD GetAccess() const { return m_access; }

  // The value exists and holds at least one byte.
  bool HasValue(const XpString& name) const;
  DWORD ReadDword(const XpString& name, DWORD defaultValue) const;
  bool ReadBool(const XpString& name, bool defaultValue) const;
  // REG_SZ only; the text ends at its first terminator. Values over 16 MiB read
  // as the default.
  XpString ReadString(const XpString& name, const XpString& defaultValue) const;
  // name + "Count" entries name + "0", name + "1", ...; entry i missing or
  // unreadable reads as defaults[i] (or empty). Without the Count value: defaults.
  // A Count above 4096 is taken as 4096.
  StringList ReadStringList(const XpString& name, const StringList& defaults) const;

  // 0 or XP_E_FAIL (at once when no key is open).
  [[nodiscard]] XpResult WriteDword(const XpString& name, DWORD value);
  [[nodiscard]] XpResult WriteString(const XpString& name, const XpString& value);
  // Stops at the first failed write and returns it.
  [[nodiscard]] XpResult WriteStringList(const XpString& name, const StringList& list);

  // Names in the system's index order; empty when closed. Names longer than 255
  // characters are left out.
  StringList EnumSubKeys() const;
  StringList EnumValues() const;

  // The key with its whole subtree. The path is taken as given (backslashes);
  // an empty path (the root itself) is refused.
  [[nodiscard]] static XpResult DeleteKey(const XpString& path, DWORD root);
  // path is "key\value": split at the last backslash; the value is deleted from
  // the key. A path without a key part is refused.
  [[nodiscard]] static XpResult DeleteValue(const XpString& path, DWORD root);

 private:
  XpRegistry(const XpRegistry&);
  XpRegistry& operator=(const XpRegistry&);

  HKEY m_key;
  XpString m_path;
  DWORD m_root;
  DWORD m_access;
};

// Closes a key returned by the static factories when the scope ends.
class XpScopedRegistry {
 public:
  XpScopedRegistry() : m_registry(nullptr) {}
  explicit XpScopedRegistry(XpRegistry* registry) : m_registry(registry) {}
  XpScopedRegistry(XpScopedRegistry&& other) noexcept : m_registry(other.release()) {}
  XpScopedRegistry& operator=(XpScopedRegistry&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~XpScopedRegistry() { XpRegistry::Close(m_registry); }
  XpRegistry* get() const { return m_registry; }
  XpRegistry* operator->() const { return m_registry; }
  explicit operator bool() const { return m_registry != nullptr; }
  void reset(XpRegistry* registry = nullptr) {
    XpRegistry::Close(m_registry);
    m_registry = registry;
  }
  // The caller takes over the duty to close.
  [[nodiscard]] XpRegistry* release() {
    XpRegistry* registry = m_registry;
    m_registry = nullptr;
    return registry;
  }

 private:
  XpScopedRegistry(const XpScopedRegistry&) = delete;
  XpScopedRegistry& operator=(const XpScopedRegistry&) = delete;
  XpRegistry* m_registry;
};
