// _wopen is the call that creates a file with the run-time library's errno
// results; the secure variants add nothing here.
#ifndef _CRT_SECURE_NO_WARNINGS
#define _CRT_SECURE_NO_WARNINGS
#endif

#include "platform/XpFile.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "platform/XpFileOperation.h"
#include "platform/XpHandle.h"
#include "platform/XpPath.h"

namespace {

const wchar_t kCR = L'\r';
const wchar_t kLF = L'\n';

// The host of every supported system is little-endian.
const int kHostOrder = XP_ORDER_LITTLE_ENDIAN;

// Longest run handed to one ReadFile/WriteFile call.
const std::uint64_t kMaxChunk = 0x40000000;

void SwapBytes(unsigned char* bytes, unsigned width) {
  for (unsigned i = 0; i < width / 2; ++i) {
    unsigned char t = bytes[i];
    bytes[i] = bytes[width - 1 - i];
    bytes[width - 1 - i] = t;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// XpAbstractFile

XpAbstractFile::XpAbstractFile() : m_fileOrder(XP_ORDER_NOT_SET), m_hostOrder(kHostOrder), m_openFlags(0) {}

XpAbstractFile::XpAbstractFile(const XpString& path)
    : XpAbstractFSObj(path), m_fileOrder(XP_ORDER_NOT_SET), m_hostOrder(kHostOrder), m_openFlags(0) {}

XpAbstractFile::~XpAbstractFile() {}

XpResult XpAbstractFile::Open(std::uint32_t flags) {
  m_openFlags = flags;
  return XP_OK;
}

XpResult XpAbstractFile::WriteAndFlush(const void* buffer, std::uint64_t count, std::uint64_t* bytesWritten) {
  XpResult r = Write(buffer, count, bytesWritten);
  if (r == XP_OK) r = Flush();
  return r;
}

XpResult XpAbstractFile::SetByteOrder(int order) {
  switch (order) {
    case XP_ORDER_BIG_ENDIAN:
    case XP_ORDER_LITTLE_ENDIAN:
      m_fileOrder = order;
      return XP_OK;
    case XP_ORDER_KEEP:
      return XP_OK;
    default:
      return XP_E_FAIL;
  }
}

void XpAbstractFile::SetHostOrder() { m_hostOrder = kHostOrder; }

XpResult XpAbstractFile::ReadTyped(void* value, unsigned width, int order) {
  if (value == nullptr) return XP_E_FILE_BAD_ARGUMENT;
  XpResult r = SetByteOrder(order);
  if (r != XP_OK) return r;
  unsigned char bytes[8];
  std::uint64_t got = 0;
  r = Read(bytes, width, &got);
  if (r != XP_OK) return r;
  // A memory file reports a short read as success; a partial value is not one.
  if (got != width) return XP_E_FILE_EOF;
  if (NeedsSwap()) SwapBytes(bytes, width);
  std::memcpy(value, bytes, width);
  return XP_OK;
}

XpResult XpAbstractFile::WriteTyped(const void* value, unsigned width, int order) {
  XpResult r = SetByteOrder(order);
  if (r != XP_OK) return r;
  unsigned char bytes[8];
  std::memcpy(bytes, value, width);
  if (NeedsSwap()) SwapBytes(bytes, width);
  return Write(bytes, width, nullptr);
}

XpResult XpAbstractFile::ReadInt64(std::int64_t* value, int order) { return ReadTyped(value, 8, order); }
XpResult XpAbstractFile::ReadUInt64(std::uint64_t* value, int order) { return ReadTyped(value, 8, order); }
XpResult XpAbstractFile::ReadInt32(std::int32_t* value, int order) { return ReadTyped(value, 4, order); }
XpResult XpAbstractFile::ReadUInt32(std::uint32_t* value, int order) { return ReadTyped(value, 4, order); }
XpResult XpAbstractFile::ReadInt16(std::int16_t* value, int order) { return ReadTyped(value, 2, order); }
XpResult XpAbstractFile::ReadUInt16(std::uint16_t* value, int order) { return ReadTyped(value, 2, order); }
XpResult XpAbstractFile::ReadInt8(std::int8_t* value, int order) { return ReadTyped(value, 1, order); }
XpResult XpAbstractFile::ReadUInt8(std::uint8_t* value, int order) { return ReadTyped(value, 1, order); }

XpResult XpAbstractFile::WriteInt64(std::int64_t value, int order) { return WriteTyped(&value, 8, order); }
XpResult XpAbstractFile::WriteUInt64(std::uint64_t value, int order) { return WriteTyped(&value, 8, order); }
XpResult XpAbstractFile::WriteInt32(std::int32_t value, int order) { return WriteTyped(&value, 4, order); }
XpResult XpAbstractFile::WriteUInt32(std::uint32_t value, int order) { return WriteTyped(&value, 4, order); }
XpResult XpAbstractFile::WriteInt16(std::int16_t value, int order) { return WriteTyped(&value, 2, order); }
XpResult XpAbstractFile::WriteUInt16(std::uint16_t value, int order) { return WriteTyped(&value, 2, order); }
XpResult XpAbstractFile::WriteInt8(std::int8_t value, int order) { return WriteTyped(&value, 1, order); }
XpResult XpAbstractFile::WriteUInt8(std::uint8_t value, int order) { return WriteTyped(&value, 1, order); }

XpResult XpAbstractFile::ReadRawCharCounted(wchar_t* c, int* bytes) {
  *bytes = 0;
  if (c == nullptr) return XP_E_FILE_BAD_ARGUMENT;
  char mb[2];
  std::uint64_t got = 0;
  XpResult r = Read(&mb[0], 1, &got);
  if (r != XP_OK) return r;
  if (got != 1) return XP_E_FILE_EOF;
  int length = 1;
  if (IsDBCSLeadByte(static_cast<BYTE>(mb[0]))) {
    r = Read(&mb[1], 1, &got);
    if (r != XP_OK) {
      *bytes = got == 1 ? 2 : 1;
      return r;
    }
    if (got != 1) {
      *bytes = 1;
      return XP_E_FILE_EOF;
    }
    length = 2;
  }
  *bytes = length;
  wchar_t wide = 0;
  if (MultiByteToWideChar(CP_ACP, 0, mb, length, &wide, 1) != 1) return XP_E_FAIL;
  *c = wide;
  return XP_OK;
}

XpResult XpAbstractFile::ReadRawChar(wchar_t* c) {
  int bytes = 0;
  return ReadRawCharCounted(c, &bytes);
}

XpResult XpAbstractFile::WriteRawChar(wchar_t c) {
  char mb[8];
  int length = WideCharToMultiByte(CP_ACP, 0, &c, 1, mb, static_cast<int>(sizeof(mb)), nullptr, nullptr);
  if (length <= 0) return XP_E_FAIL;
  for (int i = 0; i < length; ++i) {
    XpResult r = Write(&mb[i], 1, nullptr);
    if (r != XP_OK) return r;
  }
  return XP_OK;
}

XpResult XpAbstractFile::ReadChar(wchar_t* c) {
  int bytes = 0;
  wchar_t first = 0;
  XpResult r = ReadRawCharCounted(&first, &bytes);
  if (r != XP_OK) return r;
  if ((m_openFlags & XP_FILE_TEXT) != 0 && first == kCR) {
    wchar_t next = 0;
    r = ReadRawCharCounted(&next, &bytes);
    if (r == XP_OK && next == kLF) {
      *c = kLF;
      return XP_OK;
    }
    // Whatever followed the CR (all its bytes, not only one) is read next.
    if (bytes > 0) {
      XpResult back = Seek(-static_cast<std::int64_t>(bytes), XP_SEEK_CURRENT);
      if (back != XP_OK) return back;
    }
  }
  *c = first;
  return XP_OK;
}

XpResult XpAbstractFile::WriteChar(wchar_t c) {
  if ((m_openFlags & XP_FILE_TEXT) != 0 && c == kLF) {
    XpResult r = WriteRawChar(kCR);
    if (r != XP_OK) return r;
  }
  return WriteRawChar(c);
}

XpResult XpAbstractFile::WriteText(const wchar_t* text) {
  if (text == nullptr) return XP_E_FILE_BAD_ARGUMENT;
  for (const wchar_t* p = text; *p != 0; ++p) {
    XpResult r = WriteChar(*p);
    if (r != XP_OK) return r;
  }
  return XP_OK;
}

XpResult XpAbstractFile::ReadLineInto(wchar_t* buffer, int count, int* length) {
  int n = 0;
  XpResult result = XP_OK;
  for (;;) {
    if (n >= count - 1) {
      result = XP_E_FILE_BUFFER_TOO_SMALL;
      break;
    }
    wchar_t c = 0;
    XpResult r = ReadChar(&c);
    if (r == XP_E_FILE_EOF) {
      // The end of the file ends the last line; with nothing read it is the end.
      if (n == 0) result = r;
      break;
    }
    if (r != XP_OK) {
      result = r;
      break;
    }
    if (c == kLF) break;
    buffer[n++] = c;
  }
  buffer[n] = 0;
  *length = n;
  return result;
}

XpResult XpAbstractFile::ReadLine(wchar_t* buffer, int count) {
  if (buffer == nullptr || count < 2) return XP_E_FILE_BAD_ARGUMENT;
  int length = 0;
  return ReadLineInto(buffer, count, &length);
}

XpResult XpAbstractFile::ReadLine(XpString& text) {
  // The line grows in steps of 512 characters; each step goes on where the
  // previous one stopped, so a long line is read once.
  const int kStep = 512;
  int capacity = kStep;
  wchar_t* buffer = static_cast<wchar_t*>(std::malloc(capacity * sizeof(wchar_t)));
  if (buffer == nullptr) return XP_E_OUT_OF_MEMORY;
  int used = 0;
  XpResult r = XP_OK;
  for (;;) {
    int length = 0;
    r = ReadLineInto(buffer + used, capacity - used, &length);
    used += length;
    if (r != XP_E_FILE_BUFFER_TOO_SMALL) break;
    if (capacity > 0x3FFFFFFF - kStep) {
      r = XP_E_OUT_OF_MEMORY;
      break;
    }
    int grown = capacity + (capacity < 64 * kStep ? kStep : capacity / 2);
    wchar_t* bigger = static_cast<wchar_t*>(std::realloc(buffer, grown * sizeof(wchar_t)));
    if (bigger == nullptr) {
      r = XP_E_OUT_OF_MEMORY;
      break;
    }
    buffer = bigger;
    capacity = grown;
  }
  // At the end of the file a partly read line still counts as a line.
  if (r == XP_E_FILE_EOF && used > 0) r = XP_OK;
  if (r == XP_OK) text = buffer;
  std::free(buffer);
  return r;
}

// ---------------------------------------------------------------------------
// XpFile

XpFile::XpFile() : m_handle(INVALID_HANDLE_VALUE) { SetHostOrder(); }

XpFile::XpFile(const XpString& path) : m_handle(INVALID_HANDLE_VALUE) {
  SetHostOrder();
  // Nothing is open yet, so only the path is set.
  (void)SetPathClosing(path);
}

XpFile::XpFile(int order) : m_handle(INVALID_HANDLE_VALUE) {
  SetHostOrder();
  // An unknown order keeps the host order set above.
  (void)SetByteOrder(order);
}

XpFile::XpFile(const XpString& path, int order) : m_handle(INVALID_HANDLE_VALUE) {
  SetHostOrder();
  // Nothing is open yet; an unknown order keeps the host order.
  (void)SetPathClosing(path);
  (void)SetByteOrder(order);
}

XpFile::~XpFile() {
  // A caller that cares about the close result closes before the object goes.
  if (IsOpen()) (void)Close();
}

XpString XpFile::GetName() const { return GetBaseName(m_path); }

std::int64_t XpFile::GetSize() {
  LARGE_INTEGER size;
  if (IsOpen()) return GetFileSizeEx(m_handle, &size) ? size.QuadPart : -1;
  // Query-only open; sharing writes too so that a file another object has
  // open for writing can still be measured.
  XpUniqueFileHandle h(CreateFileW(m_path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return -1;
  return GetFileSizeEx(h.get(), &size) ? size.QuadPart : -1;
}

XpResult XpFile::GetTimes(XpDateTime* creation, XpDateTime* lastWrite, XpDateTime* lastAccess) {
  return GetPathTimes(m_path, creation, lastWrite, lastAccess);
}

XpResult XpFile::SetTimes(const XpDateTime* creation, const XpDateTime* lastWrite,
                          const XpDateTime* lastAccess) {
  if (!IsOpen()) return ApplyTimes(creation, lastWrite, lastAccess);
  if (creation != nullptr) m_pendingCreation = XpSharedPtr<XpDateTime>(new XpDateTime(*creation));
  if (lastWrite != nullptr) m_pendingLastWrite = XpSharedPtr<XpDateTime>(new XpDateTime(*lastWrite));
  if (lastAccess != nullptr) m_pendingLastAccess = XpSharedPtr<XpDateTime>(new XpDateTime(*lastAccess));
  return XP_OK;
}

XpResult XpFile::ApplyTimes(const XpDateTime* creation, const XpDateTime* lastWrite,
                            const XpDateTime* lastAccess) {
  // An invalid time has no file time; it is left alone like a null one.
  FILETIME created = {}, written = {}, accessed = {};
  bool haveCreation = creation != nullptr && creation->IsValid();
  bool haveWrite = lastWrite != nullptr && lastWrite->IsValid();
  bool haveAccess = lastAccess != nullptr && lastAccess->IsValid();
  if (haveCreation) created = creation->ToFileTime();
  if (haveWrite) written = lastWrite->ToFileTime();
  if (haveAccess) accessed = lastAccess->ToFileTime();
  XpUniqueFileHandle h(CreateFileW(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return XpResultFromLastError();
  XpResult result = XP_OK;
  if (!SetFileTime(h.get(), haveCreation ? &created : nullptr, haveAccess ? &accessed : nullptr,
                   haveWrite ? &written : nullptr)) {
    result = XpResultFromLastError();
    if (result == XP_OK) result = XP_E_FILE;
  }
  return result;
}

bool XpFile::IsReadOnly() const {
  return XpFileSystemDetail::PathHasAttributes(m_path, FILE_ATTRIBUTE_READONLY);
}

bool XpFile::IsHidden() const { return XpFileSystemDetail::PathHasAttributes(m_path, FILE_ATTRIBUTE_HIDDEN); }

XpResult XpFile::Open(std::uint32_t flags) {
  if (IsOpen()) return XP_E_FILE_ALREADY_OPEN;
  // The base only records the flags.
  (void)XpAbstractFile::Open(flags);
  DWORD access = 0;
  DWORD disposition = 0;
  switch (flags & XP_FILE_READ_WRITE) {
    case XP_FILE_READ_WRITE: {
      int fd = _wopen(m_path.c_str(), _O_CREAT | _O_RDWR | _O_BINARY, _S_IREAD | _S_IWRITE);
      if (fd == -1) return XpResultFromErrno(errno, false);
      _close(fd);
      access = GENERIC_READ | GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      break;
    }
    case XP_FILE_READ:
      access = GENERIC_READ;
      disposition = OPEN_EXISTING;
      break;
    case XP_FILE_WRITE:
      // Any other failure shows again, mapped, when the file is opened below.
      (void)XpFileOperation::CreateNewFile(m_path);
      access = GENERIC_WRITE;
      disposition = TRUNCATE_EXISTING;
      break;
    default:
      return XP_E_FILE_BAD_ARGUMENT;
  }
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  if ((flags & XP_FILE_SEQUENTIAL_SCAN) != 0)
    attributes |= FILE_FLAG_SEQUENTIAL_SCAN;
  else if ((flags & XP_FILE_RANDOM_ACCESS) != 0)
    attributes |= FILE_FLAG_RANDOM_ACCESS;
  HANDLE h = CreateFileW(m_path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, attributes, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    XpResult r = XpResultFromLastError();
    if (r == XP_E_FILE || r == XP_E_FAIL || r == XP_OK)
      r = (flags & XP_FILE_WRITE) != 0 ? XP_E_CREATE_FAILED : XP_E_OPEN_FAILED;
    return r;
  }
  m_handle = h;
  return XP_OK;
}

XpResult XpFile::Close() {
  if (!IsOpen()) return XP_E_FILE_NOT_OPEN;
  HANDLE h = m_handle;
  m_handle = INVALID_HANDLE_VALUE;
  if (!CloseHandle(h)) {
    XpResult r = XpResultFromLastError();
    return r != XP_OK ? r : XP_E_FILE;
  }
  if (m_pendingCreation || m_pendingLastWrite || m_pendingLastAccess)
    return ApplyTimes(m_pendingCreation.get(), m_pendingLastWrite.get(), m_pendingLastAccess.get());
  return XP_OK;
}

namespace {

// Moves count bytes in runs that fit one 32-bit call, so nothing is cut off.
// step(offset, ask, &done) moves one run and returns FALSE on failure (the
// last error says why); a run that moves fewer bytes than asked ends the
// transfer with shortResult. moved receives the total, also on failure.
template <class Step>
[[nodiscard]] XpResult TransferInRuns(std::uint64_t count, XpResult shortResult, std::uint64_t* moved,
                                      Step step) {
  std::uint64_t total = 0;
  XpResult result = XP_OK;
  while (total < count) {
    const DWORD ask = static_cast<DWORD>(count - total < kMaxChunk ? count - total : kMaxChunk);
    DWORD done = 0;
    if (!step(total, ask, &done)) {
      result = XpResultFromLastError();
      if (result == XP_OK) result = XP_E_FILE;
      total += done;
      break;
    }
    total += done;
    if (done < ask) {
      result = shortResult;
      break;
    }
  }
  if (moved != nullptr) *moved = total;
  return result;
}

}  // namespace

XpResult XpFile::Read(void* buffer, std::uint64_t count, std::uint64_t* bytesRead) {
  if (bytesRead != nullptr) *bytesRead = 0;
  if (buffer == nullptr || count == 0) return XP_E_FILE_BAD_ARGUMENT;
  if (!IsOpen()) return XP_E_FILE_NOT_ACTIVE;
  unsigned char* p = static_cast<unsigned char*>(buffer);
  const HANDLE h = m_handle;
  return TransferInRuns(count, XP_E_FILE_EOF, bytesRead, [p, h](std::uint64_t at, DWORD ask, DWORD* done) {
    return ReadFile(h, p + static_cast<size_t>(at), ask, done, nullptr);
  });
}

XpResult XpFile::Write(const void* buffer, std::uint64_t count, std::uint64_t* bytesWritten) {
  if (bytesWritten != nullptr) *bytesWritten = 0;
  if (buffer == nullptr || count == 0) return XP_E_FILE_BAD_ARGUMENT;
  if (!IsOpen()) return XP_E_FILE_NOT_ACTIVE;
  const unsigned char* p = static_cast<const unsigned char*>(buffer);
  const HANDLE h = m_handle;
  // A write that stops short without an error has run out of room.
  return TransferInRuns(count, XP_E_DISK_FULL, bytesWritten,
                        [p, h](std::uint64_t at, DWORD ask, DWORD* done) {
                          return WriteFile(h, p + static_cast<size_t>(at), ask, done, nullptr);
                        });
}

XpResult XpFile::Seek(std::int64_t offset, int origin) {
  if (!IsOpen()) return XP_E_FILE_NOT_ACTIVE;
  DWORD method = FILE_BEGIN;
  if (origin == XP_SEEK_CURRENT) method = FILE_CURRENT;
  if (origin == XP_SEEK_END) method = FILE_END;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  if (!SetFilePointerEx(m_handle, distance, nullptr, method)) {
    XpResult r = XpResultFromLastError();
    return r != XP_OK ? r : XP_E_FILE;
  }
  return XP_OK;
}

std::int64_t XpFile::Tell() {
  if (!IsOpen()) return -1;
  LARGE_INTEGER zero, position;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(m_handle, zero, &position, FILE_CURRENT)) return -1;
  return position.QuadPart;
}

XpResult XpFile::SetLength(std::uint64_t length) {
  if (!IsOpen()) return XP_E_FILE_NOT_ACTIVE;
  if (length > static_cast<std::uint64_t>(INT64_MAX)) return XP_E_FILE_BAD_ARGUMENT;
  std::int64_t remembered = Tell();
  XpResult r = Seek(static_cast<std::int64_t>(length), XP_SEEK_BEGIN);
  if (r != XP_OK) return r;
  if (!SetEndOfFile(m_handle)) {
    r = XpResultFromLastError();
    if (r == XP_OK) r = XP_E_FILE;
    // The length did not change: neither does the position.
    if (remembered >= 0) Seek(remembered, XP_SEEK_BEGIN);
    return r;
  }
  if (remembered >= 0 && static_cast<std::uint64_t>(remembered) < length)
    return Seek(remembered, XP_SEEK_BEGIN);
  return XP_OK;
}

XpResult XpFile::OpenPath(const XpString& path, std::uint32_t flags) {
  SetPathClosing(path);
  return Open(flags);
}

XpResult XpFile::SetPathClosing(const XpString& path) {
  if (IsOpen()) Close();
  return SetPath(path);
}

XpString XpFile::GetPathCopy() const { return XpString(m_path.c_str()); }
