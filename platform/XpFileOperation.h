// Operations on whole files and directories: creating a file only when it is
// missing, creating directories and directory chains, and deleting files one
// at a time or as a list, directly or through the recycle bin. Every operation
// runs on the caller's thread, blocks until done and returns a file-category
// XpResult.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/XpResult.h"
#include "platform/XpString.h"

// windows.h turns DeleteFile into DeleteFileW; as a class member the name
// changes consistently in every caller and clashes with nothing.
class XpFileOperation {
 public:
  // XP_E_ALREADY_EXISTS when the file is there already (it is left unchanged).
  [[nodiscard]] static XpResult CreateNewFile(const XpString& path);
  [[nodiscard]] static XpResult MakeDirectory(const XpString& path);
  // Creates every missing directory of a drive ("C:\a\b") or UNC
  // ("\\server\share\a") path; XP_E_MKDIR_FAILED for a path without such a
  // root, XP_E_ALREADY_EXISTS when the whole path existed.
  [[nodiscard]] static XpResult MakeDirectories(const XpString& path);
  // Deletes a file even when it is read-only; a failure leaves its attributes
  // as they were.
  [[nodiscard]] static XpResult DeleteFile(const XpString& path);
  [[nodiscard]] static XpResult Delete(const XpString& path, bool toRecycleBin);
  [[nodiscard]] static XpResult DeleteToRecycleBin(const XpString& path);
  // Without viaShell stops at the first failure and returns it; with viaShell
  // one shell deletion of the whole list into the recycle bin.
  [[nodiscard]] static XpResult DeleteList(const std::vector<XpString>& list, bool viaShell);

 private:
  XpFileOperation();
};
