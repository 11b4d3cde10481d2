// Directories: enumeration with a name filter over the file-system objects.
// Includes the path functions, the special folders and the program start, so
// that one include gives the whole file-system layer.
#pragma once

#include <cstdint>

#include "platform/XpFsObject.h"
#include "platform/XpPath.h"
#include "platform/XpProcessStart.h"
#include "platform/XpResult.h"
#include "platform/XpShellFolders.h"
#include "platform/XpString.h"

// Filter flags of XpAbstractDir::BeginFind.
const std::uint32_t XP_FIND_DIRECTORIES = 0x1;
const std::uint32_t XP_FIND_FILES = 0x2;
const std::uint32_t XP_FIND_ALL = 0x3;
const std::uint32_t XP_FIND_NAME_EQUALS = 0x100;  // whole name, ordinal
const std::uint32_t XP_FIND_NAME_STARTS = 0x200;  // first n characters
const std::uint32_t XP_FIND_NAME_ENDS = 0x400;    // last n characters

class XpAbstractDir : public XpAbstractFSObj {
 public:
  XpAbstractDir();
  explicit XpAbstractDir(const XpString& path);
  ~XpAbstractDir() override;

  // Sum of the sizes of the whole tree (entries of unknown size are skipped,
  // linked folders are not followed); -1 when the enumeration cannot start.
  std::int64_t GetSize() override;
  bool IsFile() const override { return false; }
  bool IsDirectory() const override { return true; }

  [[nodiscard]] virtual XpResult BeginFind(std::uint32_t flags, const XpString& pattern) = 0;
  // An XpDir or an XpFile; empty when the enumeration is over.
  virtual XpSharedPtr<XpAbstractFSObj> FindNext() = 0;
  [[nodiscard]] virtual XpResult EndFind() = 0;
  // Entries of this directory, with recursive those of every subdirectory
  // too (a linked folder counts but is not followed); 0 when the enumeration
  // cannot start.
  virtual std::int64_t GetEntryCount(bool recursive);
  // The filter applied to each entry, by the flags and pattern of BeginFind.
  virtual bool Accept(bool isDirectory, const XpString& name) const;

 protected:
  std::uint32_t m_filterFlags;
  XpString m_filterPattern;
  int m_patternLength;
};

namespace XpFileSystemDetail {
struct FindState;
}  // namespace XpFileSystemDetail

class XpDir : public XpAbstractDir {
 public:
  explicit XpDir(const XpString& path);
  ~XpDir() override;

  XpString GetName() const override;
  // Runs on a private enumeration, so one in progress on this object goes on.
  std::int64_t GetSize() override;
  [[nodiscard]] XpResult GetTimes(XpDateTime* creation, XpDateTime* lastWrite,
                                  XpDateTime* lastAccess) override;
  bool IsReadOnly() const override;
  bool IsHidden() const override;

  [[nodiscard]] XpResult BeginFind(std::uint32_t flags, const XpString& pattern) override;
  XpSharedPtr<XpAbstractFSObj> FindNext() override;
  [[nodiscard]] XpResult EndFind() override;
  std::int64_t GetEntryCount(bool recursive) override;

 private:
  void Advance();
  bool CurrentAcceptable() const;

  XpFileSystemDetail::FindState* m_find;
};

// Natural order (numbers inside names compare by value), as file lists are
// sorted for display. <0, 0, >0.
int CompareLogical(const XpString& a, const XpString& b);
