// Calendar values: a local date and time held as an OLE Automation date (days
// since 30 December 1899 midnight, the time of day as the fraction), and a
// signed duration in days. Values are plain data, used by one thread at a time.
#pragma once

#include <windows.h>

#include <time.h>

#include "XpString.h"

class XpDateTimeSpan;

class XpDateTime {
 public:
  // The value 0 (30 December 1899 00:00:00), valid: what a fresh date node holds.
  XpDateTime();
  XpDateTime(const XpDateTime& other);
  // Valid only inside [1 January 100, 31 December 9999 23:59:59].
  explicit XpDateTime(double value);
  // Invalid (value 0) when a part is out of range.
  XpDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
  // Local time of a run-time library time; invalid (value 0) if it cannot be converted.
  explicit XpDateTime(__time64_t time);
  virtual ~XpDateTime();

  XpDateTime& operator=(const XpDateTime& other);

  // The current local time.
  static XpDateTime Now();

  bool IsValid() const { return m_valid; }
  double GetValue() const { return m_value; }

  // Sets the value from parts; returns the new validity (invalid parts leave
  // the value 0 and invalid).
  bool SetParts(int year, int month, int day, int hour, int minute, int second);
  // Reads up to six integers (year, month, day, hour, minute, second) with
  // swscanf and the caller's format; 3 to 6 fields are accepted, missing time
  // fields are 0. Any other count fails and leaves the value unchanged. Null
  // text or format fails. The format converts integers only (%d and the like).
  bool Parse(const wchar_t* text, const wchar_t* format);
  // Local time of time; unchanged (and false) if the conversion fails.
  bool SetFromTime64(__time64_t time);
  // A UTC file time as local time; unchanged (and false) if it cannot be converted.
  bool SetFromFileTime(const FILETIME& utc);

  // False and every part -1 when invalid. dayOfWeek: 0 = Sunday .. 6 = Saturday.
  bool GetParts(int& year, int& month, int& day, int& hour, int& minute, int& second, int& dayOfWeek) const;
  int GetYear() const;
  int GetMonth() const;
  int GetDay() const;
  int GetHour() const;
  int GetMinute() const;
  int GetSecond() const;
  int GetDayOfWeek() const;
  int GetDayOfYear() const;  // 1-based

  // 0 (the epoch) when invalid; -1 when the run-time library cannot represent it.
  __time64_t ToTime64() const;
  // The local value as a UTC file time; zero when invalid or not convertible.
  FILETIME ToFileTime() const;
  // Treats the value as UTC and turns it into local time of the current zone.
  bool UtcToLocal();

  bool AddTime(int hours, int minutes, int seconds);
  bool SubtractTime(int hours, int minutes, int seconds);

  XpDateTime operator+(const XpDateTimeSpan& span) const;
  XpDateTime operator-(const XpDateTimeSpan& span) const;
  XpDateTime& operator+=(const XpDateTimeSpan& span);
  XpDateTime& operator-=(const XpDateTimeSpan& span);
  XpDateTimeSpan operator-(const XpDateTime& other) const;

  // (this - other) in whole seconds; false and 0 if either value is invalid.
  bool DifferenceInSeconds(const XpDateTime& other, long long& seconds) const;

  // Compare the linear day counts; validity is not consulted.
  bool operator==(const XpDateTime& other) const;
  bool operator!=(const XpDateTime& other) const;
  bool operator<(const XpDateTime& other) const;
  bool operator>(const XpDateTime& other) const;
  bool operator<=(const XpDateTime& other) const;
  bool operator>=(const XpDateTime& other) const;

  // User's default locale. Date style 0 short, 1 long, 2 year and month, other
  // no flags; time style 0 hours only, 1 no seconds, other full; force24 drops
  // the time marker and forces the 24-hour clock. Empty when invalid or on failure.
  XpString FormatDate(int style) const;
  XpString FormatTime(int style, bool force24) const;
  XpString FormatDateTime(int dateStyle, int timeStyle, bool force24) const;

 private:
  void SetValue(double value);
  // The value as a count of days that grows steadily with time, and back.
  double ToLinear() const;
  static double FromLinear(double linear);

  double m_value;
  bool m_valid;
};

class XpDateTimeSpan {
 public:
  XpDateTimeSpan();  // 0 days, valid
  XpDateTimeSpan(long days, int hours, int minutes, int seconds);
  explicit XpDateTimeSpan(double days);
  XpDateTimeSpan(const XpDateTimeSpan& other);
  virtual ~XpDateTimeSpan();

  XpDateTimeSpan& operator=(const XpDateTimeSpan& other);

  bool IsValid() const { return m_valid; }
  double GetValue() const { return m_days; }

  // Whole units after rounding by half a second, cut toward zero.
  long long GetDays() const;
  long long GetTotalHours() const;
  long long GetTotalMinutes() const;
  long long GetTotalSeconds() const;
  int GetHours() const;    // total hours modulo 24
  int GetMinutes() const;  // total minutes modulo 60
  int GetSeconds() const;  // total seconds modulo 60

  // Invalid if either operand is invalid or the result leaves the range.
  XpDateTimeSpan operator+(const XpDateTimeSpan& other) const;
  XpDateTimeSpan operator-(const XpDateTimeSpan& other) const;
  XpDateTimeSpan& operator+=(const XpDateTimeSpan& other);
  XpDateTimeSpan& operator-=(const XpDateTimeSpan& other);
  XpDateTimeSpan operator-() const;

  bool operator==(const XpDateTimeSpan& other) const;
  bool operator!=(const XpDateTimeSpan& other) const;
  bool operator<(const XpDateTimeSpan& other) const;
  bool operator>(const XpDateTimeSpan& other) const;
  bool operator<=(const XpDateTimeSpan& other) const;
  bool operator>=(const XpDateTimeSpan& other) const;

 private:
  friend class XpDateTime;
  void SetDays(double days);

  double m_days;
  bool m_valid;
};

bool IsLeapYear(int year);
// 0 for a month outside 1..12.
int DaysInMonth(int year, int month);
// In the calling thread's run-time locale; empty outside 0..6 (0 = Sunday).
XpString WeekdayName(int day, bool abbreviated);
// In the calling thread's run-time locale; empty outside 1..12.
XpString MonthName(int month, bool abbreviated);
