#include "restore/AnaUnit.h"

#include <exception>

#include "archive/AbExcept.h"
#include "archive/AbUtils.h"
#include "desktop/FreeSpaceUnit.h"
#include "desktop/KillProcessUnit.h"
#include "desktop/WizardWindowUnit.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Processes.h"
#include "platform/SysUtils.h"

namespace {

constexpr TColor kGaugeBack = 15658734;
constexpr uint32_t kServiceStopPause = 5000;
constexpr uint32_t kFilePause = 10;
constexpr int kErrorPathNotFound = 3;

const char* const kLabel2 =
    "Geri yükleme işlemi bilgisayarınızın hızına ve Zelvora veritabanındaki bilgilerin "
    "çokluğuna göre değişmekle beraber ortalama 1-5 dk arasında sürebilir. Geri yükleme işlemi "
    "sırasında Zelvora programı tüm bilgisayarlarda kapalı olmalı ve Zelvora programı ile ilgili "
    "işlem yapılmamalıdır.";

TWindowDef AnaWindow() {
  using K = TControlKind;
  TWindowDef def = WizardWindow("Yedek Geri Yükleme", "Yedekten Geri Yükleme İşlemleri", kLabel2);
  std::vector<TControlDef>& c = def.Controls;
  c.push_back(WizardControl("dosyalar2", K::FileList, "sPanel2", "", 110, 8, 97, 25, false));
  TControlDef edit =
      WizardControl("sEdit1", K::Edit, "sPanel3", TAnaForm::kBackupFolder, 18, 60, 300, 21, false);
  edit.ReadOnly = true;
  c.push_back(edit);
  c.push_back(WizardControl("sButton3", K::Button, "sPanel3", "Seç", 324, 58, 50, 25, false));
  c.push_back(WizardControl("yedek_grid", K::Grid, "sPanel3", "", 18, 90, 375, 190, false));
  TControlDef gauge = WizardControl("sGauge1", K::Meter, "sPanel3", "", 18, 290, 375, 20, false);
  gauge.ForeColor = clLime;
  gauge.BackColor = kGaugeBack;
  c.push_back(gauge);
  TControlDef done =
      WizardControl("sLabel3", K::Label, "sPanel3",
                    "Geri yükleme başarıyla tamamlandı.\nİyi çalışmalar.", 18, 100, 375, 90, false);
  done.FontName = "Times New Roman";
  done.FontSize = 20;
  done.FontColor = kWizardDarkBlue;
  done.Centered = true;
  c.push_back(done);
  return def;
}

// Delphi's Copy: `count` characters from position `index` (from 1); nothing
// from a position past the end.
std::string Copy(const std::string& text, size_t index, size_t count) {
  return index - 1 < text.size() ? text.substr(index - 1, count) : std::string();
}

// DD/MM/YYYY HH:mm of a name YYYYMMDDHHmm.zip, by character position.
std::string DateOfName(const std::string& name) {
  return Copy(name, 7, 2) + "/" + Copy(name, 5, 2) + "/" + Copy(name, 1, 4) + " " +
         Copy(name, 9, 2) + ":" + Copy(name, 11, 2);
}

// The text of an entry's failure: the exception being handled when the
// archive reports it, else what its class and code tell.
std::string FailureText(TAbErrorClass errorClass, int32_t errorCode) {
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      return e.what();
    } catch (...) {
    }
  }
  if (errorClass == ecCorvel) return AbMessageOf(errorCode);
  if (errorClass == ecInOutError) return EInOutError(errorCode).what();
  return Format("error class %d", int(errorClass));
}

void TakeFigures(TRunLogEntry& entry, const TRunLogEntry& figures) {
  entry.Archive = figures.Archive;
  entry.Files = figures.Files;
  entry.Bytes = figures.Bytes;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

}  // namespace

ERestoreFailed::ERestoreFailed(const std::vector<std::string>& failures)
    : Exception(JoinLines(failures)) {}

TAnaForm::TAnaForm(TApplication& application, TKlasoreGozatRef& picker)
    : TForm(application, AnaWindow()), FPicker(picker), FsGauge1(*this, "sGauge1") {
  Fkl.AddField("tarih", ftString, 20);
  Fkl.AddField("dosya", ftString, 25);
  BindGrid("yedek_grid", Fkl, {{"tarih", "Yedek Tarihi", 145}, {"dosya", "Dosya Adı", 188}});
  FAbVCLMeterLink1.SetMeter(&FsGauge1);
  FUnZip.SetExtractOptions({});
  FUnZip.SetPasswordRetries(0);
  FUnZip.SetArchiveProgressMeter(&FAbVCLMeterLink1);
  FUnZip.SetItemProgressMeter(&FAbVCLMeterLink1);
  FUnZip.OnProcessItemFailure = [this](TAbBaseComponent&, TAbArchiveItem& item, TAbProcessType,
                                       TAbErrorClass errorClass, int32_t errorCode) {
    RecordFailure(item, errorClass, errorCode);
  };
  FPicker.OnFolderChosen = [this] { FillBackupList(); };
  OnClick("sButton1", [this] { sButton1Click(); });
  OnClick("sButton2", [this] { sButton2Click(); });
  OnClick("sButton3", [this] { sButton3Click(); });
  Application().HandleEvent([this] { FormCreate(); });
}

TAnaForm::~TAnaForm() {
  FPicker.OnFolderChosen = nullptr;
}

// ------------------------------------------------------------------ start-up

void TAnaForm::FormCreate() {
  SetPosition("Label1", 18, 63);
  SetPosition("Label2", 18, 160);
  if (!SuiteFoldersExist()) {
    Close();  // before the window is first shown: nothing appears
    return;
  }
  CreateBackupFolderIfMissing();
}

// ------------------------------------------------------------------ handlers

void TAnaForm::sButton1Click() {
  if (Caption("sButton1") == "İptal") Close();
}

void TAnaForm::sButton2Click() {
  if (Caption("sButton2") == "Son") Close();
  if (Caption("sButton2") == "Başlat") {
    if (!Fkl.Active() || Fkl.RecNo() == 0 || Fkl.FieldByName("tarih").AsString().empty()) return;
    RunRestore();
  }
  if (Caption("sButton2") == "İleri") ShowPage2();
}

void TAnaForm::ShowPage2() {
  SetVisible("Label1", false);
  SetVisible("Label2", false);
  SetVisible("sEdit1", true);
  SetVisible("yedek_grid", true);
  SetVisible("sButton3", true);
  SetVisible("sGauge1", true);
  SetCaption("sButton2", "Başlat");
  FillBackupList();
}

void TAnaForm::sButton3Click() {
  FPicker.Open("sEdit1");
}

TColor TAnaForm::yedek_gridGetCellParams(int recNo) {
  return recNo % 2 == 1 ? kOddRowColor : kEvenRowColor;
}

TColor TAnaForm::GetCellColor(const std::string& grid, int row) const {
  if (grid != "yedek_grid") return TForm::GetCellColor(grid, row);
  return yedek_gridGetCellParams(row);
}

// ------------------------------------------------------------- backup list

void TAnaForm::FillBackupList() {
  const std::string folder = Caption("sEdit1");
  // The file list refuses a folder it cannot change to.
  if (!DirectoryExists(folder)) throw EInOutError(kErrorPathNotFound);
  const std::vector<std::string> names = ListFiles(folder, "*.zip");
  Fkl.Close();
  Fkl.Open();
  GridChanged("yedek_grid");
  Application().ProcessMessages();
  for (const std::string& name : names) {
    Fkl.Append();
    Fkl.FieldByName("tarih").SetAsString(DateOfName(name));
    Fkl.FieldByName("dosya").SetAsString(name);
    Fkl.Post();
    Application().Sleep(kFilePause);
  }
  GridChanged("yedek_grid");
}

// ------------------------------------------------------------------- the run

void TAnaForm::RunRestore() {
  const std::string backupFolder = Caption("sEdit1");
  const std::string archivePath = backupFolder + "\\" + Fkl.FieldByName("dosya").AsString();
  FSafety = TRunLogEntry();
  TRunLogStep safety(kRestoreLogFile, "safety archive");
  TRunLogStep restore(kRestoreLogFile, "restore");
  restore.Entry().Archive = archivePath;
  bool safetyLogged = false;
  try {
    KillProcessList(RestoreProcessNames());
    SetVisible("sButton1", false);
    SetVisible("sButton2", false);
    SetVisible("sButton3", false);
    Application().ProcessMessages();
    WinExec("net stop mssqlserver");
    Application().Sleep(kServiceStopPause);
    MakeSafetyArchive(backupFolder);
    TakeFigures(safety.Entry(), FSafety);
    safety.Succeeded();
    safetyLogged = true;
    restore.Restart();
    ExtractSelected(archivePath);
  } catch (...) {
    if (safetyLogged) {
      CountRestored(restore.Entry());
      restore.Failed(CurrentExceptionText());
    } else {
      TakeFigures(safety.Entry(), FSafety);
      safety.Failed(CurrentExceptionText());
    }
    // The data folder may be half restored: the service stays stopped, but
    // the user needs a way out of the window.
    ShowSonButton();
    throw;
  }
  WinExec("net start mssqlserver");
  ShowFinalPage();
  CountRestored(restore.Entry());
  // A restore with lost entries must not look like a success.
  if (!FFailures.empty()) {
    const ERestoreFailed failed(FFailures);
    restore.Failed(failed.what());
    throw failed;
  }
  restore.Succeeded();
  SetVisible("sLabel3", true);
}

void TAnaForm::MakeSafetyArchive(const std::string& backupFolder) {
  Application().ProcessMessages();
  const std::vector<std::string> files = SuiteDataFiles();
  FSafety = TRunLogEntry();
  FSafety.Archive = backupFolder + "\\" + SuiteArchiveName();
  FSafety.Files = int(files.size());
  FSafety.Bytes = 0;
  for (const TSuiteDataFile& file : SuiteDataFileSizes()) FSafety.Bytes += file.Size;
  FZip.SetFileName(FSafety.Archive);
  FZip.SetPassword(kPassword);
  for (const std::string& file : files) {
    FZip.AddMatching(SuiteDataPath(file), 0);
    Application().ProcessMessages();
    Application().Sleep(kFilePause);
  }
  FZip.Save();
  FZip.CloseFile();
}

void TAnaForm::ExtractSelected(const std::string& archivePath) {
  // The engine takes a file without a byte for a new, empty archive; as a
  // backup it is one cut short, and restoring nothing must not pass for a
  // successful restore.
  if (AbSizeOfFile(archivePath) == 0) throw EAbZipInvalid();
  FUnZip.SetPassword(kPassword);
  FUnZip.SetFileName(archivePath);
  FUnZip.SetBaseDirectory(kDataFolder);
  Application().ProcessMessages();
  FFailures.clear();
  FUnZip.ExtractMatching("*.*");
}

void TAnaForm::CountRestored(TRunLogEntry& entry) const {
  const TAbArchive* archive = FUnZip.Archive();
  if (!archive) return;
  entry.Files = archive->Count() - int(FFailures.size());
  entry.Bytes = 0;
  for (int i = 0; i < archive->Count(); ++i) entry.Bytes += archive->Items(i).UncompressedSize();
}

void TAnaForm::RecordFailure(const TAbArchiveItem& item, TAbErrorClass errorClass,
                             int32_t errorCode) {
  FFailures.push_back(item.FileName() + ": " + FailureText(errorClass, errorCode));
}

void TAnaForm::ShowSonButton() {
  SetCaption("sButton2", "Son");
  SetVisible("sButton2", true);
}

void TAnaForm::ShowFinalPage() {
  for (const char* name : {"sEdit1", "sButton3", "sGauge1", "sButton1", "yedek_grid"}) {
    SetVisible(name, false);
  }
  ShowSonButton();
}
