// The progress meter control and the link that feeds it from the archive
// components. The window layer derives from TAbMeter to draw the bar and to
// pump its window messages.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/AbBrowse.h"

class TAbVCLMeterLink;

// A horizontal bar showing a percentage as its filled share.
class TAbMeter {
 public:
  TAbMeter() = default;
  // Links showing on this meter forget it.
  virtual ~TAbMeter();
  TAbMeter(const TAbMeter&) = delete;
  TAbMeter& operator=(const TAbMeter&) = delete;

  int Position() const { return FPosition; }
  // A new value repaints the bar at once and then pumps pending window
  // messages, so an operation reporting progress keeps the window responsive.
  void SetPosition(int Value);
  // The filled share of the bar in percent: the position, or 0 (empty) from
  // 100 on.
  int FilledPercent() const;

 protected:
  // Draws the bar with FilledPercent now.
  virtual void Repaint() = 0;
  // Handles the window messages that are pending.
  virtual void ProcessMessages() = 0;

 private:
  friend class TAbVCLMeterLink;
  int FPosition = 0;
  std::vector<TAbVCLMeterLink*> FLinks;
};

// A meter link showing on a TAbMeter (not owned; none: nothing is shown).
class TAbVCLMeterLink : public TAbMeterLink {
 public:
  TAbVCLMeterLink() = default;
  ~TAbVCLMeterLink() override;

  TAbMeter* Meter() const { return FMeter; }
  void SetMeter(TAbMeter* Value);

  // The meter shows Progress.
  void DoProgress(uint8_t Progress) override;
  // The meter shows 0.
  void Reset() override;

 private:
  friend class TAbMeter;
  TAbMeter* FMeter = nullptr;
};
