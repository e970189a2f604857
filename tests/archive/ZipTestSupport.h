// Shared helpers of the ZIP archive tests: a temporary C: drive, host file
// access, a hook that stores files (method 0) and one that copies stored data
// back out, and running the oracle tools.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "archive/AbZipTyp.h"

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
  // Names of the files directly in a folder of the drive.
  std::vector<std::string> List(const std::string& relativeFolder) const;

 private:
  std::string FRoot;
  std::string FOldDrive;
  bool FHadOldDrive = false;
};

// Runs a shell command; returns its exit status and puts its output in `output`.
int RunCommand(const std::string& command, std::string& output);
bool HaveTool(const std::string& name);

// CRC-32 of bytes, as the headers carry it.
uint32_t CrcOf(const std::string& bytes);

// InsertHook storing the item's file (DiskPath) unchanged: method 0, CRC,
// sizes, time and attributes of the file.
void StoreFileHook(TAbArchive& Sender, TAbArchiveItem& Item, TStream& OutStream);

// Reads the stored data of `item` (method 0), switching volumes of a spanned
// set as needed, and checks its CRC. Raises EAbZipBadCRC on a mismatch.
std::string ReadStoredData(TAbZipArchive& archive, TAbZipItem& item);

// An ExtractHook collecting the stored data of each extracted item by name.
struct TCollectingExtractor {
  std::map<std::string, std::string> Data;
  TAbItemExtractHook Hook();
};
