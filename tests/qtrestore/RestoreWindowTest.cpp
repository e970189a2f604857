// The restore wizard's real window; a suite of its own, since both programs
// name their main window TAnaForm.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <memory>
#include <string>
#include <vector>

#include "desktop/SuiteArchiveUnit.h"
#include "restore/AnaUnit.h"
#include "tests/qt/QtFixture.h"

namespace {

constexpr const char* kMain = "AnaForm";

class RestoreWindowTest : public QtTest {
 protected:
  void Start() {
    Application = std::make_unique<TApplication>(*Backend, "/opt/Restorekeep.exe");
    Picker = std::make_unique<TKlasoreGozatRef>(*Application);
    Form = std::make_unique<TAnaForm>(*Application, *Picker);
    Picker->Create();
    Form->Show();
    QApplication::processEvents();
  }
  // An archive of the data file a.db holding `content`, as a backup writes it.
  void MakeArchive(const std::string& name, const std::string& content) {
    Drive.Write("Zelvora/Data/a.db", content);
    TAbSuiteZipper zip;
    zip.SetFileName(std::string(kSuiteBackupFolder) + "\\" + name);
    zip.SetPassword(kSuiteArchivePassword);
    zip.AddMatching(SuiteDataPath("a.db"), 0);
    zip.Save();
    zip.CloseFile();
  }

  std::unique_ptr<TApplication> Application;
  std::unique_ptr<TKlasoreGozatRef> Picker;
  std::unique_ptr<TAnaForm> Form;
};

}  // namespace

TEST_F(RestoreWindowTest, ClickingThroughRestoresTheRowChosenInTheStripedList) {
  MakeSuiteFolders();
  MakeArchive("202401151230.zip", "ocak");
  MakeArchive("202402011000.zip", "şubat");
  MakeArchive("202403011500.zip", "mart");
  Drive.Write("Zelvora/Data/a.db", "şimdi");
  Start();
  EXPECT_EQ(Window(kMain).windowTitle().toStdString(), "Yedek Geri Yükleme");
  EXPECT_EQ(Window(kMain).grab().size(), QSize(570, 380));
  EXPECT_EQ(Child<QLabel>(kMain, "sLabel1").text().toStdString(),
            "Yedekten Geri Yükleme İşlemleri");

  Click(kMain, "sButton2");  // İleri: the list of the backup folder
  auto& grid = Child<QTableWidget>(kMain, "yedek_grid");
  ASSERT_TRUE(grid.isVisible());
  ASSERT_EQ(grid.rowCount(), 3);
  EXPECT_EQ(grid.horizontalHeaderItem(0)->text().toStdString(), "Yedek Tarihi");
  EXPECT_EQ(grid.horizontalHeaderItem(1)->text().toStdString(), "Dosya Adı");
  EXPECT_EQ(grid.item(0, 0)->text().toStdString(), "15/01/2024 12:30");
  EXPECT_EQ(grid.item(2, 1)->text().toStdString(), "202403011500.zip");
  const QColor stripes[] = {Qt::white, QColor(222, 218, 218), Qt::white};
  for (int row = 0; row < 3; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(grid.item(row, 0)->background().color(), stripes[row]);
  }
  EXPECT_EQ(grid.currentRow(), 2);  // the newest
  SaveScreenshot(Window(kMain), "restore-page2");

  QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier,
                    grid.visualItemRect(grid.item(1, 0)).center());
  EXPECT_EQ(Form->kl().RecNo(), 2);

  Click(kMain, "sButton2");  // Başlat
  EXPECT_EQ(Child<QPushButton>(kMain, "sButton2").text().toStdString(), "Son");
  EXPECT_TRUE(Child(kMain, "sLabel3").isVisible());
  EXPECT_FALSE(grid.isVisible());
  EXPECT_TRUE(Backend->Messages().empty());
  EXPECT_EQ(Drive.Read("Zelvora/Data/a.db"), "şubat");
  EXPECT_FALSE(Drive.Read("Zelvora/Yedek/202403070905.zip").empty());  // the safety archive
  SaveScreenshot(Window(kMain), "restore-finished");

  Click(kMain, "sButton2");  // Son
  EXPECT_TRUE(Form->Closed());
}
