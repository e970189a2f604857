#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "tests/restore/RestoreFixture.h"

TEST_F(RestoreTest, TheListOfBackupsWithDatesFromTheirNames) {
  MakeSuiteFolders();
  for (const char* name : {"202401151230.zip", "202312311800.zip", "yedek.zip",
                           "zelvora_haftalik_yedek_arsivi.zip", "notlar.txt"}) {
    Drive.Write(std::string("Zelvora/Yedek/") + name, "x");
  }
  Drive.MakeFolder("Zelvora/Yedek/eski.zip");
  Drive.Write("Zelvora/Yedek/.gizli.zip", "x");
  Start("press sButton2\n");
  Run();
  EXPECT_EQ(Rows(), (std::vector<std::string>{
                        "31/12/2023 18:00 | 202312311800.zip",
                        "15/01/2024 12:30 | 202401151230.zip", "zi/k./yede p: | yedek.zip",
                        "a_/or/zelv ha:ft | zelvora_haftalik_yedek_ar",  // cut to 25
                    }));
  EXPECT_EQ(Form->kl().RecNo(), 4);  // the last row is selected
  for (int row = 1; row <= 4; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(Form->CellColor("yedek_grid", row), row % 2 ? 0xFFFFFFu : 14342878u);
  }
  EXPECT_EQ(Clock.Sleeps(), (std::vector<uint32_t>{10, 10, 10, 10}));
  EXPECT_EQ(Form->Caption("sButton2"), "Başlat");
}

TEST_F(RestoreTest, TwoArchivesTheNewestSelectedOnTheGreyRow) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Yedek/202401151230.zip", "x");
  Drive.Write("Zelvora/Yedek/202312311800.zip", "x");
  Start("press sButton2\nselect 1\n");
  Application->Run();
  EXPECT_EQ(Form->kl().RecNo(), 1);  // `select` moved the current record
  Start("press sButton2\n");
  Run();
  EXPECT_EQ(Form->kl().RecNo(), 2);
  EXPECT_EQ(Form->CellColor("yedek_grid", 2), 14342878u);
  const std::string out = Output.str();
  EXPECT_NE(out.find("AnaForm.yedek_grid row 2: 15/01/2024 12:30 | 202401151230.zip"),
            std::string::npos)
      << out;
}

TEST_F(RestoreTest, ChoosingAFolderRefreshesTheList) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Yedek/202401151230.zip", "x");
  Drive.MakeFolder("Başka");
  Drive.Write("Başka/202402020202.zip", "x");
  Drive.MakeFolder("Boş");
  Start("press sButton2\npress sButton3\nchoose C:\\Başka\n");
  Run();
  EXPECT_EQ(Form->Caption("sEdit1"), "C:\\Başka");
  EXPECT_EQ(Rows(), std::vector<std::string>{"02/02/2024 02:02 | 202402020202.zip"});

  Start("press sButton2\npress sButton3\nchoose C:\\Boş\npress sButton2\n");
  Run();
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(Form->Caption("sButton2"), "Başlat");  // "Başlat" with an empty list does nothing
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(RestoreTest, StartWithAnEmptyListDoesNothing) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.mdf", "a");
  Start("press sButton2\npress sButton2\npress sButton2\n");
  Run();
  EXPECT_EQ(Form->Caption("sButton2"), "Başlat");
  EXPECT_TRUE(Clock.Sleeps().empty());
  EXPECT_TRUE(MessageBoxes().empty());
  EXPECT_TRUE(Form->ControlShowing("sButton2"));
}

TEST_F(RestoreTest, StartUpEdgeCases) {
  Drive.MakeFolder("Zelvora");
  Start("press sButton2\n");
  Run();
  EXPECT_TRUE(Form->Closed());
  EXPECT_TRUE(Backend->Records("show").empty());
  EXPECT_EQ(Output.str(), "");

  Drive.MakeFolder("Zelvora/Data");
  Start();
  EXPECT_TRUE(DirectoryExists("C:\\Zelvora\\Yedek"));
  EXPECT_FALSE(Form->Closed());
  EXPECT_EQ(Application->Title(), "Restorekeep");
}

TEST_F(RestoreTest, AMissingBackupFolderGoesToTheErrorBox) {
  MakeSuiteFolders();
  Start("press sButton2\n");
  Form->SetCaption("sEdit1", "C:\\Yok");
  Run();
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{"Restorekeep|stop|Invalid filename."});
}
