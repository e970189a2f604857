// Shared helpers of the component tests: a temporary C: drive, host file
// access, the oracle tools and a reader of the records a saved archive holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

 private:
  std::string FRoot;
  std::string FOldDrive;
  bool FHadOldDrive = false;
};

// Runs a shell command; returns its exit status and puts its output in `output`.
int RunCommand(const std::string& command, std::string& output);
bool HaveTool(const std::string& name);
// The text quoted for a POSIX shell.
std::string ShellQuote(const std::string& text);

// Bytes made from a fixed seed: `length` bytes of words (compressible) or of
// noise (incompressible).
std::string WordBytes(size_t length, uint32_t seed);
std::string NoiseBytes(size_t length, uint32_t seed);

// One entry as the archive file holds it.
struct TRecordedEntry {
  std::string Name;
  uint16_t VersionNeeded = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint16_t Time = 0;
  uint16_t Date = 0;
  uint32_t Crc = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint32_t ExternalAttributes = 0;
  uint16_t InternalAttributes = 0;
  // The local header agrees with the central one on every shared field.
  bool LocalMatches = false;
  // The data as stored (encryption header included).
  std::string Data;
  // The 12 bytes after the data were a descriptor (CRC, sizes) matching the
  // entry, and the next record starts right after them.
  bool HasDescriptor = false;
};

// Reads every entry of a single-file archive from its central directory and
// local headers; raises std::runtime_error on a malformed file.
std::vector<TRecordedEntry> ReadEntries(const std::string& hostArchive);
