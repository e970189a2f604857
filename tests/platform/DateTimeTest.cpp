#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <string>

#include "platform/DateTime.h"
#include "platform/SysUtils.h"

namespace {

// Sets TZ for the length of a test.
class TTimeZone {
 public:
  explicit TTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    FHadOld = old != nullptr;
    if (old) FOld = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~TTimeZone() {
    if (FHadOld)
      ::setenv("TZ", FOld.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::string FOld;
  bool FHadOld = false;
};

}  // namespace

TEST(DateTime, EncodeDateCountsDaysFrom30December1899) {
  struct TDateCase {
    int Year, Month, Day;
    double Expected;
  };
  const TDateCase cases[] = {
      {1899, 12, 30, 0},    {1900, 1, 1, 2},    {1970, 1, 1, 25569},     {2000, 1, 1, 36526},
      {2024, 2, 29, 45351}, {1, 1, 1, -693593}, {9999, 12, 31, 2958465}, {1899, 12, 29, -1},
  };
  for (const TDateCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Year) + "-" + std::to_string(c.Month) + "-" +
                 std::to_string(c.Day));
    EXPECT_EQ(EncodeDate(c.Year, c.Month, c.Day), c.Expected);
    int year = 0, month = 0, day = 0;
    DecodeDate(c.Expected, year, month, day);
    EXPECT_EQ(year, c.Year);
    EXPECT_EQ(month, c.Month);
    EXPECT_EQ(day, c.Day);
  }
}

TEST(DateTime, DatesAndTimesThatDoNotExistRaise) {
  const int badDates[][3] = {{2023, 2, 29}, {2024, 13, 1}, {0, 1, 1}, {2024, 4, 31}, {2024, 1, 0}};
  for (const auto& d : badDates) {
    SCOPED_TRACE(std::to_string(d[0]) + "-" + std::to_string(d[1]) + "-" + std::to_string(d[2]));
    try {
      EncodeDate(d[0], d[1], d[2]);
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "Invalid argument to date encode");
    }
  }
  const int badTimes[][4] = {
      {24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}, {-1, 0, 0, 0}};
  for (const auto& t : badTimes) {
    SCOPED_TRACE(t[0] * 1000 + t[1] * 100 + t[2] * 10 + t[3]);
    EXPECT_THROW(EncodeTime(t[0], t[1], t[2], t[3]), EConvertError);
  }
  EXPECT_THROW(FileDateToDateTime(int32_t(uint32_t(43 << 9 | 2 << 5 | 30) << 16)), EConvertError);
}

TEST(DateTime, TimeOfDayIsTheFractionEvenBefore1899) {
  int hour, minute, second, ms, year, month, day;
  DecodeTime(EncodeTime(23, 59, 59, 999), hour, minute, second, ms);
  EXPECT_EQ(hour * 10000000 + minute * 100000 + second * 1000 + ms, 235959999);
  // -1.25 is 29 December 1899, 06:00: the fraction counts from midnight.
  DecodeDate(-1.25, year, month, day);
  DecodeTime(-1.25, hour, minute, second, ms);
  EXPECT_EQ(year * 10000 + month * 100 + day, 18991229);
  EXPECT_EQ(hour, 6);
  // A value a hair below midnight rounds to the next day, not to 24:00.
  DecodeDate(1.9999999999, year, month, day);
  DecodeTime(1.9999999999, hour, minute, second, ms);
  EXPECT_EQ(year * 10000 + month * 100 + day, 19000101);
  EXPECT_EQ(hour + minute + second + ms, 0);
}

TEST(DateTime, DosDateTimeRoundTrip) {
  struct TDosCase {
    int Year, Month, Day, Hour, Minute, Second;
  };
  const TDosCase cases[] = {{1980, 1, 1, 0, 0, 0},
                            {2107, 12, 31, 23, 59, 58},
                            {2024, 2, 29, 12, 30, 44},
                            {2018, 5, 14, 9, 5, 2}};
  for (const TDosCase& c : cases) {
    SCOPED_TRACE(c.Year);
    const uint32_t dos = uint32_t((c.Year - 1980) << 9 | c.Month << 5 | c.Day) << 16 |
                         uint32_t(c.Hour << 11 | c.Minute << 5 | c.Second / 2);
    const TDateTime value =
        EncodeDate(c.Year, c.Month, c.Day) + EncodeTime(c.Hour, c.Minute, c.Second, 0);
    EXPECT_EQ(uint32_t(DateTimeToFileDate(value)), dos);
    EXPECT_NEAR(FileDateToDateTime(int32_t(dos)), value, 1e-9);
  }
  // Odd seconds are dropped; years the word cannot hold give 0.
  EXPECT_EQ(DateTimeToFileDate(EncodeDate(2000, 1, 1) + EncodeTime(0, 0, 59, 999)) & 0x1F, 29);
  EXPECT_EQ(DateTimeToFileDate(EncodeDate(1979, 12, 31)), 0);
  EXPECT_EQ(DateTimeToFileDate(EncodeDate(2108, 1, 1)), 0);
}

TEST(DateTime, UnixSecondsUseTheLocalZone) {
  {
    TTimeZone utc("UTC0");
    EXPECT_EQ(UnixToDateTime(0), 25569.0);
    EXPECT_EQ(UnixToDateTime(86400 + 43200), 25570.5);
    EXPECT_EQ(DateTimeToUnix(25570.5), 86400 + 43200);
  }
  {
    TTimeZone east("XYZ-3");  // three hours ahead of UTC
    EXPECT_NEAR(UnixToDateTime(0), 25569.0 + 3.0 / 24, 1e-9);
    EXPECT_EQ(DateTimeToUnix(EncodeDate(2024, 6, 1) + EncodeTime(3, 0, 0, 0)),
              int64_t(EncodeDate(2024, 6, 1) - 25569) * 86400);
    const int64_t now = 1717243200;
    EXPECT_EQ(DateTimeToUnix(UnixToDateTime(now)), now);
  }
}
