#include "desktop/FreeSpaceUnit.h"

#include "desktop/SuiteArchiveUnit.h"
#include "platform/FileSystem.h"

namespace {

constexpr int64_t kLocalHeader = 30;
constexpr int64_t kCentralHeader = 46;
constexpr int64_t kCipherHeader = 12;
constexpr int64_t kDataDescriptor = 16;
constexpr int64_t kEndRecord = 22;
// Extra fields of one header (time stamps, a Unicode path) stay well below this.
constexpr int64_t kExtraFields = 256;

}  // namespace

std::vector<TSuiteDataFile> SuiteDataFileSizes() {
  std::vector<TSuiteDataFile> files;
  for (const std::string& name : SuiteDataFiles()) {
    TSuiteDataFile file;
    file.Path = SuiteDataPath(name);
    TSearchRec rec;
    if (FindFirst(file.Path, faAnyFile, rec) == 0) file.Size = rec.Size;
    FindClose(rec);
    files.push_back(file);
  }
  return files;
}

int64_t SuiteArchiveSizeBound(const std::vector<TSuiteDataFile>& files) {
  int64_t bound = kEndRecord;
  for (const TSuiteDataFile& file : files) {
    // A stored name is at most the path; each of its characters takes at most
    // two bytes more in a Unicode path field than in UTF-8, so count it three times.
    const int64_t name = 3 * int64_t(file.Path.size());
    bound += file.Size + kCipherHeader + kDataDescriptor + kLocalHeader + kCentralHeader +
             2 * (name + kExtraFields);
  }
  return bound;
}

EBackupSpace::EBackupSpace(const std::string& folder, int64_t needed, int64_t available)
    : Exception(Format("Yedek klasörünün sürücüsünde yeterli boş alan yok: %s için %lld bayt "
                       "gerekli, %lld bayt boş. Hiçbir program ve hizmet durdurulmadı",
                       folder.c_str(), static_cast<long long>(needed),
                       static_cast<long long>(available))) {}

void CheckBackupSpace(const std::string& backupFolder, const std::vector<TSuiteDataFile>& files,
                      const TFreeSpaceQuery& freeSpace) {
  const int64_t available = freeSpace ? freeSpace(backupFolder) : DiskFree(backupFolder);
  if (available < 0) return;
  const int64_t needed = SuiteArchiveSizeBound(files);
  if (available < needed) throw EBackupSpace(backupFolder, needed, available);
}
