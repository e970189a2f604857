#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <cstdio>
#include <string>
#include <vector>

#include "backup/AnaUnit.h"
#include "tests/qt/QtFixture.h"

namespace {

constexpr const char* kMain = "AnaForm";
constexpr const char* kPicker = "KlasoreGozatForm";

// The names of the shown child widgets that stand for the form's controls.
std::vector<std::string> ShownControls(const TForm& form) {
  std::vector<std::string> names;
  QWidget& window = *TQtBackend::FindWindow(form.Name());
  for (const TControlState* control : form.Controls()) {
    QWidget* widget = window.findChild<QWidget*>(QString::fromStdString(control->Def.Name));
    if (widget && widget->isVisible()) names.push_back(control->Def.Name);
  }
  return names;
}

std::vector<std::string> FormShowing(const TForm& form) {
  std::vector<std::string> names;
  for (const TControlState* control : form.Controls()) {
    if (form.ControlShowing(control->Def.Name)) names.push_back(control->Def.Name);
  }
  return names;
}

// Every character of every text in the window has a glyph in the font the
// widget draws with: the Turkish letters render.
void ExpectGlyphsForAllTexts(QWidget& window) {
  for (QWidget* widget : window.findChildren<QWidget*>()) {
    QString text;
    if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) text = edit->text();
    const QFontMetrics metrics(widget->font());
    for (const QChar c : text) {
      if (c == '\n') continue;
      EXPECT_TRUE(metrics.inFont(c))
          << widget->objectName().toStdString() << ": U+" << std::hex << c.unicode();
    }
  }
}

// File names (without folders) and contents of an encrypted archive, read by
// Python's zipfile.
std::string ArchiveListing(const std::string& hostPath) {
  const std::string command =
      "python3 -c \"import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
      "z.setpassword(b'735296482913572'); "
      "print(';'.join(n.split('/')[-1] + '=' + z.read(n).decode() for n in "
      "sorted(z.namelist())))\" '" +
      hostPath + "' 2>&1";
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    ::pclose(pipe);
  }
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

class BackupWindowTest : public QtTest {
 protected:
  // Program entry as main() does it, without running the loop.
  void Start(const std::vector<std::string>& args = {}) {
    Application = std::make_unique<TApplication>(*Backend, "/opt/Vozidir");
    Application->SetTitle("Zelvora Yedek");
    Picker = std::make_unique<TKlasoreGozatRef>(*Application);
    Form = std::make_unique<TAnaForm>(*Application, args, *Picker);
    Picker->Create();
  }
  void ShowMain() {
    Form->Show();
    QApplication::processEvents();
  }

  std::unique_ptr<TApplication> Application;
  std::unique_ptr<TKlasoreGozatRef> Picker;
  std::unique_ptr<TAnaForm> Form;
};

}  // namespace

TEST_F(BackupWindowTest, WindowHasTheCaptionClientSizeBorderAndTextsOfPage1) {
  MakeSuiteFolders();
  Start();
  ShowMain();
  QWidget& window = Window(kMain);
  EXPECT_EQ(window.windowTitle().toStdString(), "Yedek Alma");
  const QImage page1 = SaveScreenshot(window, "backup-page1");
  EXPECT_EQ(page1.size(), QSize(570, 380));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());  // fixed border
  const Qt::WindowFlags flags = window.windowFlags();
  EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
  for (Qt::WindowType button : {Qt::WindowCloseButtonHint, Qt::WindowMinimizeButtonHint,
                                Qt::WindowMaximizeButtonHint, Qt::WindowSystemMenuHint}) {
    SCOPED_TRACE(int(button));
    EXPECT_FALSE(flags & button);
  }

  EXPECT_EQ(ShownControls(*Form), FormShowing(*Form));
  EXPECT_EQ(Child<QLabel>(kMain, "sLabel1").text().toStdString(), "Yedek Alma İşlemleri");
  EXPECT_EQ(Child<QLabel>(kMain, "sLabel2").text().toStdString(), "Kelvortek");
  EXPECT_EQ(Child<QPushButton>(kMain, "sButton1").text().toStdString(), "İptal");
  EXPECT_EQ(Child<QPushButton>(kMain, "sButton2").text().toStdString(), "İleri");
  EXPECT_EQ(Child<QLabel>(kMain, "Label1").text().toStdString(), Form->Caption("Label1"));
  EXPECT_EQ(Child<QLabel>(kMain, "Label2").pos(), QPoint(18, 160));
  EXPECT_EQ(Child<QLabel>(kMain, "sLabel2").palette().color(QPalette::WindowText),
            QColor(43, 53, 77));
  EXPECT_EQ(Child<QLabel>(kMain, "sLabel1").font().family().toStdString(), "Arial");
  EXPECT_TRUE(Child<QCheckBox>(kMain, "sCheckBox1").isChecked());
  ExpectGlyphsForAllTexts(window);

  // The drawn picture of the left panel is not blank.
  const QImage picture = Child(kMain, "Image1").grab().toImage();
  EXPECT_NE(picture.pixel(2, 2), picture.pixel(picture.width() / 2, picture.height() * 3 / 4));
}

TEST_F(BackupWindowTest, ClickingThroughTheWizardWritesTheArchiveInTheChosenFolder) {
  MakeSuiteFolders();
  Drive.MakeFolder("Zelvora/Başka");
  Drive.Write("Zelvora/Data/stok.mdf", "stok kayıtları");
  Drive.Write("Zelvora/Data/resim.jpg", "resim");
  Start();
  ShowMain();

  Click(kMain, "sButton2");  // İleri
  EXPECT_EQ(Child<QPushButton>(kMain, "sButton2").text().toStdString(), "Başlat");
  EXPECT_EQ(ShownControls(*Form), FormShowing(*Form));
  EXPECT_TRUE(Child(kMain, "Label3").isVisible());
  EXPECT_FALSE(Child(kMain, "Label1").isVisible());
  EXPECT_EQ(Child<QLineEdit>(kMain, "sEdit1").text().toStdString(), "C:\\Zelvora\\Yedek");
  ExpectGlyphsForAllTexts(Window(kMain));
  SaveScreenshot(Window(kMain), "backup-page2");

  Click(kMain, "sButton3");  // Seç
  QWidget& picker = Window(kPicker);
  ASSERT_TRUE(picker.isVisible());
  EXPECT_EQ(picker.windowTitle().toStdString(), "Klasöre Gözat");
  EXPECT_TRUE(picker.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(picker.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(picker.windowFlags() & Qt::WindowMinimizeButtonHint);
  auto& tree = Child<QTreeWidget>(kPicker, "Klasorler");
  ASSERT_NE(tree.currentItem(), nullptr);
  EXPECT_EQ(tree.currentItem()->text(0).toStdString(), "Yedek");
  EXPECT_EQ(tree.topLevelItem(0)->text(0).toStdString(), "C:");
  ClickFolder(tree, {"C:", "Zelvora", "Başka"});
  EXPECT_EQ(Picker->Form()->SelectedFolder("Klasorler"), "C:\\Zelvora\\Başka");
  ExpectGlyphsForAllTexts(picker);
  EXPECT_EQ(SaveScreenshot(picker, "folder-picker").size(), QSize(301, 292));
  Click(kPicker, "sButton1");  // Tamam
  EXPECT_EQ(Picker->Form(), nullptr);
  EXPECT_EQ(Child<QLineEdit>(kMain, "sEdit1").text().toStdString(), "C:\\Zelvora\\Başka");

  Click(kMain, "sButton2");  // Başlat: the whole run
  EXPECT_EQ(Child<QPushButton>(kMain, "sButton2").text().toStdString(), "Son");
  EXPECT_EQ(ShownControls(*Form), FormShowing(*Form));
  EXPECT_TRUE(Child(kMain, "sLabel3").isVisible());
  SaveScreenshot(Window(kMain), "backup-finished");
  EXPECT_EQ(ArchiveListing(Drive.Host("Zelvora/Başka/202403070905.zip")),
            "resim.jpg=resim;stok.mdf=stok kayıtları");
  EXPECT_TRUE(Backend->Messages().empty());

  Click(kMain, "sButton2");  // Son
  EXPECT_TRUE(Form->Closed());
  EXPECT_TRUE(Application->Terminated());
  EXPECT_FALSE(Window(kMain).isVisible());
}

TEST_F(BackupWindowTest, ThePickersCloseBoxClosesItAndTheMainWindowIgnoresOne) {
  MakeSuiteFolders();
  Start();
  ShowMain();
  Click(kMain, "sButton2");
  Click(kMain, "sButton3");
  ASSERT_NE(Picker->Form(), nullptr);
  Window(kPicker).close();  // the title bar's close box
  QApplication::processEvents();
  EXPECT_EQ(Picker->Form(), nullptr);
  EXPECT_EQ(Child<QLineEdit>(kMain, "sEdit1").text().toStdString(), "C:\\Zelvora\\Yedek");

  Click(kMain, "sButton3");  // a fresh picker on sEdit1's folder
  ASSERT_NE(Picker->Form(), nullptr);
  EXPECT_TRUE(Window(kPicker).isVisible());
  Click(kPicker, "sButton2");  // İptal
  EXPECT_EQ(Picker->Form(), nullptr);

  Window(kMain).close();  // no close box: nothing happens
  QApplication::processEvents();
  EXPECT_TRUE(Window(kMain).isVisible());
  EXPECT_FALSE(Form->Closed());
}

TEST_F(BackupWindowTest, AnUnreadableSettingsFileShowsTheModalErrorBox) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Vozidir.zvr", "not a table");
  TBoxAnswerer answerer("error-box");
  Start();  // FormCreate's error waits in the box until it is answered
  ASSERT_EQ(answerer.Boxes().size(), 1u);
  EXPECT_EQ(answerer.Boxes()[0].Title, "Zelvora Yedek");
  EXPECT_EQ(answerer.Boxes()[0].Text, "Invalid stream format.");
  EXPECT_EQ(answerer.Boxes()[0].Icon, QMessageBox::Critical);
  ASSERT_EQ(Backend->Messages().size(), 1u);
  EXPECT_EQ(Backend->Messages()[0].Icon, TMsgIcon::Stop);
  EXPECT_FALSE(Form->Timer1().Enabled());
}

TEST_F(BackupWindowTest, UnattendedModeRunsOnTheTimerAndEndsTheLoop) {
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/a.db", "veri");
  Start({"7384"});
  Application->Run();  // returns once the third press closed the window
  EXPECT_TRUE(Form->Closed());
  EXPECT_FALSE(Form->Timer1().Enabled());
  EXPECT_EQ(ArchiveListing(Drive.Host("Zelvora/Yedek/202403070905.zip")), "a.db=veri");
  EXPECT_TRUE(Backend->Messages().empty());
}

TEST_F(BackupWindowTest, AGaugeShowsItsPercentageAndTheMeterItsColours) {
  MakeSuiteFolders();
  Start();
  ShowMain();
  Form->SetVisible("sGauge1", true);
  Form->SetGaugeMax("sGauge1", 4);
  Form->SetGaugePosition("sGauge1", 1);
  Form->SetVisible("AbMeter1", true);
  Form->SetVisible("sGauge1", false);
  Form->SetGaugeMax("AbMeter1", 100);
  Form->SetGaugePosition("AbMeter1", 50);
  QApplication::processEvents();
  const QImage meter = Child(kMain, "AbMeter1").grab().toImage();
  EXPECT_EQ(QColor(meter.pixel(5, 10)), QColor(0, 0, 128));  // navy, filled
  EXPECT_EQ(QColor(meter.pixel(meter.width() - 5, 10)),
            Window(kMain).palette().color(QPalette::Button));  // button face, empty
}
