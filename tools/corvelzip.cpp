// corvelzip: lists, tests, extracts and adds entries of ZIP archives with the
// engine's zipper and unzipper. See ZipUsageText for the command line.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "platform/Processes.h"
#include "tools/CorvelZipArgs.h"
#include "tools/CorvelZipProgress.h"
#include "tools/CorvelZipRun.h"

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
