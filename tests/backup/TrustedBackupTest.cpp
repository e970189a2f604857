// What lets a backup be trusted when nobody watches: the archive read back
// before the service starts again, the exit status of the unattended mode,
// the run log and the free-space check before anything is stopped.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "backup/BinaryTableFormat.h"
#include "desktop/FreeSpaceUnit.h"
#include "platform/MemTable.h"
#include "tests/backup/VozidirProcess.h"
#include "tests/backup/WizardFixture.h"

namespace {

const std::string kArchive = "Zelvora/Yedek/202403070905.zip";
const std::string kArchivePath = "C:\\Zelvora\\Yedek\\202403070905.zip";

// Flips one byte of the first entry's data, past its cipher header.
void FlipFirstEntryByte(const std::string& hostPath) {
  std::fstream file(hostPath, std::ios::binary | std::ios::in | std::ios::out);
  unsigned char header[30] = {};
  file.read(reinterpret_cast<char*>(header), sizeof header);
  ASSERT_TRUE(file.good());
  const long name = header[26] | header[27] << 8;
  const long extra = header[28] | header[29] << 8;
  const long compressed = header[18] | header[19] << 8 | header[20] << 16;
  ASSERT_GT(compressed, 40);
  const long at = 30 + name + extra + 12 + compressed / 2;
  file.close();
  FlipHostFileByte(hostPath, at, 0x5A);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Index of the first record of `operation` with `value` from `from` on, or -1.
long FindRecord(const std::vector<THeadlessRecord>& records, size_t from,
                const std::string& operation, const std::string& value) {
  for (size_t i = from; i < records.size(); ++i) {
    if (records[i].Operation == operation && records[i].Value == value) return long(i);
  }
  return -1;
}

}  // namespace

TEST_F(WizardTest, AnArchiveDamagedBeforeItsVerificationFailsTheUnattendedRun) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.mdf", WordBytes(60000, 1));
  Drive.Write("Zelvora/Data/b.ldf", NoiseBytes(3000, 2));
  TRecordingNet net(Drive);
  Start({"7384"}, "engine");
  Form->OnArchiveClosed = [this](const std::string& path) {
    EXPECT_EQ(path, kArchivePath);
    FlipFirstEntryByte(Drive.Host(kArchive));
  };
  Run();

  const std::vector<std::string> boxes = MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].rfind("Zelvora Yedek|stop|Yedek arşivi doğrulanamadı: " + kArchivePath +
                               "\nZelvora/Data/a.mdf: ",
                           0),
            0u)
      << boxes[0];
  EXPECT_EQ(boxes[0].find("b.ldf"), std::string::npos) << boxes[0];
  EXPECT_TRUE(Form->Closed());
  EXPECT_EQ(Form->ExitCode(), TAnaForm::kExitBackupFailed);
  EXPECT_EQ(Form->Caption("sButton2"), "Son");
  EXPECT_FALSE(Form->ControlShowing("sLabel3"));
  // The service was started again after the failure.
  EXPECT_EQ(net.Commands(2), (std::vector<std::string>{"stop mssqlserver", "start mssqlserver"}));
  const std::vector<std::string> log = LogLines(Drive, "Zelvora/Vozidir.log");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("2024-03-07 09:05:30 backup archive=\"" + kArchivePath +
                             "\" files=2 bytes=63000 duration=",
                         0),
            0u)
      << log[0];
  EXPECT_TRUE(Contains(log[0], " result=FAILED error=\"Yedek arşivi doğrulanamadı: " +
                                   kArchivePath + "; Zelvora/Data/a.mdf: "))
      << log[0];
}

TEST_F(WizardTest, AVerifiedUnattendedRunExitsWithZeroAndLogsItsFigures) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.mdf", WordBytes(120000, 3));
  Drive.Write("Zelvora/Data/b.ldf", NoiseBytes(5000, 4));
  Drive.Write("Zelvora/Data/boş.dat", "");
  Drive.Write("Zelvora/Vozidir.log", "an earlier line\r\n");
  Start({"7384"}, "engine");
  size_t recordsAtClose = 0;
  Form->OnArchiveClosed = [&](const std::string&) { recordsAtClose = Backend->Records().size(); };
  Run();

  EXPECT_TRUE(MessageBoxes().empty());
  EXPECT_TRUE(Form->Closed());
  EXPECT_EQ(Form->ExitCode(), TAnaForm::kExitOk);
  // The verification moved AbMeter1 forward to its end between the closed
  // archive and the pause before the service starts.
  const std::vector<THeadlessRecord>& records = Backend->Records();
  ASSERT_GT(recordsAtClose, 0u);
  const long start = FindRecord(records, recordsAtClose, "sleep", "1000");
  ASSERT_GT(start, 0);
  std::vector<int> meter;
  for (long i = long(recordsAtClose); i < start; ++i) {
    const THeadlessRecord& r = records[size_t(i)];
    if (r.Control == "AbMeter1" && r.Operation == "gauge") meter.push_back(std::stoi(r.Value));
  }
  // From empty, forward, to the end (a full meter draws empty again).
  ASSERT_GE(meter.size(), 4u);
  EXPECT_EQ(meter.front(), 0);
  EXPECT_TRUE(std::is_sorted(meter.begin(), meter.end() - 1));
  EXPECT_GT(meter[meter.size() - 2], 50);
  EXPECT_EQ(meter.back(), 0);

  const std::vector<std::string> log = LogLines(Drive, "Zelvora/Vozidir.log");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "an earlier line");
  // The virtual clock ran through the fixed pauses: 2 x 500, 5000, 3 x 10, 1000 ms.
  EXPECT_EQ(log[1], "2024-03-07 09:05:30 backup archive=\"" + kArchivePath +
                        "\" files=3 bytes=125000 duration=7.030s result=OK");
}

TEST_F(WizardTest, TheSecondCopyIsVerifiedAndLogged) {
  MakeSuiteFolders();
  Drive.MakeFolder("Kopya");
  Drive.Write("Zelvora/Data/a.mdf", WordBytes(20000, 5));
  Start({}, "engine");
  TMemTable& settings = Form->YedekDB();
  settings.Edit();
  settings.FieldByName("ikinci").SetAsString("True");
  settings.FieldByName("ikinciyol").SetAsString("C:\\Kopya");
  settings.Post();
  Form->Show();
  Form->Click("sButton2");
  Form->Click("sButton2");
  EXPECT_TRUE(MessageBoxes().empty());
  EXPECT_EQ(Drive.Read("Kopya/202403070905.zip"), Drive.Read(kArchive));
  const std::vector<std::string> log = LogLines(Drive, "Zelvora/Vozidir.log");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(Contains(log[0], " backup archive=\"" + kArchivePath + "\" files=1 bytes=20000 "));
  EXPECT_EQ(log[1],
            "2024-03-07 09:05:37 second copy archive=\"C:\\Kopya\\202403070905.zip\" "
            "files=1 duration=0.050s result=OK");
}

TEST_F(WizardTest, AFailedSecondCopyIsLoggedAndFailsTheUnattendedRun) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.mdf", "a");
  Start({});
  TMemTable& settings = Form->YedekDB();
  settings.Edit();
  settings.FieldByName("ikinci").SetAsString("True");
  settings.FieldByName("ikinciyol").SetAsString("C:\\Yok");
  settings.Post();
  Form->YedekFormat().SaveToFile(settings, TAnaForm::kSettingsFile);
  Start({"7384"});
  Run();
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{
                                "Zelvora Yedek|stop|The system cannot find the path specified."});
  EXPECT_EQ(Form->ExitCode(), TAnaForm::kExitBackupFailed);
  const std::vector<std::string> log = LogLines(Drive, "Zelvora/Vozidir.log");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(Contains(log[0], " result=OK"));
  EXPECT_TRUE(Contains(log[1], " second copy archive=\"C:\\Yok\\202403070905.zip\" duration="));
  EXPECT_TRUE(Contains(log[1], " result=FAILED error=\"The system cannot find the path specified"));
}

// The check's logic on every machine: the free space comes from the test.
TEST_F(WizardTest, TheFreeSpaceCheckRefusesARunBeforeStoppingAnything) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.mdf", NoiseBytes(70000, 6));
  Drive.Write("Zelvora/Data/b.ldf", WordBytes(1000, 7));
  const int64_t bound = SuiteArchiveSizeBound(SuiteDataFileSizes());
  ASSERT_GT(bound, 71000);
  const struct {
    const char* name;
    int64_t free;
    bool refused;
  } cases[] = {
      {"one byte short", bound - 1, true},
      {"nothing free", 0, true},
      {"exactly enough", bound, false},
      {"unknown", -1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(Drive.Host(kArchive));
    std::filesystem::remove(Drive.Host("Zelvora/Vozidir.log"));
    std::filesystem::remove(Drive.Host("net.log"));
    TRecordingNet net(Drive);
    TNamedProcess suite("Plimctl.exe");
    ASSERT_TRUE(suite.Ready());
    Start({"7384"}, "engine");
    std::vector<std::string> asked;
    Form->SetFreeSpaceQuery([&](const std::string& path) {
      asked.push_back(path);
      return c.free;
    });
    const size_t sleepsBefore = Clock.Sleeps().size();
    Run();
    EXPECT_EQ(asked, std::vector<std::string>{"C:\\Zelvora\\Yedek"});
    EXPECT_EQ(Form->ExitCode(), c.refused ? TAnaForm::kExitBackupFailed : TAnaForm::kExitOk);
    EXPECT_EQ(Drive.Exists(kArchive), !c.refused);
    const std::vector<std::string> log = LogLines(Drive, "Zelvora/Vozidir.log");
    ASSERT_EQ(log.size(), 1u);
    if (!c.refused) {
      EXPECT_TRUE(Contains(log[0], " result=OK"));
      continue;
    }
    const std::string text = Format(
        "Yedek klasörünün sürücüsünde yeterli boş alan yok: C:\\Zelvora\\Yedek için %lld bayt "
        "gerekli, %lld bayt boş. Hiçbir program ve hizmet durdurulmadı",
        static_cast<long long>(bound), static_cast<long long>(c.free));
    EXPECT_EQ(MessageBoxes(), std::vector<std::string>{"Zelvora Yedek|stop|" + text + "."});
    // Nothing was stopped: no process, no service, no pause.
    EXPECT_TRUE(suite.Running());
    EXPECT_TRUE(net.Commands(0).empty());
    EXPECT_EQ(
        std::vector<uint32_t>(Clock.Sleeps().begin() + long(sleepsBefore), Clock.Sleeps().end()),
        (std::vector<uint32_t>{500, 50}));
    EXPECT_EQ(Form->Caption("sButton2"), "Son");
    // The clock went on from case to case: the line after its date and time.
    EXPECT_EQ(log[0].substr(20),
              "backup archive=\"" + kArchivePath +
                  "\" files=2 bytes=71000 duration=0.000s result=FAILED error=\"" + text + "\"");
  }
}

namespace {

// A small tmpfs mounted on a fresh folder, mapped as drive D:; unmounted and
// unmapped at the end. Mounted() is false where mounting is not permitted.
class TSmallDrive {
 public:
  explicit TSmallDrive(const std::string& size) {
    char pattern[] = "/tmp/zelvora-small-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return;
    FFolder = pattern;
    FMounted = std::system(("mount -t tmpfs -o size=" + size + " tmpfs " + ShellQuote(FFolder) +
                            " > /dev/null 2>&1")
                               .c_str()) == 0;
    if (FMounted) ::setenv("ZELVORA_DRIVE_D", FFolder.c_str(), 1);
  }
  ~TSmallDrive() {
    if (FMounted) {
      ::unsetenv("ZELVORA_DRIVE_D");
      std::system(("umount " + ShellQuote(FFolder) + " > /dev/null 2>&1").c_str());
    }
    if (!FFolder.empty()) ::rmdir(FFolder.c_str());
  }
  TSmallDrive(const TSmallDrive&) = delete;
  TSmallDrive& operator=(const TSmallDrive&) = delete;

  bool Mounted() const { return FMounted; }
  const std::string& Folder() const { return FFolder; }

 private:
  std::string FFolder;
  bool FMounted = false;
};

}  // namespace

// The real query on a nearly full drive.
TEST_F(WizardTest, ANearlyFullDriveRefusesTheRun) {
  TSmallDrive small("64k");
  if (!small.Mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.mdf", NoiseBytes(200000, 8));
  TRecordingNet net(Drive);
  TNamedProcess suite("Plimctl.exe");
  ASSERT_TRUE(suite.Ready());
  Start({}, "engine");
  Form->Show();
  Form->Click("sButton2");
  Form->SetCaption("sEdit1", "D:\\");
  Form->Click("sButton2");
  const std::vector<std::string> boxes = MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(Contains(boxes[0], "yeterli boş alan yok: D:\\ için ")) << boxes[0];
  EXPECT_TRUE(suite.Running());
  EXPECT_TRUE(net.Commands(0).empty());
  EXPECT_TRUE(std::filesystem::is_empty(small.Folder()));
  EXPECT_EQ(Form->Caption("sButton2"), "Son");
}

// The statuses the scheduler sees, from the built program.
TEST(VozidirExitStatus, ZeroOneAndTwoAsTheNightWent) {
  TTempDrive drive;
  drive.Write("Zelvora/Data/a.mdf", WordBytes(30000, 9));
  drive.Write("Zelvora/Data/b.ldf", "bb");
  TRecordingNet net(drive);

  const TProgramRun ok = RunProgram(drive, ProgramCommand(ZELVORA_VOZIDIR, "7384"), "");
  EXPECT_EQ(ok.Status, 0) << ok.Output;
  const std::vector<std::string> first = LogLines(drive, "Zelvora/Vozidir.log");
  ASSERT_EQ(first.size(), 1u);
  EXPECT_TRUE(Contains(first[0], " backup archive=\"C:\\Zelvora\\Yedek\\")) << first[0];
  EXPECT_TRUE(Contains(first[0], ".zip\" files=2 bytes=30002 duration=")) << first[0];
  EXPECT_TRUE(Contains(first[0], " result=OK")) << first[0];

  // A second folder that does not exist: the copy fails, the backup with it.
  TMemTable settings;
  TBinaryTableFormat format;
  format.LoadFromFile(settings, "C:\\Zelvora\\Vozidir.zvr");
  settings.Edit();
  settings.FieldByName("ikinci").SetAsBoolean(true);
  settings.FieldByName("ikinciyol").SetAsString("C:\\Yok");
  settings.Post();
  format.SaveToFile(settings, "C:\\Zelvora\\Vozidir.zvr");
  const TProgramRun failed = RunProgram(drive, ProgramCommand(ZELVORA_VOZIDIR, "7384"), "");
  EXPECT_EQ(failed.Status, 1) << failed.Output;
  EXPECT_TRUE(Contains(failed.Output,
                       "message box [Zelvora Yedek] (stop): The system cannot "
                       "find the path specified."))
      << failed.Output;
  EXPECT_EQ(failed.Output.substr(failed.Output.size() - 15), "AnaForm closed\n");
  // The same failure with someone at the window ends with 0.
  const TProgramRun seen = RunProgram(drive, ProgramCommand(ZELVORA_VOZIDIR),
                                      "press sButton2\npress sButton2\npress sButton2\n");
  EXPECT_EQ(seen.Status, 0) << seen.Output;
  EXPECT_TRUE(Contains(seen.Output, "The system cannot find the path specified.")) << seen.Output;

  // A backup folder that cannot be made: start-up failed.
  std::filesystem::remove_all(drive.Host("Zelvora/Yedek"));
  drive.Write("Zelvora/Yedek", "a file in the way");
  const TProgramRun broken = RunProgram(drive, ProgramCommand(ZELVORA_VOZIDIR, "7384"), "");
  EXPECT_EQ(broken.Status, 2) << broken.Output;
  EXPECT_TRUE(Contains(broken.Output, "I/O error 183.")) << broken.Output;
  EXPECT_TRUE(Contains(LogLines(drive, "Zelvora/Vozidir.log").back(),
                       " start-up duration=0.000s result=FAILED"));
  const TProgramRun brokenSeen = RunProgram(drive, ProgramCommand(ZELVORA_VOZIDIR), "");
  EXPECT_EQ(brokenSeen.Status, 0) << brokenSeen.Output;
}
