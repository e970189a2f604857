// What the test suites share: a temporary drive C:, running the oracle tools,
// and test bytes made from a fixed seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh host folder mapped as drive C: for the lifetime of the object; the
// current directory and the old mapping come back afterwards.
class TTempDrive {
 public:
  TTempDrive();
  ~TTempDrive();
  TTempDrive(const TTempDrive&) = delete;
  TTempDrive& operator=(const TTempDrive&) = delete;

  const std::string& Root() const { return FRoot; }
  // The host path of a path relative to the drive's root ("Zelvora/Data/x.mdf").
  std::string Host(const std::string& relative) const;
  void MakeFolder(const std::string& relative) const;
  // Writes a host file, making its folders as needed.
  void Write(const std::string& relative, const std::string& bytes) const;
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  // Names in a folder of the drive, sorted.
  std::vector<std::string> List(const std::string& relativeFolder) const;

 private:
  std::string FRoot;
  std::string FOldDrive;
  bool FHadOldDrive = false;
  std::string FOldCurrent;
};

// A `net` first on the PATH that logs its arguments, for as long as the object
// lives. The commands run detached, so they may finish in any order; each
// line carries the id of the shell that started it, and those ids follow the
// order of the calls.
class TRecordingNet {
 public:
  explicit TRecordingNet(const TTempDrive& drive);
  ~TRecordingNet();
  TRecordingNet(const TRecordingNet&) = delete;
  TRecordingNet& operator=(const TRecordingNet&) = delete;

  // The commands in the order they were started, waiting (boundedly) for `count` of them.
  std::vector<std::string> Commands(size_t count) const;

 private:
  std::string FLog;
  std::string FOldPath;
};

// Runs a shell command; returns its exit status and puts its output (stdout
// and stderr) in `output`.
int RunCommand(const std::string& command, std::string& output);
bool HaveTool(const std::string& name);
// The text quoted for a POSIX shell.
std::string ShellQuote(const std::string& text);
// The whole content of a host file (empty when it cannot be read).
std::string ReadHostFile(const std::string& path);
// Little-endian fields of archive bytes, as ZIP records hold them (`size` 1 to 4).
uint32_t GetLE(const std::string& bytes, size_t at, int size);
void Put16(std::string& bytes, size_t at, uint16_t value);
void Put32(std::string& bytes, size_t at, uint32_t value);
// Flips the bits of `mask` in the byte at `at` of a host file, as a failing disk would.
void FlipHostFileByte(const std::string& path, int64_t at, uint8_t mask);
// The lines of a run log on the drive ("Zelvora/Vozidir.log"), each without
// its CR LF; a last line without one is marked " <no line end>". None when
// the file is missing.
std::vector<std::string> LogLines(const TTempDrive& drive, const std::string& relative);

// Bytes made from a fixed seed: words (compressible text) or noise.
std::string WordBytes(size_t length, uint32_t seed);
std::string NoiseBytes(size_t length, uint32_t seed);
