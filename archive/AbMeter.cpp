#include "archive/AbMeter.h"

#include <algorithm>

TAbMeter::~TAbMeter() {
  for (TAbVCLMeterLink* link : FLinks) link->FMeter = nullptr;
}

void TAbMeter::SetPosition(int Value) {
  if (Value == FPosition) return;
  FPosition = Value;
  Repaint();
  ProcessMessages();
}

int TAbMeter::FilledPercent() const {
  if (FPosition >= 100) return 0;
  return std::max(FPosition, 0);
}

TAbVCLMeterLink::~TAbVCLMeterLink() {
  SetMeter(nullptr);
}

void TAbVCLMeterLink::SetMeter(TAbMeter* Value) {
  if (FMeter != nullptr) {
    auto& links = FMeter->FLinks;
    links.erase(std::remove(links.begin(), links.end(), this), links.end());
  }
  FMeter = Value;
  if (FMeter != nullptr) FMeter->FLinks.push_back(this);
}

void TAbVCLMeterLink::DoProgress(uint8_t Progress) {
  if (FMeter != nullptr) FMeter->SetPosition(Progress);
}

void TAbVCLMeterLink::Reset() {
  if (FMeter != nullptr) FMeter->SetPosition(0);
}
