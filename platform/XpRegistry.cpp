#include "XpRegistry.h"

#include <shlwapi.h>

#include <new>
#include <stdlib.h>

#include "XpHandle.h"

namespace {

// Longest key or value name the enumeration hands out, terminator included.
const DWORD kNameBuffer = 256;
// A damaged "Count" value must not make a list read run for billions of entries.
const DWORD kMaxListEntries = 4096;
// Largest string value read; beyond it the data cannot be a setting.
const DWORD kMaxStringBytes = 16u * 1024u * 1024u;

HKEY RootHandle(DWORD root) {
  return root == XpRegistry::kRootLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

XpString SystemPath(const XpString& path) {
  XpString converted(path);
  converted.Replace(L"/", L"\\");
  return converted;
}

XpString Numbered(const XpString& name, DWORD index) {
  XpString result(name);
  result.AppendFormat(L"%d", static_cast<int>(index));
  return result;
}

// Subkey or value names in index order. A name that does not fit the buffer
// is left out; the names after it still count.
XpRegistry::StringList EnumNames(HKEY key, bool subKeys) {
  XpRegistry::StringList names;
  if (!key) return names;
  for (DWORD index = 0;; ++index) {
    wchar_t buffer[kNameBuffer];
    DWORD length = kNameBuffer;
    LONG status = subKeys ? RegEnumKeyExW(key, index, buffer, &length, NULL, NULL, NULL, NULL)
                          : RegEnumValueW(key, index, buffer, &length, NULL, NULL, NULL, NULL);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) break;
    buffer[kNameBuffer - 1] = L'\0';
    names.push_back(XpString(buffer));
  }
  return names;
}

// The text with its environment variables put in; fallback when that fails.
XpString Expand(const wchar_t* text, const XpString& fallback) {
  DWORD need = ExpandEnvironmentStringsW(text, NULL, 0);
  if (need == 0 || need > kMaxStringBytes / sizeof(wchar_t)) return fallback;
  wchar_t* expanded = static_cast<wchar_t*>(calloc(need + 1, sizeof(wchar_t)));
  if (!expanded) return fallback;
  XpString result(fallback);
  DWORD got = ExpandEnvironmentStringsW(text, expanded, need + 1);
  if (got != 0 && got <= need + 1) result = expanded;
  free(expanded);
  return result;
}

}  // namespace

XpRegistry* XpRegistry::Open(const XpString& path, DWORD root, DWORD access) {
  XpRegistry* registry = new (std::nothrow) XpRegistry();
  if (!registry) return NULL;
  if (XpFailed(registry->OpenKey(path, root, access))) {
    delete registry;
    return NULL;
  }
  return registry;
}

XpRegistry* XpRegistry::OpenSubKey(const XpRegistry* parent, const XpString& name, DWORD access) {
  if (!parent || !parent->IsOpen()) return NULL;
  if ((access & kReadWrite) == 0) access = parent->m_access;
  return Open(parent->m_path + L"/" + name, parent->m_root, access);
}

XpRegistry* XpRegistry::OpenSubKeyLiteral(const XpRegistry* parent, const XpString& name, DWORD access) {
  if (!parent || !parent->IsOpen() || name.IsEmpty()) return NULL;
  if ((access & kReadWrite) == 0) access = parent->m_access;
  REGSAM desired = 0;
  if (access & kRead) desired |= KEY_READ;
  if (access & kWrite) desired |= KEY_WRITE;
  XpUniqueKey key;
  LONG status = desired == KEY_READ ? RegOpenKeyExW(parent->m_key, name.c_str(), 0, desired, key.put())
                                    : RegCreateKeyExW(parent->m_key, name.c_str(), 0, NULL, 0, desired, NULL,
                                                      key.put(), NULL);
  if (status != ERROR_SUCCESS) return NULL;
  XpRegistry* registry = new (std::nothrow) XpRegistry();
  if (!registry) return NULL;
  registry->m_key = key.release();
  registry->m_path = parent->m_path + L"/" + name;
  registry->m_root = parent->m_root;
  registry->m_access = access;
  return registry;
}

void XpRegistry::Close(XpRegistry* registry) { delete registry; }

XpRegistry::XpRegistry() : m_key(NULL), m_root(0), m_access(kRead) {}

XpRegistry::~XpRegistry() {
  if (m_key) RegCloseKey(m_key);
}

XpResult XpRegistry::OpenKey(const XpString& path, DWORD root, DWORD access) {
  if (m_key && RegCloseKey(m_key) == ERROR_SUCCESS) m_key = NULL;
  REGSAM desired = 0;
  if (access & kRead) desired |= KEY_READ;
  if (access & kWrite) desired |= KEY_WRITE;
  if (desired == 0) return XP_E_FAIL;
  XpString systemPath = SystemPath(path);
  HKEY key = NULL;
  LONG status;
  if (desired == KEY_READ) {
    status = RegOpenKeyExW(RootHandle(root), systemPath.c_str(), 0, desired, &key);
  } else {
    status = RegCreateKeyExW(RootHandle(root), systemPath.c_str(), 0, NULL, 0, desired, NULL, &key, NULL);
  }
  if (status != ERROR_SUCCESS) return XP_E_FAIL;
  m_key = key;
  m_path = path;
  m_root = root;
  m_access = access;
  return XP_OK;
}

XpResult XpRegistry::CloseKey() {
  if (!m_key || RegCloseKey(m_key) != ERROR_SUCCESS) return XP_E_FAIL;
  m_key = NULL;
  return XP_OK;
}

bool XpRegistry::HasValue(const XpString& name) const {
  if (!m_key) return false;
  DWORD size = 0;
  LONG status = RegQueryValueExW(m_key, SystemPath(name).c_str(), NULL, NULL, NULL, &size);
  return status == ERROR_SUCCESS && size != 0;
}

DWORD XpRegistry::ReadDword(const XpString& name, DWORD defaultValue) const {
  if (!m_key) return defaultValue;
  DWORD data = 0;
  DWORD size = sizeof(data);
  DWORD type = REG_NONE;
  LONG status =
      RegQueryValueExW(m_key, SystemPath(name).c_str(), NULL, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (status != ERROR_SUCCESS || type != REG_DWORD || size == 0) return defaultValue;
  return data;
}

bool XpRegistry::ReadBool(const XpString& name, bool defaultValue) const {
  return ReadDword(name, defaultValue ? 1 : 0) != 0;
}

XpString XpRegistry::ReadString(const XpString& name, const XpString& defaultValue) const {
  XpString result(defaultValue);
  if (!m_key) return result;
  XpString systemName = SystemPath(name);
  DWORD size = 0;
  if (RegQueryValueExW(m_key, systemName.c_str(), NULL, NULL, NULL, &size) != ERROR_SUCCESS) return result;
  if (size > kMaxStringBytes) return result;
  // Four zero bytes past the data keep the text terminated whatever was stored.
  BYTE* buffer = static_cast<BYTE*>(calloc(size + 4, 1));
  if (!buffer) return result;
  DWORD type = REG_NONE;
  DWORD read = size;
  // A value that grew since the size query no longer fits and reads as the default.
  if (RegQueryValueExW(m_key, systemName.c_str(), NULL, &type, buffer, &read) == ERROR_SUCCESS) {
    if (type == REG_SZ) {
      result = reinterpret_cast<const wchar_t*>(buffer);
    } else if (type == REG_EXPAND_SZ) {
      // Installers store folders as "%ProgramFiles%\..."; unexpanded,
      // such a text is no path at all.
      result = Expand(reinterpret_cast<const wchar_t*>(buffer), result);
    }
  }
  free(buffer);
  return result;
}

XpRegistry::StringList XpRegistry::ReadStringList(const XpString& name, const StringList& defaults) const {
  XpString countName = name + L"Count";
  if (!m_key || !HasValue(countName)) return defaults;
  DWORD count = ReadDword(countName, 0);
  if (count > kMaxListEntries) count = kMaxListEntries;
  StringList result;
  result.reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    XpString fallback = i < defaults.size() ? defaults[i] : XpString();
    result.push_back(ReadString(Numbered(name, i), fallback));
  }
  return result;
}

XpResult XpRegistry::WriteDword(const XpString& name, DWORD value) {
  if (!m_key) return XP_E_FAIL;
  LONG status = RegSetValueExW(m_key, SystemPath(name).c_str(), 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&value), sizeof(value));
  return status == ERROR_SUCCESS ? XP_OK : XP_E_FAIL;
}

XpResult XpRegistry::WriteString(const XpString& name, const XpString& value) {
  if (!m_key) return XP_E_FAIL;
  DWORD bytes = static_cast<DWORD>(value.GetLength() + 1) * sizeof(wchar_t);
  LONG status = RegSetValueExW(m_key, SystemPath(name).c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(value.c_str()), bytes);
  return status == ERROR_SUCCESS ? XP_OK : XP_E_FAIL;
}

XpResult XpRegistry::WriteStringList(const XpString& name, const StringList& list) {
  XpResult r = WriteDword(name + L"Count", static_cast<DWORD>(list.size()));
  for (size_t i = 0; XpSucceeded(r) && i < list.size(); ++i) {
    r = WriteString(Numbered(name, static_cast<DWORD>(i)), list[i]);
  }
  return r;
}

XpRegistry::StringList XpRegistry::EnumSubKeys() const { return EnumNames(m_key, true); }

XpRegistry::StringList XpRegistry::EnumValues() const { return EnumNames(m_key, false); }

XpResult XpRegistry::DeleteKey(const XpString& path, DWORD root) {
  // An empty path would name the root itself.
  if (path.IsEmpty()) return XP_E_FAIL;
  return SHDeleteKeyW(RootHandle(root), path.c_str()) == ERROR_SUCCESS ? XP_OK : XP_E_FAIL;
}

XpResult XpRegistry::DeleteValue(const XpString& path, DWORD root) {
  int split = path.ReverseFind(L'\\');
  // Without a backslash there is no key part: values of the root itself are not touched.
  if (split <= 0) return XP_E_FAIL;
  XpString key = path.Left(split);
  XpString value = path.Right(path.GetLength() - split - 1);
  return SHDeleteValueW(RootHandle(root), key.c_str(), value.c_str()) == ERROR_SUCCESS ? XP_OK : XP_E_FAIL;
}
