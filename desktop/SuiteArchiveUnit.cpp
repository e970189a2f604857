#include "desktop/SuiteArchiveUnit.h"

#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "platform/SysUtils.h"

bool SuiteFoldersExist() {
  return DirectoryExists(kSuiteRoot) && DirectoryExists(kSuiteDataFolder);
}

void CreateBackupFolderIfMissing() {
  if (DirectoryExists(kSuiteBackupFolder)) return;
  ChDir(kSuiteRoot);
  if (!CreateDir("Yedek")) throw EInOutError(GetLastError());
}

std::string SuiteArchiveName() {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
  DecodeDate(Clock().Date(), year, month, day);
  DecodeTime(Clock().Time(), hour, minute, second, millisecond);
  return Format("%d%02d%02d%02d%02d.zip", year, month, day, hour, minute);
}

std::vector<std::string> SuiteDataFiles() {
  return ListFiles(kSuiteDataFolder, "*.*");
}

std::string SuiteDataPath(const std::string& name) {
  return std::string(kSuiteDataFolder) + "\\" + name;
}

TAbSuiteZipper::TAbSuiteZipper() {
  FZip.SetAutoSave(false);
  FZip.SetDOSMode(false);
  FZip.OnArchiveSaveProgress = [this](TAbBaseComponent&, uint8_t progress, bool&) {
    if (OnArchiveSaveProgress) OnArchiveSaveProgress(progress);
  };
}

void TAbSuiteZipper::SetFileName(const std::string& fileName) {
  FZip.SetFileName(fileName);
}

void TAbSuiteZipper::SetPassword(const std::string& password) {
  FZip.SetPassword(password);
}

void TAbSuiteZipper::AddMatching(const std::string& mask, uint32_t attributes) {
  FZip.AddMatching(mask, attributes);
}

void TAbSuiteZipper::Save() {
  FZip.Save();
}

void TAbSuiteZipper::CloseFile() {
  FZip.CloseFile();
}

void TAbSuiteZipper::SetProgressMeter(TAbMeterLink* link) {
  FZip.SetArchiveProgressMeter(link);
  FZip.SetItemProgressMeter(link);
  FZip.SetArchiveSaveProgressMeter(link);
}
