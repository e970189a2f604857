// The unzipper component: defaults, settings passed to the archive, the
// missing archive, the forwarders and the plugged hooks.
#include <gtest/gtest.h>

#include <string>

#include "ExtractSupport.h"
#include "archive/AbBitBkt.h"
#include "archive/AbUnzper.h"
#include "archive/AbZipper.h"

namespace {

using namespace extract_test;

void MakeArchive(const TTempDrive& drive) {
  drive.Write("Zelvora/Data/x.mdf", WordBytes(9000, 1));
  drive.MakeFolder("Arc");
  drive.MakeFolder("Out");
  TAbZipper zipper;
  zipper.SetFileName("C:\\Arc\\a.zip");
  zipper.AddMatching("C:\\Zelvora\\Data\\x.mdf", 0);
  zipper.CloseFile();
}

TEST(UnzipperTest, DefaultsAreCreateDirsAndThreeRetries) {
  TAbUnZipper unzipper;
  EXPECT_EQ(unzipper.ExtractOptions(), TAbExtractOptions({eoCreateDirs}));
  EXPECT_EQ(unzipper.PasswordRetries(), 3);
  EXPECT_EQ(unzipper.Archive(), nullptr);
}

TEST(UnzipperTest, ExtractingWithoutAnArchiveRaisesNoArchive) {
  TTempDrive drive;
  TAbUnZipper unzipper;
  for (const char* name : {"", "C:\\missing.zip"}) {
    SCOPED_TRACE(name);
    unzipper.SetFileName(name);
    EXPECT_EQ(unzipper.Archive(), nullptr);
    try {
      unzipper.ExtractMatching("*.*");
      ADD_FAILURE() << "no exception";
    } catch (const EAbNoArchive& e) {
      EXPECT_STREQ(e.what(), "Archive does not exist - FileName is blank");
    }
  }
}

TEST(UnzipperTest, SettingsReachTheArchiveBeforeAndAfterOpening) {
  TTempDrive drive;
  MakeArchive(drive);
  TAbUnZipper unzipper;
  unzipper.SetExtractOptions({eoRestorePath});
  unzipper.SetPasswordRetries(7);
  unzipper.SetPassword("p1");
  unzipper.SetFileName("C:\\Arc\\a.zip");
  TAbZipArchive* zip = unzipper.ZipArchive();
  ASSERT_NE(zip, nullptr);
  EXPECT_EQ(zip->ExtractOptions, TAbExtractOptions({eoRestorePath}));
  EXPECT_EQ(zip->PasswordRetries, 7);
  EXPECT_EQ(zip->Password, "p1");
  EXPECT_TRUE(zip->ExtractHook && zip->ExtractToStreamHook && zip->TestHook);
  unzipper.SetExtractOptions({});
  unzipper.SetPasswordRetries(0);
  EXPECT_TRUE(zip->ExtractOptions.Empty());
  EXPECT_EQ(zip->PasswordRetries, 0);
}

// The restore's set-up: empty options, the data folder as base; a stored
// Zelvora/Data/x.mdf replaces x.mdf there without a question.
TEST(UnzipperTest, RestoreSetupReplacesTheBareNameInTheBaseFolder) {
  TTempDrive drive;
  MakeArchive(drive);
  drive.Write("Out/x.mdf", "old");
  TAbUnZipper unzipper;
  unzipper.SetFileName("C:\\Arc\\a.zip");
  unzipper.SetExtractOptions({});
  unzipper.SetPasswordRetries(0);
  unzipper.SetBaseDirectory("C:\\Out");
  ASSERT_EQ(unzipper.ItemAt(0).FileName(), "Zelvora/Data/x.mdf");
  unzipper.ExtractMatching("*.*");
  EXPECT_EQ(drive.Read("Out/x.mdf"), WordBytes(9000, 1));
  EXPECT_EQ(drive.List("Out"), std::vector<std::string>{"x.mdf"});
}

TEST(UnzipperTest, HooksExtractToAStreamAndTest) {
  TTempDrive drive;
  MakeArchive(drive);
  TAbUnZipper unzipper;
  unzipper.SetFileName("C:\\Arc\\a.zip");
  TMemoryStream out;
  out.WriteBuffer("head", 4);
  unzipper.Archive()->ExtractOneToStream(0, out);
  const std::vector<uint8_t>& bytes = out.Bytes();
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "head" + WordBytes(9000, 1));
  EXPECT_NO_THROW(unzipper.Archive()->TestOne(0));
}

// Without a component handler the password question gets an empty answer.
TEST(UnzipperTest, NoPasswordHandlerLeavesTheAnswerEmpty) {
  TTempDrive drive;
  MakeArchive(drive);
  TAbUnZipper unzipper;
  unzipper.SetFileName("C:\\Arc\\a.zip");
  unzipper.SetPassword("kept");
  std::string answer;
  unzipper.ZipArchive()->OnNeedPassword(answer);
  EXPECT_EQ(answer, "");
  EXPECT_EQ(unzipper.Password(), "kept");
  bool confirm = false;
  std::string name = "C:\\Out\\x.mdf";
  unzipper.Archive()->OnConfirmOverwrite(name, confirm);
  EXPECT_TRUE(confirm);
}

}  // namespace
