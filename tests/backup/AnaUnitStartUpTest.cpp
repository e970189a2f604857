#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/backup/WizardFixture.h"

namespace {

std::vector<std::string> DriveContent(const TTempDrive& drive) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(drive.Root())) {
    names.push_back(std::filesystem::relative(entry.path(), drive.Root()).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

const std::vector<std::string> kPage1 = {"sPanel1",  "Image1",  "sLabel2", "sPanel2", "sButton1",
                                         "sButton2", "sPanel3", "sLabel1", "Label1",  "Label2"};

}  // namespace

TEST_F(WizardTest, MissingRootOrDataFolderEndsSilentlyWithoutWritingAnything) {
  const struct {
    const char* name;
    std::vector<std::string> folders;
  } cases[] = {
      {"no root", {}},
      {"no data folder", {"Zelvora"}},
      {"no data folder, a backup folder", {"Zelvora", "Zelvora/Yedek"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(Drive.Host("Zelvora"));
    for (const std::string& folder : c.folders) Drive.MakeFolder(folder);
    const std::vector<std::string> before = DriveContent(Drive);
    Start({"7384"}, "recording", "press sButton2\npress sButton2\n");
    Run();
    EXPECT_TRUE(Form->Closed());
    EXPECT_TRUE(Backend->Records("show").empty());
    EXPECT_TRUE(Backend->Records("message box").empty());
    EXPECT_TRUE(Backend->Records("timer on").empty());
    EXPECT_EQ(Output.str(), "");
    EXPECT_EQ(DriveContent(Drive), before);
    EXPECT_TRUE(ZipLog.empty());
  }
}

TEST_F(WizardTest, FirstStartCreatesTheBackupFolderAndTheSettingsFile) {
  Drive.MakeFolder("Zelvora/Data");
  Start({});
  EXPECT_TRUE(std::filesystem::is_directory(Drive.Host("Zelvora/Yedek")));
  const std::string written = Drive.Read("Zelvora/Vozidir.zvr");
  EXPECT_EQ(written.size(), 330u);
  // The record: elle true, ellegun 7, the five other fields null.
  const std::string records("\x01\x01\x02\x00\x08\x09\x08\x02\x07\x09\x09\x09\x09\x09\x00\x00", 16);
  EXPECT_EQ(written.substr(written.size() - 16), records);
  EXPECT_EQ(written.substr(0, 7), std::string("TPF0\x03\xFB\x00", 7));

  TMemTable& settings = Form->YedekDB();
  ASSERT_TRUE(settings.Active());
  EXPECT_EQ(settings.RecordCount(), 1);
  EXPECT_TRUE(settings.FieldByName("elle").AsBoolean());
  EXPECT_EQ(settings.FieldByName("ellegun").AsInteger(), 7);
  for (const char* field : {"oto", "otogun", "ikinci", "ikinciyol", "sonyedek"}) {
    SCOPED_TRACE(field);
    EXPECT_TRUE(settings.FieldByName(field).IsNull());
  }
  EXPECT_TRUE(MessageBoxes().empty());

  Run();  // no input: the window shows page 1, then closes at the end of input
  EXPECT_EQ(Backend->Records("show").front().Window, "AnaForm");
  EXPECT_EQ(Lines().front(), "AnaForm shown: Yedek Alma");
}

TEST_F(WizardTest, StartUpPlacesTheLabelsAndShowsPage1) {
  MakeSuiteFolders();
  Start({});
  EXPECT_EQ(Visible(), kPage1);
  EXPECT_EQ(Form->Control("Label1").Left, 18);
  EXPECT_EQ(Form->Control("Label1").Top, 63);
  EXPECT_EQ(Form->Control("Label2").Left, 18);
  EXPECT_EQ(Form->Control("Label2").Top, 160);
  EXPECT_EQ(Form->Def().Caption, "Yedek Alma");
  EXPECT_EQ(Form->Def().ClientWidth, 570);
  EXPECT_EQ(Form->Def().ClientHeight, 380);
  EXPECT_EQ(Form->Def().BorderIcons, TBorderIcons::None);
  EXPECT_EQ(Form->Control("sLabel2").Def.FontColor, 5059883u);
  EXPECT_TRUE(Form->Control("sCheckBox1").Def.Checked);
  EXPECT_FALSE(Form->Timer1().Enabled());
  EXPECT_EQ(Form->Timer1().Interval(), 500u);
}

TEST_F(WizardTest, EveryTextOfTheWindowIsExact) {
  MakeSuiteFolders();
  Start({});
  const struct {
    const char* control;
    const char* text;
  } cases[] = {
      {"sLabel2", "Kelvortek"},
      {"sButton1", "İptal"},
      {"sButton2", "İleri"},
      {"sLabel1", "Yedek Alma İşlemleri"},
      {"Label1",
       "Uyarı : Sabit diskinize aldığınız bir yedek herhangi bir problem durumunda sabit "
       "diskinizde bilgilere ulaşılabildiğinde kullanılabilir. Sistem problemleri, elektrik "
       "kesintileri ve virüs tehliklerine karşı yedekleme sistemini belli periyotlarda mutlaka "
       "kullanınız."},
      {"Label2",
       "Vozidirme işlemi bilgisayarınızın hızına ve Zelvora veritabanındaki bilgilerin "
       "çokluğuna göre değişmekle beraber ortalama 1-5 dk arasında sürebilir. Vozidirme işlemi "
       "sırasında Zelvora programı tüm bilgisayarlarda kapalı olmalı ve Zelvora programı ile "
       "ilgili işlem yapılmamalıdır."},
      {"Label3",
       "Vozidirme işleminde ürün resimleride dahildir.\n\nVozidirme işlemini farklı bir "
       "klasöre yapmak istiyorsanız, \nkaydetmek istediğiniz klasörü seçebilirsiniz.\n\n"
       "Vozidirme işlemi başlatmadan önce Terminal bilgisayarlar da programın\nkapalı olması "
       "gerekmektedir. Bunu kontrol ettikten sonra başlatmanız\ndaha uygun olur."},
      {"sCheckBox1", "Vozidirme işlemini ürün resim dosyalarını da eklleyerek yap."},
      {"sEdit1", "C:\\Zelvora\\Yedek"},
      {"sButton3", "Seç"},
      {"sLabel3", "Vozidirme başarıyla tamamlandı.\nİyi çalışmalar."},
      {"sLabel4", "İkinci Yedek İşlemi yapılıyor."},
      {"sLabel5", "İkinci Dosya Yolu :"},
      {"sLabel6", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.control);
    EXPECT_EQ(Form->Caption(c.control), c.text);
  }
}

TEST_F(WizardTest, UnattendedModeOnlyForExactly7384AsTheFirstArgument) {
  const struct {
    std::vector<std::string> args;
    bool armed;
  } cases[] = {
      {{"7384"}, true},       {{"7384", "x"}, true}, {{}, false},
      {{" 7384"}, false},     {{"7384 "}, false},    {{"73845"}, false},
      {{"x", "7384"}, false}, {{""}, false},
  };
  MakeSuiteFolders();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? std::string("(none)") : "[" + c.args[0] + "]");
    Start(c.args);
    EXPECT_EQ(Form->Timer1().Enabled(), c.armed);
  }
}

TEST_F(WizardTest, ExistingSettingsAreLoadedAndLeftUntouched) {
  MakeSuiteFolders();
  {
    TMemTable table;
    Start({});
    Form->YedekDB().Edit();
    Form->YedekDB().FieldByName("ikinci").SetAsBoolean(true);
    Form->YedekDB().FieldByName("ikinciyol").SetAsString("E:\\Kopya");
    Form->YedekDB().Post();
    Form->YedekFormat().SaveToFile(Form->YedekDB(), TAnaForm::kSettingsFile);
  }
  const std::string before = Drive.Read("Zelvora/Vozidir.zvr");
  Start({});
  EXPECT_EQ(Form->YedekDB().FieldByName("ikinciyol").AsString(), "E:\\Kopya");
  EXPECT_TRUE(Form->YedekDB().FieldByName("ikinci").AsBoolean());
  EXPECT_EQ(Drive.Read("Zelvora/Vozidir.zvr"), before);
}

// Interactive, the window opens normally after the box; unattended, nobody
// would close it: the box, then the end with the start-up status.
TEST_F(WizardTest, AnUnreadableSettingsFileGoesToTheErrorBoxAndDisarmsTheTimer) {
  for (const bool unattended : {false, true}) {
    SCOPED_TRACE(unattended ? "unattended" : "interactive");
    MakeSuiteFolders();
    Drive.Write("Zelvora/Vozidir.zvr", "not a table");
    Start(unattended ? std::vector<std::string>{"7384"} : std::vector<std::string>{});
    EXPECT_EQ(MessageBoxes(),
              std::vector<std::string>{"Zelvora Yedek|stop|Invalid stream format."});
    EXPECT_FALSE(Form->Timer1().Enabled());
    EXPECT_EQ(Drive.Read("Zelvora/Vozidir.zvr"), "not a table");
    EXPECT_EQ(Form->Closed(), unattended);
    Run();
    EXPECT_EQ(Backend->Records("show").size(), unattended ? 0u : 1u);
    EXPECT_EQ(Form->ExitCode(), unattended ? TAnaForm::kExitStartUpFailed : TAnaForm::kExitOk);
    EXPECT_NE(Drive.Read("Zelvora/Vozidir.log")
                  .find(" start-up duration=0.000s result=FAILED "
                        "error=\"Invalid stream format\"\r\n"),
              std::string::npos)
        << Drive.Read("Zelvora/Vozidir.log");
    std::filesystem::remove(Drive.Host("Zelvora/Vozidir.log"));
  }
}

TEST_F(WizardTest, ABackupFolderThatCannotBeCreatedGoesToTheErrorBox) {
  for (const bool unattended : {false, true}) {
    SCOPED_TRACE(unattended ? "unattended" : "interactive");
    Drive.MakeFolder("Zelvora/Data");
    Drive.Write("Zelvora/Yedek", "a file in the way");
    Start(unattended ? std::vector<std::string>{"7384"} : std::vector<std::string>{});
    EXPECT_EQ(MessageBoxes(), std::vector<std::string>{"Zelvora Yedek|stop|I/O error 183."});
    EXPECT_FALSE(Form->YedekDB().Active());  // steps 5 and 6 did not run
    EXPECT_FALSE(Form->Timer1().Enabled());
    EXPECT_FALSE(std::filesystem::exists(Drive.Host("Zelvora/Vozidir.zvr")));
    EXPECT_EQ(Form->Closed(), unattended);
    EXPECT_EQ(Form->ExitCode(), unattended ? TAnaForm::kExitStartUpFailed : TAnaForm::kExitOk);
  }
}
