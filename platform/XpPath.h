// Paths as strings, the tests and changes of their attributes, and the
// mapping of system and run-time errors to file-category results. Paths are
// XpStrings with backslash separators. Depends on nothing of the file layer,
// so every part of it may use these.
#pragma once

#include <windows.h>

#include "platform/XpResult.h"
#include "platform/XpString.h"

// Translates a Win32 error code into the file category of XpResult; unknown
// errors become XP_E_FAIL.
[[nodiscard]] XpResult XpResultFromWin32(DWORD error);
// The same for GetLastError().
[[nodiscard]] XpResult XpResultFromLastError();

// Maps errno of a failed run-time library file call; readOnly says whether
// only reading was asked (a missing file is then "not found", else "create
// failed").
[[nodiscard]] XpResult XpResultFromErrno(int error, bool readOnly);

// Path functions. A trailing backslash is dropped before splitting (when the
// path is longer than one character); each output may be null.
void SplitPath(const XpString& path, XpString* directory, XpString* baseName, XpString* extension);
XpString GetDirectory(const XpString& path);  // up to and including the last backslash
XpString GetBaseName(const XpString& path);   // last component without extension
XpString GetExtension(const XpString& path);  // from the last dot of the last component
XpString GetFileName(const XpString& path);   // last component, trailing backslashes dropped
// Exactly one backslash between a non-empty directory and the name.
XpString JoinPath(const XpString& directory, const XpString& name);
void AddTrailingBackslash(XpString& path);
void RemoveTrailingBackslash(XpString& path);
// "\\server\share", "\\server", "\", "C:\" and the like; empty for relative paths.
XpString GetPathRoot(const XpString& path);
// The one reading of a path's root for every caller. A share path
// "\\server\share\rest": serverEnd is the index of the backslash after the
// server name, shareEnd of the one after the share name (-1 when missing;
// shareEnd may be null). False when the path does not begin with two backslashes.
bool XpFindShareRoot(const XpString& path, int* serverEnd, int* shareEnd);
// A drive letter, a colon and a backslash (with slashToo also a slash).
// "C:dir" is relative to the drive's current folder and has no root.
bool XpHasDriveRoot(const XpString& path, bool slashToo);

// Results of ComparePaths.
const int XP_PATH_B_CONTAINS_A = 0;
const int XP_PATH_A_CONTAINS_B = 1;
const int XP_PATH_EQUAL = 2;
const int XP_PATH_UNRELATED = 3;
int ComparePaths(const XpString& a, const XpString& b);

// False if the name holds any of \ / : , ; * ? " < > |
bool IsValidFileName(const XpString& name);
void TrimLeadingSpace(XpString& text);
// Existence and attributes.
bool PathExists(const XpString& path, bool* isDirectory = nullptr);
bool FileExists(const XpString& path);
bool IsDirectoryPath(const XpString& path);
// True if the path's directory holds a file with the path's base name and any extension.
bool AnyFileWithBaseName(const XpString& path);
[[nodiscard]] XpResult SetHidden(const XpString& path, bool on);
[[nodiscard]] XpResult SetReadOnly(const XpString& path, bool on);
// windows.h turns the name into RemoveDirectoryW; this overload takes an
// XpString, so call it with one (a bare literal reaches the Win32 function).
[[nodiscard]] XpResult RemoveDirectory(const XpString& path);

namespace XpFileSystemDetail {
// True when the path's attributes can be read and include every bit given.
bool PathHasAttributes(const XpString& path, DWORD attributes);
}  // namespace XpFileSystemDetail
