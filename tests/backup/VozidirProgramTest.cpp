// The built Vozidir program as a process, on a temporary drive C:.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "backup/BinaryTableFormat.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/MemTable.h"
#include "tests/backup/VozidirProcess.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kPassword = "735296482913572";

std::string Bytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = char(i % 7 == 0 ? (seed >> 16) : 'a' + i % 13);
  }
  return bytes;
}

std::vector<std::string> ZipFiles(const TTempDrive& drive, const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(drive.Host(folder))) {
    if (entry.path().extension() == ".zip") names.push_back(entry.path().filename().string());
  }
  return names;
}

std::string MinuteName(TDateTime when) {
  int y, mo, d, h, mi, s, ms;
  DecodeDate(when, y, mo, d);
  DecodeTime(when, h, mi, s, ms);
  char text[32];
  std::snprintf(text, sizeof text, "%d%02d%02d%02d%02d.zip", y, mo, d, h, mi);
  return text;
}

}  // namespace

TEST(VozidirProgram, UnattendedBackupOfTheDataFolder) {
  if (!HaveTool("unzip") || !HaveTool("python3")) GTEST_SKIP() << "needs unzip and python3";
  TTempDrive drive;
  drive.MakeFolder("Zelvora/Data/Resimler");
  drive.Write("Zelvora/Data/İlaç Şubesi.mdf", Bytes(200000, 1));
  drive.Write("Zelvora/Data/güncel_ödeme.ldf", Bytes(7000, 2));
  drive.Write("Zelvora/Data/boş.dat", "");
  drive.Write("Zelvora/Data/.gizli", "hidden");
  drive.Write("Zelvora/Data/Resimler/ürün.jpg", Bytes(500, 3));
  TRecordingNet net(drive);

  // First start: the settings file is written and nothing else happens.
  const TProgramRun first = RunProgram(drive, ProgramCommand(ZELVORA_VOZIDIR), "");
  EXPECT_EQ(first.Status, 0);
  EXPECT_EQ(drive.Read("Zelvora/Vozidir.zvr").size(), 330u);
  EXPECT_TRUE(ZipFiles(drive, "Zelvora/Yedek").empty());

  TNamedProcess control1("Plimctl.exe"), control2("Plimctl.exe"), suite("ZELVORA.EXE"),
      other("Plimctl2.exe");
  ASSERT_TRUE(control1.Ready() && control2.Ready() && suite.Ready() && other.Ready());

  TSystemClock clock;
  const TDateTime before = clock.Now();
  // The unattended mode reads no input: a cancel waiting there is never seen.
  const TProgramRun run =
      RunProgram(drive, ProgramCommand(ZELVORA_VOZIDIR, "7384"), "press sButton1\n");
  const TDateTime after = clock.Now();
  EXPECT_EQ(run.Status, 0);
  EXPECT_NE(run.Output.find("AnaForm.sButton2: Son\n"), std::string::npos) << run.Output;
  EXPECT_EQ(run.Output.find("message box"), std::string::npos) << run.Output;
  EXPECT_EQ(run.Output.substr(run.Output.size() - 15), "AnaForm closed\n");

  const std::vector<std::string> archives = ZipFiles(drive, "Zelvora/Yedek");
  ASSERT_EQ(archives.size(), 1u);
  EXPECT_TRUE(archives[0] == MinuteName(before) || archives[0] == MinuteName(after)) << archives[0];
  const std::string archive = drive.Host("Zelvora/Yedek/" + archives[0]);
  EXPECT_TRUE(UnzipAccepts(archive, kPassword));
  EXPECT_EQ(CompareArchiveWithFolder(archive, drive.Host("Zelvora/Data"), kPassword), "");

  TMemTable settings;
  TBinaryTableFormat format;
  format.LoadFromFile(settings, "C:\\Zelvora\\Vozidir.zvr");
  const TDateTime recorded = settings.FieldByName("sonyedek").AsDateTime();
  EXPECT_TRUE(recorded == std::floor(before) || recorded == std::floor(after));
  EXPECT_TRUE(settings.FieldByName("elle").AsBoolean());
  EXPECT_EQ(settings.FieldByName("ellegun").AsInteger(), 7);

  EXPECT_EQ(net.Commands(2), (std::vector<std::string>{"stop mssqlserver", "start mssqlserver"}));
  EXPECT_FALSE(control1.Running());
  EXPECT_FALSE(control2.Running());
  EXPECT_FALSE(suite.Running());
  EXPECT_TRUE(other.Running());
}

// Silently, with the start-up status when unattended.
TEST(VozidirProgram, MissingDataFolderEndsSilently) {
  TTempDrive drive;
  drive.MakeFolder("Zelvora");
  for (const char* arguments : {"7384", ""}) {
    SCOPED_TRACE(arguments);
    const TProgramRun run = RunProgram(drive, ProgramCommand(ZELVORA_VOZIDIR, arguments), "");
    EXPECT_EQ(run.Status, std::string(arguments).empty() ? 0 : 2);
    EXPECT_EQ(run.Output, "");
    EXPECT_FALSE(std::filesystem::exists(drive.Host("Zelvora/Vozidir.zvr")));
    EXPECT_FALSE(std::filesystem::exists(drive.Host("Zelvora/Yedek")));
  }
}
