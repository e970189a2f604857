// The shared parts of a trusted run: the run log's lines, the read-back of
// an archive and of its copy, and the bound of the free-space check.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "desktop/ArchiveVerifyUnit.h"
#include "desktop/FreeSpaceUnit.h"
#include "desktop/RunLogUnit.h"
#include "desktop/SuiteArchiveUnit.h"
#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"

namespace {

const char* const kArchive = "C:\\Zelvora\\Yedek\\202403070905.zip";

// The data files as an archive, written as the programs write it.
void WriteSuiteArchive(const std::string& path) {
  TAbSuiteZipper zip;
  zip.SetFileName(path);
  zip.SetPassword(kSuiteArchivePassword);
  for (const std::string& name : SuiteDataFiles()) zip.AddMatching(SuiteDataPath(name), 0);
  zip.Save();
  zip.CloseFile();
}

void FlipByte(const std::string& hostPath, long at) {
  std::fstream file(hostPath, std::ios::in | std::ios::out | std::ios::binary);
  file.seekg(at);
  const char byte = char(file.get() ^ 0x33);
  file.seekp(at);
  file.put(byte);
}

class TrustUnitsTest : public ::testing::Test {
 protected:
  TrustUnitsTest() {
    Drive.MakeFolder("Zelvora/Yedek");
    Drive.Write("Zelvora/Data/İlaç listesi.mdf", WordBytes(40000, 1));
    Drive.Write("Zelvora/Data/resim.jpg", NoiseBytes(9000, 2));
    Drive.Write("Zelvora/Data/boş.dat", "");
  }
  TTempDrive Drive;
};

}  // namespace

TEST(RunLog, LinesOfEveryKindOfStep) {
  const TDateTime when = EncodeDate(2024, 3, 7) + EncodeTime(21, 4, 9, 700);
  const struct {
    const char* name;
    TRunLogEntry entry;
    const char* line;
  } cases[] = {
      {"success",
       {when, "backup", kArchive, 3, 49000, 7.0304, ""},
       "2024-03-07 21:04:09 backup archive=\"C:\\Zelvora\\Yedek\\202403070905.zip\" files=3 "
       "bytes=49000 duration=7.030s result=OK"},
      {"failure over lines",
       {when, "restore", "C:\\Y\\a.zip", 1, 5, 0.25, "a: bad\r\nb: worse"},
       "2024-03-07 21:04:09 restore archive=\"C:\\Y\\a.zip\" files=1 bytes=5 duration=0.250s "
       "result=FAILED error=\"a: bad; b: worse\""},
      {"no figures",
       {when, "start-up", "", -1, -1, 0, "I/O error 183"},
       "2024-03-07 21:04:09 start-up duration=0.000s result=FAILED error=\"I/O error 183\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RunLogLine(c.entry), c.line);
  }
}

TEST(RunLog, AppendsUtf8LinesAndNeverRaises) {
  TTempDrive drive;
  drive.MakeFolder("Zelvora");
  TRunLogEntry entry{EncodeDate(2024, 3, 7), "backup", "C:\\Başka\\ş.zip", 1, 2, 0, ""};
  EXPECT_TRUE(AppendRunLog("C:\\Zelvora\\Vozidir.log", entry));
  entry.Error = "Disk dolu";
  EXPECT_TRUE(AppendRunLog("C:\\Zelvora\\Vozidir.log", entry));
  EXPECT_EQ(drive.Read("Zelvora/Vozidir.log"),
            "2024-03-07 00:00:00 backup archive=\"C:\\Başka\\ş.zip\" files=1 bytes=2 "
            "duration=0.000s result=OK\r\n"
            "2024-03-07 00:00:00 backup archive=\"C:\\Başka\\ş.zip\" files=1 bytes=2 "
            "duration=0.000s result=FAILED error=\"Disk dolu\"\r\n");
  EXPECT_FALSE(AppendRunLog("C:\\Yok\\Vozidir.log", entry));
}

TEST_F(TrustUnitsTest, ASoundArchiveIsReadBackWhole) {
  WriteSuiteArchive(kArchive);
  EXPECT_EQ(VerifySuiteArchive(kArchive, nullptr), 3);
}

TEST_F(TrustUnitsTest, EveryDamageNamesTheArchiveAndWhatFailed) {
  WriteSuiteArchive(kArchive);
  const std::string sound = Drive.Read("Zelvora/Yedek/202403070905.zip");
  const struct {
    const char* name;
    std::string bytes;
    const char* names;  // what the text must hold after the archive's name
  } cases[] = {
      // The first entry is the empty file; the second the noise, stored.
      {"a byte of the stored data",
       sound.substr(0, 300) + char(sound[300] ^ 0x40) + sound.substr(301),
       "\nZelvora/Data/resim.jpg: Failed CRC Check"},
      {"cut short", sound.substr(0, sound.size() / 2), "\n"},
      {"not an archive", "PK but nothing more", "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Drive.Write("Zelvora/Yedek/202403070905.zip", c.bytes);
    try {
      VerifySuiteArchive(kArchive, nullptr);
      ADD_FAILURE() << "no failure";
    } catch (const EArchiveVerifyFailed& e) {
      const std::string text = e.what();
      EXPECT_EQ(text.rfind(std::string("Yedek arşivi doğrulanamadı: ") + kArchive + c.names, 0), 0u)
          << text;
    }
  }
}

TEST_F(TrustUnitsTest, ACopyMustMatchInSizeAndBeReadable) {
  WriteSuiteArchive(kArchive);
  const std::string sound = Drive.Read("Zelvora/Yedek/202403070905.zip");
  Drive.Write("Kopya/202403070905.zip", sound);
  EXPECT_EQ(VerifySuiteCopy(kArchive, "C:\\Kopya\\202403070905.zip", nullptr), 3);

  Drive.Write("Kopya/202403070905.zip", sound.substr(0, sound.size() - 1));
  try {
    VerifySuiteCopy(kArchive, "C:\\Kopya\\202403070905.zip", nullptr);
    ADD_FAILURE() << "a short copy passed";
  } catch (const EArchiveVerifyFailed& e) {
    EXPECT_EQ(std::string(e.what()),
              Format("Yedek arşivi doğrulanamadı: C:\\Kopya\\202403070905.zip\n%zu bayt; "
                     "arşivin kendisi %zu bayt",
                     sound.size() - 1, sound.size()));
  }

  Drive.Write("Kopya/202403070905.zip", sound);
  FlipByte(Drive.Host("Kopya/202403070905.zip"), 300);
  EXPECT_THROW(VerifySuiteCopy(kArchive, "C:\\Kopya\\202403070905.zip", nullptr),
               EArchiveVerifyFailed);
}

// The bound holds for what the zipper really writes, stored or deflated.
TEST_F(TrustUnitsTest, TheSizeBoundCoversTheWrittenArchive) {
  Drive.Write("Zelvora/Data/gürültü ğüşıöç.bin", NoiseBytes(70000, 3));
  const std::vector<TSuiteDataFile> files = SuiteDataFileSizes();
  ASSERT_EQ(files.size(), 4u);
  int64_t data = 0;
  for (const TSuiteDataFile& file : files) data += file.Size;
  EXPECT_EQ(data, 40000 + 9000 + 70000);
  WriteSuiteArchive(kArchive);
  const int64_t written = int64_t(Drive.Read("Zelvora/Yedek/202403070905.zip").size());
  const int64_t bound = SuiteArchiveSizeBound(files);
  EXPECT_GE(bound, written);
  EXPECT_LT(bound, data + 8192);  // a bound, not a guess far off
}

TEST_F(TrustUnitsTest, TheCheckComparesTheFreeSpaceWithTheBound) {
  const std::vector<TSuiteDataFile> files = SuiteDataFileSizes();
  const int64_t bound = SuiteArchiveSizeBound(files);
  const struct {
    const char* name;
    int64_t free;
    bool refused;
  } cases[] = {
      {"one byte short", bound - 1, true}, {"nothing", 0, true},   {"exactly", bound, false},
      {"plenty", int64_t(1) << 40, false}, {"unknown", -1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string asked;
    const TFreeSpaceQuery query = [&](const std::string& path) {
      asked = path;
      return c.free;
    };
    if (c.refused) {
      EXPECT_THROW(CheckBackupSpace("D:\\Yedek", files, query), EBackupSpace);
    } else {
      EXPECT_NO_THROW(CheckBackupSpace("D:\\Yedek", files, query));
    }
    EXPECT_EQ(asked, "D:\\Yedek");
  }
  // Without a query the drive itself is asked: the temporary drive has room.
  EXPECT_NO_THROW(CheckBackupSpace(kSuiteBackupFolder, files, nullptr));
}
