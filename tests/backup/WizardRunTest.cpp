#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/backup/VozidirProcess.h"
#include "tests/backup/WizardFixture.h"

namespace {

const std::vector<std::string> kPage2 = {"sPanel1",  "Image1",   "sLabel2",  "sPanel2",
                                         "sButton1", "sButton2", "sPanel3",  "sLabel1",
                                         "Label3",   "sEdit1",   "sButton3", "sGauge1"};
const std::vector<std::string> kFinished = {"sPanel1",  "Image1",  "sLabel2", "sPanel2",
                                            "sButton2", "sPanel3", "sLabel1", "sLabel3"};

std::vector<uint32_t> RunPauses(size_t files) {
  std::vector<uint32_t> pauses = {500, 500, 5000};
  pauses.insert(pauses.end(), files, 10);
  pauses.push_back(1000);
  return pauses;
}

}  // namespace

TEST_F(WizardTest, OnePressMovesOneStep) {
  MakeSuiteFolders();
  Start({});
  Run();  // shows page 1; no input closes it again
  Form->Show();
  Form->Click("sButton2");
  EXPECT_EQ(Form->Caption("sButton2"), "Başlat");
  EXPECT_EQ(Visible(), kPage2);
  EXPECT_TRUE(ZipLog.empty());  // page 2 only, no run in the same press

  Form->Click("sButton2");
  EXPECT_EQ(Form->Caption("sButton2"), "Son");
  EXPECT_EQ(Visible(), kFinished);
  EXPECT_FALSE(Form->Closed());  // the run does not close in the same press

  Form->Click("sButton2");
  EXPECT_TRUE(Form->Closed());
  EXPECT_TRUE(Application->Terminated());
}

TEST_F(WizardTest, CancelOnPage2EndsWithoutABackup) {
  MakeSuiteFolders();
  Start({});
  const std::string settings = Drive.Read("Zelvora/Vozidir.zvr");
  Run();
  Form->Show();
  Backend->Execute("press sButton2");
  Backend->Execute("press sButton1");
  EXPECT_TRUE(Form->Closed());
  EXPECT_TRUE(ZipLog.empty());
  EXPECT_TRUE(Clock.Sleeps().empty());
  EXPECT_EQ(Drive.Read("Zelvora/Vozidir.zvr"), settings);
}

TEST_F(WizardTest, TheRunOverTheStdinProtocol) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/b.mdf", "b");
  Drive.Write("Zelvora/Data/A.ldf", "a");
  Drive.Write("Zelvora/Data/.hidden", "h");
  Drive.MakeFolder("Zelvora/Data/Resimler");
  Drive.Write("Zelvora/Data/Resimler/p.jpg", "p");
  TRecordingNet net(Drive);
  Start({}, "recording",
        "press sButton3\npress sButton2\npress sButton2\npress sButton1\npress sButton2\n");
  Run();
  const std::vector<std::string> lines = Lines();
  const auto has = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(has("ignored: press sButton3 (hidden)"));
  EXPECT_TRUE(has("AnaForm.sButton2: Başlat"));
  EXPECT_TRUE(has("AnaForm.sGauge1: 2/2"));
  EXPECT_TRUE(has("AnaForm.sButton2: Son"));
  EXPECT_TRUE(has("AnaForm.sLabel3: Vozidirme başarıyla tamamlandı.\\nİyi çalışmalar."));
  EXPECT_TRUE(has("ignored: press sButton1 (hidden)"));
  EXPECT_EQ(lines.back(), "AnaForm closed");
  EXPECT_FALSE(has("end of input"));

  EXPECT_EQ(ZipLog, (std::vector<std::string>{
                        "FileName C:\\Zelvora\\Yedek\\202403070905.zip",
                        "Password 735296482913572",
                        "AddMatching C:\\Zelvora\\Data\\A.ldf 0",
                        "AddMatching C:\\Zelvora\\Data\\b.mdf 0",
                        "Save",
                        "CloseFile",
                    }));
  EXPECT_EQ(Clock.Sleeps(), RunPauses(2));
  EXPECT_EQ(net.Commands(2), (std::vector<std::string>{"stop mssqlserver", "start mssqlserver"}));
  // The date of the backup is in the settings file.
  TMemTable settings;
  Form->YedekFormat().LoadFromFile(settings, TAnaForm::kSettingsFile);
  EXPECT_EQ(settings.FieldByName("sonyedek").AsDateTime(), EncodeDate(2024, 3, 7));
  EXPECT_EQ(settings.UpdateStatus(), usModified);
}

TEST_F(WizardTest, AFailedSaveStartsTheServiceAgainBeforeTheErrorBoxAndShowsSon) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.mdf", "a");
  TRecordingNet net(Drive);
  Start({}, "fail on Save");
  const std::string settings = Drive.Read("Zelvora/Vozidir.zvr");
  Run();
  Form->Show();
  Form->Click("sButton2");
  Form->Click("sButton2");
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{"Zelvora Yedek|stop|Stream write error."});
  EXPECT_EQ(Clock.Sleeps(), RunPauses(1));
  EXPECT_EQ(net.Commands(2), (std::vector<std::string>{"stop mssqlserver", "start mssqlserver"}));
  // The service was started (after its pause) before the box was shown.
  const std::vector<THeadlessRecord>& records = Backend->Records();
  const auto position = [&](const std::string& operation, const std::string& value) {
    for (size_t i = 0; i < records.size(); ++i) {
      if (records[i].Operation == operation && records[i].Value.find(value) != std::string::npos)
        return i;
    }
    return records.size();
  };
  EXPECT_LT(position("sleep", "1000"), position("message box", "Stream write error"));
  // "Son" leads out; no success text, the date is not recorded.
  EXPECT_TRUE(Form->ControlShowing("sButton2"));
  EXPECT_EQ(Form->Caption("sButton2"), "Son");
  EXPECT_FALSE(Form->ControlShowing("sLabel3"));
  EXPECT_FALSE(Form->ControlShowing("sButton1"));
  EXPECT_EQ(Drive.Read("Zelvora/Vozidir.zvr"), settings);
  Form->Click("sButton2");
  EXPECT_TRUE(Form->Closed());
}

TEST_F(WizardTest, AFailureBeforeTheServiceStopLeavesTheServiceAlone) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.mdf", "a");
  TRecordingNet net(Drive);
  Start({}, "engine");
  Form->SetCaption("sEdit1", "C:\\Yok");  // the archive cannot be created there
  Run();
  Form->Show();
  Form->Click("sButton2");
  Form->Click("sButton2");
  ASSERT_EQ(MessageBoxes().size(), 1u);
  EXPECT_EQ(MessageBoxes()[0].rfind("Zelvora Yedek|stop|Cannot create file \"C:\\Yok\\", 0), 0u)
      << MessageBoxes()[0];
  EXPECT_EQ(Clock.Sleeps(), (std::vector<uint32_t>{500, 500}));  // the processes were stopped
  EXPECT_TRUE(net.Commands(0).empty());
  EXPECT_EQ(Form->Caption("sButton2"), "Son");
  EXPECT_TRUE(Form->ControlShowing("sButton2"));
}

TEST_F(WizardTest, UnattendedRunPressesThreeTimesAndCloses) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.mdf", "a");
  Start({"7384"}, "recording", "press sButton1\n");
  Run();
  EXPECT_TRUE(Form->Closed());
  EXPECT_EQ(ZipLog.size(), 5u);
  std::vector<uint32_t> pauses = {500, 50};  // the timer, then between the presses
  for (uint32_t pause : RunPauses(1)) pauses.push_back(pause);
  pauses.push_back(50);
  EXPECT_EQ(Clock.Sleeps(), pauses);
  EXPECT_TRUE(Backend->Records("command").empty());  // no input was read
  EXPECT_EQ(Backend->Records("timer fire").size(), 1u);
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(WizardTest, AFailedUnattendedRunAbandonsTheTimerHandlerAndCloses) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.mdf", "a");
  Start({"7384"}, "fail on Save", "press sButton1\n");
  Run();
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{"Zelvora Yedek|stop|Stream write error."});
  // The third press was never made; nobody is there to press "Son", so the
  // window closed right after the box, without reading any input.
  std::vector<uint32_t> pauses = {500, 50};
  for (uint32_t pause : RunPauses(1)) pauses.push_back(pause);
  EXPECT_EQ(Clock.Sleeps(), pauses);
  EXPECT_EQ(Form->Caption("sButton2"), "Son");
  EXPECT_FALSE(Form->Timer1().Enabled());
  EXPECT_TRUE(Form->Closed());
  EXPECT_EQ(Form->ExitCode(), TAnaForm::kExitBackupFailed);
  EXPECT_TRUE(Backend->Records("command").empty());
  EXPECT_EQ(Lines().back(), "AnaForm closed");
}

// Interactive runs end with 0 whatever happened: someone saw the box.
TEST_F(WizardTest, AFailedInteractiveRunKeepsExitCodeZero) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.mdf", "a");
  Start({}, "fail on Save", "press sButton2\npress sButton2\npress sButton2\n");
  Run();
  EXPECT_EQ(MessageBoxes().size(), 1u);
  EXPECT_TRUE(Form->Closed());
  EXPECT_EQ(Form->ExitCode(), TAnaForm::kExitOk);
}

TEST_F(WizardTest, ChoosingAnotherFolderMovesTheArchive) {
  MakeSuiteFolders();
  Drive.MakeFolder("Zelvora/Başka");
  Start({}, "recording",
        "press sButton2\npress sButton3\nchoose C:\\Zelvora\\Başka\npress sButton2\n");
  Run();
  EXPECT_EQ(ZipLog.front(), "FileName C:\\Zelvora\\Başka\\202403070905.zip");
  EXPECT_TRUE(std::filesystem::exists(Drive.Host("Zelvora/Başka/202403070905.zip")));
}

TEST_F(WizardTest, ArchiveNamesFromTheClock) {
  const struct {
    TDateTime now;
    const char* name;
  } cases[] = {
      {EncodeDate(2024, 3, 7) + EncodeTime(9, 5, 30, 0), "202403070905.zip"},
      {EncodeDate(2025, 12, 31) + EncodeTime(23, 59, 59, 999), "202512312359.zip"},
      {EncodeDate(2024, 1, 1), "202401010000.zip"},
      {EncodeDate(2024, 2, 29) + EncodeTime(0, 0, 59, 0), "202402290000.zip"},
  };
  for (const auto& c : cases) {
    TVirtualClock clock(c.now);
    SetClock(&clock);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TAnaForm::ArchiveName(), c.name);
  }
  SetClock(&Clock);
}

TEST_F(WizardTest, SecondCopyWhenEnabled) {
  MakeSuiteFolders();
  Drive.MakeFolder("Kopya");
  const struct {
    const char* name;
    const char* enabled;  // text of ikinci, "" for null
    const char* folder;
    bool copied;
    const char* box;  // the error box after the date was recorded
  } cases[] = {
      {"enabled", "True", "C:\\Kopya", true, nullptr},
      {"missing folder", "True", "C:\\Yok", false,
       "Zelvora Yedek|stop|The system cannot find the path specified."},
      {"disabled", "False", "C:\\Kopya", false, nullptr},
      {"null", "", "C:\\Kopya", false, nullptr},
      {"no folder", "True", "", false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(Drive.Host("Kopya/202403070905.zip"));
    Start({});
    TMemTable& settings = Form->YedekDB();
    settings.Edit();
    settings.FieldByName("ikinci").SetAsString(c.enabled);
    settings.FieldByName("ikinciyol").SetAsString(c.folder);
    settings.Post();
    Backend->ClearRecords();
    Clock.Advance(0);
    Form->Show();
    Form->Click("sButton2");
    Form->Click("sButton2");
    EXPECT_EQ(MessageBoxes(), c.box ? std::vector<std::string>{c.box} : std::vector<std::string>{});
    EXPECT_EQ(Form->Caption("sButton2"), "Son");
    EXPECT_TRUE(Form->ControlShowing("sLabel3"));
    EXPECT_EQ(std::filesystem::exists(Drive.Host("Kopya/202403070905.zip")), c.copied);
    bool panelShown = false;
    for (const THeadlessRecord& r : Backend->Records("show")) {
      panelShown = panelShown || r.Control == "sPanel4";
    }
    EXPECT_EQ(panelShown, std::string(c.folder) != "" && std::string(c.enabled) == "True");
    EXPECT_FALSE(Form->Visible("sPanel4"));
    // The date is recorded whatever became of the copy.
    TMemTable stored;
    Form->YedekFormat().LoadFromFile(stored, TAnaForm::kSettingsFile);
    EXPECT_EQ(stored.FieldByName("sonyedek").AsDateTime(), EncodeDate(2024, 3, 7));
  }
}

TEST_F(WizardTest, RecordingTheDateNeedsTheSettingsTable) {
  Drive.MakeFolder("Zelvora/Data");
  Drive.Write("Zelvora/Yedek", "a file in the way");  // start-up stops before the settings
  Start({});
  Backend->ClearRecords();
  Form->SetCaption("sEdit1", "C:\\Zelvora");
  Form->Show();
  Form->Click("sButton2");
  Form->Click("sButton2");
  EXPECT_EQ(MessageBoxes(),
            std::vector<std::string>{
                "Zelvora Yedek|stop|Cannot perform this operation on a closed dataset."});
  EXPECT_EQ(Form->Caption("sButton2"), "Son");
}
