#include "platform/DateTime.h"

#include <time.h>

#include <cmath>
#include <cstdlib>

#include "platform/SysUtils.h"

namespace {

constexpr int64_t kMSecsPerDay = 86400000;
constexpr int64_t kEpochOffset = 25569;  // 1970-01-01 in days since 1899-12-30

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the
// era-based algorithms of H. Hinnant, exact over the whole range).
int64_t DaysFromCivil(int year, int month, int day) {
  const int64_t y = int64_t(year) - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yearOfEra = y - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  day = int(dayOfYear - (153 * mp + 2) / 5 + 1);
  month = int(mp < 10 ? mp + 3 : mp - 9);
  year = int(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

// The whole day and the milliseconds of the day; like Delphi, the fraction of a
// date before 1899-12-30 still counts forward from midnight.
void SplitDateTime(TDateTime value, int64_t& days, int64_t& msOfDay) {
  const int64_t total = std::llround(value * double(kMSecsPerDay));
  days = total / kMSecsPerDay;
  msOfDay = std::llabs(total) % kMSecsPerDay;
}

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    throw EConvertError("Invalid argument to date encode");
  return TDateTime(DaysFromCivil(year, month, day) + kEpochOffset);
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    throw EConvertError("Invalid argument to time encode");
  const int64_t ms = ((int64_t(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
  return TDateTime(ms) / TDateTime(kMSecsPerDay);
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  int64_t days = 0, ms = 0;
  SplitDateTime(value, days, ms);
  CivilFromDays(days - kEpochOffset, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) {
  int64_t days = 0, ms = 0;
  SplitDateTime(value, days, ms);
  millisecond = int(ms % 1000);
  second = int(ms / 1000 % 60);
  minute = int(ms / 60000 % 60);
  hour = int(ms / 3600000);
}

TDateTime FileDateToDateTime(int32_t dosDateTime) {
  const uint32_t word = uint32_t(dosDateTime);
  const uint32_t date = word >> 16, time = word & 0xFFFF;
  const TDateTime day = EncodeDate(int(date >> 9) + 1980, int(date >> 5 & 15), int(date & 31));
  const TDateTime clock = EncodeTime(int(time >> 11), int(time >> 5 & 63), int(time & 31) * 2, 0);
  return day + clock;
}

int32_t DateTimeToFileDate(TDateTime value) {
  int year, month, day, hour, minute, second, ms;
  DecodeDate(value, year, month, day);
  if (year < 1980 || year > 2107) return 0;  // outside what the 7-bit year can hold
  DecodeTime(value, hour, minute, second, ms);
  const uint32_t date = uint32_t(year - 1980) << 9 | uint32_t(month) << 5 | uint32_t(day);
  const uint32_t time = uint32_t(hour) << 11 | uint32_t(minute) << 5 | uint32_t(second / 2);
  return int32_t(date << 16 | time);
}

TDateTime UnixToDateTime(int64_t unixSeconds) {
  const time_t seconds = time_t(unixSeconds);
  tm local{};
  if (!::localtime_r(&seconds, &local)) throw EConvertError("Invalid argument to date encode");
  return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
         EncodeTime(local.tm_hour, local.tm_min, local.tm_sec, 0);
}

int64_t DateTimeToUnix(TDateTime value) {
  int year, month, day, hour, minute, second, ms;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, minute, second, ms);
  tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;  // let the zone rules decide
  return int64_t(::mktime(&local));
}
