// A progress meter of the archive components drawn on a window's gauge or
// meter control; each new value pumps the window's pending messages.
#pragma once

#include <string>

#include "archive/AbMeter.h"
#include "platform/Forms.h"

class TFormMeter : public TAbMeter {
 public:
  // Draws on `control` of `form` (not owned; the form outlives the meter).
  TFormMeter(TForm& form, std::string control);

 protected:
  void Repaint() override;
  void ProcessMessages() override;

 private:
  TForm& FForm;
  std::string FControl;
};
