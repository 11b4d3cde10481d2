// The stream interface of the platform layer and its implementation on a
// Win32 file handle: raw reads and writes, seeking, typed integers in a chosen
// byte order, and characters and lines in the ANSI code page with optional
// CR LF translation. Every operation returns a file-category XpResult.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/XpDateTime.h"
#include "platform/XpFsObject.h"
#include "platform/XpPath.h"
#include "platform/XpResult.h"
#include "platform/XpString.h"

// Open flags.
const std::uint32_t XP_FILE_READ = 0x1;
const std::uint32_t XP_FILE_WRITE = 0x2;
const std::uint32_t XP_FILE_READ_WRITE = 0x3;
// Character input turns CR LF into LF, character output LF into CR LF.
const std::uint32_t XP_FILE_TEXT = 0x10;
const std::uint32_t XP_FILE_SEQUENTIAL_SCAN = 0x10000;
const std::uint32_t XP_FILE_RANDOM_ACCESS = 0x20000;  // only without the sequential hint

// Byte orders. The order argument of the typed operations is one of these or
// XP_ORDER_KEEP; a file whose order was never set counts as differing from
// the host, so its values are swapped.
const int XP_ORDER_NOT_SET = 0;
const int XP_ORDER_BIG_ENDIAN = 1;
const int XP_ORDER_LITTLE_ENDIAN = 2;
const int XP_ORDER_KEEP = 3;

// Seek origins; any other value counts as XP_SEEK_BEGIN.
const int XP_SEEK_BEGIN = 0;
const int XP_SEEK_CURRENT = 1;
const int XP_SEEK_END = 2;

class XpAbstractFile : public XpAbstractFSObj {
 public:
  XpAbstractFile();
  explicit XpAbstractFile(const XpString& path);
  ~XpAbstractFile() override;

  bool IsFile() const override { return true; }
  bool IsDirectory() const override { return false; }

  // Stores the flags and returns 0; implementations open after calling it.
  [[nodiscard]] virtual XpResult Open(std::uint32_t flags);
  [[nodiscard]] virtual XpResult Close() = 0;
  // bytesRead/bytesWritten may be null; they report what was transferred,
  // also when the call fails.
  [[nodiscard]] virtual XpResult Read(void* buffer, std::uint64_t count, std::uint64_t* bytesRead) = 0;
  [[nodiscard]] virtual XpResult Write(const void* buffer, std::uint64_t count,
                                       std::uint64_t* bytesWritten) = 0;
  [[nodiscard]] virtual XpResult WriteAndFlush(const void* buffer, std::uint64_t count,
                                               std::uint64_t* bytesWritten);
  [[nodiscard]] virtual XpResult Flush() = 0;
  [[nodiscard]] virtual XpResult Seek(std::int64_t offset, int origin) = 0;
  // -1 when the position is not known (a closed file).
  virtual std::int64_t Tell() = 0;
  [[nodiscard]] virtual XpResult SetLength(std::uint64_t length) = 0;

  // Typed reads: the value is stored only when all its bytes were read
  // (XP_E_FILE_EOF otherwise). An order outside 1..3 is refused with
  // XP_E_FAIL before anything is read or written.
  [[nodiscard]] virtual XpResult ReadInt64(std::int64_t* value, int order);
  [[nodiscard]] virtual XpResult ReadUInt64(std::uint64_t* value, int order);
  [[nodiscard]] virtual XpResult ReadInt32(std::int32_t* value, int order);
  [[nodiscard]] virtual XpResult ReadUInt32(std::uint32_t* value, int order);
  [[nodiscard]] virtual XpResult ReadInt16(std::int16_t* value, int order);
  [[nodiscard]] virtual XpResult ReadUInt16(std::uint16_t* value, int order);
  [[nodiscard]] virtual XpResult ReadInt8(std::int8_t* value, int order);
  [[nodiscard]] virtual XpResult ReadUInt8(std::uint8_t* value, int order);

  [[nodiscard]] virtual XpResult WriteInt64(std::int64_t value, int order);
  [[nodiscard]] virtual XpResult WriteUInt64(std::uint64_t value, int order);
  [[nodiscard]] virtual XpResult WriteInt32(std::int32_t value, int order);
  [[nodiscard]] virtual XpResult WriteUInt32(std::uint32_t value, int order);
  [[nodiscard]] virtual XpResult WriteInt16(std::int16_t value, int order);
  [[nodiscard]] virtual XpResult WriteUInt16(std::uint16_t value, int order);
  [[nodiscard]] virtual XpResult WriteInt8(std::int8_t value, int order);
  [[nodiscard]] virtual XpResult WriteUInt8(std::uint8_t value, int order);

  // 1 big-endian, 2 little-endian, 3 no change: 0; anything else XP_E_FAIL.
  [[nodiscard]] virtual XpResult SetByteOrder(int order);
  virtual void SetHostOrder();

  // One character, with CR LF read as LF in text mode. A CR followed by
  // anything else is returned alone and the next character is read next.
  [[nodiscard]] virtual XpResult ReadChar(wchar_t* c);
  // One line of any length without its LF. The last line of a file needs no
  // LF; at the end of the file with nothing left to read the result is
  // XP_E_FILE_EOF and text is unchanged.
  [[nodiscard]] virtual XpResult ReadLine(XpString& text);
  // One line into buffer (count characters including the terminator, at
  // least 2). XP_E_FILE_BUFFER_TOO_SMALL once count - 1 characters were read
  // without LF: the buffer then holds them, terminated, and the rest of the
  // line is read next. XP_E_FILE_EOF as for the XpString form.
  [[nodiscard]] virtual XpResult ReadLine(wchar_t* buffer, int count);
  // LF is written as CR LF in text mode.
  [[nodiscard]] virtual XpResult WriteChar(wchar_t c);
  // Stops at the first failure; XP_E_FILE_BAD_ARGUMENT for null.
  [[nodiscard]] virtual XpResult WriteText(const wchar_t* text);
  // One character of the ANSI code page (one byte, or two for a lead byte).
  [[nodiscard]] virtual XpResult ReadRawChar(wchar_t* c);
  [[nodiscard]] virtual XpResult WriteRawChar(wchar_t c);

  int GetByteOrder() const { return m_fileOrder; }
  int GetHostOrder() const { return m_hostOrder; }
  std::uint32_t GetOpenFlags() const { return m_openFlags; }

 protected:
  bool NeedsSwap() const { return m_fileOrder != m_hostOrder; }

 private:
  [[nodiscard]] XpResult ReadTyped(void* value, unsigned width, int order);
  [[nodiscard]] XpResult WriteTyped(const void* value, unsigned width, int order);
  // ReadRawChar that also reports the bytes it consumed.
  [[nodiscard]] XpResult ReadRawCharCounted(wchar_t* c, int* bytes);
  [[nodiscard]] XpResult ReadLineInto(wchar_t* buffer, int count, int* length);

  int m_fileOrder;
  int m_hostOrder;
  std::uint32_t m_openFlags;
};

class XpFile : public XpAbstractFile {
 public:
  XpFile();
  explicit XpFile(const XpString& path);
  explicit XpFile(int order);
  XpFile(const XpString& path, int order);
  // Closes the file, which applies pending times.
  ~XpFile() override;

  XpString GetName() const override;
  // From the handle while open; else from a query-only open. -1 on failure.
  std::int64_t GetSize() override;
  [[nodiscard]] XpResult GetTimes(XpDateTime* creation, XpDateTime* lastWrite,
                                  XpDateTime* lastAccess) override;
  // A closed file gets the times at once; an open one keeps them as pending
  // (replacing earlier pending values) and gets them when it is closed. Pending
  // times stay and are applied again at every later close.
  [[nodiscard]] XpResult SetTimes(const XpDateTime* creation, const XpDateTime* lastWrite,
                                  const XpDateTime* lastAccess) override;
  bool IsReadOnly() const override;
  bool IsHidden() const override;

  // Read only: the file must exist. Write only: created when missing, else
  // truncated. Read and write: created when missing, contents kept. Neither:
  // XP_E_FILE_BAD_ARGUMENT. XP_E_FILE_ALREADY_OPEN when open. Files are
  // shared for reading only.
  [[nodiscard]] XpResult Open(std::uint32_t flags) override;
  // XP_E_FILE_NOT_OPEN when not open.
  [[nodiscard]] XpResult Close() override;
  // Fewer bytes than asked: XP_E_FILE_EOF with the count read.
  [[nodiscard]] XpResult Read(void* buffer, std::uint64_t count, std::uint64_t* bytesRead) override;
  [[nodiscard]] XpResult Write(const void* buffer, std::uint64_t count, std::uint64_t* bytesWritten) override;
  [[nodiscard]] XpResult Flush() override { return XP_OK; }
  [[nodiscard]] XpResult Seek(std::int64_t offset, int origin) override;
  std::int64_t Tell() override;
  // The position is kept when it lies inside the new length, else it is the new end.
  [[nodiscard]] XpResult SetLength(std::uint64_t length) override;

  [[nodiscard]] virtual XpResult OpenPath(const XpString& path, std::uint32_t flags);
  // Closes the file (when open) and sets the path.
  [[nodiscard]] virtual XpResult SetPathClosing(const XpString& path);
  virtual XpString GetPathCopy() const;
  // Sets the non-null, valid times on the file at the path now.
  [[nodiscard]] virtual XpResult ApplyTimes(const XpDateTime* creation, const XpDateTime* lastWrite,
                                            const XpDateTime* lastAccess);

  bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }

 private:
  XpFile(const XpFile&);
  XpFile& operator=(const XpFile&);

  HANDLE m_handle;
  XpSharedPtr<XpDateTime> m_pendingCreation;
  XpSharedPtr<XpDateTime> m_pendingLastWrite;
  XpSharedPtr<XpDateTime> m_pendingLastAccess;
};
