// A file whose contents live in a heap buffer, so that the typed, character
// and line operations of XpAbstractFile work on memory. The buffer is owned
// (malloc'ed, freed by the file) or borrowed (the caller's, never freed).
#pragma once

#include <cstdint>

#include "platform/XpDateTime.h"
#include "platform/XpFile.h"
#include "platform/XpResult.h"
#include "platform/XpString.h"

// The three times of a file that has no place on disk to keep them.
struct XpFileTime {
  XpDateTime creationTime;
  XpDateTime lastWriteTime;
  XpDateTime lastAccessTime;

  void SetAllNow();
};

// Ownership states of an XpMemoryFile buffer.
const int XP_MEMORY_NO_BUFFER = 0;
const int XP_MEMORY_OWNED = 1;
const int XP_MEMORY_BORROWED = 2;

class XpMemoryFile : public XpAbstractFile, public XpFileTime {
 public:
  XpMemoryFile();
  explicit XpMemoryFile(int order);
  // The buffer's capacity is its size. With takeOwnership the buffer must
  // come from malloc; the file frees it.
  XpMemoryFile(void* buffer, std::uint64_t size, bool takeOwnership);
  XpMemoryFile(void* buffer, std::uint64_t size, int order, bool takeOwnership);
  ~XpMemoryFile() override;

  // "Memory File(<address padded to 32 characters>)".
  XpString GetName() const override;
  std::int64_t GetSize() override;
  [[nodiscard]] XpResult GetTimes(XpDateTime* creation, XpDateTime* lastWrite,
                                  XpDateTime* lastAccess) override;
  bool IsReadOnly() const override { return false; }
  bool IsHidden() const override { return false; }

  // With the write flag the contents are emptied.
  [[nodiscard]] XpResult Open(std::uint32_t flags) override;
  // The buffer stays.
  [[nodiscard]] XpResult Close() override;
  // A short read is not an error; at or past the end XP_E_FILE_EOF.
  [[nodiscard]] XpResult Read(void* buffer, std::uint64_t count, std::uint64_t* bytesRead) override;
  // Grows the buffer to the next multiple of 64 KiB above the need;
  // XP_E_DISK_FULL when it cannot. A borrowed buffer is filled only up to its
  // capacity: beyond that the contents move to an owned copy (the caller's
  // memory keeps what was written so far and is never freed or resized).
  // Bytes skipped by a write past the end read as zero. Writing no bytes
  // changes nothing, also past the end.
  [[nodiscard]] XpResult Write(const void* buffer, std::uint64_t count, std::uint64_t* bytesWritten) override;
  [[nodiscard]] XpResult Flush() override { return XP_OK; }
  // Any position at or after 0 is allowed, also past the end; a position
  // before 0 is refused with XP_E_FILE_BAD_ARGUMENT and the position stays.
  [[nodiscard]] XpResult Seek(std::int64_t offset, int origin) override;
  std::int64_t Tell() override;
  // XP_E_FILE_NOT_ACTIVE without a buffer, XP_E_OUT_OF_MEMORY when it cannot
  // be resized. New bytes read as zero. A position past the new end moves to it.
  [[nodiscard]] XpResult SetLength(std::uint64_t length) override;

  virtual void* GetBuffer();
  // Frees an owned buffer first. A null buffer leaves the file empty.
  virtual void Attach(void* buffer, std::uint64_t size, bool takeOwnership);
  // Gives up the buffer: an owned one is freed (null returned), a borrowed one
  // is returned to the caller.
  virtual void* Release();
  // Back to no buffer (an owned one is freed), all times now.
  virtual void Reset();
  // The next multiple of 65536 above n (always larger than n).
  virtual std::uint64_t RoundUpCapacity(std::uint64_t n);

  std::uint64_t GetCapacity() const { return m_capacity; }
  int GetOwnership() const { return m_ownership; }

 private:
  XpMemoryFile(const XpMemoryFile&);
  XpMemoryFile& operator=(const XpMemoryFile&);

  void Init(void* buffer, std::uint64_t size, bool takeOwnership);
  // Forgets the buffer (without freeing it): no buffer, every count 0.
  void Clear();
  // Makes room for at least needed bytes; false when memory is short.
  bool Reserve(std::uint64_t needed);

  unsigned char* m_buffer;
  std::uint64_t m_size;
  std::uint64_t m_capacity;
  std::uint64_t m_position;
  int m_ownership;
};
