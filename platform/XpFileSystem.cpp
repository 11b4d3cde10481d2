#include "platform/XpFileSystem.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cwchar>
#include <cwctype>
#include <new>

#include "platform/XpDateTime.h"
#include "platform/XpFile.h"
#include "platform/XpFileOperation.h"
#include "platform/XpHandle.h"

[[nodiscard]] XpResult XpResultFromWin32(DWORD error) {
  switch (error) {
    case 0:
      return XP_OK;
    case ERROR_FILE_NOT_FOUND:
      return XP_E_FILE_NOT_FOUND;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      return XP_E_PATH_NOT_FOUND;
    case ERROR_TOO_MANY_OPEN_FILES:
      return XP_E_TOO_MANY_OPEN_FILES;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED:
      return XP_E_ACCESS_DENIED;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return XP_E_OUT_OF_MEMORY;
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
      return XP_E_DEVICE_NOT_READY;
    case ERROR_HANDLE_EOF:
      return XP_E_FILE_EOF;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
      return XP_E_DISK_FULL;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return XP_E_ALREADY_EXISTS;
    case ERROR_OPEN_FAILED:
      return XP_E_OPEN_FAILED;
    case ERROR_DIR_NOT_EMPTY:
    case 4307:   // a directory or volume that still holds files
    case 10066:  // WSAENOTEMPTY
      return XP_E_DIR_NOT_EMPTY;
    case ERROR_FILE_INVALID:
      return XP_E_FILE_INVALID;
    default:
      return XP_E_FAIL;
  }
}

[[nodiscard]] XpResult XpResultFromLastError() { return XpResultFromWin32(GetLastError()); }

// ---------------------------------------------------------------------------
// XpAbstractFSObj

XpAbstractFSObj::XpAbstractFSObj() {}
XpAbstractFSObj::XpAbstractFSObj(const XpString& path) : m_path(path) {}
XpAbstractFSObj::~XpAbstractFSObj() {}

XpResult XpAbstractFSObj::SetPath(const XpString& path) {
  m_path = path;
  return XP_OK;
}

XpString XpAbstractFSObj::GetPath() const { return m_path; }

// A time that could not be read is returned invalid rather than as the epoch.
XpDateTime XpAbstractFSObj::GetCreationTime() {
  XpDateTime t;
  if (GetTimes(&t, nullptr, nullptr) != XP_OK) t = XpDateTime(0, 0, 0);
  return t;
}

XpDateTime XpAbstractFSObj::GetLastWriteTime() {
  XpDateTime t;
  if (GetTimes(nullptr, &t, nullptr) != XP_OK) t = XpDateTime(0, 0, 0);
  return t;
}

XpDateTime XpAbstractFSObj::GetLastAccessTime() {
  XpDateTime t;
  if (GetTimes(nullptr, nullptr, &t) != XP_OK) t = XpDateTime(0, 0, 0);
  return t;
}

XpResult XpAbstractFSObj::SetTimes(const XpDateTime*, const XpDateTime*, const XpDateTime*) {
  return XP_E_NOT_SUPPORTED;
}

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

bool PathHasAttributes(const XpString& path, DWORD attributes) {
  const DWORD present = GetFileAttributesW(path.c_str());
  return present != INVALID_FILE_ATTRIBUTES && (present & attributes) == attributes;
}

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

[[nodiscard]] XpResult GetPathTimes(const XpString& path, XpDateTime* creation, XpDateTime* lastWrite,
                                    XpDateTime* lastAccess) {
  // The run-time status call refuses a trailing backslash except on a root.
  XpString statPath = path;
  if (statPath.GetLength() > 3) RemoveTrailingBackslash(statPath);
  struct _stat64 status;
  if (_wstat64(statPath.c_str(), &status) != 0) return XP_E_FILE_NOT_FOUND;
  if (creation != nullptr) *creation = XpDateTime(static_cast<__time64_t>(status.st_ctime));
  if (lastWrite != nullptr) *lastWrite = XpDateTime(static_cast<__time64_t>(status.st_mtime));
  if (lastAccess != nullptr) *lastAccess = XpDateTime(static_cast<__time64_t>(status.st_atime));
  return XP_OK;
}

// ---------------------------------------------------------------------------
// Path functions

void SplitPath(const XpString& path, XpString* directory, XpString* baseName, XpString* extension) {
  XpString p = path;
  if (p.GetLength() > 1 && *p.At(p.GetLength() - 1) == L'\\') p = p.Left(p.GetLength() - 1);
  const int slash = p.ReverseFind(L'\\');
  const XpString last = p.Right(p.GetLength() - slash - 1);
  const int dot = last.ReverseFind(L'.');
  if (directory != nullptr) *directory = slash >= 0 ? p.Left(slash + 1) : XpString();
  if (baseName != nullptr) *baseName = dot >= 0 ? last.Left(dot) : last;
  if (extension != nullptr) *extension = dot >= 0 ? last.Right(last.GetLength() - dot) : XpString();
}

XpString GetDirectory(const XpString& path) {
  XpString directory;
  SplitPath(path, &directory, nullptr, nullptr);
  return directory;
}

XpString GetBaseName(const XpString& path) {
  XpString baseName;
  SplitPath(path, nullptr, &baseName, nullptr);
  return baseName;
}

XpString GetExtension(const XpString& path) {
  const int slash = path.ReverseFind(L'\\');
  const int dot = path.ReverseFind(L'.');
  if (dot < 0 || dot < slash) return XpString();
  return path.Right(path.GetLength() - dot);
}

XpString GetFileName(const XpString& path) {
  int length = path.GetLength();
  while (length > 0 && *path.At(length - 1) == L'\\') --length;
  XpString p = path.Left(length);
  const int slash = p.ReverseFind(L'\\');
  return p.Right(p.GetLength() - slash - 1);
}

XpString JoinPath(const XpString& directory, const XpString& name) {
  XpString result = directory;
  AddTrailingBackslash(result);
  if (!name.IsEmpty() && *name.At(0) == L'\\') {
    result += name.c_str() + 1;
  } else {
    result += name;
  }
  return result;
}

void AddTrailingBackslash(XpString& path) {
  // An empty path stays empty: a lone backslash would name the drive root.
  if (!path.IsEmpty() && *path.At(path.GetLength() - 1) != L'\\') path += L"\\";
}

void RemoveTrailingBackslash(XpString& path) {
  if (!path.IsEmpty() && *path.At(path.GetLength() - 1) == L'\\') path = path.Left(path.GetLength() - 1);
}

XpString GetPathRoot(const XpString& path) {
  const int length = path.GetLength();
  if (length >= 2 && *path.At(0) == L'\\' && *path.At(1) == L'\\') {
    const int serverEnd = path.Find(L'\\', 2);
    if (serverEnd < 0) return path;
    const int shareEnd = path.Find(L'\\', serverEnd + 1);
    if (shareEnd < 0) return serverEnd + 1 < length ? path : path.Left(serverEnd);
    if (shareEnd == serverEnd + 1) return path.Left(serverEnd);
    return path.Left(shareEnd);
  }
  if (length >= 1 && *path.At(0) == L'\\') return XpString(L"\\");
  if (length >= 1 && *path.At(0) == L'.') return XpString();
  const int slash = path.Find(L'\\');
  if (slash > 0) return path.Left(slash + 1);
  return XpString();
}

int ComparePaths(const XpString& a, const XpString& b) {
  XpString pa = a;
  XpString pb = b;
  if (pa.IsEmpty() || *pa.At(pa.GetLength() - 1) != L'\\') pa += L"\\";
  if (pb.IsEmpty() || *pb.At(pb.GetLength() - 1) != L'\\') pb += L"\\";
  const int la = pa.GetLength();
  const int lb = pb.GetLength();
  if (la == lb) return pa.CompareNoCase(pb.c_str()) == 0 ? XP_PATH_EQUAL : XP_PATH_UNRELATED;
  if (la < lb) return _wcsnicmp(pa.c_str(), pb.c_str(), la) == 0 ? XP_PATH_A_CONTAINS_B : XP_PATH_UNRELATED;
  return _wcsnicmp(pa.c_str(), pb.c_str(), lb) == 0 ? XP_PATH_B_CONTAINS_A : XP_PATH_UNRELATED;
}

bool IsValidFileName(const XpString& name) { return std::wcspbrk(name.c_str(), L"\\/:,;*?\"<>|") == nullptr; }

void TrimLeadingSpace(XpString& text) {
  int i = 0;
  const int length = text.GetLength();
  while (i < length && std::iswspace(*text.At(i))) ++i;
  if (i > 0) text = text.Right(length - i);
}

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

// ---------------------------------------------------------------------------
// Existence and attributes

namespace {

// The find functions would match wildcards against other names, and an empty
// path would search the current folder: such a path names nothing.
bool NamesOnePath(const XpString& path) {
  return !path.IsEmpty() && std::wcspbrk(path.c_str(), L"*?") == nullptr;
}

}  // namespace

bool PathExists(const XpString& path, bool* isDirectory) {
  if (!NamesOnePath(path)) return false;
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  WIN32_FIND_DATAW data;
  XpUniqueFindHandle find(FindFirstFileW(path.c_str(), &data));
  if (find) {
    attributes = data.dwFileAttributes;
  } else {
    // Roots and paths with a trailing backslash are not found by the find
    // functions but do exist.
    attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  }
  if (isDirectory != nullptr) *isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

bool FileExists(const XpString& path) {
  bool isDirectory = false;
  return PathExists(path, &isDirectory) && !isDirectory;
}

bool IsDirectoryPath(const XpString& path) { return PathIsDirectoryW(path.c_str()) != FALSE; }

bool AnyFileWithBaseName(const XpString& path) {
  if (!NamesOnePath(path)) return false;
  XpString pattern;
  pattern.Format(L"%s.*", (GetDirectory(path) + GetBaseName(path)).c_str());
  WIN32_FIND_DATAW data;
  XpUniqueFindHandle find(FindFirstFileW(pattern.c_str(), &data));
  if (!find) return false;
  bool found = false;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) found = true;
  } while (!found && FindNextFileW(find.get(), &data));
  return found;
}

namespace {

DWORD WithAttribute(DWORD attributes, DWORD bit, bool on) {
  DWORD result = on ? (attributes | bit) : (attributes & ~bit);
  result &= ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY);
  return result == 0 ? FILE_ATTRIBUTE_NORMAL : result;
}

}  // namespace

[[nodiscard]] XpResult SetHidden(const XpString& path, bool on) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return XP_E_FILE_NOT_FOUND;
  if (!SetFileAttributesW(path.c_str(), WithAttribute(attributes, FILE_ATTRIBUTE_HIDDEN, on))) {
    return XP_E_ACCESS_DENIED;
  }
  return XP_OK;
}

[[nodiscard]] XpResult SetReadOnly(const XpString& path, bool on) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return XpResultFromLastError();
  if (!SetFileAttributesW(path.c_str(), WithAttribute(attributes, FILE_ATTRIBUTE_READONLY, on))) {
    return XpResultFromLastError();
  }
  return XP_OK;
}

[[nodiscard]] XpResult RemoveDirectory(const XpString& path) {
  return ::RemoveDirectoryW(path.c_str()) ? XP_OK : XpResultFromLastError();
}

// ---------------------------------------------------------------------------
// Special folders

namespace {

int FolderId(int folder) {
  switch (folder) {
    case XP_FOLDER_MY_PICTURES:
      return CSIDL_MYPICTURES;
    case XP_FOLDER_MY_VIDEOS:
      return CSIDL_MYVIDEO;
    case XP_FOLDER_MY_MUSIC:
      return CSIDL_MYMUSIC;
    case XP_FOLDER_MY_DOCUMENTS:
      return CSIDL_PERSONAL;
    case XP_FOLDER_DESKTOP:
      return CSIDL_DESKTOP;
    case XP_FOLDER_COMMON_PICTURES:
      return CSIDL_COMMON_PICTURES;
    case XP_FOLDER_COMMON_VIDEOS:
      return CSIDL_COMMON_VIDEO;
    case XP_FOLDER_COMMON_MUSIC:
      return CSIDL_COMMON_MUSIC;
    case XP_FOLDER_COMMON_DOCUMENTS:
      return CSIDL_COMMON_DOCUMENTS;
    case XP_FOLDER_APPDATA:
      return CSIDL_APPDATA;
    case XP_FOLDER_PROFILE:
      return CSIDL_PROFILE;
    case XP_FOLDER_COMMON_APPDATA:
      return CSIDL_COMMON_APPDATA;
    case XP_FOLDER_STARTUP:
      return CSIDL_STARTUP;
    default:
      return -1;
  }
}

// Item id list from the shell's allocator.
typedef XpUniqueCoTaskMem<ITEMIDLIST> ItemIdList;

typedef HRESULT(WINAPI* SHGetFolderLocationFn)(HWND, int, HANDLE, DWORD, LPITEMIDLIST*);
typedef HRESULT(WINAPI* SHBindToParentFn)(LPCITEMIDLIST, REFIID, void**, LPCITEMIDLIST*);

FARPROC Shell32Function(const char* name) {
  HMODULE shell = GetModuleHandleW(L"shell32.dll");
  return shell != nullptr ? GetProcAddress(shell, name) : nullptr;
}

// Systems without SHGetFolderLocation (Windows 95/98) fall back to the older
// per-user lookup.
bool GetFolderList(int csidl, ItemIdList& list) {
  SHGetFolderLocationFn getLocation = reinterpret_cast<SHGetFolderLocationFn>(
      reinterpret_cast<void*>(Shell32Function("SHGetFolderLocation")));
  if (getLocation != nullptr) {
    if (SUCCEEDED(getLocation(nullptr, csidl, nullptr, 0, list.put())) && list.get() != nullptr) return true;
    // The default user's folder when the current user has none.
    return SUCCEEDED(getLocation(nullptr, csidl, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-1)), 0,
                                 list.put())) &&
           list.get() != nullptr;
  }
  return SUCCEEDED(SHGetSpecialFolderLocation(nullptr, csidl, list.put())) && list.get() != nullptr;
}

XpString ProgramFile() {
  wchar_t buffer[1024];
  DWORD n = GetModuleFileNameW(nullptr, buffer, 1024);
  // A path that fills the buffer was cut short: no usable answer.
  if (n == 0 || n >= 1024) return XpString();
  buffer[n] = 0;
  return XpString(buffer);
}

}  // namespace

XpString GetSpecialFolderPath(int folder, bool create) {
  XpString path;
  if (folder == XP_FOLDER_TEMP) {
    wchar_t buffer[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH) return XpString();
    path = buffer;
  } else if (folder == XP_FOLDER_PROGRAM_FILE) {
    return ProgramFile();
  } else if (folder == XP_FOLDER_PROGRAM_DIRECTORY) {
    path = GetDirectory(ProgramFile());
  } else {
    const int csidl = FolderId(folder);
    if (csidl < 0) return XpString();
    ItemIdList list;
    if (!GetFolderList(csidl, list)) return XpString();
    wchar_t buffer[MAX_PATH];
    if (!SHGetPathFromIDListW(list.get(), buffer)) return XpString();
    buffer[MAX_PATH - 1] = 0;
    path = buffer;
  }
  if (path.IsEmpty()) return path;
  if (create) {
    XpResult r = XpFileOperation::MakeDirectories(path);
    if (r != XP_OK && r != XP_E_ALREADY_EXISTS) return XpString();
  }
  return path;
}

XpString GetSpecialFolderDisplayName(int folder) {
  if (folder < XP_FOLDER_MY_PICTURES || folder > XP_FOLDER_COMMON_DOCUMENTS) return XpString();
  ItemIdList list;
  if (!GetFolderList(FolderId(folder), list)) return XpString();
  XpComPtr<IShellFolder> parent;
  LPCITEMIDLIST child = nullptr;
  SHBindToParentFn bindToParent =
      reinterpret_cast<SHBindToParentFn>(reinterpret_cast<void*>(Shell32Function("SHBindToParent")));
  if (bindToParent != nullptr) {
    if (FAILED(bindToParent(list.get(), IID_IShellFolder, parent.putVoid(), &child))) {
      return XpString();
    }
  } else {
    // The desktop folder resolves a full item list.
    if (FAILED(SHGetDesktopFolder(parent.put()))) return XpString();
    child = list.get();
  }
  XpString name;
  STRRET text;
  if (SUCCEEDED(parent->GetDisplayNameOf(child, SHGDN_NORMAL, &text))) {
    XpUniqueCoTaskMem<wchar_t> owned;
    if (SUCCEEDED(StrRetToStrW(&text, child, owned.put())) && owned) name = owned.get();
  }
  return name;
}

namespace {

// Paths and display names of folders 1..9, built once.
struct DisplayTables {
  DisplayTables() {
    for (int i = 0; i < 9; ++i) {
      paths[i] = GetSpecialFolderPath(i + 1, false);
      RemoveTrailingBackslash(paths[i]);
      names[i] = GetSpecialFolderDisplayName(i + 1);
    }
  }
  XpString paths[9];
  XpString names[9];
};

}  // namespace

XpString GetDisplayPath(const XpString& path) {
  static DisplayTables tables;
  for (int i = 0; i < 9; ++i) {
    const XpString& folder = tables.paths[i];
    const int n = folder.GetLength();
    // Without a display name the folder part would simply vanish from the path.
    if (n == 0 || tables.names[i].IsEmpty() || path.GetLength() < n) continue;
    if (_wcsnicmp(path.c_str(), folder.c_str(), n) != 0) continue;
    const wchar_t next = *path.At(n);
    if (next != L'\\' && next != 0) continue;
    return tables.names[i] + path.Right(path.GetLength() - n);
  }
  return path;
}

XpString GetAppDataPath(const XpString& part1, const XpString& part2, const XpString& part3, bool create) {
  XpString path = GetSpecialFolderPath(XP_FOLDER_APPDATA, false);
  // Without the folder the parts would form a relative path.
  if (path.IsEmpty()) return path;
  if (!part1.IsEmpty()) path = JoinPath(path, part1);
  path = JoinPath(path, part2);
  if (!part3.IsEmpty()) path = JoinPath(path, part3);
  // A folder that cannot be made shows when the caller writes into it.
  if (create && !IsDirectoryPath(path)) (void)XpFileOperation::MakeDirectories(path);
  return path;
}

XpString GetProgramRelativeFile(const XpString& name) {
  const XpString directory = GetSpecialFolderPath(XP_FOLDER_PROGRAM_DIRECTORY, false);
  if (directory.IsEmpty()) return XpString();
  const XpString file = JoinPath(directory, name);
  return FileExists(file) ? file : XpString();
}

// ---------------------------------------------------------------------------
// Starting a program

HMODULE LoadSystemLibrary(const wchar_t* name) {
  if (name == nullptr || *name == 0) return nullptr;
  wchar_t folder[MAX_PATH + 1];
  UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  folder[n] = 0;
  return LoadLibraryW(JoinPath(XpString(folder), XpString(name)).c_str());
}

HMODULE LoadProgramLibrary(const XpString& name) {
  if (name.IsEmpty()) return nullptr;
  const XpString directory = GetSpecialFolderPath(XP_FOLDER_PROGRAM_DIRECTORY, false);
  if (directory.IsEmpty()) return nullptr;
  return LoadLibraryW(JoinPath(directory, name).c_str());
}

bool IsAbsoluteProgramPath(const XpString& path) {
  if (path.GetLength() >= 3) {
    wchar_t drive = *path.At(0);
    bool letter = (drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z');
    if (letter && *path.At(1) == L':' && (*path.At(2) == L'\\' || *path.At(2) == L'/')) return true;
  }
  // A share (\\server\share\...) or a device path (\\?\...).
  return path.GetLength() >= 3 && *path.At(0) == L'\\' && *path.At(1) == L'\\' && *path.At(2) != L'\\';
}

[[nodiscard]] XpResult StartProgram(const XpString& program, const XpString& arguments, DWORD creationFlags,
                                    HANDLE* processHandle, HANDLE* threadHandle) {
  // Only a full path is started, and it is also named as the program: a bare
  // or relative name would be searched for in the current folder and along
  // the search path. The path is put in quotes on the command line; a quote
  // inside it would end them early and let the rest pose as arguments.
  if (!IsAbsoluteProgramPath(program) || program.Find(L'"') >= 0) return XP_E_FILE_BAD_ARGUMENT;
  const int programLength = program.GetLength();
  const int argumentsLength = arguments.GetLength();
  // Compared without adding, so two huge lengths cannot wrap into a small sum.
  if (programLength > 499 || argumentsLength > 499 - programLength) return XP_E_FILE_BAD_ARGUMENT;

  // "\"program\" arguments"; the limit above keeps it well inside the buffer.
  wchar_t commandLine[1024];
  int at = 0;
  commandLine[at++] = L'"';
  std::wmemcpy(commandLine + at, program.c_str(), programLength);
  at += programLength;
  commandLine[at++] = L'"';
  commandLine[at++] = L' ';
  std::wmemcpy(commandLine + at, arguments.c_str(), argumentsLength);
  at += argumentsLength;
  commandLine[at] = 0;

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;

  const XpString directory = GetDirectory(program);
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof(process));
  if (!CreateProcessW(program.c_str(), commandLine, nullptr, nullptr, FALSE, creationFlags, nullptr,
                      directory.IsEmpty() ? nullptr : directory.c_str(), &startup, &process)) {
    return XP_E_FAIL;
  }
  XpUniqueHandle thread(process.hThread);
  XpUniqueHandle child(process.hProcess);
  if (threadHandle != nullptr) *threadHandle = thread.release();
  if (processHandle != nullptr) *processHandle = child.release();
  return XP_OK;
}

[[nodiscard]] XpResult RunProgram(const XpString& program, const XpString& arguments, DWORD* exitCode,
                                  HANDLE* processHandle) {
  // The program's own choice of error dialogs, not whatever this process set
  // for its drive probes and scoring runs.
  XpUniqueHandle child;
  XpResult started = StartProgram(program, arguments, CREATE_DEFAULT_ERROR_MODE, child.put(), nullptr);
  if (XpFailed(started)) return started;
  if (exitCode != nullptr) {
    WaitForSingleObject(child.get(), INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(child.get(), &code)) *exitCode = code;
  }
  if (processHandle != nullptr) *processHandle = child.release();
  return XP_OK;
}
