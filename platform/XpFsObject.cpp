#include "platform/XpFsObject.h"

#include <sys/stat.h>
#include <sys/types.h>

#include "platform/XpDateTime.h"
#include "platform/XpPath.h"

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
// Times of a path

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
