// The root of the file-system objects: a full path and its times. Files and
// directories both derive from it.
#pragma once

#include <cstdint>

#include "platform/XpResult.h"
#include "platform/XpString.h"

class XpDateTime;

class XpAbstractFSObj {
 public:
  XpAbstractFSObj();
  explicit XpAbstractFSObj(const XpString& path);
  virtual ~XpAbstractFSObj();

  // Always 0: the path is taken as given.
  virtual XpResult SetPath(const XpString& path);
  virtual XpString GetPath() const;
  // The base name: the last path component without its extension.
  virtual XpString GetName() const = 0;
  // Byte count, -1 when it cannot be determined.
  virtual std::int64_t GetSize() = 0;
  // Each argument may be null; only the requested times are filled.
  [[nodiscard]] virtual XpResult GetTimes(XpDateTime* creation, XpDateTime* lastWrite,
                                          XpDateTime* lastAccess) = 0;
  virtual XpDateTime GetCreationTime();
  virtual XpDateTime GetLastWriteTime();
  virtual XpDateTime GetLastAccessTime();
  // XP_E_NOT_SUPPORTED unless an implementation can change times.
  [[nodiscard]] virtual XpResult SetTimes(const XpDateTime* creation, const XpDateTime* lastWrite,
                                          const XpDateTime* lastAccess);
  virtual bool IsReadOnly() const = 0;
  virtual bool IsHidden() const = 0;
  virtual bool IsFile() const = 0;
  virtual bool IsDirectory() const = 0;

 protected:
  XpString m_path;

 private:
  XpAbstractFSObj(const XpAbstractFSObj&);
  XpAbstractFSObj& operator=(const XpAbstractFSObj&);
};

// Fills the requested times of a file or directory from its status (creation
// from st_ctime, which is the creation time on Windows); XP_E_FILE_NOT_FOUND
// when the status cannot be read. Shared by directories and files.
[[nodiscard]] XpResult GetPathTimes(const XpString& path, XpDateTime* creation, XpDateTime* lastWrite,
                                    XpDateTime* lastAccess);
