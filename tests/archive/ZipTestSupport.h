// Shared helpers of the ZIP archive tests: a temporary C: drive, host file
// access, a hook that stores files (method 0) and one that copies stored data
// back out, and running the oracle tools.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "archive/AbZipTyp.h"
#include "tests/support/TestSupport.h"

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
