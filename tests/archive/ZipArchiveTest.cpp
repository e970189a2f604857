// The ZIP archive model: load, add, save, stored names and spanned sets,
// checked against Info-ZIP, 7-Zip and Python's zipfile where they fit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "ZipTestSupport.h"
#include "archive/AbSpanSt.h"
#include "archive/AbUtils.h"
#include "archive/AbZipTyp.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

namespace {

class ZipArchiveTest : public ::testing::Test {
 protected:
  // A new archive C:\NAME, created empty as the zipper does.
  std::unique_ptr<TAbZipArchive> Create(const std::string& name) {
    auto archive = std::make_unique<TAbZipArchive>("C:\\" + name, fmCreate);
    archive->InsertHook = StoreFileHook;
    return archive;
  }
  // An existing archive C:\NAME, opened and loaded as the components do.
  std::unique_ptr<TAbZipArchive> Open(const std::string& name) {
    auto archive = std::make_unique<TAbZipArchive>("C:\\" + name, fmOpenRead | fmShareDenyNone);
    archive->InsertHook = StoreFileHook;
    archive->Load();
    return archive;
  }
  std::string Run(const std::string& command, int expectedStatus = 0) {
    std::string output;
    EXPECT_EQ(RunCommand(command, output), expectedStatus) << command << "\n" << output;
    return output;
  }

  TTempDrive Drive;
};

std::string Bytes(size_t count, unsigned seed) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = char(seed >> 16);
  }
  return bytes;
}

TEST_F(ZipArchiveTest, FreshEmptyArchiveSavesTheEndRecordAlone) {
  auto archive = Create("empty.zip");
  archive->Save();
  archive.reset();
  const std::string expected = std::string("PK\x05\x06", 4) + std::string(18, '\0');
  EXPECT_EQ(Drive.Read("empty.zip"), expected);
  if (HaveTool("python3")) {
    EXPECT_EQ(
        Run("python3 -c \"import zipfile,sys; print(zipfile.ZipFile(sys.argv[1]).namelist())\" " +
            Drive.Host("empty.zip")),
        "[]\n");
  }
}

TEST(ZipFindEndRecord, FindsRecordsWithAndWithoutComment) {
  const std::string record = std::string("PK\x05\x06", 4) + std::string(16, '\0');
  struct Case {
    const char* name;
    std::string bytes;
    int64_t expected;
  };
  const Case cases[] = {
      {"no comment", record + std::string(2, '\0'), 0},
      {"after data", "PK\x03\x04junk" + record + std::string(2, '\0'), 8},
      {"ten-byte comment", "abc" + record + std::string("\x0A\x00", 2) + "0123456789", 3},
      {"more bytes than the comment", record + std::string("\x02\x00", 2) + "abcdef", 0},
      {"comment longer than the rest", record + std::string("\x09\x00", 2) + "abc", -1},
      {"21 bytes", std::string(21, 'x'), -1},
      {"signature in a comment",
       record + std::string("\x16\x00", 2) + record + std::string(2, '\0'), 22},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream stream;
    stream.WriteBuffer(c.bytes.data(), int32_t(c.bytes.size()));
    stream.SetPosition(5);
    EXPECT_EQ(TAbZipArchive::FindEndRecord(stream), c.expected);
    EXPECT_EQ(stream.Position(), c.expected == -1 ? 5 : c.expected);
  }
}

TEST_F(ZipArchiveTest, LoadRefusesShortFilesThatAreNotZip) {
  Drive.Write("short.zip", std::string(21, 'x'));
  TAbZipArchive archive("C:\\short.zip", fmOpenRead | fmShareDenyNone);
  try {
    archive.Load();
    FAIL() << "loaded";
  } catch (const EAbZipInvalid& e) {
    EXPECT_STREQ(e.what(), "Invalid file - not a PKZip file");
    EXPECT_EQ(e.ErrorCode, 28);
  }
  EXPECT_EQ(archive.State(), stInvalid);
  EXPECT_THROW(archive.AddMatching("C:\\short.zip", "", 0), EAbNoArchive);

  // A zero-byte file is an empty archive.
  Drive.Write("zero.zip", "");
  EXPECT_EQ(Open("zero.zip")->Count(), 0);
}

TEST_F(ZipArchiveTest, TruncatedZipLooksForItsFirstVolumeAndFailsCleanly) {
  Drive.Write("cut.zip", "PK\x03\x04 and nothing more");
  TAbZipArchive archive("C:\\cut.zip", fmOpenRead | fmShareDenyNone);
  try {
    archive.Load();
    FAIL() << "loaded";
  } catch (const EAbFileNotFound& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
  // The failed load leaves a usable stream and a file that a save does not touch.
  archive.Save();
  EXPECT_EQ(Drive.Read("cut.zip"), "PK\x03\x04 and nothing more");
}

TEST_F(ZipArchiveTest, ListsWhatInfoZipWrote) {
  if (!HaveTool("zip") || !HaveTool("python3")) GTEST_SKIP() << "zip or python3 missing";
  Drive.Write("src/a.txt", "hello hello hello hello\n");
  Drive.Write("src/sub/b.bin", Bytes(70000, 7));
  Drive.Write("src/empty", "");
  Run("cd " + Drive.Host("src") + " && touch -d '2019-05-17 13:45:31' a.txt && chmod 444 a.txt" +
      " && zip -q -r ../iz.zip a.txt sub empty");

  const std::string listing =
      Run("python3 -c \"import zipfile,sys\n"
          "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
          "  print(i.filename, i.file_size, i.compress_size, i.CRC, i.compress_type,"
          " *i.date_time, i.external_attr)\" " +
          Drive.Host("iz.zip"));
  auto archive = Open("iz.zip");
  std::ostringstream ours;
  for (int i = 0; i < archive->Count(); ++i) {
    auto& item = static_cast<TAbZipItem&>(archive->Items(i));
    int year, month, day, hour, minute, second;
    AbUnpackDosDate(item.LastModFileDate(), year, month, day);
    AbUnpackDosTime(item.LastModFileTime(), hour, minute, second);
    ours << item.FileName() << ' ' << item.UncompressedSize() << ' ' << item.CompressedSize() << ' '
         << item.CRC32() << ' ' << item.CompressionMethod() << ' ' << year << ' ' << month << ' '
         << day << ' ' << hour << ' ' << minute << ' ' << second << ' '
         << item.ExternalFileAttributes() << '\n';
    EXPECT_EQ(item.Action, iaNone);
  }
  EXPECT_EQ(ours.str(), listing);
  EXPECT_EQ(archive->Count(), 4);  // a.txt, sub/, sub/b.bin, empty
  EXPECT_FALSE(archive->IsDirty());
}

TEST_F(ZipArchiveTest, AddingOneItemKeepsTheOldDataByteIdentical) {
  if (!HaveTool("zip") || !HaveTool("python3")) GTEST_SKIP() << "zip or python3 missing";
  Drive.Write("src/one.txt", std::string(5000, 'a'));
  Drive.Write("src/two.bin", Bytes(3000, 3));
  Run("cd " + Drive.Host("src") + " && zip -q ../old.zip one.txt two.bin");
  Drive.Write("new.txt", "a new file\n");

  std::map<std::string, std::string> oldData;
  {
    auto archive = Open("old.zip");
    for (int i = 0; i < archive->Count(); ++i) {
      auto& item = static_cast<TAbZipItem&>(archive->Items(i));
      archive->Stream().Seek(item.RelativeOffset(), soFromBeginning);
      TAbZipLocalFileHeader local;
      local.ReadFrom(archive->Stream());
      std::string data(size_t(item.CompressedSize()), '\0');
      archive->Stream().ReadBuffer(&data[0], int32_t(data.size()));
      oldData[item.FileName()] = data;
    }
    archive->AddMatching("C:\\new.txt", "", 0);
    ASSERT_EQ(archive->Count(), 3);
    EXPECT_EQ(archive->Items(2).FileName(), "new.txt");
    archive->Save();
    EXPECT_FALSE(archive->IsDirty());
    EXPECT_EQ(archive->Items(2).Action, iaNone);
  }

  auto archive = Open("old.zip");
  ASSERT_EQ(archive->Count(), 3);
  for (int i = 0; i < 2; ++i) {
    auto& item = static_cast<TAbZipItem&>(archive->Items(i));
    SCOPED_TRACE(item.FileName());
    archive->Stream().Seek(item.RelativeOffset(), soFromBeginning);
    TAbZipLocalFileHeader local;
    local.ReadFrom(archive->Stream());
    std::string data(size_t(item.CompressedSize()), '\0');
    archive->Stream().ReadBuffer(&data[0], int32_t(data.size()));
    EXPECT_EQ(data, oldData[item.FileName()]);
  }
  // The file ends with the end record and every entry passes the tools' tests.
  const std::string bytes = Drive.Read("old.zip");
  EXPECT_EQ(bytes.substr(bytes.size() - 22, 4), "PK\x05\x06");
  Run("unzip -tq " + Drive.Host("old.zip"));
  EXPECT_EQ(
      Run("python3 -c \"import zipfile,sys; print(zipfile.ZipFile(sys.argv[1]).testzip())\" " +
          Drive.Host("old.zip")),
      "None\n");
  // No temporary file is left next to the archive.
  for (const std::string& name : Drive.List("")) EXPECT_EQ(name.find(".TMP"), std::string::npos);
}

TEST_F(ZipArchiveTest, TurkishNamesAreUtf8InBothHeadersAndPassTheTools) {
  const std::string names[] = {"boş.txt", "ürün_İlaç.jpg"};
  Drive.Write("tr/boş.txt", "içerik\n");
  Drive.Write("tr/ürün_İlaç.jpg", Bytes(2000, 11));
  {
    auto archive = Create("tr.zip");
    archive->SetBaseDirectory("C:\\tr");
    archive->AddMatching("*.*", "", 0);
    ASSERT_EQ(archive->Count(), 2);
    archive->Save();
  }
  auto archive = Open("tr.zip");
  ASSERT_EQ(archive->Count(), 2);
  for (int i = 0; i < 2; ++i) {
    auto& item = static_cast<TAbZipItem&>(archive->Items(i));
    EXPECT_TRUE(item.FileName() == names[0] || item.FileName() == names[1]) << item.FileName();
    EXPECT_EQ(item.GeneralPurposeBitFlag() & AbZipUtf8Flag, AbZipUtf8Flag);
    archive->Stream().Seek(item.RelativeOffset(), soFromBeginning);
    TAbZipLocalFileHeader local;
    local.ReadFrom(archive->Stream());
    EXPECT_EQ(local.FileName(), item.FileName());
    EXPECT_EQ(local.GeneralPurposeBitFlag & AbZipUtf8Flag, AbZipUtf8Flag);
  }
  const std::string host = Drive.Host("tr.zip");
  if (HaveTool("unzip")) {
    const std::string output = Run("unzip -t " + host);
    EXPECT_EQ(output.find("mismatch"), std::string::npos) << output;
  }
  if (HaveTool("7zz")) {
    const std::string output = Run("7zz t " + host);
    EXPECT_EQ(output.find("WARNING"), std::string::npos) << output;
    EXPECT_NE(output.find("Everything is Ok"), std::string::npos) << output;
  }
  if (HaveTool("python3")) {
    EXPECT_EQ(Run("python3 -c \"import zipfile,sys\n"
                  "z = zipfile.ZipFile(sys.argv[1])\n"
                  "print(sorted(z.namelist()) == ['boş.txt', 'ürün_İlaç.jpg'],"
                  " z.read('boş.txt') == 'içerik\\n'.encode())\" " +
                  host),
              "True True\n");
  }
}

TEST_F(ZipArchiveTest, NamesWithoutTheUtf8FlagAreCp857UnlessTheyAreUtf8) {
  // Info-ZIP's Unicode Path field: id, size, version 1, CRC-32 of the header's name, UTF-8 name.
  const auto unicodePath = [](const std::string& headerName, const std::string& name) {
    uint32_t crc = 0xFFFFFFFF;
    AbCrcBuffer(crc, headerName.data(), uint16_t(headerName.size()));
    crc ^= 0xFFFFFFFF;
    std::string field = "\x75\x70";
    field += char(5 + name.size()), field += '\0';
    field += '\1';
    for (int k = 0; k < 4; ++k) field += char(crc >> (8 * k));
    return field + name;
  };
  const struct {
    const char* Label;
    std::string Stored;
    std::string Extra;
    std::string Expected;
  } cases[] = {
      // A DOS tool: "boş.txt" with ş as CP857 byte 0x9F.
      {"cp857", "bo\x9F.txt", "", "boş.txt"},
      // Info-ZIP on Linux: UTF-8 bytes, no flag.
      {"bare utf-8", "İlaç.txt", "", "İlaç.txt"},
      {"unicode path field", "Ila?.txt", unicodePath("Ila?.txt", "İlaç.txt"), "İlaç.txt"},
      // A field made for another name is stale and ignored.
      {"stale unicode path", "bo\x9F.txt", unicodePath("other", "x.txt"), "boş.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    TAbZipItem item;
    item.SetFileName("x");
    item.ItemInfo.SetFileName(c.Stored);
    TMemoryStream stream;
    item.ItemInfo.WriteTo(stream);
    if (!c.Extra.empty()) {  // the extra field holds zero bytes: patch it in after the name
      stream.SetPosition(30);
      const uint16_t length = uint16_t(c.Extra.size());
      stream.WriteBuffer(&length, 2);
      stream.SetPosition(46 + int64_t(c.Stored.size()));
      stream.WriteBuffer(c.Extra.data(), int32_t(c.Extra.size()));
    }
    stream.SetPosition(0);
    TAbZipItem loaded;
    loaded.ReadCentral(stream);
    EXPECT_EQ(loaded.FileName(), c.Expected);
    EXPECT_EQ(loaded.DiskPath, c.Expected);
  }
}

TEST_F(ZipArchiveTest, ListsUtf8NamesInfoZipWroteWithoutTheFlag) {
  if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  Drive.Write("src/İlaç.txt", "x");
  std::string output;
  ASSERT_EQ(RunCommand("cd '" + Drive.Host("src") + "' && LC_ALL=C.UTF-8 zip -q ../iz.zip İlaç.txt",
                       output),
            0)
      << output;
  auto archive = Open("iz.zip");
  ASSERT_EQ(archive->Count(), 1);
  EXPECT_EQ(archive->Items(0).FileName(), "İlaç.txt");
}

TEST_F(ZipArchiveTest, AddingTheSameNameTwiceReportsCode7AndKeepsOneItem) {
  Drive.Write("data/x.mdf", "data");
  auto archive = Create("dup.zip");
  std::vector<std::tuple<std::string, TAbProcessType, TAbErrorClass, int32_t>> failures;
  archive->OnProcessItemFailure = [&](TAbArchive&, TAbArchiveItem& item, TAbProcessType type,
                                      TAbErrorClass errorClass, int32_t code) {
    failures.emplace_back(item.FileName(), type, errorClass, code);
  };
  archive->AddMatching("C:\\data\\x.mdf", "", 0);
  archive->AddMatching("C:\\data\\x.mdf", "", 0);
  ASSERT_EQ(archive->Count(), 1);
  EXPECT_EQ(archive->Items(0).FileName(), "data/x.mdf");
  EXPECT_EQ(archive->Items(0).DiskPath, "C:\\data\\x.mdf");
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0], std::make_tuple(std::string("data/x.mdf"), ptAdd, ecCorvel, 7));
  EXPECT_EQ(AbMessageOf(7), "Cannot insert file - duplicates stored name");

  // With soReplace the existing item is marked to be compressed again.
  archive->Save();
  archive->StoreOptions.Include(soReplace);
  archive->AddMatching("C:\\data\\x.mdf", "", 0);
  ASSERT_EQ(archive->Count(), 1);
  EXPECT_EQ(archive->Items(0).Action, iaReplace);
  EXPECT_EQ(failures.size(), 1u);
}

TEST_F(ZipArchiveTest, AddMatchingByMaskSkipsTheArchiveItself) {
  Drive.Write("d/a.mdf", "a");
  Drive.Write("d/b.mdf", "b");
  Drive.Write("d/c.txt", "c");
  auto archive = Create("d\\self.zip");
  archive->SetBaseDirectory("C:\\d\\");
  EXPECT_EQ(archive->BaseDirectory(), "C:\\d");
  archive->AddMatching("*.*", "*.txt", 0);
  std::vector<std::string> names;
  for (int i = 0; i < archive->Count(); ++i) names.push_back(archive->Items(i).FileName());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.mdf", "b.mdf"}));
  EXPECT_EQ(archive->Items(0).DiskPath.rfind("C:\\d\\", 0), 0u);
  EXPECT_THROW(archive->SetBaseDirectory("C:\\missing"), EAbNoSuchDirectory);
  EXPECT_EQ(archive->BaseDirectory(), "C:\\d");
}

TEST_F(ZipArchiveTest, StoredNames) {
  auto archive = Create("names.zip");
  struct Case {
    std::string path;
    TAbStoreOptions options;
    std::string stored;
  };
  const Case cases[] = {
      {"C:\\Zelvora\\Data\\x.mdf", {soStripDrive, soRemoveDots}, "Zelvora/Data/x.mdf"},
      {"C:\\x\\..\\y.txt", {soStripDrive, soRemoveDots}, "x/../y.txt"},
      {"..\\..\\y.txt", {soStripDrive, soRemoveDots}, "y.txt"},
      {"..\\..\\y.txt", {}, "../../y.txt"},
      {"C:\\Zelvora\\Data\\x.mdf", {soStripPath}, "x.mdf"},
      {"\\\\srv\\share\\x\\a.mdf", {}, "x/a.mdf"},
      {"\\Top\\Case.TXT", {}, "Top/Case.TXT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    archive->StoreOptions = c.options;
    EXPECT_EQ(archive->MakeStoredName(c.path), c.stored);
    EXPECT_TRUE(archive->StoreOptions.Contains(soStripDrive));
  }
}

TEST_F(ZipArchiveTest, RenamingReindexesTheNameAndRefusesDuplicates) {
  Drive.Write("r/a.txt", "a");
  Drive.Write("r/b.txt", "b");
  auto archive = Create("ren.zip");
  int failures = 0;
  archive->OnProcessItemFailure = [&](TAbArchive&, TAbArchiveItem&, TAbProcessType type,
                                      TAbErrorClass, int32_t code) {
    EXPECT_EQ(type, ptMove);
    EXPECT_EQ(code, 7);
    ++failures;
  };
  archive->AddMatching("C:\\r\\a.txt;C:\\r\\b.txt", "", 0);
  archive->Save();
  archive->RenameItem(archive->Items(0), "C:\\r\\B.TXT");
  EXPECT_EQ(failures, 1);
  archive->RenameItem(archive->Items(0), "C:\\r\\c.txt");
  EXPECT_EQ(archive->Items(0).FileName(), "r/c.txt");
  EXPECT_EQ(archive->Items(0).Action, iaMove);
  EXPECT_EQ(archive->ItemList().IndexOfName("R/C.TXT"), 0);
  EXPECT_EQ(archive->ItemList().IndexOfName("r/a.txt"), -1);
  archive->Save();
  archive.reset();
  auto reloaded = Open("ren.zip");
  TCollectingExtractor extractor;
  reloaded->ExtractHook = extractor.Hook();
  reloaded->ExtractMatching("*.*", "");
  EXPECT_EQ(extractor.Data,
            (std::map<std::string, std::string>{{"r/c.txt", "a"}, {"r/b.txt", "b"}}));
}

TEST_F(ZipArchiveTest, MissingHooksAreReported) {
  Drive.Write("h/a.txt", "a");
  auto archive = Create("hooks.zip");
  archive->InsertHook = nullptr;
  archive->AddMatching("C:\\h\\a.txt", "", 0);
  try {
    archive->Save();
    FAIL() << "saved";
  } catch (const EAbZipNoInsertion& e) {
    EXPECT_STREQ(e.what(), "Cannot insert file - no insertion support provided");
  }
  EXPECT_TRUE(archive->IsDirty());
  EXPECT_EQ(archive->State(), stIdle);
  archive->InsertHook = StoreFileHook;
  archive->Save();

  std::vector<int32_t> codes;
  archive->OnProcessItemFailure = [&](TAbArchive&, TAbArchiveItem&, TAbProcessType type,
                                      TAbErrorClass errorClass, int32_t code) {
    EXPECT_EQ(type, ptExtract);
    EXPECT_EQ(errorClass, ecCorvel);
    codes.push_back(code);
  };
  std::vector<int> progress;
  archive->OnArchiveProgress = [&](TAbArchive&, uint8_t p, bool&) { progress.push_back(p); };
  archive->ExtractMatching("*.txt", "");
  EXPECT_EQ(codes, std::vector<int32_t>{3});
  EXPECT_EQ(progress, (std::vector<int>{100, 100}));
}

TEST_F(ZipArchiveTest, FailedSaveLeavesTheOldArchiveAndNoTemporaryFile) {
  Drive.Write("f/a.txt", "first");
  Drive.Write("f/b.txt", "second");
  Drive.Write("f/c.txt", "third");
  auto archive = Create("f\\keep.zip");
  archive->AddMatching("C:\\f\\a.txt", "", 0);
  archive->Save();
  const std::string before = Drive.Read("f/keep.zip");

  int calls = 0;
  archive->InsertHook = [&](TAbArchive& sender, TAbArchiveItem& item, TStream& out) {
    if (++calls == 2) throw EAbException("hook failed");
    StoreFileHook(sender, item, out);
  };
  archive->AddMatching("C:\\f\\b.txt;C:\\f\\c.txt", "", 0);
  EXPECT_THROW(archive->Save(), EAbException);
  EXPECT_EQ(Drive.Read("f/keep.zip"), before);
  EXPECT_EQ(Drive.List("f").size(), 4u);  // a, b, c and the archive
  EXPECT_TRUE(archive->IsDirty());
  EXPECT_EQ(archive->Items(1).Action, iaAdd);

  // Failing while writing (the save-progress handler aborts) keeps it too.
  archive->InsertHook = StoreFileHook;
  archive->OnArchiveSaveProgress = [](TAbArchive&, uint8_t, bool& abort) { abort = true; };
  EXPECT_THROW(archive->Save(), EWriteError);
  EXPECT_EQ(Drive.Read("f/keep.zip"), before);
  EXPECT_EQ(Drive.List("f").size(), 4u);

  archive->OnArchiveSaveProgress = nullptr;
  archive->Save();
  archive.reset();
  auto reloaded = Open("f\\keep.zip");
  TCollectingExtractor extractor;
  reloaded->ExtractHook = extractor.Hook();
  reloaded->ExtractMatching("*.*", "");
  EXPECT_EQ(extractor.Data,
            (std::map<std::string, std::string>{
                {"f/a.txt", "first"}, {"f/b.txt", "second"}, {"f/c.txt", "third"}}));
}

TEST_F(ZipArchiveTest, InsertHookSeesItsOwnStreamStartingEmpty) {
  Drive.Write("f/a.txt", "first");
  Drive.Write("f/b.txt", "second");
  auto archive = Create("f\\hook.zip");
  std::vector<int64_t> seen;
  archive->InsertHook = [&](TAbArchive& sender, TAbArchiveItem& item, TStream& out) {
    seen.push_back(out.Position());
    StoreFileHook(sender, item, out);
    seen.push_back(out.Position());
    seen.push_back(out.Seek(-2, soFromCurrent));
    seen.push_back(out.Seek(0, soFromEnd));
  };
  archive->AddMatching("C:\\f\\a.txt;C:\\f\\b.txt", "", 0);
  archive->Save();
  EXPECT_EQ(seen, (std::vector<int64_t>{0, 5, 3, 5, 0, 6, 4, 6}));
}

TEST_F(ZipArchiveTest, RefusesWhatWouldNeedZip64BeforeWriting) {
  // A sparse file of 4 GiB costs no disk space.
  Drive.Write("big/huge.bin", "");
  ASSERT_EQ(::truncate(Drive.Host("big/huge.bin").c_str(), int64_t(1) << 32), 0);
  auto archive = Create("big\\big.zip");
  archive->Save();
  const std::string before = Drive.Read("big/big.zip");
  bool hookCalled = false;
  archive->InsertHook = [&](TAbArchive&, TAbArchiveItem&, TStream&) { hookCalled = true; };
  archive->AddMatching("C:\\big\\huge.bin", "", 0);
  try {
    archive->Save();
    FAIL() << "saved";
  } catch (const EAbException& e) {
    EXPECT_STREQ(e.what(),
                 "Cannot save archive - big/huge.bin is 4 GiB or larger (ZIP64 is not supported)");
    EXPECT_EQ(e.ErrorCode, 0);
  }
  EXPECT_FALSE(hookCalled);
  EXPECT_EQ(Drive.Read("big/big.zip"), before);
}

TEST_F(ZipArchiveTest, RefusesTooManyEntries) {
  auto archive = Create("many.zip");
  bool hookCalled = false;
  archive->InsertHook = [&](TAbArchive&, TAbArchiveItem&, TStream&) { hookCalled = true; };
  // Straight into the list: AddItem would only add its duplicate checks.
  for (int i = 0; i < 65535; ++i) {
    auto item = archive->NewItem(Format("C:\\m\\f%d", i));
    item->Action = iaAdd;
    archive->ItemList().Append(std::move(item));
  }
  archive->SetComment("many");
  ASSERT_EQ(archive->Count(), 65535);
  try {
    archive->Save();
    FAIL() << "saved";
  } catch (const EAbException& e) {
    EXPECT_STREQ(e.what(),
                 "Cannot save archive - 65535 entries are too many (ZIP64 is not supported)");
  }
  EXPECT_FALSE(hookCalled);
  EXPECT_EQ(Drive.Read("many.zip"), "");
}

// Central entries whose sizes add up past 4 GiB (a damaged or ZIP64-less
// directory): the save refuses before copying a byte.
TEST_F(ZipArchiveTest, RefusesAnArchiveThatWouldPass4GiB) {
  TMemoryStream bytes;
  TAbZipItem first, second;
  for (TAbZipItem* item : {&first, &second}) {
    item->SetFileName(item == &first ? "one" : "two");
    item->SetCompressedSize(0x90000000);
    item->SetUncompressedSize(0x90000000);
  }
  first.WriteCentral(bytes);
  second.WriteCentral(bytes);
  TAbZipDirectoryFileFooter footer;
  footer.TotalEntries = footer.EntriesOnThisDisk = 2;
  footer.DirectorySize = uint32_t(bytes.Size());
  footer.WriteTo(bytes);
  Drive.Write("claims.zip", std::string(bytes.Bytes().begin(), bytes.Bytes().end()));

  auto archive = Open("claims.zip");
  ASSERT_EQ(archive->Count(), 2);
  archive->SetComment("changed");
  try {
    archive->Save();
    FAIL() << "saved";
  } catch (const EAbException& e) {
    EXPECT_STREQ(e.what(),
                 "Cannot save archive - the archive would reach 4 GiB (ZIP64 is not supported)");
  }
}

TEST_F(ZipArchiveTest, SpannedSetIsWrittenAsZ01AndReadBack) {
  std::map<std::string, std::string> expected;
  for (int i = 0; i < 6; ++i) {
    const std::string name = Format("s/f%d.bin", i);
    const std::string data = Bytes(900 + 250 * size_t(i), unsigned(i));
    Drive.Write(name, data);
    expected[name] = data;
  }
  {
    auto archive = Create("s\\set.zip");
    archive->SetSpanningThreshold(2048);
    archive->AddMatching("C:\\s\\*.bin", "", 0);
    archive->Save();
    EXPECT_TRUE(archive->IsSpannedSet());
  }
  EXPECT_TRUE(Drive.Exists("s/set.z01"));
  EXPECT_TRUE(Drive.Exists("s/set.z03"));
  EXPECT_EQ(Drive.Read("s/set.z01").substr(0, 4), "PK\x07\x08");
  for (const std::string& name : Drive.List("s")) {
    if (name.find("set.") == 0) {
      EXPECT_LE(Drive.Read("s/" + name).size(), 2048u) << name;
    }
  }

  auto archive = Open("s\\set.zip");
  EXPECT_TRUE(archive->IsSpannedSet());
  ASSERT_EQ(archive->Count(), 6);
  TCollectingExtractor extractor;
  archive->ExtractHook = extractor.Hook();
  std::vector<int> failures;
  archive->OnProcessItemFailure = [&](TAbArchive&, TAbArchiveItem&, TAbProcessType, TAbErrorClass,
                                      int32_t code) { failures.push_back(code); };
  archive->ExtractMatching("*.*", "");
  EXPECT_TRUE(failures.empty());
  EXPECT_EQ(extractor.Data, expected);

  // A spanned set is never rewritten.
  archive->SetComment("x");
  EXPECT_THROW(archive->Save(), EAbZipSpanOverwrite);

  // Info-ZIP joins the volumes into an archive that passes its test.
  if (HaveTool("zip") && HaveTool("unzip")) {
    Run("cd " + Drive.Host("s") + " && zip -q -s 0 set.zip --out joined.zip");
    Run("unzip -tq " + Drive.Host("s/joined.zip"));
  }
}

TEST_F(ZipArchiveTest, LoadsASplitArchiveMadeByInfoZip) {
  if (!HaveTool("zip")) GTEST_SKIP() << "zip missing";
  std::vector<std::string> names;
  for (int i = 0; i < 12; ++i) {
    names.push_back(Format("p%02d.bin", i));
    Drive.Write("iz/" + names.back(), Bytes(20000, unsigned(100 + i)));
  }
  Run("cd " + Drive.Host("iz") + " && zip -q -s 64k ../split.zip p*.bin");
  ASSERT_TRUE(Drive.Exists("split.z01"));
  ASSERT_TRUE(Drive.Exists("split.z03"));
  auto archive = Open("split.zip");
  EXPECT_TRUE(archive->IsSpannedSet());
  std::vector<std::string> listed;
  for (int i = 0; i < archive->Count(); ++i) listed.push_back(archive->Items(i).FileName());
  EXPECT_EQ(listed, names);
  // Stored entries (the data does not compress) read back from their volumes.
  TCollectingExtractor extractor;
  archive->ExtractHook = extractor.Hook();
  archive->ExtractMatching("p00.bin;p11.bin", "");
  EXPECT_EQ(extractor.Data["p00.bin"], Drive.Read("iz/p00.bin"));
  EXPECT_EQ(extractor.Data["p11.bin"], Drive.Read("iz/p11.bin"));
}

TEST_F(ZipArchiveTest, RecognisesZipFiles) {
  auto archive = Create("v.zip");
  archive->Save();
  archive.reset();
  struct Case {
    const char* name;
    std::string bytes;
    int zip, sfx;
  };
  const std::string empty = Drive.Read("v.zip");
  const Case cases[] = {
      {"zip", empty, 1, 0},
      {"span marker", std::string("PK\x07\x08", 4) + empty, 2, 0},
      {"single span marker", "PK00" + empty, 2, 0},
      {"self-extracting", "MZ stub" + empty, 1, 3},
      {"text", "hello", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream stream;
    stream.WriteBuffer(c.bytes.data(), int32_t(c.bytes.size()));
    stream.SetPosition(3);
    EXPECT_EQ(VerifyZip(stream), c.zip);
    EXPECT_EQ(VerifySelfExtracting(stream), c.sfx);
    EXPECT_EQ(stream.Position(), 3);
  }
}

TEST_F(ZipArchiveTest, RecordsAreWrittenFieldByFieldLittleEndian) {
  TAbZipItem item;
  item.SetFileName("ab");
  item.SetVersionMadeBy(0x0A14);
  item.SetVersionNeededToExtract(20);
  item.SetGeneralPurposeBitFlag(0x0009);
  item.SetCompressionMethod(8);
  item.SetLastModFileTime(0x1234);
  item.SetLastModFileDate(0x5678);
  item.SetCRC32(0xCBF43926);
  item.SetCompressedSize(0x01020304);
  item.SetUncompressedSize(0x0A0B0C0D);
  item.SetDiskNumberStart(1);
  item.SetExternalFileAttributes(0x20);
  item.SetRelativeOffset(0x11223344);
  TMemoryStream central, local, descriptor;
  item.WriteCentral(central);
  item.WriteLocal(local);
  item.WriteDescriptor(descriptor);
  auto hex = [](TMemoryStream& s) {
    std::string text;
    for (uint8_t b : s.Bytes()) text += Format("%02x", b);
    return text;
  };
  EXPECT_EQ(hex(central),
            "504b0102"
            "140a"
            "1400"
            "0900"
            "0800"
            "3412"
            "7856"
            "2639f4cb"
            "04030201"
            "0d0c0b0a"
            "0200"
            "0000"
            "0000"
            "0100"
            "0000"
            "20000000"
            "44332211"
            "6162");
  EXPECT_EQ(hex(local),
            "504b0304"
            "1400"
            "0900"
            "0800"
            "3412"
            "7856"
            "2639f4cb"
            "04030201"
            "0d0c0b0a"
            "0200"
            "0000"
            "6162");
  EXPECT_EQ(hex(descriptor),
            "2639f4cb"
            "04030201"
            "0d0c0b0a");
  EXPECT_TRUE(item.HasDataDescriptor());

  central.SetPosition(0);
  TAbZipItem loaded;
  loaded.ReadCentral(central);
  EXPECT_EQ(loaded.FileName(), "ab");
  EXPECT_EQ(loaded.CompressedSize(), 0x01020304);
  EXPECT_EQ(loaded.RelativeOffset(), 0x11223344u);
  EXPECT_TRUE(loaded.IsEncrypted());

  // A wrong signature or a record cut short is not a ZIP record.
  local.SetPosition(0);
  EXPECT_THROW(loaded.ReadCentral(local), EAbZipInvalid);
  TMemoryStream cut;
  cut.WriteBuffer(central.Memory(), 40);
  cut.SetPosition(0);
  EXPECT_THROW(loaded.ReadCentral(cut), EAbZipInvalid);
}

}  // namespace

namespace {

TEST_F(ZipArchiveTest, LogsEachConfirmedOperation) {
  TVirtualClock clock(EncodeDate(2024, 3, 9) + EncodeTime(14, 5, 7, 0));
  SetClock(&clock);
  Drive.Write("l/x.txt", "x");
  {
    auto archive = Create("l\\log.zip");
    archive->SetLogFile("C:\\l\\zip.log");
    archive->SetLogging(true);
    archive->AddMatching("C:\\l\\x.txt", "", 0);
    archive->AddMatching("C:\\l\\x.txt", "", 0);  // refused: not logged
  }
  SetClock(nullptr);
  EXPECT_EQ(Drive.Read("l/zip.log"),
            "C:\\l\\log.zip logging 09.03.2024 14:05:07\r\n"
            "l/x.txt added 09.03.2024 14:05:07\r\n");

  auto archive = Create("l\\log2.zip");
  archive->SetLogFile("C:\\missing\\zip.log");
  try {
    archive->SetLogging(true);
    FAIL() << "logging";
  } catch (const EAbException& e) {
    EXPECT_STREQ(e.what(), "Error creating Log File");
  }
}

}  // namespace
