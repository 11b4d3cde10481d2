#include "platform/XpMemoryFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Contents(XpMemoryFile& file) {
  return std::string(static_cast<const char*>(file.GetBuffer()), static_cast<size_t>(file.GetSize()));
}

TEST(XpMemoryFileTest, CapacityGrowsInSteps) {
  XpMemoryFile file;
  EXPECT_EQ(file.RoundUpCapacity(0), 65536u);
  EXPECT_EQ(file.RoundUpCapacity(1), 65536u);
  EXPECT_EQ(file.RoundUpCapacity(65535), 65536u);
  EXPECT_EQ(file.RoundUpCapacity(65536), 131072u);
  EXPECT_EQ(file.GetOwnership(), XP_MEMORY_NO_BUFFER);
  EXPECT_EQ(file.GetBuffer(), nullptr);

  std::vector<unsigned char> bytes(65536);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7);
  std::uint64_t n = 0;
  ASSERT_EQ(file.Write(bytes.data(), 1, &n), XP_OK);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(file.GetCapacity(), 65536u);
  EXPECT_EQ(file.GetOwnership(), XP_MEMORY_OWNED);
  ASSERT_EQ(file.Write(bytes.data() + 1, 65535, &n), XP_OK);
  EXPECT_EQ(file.GetCapacity(), 65536u);
  EXPECT_EQ(file.GetSize(), 65536);
  ASSERT_EQ(file.Write(bytes.data(), 1, nullptr), XP_OK);
  EXPECT_EQ(file.GetCapacity(), 131072u);
  EXPECT_EQ(file.GetSize(), 65537);
  // Growing kept what was there.
  EXPECT_EQ(std::memcmp(file.GetBuffer(), bytes.data(), bytes.size()), 0);
  EXPECT_EQ(file.Tell(), 65537);

  // SetLength resizes to the step above the length.
  ASSERT_EQ(file.SetLength(10), XP_OK);
  EXPECT_EQ(file.GetCapacity(), 65536u);
  EXPECT_EQ(file.GetSize(), 10);
  EXPECT_EQ(file.Tell(), 10);
  ASSERT_EQ(file.SetLength(20), XP_OK);
  EXPECT_EQ(std::string(static_cast<const char*>(file.GetBuffer()) + 10, 10), std::string(10, '\0'));
  EXPECT_EQ(file.Tell(), 10);

  XpMemoryFile empty;
  EXPECT_EQ(empty.SetLength(5), XP_E_FILE_NOT_ACTIVE);
  EXPECT_EQ(empty.Write(nullptr, 1, nullptr), XP_E_FILE_BAD_ARGUMENT);
  EXPECT_EQ(empty.GetBuffer(), nullptr);
}

TEST(XpMemoryFileTest, ReadsAreShortAtTheEndThenEndOfFile) {
  XpMemoryFile file;
  ASSERT_EQ(file.Write("0123456789", 10, nullptr), XP_OK);
  ASSERT_EQ(file.Seek(6, XP_SEEK_BEGIN), XP_OK);
  char buffer[16] = {};
  std::uint64_t n = 0;
  EXPECT_EQ(file.Read(buffer, 10, &n), XP_OK);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_EQ(file.Read(buffer, 10, &n), XP_E_FILE_EOF);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(file.Read(nullptr, 1, &n), XP_E_FILE_BAD_ARGUMENT);

  // A typed value that does not fit in what is left is not read.
  ASSERT_EQ(file.Seek(-2, XP_SEEK_END), XP_OK);
  std::uint32_t v = 5;
  EXPECT_EQ(file.ReadUInt32(&v, XP_ORDER_BIG_ENDIAN), XP_E_FILE_EOF);
  EXPECT_EQ(v, 5u);
  ASSERT_EQ(file.Seek(0, XP_SEEK_BEGIN), XP_OK);
  ASSERT_EQ(file.ReadUInt32(&v, XP_ORDER_BIG_ENDIAN), XP_OK);
  EXPECT_EQ(v, 0x30313233u);
}

TEST(XpMemoryFileTest, SeeksPastTheEndAndWritesThere) {
  XpMemoryFile file;
  ASSERT_EQ(file.Write("abc", 3, nullptr), XP_OK);
  ASSERT_EQ(file.Seek(100, XP_SEEK_END), XP_OK);
  EXPECT_EQ(file.Tell(), 103);
  char none = 0;
  EXPECT_EQ(file.Read(&none, 1, nullptr), XP_E_FILE_EOF);
  ASSERT_EQ(file.Write("z", 1, nullptr), XP_OK);
  EXPECT_EQ(file.GetSize(), 104);
  EXPECT_EQ(Contents(file), std::string("abc") + std::string(100, '\0') + "z");

  // Before the start is refused and the position stays.
  EXPECT_EQ(file.Seek(-105, XP_SEEK_CURRENT), XP_E_FILE_BAD_ARGUMENT);
  EXPECT_EQ(file.Tell(), 104);
  EXPECT_EQ(file.Seek(-104, XP_SEEK_CURRENT), XP_OK);
  EXPECT_EQ(file.Tell(), 0);
  EXPECT_EQ(file.Seek(INT64_MAX, XP_SEEK_END), XP_E_FILE_BAD_ARGUMENT);
  // A position no buffer can reach cannot be written to.
  ASSERT_EQ(file.Seek(INT64_MAX, XP_SEEK_BEGIN), XP_OK);
  EXPECT_EQ(file.Write("x", 1, nullptr), XP_E_DISK_FULL);
  EXPECT_EQ(file.GetSize(), 104);
  EXPECT_EQ(file.Seek(2, 42), XP_OK);  // unknown origin counts from the start
  EXPECT_EQ(file.Tell(), 2);

  // Writing nothing past the end leaves the size; on an empty file it makes no buffer.
  ASSERT_EQ(file.Seek(50, XP_SEEK_END), XP_OK);
  std::uint64_t n = 9;
  EXPECT_EQ(file.Write("", 0, &n), XP_OK);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(file.GetSize(), 104);
  EXPECT_EQ(file.Write(nullptr, 0, nullptr), XP_OK);
  EXPECT_EQ(file.GetSize(), 104);
  XpMemoryFile empty;
  ASSERT_EQ(empty.Seek(10, XP_SEEK_BEGIN), XP_OK);
  EXPECT_EQ(empty.Write("", 0, nullptr), XP_OK);
  EXPECT_EQ(empty.GetSize(), 0);
  EXPECT_EQ(empty.GetBuffer(), nullptr);
  EXPECT_EQ(empty.GetOwnership(), XP_MEMORY_NO_BUFFER);
}

TEST(XpMemoryFileTest, OpenForWritingEmptiesTheFile) {
  XpMemoryFile file;
  EXPECT_EQ(file.Open(XP_FILE_WRITE), XP_OK);  // no buffer yet: nothing to empty
  ASSERT_EQ(file.WriteText(L"hello"), XP_OK);
  EXPECT_EQ(file.Close(), XP_OK);
  EXPECT_EQ(file.GetSize(), 5);
  EXPECT_EQ(file.Open(XP_FILE_READ), XP_OK);
  EXPECT_EQ(file.GetSize(), 5);
  EXPECT_EQ(file.Open(XP_FILE_READ_WRITE), XP_OK);
  EXPECT_EQ(file.GetSize(), 0);
  EXPECT_EQ(file.Tell(), 0);
  EXPECT_EQ(file.GetOpenFlags(), XP_FILE_READ_WRITE);
}

TEST(XpMemoryFileTest, NameShowsThePaddedBufferAddress) {
  char data[4] = {'a', 'b', 'c', 'd'};
  XpMemoryFile file(data, 4, false);
  wchar_t expected[64];
  swprintf(expected, 64, L"Memory File(%32p)", static_cast<void*>(data));
  expected[63] = 0;
  EXPECT_EQ(file.GetName(), XpString(expected));
  EXPECT_EQ(file.GetName().GetLength(), 12 + 32 + 1);
  EXPECT_FALSE(file.IsReadOnly());
  EXPECT_FALSE(file.IsHidden());
  EXPECT_TRUE(file.IsFile());
  EXPECT_EQ(file.Flush(), XP_OK);
}

TEST(XpMemoryFileTest, BorrowedBufferIsNeverWrittenPastItsCapacity) {
  // Guard bytes behind the borrowed part must survive every write.
  char memory[16];
  std::memset(memory, '#', sizeof(memory));
  std::memcpy(memory, "abcdefgh", 8);
  XpMemoryFile file(memory, 8, XP_ORDER_BIG_ENDIAN, false);
  EXPECT_EQ(file.GetByteOrder(), XP_ORDER_BIG_ENDIAN);
  EXPECT_EQ(file.GetOwnership(), XP_MEMORY_BORROWED);
  EXPECT_EQ(file.GetCapacity(), 8u);

  // Inside the capacity writes go to the caller's memory.
  ASSERT_EQ(file.Seek(2, XP_SEEK_BEGIN), XP_OK);
  ASSERT_EQ(file.Write("XY", 2, nullptr), XP_OK);
  EXPECT_EQ(std::string(memory, 8), "abXYefgh");
  EXPECT_EQ(file.GetBuffer(), static_cast<void*>(memory));

  // Beyond it the contents move to an owned buffer.
  ASSERT_EQ(file.Seek(6, XP_SEEK_BEGIN), XP_OK);
  ASSERT_EQ(file.Write("0123", 4, nullptr), XP_OK);
  EXPECT_EQ(file.GetOwnership(), XP_MEMORY_OWNED);
  EXPECT_NE(file.GetBuffer(), static_cast<void*>(memory));
  EXPECT_EQ(file.GetCapacity(), 65536u);
  EXPECT_EQ(Contents(file), "abXYef0123");
  EXPECT_EQ(std::string(memory, 16), std::string("abXYefgh") + std::string(8, '#'));
  // Now owned: released memory is freed, nothing handed back.
  EXPECT_EQ(file.Release(), nullptr);
  EXPECT_EQ(file.GetOwnership(), XP_MEMORY_NO_BUFFER);
  EXPECT_EQ(file.GetSize(), 0);

  // SetLength past a borrowed capacity copies too; within it works in place.
  XpMemoryFile other(memory, 8, false);
  ASSERT_EQ(other.SetLength(4), XP_OK);
  EXPECT_EQ(other.GetBuffer(), static_cast<void*>(memory));
  ASSERT_EQ(other.SetLength(6), XP_OK);
  EXPECT_EQ(std::string(memory, 8), std::string("abXY\0\0gh", 8));
  ASSERT_EQ(other.SetLength(1000), XP_OK);
  EXPECT_EQ(other.GetOwnership(), XP_MEMORY_OWNED);
  EXPECT_EQ(other.GetSize(), 1000);
  EXPECT_EQ(std::string(memory + 8, 8), std::string(8, '#'));

  // A borrowed buffer is handed back by Release.
  XpMemoryFile third;
  third.Attach(memory, 8, false);
  EXPECT_EQ(third.Release(), static_cast<void*>(memory));
  EXPECT_EQ(third.GetBuffer(), nullptr);
}

TEST(XpMemoryFileTest, OwnedBuffersAreFreedByTheFile) {
  void* block = std::malloc(4);
  std::memcpy(block, "wxyz", 4);
  XpMemoryFile file(block, 4, true);
  EXPECT_EQ(file.GetOwnership(), XP_MEMORY_OWNED);
  EXPECT_EQ(Contents(file), "wxyz");
  // Growing an owned buffer resizes it.
  ASSERT_EQ(file.Seek(0, XP_SEEK_END), XP_OK);
  ASSERT_EQ(file.Write("!", 1, nullptr), XP_OK);
  EXPECT_EQ(Contents(file), "wxyz!");
  // Attaching another buffer frees the owned one first; Reset frees too.
  void* second = std::malloc(2);
  std::memcpy(second, "hi", 2);
  file.Attach(second, 2, true);
  EXPECT_EQ(Contents(file), "hi");
  EXPECT_EQ(file.Tell(), 0);
  file.Reset();
  EXPECT_EQ(file.GetBuffer(), nullptr);
  EXPECT_EQ(file.GetCapacity(), 0u);
  file.Attach(nullptr, 5, true);
  EXPECT_EQ(file.GetSize(), 0);
  EXPECT_EQ(file.GetOwnership(), XP_MEMORY_NO_BUFFER);
}

TEST(XpMemoryFileTest, LinesAndTypedValuesWorkOnMemory) {
  XpMemoryFile file;
  ASSERT_EQ(file.Open(XP_FILE_READ_WRITE | XP_FILE_TEXT), XP_OK);
  // A line longer than the first allocation step and the line buffers.
  std::wstring longLine(70000, L'k');
  ASSERT_EQ(file.WriteText(L"first\n"), XP_OK);
  ASSERT_EQ(file.WriteText(longLine.c_str()), XP_OK);
  ASSERT_EQ(file.WriteText(L"\na\rb\n"), XP_OK);
  ASSERT_EQ(file.WriteUInt16(0x1234, XP_ORDER_LITTLE_ENDIAN), XP_OK);
  EXPECT_EQ(file.GetSize(), 6 + 1 + 70000 + 1 + 5 + 1 + 2);
  EXPECT_EQ(file.GetCapacity(), 131072u);

  ASSERT_EQ(file.Seek(0, XP_SEEK_BEGIN), XP_OK);
  XpString line;
  ASSERT_EQ(file.ReadLine(line), XP_OK);
  EXPECT_EQ(line, XpString(L"first"));
  ASSERT_EQ(file.ReadLine(line), XP_OK);
  EXPECT_EQ(line.GetLength(), 70000);
  EXPECT_EQ(line, XpString(longLine.c_str()));
  ASSERT_EQ(file.ReadLine(line), XP_OK);
  EXPECT_EQ(line, XpString(L"a\rb"));
  std::uint16_t v = 0;
  ASSERT_EQ(file.ReadUInt16(&v, XP_ORDER_KEEP), XP_OK);
  EXPECT_EQ(v, 0x1234);
  EXPECT_EQ(file.ReadLine(line), XP_E_FILE_EOF);

  // A CR at the very end stays a CR.
  XpMemoryFile tail;
  ASSERT_EQ(tail.Open(XP_FILE_READ_WRITE | XP_FILE_TEXT), XP_OK);
  ASSERT_EQ(tail.Write("x\r", 2, nullptr), XP_OK);
  ASSERT_EQ(tail.Seek(0, XP_SEEK_BEGIN), XP_OK);
  ASSERT_EQ(tail.ReadLine(line), XP_OK);
  EXPECT_EQ(line, XpString(L"x\r"));
}

TEST(XpMemoryFileTest, TimesFollowTheOperations) {
  XpMemoryFile file;
  XpDateTime created, written, accessed;
  ASSERT_EQ(file.GetTimes(&created, &written, &accessed), XP_OK);
  EXPECT_TRUE(created.IsValid());
  EXPECT_TRUE(written.IsValid());
  EXPECT_TRUE(accessed.IsValid());
  EXPECT_EQ(file.GetTimes(nullptr, nullptr, nullptr), XP_OK);
  EXPECT_EQ(file.SetTimes(&created, nullptr, nullptr), XP_E_NOT_SUPPORTED);
  file.lastWriteTime = XpDateTime(2000, 1, 1, 0, 0, 0);
  ASSERT_EQ(file.Write("x", 1, nullptr), XP_OK);
  EXPECT_GT(file.GetLastWriteTime().GetYear(), 2000);
}

}  // namespace
