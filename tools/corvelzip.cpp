// corvelzip: lists, tests, extracts and adds entries of ZIP archives with the
// engine's zipper and unzipper. See ZipUsageText for the command line.
#include <malloc.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/CorvelZipArgs.h"
#include "tools/CorvelZipProgress.h"
#include "tools/CorvelZipRun.h"

namespace {

// The encoder takes its window and tables afresh for every file it packs.
// Freed, they stay in the heap for the next file: handed back to the system,
// each file would take them again as new zeroed pages, one fault per page.
void KeepFreedMemoryForReuse() {
  ::mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  ::mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
}

}  // namespace

int main(int argc, char** argv) {
  KeepFreedMemoryForReuse();
  const std::vector<std::string> args(argv + 1, argv + argc);
  TZipCommand command;
  try {
    command = ParseZipCommandLine(args);
  } catch (const EZipUsage& e) {
    std::cerr << "corvelzip: " << e.Message() << "\nTry 'corvelzip --help'.\n";
    return kZipUnusable;
  }
  if (command.Kind == TZipCommandKind::Help) {
    std::cout << ZipUsageText();
    return kZipSuccess;
  }
  TZipProgress progress(std::cerr, isatty(STDERR_FILENO) != 0);
  return RunZipCommand(command, std::cout, std::cerr, progress);
}
