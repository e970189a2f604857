#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "desktop/KlasoreGozatFormUnit.h"
#include "platform/HeadlessForms.h"
#include "tests/support/TestSupport.h"

namespace {

// The part of a wizard window the picker works with.
TWindowDef MainWindow() {
  TWindowDef def;
  def.Name = "AnaForm";
  def.Caption = "Ana";
  TControlDef edit;
  edit.Name = "sEdit1";
  edit.Kind = TControlKind::Edit;
  edit.Caption = "  C:\\Zelvora\\Yedek ";
  TControlDef choose;
  choose.Name = "sButton3";
  choose.Kind = TControlKind::Button;
  choose.Caption = "Seç";
  def.Controls = {edit, choose};
  return def;
}

class TMainForm : public TForm {
 public:
  TMainForm(TApplication& application, TKlasoreGozatRef& picker)
      : TForm(application, MainWindow()) {
    OnClick("sButton3", [&picker] { picker.Open(); });
  }
};

class KlasoreGozat : public ::testing::Test {
 protected:
  KlasoreGozat() : Application(Backend, "Vozidir"), Picker(Application), Main(Application, Picker) {
    Drive.MakeFolder("Zelvora/Yedek");
    Drive.MakeFolder("Zelvora/Arşiv");
    Picker.Create();
    Main.Show();
  }

  TTempDrive Drive;
  THeadlessBackend Backend;
  TApplication Application;
  TKlasoreGozatRef Picker;
  TMainForm Main;
};

}  // namespace

TEST_F(KlasoreGozat, TheWindowAsCreatedAtStartUp) {
  ASSERT_NE(Picker.Form(), nullptr);
  const TKlasoreGozatForm& form = *Picker.Form();
  EXPECT_FALSE(form.Showing());
  EXPECT_EQ(form.Def().Caption, "Klasöre Gözat");
  EXPECT_EQ(form.Def().ClientWidth, 301);
  EXPECT_EQ(form.Def().ClientHeight, 292);
  EXPECT_TRUE(form.Def().StayOnTop);
  EXPECT_EQ(form.Def().BorderIcons, TBorderIcons::CloseOnly);
  EXPECT_EQ(form.Caption("Label1"), "Lütfen yedeklerin saklanacağı klasörü seçiniz ...");
  EXPECT_EQ(form.Caption("sButton1"), "Tamam");
  EXPECT_EQ(form.Caption("sButton2"), "İptal");
  EXPECT_EQ(form.Control("Klasorler").Def.Kind, TControlKind::FolderTree);
}

TEST_F(KlasoreGozat, ChooseWritesTheFolderIntoTheMainWindowAndClosesThePicker) {
  int chosen = 0;
  Picker.OnFolderChosen = [&] { ++chosen; };
  const TKlasoreGozatForm* first = Picker.Form();
  Backend.Execute("press sButton3");
  ASSERT_EQ(Picker.Form(), first);  // the one made at start-up
  EXPECT_TRUE(first->Showing());
  EXPECT_TRUE(Main.Showing());  // modeless: the main window stays usable
  EXPECT_EQ(first->SelectedFolder("Klasorler"), "C:\\Zelvora\\Yedek");

  Backend.Execute("choose C:\\zelvora\\arşiv\\");
  EXPECT_EQ(Main.Caption("sEdit1"), "C:\\Zelvora\\Arşiv");
  EXPECT_EQ(chosen, 1);
  EXPECT_EQ(Picker.Form(), nullptr);  // destroyed on close, reference cleared

  // A host path is given back in the drive namespace.
  Backend.Execute("press sButton3");
  Backend.Execute("choose " + Drive.Host("Zelvora/Yedek"));
  EXPECT_EQ(Main.Caption("sEdit1"), "C:\\Zelvora\\Yedek");
  EXPECT_EQ(chosen, 2);
}

TEST_F(KlasoreGozat, CancelAndTheCloseBoxLeaveTheFolderAlone) {
  int chosen = 0;
  Picker.OnFolderChosen = [&] { ++chosen; };
  Backend.Execute("press sButton3");
  Backend.Execute("press KlasoreGozatForm.sButton2");
  EXPECT_EQ(Picker.Form(), nullptr);
  Backend.Execute("press sButton3");
  ASSERT_NE(Picker.Form(), nullptr);
  EXPECT_EQ(Picker.Form()->SelectedFolder("Klasorler"), "C:\\Zelvora\\Yedek");
  Backend.Execute("close KlasoreGozatForm");
  EXPECT_EQ(Picker.Form(), nullptr);
  EXPECT_EQ(Main.Caption("sEdit1"), "  C:\\Zelvora\\Yedek ");
  EXPECT_EQ(chosen, 0);
  EXPECT_TRUE(Main.Showing());
}

TEST_F(KlasoreGozat, ChooseNeedsAnOpenPickerAndAnExistingFolder) {
  Backend.Execute("choose C:\\Zelvora\\Arşiv");
  Backend.Execute("press sButton3");
  Backend.Execute("choose C:\\Zelvora\\Yok");
  std::vector<std::string> ignored;
  for (const THeadlessRecord& r : Backend.Records("ignored")) ignored.push_back(r.Value);
  EXPECT_EQ(ignored, (std::vector<std::string>{
                         "choose C:\\Zelvora\\Arşiv (no folder picker open)",
                         "choose C:\\Zelvora\\Yok (no such folder)",
                     }));
  ASSERT_NE(Picker.Form(), nullptr);
  EXPECT_TRUE(Picker.Form()->Showing());
}

TEST_F(KlasoreGozat, AFolderTheTreeCannotSelectGoesToTheErrorBoxAndNothingOpens) {
  Main.SetCaption("sEdit1", "C:\\Zelvora\\Yok");
  Application.SetTitle("Zelvora Yedek");
  Backend.Execute("press sButton3");
  const auto boxes = Backend.Records("message box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Value, "Zelvora Yedek|stop|Error setting path: \"C:\\Zelvora\\Yok\".");
  ASSERT_NE(Picker.Form(), nullptr);
  EXPECT_FALSE(Picker.Form()->Showing());
}
