// Which window backend a program runs on: the real windows of Qt when the
// program was built with them and there is somewhere to draw them, else the
// headless one. Both programs' main() choose through here.
#pragma once

#include <cstdlib>
#include <functional>
#include <iosfwd>
#include <memory>

#include "platform/Forms.h"

enum class TWindowSystem { Headless, Qt };

// Whether this build has the Qt backend.
bool QtWindowsBuilt();

// ZELVORA_UI=qt or ZELVORA_UI=headless forces the choice (qt only when
// built); otherwise Qt when built and a display (DISPLAY, WAYLAND_DISPLAY) or
// the offscreen platform (QT_QPA_PLATFORM=offscreen) is there. `getenv`
// reads the environment.
TWindowSystem ChooseWindowSystem(const std::function<const char*(const char*)>& getenv =
                                     [](const char* name) { return std::getenv(name); });

// The backend of ChooseWindowSystem(). Qt takes its own options out of argc
// and argv, which must outlive the backend; the headless backend reads its
// commands from `input` and prints to `output` (neither owned).
std::unique_ptr<TWindowBackend> CreateWindowBackend(int& argc, char** argv, std::istream* input,
                                                    std::ostream* output);
