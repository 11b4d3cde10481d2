#include "XpDateTime.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

namespace {

const double kSecondsPerDay = 86400.0;
// Added with the value's sign before a value is cut into whole units, so that
// values built from whole seconds survive any rounding of the arithmetic.
const double kHalfSecond = 0.5 / 86400.0;

const double kMinDate = -657434.0;          // 1 January 100 00:00:00
const double kMaxDate = 2958465.999988426;  // 31 December 9999 23:59:59
const double kMaxSpan = 3615899.999988426;  // width of the date range
const long long kMinDay = -657434;
const long long kMaxDay = 2958465;

// Day 0 (30 December 1899) counted from 1 January of year 0.
const long long kDayZero = 693959;

const int kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
const int kDaysBefore[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

double WithHalfSecond(double value) { return value >= 0 ? value + kHalfSecond : value - kHalfSecond; }

// OLE value to a count of days that grows steadily with time: before day 0 the
// integer part counts toward the past while the fraction still runs forward.
double OleToLinear(double value) {
  if (value >= 0) return value;
  double day = ceil(value);
  return day + (day - value);
}

double LinearToOle(double linear) {
  if (linear >= 0) return linear;
  double day = floor(linear);
  double time = linear - day;
  return day - time;
}

// Whole seconds since day 0, to the nearest second.
long long LinearToSeconds(double linear) {
  return static_cast<long long>(floor(linear * kSecondsPerDay + 0.5));
}

long long FloorDiv(long long a, long long b) {
  long long q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Day number (0 = 30 December 1899) to the civil date, proleptic Gregorian.
void DayToDate(long long dayNumber, int& year, int& month, int& day) {
  // Shift to a count from 1 March of year 0, so that the leap day ends each year.
  long long z = dayNumber + kDayZero - 60;
  long long era = FloorDiv(z, 146097);
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

struct Parts {
  int year, month, day, hour, minute, second, dayOfWeek;
};

// The value rounded to the nearest second, kept inside the last second of the range.
bool Decompose(double value, bool valid, Parts& p) {
  if (!valid) {
    p.year = p.month = p.day = p.hour = p.minute = p.second = p.dayOfWeek = -1;
    return false;
  }
  long long seconds = LinearToSeconds(OleToLinear(value));
  long long lo = kMinDay * 86400;
  long long hi = kMaxDay * 86400 + 86399;
  if (seconds < lo) seconds = lo;
  if (seconds > hi) seconds = hi;
  long long dayNumber = FloorDiv(seconds, 86400);
  long long s = seconds - dayNumber * 86400;
  p.hour = static_cast<int>(s / 3600);
  p.minute = static_cast<int>(s / 60 % 60);
  p.second = static_cast<int>(s % 60);
  p.dayOfWeek = static_cast<int>((dayNumber + kDayZero - 1) % 7);
  DayToDate(dayNumber, p.year, p.month, p.day);
  return true;
}

int PartOf(double value, bool valid, int Parts::*field) {
  Parts p;
  Decompose(value, valid, p);
  return p.*field;
}

bool ToSystemTime(const Parts& p, SYSTEMTIME& st) {
  memset(&st, 0, sizeof(st));
  st.wYear = static_cast<WORD>(p.year);
  st.wMonth = static_cast<WORD>(p.month);
  st.wDay = static_cast<WORD>(p.day);
  st.wDayOfWeek = static_cast<WORD>(p.dayOfWeek);
  st.wHour = static_cast<WORD>(p.hour);
  st.wMinute = static_cast<WORD>(p.minute);
  st.wSecond = static_cast<WORD>(p.second);
  return true;
}

bool LocalTime64(__time64_t time, struct tm& out) {
#ifdef _MSC_VER
  return _localtime64_s(&out, &time) == 0;
#else
  struct tm* t = _localtime64(&time);
  if (!t) return false;
  out = *t;
  return true;
#endif
}

bool InRange(double value) { return value >= kMinDate && value <= kMaxDate; }

}  // namespace

namespace XpDateTimeDetail {

// The fallback of UtcToLocal when the system cannot convert for a zone:
// the zone's bias, plus the daylight bias inside the daylight period.
double _ApplyZoneBias(double utc, int month, int day, const TIME_ZONE_INFORMATION& tz) {
  long bias = tz.Bias;
  if (tz.DaylightDate.wMonth != 0 && tz.StandardDate.wMonth != 0) {
    int date = month * 100 + day;
    int start = tz.DaylightDate.wMonth * 100 + tz.DaylightDate.wDay;
    int end = tz.StandardDate.wMonth * 100 + tz.StandardDate.wDay;
    // South of the equator the daylight period runs across the new year.
    bool inside = start <= end ? (date >= start && date < end) : (date >= start || date < end);
    if (inside) bias += tz.DaylightBias;
  }
  return LinearToOle(OleToLinear(utc) - bias / 1440.0);
}

}  // namespace XpDateTimeDetail

// ---------------------------------------------------------------------------
// XpDateTime

XpDateTime::XpDateTime() : m_value(0.0), m_valid(true) {}

XpDateTime::XpDateTime(const XpDateTime& other) : m_value(other.m_value), m_valid(other.m_valid) {}

XpDateTime::XpDateTime(double value) : m_value(0.0), m_valid(false) { SetValue(value); }

XpDateTime::XpDateTime(int year, int month, int day, int hour, int minute, int second)
    : m_value(0.0), m_valid(false) {
  SetParts(year, month, day, hour, minute, second);
}

XpDateTime::XpDateTime(__time64_t time) : m_value(0.0), m_valid(false) { SetFromTime64(time); }

XpDateTime::~XpDateTime() {}

XpDateTime& XpDateTime::operator=(const XpDateTime& other) {
  m_value = other.m_value;
  m_valid = other.m_valid;
  return *this;
}

XpDateTime XpDateTime::Now() { return XpDateTime(_time64(NULL)); }

void XpDateTime::SetValue(double value) {
  m_value = value;
  // Validity by the linear count, so every second of 1 January 100 counts as well.
  m_valid = InRange(OleToLinear(value));
}

double XpDateTime::ToLinear() const { return OleToLinear(m_value); }

double XpDateTime::FromLinear(double linear) { return LinearToOle(linear); }

bool XpDateTime::SetParts(int year, int month, int day, int hour, int minute, int second) {
  bool ok = year >= 100 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
            day <= DaysInMonth(year, month) && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 &&
            second >= 0 && second <= 59;
  if (!ok) {
    m_value = 0.0;
    m_valid = false;
    return false;
  }
  long days = year * 365L + year / 4 - year / 100 + year / 400 + kDaysBefore[month - 1] + day -
              ((IsLeapYear(year) && month <= 2) ? 1 : 0) - static_cast<long>(kDayZero);
  double time = (hour * 3600 + minute * 60 + second) / kSecondsPerDay;
  SetValue(days >= 0 ? days + time : days - time);
  return m_valid;
}

bool XpDateTime::Parse(const wchar_t* text, const wchar_t* format) {
  if (!text || !format) return false;
  int f[6] = {0, 0, 0, 0, 0, 0};
#ifdef _MSC_VER
  // Same conversions for integers; the checked form only keeps the compiler quiet.
  int n = swscanf_s(text, format, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
#else
  int n = swscanf(text, format, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
#endif
  if (n < 3 || n > 6) return false;
  return SetParts(f[0], f[1], f[2], f[3], f[4], f[5]);
}

bool XpDateTime::SetFromTime64(__time64_t time) {
  struct tm t;
  if (!LocalTime64(time, t)) return false;
  return SetParts(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

bool XpDateTime::SetFromFileTime(const FILETIME& utc) {
  FILETIME local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return false;
  return SetParts(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
}

bool XpDateTime::GetParts(int& year, int& month, int& day, int& hour, int& minute, int& second,
                          int& dayOfWeek) const {
  Parts p;
  bool ok = Decompose(m_value, m_valid, p);
  year = p.year;
  month = p.month;
  day = p.day;
  hour = p.hour;
  minute = p.minute;
  second = p.second;
  dayOfWeek = p.dayOfWeek;
  return ok;
}

int XpDateTime::GetYear() const { return PartOf(m_value, m_valid, &Parts::year); }
int XpDateTime::GetMonth() const { return PartOf(m_value, m_valid, &Parts::month); }
int XpDateTime::GetDay() const { return PartOf(m_value, m_valid, &Parts::day); }
int XpDateTime::GetHour() const { return PartOf(m_value, m_valid, &Parts::hour); }
int XpDateTime::GetMinute() const { return PartOf(m_value, m_valid, &Parts::minute); }
int XpDateTime::GetSecond() const { return PartOf(m_value, m_valid, &Parts::second); }
int XpDateTime::GetDayOfWeek() const { return PartOf(m_value, m_valid, &Parts::dayOfWeek); }

int XpDateTime::GetDayOfYear() const {
  Parts p;
  if (!Decompose(m_value, m_valid, p)) return -1;
  return kDaysBefore[p.month - 1] + p.day + ((IsLeapYear(p.year) && p.month > 2) ? 1 : 0);
}

__time64_t XpDateTime::ToTime64() const {
  Parts p;
  if (!Decompose(m_value, m_valid, p)) return 0;
  struct tm t;
  memset(&t, 0, sizeof(t));
  t.tm_year = p.year - 1900;
  t.tm_mon = p.month - 1;
  t.tm_mday = p.day;
  t.tm_hour = p.hour;
  t.tm_min = p.minute;
  t.tm_sec = p.second;
  t.tm_isdst = -1;
  return _mktime64(&t);
}

FILETIME XpDateTime::ToFileTime() const {
  FILETIME utc = {0, 0};
  Parts p;
  if (!Decompose(m_value, m_valid, p)) return utc;
  SYSTEMTIME st;
  ToSystemTime(p, st);
  FILETIME local;
  if (!SystemTimeToFileTime(&st, &local) || !LocalFileTimeToFileTime(&local, &utc)) {
    utc.dwLowDateTime = 0;
    utc.dwHighDateTime = 0;
  }
  return utc;
}

bool XpDateTime::UtcToLocal() {
  Parts p;
  if (!Decompose(m_value, m_valid, p)) return false;
  typedef BOOL(WINAPI * ConvertFn)(const TIME_ZONE_INFORMATION*, const SYSTEMTIME*, SYSTEMTIME*);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  FARPROC proc = kernel ? GetProcAddress(kernel, "SystemTimeToTzSpecificLocalTime") : NULL;
  if (proc) {
    ConvertFn convert = reinterpret_cast<ConvertFn>(reinterpret_cast<void*>(proc));
    SYSTEMTIME utc, local;
    ToSystemTime(p, utc);
    if (!convert(NULL, &utc, &local)) return false;
    return SetParts(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond);
  }
  TIME_ZONE_INFORMATION tz;
  if (GetTimeZoneInformation(&tz) == TIME_ZONE_ID_INVALID) return false;
  SetValue(XpDateTimeDetail::_ApplyZoneBias(m_value, p.month, p.day, tz));
  return m_valid;
}

bool XpDateTime::AddTime(int hours, int minutes, int seconds) {
  double delta = (hours * 3600.0 + minutes * 60.0 + seconds) / kSecondsPerDay;
  bool wasValid = m_valid;
  SetValue(FromLinear(ToLinear() + delta));
  m_valid = m_valid && wasValid;
  return m_valid;
}

bool XpDateTime::SubtractTime(int hours, int minutes, int seconds) {
  return AddTime(-hours, -minutes, -seconds);
}

XpDateTime XpDateTime::operator+(const XpDateTimeSpan& span) const {
  XpDateTime result(FromLinear(ToLinear() + span.GetValue()));
  result.m_valid = result.m_valid && m_valid && span.IsValid();
  return result;
}

XpDateTime XpDateTime::operator-(const XpDateTimeSpan& span) const {
  XpDateTime result(FromLinear(ToLinear() - span.GetValue()));
  result.m_valid = result.m_valid && m_valid && span.IsValid();
  return result;
}

XpDateTime& XpDateTime::operator+=(const XpDateTimeSpan& span) {
  *this = *this + span;
  return *this;
}

XpDateTime& XpDateTime::operator-=(const XpDateTimeSpan& span) {
  *this = *this - span;
  return *this;
}

XpDateTimeSpan XpDateTime::operator-(const XpDateTime& other) const {
  XpDateTimeSpan result(ToLinear() - other.ToLinear());
  if (!m_valid || !other.m_valid) {
    result.m_days = 0.0;
    result.m_valid = false;
  }
  return result;
}

bool XpDateTime::DifferenceInSeconds(const XpDateTime& other, long long& seconds) const {
  seconds = 0;
  if (!m_valid || !other.m_valid) return false;
  seconds = LinearToSeconds(ToLinear()) - LinearToSeconds(other.ToLinear());
  return true;
}

bool XpDateTime::operator==(const XpDateTime& other) const { return ToLinear() == other.ToLinear(); }
bool XpDateTime::operator!=(const XpDateTime& other) const { return ToLinear() != other.ToLinear(); }
bool XpDateTime::operator<(const XpDateTime& other) const { return ToLinear() < other.ToLinear(); }
bool XpDateTime::operator>(const XpDateTime& other) const { return ToLinear() > other.ToLinear(); }
bool XpDateTime::operator<=(const XpDateTime& other) const { return ToLinear() <= other.ToLinear(); }
bool XpDateTime::operator>=(const XpDateTime& other) const { return ToLinear() >= other.ToLinear(); }

XpString XpDateTime::FormatDate(int style) const {
  Parts p;
  if (!Decompose(m_value, m_valid, p)) return XpString();
  DWORD flags = 0;
  if (style == 0)
    flags = DATE_SHORTDATE;
  else if (style == 1)
    flags = DATE_LONGDATE;
  else if (style == 2)
    flags = DATE_YEARMONTH;
  SYSTEMTIME st;
  ToSystemTime(p, st);
  wchar_t buffer[256];
  if (GetDateFormatW(LOCALE_USER_DEFAULT, flags, &st, NULL, buffer, 256) == 0) return XpString();
  buffer[255] = L'\0';
  return XpString(buffer);
}

XpString XpDateTime::FormatTime(int style, bool force24) const {
  Parts p;
  if (!Decompose(m_value, m_valid, p)) return XpString();
  DWORD flags = 0;
  if (style == 0)
    flags = TIME_NOMINUTESORSECONDS;
  else if (style == 1)
    flags = TIME_NOSECONDS;
  if (force24) flags |= TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT;
  SYSTEMTIME st;
  ToSystemTime(p, st);
  wchar_t buffer[999];
  if (GetTimeFormatW(LOCALE_USER_DEFAULT, flags, &st, NULL, buffer, 999) == 0) return XpString();
  buffer[998] = L'\0';
  return XpString(buffer);
}

XpString XpDateTime::FormatDateTime(int dateStyle, int timeStyle, bool force24) const {
  return FormatDate(dateStyle) + L" " + FormatTime(timeStyle, force24);
}

// ---------------------------------------------------------------------------
// XpDateTimeSpan

XpDateTimeSpan::XpDateTimeSpan() : m_days(0.0), m_valid(true) {}

XpDateTimeSpan::XpDateTimeSpan(long days, int hours, int minutes, int seconds) : m_days(0.0), m_valid(false) {
  SetDays((days * kSecondsPerDay + hours * 3600.0 + minutes * 60.0 + seconds) / kSecondsPerDay);
}

XpDateTimeSpan::XpDateTimeSpan(double days) : m_days(0.0), m_valid(false) { SetDays(days); }

XpDateTimeSpan::XpDateTimeSpan(const XpDateTimeSpan& other) : m_days(other.m_days), m_valid(other.m_valid) {}

XpDateTimeSpan::~XpDateTimeSpan() {}

XpDateTimeSpan& XpDateTimeSpan::operator=(const XpDateTimeSpan& other) {
  m_days = other.m_days;
  m_valid = other.m_valid;
  return *this;
}

void XpDateTimeSpan::SetDays(double days) {
  m_days = days;
  m_valid = fabs(days) <= kMaxSpan;
}

long long XpDateTimeSpan::GetDays() const { return static_cast<long long>(WithHalfSecond(m_days)); }

long long XpDateTimeSpan::GetTotalHours() const {
  return static_cast<long long>(WithHalfSecond(m_days) * 24.0);
}

long long XpDateTimeSpan::GetTotalMinutes() const {
  return static_cast<long long>(WithHalfSecond(m_days) * 1440.0);
}

long long XpDateTimeSpan::GetTotalSeconds() const {
  return static_cast<long long>(WithHalfSecond(m_days) * kSecondsPerDay);
}

int XpDateTimeSpan::GetHours() const { return static_cast<int>(GetTotalHours() % 24); }
int XpDateTimeSpan::GetMinutes() const { return static_cast<int>(GetTotalMinutes() % 60); }
int XpDateTimeSpan::GetSeconds() const { return static_cast<int>(GetTotalSeconds() % 60); }

XpDateTimeSpan XpDateTimeSpan::operator+(const XpDateTimeSpan& other) const {
  XpDateTimeSpan result(m_days + other.m_days);
  result.m_valid = result.m_valid && m_valid && other.m_valid;
  return result;
}

XpDateTimeSpan XpDateTimeSpan::operator-(const XpDateTimeSpan& other) const {
  XpDateTimeSpan result(m_days - other.m_days);
  result.m_valid = result.m_valid && m_valid && other.m_valid;
  return result;
}

XpDateTimeSpan& XpDateTimeSpan::operator+=(const XpDateTimeSpan& other) {
  *this = *this + other;
  return *this;
}

XpDateTimeSpan& XpDateTimeSpan::operator-=(const XpDateTimeSpan& other) {
  *this = *this - other;
  return *this;
}

XpDateTimeSpan XpDateTimeSpan::operator-() const {
  XpDateTimeSpan result(-m_days);
  result.m_valid = m_valid;
  return result;
}

bool XpDateTimeSpan::operator==(const XpDateTimeSpan& other) const {
  return m_valid == other.m_valid && m_days == other.m_days;
}
bool XpDateTimeSpan::operator!=(const XpDateTimeSpan& other) const { return !(*this == other); }
bool XpDateTimeSpan::operator<(const XpDateTimeSpan& other) const {
  return m_valid && other.m_valid && m_days < other.m_days;
}
bool XpDateTimeSpan::operator>(const XpDateTimeSpan& other) const {
  return m_valid && other.m_valid && m_days > other.m_days;
}
bool XpDateTimeSpan::operator<=(const XpDateTimeSpan& other) const { return *this < other || *this == other; }
bool XpDateTimeSpan::operator>=(const XpDateTimeSpan& other) const { return *this > other || *this == other; }

// ---------------------------------------------------------------------------
// Calendar helpers

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  if (month < 1 || month > 12) return 0;
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDaysInMonth[month - 1];
}

namespace {

// A complete, consistent time for the formatter: the run-time library checks
// every field, not only the one the conversion uses. 1 January 2006 was a Sunday.
XpString FormatCalendarName(int month, int dayOfWeek, const wchar_t* format) {
  struct tm t;
  memset(&t, 0, sizeof(t));
  t.tm_year = 106;
  t.tm_mon = month - 1;
  t.tm_mday = 1 + dayOfWeek;
  t.tm_wday = dayOfWeek;
  t.tm_yday = kDaysBefore[month - 1] + dayOfWeek;
  t.tm_hour = 12;
  wchar_t buffer[128];
  size_t n = wcsftime(buffer, 128, format, &t);
  if (n == 0 || n >= 128) return XpString();
  buffer[n] = L'\0';
  return XpString(buffer);
}

}  // namespace

XpString WeekdayName(int day, bool abbreviated) {
  if (day < 0 || day > 6) return XpString();
  return FormatCalendarName(1, day, abbreviated ? L"%a" : L"%A");
}

XpString MonthName(int month, bool abbreviated) {
  if (month < 1 || month > 12) return XpString();
  return FormatCalendarName(month, 0, abbreviated ? L"%b" : L"%B");
}
