// The run logs of the backup and the restore program: a few lines per run,
// one per step outcome, so that the runs nobody watched can be read later.
#pragma once

#include <cstdint>
#include <string>

#include "platform/DateTime.h"

constexpr const char* kBackupLogFile = "C:\\Zelvora\\Vozidir.log";
constexpr const char* kRestoreLogFile = "C:\\Zelvora\\Restorekeep.log";

// What one step of a run did. Files and Bytes below 0 are left out of the line.
struct TRunLogEntry {
  TDateTime Started = 0;
  std::string Step;     // "backup", "second copy", "start-up", "safety archive", "restore"
  std::string Archive;  // full path; empty when the step had none
  int Files = -1;
  int64_t Bytes = -1;
  double Seconds = 0;
  std::string Error;  // empty: the step succeeded
};

// One line without its end:
// `YYYY-MM-DD HH:MM:SS STEP archive="PATH" files=N bytes=N duration=S.SSSs result=OK`,
// a failed step ending in `result=FAILED error="TEXT"` (line breaks of the text
// become "; ").
std::string RunLogLine(const TRunLogEntry& entry);

// Appends the entry's line and CR LF to `logFile` (a Windows path; UTF-8 like
// every text here), creating the file when missing. A log that cannot be
// written must not turn a run into a failure: false then, and nothing raised.
bool AppendRunLog(const std::string& logFile, const TRunLogEntry& entry);

// The message of the exception being handled ("unknown error" when it is no
// std::exception); empty outside a handler.
std::string CurrentExceptionText();

// Times one step of a run on Clock() and appends its line when told the outcome.
class TRunLogStep {
 public:
  // Starts the step now.
  TRunLogStep(std::string logFile, std::string step);

  TRunLogEntry& Entry() { return FEntry; }
  // Starts the step again now (a step that follows a long one).
  void Restart();
  // Appends the step's line: a success, or a failure with `error`.
  void Succeeded();
  void Failed(const std::string& error);

 private:
  void Finish();

  std::string FLogFile;
  TRunLogEntry FEntry;
};
