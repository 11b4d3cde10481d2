// _wopen is the call that creates a file with the run-time library's errno
// results; the secure variants add nothing here.
#ifndef _CRT_SECURE_NO_WARNINGS
#define _CRT_SECURE_NO_WARNINGS
#endif

#include "platform/XpFileOperation.h"

#include <direct.h>
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cwchar>

#include "platform/XpPath.h"

XpResult XpFileOperation::CreateNewFile(const XpString& path) {
  int fd = _wopen(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY, _S_IREAD | _S_IWRITE);
  if (fd == -1) return XpResultFromErrno(errno, false);
  _close(fd);
  return XP_OK;
}

XpResult XpFileOperation::MakeDirectory(const XpString& path) {
  if (_wmkdir(path.c_str()) == 0) return XP_OK;
  const int error = errno;
  // A missing parent is a path not found here, not a failed file creation.
  if (error == ENOENT) return XP_E_PATH_NOT_FOUND;
  const XpResult mapped = XpResultFromErrno(error, false);
  if (mapped == XP_E_ALREADY_EXISTS || mapped == XP_E_ACCESS_DENIED) return mapped;
  return IsDirectoryPath(GetDirectory(path)) ? XP_E_MKDIR_FAILED : XP_E_PATH_NOT_FOUND;
}

XpResult XpFileOperation::MakeDirectories(const XpString& path) {
  XpString target = path;
  int start = 0;
  int serverEnd = -1, shareEnd = -1;
  if (XpFindShareRoot(target, &serverEnd, &shareEnd)) {
    // Both the server and the share name are there, each ended by a backslash.
    if (serverEnd <= 2 || shareEnd <= serverEnd + 1) return XP_E_MKDIR_FAILED;
    start = shareEnd + 1;
  } else {
    if (!XpHasDriveRoot(target, false)) return XP_E_MKDIR_FAILED;
    start = 3;
  }
  // "C:\a\b\" names the same directory as "C:\a\b".
  if (target.GetLength() > start) RemoveTrailingBackslash(target);
  for (int i = target.Find(L'\\', start); i >= 0; i = target.Find(L'\\', i + 1)) {
    if (i == 0 || *target.At(i - 1) == L'\\') continue;  // doubled separator
    XpResult r = MakeDirectory(target.Left(i));
    if (r != XP_OK && r != XP_E_ALREADY_EXISTS) return r;
  }
  return MakeDirectory(target);
}

XpResult XpFileOperation::DeleteFile(const XpString& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
  if (::DeleteFileW(path.c_str())) return XP_OK;
  const DWORD error = GetLastError();
  if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(path.c_str(), attributes);
  XpResult r = XpResultFromWin32(error);
  if (r == XP_E_FAIL || r == XP_E_FILE || r == XP_OK) r = XP_E_DELETE_FAILED;
  return r;
}

XpResult XpFileOperation::Delete(const XpString& path, bool toRecycleBin) {
  return toRecycleBin ? DeleteToRecycleBin(path) : DeleteFile(path);
}

namespace {

// Longest source list handed to the shell, in characters. Copies of one
// string share their text, so a list can name far more characters than memory
// holds; the sum is bounded before anything is sized by it.
const size_t kMaxShellListUnits = 0x40000000;

// The shell's source list: the paths one after another, each terminated, and
// one more terminator at the end. Null when memory runs out or the list is
// longer than kMaxShellListUnits.
wchar_t* BuildShellList(const std::vector<XpString>& list) {
  size_t units = 1;
  for (size_t i = 0; i < list.size(); ++i) {
    const size_t n = static_cast<size_t>(list[i].GetLength()) + 1;
    if (n > kMaxShellListUnits - units) return nullptr;
    units += n;
  }
  wchar_t* block = static_cast<wchar_t*>(std::malloc(units * sizeof(wchar_t)));
  if (block == nullptr) return nullptr;
  wchar_t* at = block;
  for (size_t i = 0; i < list.size(); ++i) {
    const int n = list[i].GetLength();
    std::wmemcpy(at, list[i].c_str(), n);
    at += n;
    *at++ = 0;
  }
  *at = 0;
  return block;
}

[[nodiscard]] XpResult ShellDelete(const std::vector<XpString>& list, HWND owner) {
  // An empty entry would end the list early and hand the shell whatever follows.
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].IsEmpty()) return XP_E_DELETE_FAILED;
  }
  wchar_t* block = BuildShellList(list);
  if (block == nullptr) return XP_E_OUT_OF_MEMORY;
  SHFILEOPSTRUCTW operation;
  ZeroMemory(&operation, sizeof(operation));
  operation.hwnd = owner;
  operation.wFunc = FO_DELETE;
  operation.pFrom = block;
  operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI | FOF_NOCONFIRMMKDIR;
  const int rc = SHFileOperationW(&operation);
  std::free(block);
  return (rc != 0 || operation.fAnyOperationsAborted) ? XP_E_DELETE_FAILED : XP_OK;
}

}  // namespace

XpResult XpFileOperation::DeleteToRecycleBin(const XpString& path) {
  std::vector<XpString> list;
  list.push_back(path);
  return ShellDelete(list, nullptr);
}

XpResult XpFileOperation::DeleteList(const std::vector<XpString>& list, bool viaShell) {
  if (list.empty()) return XP_OK;
  if (!viaShell) {
    for (size_t i = 0; i < list.size(); ++i) {
      XpResult r = DeleteFile(list[i]);
      if (r != XP_OK) return r;
    }
    return XP_OK;
  }
  // The user cannot act on the active window while the shell works for it.
  HWND active = GetActiveWindow();
  if (active != nullptr) EnableWindow(active, FALSE);
  XpResult r = ShellDelete(list, active);
  if (active != nullptr) EnableWindow(active, TRUE);
  return r;
}
