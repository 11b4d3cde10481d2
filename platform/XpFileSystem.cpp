#include "platform/XpFileSystem.h"

#include <windows.h>

#include <cwchar>
#include <new>

#include "platform/XpDateTime.h"
#include "platform/XpFile.h"
#include "platform/XpHandle.h"
#include "platform/XpProcessStart.h"

// ---------------------------------------------------------------------------
// XpAbstractDir

XpAbstractDir::XpAbstractDir() : m_filterFlags(XP_FIND_ALL), m_patternLength(0) {}
XpAbstractDir::XpAbstractDir(const XpString& path)
    : XpAbstractFSObj(path), m_filterFlags(XP_FIND_ALL), m_patternLength(0) {}
XpAbstractDir::~XpAbstractDir() {}

namespace {

// A folder that is a link to another place (a junction, a mounted folder or a
// symbolic link) is not descended into: a link back up the tree would never end.
bool IsLinkedFolder(const XpAbstractFSObj& entry) {
  return entry.IsDirectory() &&
         XpFileSystemDetail::PathHasAttributes(entry.GetPath(), FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

std::int64_t XpAbstractDir::GetSize() {
  if (BeginFind(XP_FIND_ALL, XpString()) != XP_OK) return -1;
  std::int64_t sum = 0;
  for (;;) {
    XpSharedPtr<XpAbstractFSObj> entry = FindNext();
    if (entry.IsNull()) break;
    if (IsLinkedFolder(*entry)) continue;
    std::int64_t size = entry->GetSize();
    if (size >= 0) sum += size;
  }
  EndFind();
  return sum;
}

std::int64_t XpAbstractDir::GetEntryCount(bool recursive) {
  if (BeginFind(XP_FIND_ALL, XpString()) != XP_OK) return 0;
  std::int64_t count = 0;
  for (;;) {
    XpSharedPtr<XpAbstractFSObj> entry = FindNext();
    if (entry.IsNull()) break;
    ++count;
    if (recursive && entry->IsDirectory() && !IsLinkedFolder(*entry)) {
      count += static_cast<XpAbstractDir*>(entry.get())->GetEntryCount(true);
    }
  }
  EndFind();
  return count;
}

bool XpAbstractDir::Accept(bool isDirectory, const XpString& name) const {
  if (isDirectory ? (m_filterFlags & XP_FIND_DIRECTORIES) == 0 : (m_filterFlags & XP_FIND_FILES) == 0) {
    return false;
  }
  const int n = m_patternLength;
  const int length = name.GetLength();
  if (m_filterFlags & XP_FIND_NAME_EQUALS) return std::wcscmp(name.c_str(), m_filterPattern.c_str()) == 0;
  if (m_filterFlags & XP_FIND_NAME_STARTS) {
    return length >= n && std::wcsncmp(name.c_str(), m_filterPattern.c_str(), n) == 0;
  }
  if (m_filterFlags & XP_FIND_NAME_ENDS) {
    return length >= n && std::wcsncmp(name.c_str() + (length - n), m_filterPattern.c_str(), n) == 0;
  }
  return true;
}

// ---------------------------------------------------------------------------
// XpDir

namespace XpFileSystemDetail {

struct FindState {
  XpUniqueFindHandle handle;
  WIN32_FIND_DATAW data;
  bool end;
};

}  // namespace XpFileSystemDetail

XpDir::XpDir(const XpString& path) : XpAbstractDir(path), m_find(nullptr) {}

// No enumeration running is the only failure, and it needs no ending.
XpDir::~XpDir() { (void)EndFind(); }

XpString XpDir::GetName() const { return GetBaseName(m_path); }

std::int64_t XpDir::GetSize() {
  XpDir walker(m_path);
  return walker.XpAbstractDir::GetSize();
}

std::int64_t XpDir::GetEntryCount(bool recursive) {
  XpDir walker(m_path);
  return walker.XpAbstractDir::GetEntryCount(recursive);
}

XpResult XpDir::GetTimes(XpDateTime* creation, XpDateTime* lastWrite, XpDateTime* lastAccess) {
  return GetPathTimes(m_path, creation, lastWrite, lastAccess);
}

bool XpDir::IsReadOnly() const {
  return XpFileSystemDetail::PathHasAttributes(m_path, FILE_ATTRIBUTE_READONLY);
}

bool XpDir::IsHidden() const { return XpFileSystemDetail::PathHasAttributes(m_path, FILE_ATTRIBUTE_HIDDEN); }

XpResult XpDir::BeginFind(std::uint32_t flags, const XpString& pattern) {
  if (m_find != nullptr) EndFind();
  m_filterFlags = flags;
  m_filterPattern = pattern;
  m_patternLength = pattern.GetLength();
  m_find = new (std::nothrow) XpFileSystemDetail::FindState;
  if (m_find == nullptr) return XP_E_OUT_OF_MEMORY;
  m_find->end = false;
  m_find->handle.reset(FindFirstFileW(JoinPath(m_path, L"*").c_str(), &m_find->data));
  if (!m_find->handle) {
    DWORD error = GetLastError();
    // A drive root has no "." entry, so an empty one reports no files at all;
    // that is an empty enumeration, not a failure.
    if ((error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) && IsDirectoryPath(m_path)) {
      m_find->end = true;
      return XP_OK;
    }
    delete m_find;
    m_find = nullptr;
    return XpResultFromWin32(error);
  }
  if (!CurrentAcceptable()) Advance();
  return XP_OK;
}

bool XpDir::CurrentAcceptable() const {
  const WIN32_FIND_DATAW& data = m_find->data;
  const bool isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (isDirectory && (std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0)) {
    return false;
  }
  return Accept(isDirectory, XpString(data.cFileName));
}

void XpDir::Advance() {
  for (;;) {
    if (!FindNextFileW(m_find->handle.get(), &m_find->data)) {
      m_find->end = true;
      return;
    }
    if (CurrentAcceptable()) return;
  }
}

XpSharedPtr<XpAbstractFSObj> XpDir::FindNext() {
  if (m_find == nullptr || m_find->end) {
    if (m_find != nullptr) m_find->end = true;
    return XpSharedPtr<XpAbstractFSObj>();
  }
  const XpString full = JoinPath(m_path, XpString(m_find->data.cFileName));
  const bool isDirectory = (m_find->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  XpSharedPtr<XpAbstractFSObj> entry;
  if (isDirectory) {
    XpDir* dir = new (std::nothrow) XpDir(full);
    if (dir != nullptr) entry = XpSharedPtr<XpDir>(dir);
  } else {
    XpFile* file = new (std::nothrow) XpFile(full);
    if (file != nullptr) entry = XpSharedPtr<XpFile>(file);
  }
  Advance();
  return entry;
}

XpResult XpDir::EndFind() {
  if (m_find == nullptr) return XP_E_FILE_NOT_ACTIVE;
  delete m_find;
  m_find = nullptr;
  return XP_OK;
}

// ---------------------------------------------------------------------------
// Natural order

namespace {

typedef int(WINAPI* StrCmpLogicalWFn)(LPCWSTR, LPCWSTR);

// The natural-order comparison of the shell's light-weight library, loaded on
// first use and kept until the process ends.
class LogicalCompare {
 public:
  LogicalCompare() : m_module(LoadSystemLibrary(L"SHLWAPI.DLL")), m_compare(nullptr) {
    if (m_module) {
      m_compare = reinterpret_cast<StrCmpLogicalWFn>(
          reinterpret_cast<void*>(GetProcAddress(m_module.get(), "StrCmpLogicalW")));
    }
  }
  int Compare(const wchar_t* a, const wchar_t* b) const {
    return m_compare != nullptr ? m_compare(a, b) : _wcsicoll(a, b);
  }

 private:
  LogicalCompare(const LogicalCompare&);
  LogicalCompare& operator=(const LogicalCompare&);
  XpUniqueModule m_module;
  StrCmpLogicalWFn m_compare;
};

}  // namespace

int CompareLogical(const XpString& a, const XpString& b) {
  static LogicalCompare compare;
  return compare.Compare(a.c_str(), b.c_str());
}
