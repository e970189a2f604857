#include "platform/Clock.h"

#include <time.h>

#include <cerrno>
#include <cmath>

namespace {

TClock*& InstalledClock() {
  static TClock* installed = nullptr;
  return installed;
}

}  // namespace

TDateTime TClock::Date() {
  return std::trunc(Now());
}

TDateTime TClock::Time() {
  const TDateTime now = Now();
  return now - std::trunc(now);
}

TDateTime TSystemClock::Now() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  ::localtime_r(&now.tv_sec, &local);
  return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
         EncodeTime(local.tm_hour, local.tm_min, local.tm_sec, int(now.tv_nsec / 1000000));
}

void TSystemClock::Sleep(uint32_t milliseconds) {
  timespec left{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

TVirtualClock::TVirtualClock(TDateTime start) : FNow(start), FStart(start) {}

void TVirtualClock::Sleep(uint32_t milliseconds) {
  FSleeps.push_back(milliseconds);
  Advance(milliseconds);
}

void TVirtualClock::Advance(uint32_t milliseconds) {
  // From the start and the sum, so that many small steps do not drift.
  FElapsed += milliseconds;
  FNow = FStart + TDateTime(FElapsed) / 86400000.0;
}

TClock& Clock() {
  static TSystemClock systemClock;
  TClock* installed = InstalledClock();
  return installed ? *installed : systemClock;
}

void SetClock(TClock* clock) {
  InstalledClock() = clock;
}
