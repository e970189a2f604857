// The build both wizards share: the left panel with the picture and the maker
// label, the bottom panel with "İptal" and "İleri", and the main panel with
// the page title and the two warnings of page 1.
#pragma once

#include <string>

#include "platform/Forms.h"

constexpr TColor kWizardDarkBlue = 5059883;  // red 43, green 53, blue 77

TControlDef WizardControl(const std::string& name, TControlKind kind, const std::string& parent,
                          const std::string& caption, int left, int top, int width, int height,
                          bool visible = true);

// The main window "AnaForm" of 570 x 380 with the shared controls; `label2`
// is the program's own second warning. Each program adds its page controls.
TWindowDef WizardWindow(const std::string& caption, const std::string& title,
                        const std::string& label2);
