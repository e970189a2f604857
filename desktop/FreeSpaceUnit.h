// The free-space check of a backup: made before anything is stopped, so that
// a full drive costs the pharmacy nothing but a message.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/SysUtils.h"

// Free bytes on the drive of a Windows path, -1 when unknown (DiskFree).
using TFreeSpaceQuery = std::function<int64_t(const std::string& path)>;

struct TSuiteDataFile {
  std::string Path;  // full Windows path
  int64_t Size = 0;
};

// The ordinary files of the data folder (SuiteDataFiles) with their sizes.
std::vector<TSuiteDataFile> SuiteDataFileSizes();

// An upper bound of the archive of `files`: an entry is stored when deflating
// does not make it smaller, so its data take at most its size and the cipher
// header; add both headers with names and extra fields, the data descriptor
// and the end record.
int64_t SuiteArchiveSizeBound(const std::vector<TSuiteDataFile>& files);

// The drive is too full for the archive.
class EBackupSpace : public Exception {
 public:
  EBackupSpace(const std::string& folder, int64_t needed, int64_t available);
};

// EBackupSpace when the drive of `backupFolder` has less than the archive's
// bound free. An unknown free space (-1) lets the run go on: the save then
// reports a full drive itself.
void CheckBackupSpace(const std::string& backupFolder, const std::vector<TSuiteDataFile>& files,
                      const TFreeSpaceQuery& freeSpace);
