// The backup run with the engine's zipper: the meter, the archive it writes,
// a second run in the same minute and an empty data folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/backup/VozidirProcess.h"
#include "tests/backup/WizardFixture.h"

namespace {

const std::string kArchive = "Zelvora/Yedek/202403070905.zip";

}  // namespace

TEST_F(WizardTest, TheEngineRunFeedsAbMeter1AndWritesTheDataFiles) {
  if (!HaveTool("python3")) GTEST_SKIP() << "needs python3";
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.mdf", std::string(50000, 'a'));
  Drive.Write("Zelvora/Data/b.ldf", "b");
  Start({}, "engine", "press sButton2\npress sButton2\n");
  Run();
  EXPECT_TRUE(MessageBoxes().empty());
  std::vector<std::string> meter;
  for (const THeadlessRecord& r : Backend->Records("gauge")) {
    if (r.Control == "AbMeter1") meter.push_back(r.Value);
  }
  ASSERT_FALSE(meter.empty());
  // Progress between the ends was shown.
  EXPECT_TRUE(std::any_of(meter.begin(), meter.end(), [](const std::string& value) {
    const int position = std::stoi(value);
    return position > 0 && position < 100;
  })) << meter.size();
  EXPECT_FALSE(Form->Visible("AbMeter1"));
  // Each meter change and each save report pumps messages.
  EXPECT_GT(Backend->Records("pump").size(), meter.size());
  EXPECT_EQ(CompareArchiveWithFolder(Drive.Host(kArchive), Drive.Host("Zelvora/Data"),
                                     TAnaForm::kPassword),
            "");
}

TEST_F(WizardTest, ASecondRunInTheSameMinuteAddsOnlyNewFiles) {
  if (!HaveTool("python3")) GTEST_SKIP() << "needs python3";
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.mdf", "first");
  Start({}, "engine", "press sButton2\npress sButton2\n");
  Run();
  Drive.Write("Zelvora/Data/b.ldf", "new");
  const std::string before = Drive.Host("expected");
  std::filesystem::create_directories(before);
  std::filesystem::copy(Drive.Host("Zelvora/Data"), before);
  Drive.Write("Zelvora/Data/a.mdf", "second");  // already in the archive: not added again
  Start({}, "engine", "press sButton2\npress sButton2\n");
  Run();
  EXPECT_TRUE(MessageBoxes().empty());
  EXPECT_EQ(CompareArchiveWithFolder(Drive.Host(kArchive), before, TAnaForm::kPassword), "");
}

TEST_F(WizardTest, AnEmptyDataFolderGivesAnArchiveWithoutEntries) {
  MakeSuiteFolders();
  Drive.MakeFolder("Zelvora/Data/Resimler");
  Drive.Write("Zelvora/Data/.gizli", "hidden");
  Start({}, "engine", "press sButton2\npress sButton2\n");
  Run();
  EXPECT_TRUE(MessageBoxes().empty());
  EXPECT_EQ(Form->Control("sGauge1").GaugeMax, 0);
  // Only the end record: 22 bytes beginning with its signature.
  const std::string archive = Drive.Read(kArchive);
  ASSERT_EQ(archive.size(), 22u);
  EXPECT_EQ(archive.substr(0, 4), std::string("PK\5\6", 4));
  EXPECT_EQ(Clock.Sleeps(), (std::vector<uint32_t>{500, 500, 5000, 1000}));
}
