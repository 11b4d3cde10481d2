#include "platform/XpMemoryFile.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

const std::uint64_t kCapacityStep = 65536;

// Largest byte count one allocation can hold, kept a step below the limit so
// that rounding up never wraps.
const std::uint64_t kMaxBytes = (static_cast<std::uint64_t>(SIZE_MAX) < static_cast<std::uint64_t>(INT64_MAX)
                                     ? static_cast<std::uint64_t>(SIZE_MAX)
                                     : static_cast<std::uint64_t>(INT64_MAX)) -
                                kCapacityStep;

}  // namespace

void XpFileTime::SetAllNow() {
  XpDateTime now = XpDateTime::Now();
  creationTime = now;
  lastWriteTime = now;
  lastAccessTime = now;
}

XpMemoryFile::XpMemoryFile() { Init(nullptr, 0, false); }

XpMemoryFile::XpMemoryFile(int order) {
  Init(nullptr, 0, false);
  // An unknown order keeps the host order.
  (void)SetByteOrder(order);
}

XpMemoryFile::XpMemoryFile(void* buffer, std::uint64_t size, bool takeOwnership) {
  Init(buffer, size, takeOwnership);
}

XpMemoryFile::XpMemoryFile(void* buffer, std::uint64_t size, int order, bool takeOwnership) {
  Init(buffer, size, takeOwnership);
  // An unknown order keeps the host order.
  (void)SetByteOrder(order);
}

void XpMemoryFile::Init(void* buffer, std::uint64_t size, bool takeOwnership) {
  Clear();
  SetHostOrder();
  SetAllNow();
  if (buffer != nullptr) Attach(buffer, size, takeOwnership);
}

XpMemoryFile::~XpMemoryFile() {
  lastAccessTime = XpDateTime::Now();
  Reset();
}

XpString XpMemoryFile::GetName() const {
  wchar_t text[64];
  swprintf(text, 64, L"Memory File(%32p)", static_cast<const void*>(m_buffer));
  text[63] = 0;
  return XpString(text);
}

std::int64_t XpMemoryFile::GetSize() { return static_cast<std::int64_t>(m_size); }

std::int64_t XpMemoryFile::Tell() { return static_cast<std::int64_t>(m_position); }

XpResult XpMemoryFile::GetTimes(XpDateTime* creation, XpDateTime* lastWrite, XpDateTime* lastAccess) {
  if (creation != nullptr) *creation = creationTime;
  if (lastWrite != nullptr) *lastWrite = lastWriteTime;
  if (lastAccess != nullptr) *lastAccess = lastAccessTime;
  return XP_OK;
}

XpResult XpMemoryFile::Open(std::uint32_t flags) {
  // The base only records the flags.
  (void)XpAbstractFile::Open(flags);
  SetAllNow();
  // Without a buffer the file is empty already.
  if ((flags & XP_FILE_WRITE) != 0 && m_buffer != nullptr) SetLength(0);
  return XP_OK;
}

XpResult XpMemoryFile::Close() {
  lastAccessTime = XpDateTime::Now();
  return XP_OK;
}

XpResult XpMemoryFile::Read(void* buffer, std::uint64_t count, std::uint64_t* bytesRead) {
  if (bytesRead != nullptr) *bytesRead = 0;
  if (buffer == nullptr && count != 0) return XP_E_FILE_BAD_ARGUMENT;
  if (m_position >= m_size) return XP_E_FILE_EOF;
  std::uint64_t left = m_size - m_position;
  std::uint64_t n = count < left ? count : left;
  if (n != 0) std::memcpy(buffer, m_buffer + m_position, static_cast<size_t>(n));
  m_position += n;
  lastAccessTime = XpDateTime::Now();
  if (bytesRead != nullptr) *bytesRead = n;
  return XP_OK;
}

bool XpMemoryFile::Reserve(std::uint64_t needed) {
  if (m_buffer != nullptr && needed <= m_capacity) return true;
  if (needed > kMaxBytes) return false;
  std::uint64_t capacity = RoundUpCapacity(needed);
  if (m_ownership == XP_MEMORY_OWNED) {
    void* grown = std::realloc(m_buffer, static_cast<size_t>(capacity));
    if (grown == nullptr) return false;
    m_buffer = static_cast<unsigned char*>(grown);
  } else {
    // No buffer yet, or a borrowed one that must not be resized: the
    // contents move to a buffer of our own.
    unsigned char* owned = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(capacity)));
    if (owned == nullptr) return false;
    if (m_size != 0) std::memcpy(owned, m_buffer, static_cast<size_t>(m_size));
    m_buffer = owned;
    m_ownership = XP_MEMORY_OWNED;
  }
  m_capacity = capacity;
  return true;
}

XpResult XpMemoryFile::Write(const void* buffer, std::uint64_t count, std::uint64_t* bytesWritten) {
  if (bytesWritten != nullptr) *bytesWritten = 0;
  // Nothing to write: no buffer is made and a position past the end does not
  // become the size.
  if (count == 0) return XP_OK;
  if (buffer == nullptr) return XP_E_FILE_BAD_ARGUMENT;
  if (count > kMaxBytes || m_position > kMaxBytes - count) return XP_E_DISK_FULL;
  std::uint64_t needed = m_position + count;
  if (!Reserve(needed)) return XP_E_DISK_FULL;
  // Bytes skipped by a write past the end would otherwise hold stale heap data.
  if (m_position > m_size) std::memset(m_buffer + m_size, 0, static_cast<size_t>(m_position - m_size));
  std::memcpy(m_buffer + m_position, buffer, static_cast<size_t>(count));
  m_position = needed;
  if (m_position > m_size) m_size = m_position;
  lastWriteTime = XpDateTime::Now();
  lastAccessTime = lastWriteTime;
  if (bytesWritten != nullptr) *bytesWritten = count;
  return XP_OK;
}

XpResult XpMemoryFile::Seek(std::int64_t offset, int origin) {
  std::uint64_t base = 0;
  if (origin == XP_SEEK_CURRENT) base = m_position;
  if (origin == XP_SEEK_END) base = m_size;
  // Positions are kept in the signed range so that Tell can report them.
  std::int64_t start = static_cast<std::int64_t>(base);
  if ((offset < 0 && start + offset < 0) || (offset > 0 && start > INT64_MAX - offset))
    return XP_E_FILE_BAD_ARGUMENT;
  m_position = static_cast<std::uint64_t>(start + offset);
  lastAccessTime = XpDateTime::Now();
  return XP_OK;
}

XpResult XpMemoryFile::SetLength(std::uint64_t length) {
  if (m_buffer == nullptr) return XP_E_FILE_NOT_ACTIVE;
  if (length > kMaxBytes) return XP_E_OUT_OF_MEMORY;
  if (m_ownership == XP_MEMORY_OWNED) {
    std::uint64_t capacity = RoundUpCapacity(length);
    void* resized = std::realloc(m_buffer, static_cast<size_t>(capacity));
    if (resized == nullptr) return XP_E_OUT_OF_MEMORY;
    m_buffer = static_cast<unsigned char*>(resized);
    m_capacity = capacity;
  } else if (length > m_capacity && !Reserve(length)) {
    return XP_E_OUT_OF_MEMORY;
  }
  if (length > m_size) std::memset(m_buffer + m_size, 0, static_cast<size_t>(length - m_size));
  m_size = length;
  if (m_position > m_size) m_position = m_size;
  lastWriteTime = XpDateTime::Now();
  lastAccessTime = lastWriteTime;
  return XP_OK;
}

void* XpMemoryFile::GetBuffer() { return m_buffer; }

void XpMemoryFile::Attach(void* buffer, std::uint64_t size, bool takeOwnership) {
  if (m_ownership == XP_MEMORY_OWNED && m_buffer != buffer) std::free(m_buffer);
  Clear();
  if (buffer == nullptr) return;
  m_buffer = static_cast<unsigned char*>(buffer);
  m_size = size;
  m_capacity = size;
  m_ownership = takeOwnership ? XP_MEMORY_OWNED : XP_MEMORY_BORROWED;
}

void* XpMemoryFile::Release() {
  void* borrowed = m_ownership == XP_MEMORY_BORROWED ? m_buffer : nullptr;
  Reset();
  return borrowed;
}

void XpMemoryFile::Reset() {
  if (m_ownership == XP_MEMORY_OWNED) std::free(m_buffer);
  Clear();
  SetAllNow();
}

void XpMemoryFile::Clear() {
  m_buffer = nullptr;
  m_size = 0;
  m_capacity = 0;
  m_position = 0;
  m_ownership = XP_MEMORY_NO_BUFFER;
}

std::uint64_t XpMemoryFile::RoundUpCapacity(std::uint64_t n) { return n - n % kCapacityStep + kCapacityStep; }
