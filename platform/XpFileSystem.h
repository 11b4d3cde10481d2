// File-system objects, directories and the path helpers around them. Every
// file and directory the program handles is an XpAbstractFSObj that keeps its
// full path; paths are XpStrings with backslash separators.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/XpResult.h"
#include "platform/XpString.h"

class XpDateTime;

// Translates a Win32 error code into the file category of XpResult; unknown
// errors become XP_E_FAIL.
[[nodiscard]] XpResult XpResultFromWin32(DWORD error);
// The same for GetLastError().
[[nodiscard]] XpResult XpResultFromLastError();

class XpAbstractFSObj {
 public:
  XpAbstractFSObj();
  explicit XpAbstractFSObj(const XpString& path);
  virtual ~XpAbstractFSObj();

  [[nodiscard]] virtual XpResult SetPath(const XpString& path);
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
// True when the path's attributes can be read and include every bit given.
bool PathHasAttributes(const XpString& path, DWORD attributes);
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

// Fills the requested times of a file or directory from its status (creation
// from st_ctime, which is the creation time on Windows); XP_E_FILE_NOT_FOUND
// when the status cannot be read. Shared by directories and files.
[[nodiscard]] XpResult GetPathTimes(const XpString& path, XpDateTime* creation, XpDateTime* lastWrite,
                                    XpDateTime* lastAccess);

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

// Results of ComparePaths.
const int XP_PATH_B_CONTAINS_A = 0;
const int XP_PATH_A_CONTAINS_B = 1;
const int XP_PATH_EQUAL = 2;
const int XP_PATH_UNRELATED = 3;
int ComparePaths(const XpString& a, const XpString& b);

// False if the name holds any of \ / : , ; * ? " < > |
bool IsValidFileName(const XpString& name);
void TrimLeadingSpace(XpString& text);
// Natural order (numbers inside names compare by value), as file lists are
// sorted for display. <0, 0, >0.
int CompareLogical(const XpString& a, const XpString& b);

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

// Well-known folders, by number.
enum XpSpecialFolder {
  XP_FOLDER_TEMP = 0,
  XP_FOLDER_MY_PICTURES = 1,
  XP_FOLDER_MY_VIDEOS = 2,
  XP_FOLDER_MY_MUSIC = 3,
  XP_FOLDER_MY_DOCUMENTS = 4,
  XP_FOLDER_DESKTOP = 5,
  XP_FOLDER_COMMON_PICTURES = 6,
  XP_FOLDER_COMMON_VIDEOS = 7,
  XP_FOLDER_COMMON_MUSIC = 8,
  XP_FOLDER_COMMON_DOCUMENTS = 9,
  XP_FOLDER_APPDATA = 10,
  XP_FOLDER_PROGRAM_DIRECTORY = 11,
  XP_FOLDER_PROGRAM_FILE = 12,
  XP_FOLDER_PROFILE = 13,
  XP_FOLDER_COMMON_APPDATA = 14,
  XP_FOLDER_STARTUP = 15  // the user's Startup folder, for the autostart shortcut
};

// The folder's path (no guaranteed trailing backslash); with create, missing
// folders are made and a failure gives an empty string. Unknown numbers: empty.
XpString GetSpecialFolderPath(int folder, bool create);
// The shell's display name of folders 1..9; empty otherwise or on failure.
XpString GetSpecialFolderDisplayName(int folder);
// The path with a leading folder 1..9 replaced by its display name.
XpString GetDisplayPath(const XpString& path);
XpString GetAppDataPath(const XpString& part1, const XpString& part2, const XpString& part3, bool create);
// The program directory joined with name when that file exists, else empty.
XpString GetProgramRelativeFile(const XpString& name);

// Libraries by full path only: a bare name would also be looked for in the
// current folder and along the search path, where anyone may put a file of
// that name. The system folder's library of that name, or null.
HMODULE LoadSystemLibrary(const wchar_t* name);
// The library of that name in this program's own folder, or null.
HMODULE LoadProgramLibrary(const XpString& name);

// A drive path ("C:\...") or a share or device path ("\\server\...").
bool IsAbsoluteProgramPath(const XpString& path);

// Starts program with arguments ("\"program\" arguments"), working in the
// program's folder. The program must be a full path without a double quote
// (XP_E_FILE_BAD_ARGUMENT otherwise, nothing is started); it is never looked
// for along the search path. With exitCode, waits for the end and stores the exit
// code; with processHandle, hands the process handle to the caller, who
// closes it. 0, XP_E_FILE_BAD_ARGUMENT when program and arguments together are
// longer than 499 characters (nothing is started), XP_E_FAIL when the
// process cannot be created.
// The program starts with the system's default error mode
// (CREATE_DEFAULT_ERROR_MODE), not this process's.
[[nodiscard]] XpResult RunProgram(const XpString& program, const XpString& arguments, DWORD* exitCode,
                                  HANDLE* processHandle);
// The start of RunProgram with the CreateProcess flags given (without
// CREATE_DEFAULT_ERROR_MODE the child inherits this process's error mode);
// hands out the process and, when asked, its first thread. Same results.
[[nodiscard]] XpResult StartProgram(const XpString& program, const XpString& arguments, DWORD creationFlags,
                                    HANDLE* processHandle, HANDLE* threadHandle);
