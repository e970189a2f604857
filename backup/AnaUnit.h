// The backup program's main window: a two-page wizard ("İleri", "Başlat",
// "Son" on sButton2 is its state), its start-up checks and settings file, the
// unattended mode, and the backup run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "backup/BinaryTableFormat.h"
#include "desktop/KlasoreGozatFormUnit.h"
#include "platform/Forms.h"
#include "platform/MemTable.h"

// The operations of the archive-writing component that the run drives.
class TBackupZipper {
 public:
  virtual ~TBackupZipper() = default;
  // A name that does not exist yet creates a new, empty archive.
  virtual void SetFileName(const std::string& fileName) = 0;
  virtual void SetPassword(const std::string& password) = 0;
  // Records the files matching `mask` (a full path) for adding on Save.
  virtual void AddMatching(const std::string& mask, uint32_t attributes) = 0;
  // Writes the archive; reports progress (0 to 100) through OnArchiveSaveProgress.
  virtual void Save() = 0;
  virtual void CloseFile() = 0;

  std::function<void(uint8_t progress)> OnArchiveSaveProgress;
};

class TAnaForm : public TForm {
 public:
  static constexpr const char* kRoot = "C:\\Zelvora";
  static constexpr const char* kDataFolder = "C:\\Zelvora\\Data";
  static constexpr const char* kBackupFolder = "C:\\Zelvora\\Yedek";
  static constexpr const char* kSettingsFile = "C:\\Zelvora\\Vozidir.zvr";
  static constexpr const char* kPassword = "735296482913572";
  static constexpr const char* kUnattended = "7384";

  // Creates the window and runs FormCreate. `args` are the program's
  // arguments after its name. `picker` is the program's folder picker
  // reference (used by "Seç"); `zip` the archive-writing component, owned:
  // without one, the run fails where the archive is to be named
  // (EArchiveWriterMissing), before the database service is stopped.
  TAnaForm(TApplication& application, std::vector<std::string> args, TKlasoreGozatRef& picker,
           std::unique_ptr<TBackupZipper> zip);
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
  void ZipArchiveSaveProgress(uint8_t progress);

  // The backup run ("Başlat"), which ends on the final page "Son".
  void RunBackup();
  // Every name of the backup list, then a pause of 500 ms.
  void StopSuiteProcesses();
  // The copy to the folder `ikinciyol` when `ikinci` is true; its failure is silent.
  void MakeSecondCopy(const std::string& archiveName, const std::string& archivePath);
  // sonyedek := today on the first record, saved to the settings file.
  void RecordBackupDate();
  // YYYYMMDDHHmm.zip from Clock(): the date, then the time of day.
  static std::string ArchiveName();

  TMemTable& YedekDB() { return FYedekDB; }
  TBinaryTableFormat& YedekFormat() { return FYedekFormat; }
  TTimer& Timer1() { return FTimer1; }

 private:
  TBackupZipper& Zip(const std::string& archivePath);
  void ShowPage2();
  void ShowFinalPage();
  void CreateBackupFolder();
  void LoadOrCreateSettings();

  std::vector<std::string> FArgs;
  TKlasoreGozatRef& FPicker;
  std::unique_ptr<TBackupZipper> FZip;
  TMemTable FYedekDB;
  TBinaryTableFormat FYedekFormat;
  TTimer FTimer1;
};

// The run reached the archive without an archive-writing component:
// "No archive component: cannot write the archive PATH".
class EArchiveWriterMissing : public Exception {
 public:
  explicit EArchiveWriterMissing(const std::string& archivePath);
};
