// Vozidir, then Restorekeep, as processes on a temporary drive C:.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/backup/VozidirProcess.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kPassword = "735296482913572";

std::string Bytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = char(i % 5 == 0 ? (seed >> 16) : 'a' + i % 11);
  }
  return bytes;
}

std::vector<std::string> ZipFiles(const TTempDrive& drive) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(drive.Host("Zelvora/Yedek"))) {
    if (entry.path().extension() == ".zip") names.push_back(entry.path().filename().string());
  }
  return names;
}

}  // namespace

TEST(RestorekeepProgram, RestoresABackupOfVozidir) {
  if (!HaveTool("unzip") || !HaveTool("python3")) GTEST_SKIP() << "needs unzip and python3";
  TTempDrive drive;
  drive.MakeFolder("Zelvora/Data");
  drive.Write("Zelvora/Data/İlaçlar.mdf", Bytes(120000, 1));
  drive.Write("Zelvora/Data/satış.ldf", Bytes(3000, 2));
  drive.Write("Zelvora/Data/boş.dat", "");
  TRecordingNet net(drive);

  const TProgramRun backup = RunProgram(drive, ProgramCommand(ZELVORA_VOZIDIR, "7384"), "");
  ASSERT_EQ(backup.Status, 0);
  std::vector<std::string> archives = ZipFiles(drive);
  ASSERT_EQ(archives.size(), 1u);
  // An older backup: the safety archive of the restore gets a name of its own.
  std::filesystem::rename(drive.Host("Zelvora/Yedek/" + archives[0]),
                          drive.Host("Zelvora/Yedek/202001021530.zip"));

  drive.Write("Zelvora/Data/İlaçlar.mdf", "modified");
  std::filesystem::remove(drive.Host("Zelvora/Data/satış.ldf"));
  drive.Write("Zelvora/Data/yeni.txt", "added");
  const std::string before = drive.Host("before");
  std::filesystem::create_directories(before);
  std::filesystem::copy(drive.Host("Zelvora/Data"), before);

  const TProgramRun restore = RunProgram(drive, ProgramCommand(ZELVORA_RESTOREKEEP),
                                         "press sButton2\npress sButton2\npress sButton2\n");
  EXPECT_EQ(restore.Status, 0);
  EXPECT_NE(restore.Output.find("AnaForm.yedek_grid row 1: 02/01/2020 15:30 | 202001021530.zip"),
            std::string::npos)
      << restore.Output;
  EXPECT_NE(restore.Output.find("AnaForm.sLabel3: Geri yükleme başarıyla tamamlandı."),
            std::string::npos)
      << restore.Output;
  EXPECT_EQ(restore.Output.substr(restore.Output.size() - 15), "AnaForm closed\n");

  EXPECT_EQ(drive.Read("Zelvora/Data/İlaçlar.mdf"), Bytes(120000, 1));
  EXPECT_EQ(drive.Read("Zelvora/Data/satış.ldf"), Bytes(3000, 2));
  EXPECT_EQ(drive.Read("Zelvora/Data/boş.dat"), "");
  EXPECT_EQ(drive.Read("Zelvora/Data/yeni.txt"), "added");

  archives = ZipFiles(drive);
  ASSERT_EQ(archives.size(), 2u);
  const std::string safety = archives[0] == "202001021530.zip" ? archives[1] : archives[0];
  const std::string safetyPath = drive.Host("Zelvora/Yedek/" + safety);
  EXPECT_TRUE(UnzipAccepts(safetyPath, kPassword));
  EXPECT_EQ(CompareArchiveWithFolder(safetyPath, before, kPassword), "");

  EXPECT_EQ(net.Commands(4), (std::vector<std::string>{"stop mssqlserver", "start mssqlserver",
                                                       "stop mssqlserver", "start mssqlserver"}));
}
