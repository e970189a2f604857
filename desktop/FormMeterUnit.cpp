#include "desktop/FormMeterUnit.h"

TFormMeter::TFormMeter(TForm& form, std::string control)
    : FForm(form), FControl(std::move(control)) {}

void TFormMeter::Repaint() {
  // The control keeps its maximum of 100.
  FForm.SetGaugePosition(FControl, FilledPercent());
}

void TFormMeter::ProcessMessages() {
  FForm.Application().ProcessMessages();
}
