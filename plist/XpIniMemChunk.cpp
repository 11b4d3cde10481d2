#include "plist/XpIniMemChunk.h"

#include <cstdlib>
#include <new>

#include "plist/XpIniDetail.h"

XpIniElement* XpIniDetail::NewMemChunk() { return new (std::nothrow) XpIniMemChunk(); }

XpIniMemChunk::~XpIniMemChunk() {}

XpResult XpIniMemChunk::GetData(XpAbstractFile* file) const {
  if (file == nullptr) return XP_E_FILE_BAD_ARGUMENT;
  // A memory file without a buffer refuses SetLength; it is empty anyway.
  file->SetLength(0);
  std::uint64_t size = Size();
  if (size == 0) return XP_OK;
  return file->Write(m_data.GetBuffer(), size, nullptr);
}

XpResult XpIniMemChunk::SetData(XpAbstractFile* file, std::int64_t offset, std::int64_t length) {
  if (file == nullptr) return XP_E_FILE_BAD_ARGUMENT;
  XpResult r = file->Seek(offset, XP_SEEK_BEGIN);
  if (r != XP_OK) return r;
  if (length == -1) {
    std::int64_t size = file->GetSize();
    std::int64_t position = file->Tell();
    if (size < 0 || position < 0) return XP_E_FILE;
    length = size > position ? size - position : 0;
  }
  if (length < 0) return XP_E_FILE_BAD_ARGUMENT;
  if (static_cast<std::uint64_t>(length) > static_cast<std::uint64_t>(SIZE_MAX) - 1)
    return XP_E_OUT_OF_MEMORY;
  // Read into a fresh buffer first so that a failed read leaves the chunk as it was.
  unsigned char* bytes = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (bytes == nullptr) return XP_E_OUT_OF_MEMORY;
  std::uint64_t got = 0;
  if (length > 0) {
    r = file->Read(bytes, static_cast<std::uint64_t>(length), &got);
    if (r != XP_OK) {
      std::free(bytes);
      return r;
    }
    if (got > static_cast<std::uint64_t>(length)) got = static_cast<std::uint64_t>(length);
  }
  m_data.Attach(bytes, got, true);
  return XP_OK;
}
