#include "desktop/RunLogUnit.h"

#include <algorithm>
#include <exception>

#include "platform/Classes.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/SysUtils.h"

namespace {

constexpr double kSecondsPerDay = 86400.0;

std::string DateTimeText(TDateTime when) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  DecodeDate(when, year, month, day);
  DecodeTime(when, hour, minute, second, millisecond);
  return Format("%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
}

// One line per event: a multi-line message (the restore's failed entries)
// is kept on the event's line.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\r') continue;
    line += c == '\n' ? std::string("; ") : std::string(1, c);
  }
  return line;
}

}  // namespace

std::string RunLogLine(const TRunLogEntry& entry) {
  std::string line = DateTimeText(entry.Started) + " " + entry.Step;
  if (!entry.Archive.empty()) line += " archive=\"" + entry.Archive + "\"";
  if (entry.Files >= 0) line += " files=" + std::to_string(entry.Files);
  if (entry.Bytes >= 0) line += " bytes=" + std::to_string(entry.Bytes);
  line += Format(" duration=%.3fs", std::max(entry.Seconds, 0.0));
  if (entry.Error.empty()) return line + " result=OK";
  return line + " result=FAILED error=\"" + OneLine(entry.Error) + "\"";
}

bool AppendRunLog(const std::string& logFile, const TRunLogEntry& entry) {
  const std::string line = RunLogLine(entry) + "\r\n";
  try {
    const bool exists = FileExists(logFile);
    TFileStream file(logFile, exists ? uint16_t(fmOpenReadWrite) : uint16_t(fmCreate));
    file.Seek(0, soFromEnd);
    file.WriteBuffer(line.data(), int64_t(line.size()));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::string CurrentExceptionText() {
  const std::exception_ptr current = std::current_exception();
  if (!current) return std::string();
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
}

TRunLogStep::TRunLogStep(std::string logFile, std::string step) : FLogFile(std::move(logFile)) {
  FEntry.Step = std::move(step);
  FEntry.Started = Clock().Now();
}

void TRunLogStep::Restart() {
  FEntry.Started = Clock().Now();
}

void TRunLogStep::Succeeded() {
  FEntry.Error.clear();
  Finish();
}

void TRunLogStep::Failed(const std::string& error) {
  FEntry.Error = error.empty() ? std::string("unknown error") : error;
  Finish();
}

void TRunLogStep::Finish() {
  FEntry.Seconds = (Clock().Now() - FEntry.Started) * kSecondsPerDay;
  AppendRunLog(FLogFile, FEntry);
}
