// The data leaf of the property-list tree (type 4): bytes held in a memory file.
#pragma once

#include <cstdint>

#include "platform/XpMemoryFile.h"
#include "plist/XpIni.h"

class XpIniMemChunk : public XpIniElement {
 public:
  XpIniMemChunk() {}
  ~XpIniMemChunk() override;
  XpIniType GetType() const override { return XpIniTypeData; }
  // Empties file and writes the bytes to it.
  [[nodiscard]] XpResult GetData(XpAbstractFile* file) const override;
  // Takes length bytes of file from offset (-1: the rest of the file). Only
  // the bytes actually read are kept; on failure the chunk is unchanged.
  [[nodiscard]] XpResult SetData(XpAbstractFile* file, std::int64_t offset, std::int64_t length) override;

  // Direct view of the bytes, for the XML writer. Null when empty.
  const unsigned char* Bytes() const { return static_cast<const unsigned char*>(m_data.GetBuffer()); }
  std::uint64_t Size() const { return static_cast<std::uint64_t>(m_data.GetSize()); }

 private:
  // The memory file's queries are not const, though they change nothing.
  mutable XpMemoryFile m_data;
};
