// The backup program's main window: a two-page wizard ("İleri", "Başlat",
// "Son" on sButton2 is its state), its start-up checks and settings file, the
// unattended mode with its exit status, and the backup run with its free-space
// check, its verification and its log (C:\Zelvora\Vozidir.log).
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/AbMeter.h"
#include "backup/BinaryTableFormat.h"
#include "desktop/FormMeterUnit.h"
#include "desktop/FreeSpaceUnit.h"
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
  static constexpr const char* kSettingsFile = "C:\\Zelvora\\Vozidir.zvr";
  static constexpr const char* kPassword = kSuiteArchivePassword;
  static constexpr const char* kUnattended = "7384";
  // The process's exit status in unattended mode; interactive runs end with 0.
  static constexpr int kExitOk = 0;
  static constexpr int kExitBackupFailed = 1;
  static constexpr int kExitStartUpFailed = 2;

  // Creates the window and runs FormCreate. `args` are the program's
  // arguments after its name. `picker` is the program's folder picker
  // reference (used by "Seç"); `zip` the archive-writing component, owned
  // (nullptr: the engine's zipper). Its progress is shown on AbMeter1.
  TAnaForm(TApplication& application, std::vector<std::string> args, TKlasoreGozatRef& picker,
           std::unique_ptr<TSuiteZipper> zip = nullptr);
  ~TAnaForm() override;

  // Start-up: places the labels, ends the program (closes the window before
  // it is shown) when the root or the data folder is missing, creates the
  // backup folder, loads or creates the settings file, arms the unattended
  // timer when the first argument is "7384". A failure of the last two is
  // logged; in unattended mode it is shown in the error box, then the window
  // closes, else it goes to the caller. Unattended, a missing folder or a
  // failure leaves kExitStartUpFailed.
  void FormCreate();
  void sButton1Click();
  // One wizard step per press: "Son" closes, "Başlat" runs the backup,
  // "İleri" shows page 2, each tested afresh in this order.
  void sButton2Click();
  void sButton3Click();
  // The three presses. A failure is shown in the error box, then the window
  // closes (kExitBackupFailed): nobody is there to close it.
  void Timer1Timer();
  // Pumps pending messages; the meter shows the progress itself.
  void ZipArchiveSaveProgress(uint8_t progress);

  // The backup run ("Başlat"), which ends on the final page "Son". First the
  // free-space check (EBackupSpace, before anything is stopped); the written
  // archive is verified (EArchiveVerifyFailed) before the service is started
  // again. A failure goes to the caller after the database service, if the
  // run stopped it, was started again and "Son" was shown. A failed second
  // copy (EInOutError with the system's text) or a second copy that fails its
  // verification is raised after the date was recorded. Each step's outcome
  // is appended to the run log.
  void RunBackup();
  // Every name of the backup list, then a pause of 500 ms.
  void StopSuiteProcesses();
  // The copy to the folder `ikinciyol` when `ikinci` is true, verified while
  // its panel shows. Returns the Windows error of a failed copy; 0 when it
  // was copied or not attempted. A failed verification is kept for RunBackup.
  int MakeSecondCopy(const std::string& archiveName, const std::string& archivePath);
  // sonyedek := today on the first record, saved to the settings file.
  void RecordBackupDate();
  // YYYYMMDDHHmm.zip from Clock(): the date, then the time of day.
  static std::string ArchiveName();

  TMemTable& YedekDB() { return FYedekDB; }
  TBinaryTableFormat& YedekFormat() { return FYedekFormat; }
  TTimer& Timer1() { return FTimer1; }
  TAbMeter& AbMeter1() { return FAbMeter1; }

  // kExitOk, or in unattended mode the status of a failed start-up or run.
  int ExitCode() const { return FExitCode; }
  // Where the free space of the backup folder's drive comes from (unset: DiskFree).
  void SetFreeSpaceQuery(TFreeSpaceQuery query) { FFreeSpace = std::move(query); }
  // Called with the archive's path after it was closed, before it is
  // verified; a test may damage the archive here.
  std::function<void(const std::string& archivePath)> OnArchiveClosed;

 private:
  bool Unattended() const { return !FArgs.empty() && FArgs[0] == kUnattended; }
  void StartUpFailed(const std::exception& e);
  void ShowPage2();
  // Steps up to the start of the service, with the archive's verification;
  // returns the archive's name. Fills the archive, files and bytes of `run`
  // as it goes.
  std::string WriteArchive(const std::string& backupFolder, TRunLogEntry& run);
  // The second copy's log line, when it was attempted.
  void LogSecondCopy(TRunLogStep& step, int copyError);
  void StopService();
  // The pause, then "net start mssqlserver".
  void StartService();
  void ShowSonButton();
  void ShowFinalPage();
  void LoadOrCreateSettings();

  std::vector<std::string> FArgs;
  TKlasoreGozatRef& FPicker;
  TFormMeter FAbMeter1;
  TAbVCLMeterLink FAbVCLMeterLink1;
  std::unique_ptr<TSuiteZipper> FZip;
  bool FServiceStopped = false;
  int FExitCode = kExitOk;
  TFreeSpaceQuery FFreeSpace;
  // The second copy of the running backup: its path when attempted, and
  // its failed verification.
  std::string FSecondCopyPath;
  int FSecondCopyEntries = -1;
  std::exception_ptr FSecondCopyFailure;
  TMemTable FYedekDB;
  TBinaryTableFormat FYedekFormat;
  TTimer FTimer1;
};
