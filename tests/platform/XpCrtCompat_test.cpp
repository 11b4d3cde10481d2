// The fallbacks used where msvcrt.dll lacks a call, compared with the
// run-time's own calls (present under Wine and on every newer Windows).
#include "platform/XpCrtCompat.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::wstring TempFolder() {
  wchar_t path[MAX_PATH];
  GetTempPathW(MAX_PATH, path);
  return path;
}

TEST(XpCrtCompatTime, ClockAndLocalTimeAgreeWithTheRunTime) {
  __time64_t mine = 0;
  __time64_t now = XpCrtCompat::Time64(&mine);
  EXPECT_EQ(now, mine);
  EXPECT_LE(_abs64(now - _time64(nullptr)), 2);

  // A winter and a summer date: daylight saving time follows the system's rules.
  for (__time64_t t : {__time64_t(1700000000), __time64_t(1690000000), __time64_t(0)}) {
    struct tm expected = *_localtime64(&t);
    struct tm* got = XpCrtCompat::LocalTime64(&t);
    ASSERT_NE(nullptr, got) << t;
    EXPECT_EQ(expected.tm_year, got->tm_year);
    EXPECT_EQ(expected.tm_yday, got->tm_yday);
    EXPECT_EQ(expected.tm_hour, got->tm_hour);
    EXPECT_EQ(expected.tm_isdst, got->tm_isdst);
    struct tm parts = *got;
    EXPECT_EQ(t, XpCrtCompat::MkTime64(&parts));
  }
}

TEST(XpCrtCompatTime, OutsideTheThirtyTwoBitRangeFailsCleanly) {
  __time64_t late = 0x80000000LL;
  __time64_t early = -1;
  EXPECT_EQ(nullptr, XpCrtCompat::LocalTime64(&late));
  EXPECT_EQ(nullptr, XpCrtCompat::LocalTime64(&early));
  EXPECT_EQ(nullptr, XpCrtCompat::LocalTime64(nullptr));
  struct tm distant = {};
  distant.tm_year = 2100 - 1900;
  distant.tm_mday = 1;
  EXPECT_EQ(-1, XpCrtCompat::MkTime64(&distant));
  EXPECT_EQ(-1, XpCrtCompat::MkTime64(nullptr));
}

TEST(XpCrtCompatStat, FileAndFolderAsTheRunTimeReportsThem) {
  std::wstring file = TempFolder() + L"xp_crt_compat_stat.bin";
  FILE* f = _wfopen(file.c_str(), L"wb");
  ASSERT_NE(nullptr, f);
  fputs("twelve bytes", f);
  fclose(f);
  SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);

  struct _stat64 expected, got;
  ASSERT_EQ(0, _wstat64(file.c_str(), &expected));
  ASSERT_EQ(0, XpCrtCompat::WStat64(file.c_str(), &got));
  EXPECT_EQ(12, got.st_size);
  EXPECT_EQ(expected.st_size, got.st_size);
  EXPECT_EQ(expected.st_mode & (_S_IFMT | _S_IWRITE | _S_IREAD),
            got.st_mode & (_S_IFMT | _S_IWRITE | _S_IREAD));
  EXPECT_EQ(expected.st_mtime, got.st_mtime);
  SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(file.c_str());

  std::wstring folder = TempFolder();
  ASSERT_EQ(0, XpCrtCompat::WStat64(folder.c_str(), &got));
  EXPECT_EQ(_S_IFDIR, got.st_mode & _S_IFMT);

  errno = 0;
  EXPECT_EQ(-1, XpCrtCompat::WStat64((folder + L"no such file").c_str(), &got));
  EXPECT_EQ(ENOENT, errno);
  EXPECT_EQ(-1, XpCrtCompat::WStat64(nullptr, &got));
}

TEST(XpCrtCompatText, NumbersAndFormattingLength) {
  EXPECT_DOUBLE_EQ(2.5, XpCrtCompat::WToF(L"2.5xyz"));
  EXPECT_DOUBLE_EQ(0.0, XpCrtCompat::WToF(L"abc"));
  EXPECT_DOUBLE_EQ(0.0, XpCrtCompat::WToF(nullptr));
}

}  // namespace
