// The restore program's main window: a two-page wizard ("İleri", "Başlat",
// "Son" on sButton2 is its state), the list of the backups in the backup
// folder, and the restore run with its safety archive and its log
// (C:\Zelvora\Restorekeep.log).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/AbMeter.h"
#include "archive/AbUnzper.h"
#include "desktop/FormMeterUnit.h"
#include "desktop/KlasoreGozatFormUnit.h"
#include "desktop/RunLogUnit.h"
#include "desktop/SuiteArchiveUnit.h"
#include "platform/Forms.h"
#include "platform/MemTable.h"

class TAnaForm : public TForm {
 public:
  static constexpr const char* kRoot = kSuiteRoot;
  static constexpr const char* kDataFolder = kSuiteDataFolder;
  static constexpr const char* kBackupFolder = kSuiteBackupFolder;
  static constexpr const char* kPassword = kSuiteArchivePassword;
  static constexpr TColor kOddRowColor = 0xFFFFFF;
  static constexpr TColor kEvenRowColor = 14342878;

  // Creates the window and runs FormCreate. `picker` is the program's folder
  // picker reference: its "Tamam" refreshes the backup list.
  TAnaForm(TApplication& application, TKlasoreGozatRef& picker);
  ~TAnaForm() override;

  // Start-up: places the labels, ends the program (closes the window before
  // it is shown) when the root or the data folder is missing, creates the
  // backup folder.
  void FormCreate();
  void sButton1Click();
  // One wizard step per press: "Son" closes, "Başlat" restores the selected
  // backup (nothing without one), "İleri" shows page 2 and fills the list.
  void sButton2Click();
  void sButton3Click();
  // Background of the row of record `recNo` (from 1): striped, white first.
  static TColor yedek_gridGetCellParams(int recNo);

  // Rebuilds the list `kl` from the *.zip files of the folder in sEdit1 (the
  // date from the name's characters by position) and selects the last row.
  // EInOutError when the folder does not exist.
  void FillBackupList();
  // The restore run ("Başlat"): stops the suite and the database service,
  // writes the safety archive, extracts the selected archive over the data
  // folder, starts the service, ends on "Son". A failure goes to the caller
  // after "Son" was shown; the service then stays stopped. Entries that
  // could not be extracted are raised together (ERestoreFailed) after the
  // run ended, instead of the success text. The outcome of the safety
  // archive and of the extraction are appended to the run log.
  void RunRestore();
  // The current data folder into a new archive in `backupFolder`, written
  // as a backup is. Its path, file count and bytes go to SafetyFigures().
  void MakeSafetyArchive(const std::string& backupFolder);
  const TRunLogEntry& SafetyFigures() const { return FSafety; }

  TMemTable& kl() { return Fkl; }
  TAbUnZipper& UnZip() { return FUnZip; }

 protected:
  TColor GetCellColor(const std::string& grid, int row) const override;

 private:
  void ShowPage2();
  void ShowSonButton();
  void ShowFinalPage();
  void ExtractSelected(const std::string& archivePath);
  void RecordFailure(const TAbArchiveItem& item, TAbErrorClass errorClass, int32_t errorCode);
  // The entries restored (all but the failed ones) and the bytes the
  // archive's entries hold, from the open archive.
  void CountRestored(TRunLogEntry& entry) const;

  TKlasoreGozatRef& FPicker;
  TMemTable Fkl;
  TFormMeter FsGauge1;
  TAbVCLMeterLink FAbVCLMeterLink1;
  TAbSuiteZipper FZip;
  TAbUnZipper FUnZip;
  // "NAME: MESSAGE" of each entry that failed in the running extraction.
  std::vector<std::string> FFailures;
  TRunLogEntry FSafety;
};

// Entries of the restored archive could not be extracted: one line
// "NAME: MESSAGE" per entry.
class ERestoreFailed : public Exception {
 public:
  explicit ERestoreFailed(const std::vector<std::string>& failures);
};
