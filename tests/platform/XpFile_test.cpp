#include "platform/XpFile.h"

#include <windows.h>

#include <errno.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/platform/XpFsTestSupport.h"

namespace {

// Each test works in its own scratch folder under the temporary directory.
class XpFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(scratch.Path().empty()); }

  XpString Path(const wchar_t* name) const { return XpString(scratch.Sub(name).c_str()); }

  void Put(const wchar_t* name, const std::string& bytes) { ASSERT_TRUE(scratch.Write(name, bytes)); }

  std::string Get(const wchar_t* name) { return scratch.Exists(name) ? scratch.Read(name) : "<missing>"; }

  FILETIME LastWrite(const wchar_t* name) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(Path(name).c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
  }

  XpScratchFolder scratch;
};

bool SameFileTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Reads every character with ReadChar until the end.
std::wstring ReadAllChars(XpAbstractFile& file) {
  std::wstring text;
  wchar_t c = 0;
  while (file.ReadChar(&c) == XP_OK) text += c;
  return text;
}

TEST_F(XpFileTest, OpenModesAndStateErrors) {
  XpFile file(Path(L"a.bin"));
  EXPECT_EQ(file.Open(XP_FILE_TEXT), XP_E_FILE_BAD_ARGUMENT);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Open(XP_FILE_READ), XP_E_FILE_NOT_FOUND);

  // Operations on a closed file.
  char byte = 'x';
  std::uint64_t n = 99;
  EXPECT_EQ(file.Read(&byte, 1, &n), XP_E_FILE_NOT_ACTIVE);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(file.Write(&byte, 1, nullptr), XP_E_FILE_NOT_ACTIVE);
  EXPECT_EQ(file.Seek(0, XP_SEEK_BEGIN), XP_E_FILE_NOT_ACTIVE);
  EXPECT_EQ(file.SetLength(0), XP_E_FILE_NOT_ACTIVE);
  EXPECT_EQ(file.Tell(), -1);
  EXPECT_EQ(file.Close(), XP_E_FILE_NOT_OPEN);
  EXPECT_EQ(file.GetSize(), -1);

  // Write only creates a missing file; opening it again is refused.
  ASSERT_EQ(file.Open(XP_FILE_WRITE), XP_OK);
  EXPECT_EQ(file.Open(XP_FILE_WRITE), XP_E_FILE_ALREADY_OPEN);
  EXPECT_EQ(file.Read(nullptr, 1, nullptr), XP_E_FILE_BAD_ARGUMENT);
  EXPECT_EQ(file.Write(&byte, 0, nullptr), XP_E_FILE_BAD_ARGUMENT);
  EXPECT_EQ(file.WriteText(L"hello"), XP_OK);
  EXPECT_EQ(file.GetSize(), 5);
  EXPECT_EQ(file.Close(), XP_OK);
  EXPECT_EQ(Get(L"a.bin"), "hello");
  EXPECT_EQ(file.GetSize(), 5);
  EXPECT_EQ(file.GetName(), XpString(L"a"));
  EXPECT_TRUE(file.IsFile());
  EXPECT_FALSE(file.IsDirectory());

  // Write only truncates an existing file.
  ASSERT_EQ(file.Open(XP_FILE_WRITE), XP_OK);
  EXPECT_EQ(file.WriteText(L"ab"), XP_OK);
  ASSERT_EQ(file.Close(), XP_OK);
  EXPECT_EQ(Get(L"a.bin"), "ab");

  // Read and write keeps the contents and creates a missing file.
  ASSERT_EQ(file.Open(XP_FILE_READ_WRITE | XP_FILE_RANDOM_ACCESS), XP_OK);
  EXPECT_EQ(file.Seek(0, XP_SEEK_END), XP_OK);
  EXPECT_EQ(file.WriteText(L"cd"), XP_OK);
  ASSERT_EQ(file.Close(), XP_OK);
  EXPECT_EQ(Get(L"a.bin"), "abcd");
  XpFile fresh(Path(L"new.bin"));
  ASSERT_EQ(fresh.Open(XP_FILE_READ_WRITE | XP_FILE_SEQUENTIAL_SCAN), XP_OK);
  EXPECT_EQ(fresh.GetSize(), 0);
  EXPECT_EQ(fresh.Close(), XP_OK);
  EXPECT_EQ(Get(L"new.bin"), "");

  // Opening in a missing folder fails with a mapped code, also for writing.
  XpFile nowhere(Path(L"missing\\x.bin"));
  EXPECT_EQ(nowhere.Open(XP_FILE_READ), XP_E_PATH_NOT_FOUND);
  EXPECT_NE(nowhere.Open(XP_FILE_WRITE), XP_OK);
  EXPECT_EQ(nowhere.Open(XP_FILE_READ_WRITE), XP_E_CREATE_FAILED);

  // Read sharing only: a second writer is kept out while the file is open.
  XpFile reader(Path(L"a.bin"));
  ASSERT_EQ(reader.Open(XP_FILE_READ), XP_OK);
  XpFile writer(Path(L"a.bin"));
  EXPECT_NE(writer.Open(XP_FILE_WRITE), XP_OK);
  EXPECT_EQ(writer.GetSize(), 4);
}

TEST_F(XpFileTest, OpenPathAndSetPathClosing) {
  Put(L"one.txt", "1");
  Put(L"two.txt", "22");
  XpFile file;
  ASSERT_EQ(file.OpenPath(Path(L"one.txt"), XP_FILE_READ), XP_OK);
  EXPECT_EQ(file.GetSize(), 1);
  ASSERT_EQ(file.OpenPath(Path(L"two.txt"), XP_FILE_READ), XP_OK);
  EXPECT_EQ(file.GetSize(), 2);
  EXPECT_EQ(file.GetPathCopy(), Path(L"two.txt"));
  EXPECT_EQ(file.SetPathClosing(Path(L"one.txt")), XP_OK);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.GetPath(), Path(L"one.txt"));
}

TEST_F(XpFileTest, ShortReadsReportEndOfFileWithTheBytesRead) {
  Put(L"r.bin", "0123456789");
  XpFile file(Path(L"r.bin"));
  ASSERT_EQ(file.Open(XP_FILE_READ), XP_OK);
  ASSERT_EQ(file.Seek(-4, XP_SEEK_END), XP_OK);
  char buffer[16] = {};
  std::uint64_t n = 0;
  EXPECT_EQ(file.Read(buffer, 10, &n), XP_E_FILE_EOF);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_EQ(file.Read(buffer, 1, &n), XP_E_FILE_EOF);
  EXPECT_EQ(n, 0u);
  wchar_t c = 0;
  EXPECT_EQ(file.ReadChar(&c), XP_E_FILE_EOF);

  // Seek origins, an unknown one counting from the start.
  EXPECT_EQ(file.Seek(3, 7), XP_OK);
  EXPECT_EQ(file.Tell(), 3);
  EXPECT_EQ(file.Seek(2, XP_SEEK_CURRENT), XP_OK);
  EXPECT_EQ(file.Tell(), 5);
  EXPECT_NE(file.Seek(-20, XP_SEEK_CURRENT), XP_OK);
}

TEST_F(XpFileTest, TypedValuesInBothByteOrders) {
  Put(L"o.bin", std::string("\x12\x34\x56\x78", 4));
  {
    XpFile file(Path(L"o.bin"));
    ASSERT_EQ(file.Open(XP_FILE_READ), XP_OK);
    std::uint32_t v = 0;
    ASSERT_EQ(file.ReadUInt32(&v, XP_ORDER_BIG_ENDIAN), XP_OK);
    EXPECT_EQ(v, 0x12345678u);
    ASSERT_EQ(file.Seek(0, XP_SEEK_BEGIN), XP_OK);
    ASSERT_EQ(file.ReadUInt32(&v, XP_ORDER_LITTLE_ENDIAN), XP_OK);
    EXPECT_EQ(v, 0x78563412u);
    // Order 3 keeps the order just set.
    ASSERT_EQ(file.Seek(0, XP_SEEK_BEGIN), XP_OK);
    ASSERT_EQ(file.ReadUInt32(&v, XP_ORDER_KEEP), XP_OK);
    EXPECT_EQ(v, 0x78563412u);
    EXPECT_EQ(file.GetByteOrder(), XP_ORDER_LITTLE_ENDIAN);
  }
  {
    // A file whose order was never set reads swapped values.
    XpFile file(Path(L"o.bin"));
    EXPECT_EQ(file.GetByteOrder(), XP_ORDER_NOT_SET);
    EXPECT_EQ(file.GetHostOrder(), XP_ORDER_LITTLE_ENDIAN);
    ASSERT_EQ(file.Open(XP_FILE_READ), XP_OK);
    std::uint32_t v = 0;
    ASSERT_EQ(file.ReadUInt32(&v, XP_ORDER_KEEP), XP_OK);
    EXPECT_EQ(v, 0x12345678u);
    // Not enough bytes left: the value is left alone.
    ASSERT_EQ(file.Seek(-2, XP_SEEK_END), XP_OK);
    v = 7;
    EXPECT_EQ(file.ReadUInt32(&v, XP_ORDER_KEEP), XP_E_FILE_EOF);
    EXPECT_EQ(v, 7u);
    // Orders outside 1..3 are refused before anything is read.
    ASSERT_EQ(file.Seek(0, XP_SEEK_BEGIN), XP_OK);
    EXPECT_EQ(file.ReadUInt32(&v, 0), XP_E_FAIL);
    EXPECT_EQ(file.ReadUInt32(&v, 4), XP_E_FAIL);
    EXPECT_EQ(file.Tell(), 0);
    EXPECT_EQ(file.ReadUInt32(nullptr, XP_ORDER_KEEP), XP_E_FILE_BAD_ARGUMENT);
  }

  // Every width and both forms, written and read back in each order.
  XpFile file(Path(L"w.bin"), XP_ORDER_BIG_ENDIAN);
  EXPECT_EQ(file.GetByteOrder(), XP_ORDER_BIG_ENDIAN);
  ASSERT_EQ(file.Open(XP_FILE_READ_WRITE), XP_OK);
  EXPECT_EQ(file.WriteUInt64(0x0102030405060708ull, XP_ORDER_KEEP), XP_OK);
  EXPECT_EQ(file.WriteInt32(-2, XP_ORDER_BIG_ENDIAN), XP_OK);
  EXPECT_EQ(file.WriteUInt16(0xA1B2, XP_ORDER_LITTLE_ENDIAN), XP_OK);
  EXPECT_EQ(file.WriteInt16(-300, XP_ORDER_BIG_ENDIAN), XP_OK);
  EXPECT_EQ(file.WriteUInt8(0xFE, XP_ORDER_KEEP), XP_OK);
  EXPECT_EQ(file.WriteInt8(-1, XP_ORDER_KEEP), XP_OK);
  EXPECT_EQ(file.WriteInt64(-5, XP_ORDER_LITTLE_ENDIAN), XP_OK);
  EXPECT_EQ(file.WriteUInt32(0xDEADBEEF, XP_ORDER_LITTLE_ENDIAN), XP_OK);
  EXPECT_EQ(file.WriteInt32(0x11223344, 9), XP_E_FAIL);
  ASSERT_EQ(file.Close(), XP_OK);
  EXPECT_EQ(Get(L"w.bin"), std::string("\x01\x02\x03\x04\x05\x06\x07\x08"
                                       "\xFF\xFF\xFF\xFE"
                                       "\xB2\xA1"
                                       "\xFE\xD4"
                                       "\xFE\xFF"
                                       "\xFB\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
                                       "\xEF\xBE\xAD\xDE",
                                       30));

  ASSERT_EQ(file.Open(XP_FILE_READ), XP_OK);
  std::uint64_t u64 = 0;
  std::int32_t i32 = 0;
  std::uint16_t u16 = 0;
  std::int16_t i16 = 0;
  std::uint8_t u8 = 0;
  std::int8_t i8 = 0;
  std::int64_t i64 = 0;
  std::uint32_t u32 = 0;
  EXPECT_EQ(file.ReadUInt64(&u64, XP_ORDER_BIG_ENDIAN), XP_OK);
  EXPECT_EQ(file.ReadInt32(&i32, XP_ORDER_KEEP), XP_OK);
  EXPECT_EQ(file.ReadUInt16(&u16, XP_ORDER_LITTLE_ENDIAN), XP_OK);
  EXPECT_EQ(file.ReadInt16(&i16, XP_ORDER_BIG_ENDIAN), XP_OK);
  EXPECT_EQ(file.ReadUInt8(&u8, XP_ORDER_KEEP), XP_OK);
  EXPECT_EQ(file.ReadInt8(&i8, XP_ORDER_KEEP), XP_OK);
  EXPECT_EQ(file.ReadInt64(&i64, XP_ORDER_LITTLE_ENDIAN), XP_OK);
  EXPECT_EQ(file.ReadUInt32(&u32, XP_ORDER_KEEP), XP_OK);
  EXPECT_EQ(u64, 0x0102030405060708ull);
  EXPECT_EQ(i32, -2);
  EXPECT_EQ(u16, 0xA1B2);
  EXPECT_EQ(i16, -300);
  EXPECT_EQ(u8, 0xFE);
  EXPECT_EQ(i8, -1);
  EXPECT_EQ(i64, -5);
  EXPECT_EQ(u32, 0xDEADBEEFu);
  EXPECT_EQ(file.ReadUInt8(&u8, XP_ORDER_KEEP), XP_E_FILE_EOF);
}

TEST_F(XpFileTest, TextModeLineEndings) {
  Put(L"t.txt", "a\r\nb|a\rb|a\nb|\r\r\n|z\r");
  XpFile file(Path(L"t.txt"));
  ASSERT_EQ(file.Open(XP_FILE_READ | XP_FILE_TEXT), XP_OK);
  EXPECT_EQ(ReadAllChars(file), std::wstring(L"a\nb|a\rb|a\nb|\r\n|z\r"));
  ASSERT_EQ(file.Close(), XP_OK);

  // Binary mode hands the bytes through.
  ASSERT_EQ(file.Open(XP_FILE_READ), XP_OK);
  EXPECT_EQ(ReadAllChars(file), std::wstring(L"a\r\nb|a\rb|a\nb|\r\r\n|z\r"));
  ASSERT_EQ(file.Close(), XP_OK);

  // Text mode writes LF as CR LF and leaves a lone CR alone.
  XpFile out(Path(L"w.txt"));
  ASSERT_EQ(out.Open(XP_FILE_WRITE | XP_FILE_TEXT), XP_OK);
  EXPECT_EQ(out.WriteText(L"x\ny\rz\n"), XP_OK);
  EXPECT_EQ(out.WriteChar(L'\n'), XP_OK);
  EXPECT_EQ(out.WriteText(nullptr), XP_E_FILE_BAD_ARGUMENT);
  ASSERT_EQ(out.Close(), XP_OK);
  EXPECT_EQ(Get(L"w.txt"), "x\r\ny\rz\r\n\r\n");
  ASSERT_EQ(out.Open(XP_FILE_WRITE), XP_OK);
  EXPECT_EQ(out.WriteText(L"x\n"), XP_OK);
  ASSERT_EQ(out.Close(), XP_OK);
  EXPECT_EQ(Get(L"w.txt"), "x\n");
}

TEST_F(XpFileTest, AnsiCharactersRoundTrip) {
  XpFile file(Path(L"c.txt"));
  ASSERT_EQ(file.Open(XP_FILE_READ_WRITE), XP_OK);
  const wchar_t text[] = L"Gr\u00fc\u00dfe \u00e9";
  EXPECT_EQ(file.WriteText(text), XP_OK);
  ASSERT_EQ(file.Seek(0, XP_SEEK_BEGIN), XP_OK);
  XpString line;
  ASSERT_EQ(file.ReadLine(line), XP_OK);
  EXPECT_EQ(line, XpString(text));
  ASSERT_EQ(file.Close(), XP_OK);
  if (GetACP() == 1252) {
    EXPECT_EQ(Get(L"c.txt"),
              "Gr\xfc\xdf"
              "e \xe9");
  }
}

TEST_F(XpFileTest, ReadLineIntoBuffer) {
  Put(L"l.txt", "abcde\r\nxy\n\nlast");
  XpFile file(Path(L"l.txt"));
  ASSERT_EQ(file.Open(XP_FILE_READ | XP_FILE_TEXT), XP_OK);
  wchar_t buffer[8];
  EXPECT_EQ(file.ReadLine(nullptr, 8), XP_E_FILE_BAD_ARGUMENT);
  EXPECT_EQ(file.ReadLine(buffer, 1), XP_E_FILE_BAD_ARGUMENT);
  // Four characters of room for a line of five: three characters and the terminator.
  wmemset(buffer, L'#', 8);
  EXPECT_EQ(file.ReadLine(buffer, 4), XP_E_FILE_BUFFER_TOO_SMALL);
  EXPECT_STREQ(buffer, L"abc");
  EXPECT_EQ(buffer[4], L'#');
  // The rest of the line comes next.
  EXPECT_EQ(file.ReadLine(buffer, 8), XP_OK);
  EXPECT_STREQ(buffer, L"de");
  EXPECT_EQ(file.ReadLine(buffer, 8), XP_OK);
  EXPECT_STREQ(buffer, L"xy");
  EXPECT_EQ(file.ReadLine(buffer, 8), XP_OK);
  EXPECT_STREQ(buffer, L"");
  // The last line needs no LF.
  EXPECT_EQ(file.ReadLine(buffer, 8), XP_OK);
  EXPECT_STREQ(buffer, L"last");
  EXPECT_EQ(file.ReadLine(buffer, 8), XP_E_FILE_EOF);
  EXPECT_STREQ(buffer, L"");
}

TEST_F(XpFileTest, ReadLineIntoStringTakesLinesOfAnyLength) {
  std::string line1000(1000, 'q');
  std::string line5000;
  for (int i = 0; i < 5000; ++i) line5000 += static_cast<char>('a' + i % 26);
  std::string line511(511, 'm');  // one short of the first step
  std::string line512(512, 'n');
  Put(L"long.txt", line1000 + "\r\n" + line5000 + "\n" + line511 + "\n" + line512 + "\r\nend");
  XpFile file(Path(L"long.txt"));
  ASSERT_EQ(file.Open(XP_FILE_READ | XP_FILE_TEXT), XP_OK);
  XpString line;
  ASSERT_EQ(file.ReadLine(line), XP_OK);
  EXPECT_EQ(line, XpString(XpStringA(line1000.c_str())));
  ASSERT_EQ(file.ReadLine(line), XP_OK);
  EXPECT_EQ(line.GetLength(), 5000);
  EXPECT_EQ(line, XpString(XpStringA(line5000.c_str())));
  ASSERT_EQ(file.ReadLine(line), XP_OK);
  EXPECT_EQ(line, XpString(XpStringA(line511.c_str())));
  ASSERT_EQ(file.ReadLine(line), XP_OK);
  EXPECT_EQ(line, XpString(XpStringA(line512.c_str())));
  ASSERT_EQ(file.ReadLine(line), XP_OK);
  EXPECT_EQ(line, XpString(L"end"));
  // At the end the string keeps what it had.
  EXPECT_EQ(file.ReadLine(line), XP_E_FILE_EOF);
  EXPECT_EQ(line, XpString(L"end"));
}

TEST_F(XpFileTest, SetLengthKeepsOrClampsThePosition) {
  Put(L"s.bin", "0123456789");
  XpFile file(Path(L"s.bin"));
  ASSERT_EQ(file.Open(XP_FILE_READ_WRITE), XP_OK);
  ASSERT_EQ(file.Seek(8, XP_SEEK_BEGIN), XP_OK);
  // Shorter than the position: the position is the new end.
  ASSERT_EQ(file.SetLength(4), XP_OK);
  EXPECT_EQ(file.GetSize(), 4);
  EXPECT_EQ(file.Tell(), 4);
  // Longer: the position stays.
  ASSERT_EQ(file.Seek(2, XP_SEEK_BEGIN), XP_OK);
  ASSERT_EQ(file.SetLength(100), XP_OK);
  EXPECT_EQ(file.GetSize(), 100);
  EXPECT_EQ(file.Tell(), 2);
  // Equal to the position: stays too.
  ASSERT_EQ(file.SetLength(2), XP_OK);
  EXPECT_EQ(file.Tell(), 2);
  EXPECT_EQ(file.SetLength(0xFFFFFFFFFFFFFFFFull), XP_E_FILE_BAD_ARGUMENT);
  ASSERT_EQ(file.Close(), XP_OK);
  EXPECT_EQ(Get(L"s.bin"), "01");

  XpFile reader(Path(L"s.bin"));
  ASSERT_EQ(reader.Open(XP_FILE_READ), XP_OK);
  EXPECT_NE(reader.SetLength(0), XP_OK);
  EXPECT_EQ(reader.GetSize(), 2);
}

TEST_F(XpFileTest, TimesOfAnOpenFileApplyAtClose) {
  Put(L"t.bin", "data");
  XpDateTime when(2001, 2, 3, 4, 5, 6);
  ASSERT_TRUE(when.IsValid());
  FILETIME expected = when.ToFileTime();
  FILETIME before = LastWrite(L"t.bin");
  ASSERT_FALSE(SameFileTime(before, expected));

  XpFile file(Path(L"t.bin"));
  ASSERT_EQ(file.Open(XP_FILE_READ), XP_OK);
  ASSERT_EQ(file.SetTimes(nullptr, &when, nullptr), XP_OK);
  EXPECT_TRUE(SameFileTime(LastWrite(L"t.bin"), before));
  ASSERT_EQ(file.Close(), XP_OK);
  EXPECT_TRUE(SameFileTime(LastWrite(L"t.bin"), expected));
  XpDateTime read = file.GetLastWriteTime();
  EXPECT_EQ(read.GetYear(), 2001);
  EXPECT_EQ(read.GetMonth(), 2);
  EXPECT_EQ(read.GetDay(), 3);

  // A closed file gets the times at once; a later pending value replaces it.
  XpDateTime other(2010, 7, 8, 9, 10, 12);
  XpFile closed(Path(L"t.bin"));
  ASSERT_EQ(closed.SetTimes(&other, &other, &other), XP_OK);
  EXPECT_TRUE(SameFileTime(LastWrite(L"t.bin"), other.ToFileTime()));

  // Invalid times are left alone.
  XpDateTime invalid(10000, 1, 1, 0, 0, 0);
  ASSERT_FALSE(invalid.IsValid());
  ASSERT_EQ(closed.SetTimes(nullptr, &invalid, nullptr), XP_OK);
  EXPECT_TRUE(SameFileTime(LastWrite(L"t.bin"), other.ToFileTime()));

  // The destructor closes and applies as well.
  {
    XpFile scoped(Path(L"t.bin"));
    ASSERT_EQ(scoped.Open(XP_FILE_READ_WRITE), XP_OK);
    ASSERT_EQ(scoped.SetTimes(nullptr, &when, nullptr), XP_OK);
  }
  EXPECT_TRUE(SameFileTime(LastWrite(L"t.bin"), expected));

  XpFile missing(Path(L"none.bin"));
  EXPECT_EQ(missing.SetTimes(nullptr, &when, nullptr), XP_E_FILE_NOT_FOUND);
  XpDateTime t;
  EXPECT_EQ(missing.GetTimes(&t, nullptr, nullptr), XP_E_FILE_NOT_FOUND);
}

TEST_F(XpFileTest, AttributesOfThePath) {
  Put(L"attr.bin", "x");
  XpFile file(Path(L"attr.bin"));
  EXPECT_FALSE(file.IsReadOnly());
  EXPECT_FALSE(file.IsHidden());
  ASSERT_TRUE(SetFileAttributesW(Path(L"attr.bin").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_TRUE(file.IsReadOnly());
  EXPECT_TRUE(file.IsHidden());
  XpFile missing(Path(L"none.bin"));
  EXPECT_FALSE(missing.IsReadOnly());
}

TEST(XpResultFromErrnoTest, MapsTheRunTimeErrors) {
  EXPECT_EQ(XpResultFromErrno(ENOENT, true), XP_E_FILE_NOT_FOUND);
  EXPECT_EQ(XpResultFromErrno(ENOENT, false), XP_E_CREATE_FAILED);
  EXPECT_EQ(XpResultFromErrno(EBADF, false), XP_E_ACCESS_DENIED);
  EXPECT_EQ(XpResultFromErrno(EACCES, true), XP_E_ACCESS_DENIED);
  EXPECT_EQ(XpResultFromErrno(EROFS, true), XP_E_ACCESS_DENIED);
  EXPECT_EQ(XpResultFromErrno(EEXIST, false), XP_E_ALREADY_EXISTS);
  EXPECT_EQ(XpResultFromErrno(ENOTDIR, false), XP_E_FILE_NOT_ACTIVE);
  EXPECT_EQ(XpResultFromErrno(EISDIR, false), XP_E_FILE_NOT_ACTIVE);
  EXPECT_EQ(XpResultFromErrno(38, false), XP_E_FILE_NOT_ACTIVE);
  EXPECT_EQ(XpResultFromErrno(EINVAL, false), XP_E_FILE_BAD_ARGUMENT);
  EXPECT_EQ(XpResultFromErrno(EMFILE, false), XP_E_TOO_MANY_OPEN_FILES);
  EXPECT_EQ(XpResultFromErrno(ENOSPC, false), XP_E_DISK_FULL);
  EXPECT_EQ(XpResultFromErrno(EPIPE, false), XP_E_FILE);
}

}  // namespace
