#include <QHeaderView>
#include <QTableWidget>
#include <string>
#include <vector>

#include "platform/MemTable.h"
#include "tests/qt/QtFixture.h"

namespace {

constexpr TColor kGrey = 14342878;  // $DADADE

// A window with a backup list as the restore wizard has it: a two-column
// grid over an in-memory table, striped from a white first row.
class TListForm : public TForm {
 public:
  explicit TListForm(TApplication& application) : TForm(application, Window()) {
    kl.AddField("tarih", ftString, 20);
    kl.AddField("dosya", ftString, 25);
    kl.Open();
    BindGrid("yedek_grid", kl, {{"tarih", "Yedek Tarihi", 145}, {"dosya", "Dosya Adı", 188}});
  }
  void Add(const std::string& date, const std::string& file) {
    kl.Append();
    kl.FieldByName("tarih").SetAsString(date);
    kl.FieldByName("dosya").SetAsString(file);
    kl.Post();
    GridChanged("yedek_grid");
  }
  TMemTable kl;

 protected:
  TColor GetCellColor(const std::string&, int row) const override {
    return row % 2 == 1 ? clWhite : kGrey;
  }

 private:
  static TWindowDef Window() {
    TWindowDef def;
    def.Name = "ListForm";
    def.Caption = "Yedek Geri Yükleme";
    def.ClientWidth = 400;
    def.ClientHeight = 200;
    TControlDef grid;
    grid.Name = "yedek_grid";
    grid.Kind = TControlKind::Grid;
    grid.Left = 10, grid.Top = 10, grid.Width = 380, grid.Height = 150;
    def.Controls = {grid};
    return def;
  }
};

class GridTest : public QtTest {
 protected:
  GridTest() : Application(*Backend, "qt_tests"), Form(Application) {}
  QTableWidget& Grid() { return Child<QTableWidget>("ListForm", "yedek_grid"); }

  TApplication Application;
  TListForm Form;
};

}  // namespace

TEST_F(GridTest, ListShowsTitledColumnsFittedToTheWidthAndStripedRows) {
  Form.Add("31/12/2023 18:00", "202312311800.zip");
  Form.Add("15/01/2024 12:30", "202401151230.zip");
  Form.Add("07/03/2024 09:05", "202403070905.zip");
  Form.Show();
  QApplication::processEvents();
  QTableWidget& grid = Grid();
  ASSERT_EQ(grid.columnCount(), 2);
  EXPECT_EQ(grid.horizontalHeaderItem(0)->text().toStdString(), "Yedek Tarihi");
  EXPECT_EQ(grid.horizontalHeaderItem(1)->text().toStdString(), "Dosya Adı");
  const int width = grid.columnWidth(0) + grid.columnWidth(1);
  EXPECT_EQ(width, grid.viewport()->width());
  EXPECT_NEAR(double(grid.columnWidth(0)) / width, 145.0 / 333, 0.01);

  ASSERT_EQ(grid.rowCount(), 3);
  const QColor expected[] = {Qt::white, QColor(222, 218, 218), Qt::white};
  for (int row = 0; row < 3; ++row) {
    SCOPED_TRACE(row);
    for (int column = 0; column < 2; ++column)
      EXPECT_EQ(grid.item(row, column)->background().color(), expected[row]);
  }
  EXPECT_EQ(grid.item(1, 1)->text().toStdString(), "202401151230.zip");
  EXPECT_FALSE(grid.item(0, 0)->flags() & Qt::ItemIsEditable);

  // The last record appended is current, selected as a whole row.
  EXPECT_EQ(grid.currentRow(), 2);
  EXPECT_EQ(grid.selectionModel()->selectedRows().size(), 1);
  EXPECT_EQ(grid.selectionModel()->selectedIndexes().size(), 2);
  const QPalette colours = grid.palette();
  EXPECT_EQ(colours.color(QPalette::Inactive, QPalette::Highlight),
            colours.color(QPalette::Active, QPalette::Highlight));
}

TEST_F(GridTest, AClickOnARowMakesItsRecordCurrent) {
  Form.Add("a", "1.zip");
  Form.Add("b", "2.zip");
  Form.Show();
  QApplication::processEvents();
  QTableWidget& grid = Grid();
  EXPECT_EQ(Form.kl.RecNo(), 2);
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier,
                    grid.visualItemRect(grid.item(0, 1)).center());
  EXPECT_EQ(Form.kl.RecNo(), 1);
  EXPECT_EQ(grid.currentRow(), 0);

  // The program moves the record: the grid follows.
  Form.kl.SetRecNo(2);
  Form.GridChanged("yedek_grid");
  EXPECT_EQ(grid.currentRow(), 1);

  // Emptied, the grid shows no row and no selection.
  Form.kl.Close();
  Form.kl.Open();
  Form.GridChanged("yedek_grid");
  EXPECT_EQ(grid.rowCount(), 0);
  EXPECT_TRUE(grid.selectionModel()->selectedRows().empty());
}
