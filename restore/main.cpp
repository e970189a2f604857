// Restorekeep: the restore program. It takes no arguments.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "desktop/KlasoreGozatFormUnit.h"
#include "platform/Clock.h"
#include "platform/Forms.h"
#include "platform/Processes.h"
#include "platform/ui/WindowSystem.h"
#include "restore/AnaUnit.h"

int main(int argc, char** argv) {
  KeepFreedMemoryForReuse();
  // For tests of the whole program: the fixed pauses advance a clock that
  // starts at the real time instead of waiting.
  std::unique_ptr<TVirtualClock> virtualClock;
  if (const char* clock = std::getenv("ZELVORA_CLOCK"); clock && std::string(clock) == "virtual") {
    virtualClock = std::make_unique<TVirtualClock>(Clock().Now());
    SetClock(virtualClock.get());
  }
  // Real windows where there is a display, else headless (commands on stdin).
  const std::unique_ptr<TWindowBackend> backend =
      CreateWindowBackend(argc, argv, &std::cin, &std::cout);
  // No title is set: the error boxes are headed with the program's name.
  TApplication application(*backend, argc > 0 ? argv[0] : "Restorekeep");
  TKlasoreGozatRef picker(application);
  TAnaForm form(application, picker);
  picker.Create();
  application.Run();
  SetClock(nullptr);
  return 0;
}
