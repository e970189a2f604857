#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "platform/Clock.h"

TEST(Clock, VirtualClockRecordsSleepsAndAdvances) {
  const TDateTime start = EncodeDate(2024, 1, 31) + EncodeTime(23, 59, 59, 500);
  TVirtualClock clock(start);
  EXPECT_EQ(clock.Now(), start);
  clock.Sleep(500);
  clock.Sleep(5000);
  EXPECT_EQ(clock.Sleeps(), (std::vector<uint32_t>{500, 5000}));
  int hour, minute, second, ms, year, month, day;
  DecodeDate(clock.Now(), year, month, day);
  DecodeTime(clock.Now(), hour, minute, second, ms);
  EXPECT_EQ(year * 10000 + month * 100 + day, 20240201);
  EXPECT_EQ(hour * 10000000 + minute * 100000 + second * 1000 + ms, 5000);
  EXPECT_EQ(clock.Date(), EncodeDate(2024, 2, 1));
  EXPECT_NEAR(clock.Time(), EncodeTime(0, 0, 5, 0), 1e-9);
  clock.Advance(1000);
  EXPECT_EQ(clock.Sleeps().size(), 2u);  // advancing is no sleep
}

TEST(Clock, ManySmallSleepsDoNotDrift) {
  const TDateTime start = EncodeDate(2024, 3, 1);
  TVirtualClock clock(start);
  for (int i = 0; i < 86400; ++i) clock.Sleep(1000);
  EXPECT_EQ(clock.Now(), start + 1);
}

TEST(Clock, TheProcessClockCanBeReplaced) {
  TVirtualClock virtualClock(EncodeDate(2018, 5, 14));
  SetClock(&virtualClock);
  Clock().Sleep(10);
  EXPECT_EQ(virtualClock.Sleeps(), std::vector<uint32_t>{10});
  EXPECT_EQ(Clock().Date(), EncodeDate(2018, 5, 14));
  SetClock(nullptr);

  // The system clock tells the local time: within a minute of the C library's.
  const TDateTime now = Clock().Now();
  const time_t seconds = ::time(nullptr);
  tm local{};
  ::localtime_r(&seconds, &local);
  const TDateTime expected = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
                             EncodeTime(local.tm_hour, local.tm_min, local.tm_sec, 0);
  EXPECT_NEAR(now, expected, 60.0 / 86400);
}

TEST(Clock, SystemSleepReallyWaits) {
  TSystemClock clock;
  const auto before = std::chrono::steady_clock::now();
  clock.Sleep(30);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(30));
}
