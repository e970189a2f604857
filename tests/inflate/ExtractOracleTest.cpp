// Archives written by the peers (Info-ZIP zip, 7-Zip, Python's zipfile) and by
// our own zipper extract through the unzipper byte for byte, with the dates
// and the read-only attribute stored in them, and every item passes the
// engine's own test.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "ExtractSupport.h"
#include "archive/AbUnzper.h"
#include "archive/AbUtils.h"
#include "archive/AbZipper.h"
#include "archive/inflate/AbUnzPrc.h"
#include "platform/FileSystem.h"

namespace {

using namespace extract_test;

const std::string kPassword = "735296482913572";

struct TSourceFile {
  std::string Name;
  std::string Bytes;
};

std::vector<TSourceFile> Corpus() {
  std::string big = WordBytes(1 << 20, 11);
  big += NoiseBytes(300000, 12);  // over 1 MB, with an incompressible stretch
  return {
      {"empty.txt", ""},
      {"one.bin", "Z"},
      {"text.txt", WordBytes(60000, 1)},
      {"noise.bin", NoiseBytes(70000, 2)},
      {"big.dat", big},
      {"ro.txt", WordBytes(3000, 3)},
  };
}

// The sources, read-only where named so and all dated 17 May 2023 10:20:30.
void WriteSources(const TTempDrive& drive) {
  for (const TSourceFile& file : Corpus()) drive.Write("Src/" + file.Name, file.Bytes);
  std::string output;
  ASSERT_EQ(
      RunCommand("touch -d '2023-05-17 10:20:30' " + ShellQuote(drive.Host("Src")) + "/*", output),
      0)
      << output;
  ASSERT_EQ(::chmod(drive.Host("Src/ro.txt").c_str(), 0444), 0);
}

bool HostReadOnly(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & 0200) == 0;
}

// Extracts C:\Arc\a.zip into C:\Out and checks every corpus file: bytes, the
// date, the read-only attribute as stored, and AbVerifyItem on every item.
void ExtractAndCompare(const TTempDrive& drive, const std::string& password,
                       bool expectReadOnlyKept) {
  drive.MakeFolder("Out");
  TAbUnZipper unzipper;
  TFailureLog log;
  log.Attach(unzipper);
  unzipper.SetFileName("C:\\Arc\\a.zip");
  ASSERT_NE(unzipper.ZipArchive(), nullptr);
  unzipper.SetPassword(password);
  unzipper.SetBaseDirectory("C:\\Out");
  unzipper.ExtractMatching("*.*");
  for (const TFailure& failure : log.Failures) {
    ADD_FAILURE() << failure.Name << " failed with code " << failure.ErrorCode;
  }

  const std::vector<TSourceFile> corpus = Corpus();
  ASSERT_EQ(unzipper.Count(), int(corpus.size()));
  for (const TSourceFile& file : corpus) {
    SCOPED_TRACE(file.Name);
    EXPECT_EQ(drive.Read("Out/" + file.Name), file.Bytes);
    EXPECT_EQ(FileAge("C:\\Out\\" + file.Name), AbDosFileDate(2023, 5, 17, 10, 20, 30));
  }
  for (int i = 0; i < unzipper.Count(); ++i) {
    TAbZipItem& item = unzipper.ItemAt(i);
    SCOPED_TRACE(item.FileName());
    const bool readOnly = (item.ExternalFileAttributes() & faReadOnly) != 0;
    const std::string name = item.FileName().substr(item.FileName().find_last_of('/') + 1);
    EXPECT_EQ(HostReadOnly(drive.Host("Out/" + name)), readOnly);
    EXPECT_NO_THROW(unzipper.ZipArchive()->TestOne(i));
  }
  if (expectReadOnlyKept) {
    EXPECT_TRUE(HostReadOnly(drive.Host("Out/ro.txt")));
  }
  EXPECT_EQ(drive.List("Out").size(), corpus.size()) << "no temporary file is left";
}

struct TPeerCase {
  const char* Label;
  const char* Tool;
  // Run in the sources' folder; writes ../Arc/a.zip.
  const char* Command;
  const char* Password;
  bool KeepsReadOnly;
};

const char* const kPythonWriter =
    "python3 -c \"import zipfile,sys,os; z=zipfile.ZipFile('../Arc/a.zip','w',"
    "zipfile.ZIP_%s); [z.write(n) for n in sorted(os.listdir('.'))]; z.close()\"";

class ExtractPeerTest : public ::testing::TestWithParam<TPeerCase> {};

TEST_P(ExtractPeerTest, ExtractsByteIdenticalWithDatesAndAttributes) {
  const TPeerCase& peer = GetParam();
  if (!HaveTool(peer.Tool)) GTEST_SKIP() << peer.Tool << " is not installed";
  TTempDrive drive;
  WriteSources(drive);
  drive.MakeFolder("Arc");
  std::string output;
  ASSERT_EQ(RunCommand("cd " + ShellQuote(drive.Host("Src")) + " && " + peer.Command, output), 0)
      << output;
  ExtractAndCompare(drive, peer.Password, peer.KeepsReadOnly);
}

const std::string kPython = "python3";
const std::string kStoredPython = Format(kPythonWriter, "STORED");
const std::string kDeflatedPython = Format(kPythonWriter, "DEFLATED");

INSTANTIATE_TEST_SUITE_P(
    Peers, ExtractPeerTest,
    ::testing::Values(
        TPeerCase{"zip_stored", "zip", "zip -q -0 ../Arc/a.zip *", "", true},
        TPeerCase{"zip_level1", "zip", "zip -q -1 ../Arc/a.zip *", "", true},
        TPeerCase{"zip_level6", "zip", "zip -q -6 ../Arc/a.zip *", "", true},
        TPeerCase{"zip_level9", "zip", "zip -q -9 ../Arc/a.zip *", "", true},
        TPeerCase{"zip_encrypted", "zip", "zip -q -e -P 735296482913572 ../Arc/a.zip *",
                  "735296482913572", true},
        TPeerCase{"zip_encrypted_stored", "zip", "zip -q -0 -e -P 735296482913572 ../Arc/a.zip *",
                  "735296482913572", true},
        TPeerCase{"sevenzip_deflate64", "7zz",
                  "7zz a -tzip -mm=Deflate64 ../Arc/a.zip * >/dev/null", "", true},
        TPeerCase{"sevenzip_zipcrypto", "7zz",
                  "7zz a -tzip -mem=ZipCrypto -p735296482913572 ../Arc/a.zip * >/dev/null",
                  "735296482913572", true},
        TPeerCase{"python_stored", "python3", kStoredPython.c_str(), "", false},
        TPeerCase{"python_deflated", "python3", kDeflatedPython.c_str(), "", false}),
    [](const ::testing::TestParamInfo<TPeerCase>& info) { return std::string(info.param.Label); });

// The archives of our own zipper, every compression choice with and without
// the password.
class ExtractZipperTest : public ::testing::TestWithParam<std::tuple<TAbZipSupportedMethod, bool>> {
};

TEST_P(ExtractZipperTest, ExtractsByteIdenticalWithDatesAndAttributes) {
  const auto [method, encrypted] = GetParam();
  TTempDrive drive;
  WriteSources(drive);
  drive.MakeFolder("Arc");
  {
    TAbZipper zipper;
    zipper.SetFileName("C:\\Arc\\a.zip");
    if (encrypted) zipper.SetPassword(kPassword);
    zipper.SetCompressionMethodToUse(method);
    zipper.AddMatching("C:\\Src\\*.*", 0);
    zipper.CloseFile();
  }
  ExtractAndCompare(drive, encrypted ? kPassword : std::string(), true);
}

INSTANTIATE_TEST_SUITE_P(Zipper, ExtractZipperTest,
                         ::testing::Combine(::testing::Values(smStored, smDeflated, smBestMethod),
                                            ::testing::Bool()));

// The Turkish names of a pharmacy's files survive the round trip and pass
// the engine's test.
TEST(ExtractTurkishNamesTest, ZipperArchivePassesVerifyAndExtractsUnderItsNames) {
  TTempDrive drive;
  const std::string bos = "bo\xC5\x9F.txt";                              // boş.txt
  const std::string urun = "\xC3\xBCr\xC3\xBCn_\xC4\xB0la\xC3\xA7.jpg";  // ürün_İlaç.jpg
  drive.Write("Src/" + bos, "");
  drive.Write("Src/" + urun, NoiseBytes(40000, 5));
  drive.MakeFolder("Arc");
  drive.MakeFolder("Out");
  {
    TAbZipper zipper;
    zipper.SetFileName("C:\\Arc\\a.zip");
    zipper.SetPassword(kPassword);
    zipper.AddMatching("C:\\Src\\*.*", 0);
    zipper.CloseFile();
  }
  TAbUnZipper unzipper;
  TFailureLog log;
  log.Attach(unzipper);
  unzipper.SetFileName("C:\\Arc\\a.zip");
  unzipper.SetPassword(kPassword);
  ASSERT_EQ(unzipper.Count(), 2);
  for (int i = 0; i < unzipper.Count(); ++i) {
    SCOPED_TRACE(unzipper.ItemAt(i).FileName());
    EXPECT_NO_THROW(AbVerifyItem(*unzipper.Archive(), unzipper.ItemAt(i)));
  }
  unzipper.SetBaseDirectory("C:\\Out");
  unzipper.ExtractMatching("*.*");
  EXPECT_TRUE(log.Failures.empty());
  EXPECT_EQ(drive.Read("Out/" + bos), "");
  EXPECT_EQ(drive.Read("Out/" + urun), NoiseBytes(40000, 5));
}

}  // namespace
