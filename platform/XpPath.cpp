#include "platform/XpPath.h"

#include <errno.h>
#include <shlwapi.h>

#include <cwchar>
#include <cwctype>

#include "platform/XpHandle.h"

// ---------------------------------------------------------------------------
// Error mapping

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

[[nodiscard]] XpResult XpResultFromErrno(int error, bool readOnly) {
  switch (error) {
    case ENOENT:
      return readOnly ? XP_E_FILE_NOT_FOUND : XP_E_CREATE_FAILED;
    case EBADF:
    case EACCES:
#ifdef EROFS
    case EROFS:
#endif
      return XP_E_ACCESS_DENIED;
    case EEXIST:
      return XP_E_ALREADY_EXISTS;
    case ENOTDIR:
    case EISDIR:
    case 38:
      return XP_E_FILE_NOT_ACTIVE;
    case EINVAL:
      return XP_E_FILE_BAD_ARGUMENT;
    case EMFILE:
      return XP_E_TOO_MANY_OPEN_FILES;
    case ENOSPC:
      return XP_E_DISK_FULL;
    default:
      return XP_E_FILE;
  }
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

bool XpFindShareRoot(const XpString& path, int* serverEnd, int* shareEnd) {
  if (path.GetLength() < 2 || *path.At(0) != L'\\' || *path.At(1) != L'\\') return false;
  const int server = path.Find(L'\\', 2);
  if (serverEnd != nullptr) *serverEnd = server;
  if (shareEnd != nullptr) *shareEnd = server < 0 ? -1 : path.Find(L'\\', server + 1);
  return true;
}

bool XpHasDriveRoot(const XpString& path, bool slashToo) {
  if (path.GetLength() < 3) return false;
  const wchar_t letter = XpToUpperAscii(*path.At(0));
  const wchar_t separator = *path.At(2);
  return letter >= L'A' && letter <= L'Z' && *path.At(1) == L':' &&
         (separator == L'\\' || (slashToo && separator == L'/'));
}

XpString GetPathRoot(const XpString& path) {
  const int length = path.GetLength();
  int serverEnd = -1, shareEnd = -1;
  if (XpFindShareRoot(path, &serverEnd, &shareEnd)) {
    if (serverEnd < 0) return path;
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

// ---------------------------------------------------------------------------
// Existence and attributes

namespace XpFileSystemDetail {

bool PathHasAttributes(const XpString& path, DWORD attributes) {
  const DWORD present = GetFileAttributesW(path.c_str());
  return present != INVALID_FILE_ATTRIBUTES && (present & attributes) == attributes;
}

}  // namespace XpFileSystemDetail

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
