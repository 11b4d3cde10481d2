#include "platform/XpDateTime.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <clocale>
#include <cmath>

#include "platform/XpThread.h"

namespace XpDateTimeDetail {
double _ApplyZoneBias(double utc, int month, int day, const TIME_ZONE_INFORMATION& tz);
}

namespace {

struct P {
  int y, mo, d, h, mi, s;
};

void ExpectParts(const XpDateTime& t, const P& p, int dayOfWeek) {
  int y, mo, d, h, mi, s, w;
  ASSERT_TRUE(t.GetParts(y, mo, d, h, mi, s, w)) << t.GetValue();
  EXPECT_EQ(p.y, y);
  EXPECT_EQ(p.mo, mo);
  EXPECT_EQ(p.d, d);
  EXPECT_EQ(p.h, h);
  EXPECT_EQ(p.mi, mi);
  EXPECT_EQ(p.s, s);
  if (dayOfWeek >= 0) {
    EXPECT_EQ(dayOfWeek, w);
  }
}

// Restores the caller's rounding mode after a test computes like a worker thread.
class RoundTowardZeroScope {
 public:
  RoundTowardZeroScope() : m_saved(std::fegetround()), m_control(_control87(0, 0)) { XpSetRoundTowardZero(); }
  ~RoundTowardZeroScope() {
    std::fesetround(m_saved);
    _control87(m_control, _MCW_RC);
  }

 private:
  int m_saved;
  unsigned int m_control;
};

}  // namespace

TEST(XpDateTime, KnownValuesFromParts) {
  EXPECT_EQ(0.0, XpDateTime(1899, 12, 30, 0, 0, 0).GetValue());
  EXPECT_EQ(2.5, XpDateTime(1900, 1, 1, 12, 0, 0).GetValue());
  EXPECT_EQ(1.0, XpDateTime(1899, 12, 31).GetValue());
  // Before day 0 the integer part counts back and the fraction runs forward.
  EXPECT_EQ(-1.25, XpDateTime(1899, 12, 29, 6, 0, 0).GetValue());
  EXPECT_EQ(-657434.0, XpDateTime(100, 1, 1).GetValue());
  XpDateTime top(9999, 12, 31, 23, 59, 59);
  EXPECT_TRUE(top.IsValid());
  EXPECT_NEAR(2958465.999988426, top.GetValue(), 1e-9);
}

TEST(XpDateTime, RangeEndsAndBadParts) {
  EXPECT_TRUE(XpDateTime(9999, 12, 31, 23, 59, 59).IsValid());
  EXPECT_FALSE(XpDateTime(10000, 1, 1).IsValid());
  EXPECT_TRUE(XpDateTime(100, 1, 1).IsValid());
  // The whole first day of the range is valid, not only its first instant.
  EXPECT_TRUE(XpDateTime(100, 1, 1, 23, 59, 59).IsValid());
  EXPECT_FALSE(XpDateTime(99, 12, 31, 23, 59, 59).IsValid());
  EXPECT_FALSE(XpDateTime(2007, 0, 1).IsValid());
  EXPECT_FALSE(XpDateTime(2007, 13, 1).IsValid());
  EXPECT_FALSE(XpDateTime(2007, 4, 31).IsValid());
  EXPECT_FALSE(XpDateTime(2007, 4, 0).IsValid());
  EXPECT_FALSE(XpDateTime(2007, 4, 1, 24, 0, 0).IsValid());
  EXPECT_FALSE(XpDateTime(2007, 4, 1, 0, 60, 0).IsValid());
  EXPECT_FALSE(XpDateTime(2007, 4, 1, 0, 0, 60).IsValid());
  EXPECT_FALSE(XpDateTime(2007, 4, 1, -1, 0, 0).IsValid());

  EXPECT_TRUE(XpDateTime(-657434.0).IsValid());
  EXPECT_FALSE(XpDateTime(-657435.0).IsValid());
  EXPECT_TRUE(XpDateTime(2958465.999988426).IsValid());
  EXPECT_FALSE(XpDateTime(2958466.0).IsValid());
  EXPECT_FALSE(XpDateTime(std::nan("")).IsValid());

  XpDateTime invalid(3000000.0);
  int y, mo, d, h, mi, s, w;
  EXPECT_FALSE(invalid.GetParts(y, mo, d, h, mi, s, w));
  EXPECT_EQ(-1, y);
  EXPECT_EQ(-1, w);
  EXPECT_EQ(-1, invalid.GetYear());
  EXPECT_EQ(-1, invalid.GetMonth());
  EXPECT_EQ(-1, invalid.GetDay());
  EXPECT_EQ(-1, invalid.GetHour());
  EXPECT_EQ(-1, invalid.GetMinute());
  EXPECT_EQ(-1, invalid.GetSecond());
  EXPECT_EQ(-1, invalid.GetDayOfWeek());
  EXPECT_EQ(-1, invalid.GetDayOfYear());
  EXPECT_TRUE(invalid.FormatDate(0).IsEmpty());
  EXPECT_TRUE(invalid.FormatTime(2, false).IsEmpty());
  EXPECT_EQ(0, invalid.ToTime64());
  FILETIME ft = invalid.ToFileTime();
  EXPECT_EQ(0u, ft.dwLowDateTime | ft.dwHighDateTime);
}

TEST(XpDateTime, LeapYears) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2004));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2007));
  EXPECT_TRUE(IsLeapYear(400));
  EXPECT_EQ(29, DaysInMonth(2000, 2));
  EXPECT_EQ(28, DaysInMonth(1900, 2));
  EXPECT_EQ(31, DaysInMonth(1900, 12));
  EXPECT_EQ(0, DaysInMonth(1900, 13));
  EXPECT_TRUE(XpDateTime(2000, 2, 29).IsValid());
  EXPECT_FALSE(XpDateTime(1900, 2, 29).IsValid());
  EXPECT_FALSE(XpDateTime(2100, 2, 29).IsValid());
  ExpectParts(XpDateTime(2000, 2, 29, 1, 2, 3), P{2000, 2, 29, 1, 2, 3}, 2);
  ExpectParts(XpDateTime(2000, 3, 1), P{2000, 3, 1, 0, 0, 0}, 3);
  EXPECT_EQ(60, XpDateTime(2000, 2, 29).GetDayOfYear());
  EXPECT_EQ(61, XpDateTime(2000, 3, 1).GetDayOfYear());
  EXPECT_EQ(60, XpDateTime(2001, 3, 1).GetDayOfYear());
  EXPECT_EQ(366, XpDateTime(2000, 12, 31).GetDayOfYear());
  EXPECT_EQ(1, XpDateTime(1600, 1, 1).GetDayOfYear());
}

TEST(XpDateTime, DecompositionAndDayOfWeek) {
  ExpectParts(XpDateTime(2.5), P{1900, 1, 1, 12, 0, 0}, 1);
  ExpectParts(XpDateTime(2007, 6, 15, 23, 59, 59), P{2007, 6, 15, 23, 59, 59}, 5);
  ExpectParts(XpDateTime(0.0), P{1899, 12, 30, 0, 0, 0}, 6);
  ExpectParts(XpDateTime(-1.25), P{1899, 12, 29, 6, 0, 0}, 5);
  ExpectParts(XpDateTime(-657434.0), P{100, 1, 1, 0, 0, 0}, 5);
  ExpectParts(XpDateTime(2958465.999988426), P{9999, 12, 31, 23, 59, 59}, 5);
  EXPECT_EQ(0, XpDateTime(2006, 1, 1).GetDayOfWeek());
  EXPECT_EQ(6, XpDateTime(2000, 1, 1).GetDayOfWeek());
  EXPECT_EQ(4, XpDateTime(1970, 1, 1).GetDayOfWeek());
  EXPECT_EQ(5, XpDateTime(1582, 10, 15).GetDayOfWeek());  // proleptic Gregorian
  // A value a hair before midnight (as sums of hours produce) is the next midnight.
  ExpectParts(XpDateTime(3.0 - 1e-9), P{1900, 1, 2, 0, 0, 0}, 2);
}

// Every day from year 100 to 9999 (sampled densely), at times that exercise the
// rounding, goes to a value and back to the same parts, also while computing
// with rounding toward zero as every thread of the program does.
TEST(XpDateTime, PartsRoundTripOverTheWholeRange) {
  for (int mode = 0; mode < 2; ++mode) {
    RoundTowardZeroScope* scope = mode ? new RoundTowardZeroScope() : NULL;
    double previous = -1e9;
    int failures = 0;
    for (int year = 100; year <= 9999 && failures < 5; year += (year < 2100 ? 1 : 7)) {
      for (int month = 1; month <= 12; ++month) {
        for (int day = 1; day <= DaysInMonth(year, month); day += (year % 3 == 0 ? 1 : 5)) {
          int h = (day * 7) % 24, mi = (day * 13) % 60, s = (day * 31 + month) % 60;
          XpDateTime t(year, month, day, h, mi, s);
          int y2, mo2, d2, h2, mi2, s2, w;
          if (!t.GetParts(y2, mo2, d2, h2, mi2, s2, w) || y2 != year || mo2 != month || d2 != day ||
              h2 != h || mi2 != mi || s2 != s) {
            ADD_FAILURE() << year << "-" << month << "-" << day << " " << h << ":" << mi << ":" << s
                          << " mode " << mode;
            ++failures;
          }
          XpDateTime midnight(year, month, day);
          if (!(midnight > XpDateTime(previous)) && previous > -1e9) {
            ADD_FAILURE() << "not increasing at " << year << "-" << month << "-" << day;
            ++failures;
          }
          previous = midnight.GetValue();
        }
      }
    }
    delete scope;
  }
  // Consecutive days step the day of week by one across the day 0 boundary.
  int w = XpDateTime(1899, 12, 1).GetDayOfWeek();
  for (XpDateTime t(1899, 12, 2); t < XpDateTime(1900, 1, 31); t += XpDateTimeSpan(1.0)) {
    w = (w + 1) % 7;
    EXPECT_EQ(w, t.GetDayOfWeek()) << t.GetValue();
  }
}

TEST(XpDateTime, ArithmeticAcrossDayZero) {
  XpDateTime t(1899, 12, 29, 23, 0, 0);
  ASSERT_TRUE(t.AddTime(2, 30, 0));
  ExpectParts(t, P{1899, 12, 30, 1, 30, 0}, 6);
  ASSERT_TRUE(t.SubtractTime(3, 0, 0));
  ExpectParts(t, P{1899, 12, 29, 22, 30, 0}, 5);

  XpDateTime a(1899, 12, 28, 18, 0, 0);
  XpDateTime b(1900, 1, 1, 6, 0, 0);
  XpDateTimeSpan d = b - a;
  EXPECT_TRUE(d.IsValid());
  EXPECT_NEAR(3.5, d.GetValue(), 1e-9);
  EXPECT_TRUE(a < b);
  EXPECT_TRUE(XpDateTime(-1.75) > XpDateTime(-1.25));  // 18:00 is after 06:00 of one day
  EXPECT_TRUE(a + d == b);
  EXPECT_TRUE(b - d == a);
  XpDateTime c = a;
  c += XpDateTimeSpan(0, 12, 0, 0);
  ExpectParts(c, P{1899, 12, 29, 6, 0, 0}, 5);
  c -= XpDateTimeSpan(1, 0, 0, 0);
  ExpectParts(c, P{1899, 12, 28, 6, 0, 0}, 4);

  // Leaving the range makes the result invalid.
  XpDateTime top(9999, 12, 31, 23, 59, 59);
  EXPECT_FALSE((top + XpDateTimeSpan(0, 0, 0, 1)).IsValid());
  XpDateTime bottom(100, 1, 1);
  EXPECT_FALSE(bottom.SubtractTime(0, 0, 1));
  EXPECT_FALSE((XpDateTime(3000000.0) - XpDateTime(1.0)).IsValid());
  EXPECT_FALSE((XpDateTime(1.0) + XpDateTimeSpan(1e9)).IsValid());
}

TEST(XpDateTime, DifferenceInSeconds) {
  long long s = 99;
  EXPECT_TRUE(XpDateTime(2007, 1, 2, 0, 0, 10).DifferenceInSeconds(XpDateTime(2007, 1, 1, 23, 59, 50), s));
  EXPECT_EQ(20, s);
  EXPECT_TRUE(XpDateTime(1899, 12, 29, 6, 0, 0).DifferenceInSeconds(XpDateTime(0.0), s));
  EXPECT_EQ(-64800, s);
  EXPECT_TRUE(XpDateTime(9999, 12, 31, 23, 59, 59).DifferenceInSeconds(XpDateTime(100, 1, 1), s));
  EXPECT_EQ(3615899LL * 86400 + 86399, s);
  s = 99;
  EXPECT_FALSE(XpDateTime(3000000.0).DifferenceInSeconds(XpDateTime(0.0), s));
  EXPECT_EQ(0, s);
}

TEST(XpDateTime, Parse) {
  XpDateTime t;
  EXPECT_TRUE(t.Parse(L"2007-06-15 12:34:56", L"%d-%d-%d %d:%d:%d"));
  ExpectParts(t, P{2007, 6, 15, 12, 34, 56}, 5);
  EXPECT_TRUE(t.Parse(L"2001/02/03", L"%d/%d/%d"));
  ExpectParts(t, P{2001, 2, 3, 0, 0, 0}, 6);
  EXPECT_TRUE(t.Parse(L"2001/02/03 04", L"%d/%d/%d %d"));
  ExpectParts(t, P{2001, 2, 3, 4, 0, 0}, 6);
  double before = t.GetValue();
  EXPECT_FALSE(t.Parse(L"2001/02", L"%d/%d/%d"));
  EXPECT_FALSE(t.Parse(L"", L"%d/%d/%d"));
  EXPECT_FALSE(t.Parse(NULL, L"%d/%d/%d"));
  EXPECT_FALSE(t.Parse(L"2001/02/03", NULL));
  EXPECT_EQ(before, t.GetValue());
  EXPECT_TRUE(t.IsValid());
  // Enough fields but impossible parts: invalid.
  EXPECT_FALSE(t.Parse(L"2001/02/30", L"%d/%d/%d"));
  EXPECT_FALSE(t.IsValid());
}

TEST(XpDateTime, Time64AndFileTime) {
  __time64_t now = _time64(NULL);
  XpDateTime local(now);
  ASSERT_TRUE(local.IsValid());
  EXPECT_EQ(now, local.ToTime64());
  XpDateTime nowValue = XpDateTime::Now();
  long long diff = 0;
  ASSERT_TRUE(nowValue.DifferenceInSeconds(local, diff));
  EXPECT_LE(std::llabs(diff), 5);

  XpDateTime t(2007, 6, 15, 12, 34, 56);
  __time64_t t64 = t.ToTime64();
  EXPECT_GT(t64, 0);
  XpDateTime back;
  ASSERT_TRUE(back.SetFromTime64(t64));
  ExpectParts(back, P{2007, 6, 15, 12, 34, 56}, 5);
  EXPECT_FALSE(back.SetFromTime64(-1000000000000000LL));
  ExpectParts(back, P{2007, 6, 15, 12, 34, 56}, 5);
  EXPECT_FALSE(XpDateTime(static_cast<__time64_t>(-1000000000000000LL)).IsValid());

  // The file time is UTC: converted back to local parts through the system.
  FILETIME ft = t.ToFileTime();
  EXPECT_NE(0u, ft.dwLowDateTime | ft.dwHighDateTime);
  FILETIME lft;
  SYSTEMTIME st;
  ASSERT_TRUE(FileTimeToLocalFileTime(&ft, &lft));
  ASSERT_TRUE(FileTimeToSystemTime(&lft, &st));
  EXPECT_EQ(2007, st.wYear);
  EXPECT_EQ(15, st.wDay);
  EXPECT_EQ(12, st.wHour);
  EXPECT_EQ(56, st.wSecond);
  XpDateTime fromFile;
  ASSERT_TRUE(fromFile.SetFromFileTime(ft));
  EXPECT_TRUE(fromFile == t);
}

TEST(XpDateTime, UtcToLocalMatchesTheSystem) {
  XpDateTime t(2007, 1, 15, 12, 0, 0);
  SYSTEMTIME utc = {2007, 1, 1, 15, 12, 0, 0, 0}, local;
  ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(NULL, &utc, &local));
  ASSERT_TRUE(t.UtcToLocal());
  ExpectParts(t, P{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond}, -1);
  XpDateTime invalid(3000000.0);
  EXPECT_FALSE(invalid.UtcToLocal());
}

TEST(XpDateTime, ZoneBiasFallback) {
  TIME_ZONE_INFORMATION tz;
  ZeroMemory(&tz, sizeof(tz));
  tz.Bias = -60;  // one hour east of UTC
  double noon = XpDateTime(2007, 1, 15, 12, 0, 0).GetValue();
  ExpectParts(XpDateTime(XpDateTimeDetail::_ApplyZoneBias(noon, 1, 15, tz)), P{2007, 1, 15, 13, 0, 0}, -1);
  tz.DaylightDate.wMonth = 3;
  tz.DaylightDate.wDay = 25;
  tz.StandardDate.wMonth = 10;
  tz.StandardDate.wDay = 28;
  tz.DaylightBias = -60;
  double summer = XpDateTime(2007, 7, 1, 12, 0, 0).GetValue();
  ExpectParts(XpDateTime(XpDateTimeDetail::_ApplyZoneBias(summer, 7, 1, tz)), P{2007, 7, 1, 14, 0, 0}, -1);
  ExpectParts(XpDateTime(XpDateTimeDetail::_ApplyZoneBias(noon, 1, 15, tz)), P{2007, 1, 15, 13, 0, 0}, -1);
  // West of UTC before day 0: the linear count moves back across midnight.
  tz.Bias = 300;
  tz.DaylightDate.wMonth = 0;
  double early = XpDateTime(1899, 12, 29, 2, 0, 0).GetValue();
  ExpectParts(XpDateTime(XpDateTimeDetail::_ApplyZoneBias(early, 12, 29, tz)), P{1899, 12, 28, 21, 0, 0}, -1);
}

TEST(XpDateTime, LocaleFormatting) {
  XpDateTime t(2007, 6, 15, 14, 5, 9);
  SYSTEMTIME st = {2007, 6, 5, 15, 14, 5, 9, 0};
  wchar_t expected[256];
  const DWORD dateFlags[4] = {DATE_SHORTDATE, DATE_LONGDATE, DATE_YEARMONTH, 0};
  for (int style = 0; style < 4; ++style) {
    ASSERT_GT(GetDateFormatW(LOCALE_USER_DEFAULT, dateFlags[style], &st, NULL, expected, 256), 0);
    EXPECT_STREQ(expected, t.FormatDate(style == 3 ? 7 : style).c_str()) << style;
  }
  XpString yearMonth = t.FormatDate(2);
  EXPECT_NE(-1, XpString(yearMonth).Find(L'2'));
  EXPECT_TRUE(wcsstr(yearMonth.c_str(), L"15") == NULL);  // no day in the year-month form

  const DWORD timeFlags[3] = {TIME_NOMINUTESORSECONDS, TIME_NOSECONDS, 0};
  for (int style = 0; style < 3; ++style) {
    for (int force = 0; force < 2; ++force) {
      DWORD flags = timeFlags[style] | (force ? TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT : 0);
      ASSERT_GT(GetTimeFormatW(LOCALE_USER_DEFAULT, flags, &st, NULL, expected, 256), 0);
      EXPECT_STREQ(expected, t.FormatTime(style, force != 0).c_str()) << style << force;
    }
  }
  EXPECT_TRUE(wcsstr(t.FormatTime(2, true).c_str(), L"14") != NULL);
  XpString both = t.FormatDateTime(0, 1, true);
  EXPECT_STREQ((t.FormatDate(0) + L" " + t.FormatTime(1, true)).c_str(), both.c_str());
}

TEST(XpDateTime, WeekdayAndMonthNames) {
  std::setlocale(LC_ALL, "C");
  EXPECT_STREQ(L"Sun", WeekdayName(0, true).c_str());
  EXPECT_STREQ(L"Saturday", WeekdayName(6, false).c_str());
  EXPECT_STREQ(L"Jan", MonthName(1, true).c_str());
  EXPECT_STREQ(L"December", MonthName(12, false).c_str());
  EXPECT_STREQ(L"February", MonthName(2, false).c_str());
  EXPECT_TRUE(WeekdayName(7, false).IsEmpty());
  EXPECT_TRUE(WeekdayName(-1, true).IsEmpty());
  EXPECT_TRUE(MonthName(0, false).IsEmpty());
  EXPECT_TRUE(MonthName(13, true).IsEmpty());
  std::setlocale(LC_ALL, "");
  for (int d = 0; d < 7; ++d) EXPECT_FALSE(WeekdayName(d, false).IsEmpty());
  for (int m = 1; m <= 12; ++m) EXPECT_FALSE(MonthName(m, true).IsEmpty());
  std::setlocale(LC_ALL, "C");
}

TEST(XpDateTimeSpan, PartsAndTotals) {
  XpDateTimeSpan s(1, 2, 3, 4);
  EXPECT_TRUE(s.IsValid());
  EXPECT_EQ(1, s.GetDays());
  EXPECT_EQ(2, s.GetHours());
  EXPECT_EQ(3, s.GetMinutes());
  EXPECT_EQ(4, s.GetSeconds());
  EXPECT_EQ(26, s.GetTotalHours());
  EXPECT_EQ(1563, s.GetTotalMinutes());
  EXPECT_EQ(93784, s.GetTotalSeconds());
  XpDateTimeSpan n = -s;
  EXPECT_EQ(-1, n.GetDays());
  EXPECT_EQ(-2, n.GetHours());
  EXPECT_EQ(-93784, n.GetTotalSeconds());
  EXPECT_TRUE(XpDateTimeSpan().IsValid());
  EXPECT_EQ(0.0, XpDateTimeSpan().GetValue());
  // Whole seconds survive rounding toward zero.
  RoundTowardZeroScope scope;
  for (int sec = 0; sec < 200000; sec += 997) {
    XpDateTimeSpan t(0, 0, 0, sec);
    EXPECT_EQ(sec, t.GetTotalSeconds()) << sec;
  }
}

TEST(XpDateTimeSpan, ArithmeticValidityAndComparison) {
  XpDateTimeSpan a(1.5), b(0.25);
  EXPECT_EQ(1.75, (a + b).GetValue());
  EXPECT_EQ(1.25, (a - b).GetValue());
  XpDateTimeSpan c = a;
  c += b;
  EXPECT_EQ(1.75, c.GetValue());
  c -= a;
  EXPECT_EQ(0.25, c.GetValue());

  XpDateTimeSpan wide(3615899.999988426);
  EXPECT_TRUE(wide.IsValid());
  EXPECT_TRUE((-wide).IsValid());
  EXPECT_FALSE(XpDateTimeSpan(3615900.5).IsValid());
  EXPECT_FALSE((wide + XpDateTimeSpan(1.0)).IsValid());
  XpDateTimeSpan bad(1e9);
  EXPECT_FALSE((bad - bad).IsValid());  // an invalid operand stays invalid

  EXPECT_TRUE(a == XpDateTimeSpan(1.5));
  EXPECT_TRUE(a != b);
  EXPECT_TRUE(b < a);
  EXPECT_TRUE(a > b);
  EXPECT_TRUE(a <= a);
  EXPECT_TRUE(a >= b);
  EXPECT_FALSE(bad > a);
  EXPECT_FALSE(a < bad);
  EXPECT_TRUE(bad == XpDateTimeSpan(1e9));  // same validity, same value
}
