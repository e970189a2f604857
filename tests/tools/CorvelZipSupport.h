// Helpers of the corvelzip tests: a scratch folder, running the built program
// as a process, and the oracle tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh host folder, removed with everything in it at the end.
class TScratch {
 public:
  TScratch();
  ~TScratch();
  TScratch(const TScratch&) = delete;
  TScratch& operator=(const TScratch&) = delete;

  const std::string& Root() const { return FRoot; }
  // The host path of a path relative to the folder ("a/b.txt").
  std::string Host(const std::string& relative) const;
  // Writes a file, making its folders.
  void Write(const std::string& relative, const std::string& bytes) const;
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;

 private:
  std::string FRoot;
};

struct TToolRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

// Runs the built corvelzip with Args in the folder WorkDir; Environment is
// put before the command ("ZELVORA_DRIVE_C=/x").
TToolRun RunCorvelZip(const std::vector<std::string>& Args, const std::string& WorkDir,
                      const std::string& Environment = "");

// Runs a shell command; returns its exit status with its output (both streams).
int RunCommand(const std::string& command, std::string& output);
bool HaveTool(const std::string& name);
std::string ShellQuote(const std::string& text);

// Bytes from a fixed seed: words (compressible) or noise (incompressible).
std::string WordBytes(size_t length, uint32_t seed);
std::string NoiseBytes(size_t length, uint32_t seed);
