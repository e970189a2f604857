// Shared helpers of the extraction and unzipper tests: a temporary C: drive,
// the oracle tools, test bytes and a recorder of item failures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/AbUnzper.h"
#include "tests/support/TestSupport.h"

namespace extract_test {

using ::HaveTool;
using ::NoiseBytes;
using ::ReadHostFile;
using ::RunCommand;
using ::ShellQuote;
using ::TTempDrive;
using ::WordBytes;

// The project's test data folder (tests/data) and its legacy fixture folder.
std::string TestDataDir();
std::string LegacyDataDir();

// One OnProcessItemFailure report.
struct TFailure {
  std::string Name;
  TAbProcessType ProcessType = ptAdd;
  TAbErrorClass ErrorClass = ecOther;
  int32_t ErrorCode = -1;
};

// Records the failures an unzipper reports.
struct TFailureLog {
  std::vector<TFailure> Failures;
  void Attach(TAbBaseBrowser& browser);
};

}  // namespace extract_test
