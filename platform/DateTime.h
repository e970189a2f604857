// TDateTime: days since 30 December 1899 as a double, local time; the
// fraction is the time of day.
#pragma once

#include <cstdint>

using TDateTime = double;

// EConvertError for a date or time that does not exist.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);

// DOS date-time (date in the high 16 bits) to and from TDateTime.
TDateTime FileDateToDateTime(int32_t dosDateTime);
int32_t DateTimeToFileDate(TDateTime value);

// Host time (seconds since the epoch) to local TDateTime and back.
TDateTime UnixToDateTime(int64_t unixSeconds);
int64_t DateTimeToUnix(TDateTime value);
