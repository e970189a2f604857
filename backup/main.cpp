// Vozidir: the backup program. Started with the first argument "7384" it runs
// the whole wizard unattended and closes; its exit status then tells the
// scheduler how the night went (0 done, 1 failed backup, 2 failed start-up).
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "backup/AnaUnit.h"
#include "desktop/KlasoreGozatFormUnit.h"
#include "desktop/SuiteArchiveUnit.h"
#include "platform/Clock.h"
#include "platform/Forms.h"
#include "platform/Processes.h"
#include "platform/ui/WindowSystem.h"

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
  TApplication application(*backend, argc > 0 ? argv[0] : "Vozidir");
  application.SetTitle("Zelvora Yedek");
  TKlasoreGozatRef picker(application);
  TAnaForm form(application, std::vector<std::string>(argv + 1, argv + argc), picker,
                std::make_unique<TAbSuiteZipper>());
  picker.Create();
  application.Run();
  const int exitCode = form.ExitCode();
  SetClock(nullptr);
  return exitCode;
}
