#include "backup/AnaUnit.h"

#include "desktop/ArchiveVerifyUnit.h"
#include "desktop/KillProcessUnit.h"
#include "desktop/WizardWindowUnit.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "platform/Processes.h"
#include "platform/SysUtils.h"

namespace {

constexpr uint32_t kServiceStopPause = 5000;
constexpr uint32_t kFilePause = 10;
constexpr uint32_t kServiceStartPause = 1000;
constexpr uint32_t kShortPause = 50;
constexpr uint32_t kTimerInterval = 500;

const char* const kLabel2 =
    "Vozidirme işlemi bilgisayarınızın hızına ve Zelvora veritabanındaki bilgilerin çokluğuna "
    "göre değişmekle beraber ortalama 1-5 dk arasında sürebilir. Vozidirme işlemi sırasında "
    "Zelvora programı tüm bilgisayarlarda kapalı olmalı ve Zelvora programı ile ilgili işlem "
    "yapılmamalıdır.";
const char* const kLabel3 =
    "Vozidirme işleminde ürün resimleride dahildir.\n"
    "\n"
    "Vozidirme işlemini farklı bir klasöre yapmak istiyorsanız, \n"
    "kaydetmek istediğiniz klasörü seçebilirsiniz.\n"
    "\n"
    "Vozidirme işlemi başlatmadan önce Terminal bilgisayarlar da programın\n"
    "kapalı olması gerekmektedir. Bunu kontrol ettikten sonra başlatmanız\n"
    "daha uygun olur.";

TWindowDef AnaWindow() {
  using K = TControlKind;
  TWindowDef def = WizardWindow("Yedek Alma", "Yedek Alma İşlemleri", kLabel2);
  std::vector<TControlDef>& c = def.Controls;
  c.push_back(WizardControl("Label3", K::Label, "sPanel3", kLabel3, 18, 63, 375, 120, false));
  TControlDef check = WizardControl("sCheckBox1", K::CheckBox, "sPanel3",
                                    "Vozidirme işlemini ürün resim dosyalarını da eklleyerek yap.",
                                    18, 190, 375, 20, false);
  check.Checked = true;
  c.push_back(check);
  TControlDef edit =
      WizardControl("sEdit1", K::Edit, "sPanel3", TAnaForm::kBackupFolder, 18, 220, 300, 21, false);
  edit.ReadOnly = true;
  c.push_back(edit);
  c.push_back(WizardControl("sButton3", K::Button, "sPanel3", "Seç", 324, 218, 50, 25, false));
  TControlDef gauge = WizardControl("sGauge1", K::Gauge, "sPanel3", "", 18, 260, 375, 22, false);
  gauge.Suffix = "%";
  c.push_back(gauge);
  TControlDef meter = WizardControl("AbMeter1", K::Meter, "sPanel3", "", 18, 260, 375, 22, false);
  meter.ForeColor = clNavy;
  meter.BackColor = clBtnFace;
  c.push_back(meter);
  TControlDef done =
      WizardControl("sLabel3", K::Label, "sPanel3",
                    "Vozidirme başarıyla tamamlandı.\nİyi çalışmalar.", 18, 100, 375, 90, false);
  done.FontName = "Times New Roman";
  done.FontSize = 20;
  done.FontColor = kWizardDarkBlue;
  done.Centered = true;
  c.push_back(done);
  c.push_back(WizardControl("sPanel4", K::Panel, "sPanel3", "", 18, 220, 375, 80, false));
  c.push_back(WizardControl("sLabel4", K::Label, "sPanel4", "İkinci Yedek İşlemi yapılıyor.", 8, 8,
                            360, 16));
  TControlDef second =
      WizardControl("sLabel5", K::Label, "sPanel4", "İkinci Dosya Yolu :", 8, 32, 120, 16);
  second.Bold = true;
  c.push_back(second);
  c.push_back(WizardControl("sLabel6", K::Label, "sPanel4", "", 132, 32, 236, 16));
  return def;
}

// The settings table's fields, in the order of the file.
void DefineSettings(TMemTable& table) {
  table.AddField("elle", ftBoolean);
  table.AddField("ellegun", ftInteger);
  table.AddField("oto", ftBoolean);
  table.AddField("otogun", ftInteger);
  table.AddField("ikinci", ftBoolean);
  table.AddField("ikinciyol", ftString, 75);
  table.AddField("sonyedek", ftDate);
}

}  // namespace

TAnaForm::TAnaForm(TApplication& application, std::vector<std::string> args,
                   TKlasoreGozatRef& picker, std::unique_ptr<TSuiteZipper> zip)
    : TForm(application, AnaWindow()),
      FArgs(std::move(args)),
      FPicker(picker),
      FAbMeter1(*this, "AbMeter1"),
      FZip(zip ? std::move(zip) : std::make_unique<TAbSuiteZipper>()),
      FTimer1(application, kTimerInterval) {
  DefineSettings(FYedekDB);
  FTimer1.OnTimer = [this] { Timer1Timer(); };
  FAbVCLMeterLink1.SetMeter(&FAbMeter1);
  FZip->SetProgressMeter(&FAbVCLMeterLink1);
  FZip->OnArchiveSaveProgress = [this](uint8_t progress) { ZipArchiveSaveProgress(progress); };
  OnClick("sButton1", [this] { sButton1Click(); });
  OnClick("sButton2", [this] { sButton2Click(); });
  OnClick("sButton3", [this] { sButton3Click(); });
  Application().HandleEvent([this] { FormCreate(); });
}

TAnaForm::~TAnaForm() = default;

// ------------------------------------------------------------------ start-up

void TAnaForm::FormCreate() {
  SetPosition("Label1", 18, 63);
  SetPosition("Label2", 18, 160);
  if (!SuiteFoldersExist()) {
    if (Unattended()) FExitCode = kExitStartUpFailed;
    Close();  // before the window is first shown: nothing appears
    return;
  }
  try {
    CreateBackupFolderIfMissing();
    LoadOrCreateSettings();
  } catch (const std::exception& e) {
    StartUpFailed(e);
    return;
  }
  if (Unattended()) FTimer1.SetEnabled(true);
}

void TAnaForm::StartUpFailed(const std::exception& e) {
  TRunLogStep(kBackupLogFile, "start-up").Failed(e.what());
  if (!Unattended()) throw;
  // A window left open in an empty room helps nobody: the box is answered
  // (headless: printed), then the scheduler sees the status.
  FExitCode = kExitStartUpFailed;
  Application().ShowException(e);
  Close();
}

void TAnaForm::LoadOrCreateSettings() {
  if (FileExists(kSettingsFile)) {
    FYedekDB.Close();
    FYedekDB.Open();
    FYedekFormat.LoadFromFile(FYedekDB, kSettingsFile);
    return;
  }
  FYedekDB.Close();
  FYedekDB.Open();
  FYedekDB.Append();
  FYedekDB.FieldByName("elle").SetAsBoolean(true);
  FYedekDB.FieldByName("ellegun").SetAsString("7");
  FYedekDB.Post();
  FYedekFormat.SaveToFile(FYedekDB, kSettingsFile);
}

// ------------------------------------------------------------------ handlers

void TAnaForm::sButton1Click() {
  if (Caption("sButton1") == "İptal") Close();
}

void TAnaForm::sButton2Click() {
  if (Caption("sButton2") == "Son") Close();
  if (Caption("sButton2") == "Başlat") RunBackup();
  if (Caption("sButton2") == "İleri") ShowPage2();
}

void TAnaForm::ShowPage2() {
  SetVisible("Label1", false);
  SetVisible("Label2", false);
  SetVisible("Label3", true);
  SetVisible("sEdit1", true);
  SetVisible("sButton3", true);
  SetVisible("sGauge1", true);
  SetCaption("sButton2", "Başlat");
}

void TAnaForm::sButton3Click() {
  FPicker.Open("sEdit1");
}

void TAnaForm::Timer1Timer() {
  FTimer1.SetEnabled(false);
  try {
    Press("sButton2");
    Application().ProcessMessages();
    Application().Sleep(kShortPause);
    Press("sButton2");
    Application().ProcessMessages();
    Application().Sleep(kShortPause);
    Press("sButton2");
  } catch (const std::exception& e) {
    // Nobody is there to press "Son": the box, then the end, with a status
    // the scheduler sees.
    FExitCode = kExitBackupFailed;
    Application().ShowException(e);
    Close();
  }
}

void TAnaForm::ZipArchiveSaveProgress(uint8_t /*progress*/) {
  Application().ProcessMessages();
}

// ------------------------------------------------------------------- the run

std::string TAnaForm::ArchiveName() {
  return SuiteArchiveName();
}

void TAnaForm::StopSuiteProcesses() {
  KillProcessList(BackupProcessNames());
}

void TAnaForm::RunBackup() {
  const std::string backupFolder = Caption("sEdit1");
  TRunLogStep backup(kBackupLogFile, "backup");
  std::string archiveName;
  try {
    archiveName = WriteArchive(backupFolder, backup.Entry());
  } catch (...) {
    backup.Failed(CurrentExceptionText());
    // Nothing was restored: the pharmacy must not be left without its
    // database, nor the user without a way out of the window.
    if (FServiceStopped) StartService();
    ShowSonButton();
    throw;
  }
  backup.Succeeded();
  ShowFinalPage();
  TRunLogStep copy(kBackupLogFile, "second copy");
  const int copyError = MakeSecondCopy(archiveName, backupFolder + "\\" + archiveName);
  LogSecondCopy(copy, copyError);
  try {
    RecordBackupDate();
  } catch (...) {
    TRunLogStep(kBackupLogFile, "backup date").Failed(CurrentExceptionText());
    throw;
  }
  // A silent failure would leave the pharmacy believing it has a copy.
  if (copyError != 0) throw EInOutError(copyError, SysErrorMessage(copyError));
  if (FSecondCopyFailure) std::rethrow_exception(FSecondCopyFailure);
}

std::string TAnaForm::WriteArchive(const std::string& backupFolder, TRunLogEntry& run) {
  // Measured before anything is stopped: a full drive must cost nothing.
  const std::vector<TSuiteDataFile> sizes = SuiteDataFileSizes();
  run.Files = int(sizes.size());
  run.Bytes = 0;
  for (const TSuiteDataFile& file : sizes) run.Bytes += file.Size;
  run.Archive = backupFolder + "\\" + ArchiveName();
  CheckBackupSpace(backupFolder, sizes, FFreeSpace);

  StopSuiteProcesses();
  StopSuiteProcesses();
  SetVisible("sButton1", false);
  SetVisible("sButton2", false);
  SetVisible("sButton3", false);
  Application().ProcessMessages();

  const std::vector<std::string> files = SuiteDataFiles();
  SetGaugeMax("sGauge1", int(files.size()));
  SetGaugePosition("sGauge1", 0);
  const std::string archiveName = ArchiveName();
  const std::string archivePath = backupFolder + "\\" + archiveName;
  run.Archive = archivePath;
  run.Files = int(files.size());
  FZip->SetFileName(archivePath);
  FZip->SetPassword(kPassword);

  StopService();
  for (const std::string& file : files) {
    SetGaugePosition("sGauge1", Control("sGauge1").GaugePosition + 1);
    FZip->AddMatching(SuiteDataPath(file), 0);
    Application().ProcessMessages();
    Application().Sleep(kFilePause);
  }
  SetVisible("AbMeter1", true);
  FZip->Save();
  FZip->CloseFile();
  if (OnArchiveClosed) OnArchiveClosed(archivePath);
  // Read back while the service is still stopped: a backup that cannot be
  // restored must fail here, not on the day it is needed.
  VerifySuiteArchive(archivePath, &FAbVCLMeterLink1);
  StartService();
  return archiveName;
}

void TAnaForm::StopService() {
  WinExec("net stop mssqlserver");
  FServiceStopped = true;
  Application().Sleep(kServiceStopPause);
}

void TAnaForm::StartService() {
  FServiceStopped = false;
  Application().Sleep(kServiceStartPause);
  WinExec("net start mssqlserver");
}

void TAnaForm::ShowSonButton() {
  SetCaption("sButton2", "Son");
  SetVisible("sButton2", true);
}

void TAnaForm::ShowFinalPage() {
  for (const char* name : {"Label3", "sCheckBox1", "sEdit1", "sButton3", "sGauge1", "sButton1"}) {
    SetVisible(name, false);
  }
  ShowSonButton();
  SetVisible("sLabel3", true);
  SetVisible("AbMeter1", false);
}

int TAnaForm::MakeSecondCopy(const std::string& archiveName, const std::string& archivePath) {
  FSecondCopyPath.clear();
  FSecondCopyEntries = -1;
  FSecondCopyFailure = nullptr;
  if (!FYedekDB.Active()) return 0;
  const TField& enabled = FYedekDB.FieldByName("ikinci");
  if (enabled.AsString().empty() || !enabled.AsBoolean()) return 0;
  const std::string folder = FYedekDB.FieldByName("ikinciyol").AsString();
  if (folder.empty()) return 0;

  SetCaption("sLabel6", folder);
  SetVisible("sPanel4", true);
  Application().ProcessMessages();
  Application().Sleep(kShortPause);
  FSecondCopyPath = folder + "\\" + archiveName;
  const bool cancel = false;
  const bool copied = CopyFileExA(
      archivePath, FSecondCopyPath,
      [this](int64_t, int64_t) {
        Application().ProcessMessages();
        return uint32_t(PROGRESS_CONTINUE);
      },
      &cancel, 0);
  const int error = copied ? 0 : GetLastError();
  if (copied) {
    try {
      FSecondCopyEntries = VerifySuiteCopy(archivePath, FSecondCopyPath, &FAbVCLMeterLink1);
    } catch (...) {
      FSecondCopyFailure = std::current_exception();
    }
  }
  SetVisible("sPanel4", false);
  Application().ProcessMessages();
  return error;
}

void TAnaForm::LogSecondCopy(TRunLogStep& step, int copyError) {
  if (FSecondCopyPath.empty()) return;
  step.Entry().Archive = FSecondCopyPath;
  step.Entry().Files = FSecondCopyEntries;
  if (copyError != 0) {
    step.Failed(SysErrorMessage(copyError));
    return;
  }
  if (FSecondCopyFailure) {
    try {
      std::rethrow_exception(FSecondCopyFailure);
    } catch (...) {
      step.Failed(CurrentExceptionText());
    }
    return;
  }
  step.Succeeded();
}

void TAnaForm::RecordBackupDate() {
  FYedekDB.Edit();
  FYedekDB.FieldByName("sonyedek").SetAsDateTime(Clock().Date());
  FYedekDB.Post();
  FYedekFormat.SaveToFile(FYedekDB, kSettingsFile);
}
