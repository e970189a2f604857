// Vozidir: the backup program. Started with the first argument "7384" it runs
// the whole wizard unattended and closes.
#include <iostream>
#include <string>
#include <vector>

#include "backup/AnaUnit.h"
#include "desktop/KlasoreGozatFormUnit.h"
#include "platform/Forms.h"
#include "platform/HeadlessForms.h"

int main(int argc, char** argv) {
  THeadlessBackend backend(&std::cin, &std::cout);
  TApplication application(backend, argc > 0 ? argv[0] : "Vozidir");
  application.SetTitle("Zelvora Yedek");
  TKlasoreGozatRef picker(application);
  // The archive-writing component is not part of this build yet: a run
  // stops with EArchiveWriterMissing before the database service is touched.
  TAnaForm form(application, std::vector<std::string>(argv + 1, argv + argc), picker, nullptr);
  picker.Create();
  application.Run();
  return 0;
}
