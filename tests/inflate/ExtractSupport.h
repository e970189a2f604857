// Shared helpers of the extraction and unzipper tests: a temporary C: drive,
// the oracle tools, test bytes and a recorder of item failures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/AbUnzper.h"

namespace extract_test {

// A fresh host folder mapped as drive C: for the lifetime of the object.
class TTempDrive {
 public:
  TTempDrive();
  ~TTempDrive();
  TTempDrive(const TTempDrive&) = delete;
  TTempDrive& operator=(const TTempDrive&) = delete;

  // The host path of a path relative to the drive's root ("a/b.txt").
  std::string Host(const std::string& relative) const;
  // Writes a host file (folders made as needed).
  void Write(const std::string& relative, const std::string& bytes) const;
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  void MakeFolder(const std::string& relative) const;
  // Names in a folder of the drive, sorted.
  std::vector<std::string> List(const std::string& relativeFolder) const;

 private:
  std::string FRoot;
  std::string FOldDrive;
  bool FHadOldDrive = false;
};

// Runs a shell command; returns its exit status and puts its output in `output`.
int RunCommand(const std::string& command, std::string& output);
bool HaveTool(const std::string& name);
std::string ShellQuote(const std::string& text);

// Bytes from a fixed seed: words (compressible) or noise.
std::string WordBytes(size_t length, uint32_t seed);
std::string NoiseBytes(size_t length, uint32_t seed);

// The legacy fixture folder of the project's test data.
std::string LegacyDataDir();
std::string ReadHostFile(const std::string& path);

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
