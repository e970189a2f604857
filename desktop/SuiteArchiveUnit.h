// What the backup and the restore program agree on: the suite's folders, the
// name and password of every archive, the files of the data folder, and the
// zipper that writes an archive of them (the backup and the restore's safety
// archive are written alike).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/AbBrowse.h"
#include "archive/AbZipper.h"

constexpr const char* kSuiteRoot = "C:\\Zelvora";
constexpr const char* kSuiteDataFolder = "C:\\Zelvora\\Data";
constexpr const char* kSuiteBackupFolder = "C:\\Zelvora\\Yedek";
constexpr const char* kSuiteArchivePassword = "735296482913572";

// Both the suite root and its data folder exist; without them a program
// ends at start-up.
bool SuiteFoldersExist();
// Creates the default backup folder when it is missing: makes the root the
// current directory, then creates "Yedek" there. EInOutError when either fails.
void CreateBackupFolderIfMissing();

// YYYYMMDDHHmm.zip from Clock(): the date first, then the time of day.
std::string SuiteArchiveName();
// The ordinary files directly in the data folder (no folders, hidden or
// system files), sorted by name without regard to case: names alone.
std::vector<std::string> SuiteDataFiles();
// The full path of a data file's name.
std::string SuiteDataPath(const std::string& name);

// The operations of the archive-writing component that the runs drive.
class TSuiteZipper {
 public:
  virtual ~TSuiteZipper() = default;
  // A name that does not exist yet creates a new, empty archive.
  virtual void SetFileName(const std::string& fileName) = 0;
  virtual void SetPassword(const std::string& password) = 0;
  // Records the files matching `mask` (a full path) for adding on Save.
  virtual void AddMatching(const std::string& mask, uint32_t attributes) = 0;
  // Writes the archive; reports progress (0 to 100) through OnArchiveSaveProgress.
  virtual void Save() = 0;
  virtual void CloseFile() = 0;
  // Archive, item and save progress go to `link` (not owned; nullptr: none).
  virtual void SetProgressMeter(TAbMeterLink* link) = 0;

  std::function<void(uint8_t progress)> OnArchiveSaveProgress;
};

// TSuiteZipper over the engine's zipper, placed as both programs place it:
// AutoSave and DOSMode off.
class TAbSuiteZipper : public TSuiteZipper {
 public:
  TAbSuiteZipper();

  void SetFileName(const std::string& fileName) override;
  void SetPassword(const std::string& password) override;
  void AddMatching(const std::string& mask, uint32_t attributes) override;
  void Save() override;
  void CloseFile() override;
  void SetProgressMeter(TAbMeterLink* link) override;

  TAbZipper& Zip() { return FZip; }

 private:
  TAbZipper FZip;
};
