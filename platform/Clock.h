// Now, today and Sleep behind one object, so that tests can run the fixed
// pauses of the programs in no time while still seeing them.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/DateTime.h"

class TClock {
 public:
  virtual ~TClock() = default;
  virtual TDateTime Now() = 0;
  TDateTime Date();  // today, time of day 0
  TDateTime Time();  // time of day only
  virtual void Sleep(uint32_t milliseconds) = 0;
};

// The host's local clock; Sleep really waits.
class TSystemClock : public TClock {
 public:
  TDateTime Now() override;
  void Sleep(uint32_t milliseconds) override;
};

// A clock that stands still until told; Sleep records and advances.
class TVirtualClock : public TClock {
 public:
  explicit TVirtualClock(TDateTime start);
  TDateTime Now() override { return FNow; }
  void Sleep(uint32_t milliseconds) override;
  void Advance(uint32_t milliseconds);
  const std::vector<uint32_t>& Sleeps() const { return FSleeps; }

 private:
  TDateTime FNow;
  TDateTime FStart;
  uint64_t FElapsed = 0;  // milliseconds advanced since FStart
  std::vector<uint32_t> FSleeps;
};

// The clock the programs use: the system clock unless a test installs another.
TClock& Clock();
// Installs `clock` (not owned) as the process's clock; nullptr restores the system clock.
void SetClock(TClock* clock);
