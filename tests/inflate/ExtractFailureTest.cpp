// Items that fail: CRC mismatches, damaged data over an existing file, names
// that would leave the base folder, versions, methods, header disagreements,
// sizes that lie, aborts, and the folder and overwrite rules of the target.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExtractSupport.h"
#include "archive/AbBitBkt.h"
#include "archive/AbUnzper.h"
#include "archive/AbZipper.h"
#include "archive/inflate/AbUnzPrc.h"
#include "platform/FileSystem.h"

namespace {

using namespace extract_test;

// Offsets of the records of the first entry of an archive.
size_t CentralOf(const std::string& zip) {
  return zip.find(std::string("PK\x01\x02", 4));
}

// Writes C:\Arc\a.zip with our zipper from the files given (in C:\Src).
void Zip(const TTempDrive& drive, const std::vector<std::pair<std::string, std::string>>& files,
         TAbZipSupportedMethod method) {
  for (const auto& [name, bytes] : files) drive.Write("Src/" + name, bytes);
  drive.MakeFolder("Arc");
  drive.MakeFolder("Out");
  TAbZipper zipper;
  zipper.SetFileName("C:\\Arc\\a.zip");
  zipper.SetCompressionMethodToUse(method);
  zipper.SetStoreOptions({soStripPath});
  zipper.AddMatching("C:\\Src\\*.*", 0);
  zipper.CloseFile();
}

// Flips one byte in the middle of the stored data of `content` in C:\Arc\a.zip.
void CorruptData(const TTempDrive& drive, const std::string& content) {
  std::string zip = drive.Read("Arc/a.zip");
  const size_t at = zip.find(content);
  ASSERT_NE(at, std::string::npos);
  zip[at + content.size() / 2] ^= 0x55;
  drive.Write("Arc/a.zip", zip);
}

struct TOpened {
  TAbUnZipper Unzipper;
  TFailureLog Log;
  explicit TOpened(bool withHandler) {
    if (withHandler) Log.Attach(Unzipper);
    Unzipper.SetFileName("C:\\Arc\\a.zip");
    Unzipper.SetBaseDirectory("C:\\Out");
  }
};

// ------------------------------------------------------------ CRC

TEST(ExtractCrcTest, MismatchThroughTheComponentWithoutHandlerCompletes) {
  TTempDrive drive;
  const std::string bad = WordBytes(5000, 1), good = WordBytes(4000, 2);
  Zip(drive, {{"bad.txt", bad}, {"good.txt", good}}, smStored);
  CorruptData(drive, bad);
  TOpened opened(false);
  EXPECT_NO_THROW(opened.Unzipper.ExtractMatching("*.*"));
  EXPECT_FALSE(drive.Exists("Out/bad.txt"));
  EXPECT_EQ(drive.Read("Out/good.txt"), good);
  EXPECT_EQ(drive.List("Out").size(), 1u) << "no temporary file is left";
}

TEST(ExtractCrcTest, MismatchIsReportedPerItemAndTheRunGoesOn) {
  TTempDrive drive;
  const std::string bad = WordBytes(5000, 1), good = WordBytes(4000, 2);
  Zip(drive, {{"bad.txt", bad}, {"good.txt", good}}, smStored);
  CorruptData(drive, bad);
  TOpened opened(true);
  opened.Unzipper.ExtractMatching("*.*");
  ASSERT_EQ(opened.Log.Failures.size(), 1u);
  EXPECT_EQ(opened.Log.Failures[0].Name, "bad.txt");
  EXPECT_EQ(opened.Log.Failures[0].ProcessType, ptExtract);
  EXPECT_EQ(opened.Log.Failures[0].ErrorClass, ecCorvel);
  EXPECT_EQ(opened.Log.Failures[0].ErrorCode, 23);
  EXPECT_EQ(drive.Read("Out/good.txt"), good);
}

TEST(ExtractCrcTest, WithoutTheComponentTheMismatchRaises) {
  TTempDrive drive;
  const std::string bad = WordBytes(5000, 1);
  Zip(drive, {{"bad.txt", bad}}, smStored);
  CorruptData(drive, bad);
  TAbZipArchive archive("C:\\Arc\\a.zip", fmOpenRead | fmShareDenyNone);
  archive.Load();
  TMemoryStream out;
  try {
    AbExtractItemToStream(archive, archive.Items(0), out);
    FAIL() << "no exception";
  } catch (const EAbZipBadCRC& e) {
    EXPECT_STREQ(e.what(), "Failed CRC Check");
  }
  EXPECT_THROW(AbVerifyItem(archive, archive.Items(0)), EAbZipBadCRC);
  // To a stream, what was decoded stays written.
  EXPECT_EQ(out.Size(), int64_t(bad.size()));
}

// ------------------------------------------------ an existing target file

TEST(ExtractOverExistingTest, AFailedItemLeavesTheOldFileExactlyAsItWas) {
  struct TCase {
    const char* Label;
    TAbZipSupportedMethod Method;
  };
  for (const TCase& c : {TCase{"stored", smStored}, TCase{"deflated", smDeflated}}) {
    SCOPED_TRACE(c.Label);
    TTempDrive drive;
    const std::string bytes = NoiseBytes(30000, 4);
    Zip(drive, {{"x.mdf", bytes}}, c.Method);
    CorruptData(drive, c.Method == smStored ? bytes : drive.Read("Arc/a.zip").substr(200, 64));
    drive.Write("Out/x.mdf", "the pharmacy's good data file");
    std::string output;
    RunCommand("touch -d '2020-01-02 03:04:06' " + ShellQuote(drive.Host("Out/x.mdf")), output);
    TOpened opened(true);
    opened.Unzipper.ExtractMatching("*.*");
    EXPECT_EQ(opened.Log.Failures.size(), 1u);
    EXPECT_EQ(drive.Read("Out/x.mdf"), "the pharmacy's good data file");
    EXPECT_EQ(FileAge("C:\\Out\\x.mdf"), AbDosFileDate(2020, 1, 2, 3, 4, 6));
    EXPECT_EQ(drive.List("Out"), std::vector<std::string>{"x.mdf"});
  }
}

TEST(ExtractOverExistingTest, AGoodItemReplacesTheFileWithItsDateAndAttributes) {
  TTempDrive drive;
  const std::string bytes = WordBytes(30000, 5);
  drive.Write("Src/x.mdf", bytes);
  std::string output;
  RunCommand("touch -d '2022-02-03 04:05:06' " + ShellQuote(drive.Host("Src/x.mdf")) +
                 " && chmod 444 " + ShellQuote(drive.Host("Src/x.mdf")),
             output);
  Zip(drive, {}, smBestMethod);
  drive.Write("Out/x.mdf", std::string(100000, 'o'));
  TOpened opened(true);
  opened.Unzipper.ExtractMatching("*.*");
  EXPECT_TRUE(opened.Log.Failures.empty());
  EXPECT_EQ(drive.Read("Out/x.mdf"), bytes);
  EXPECT_EQ(FileAge("C:\\Out\\x.mdf"), AbDosFileDate(2022, 2, 3, 4, 5, 6));
  EXPECT_NE(FileGetAttr("C:\\Out\\x.mdf") & faReadOnly, 0);
}

TEST(ExtractOverExistingTest, AReadOnlyTargetIsACreateFailure) {
  TTempDrive drive;
  Zip(drive, {{"x.mdf", "new"}}, smStored);
  drive.Write("Out/x.mdf", "old");
  ASSERT_EQ(FileSetAttr("C:\\Out\\x.mdf", faReadOnly), 0);
  TOpened opened(true);
  opened.Unzipper.ExtractMatching("*.*");
  ASSERT_EQ(opened.Log.Failures.size(), 1u);
  EXPECT_EQ(opened.Log.Failures[0].ErrorClass, ecFileCreateError);
  EXPECT_EQ(drive.Read("Out/x.mdf"), "old");
}

TEST(ExtractOverExistingTest, OverwriteQuestionMayRefuseOrRename) {
  TTempDrive drive;
  Zip(drive, {{"x.mdf", "new"}}, smStored);
  drive.Write("Out/x.mdf", "old");
  {
    TOpened opened(true);
    int asked = 0;
    opened.Unzipper.OnConfirmOverwrite = [&](std::string& name, bool& confirm) {
      ++asked;
      EXPECT_TRUE(confirm);
      EXPECT_EQ(name, "C:\\Out\\x.mdf");
      confirm = false;
    };
    opened.Unzipper.ExtractMatching("*.*");
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(opened.Log.Failures.empty());
    EXPECT_EQ(drive.Read("Out/x.mdf"), "old");
  }
  TOpened opened(true);
  opened.Unzipper.OnConfirmOverwrite = [](std::string& name, bool&) { name = "C:\\Out\\y.mdf"; };
  opened.Unzipper.ExtractMatching("*.*");
  EXPECT_EQ(drive.Read("Out/x.mdf"), "old");
  EXPECT_EQ(drive.Read("Out/y.mdf"), "new");
}

// ------------------------------------------------------------ paths

// Python writes the names exactly as given.
void PythonArchive(const TTempDrive& drive, const std::vector<std::string>& names) {
  std::string script = "import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1],'w')\n";
  for (const std::string& name : names)
    script += "z.writestr(zipfile.ZipInfo('" + name + "'), b'data of " + name + "')\n";
  script += "z.close()\n";
  drive.Write("script.py", script);
  drive.MakeFolder("Arc");
  drive.MakeFolder("Base/Out");
  std::string output;
  ASSERT_EQ(RunCommand("python3 " + ShellQuote(drive.Host("script.py")) + " " +
                           ShellQuote(drive.Host("Arc/a.zip")),
                       output),
            0)
      << output;
}

TEST(ExtractPathTest, NamesLeavingTheBaseFolderAreRefusedOneByOne) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  TTempDrive drive;
  const std::vector<std::string> unsafe = {"../evil1.txt", "sub/../../evil2.txt",
                                           "/evil3.txt",   "C:/evil4.txt",
                                           "C:evil5.txt",  "..\\\\evil6.txt"};
  const std::vector<std::string> safe = {"ok.txt", "sub/../fine.txt", "a/./b/../c.txt"};
  std::vector<std::string> names = unsafe;
  names.insert(names.end(), safe.begin(), safe.end());
  PythonArchive(drive, names);

  TAbUnZipper unzipper;
  TFailureLog log;
  log.Attach(unzipper);
  unzipper.SetFileName("C:\\Arc\\a.zip");
  unzipper.SetBaseDirectory("C:\\Base\\Out");
  unzipper.SetExtractOptions({eoCreateDirs, eoRestorePath});
  unzipper.ExtractMatching("*.*");

  ASSERT_EQ(log.Failures.size(), unsafe.size());
  for (const TFailure& failure : log.Failures) {
    SCOPED_TRACE(failure.Name);
    EXPECT_EQ(failure.ErrorClass, ecCorvel);
    EXPECT_EQ(failure.ErrorCode, 0);
  }
  EXPECT_EQ(drive.List("Base"), std::vector<std::string>{"Out"});
  EXPECT_EQ(drive.List("").size(), 3u) << "Arc, Base and script.py only";
  EXPECT_EQ(drive.Read("Base/Out/ok.txt"), "data of ok.txt");
  EXPECT_EQ(drive.Read("Base/Out/fine.txt"), "data of sub/../fine.txt");
  EXPECT_EQ(drive.Read("Base/Out/a/c.txt"), "data of a/./b/../c.txt");
}

TEST(ExtractPathTest, WithoutRestorePathOnlyTheBareNameCounts) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  TTempDrive drive;
  PythonArchive(drive, {"../../evil.txt", "Zelvora/Data/x.mdf", "dir/.."});
  TAbUnZipper unzipper;
  TFailureLog log;
  log.Attach(unzipper);
  unzipper.SetFileName("C:\\Arc\\a.zip");
  unzipper.SetBaseDirectory("C:\\Base\\Out");
  unzipper.SetExtractOptions({});
  unzipper.ExtractMatching("*.*");
  ASSERT_EQ(log.Failures.size(), 1u);
  EXPECT_EQ(log.Failures[0].Name, "dir/..");
  EXPECT_EQ(drive.List("Base/Out"), (std::vector<std::string>{"evil.txt", "x.mdf"}));
  EXPECT_EQ(drive.List("Base"), std::vector<std::string>{"Out"});
}

TEST(ExtractPathTest, RestorePathNeedsCreateDirsForMissingFolders) {
  TTempDrive drive;
  drive.Write("Src/sub/a.txt", "in sub");
  drive.MakeFolder("Arc");
  drive.MakeFolder("Out");
  {
    TAbZipper zipper;
    zipper.SetFileName("C:\\Arc\\a.zip");
    zipper.SetBaseDirectory("C:\\Src");
    zipper.AddMatching("sub\\a.txt", 0);
    zipper.CloseFile();
  }
  struct TCase {
    TAbExtractOptions Options;
    const char* Expected;  // host path, or null for EAbNoSuchDirectory
  };
  for (const TCase& c : {TCase{{}, "Out/a.txt"}, TCase{{eoRestorePath}, nullptr},
                         TCase{{eoRestorePath, eoCreateDirs}, "Out/sub/a.txt"}}) {
    SCOPED_TRACE(c.Expected ? c.Expected : "refused");
    TOpened opened(true);
    opened.Unzipper.SetExtractOptions(c.Options);
    opened.Unzipper.ExtractMatching("*.*");
    if (c.Expected != nullptr) {
      EXPECT_TRUE(opened.Log.Failures.empty());
      EXPECT_EQ(drive.Read(c.Expected), "in sub");
    } else {
      ASSERT_EQ(opened.Log.Failures.size(), 1u);
      EXPECT_EQ(opened.Log.Failures[0].ErrorCode, 19);
      EXPECT_FALSE(drive.Exists("Out/sub"));
    }
  }
}

// ------------------------------------------------ headers that do not fit

// One stored item of 1000 bytes in C:\Arc\a.zip, for patching.
std::string OneStoredItem(const TTempDrive& drive) {
  Zip(drive, {{"x.bin", NoiseBytes(1000, 6)}}, smStored);
  return drive.Read("Arc/a.zip");
}

// Runs the engine's test and an extraction to a stream on the (patched) archive.
int FailureCodeOf(const TTempDrive& drive, const std::string& zip, bool verify) {
  drive.Write("Arc/a.zip", zip);
  TAbZipArchive archive("C:\\Arc\\a.zip", fmOpenRead | fmShareDenyNone);
  archive.Load();
  try {
    TMemoryStream out;
    if (verify)
      AbVerifyItem(archive, archive.Items(0));
    else
      AbExtractItemToStream(archive, archive.Items(0), out);
  } catch (const EAbException& e) {
    return e.ErrorCode;
  }
  return 0;
}

TEST(ExtractHeaderTest, VersionsMethodsAndHeadersAreChecked) {
  TTempDrive drive;
  const std::string original = OneStoredItem(drive);
  const size_t central = CentralOf(original);
  struct TCase {
    const char* Label;
    std::function<void(std::string&)> Patch;
    bool Verify;
    int ExpectedCode;
  };
  const std::vector<TCase> cases = {
      {"as written", [](std::string&) {}, true, 0},
      {"version 0x0B14 (host 11, 2.0)",
       [&](std::string& z) { Put16(z, central + 6, 0x0B14), Put16(z, 4, 0x0B14); }, true, 0},
      {"version 2.1 without Deflate64", [&](std::string& z) { Put16(z, central + 6, 21); }, false,
       1},
      {"method 7", [&](std::string& z) { Put16(z, 8, 7), Put16(z, central + 10, 7); }, false, 2},
      {"method 99 in the local header only", [&](std::string& z) { Put16(z, 8, 99); }, false, 2},
      {"local header moved away", [&](std::string& z) { Put32(z, central + 42, 5); }, false, 28},
      {"local header past the end", [&](std::string& z) { Put32(z, central + 42, 0x7FFFFFF0); },
       false, 28},
      {"local time differs", [&](std::string& z) { z[10] ^= 1; }, true, 26},
      {"local size differs", [&](std::string& z) { z[22] ^= 1; }, true, 26},
      {"local name differs", [&](std::string& z) { z[30] = 'X'; }, true, 26},
      // Sizes that claim more than the data: the copy stops at the item's
      // data and fails its CRC instead of reading the records after it.
      {"sizes claim more",
       [&](std::string& z) {
         Put32(z, central + 20, 900000), Put32(z, central + 24, 900000);
         Put32(z, 18, 900000), Put32(z, 22, 900000);
       },
       true, 23},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    std::string zip = original;
    c.Patch(zip);
    EXPECT_EQ(FailureCodeOf(drive, zip, c.Verify), c.ExpectedCode);
  }
}

TEST(ExtractHeaderTest, AStoredCopyStopsAtTheItemsCompressedSize) {
  TTempDrive drive;
  std::string zip = OneStoredItem(drive);
  Put32(zip, CentralOf(zip) + 24, 900000);  // the uncompressed size alone lies
  drive.Write("Arc/a.zip", zip);
  TAbZipArchive archive("C:\\Arc\\a.zip", fmOpenRead | fmShareDenyNone);
  archive.Load();
  TMemoryStream out;
  AbExtractItemToStream(archive, archive.Items(0), out);
  const std::vector<uint8_t> bytes = out.Bytes();
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), NoiseBytes(1000, 6));
}

// A local header that leaves CRC and sizes to a data descriptor passes the test.
TEST(ExtractHeaderTest, DeferredLocalValuesPassTheTest) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  TTempDrive drive;
  drive.MakeFolder("Arc");
  std::string output;
  ASSERT_EQ(RunCommand("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.stdout.buffer,'w',"
                       "zipfile.ZIP_DEFLATED); z.writestr('d.txt', b'streamed ' * 999); "
                       "z.close()\" | cat > " +
                           ShellQuote(drive.Host("Arc/a.zip")),
                       output),
            0)
      << output;
  const std::string zip = drive.Read("Arc/a.zip");
  ASSERT_NE(zip[6] & 0x08, 0) << "the local header defers to a descriptor";
  EXPECT_EQ(FailureCodeOf(drive, zip, true), 0);
}

// ------------------------------------------------------------ aborts

TEST(ExtractAbortTest, AnAbortedItemLeavesNoFileAndTheArchiveUnusable) {
  TTempDrive drive;
  Zip(drive, {{"a.bin", NoiseBytes(50000, 7)}, {"b.bin", NoiseBytes(50000, 8)}}, smStored);
  TOpened opened(true);
  opened.Unzipper.OnArchiveItemProgress = [](TAbBaseComponent&, TAbArchiveItem*, uint8_t progress,
                                             bool& abort) { abort = progress >= 50; };
  EXPECT_THROW(opened.Unzipper.ExtractMatching("*.*"), EAbNoArchive);
  ASSERT_EQ(opened.Log.Failures.size(), 1u);
  EXPECT_EQ(opened.Log.Failures[0].ErrorCode, 9);
  EXPECT_EQ(opened.Unzipper.Archive()->State(), stInvalid);
  EXPECT_TRUE(drive.List("Out").empty());
}

TEST(ExtractProgressTest, StoredCopyReportsEachWholePercentOnceAndEndsAt100) {
  TTempDrive drive;
  Zip(drive, {{"a.bin", NoiseBytes(300000, 9)}, {"e.bin", ""}}, smStored);
  TOpened opened(true);
  std::vector<int> seen;
  opened.Unzipper.OnArchiveItemProgress = [&](TAbBaseComponent&, TAbArchiveItem*, uint8_t progress,
                                              bool&) { seen.push_back(progress); };
  opened.Unzipper.ExtractMatching("a.bin");
  ASSERT_EQ(seen.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[size_t(i)], i + 1);
  seen.clear();
  opened.Unzipper.ExtractMatching("e.bin");
  EXPECT_EQ(seen, std::vector<int>{100});
  EXPECT_EQ(drive.Read("Out/e.bin"), "");
}

}  // namespace
