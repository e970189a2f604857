// Shared helpers of the component tests: a temporary C: drive, host file
// access, the oracle tools and a reader of the records a saved archive holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

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
