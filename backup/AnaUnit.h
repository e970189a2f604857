// The backup program's main window: a two-page wizard ("İleri", "Başlat",
// "Son" on sButton2 is its state), its start-up checks and settings file, the
// unattended mode, and the backup run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/AbMeter.h"
#include "backup/BinaryTableFormat.h"
#include "desktop/FormMeterUnit.h"
#include "desktop/KlasoreGozatFormUnit.h"
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
  // timer when the first argument is "7384".
  void FormCreate();
  void sButton1Click();
  // One wizard step per press: "Son" closes, "Başlat" runs the backup,
  // "İleri" shows page 2, each tested afresh in this order.
  void sButton2Click();
  void sButton3Click();
  void Timer1Timer();
  // Pumps pending messages; the meter shows the progress itself.
  void ZipArchiveSaveProgress(uint8_t progress);

  // The backup run ("Başlat"), which ends on the final page "Son". A failure
  // goes to the caller after the database service, if the run stopped it,
  // was started again and "Son" was shown. A failed second copy is raised
  // (EInOutError with the system's text) after the date was recorded.
  void RunBackup();
  // Every name of the backup list, then a pause of 500 ms.
  void StopSuiteProcesses();
  // The copy to the folder `ikinciyol` when `ikinci` is true. Returns the
  // Windows error of a failed copy; 0 when it was copied or not attempted.
  int MakeSecondCopy(const std::string& archiveName, const std::string& archivePath);
  // sonyedek := today on the first record, saved to the settings file.
  void RecordBackupDate();
  // YYYYMMDDHHmm.zip from Clock(): the date, then the time of day.
  static std::string ArchiveName();

  TMemTable& YedekDB() { return FYedekDB; }
  TBinaryTableFormat& YedekFormat() { return FYedekFormat; }
  TTimer& Timer1() { return FTimer1; }
  TAbMeter& AbMeter1() { return FAbMeter1; }

 private:
  void ShowPage2();
  // Steps up to the start of the service; returns the archive's name.
  std::string WriteArchive(const std::string& backupFolder);
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
  TMemTable FYedekDB;
  TBinaryTableFormat FYedekFormat;
  TTimer FTimer1;
};
