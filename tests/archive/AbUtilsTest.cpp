#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "archive/AbExcept.h"
#include "archive/AbUtils.h"
#include "platform/DriveMap.h"
#include "platform/FileSystem.h"
#include "platform/SyncObjs.h"
#include "tests/support/TestSupport.h"

namespace {

uint32_t CrcOf(const std::string& text) {
  uint32_t crc = 0xFFFFFFFF;
  AbCrcBuffer(crc, text.data(), uint16_t(text.size()));
  return crc ^ 0xFFFFFFFF;
}

// Bit by bit, without the table: an independent reference.
uint32_t BitwiseCrc(const std::vector<uint8_t>& data) {
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t byte : data) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return crc ^ 0xFFFFFFFF;
}

}  // namespace

TEST(Crc32, KnownAnswers) {
  const struct {
    const char* Text;
    uint32_t Crc;
  } cases[] = {
      {"123456789", 0xCBF43926},
      {"", 0x00000000},
      {"a", 0xE8B7BE43},
      {"abc", 0x352441C2},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(CrcOf(c.Text), c.Crc);
  }
  EXPECT_EQ(AbCrc32Table[0], 0u);
  EXPECT_EQ(AbCrc32Table[1], 0x77073096u);
  EXPECT_EQ(AbCrc32Table[255], 0x2D02EF8Du);
}

TEST(Crc32, ByteStepHasNoConditioningAndBuffersChainAcrossCalls) {
  EXPECT_EQ(AbCrcByte(0, 0), 0u);
  EXPECT_EQ(AbCrcByte(1, 0), 0x77073096u);
  EXPECT_EQ(AbCrcByte('1', 0xFFFFFFFF), AbCrc32Table[('1' ^ 0xFF)] ^ 0x00FFFFFF);

  std::vector<uint8_t> data(200000);
  uint32_t seed = 12345;
  for (uint8_t& b : data) b = uint8_t((seed = seed * 1103515245 + 12345) >> 24);
  uint32_t crc = 0xFFFFFFFF;
  for (size_t at = 0; at < data.size(); at += 65535) {
    AbCrcBuffer(crc, data.data() + at, uint16_t(std::min<size_t>(65535, data.size() - at)));
  }
  EXPECT_EQ(crc ^ 0xFFFFFFFF, BitwiseCrc(data));
  uint32_t stepped = 0xFFFFFFFF;
  for (size_t i = 0; i < 1000; ++i) stepped = AbCrcByte(data[i], stepped);
  EXPECT_EQ(stepped ^ 0xFFFFFFFF, BitwiseCrc({data.begin(), data.begin() + 1000}));
}

TEST(DosDateTime, PacksAndUnpacksTheWords) {
  const struct {
    int Year, Month, Day, Hour, Minute, Second;
    uint16_t Date, Time;
  } cases[] = {
      {2024, 3, 15, 13, 45, 31, 44 * 512 + 3 * 32 + 15, 13 * 2048 + 45 * 32 + 15},
      {1980, 1, 1, 0, 0, 0, 0x0021, 0x0000},
      {2107, 12, 31, 23, 59, 58, 0xFF9F, 0xBF7D},
      {2000, 2, 29, 12, 0, 1, 20 * 512 + 2 * 32 + 29, 12 * 2048},
      // Outside the words' range: the nearest end.
      {1975, 6, 1, 10, 0, 0, 0x0021, 0x0000},
      {2200, 6, 1, 10, 0, 0, 0xFF9F, 0xBF7D},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Year);
    const int32_t packed = AbDosFileDate(c.Year, c.Month, c.Day, c.Hour, c.Minute, c.Second);
    EXPECT_EQ(AbDosDateOf(packed), c.Date);
    EXPECT_EQ(AbDosTimeOf(packed), c.Time);
    EXPECT_EQ(packed, AbMakeDosFileDate(c.Date, c.Time));
  }
  int y, mo, d, h, mi, s;
  AbUnpackDosDate(44 * 512 + 3 * 32 + 15, y, mo, d);
  AbUnpackDosTime(13 * 2048 + 45 * 32 + 15, h, mi, s);
  EXPECT_EQ(std::vector<int>({y, mo, d, h, mi, s}), std::vector<int>({2024, 3, 15, 13, 45, 30}));
  EXPECT_EQ(uint32_t(AbMakeDosFileDate(0xFF9F, 0xBF7D)), 0xFF9FBF7Du);
}

TEST(AbPercentOf, ScalesLargeTotalsAndStaysInRange) {
  const struct {
    int32_t Done, Total;
    uint8_t Percent;
  } cases[] = {
      {5, 0, 0},
      {7, 7, 100},
      {1, 3, 33},
      {2, 3, 66},
      {0, 100, 0},
      {150, 100, 100},
      {10000000, 20000000, 50},
      {16384000, 16384000, 100},
      {16383999, 16384000, 99},
      // (2,000,000,000 + 128) shr 8 and (2,147,483,647 + 128) shr 8
      {2000000000, 2147483647, 93},
      {2147483647, 2147483647, 100},
      {-5, 100, 0},
      {5, -100, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.Done) + " of " + std::to_string(c.Total));
    EXPECT_EQ(int(AbPercentOf(c.Done, c.Total)), int(c.Percent));
  }
}

TEST(PathText, TrailingSlashSlashPositionAndKind) {
  EXPECT_EQ(AbWithTrailingSlash(""), "");
  EXPECT_EQ(AbWithTrailingSlash("C:\\"), "C:\\");
  EXPECT_EQ(AbWithTrailingSlash("C:"), "C:");
  EXPECT_EQ(AbWithTrailingSlash("C:\\Zelvora\\Data"), "C:\\Zelvora\\Data\\");

  EXPECT_EQ(AbNthSlashPos("C:\\A\\B", 1), 2);
  EXPECT_EQ(AbNthSlashPos("C:\\A\\B", 2), 4);
  EXPECT_EQ(AbNthSlashPos("C:\\A\\B", 3), 6);
  EXPECT_EQ(AbNthSlashPos("", 1), 0);

  const struct {
    const char* Path;
    TAbPathKind Kind;
  } kinds[] = {
      {"C:\\x.zip", pkAbsolute}, {"\\\\srv\\share\\x", pkAbsolute},
      {"C:x", pkAbsolute},       {"a\\b", pkRelative},
      {"a/b", pkRelative},       {"\\x\\a.mdf", pkRelative},
      {"a.txt", pkNone},         {"", pkNone},
  };
  for (const auto& c : kinds) {
    SCOPED_TRACE(c.Path);
    EXPECT_EQ(AbPathKind(c.Path), c.Kind);
  }
}

TEST(PathText, SplitPathAndDirs) {
  const struct {
    const char* Path;
    const char* Drive;
    const char* Dir;
    const char* Name;
  } cases[] = {
      {"C:\\Zelvora\\Data\\a.mdf", "C:", "Zelvora\\Data\\", "a.mdf"},
      {"C:\\a.txt", "C:", "", "a.txt"},
      {"\\\\srv\\share\\x\\a.mdf", "\\\\srv\\share", "x\\", "a.mdf"},
      {"\\\\srv\\share\\a.mdf", "\\\\srv\\share", "", "a.mdf"},
      {"\\x\\a.mdf", "", "\\x\\", "a.mdf"},
      {"C:/Zelvora/b.txt", "C:", "Zelvora\\", "b.txt"},
      {"a.txt", "", "", "a.txt"},
      {"C:\\Zelvora\\", "C:", "Zelvora\\", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Path);
    std::string drive = "?", dir = "?", name = "?";
    AbSplitPath(c.Path, drive, dir, name);
    EXPECT_EQ(drive, c.Drive);
    EXPECT_EQ(dir, c.Dir);
    EXPECT_EQ(name, c.Name);
  }

  std::vector<std::string> dirs;
  AbSplitDirs("C:\\A\\B\\", dirs);
  EXPECT_EQ(dirs, std::vector<std::string>({"C:", "A", "B"}));
  AbSplitDirs("", dirs);
  EXPECT_EQ(dirs.size(), 3u);
  AbSplitDirs("x", dirs);
  EXPECT_EQ(dirs.back(), "x");
}

TEST(PathText, DropDriveTrimParentRefsAndBackslashes) {
  const struct {
    const char* Path;
    const char* Dropped;
  } drops[] = {
      {"C:\\a.txt", "a.txt"},
      {"C:\\Zelvora\\Data\\a.mdf", "Zelvora\\Data\\a.mdf"},
      {"\\\\srv\\share\\x\\a.mdf", "x\\a.mdf"},
      {"\\x\\a.mdf", "\\x\\a.mdf"},
      {"a.mdf", "a.mdf"},
  };
  for (const auto& c : drops) {
    SCOPED_TRACE(c.Path);
    std::string path = c.Path;
    AbDropDrive(path);
    EXPECT_EQ(path, c.Dropped);
  }

  const struct {
    const char* Path;
    const char* Trimmed;
  } trims[] = {
      {"..\\..\\x\\..\\y", "x\\..\\y"},
      {"..\\", ""},
      {"..x\\y", "..x\\y"},
      {"a\\..\\b", "a\\..\\b"},
  };
  for (const auto& c : trims) {
    SCOPED_TRACE(c.Path);
    std::string path = c.Path;
    AbTrimParentRefs(path);
    EXPECT_EQ(path, c.Trimmed);
  }

  std::string mixed = "a/b\\c/d";
  AbToBackslashes(mixed);
  EXPECT_EQ(mixed, "a\\b\\c\\d");
}

TEST(PathText, VolumeFileName) {
  const struct {
    const char* Name;
    uint16_t N;
    const char* Volume;
  } cases[] = {
      {"set.zip", 7, "set.z07"},
      {"set.zip", 107, "set.z07"},
      {"backup.zip", 1, "backup.z01"},
      {"C:\\Zelvora\\Yedek\\202401011200.zip", 12, "C:\\Zelvora\\Yedek\\202401011200.z12"},
      {"set.z01", 2, "set.z02"},
      {"set", 3, "set.03"},
      {"set.", 3, "set.03"},
      {"C:\\my.dir\\set", 4, "C:\\my.dir\\set.04"},
      {"set.z", 5, "set.z05"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + " " + std::to_string(c.N));
    std::string name = c.Name;
    AbVolumeFileName(name, c.N);
    EXPECT_EQ(name, c.Volume);
  }
}

TEST(Wildcards, GlobMatch) {
  const struct {
    const char* Text;
    const char* Pattern;
    bool Match;
  } cases[] = {
      {"README", "*.*", true},  {"README", "*.TXT", false},
      {"A", "?", true},         {"", "?", false},
      {"AB", "A*", true},       {"", "", true},
      {"", "*", false},         {"X", "", false},
      {"A.TXT", "*.TXT", true}, {"A.TXT.BAK", "*.TXT", false},
      {"ABC", "A?C", true},     {"AC", "A?C", false},
      {"ABCABD", "*AB?", true}, {"AXBXC", "A*B*C", true},
      {"AXBX", "A*B*C", false}, {"ABC", "ABC", true},
      {"ABC", "ABCD", false},   {"ABCD", "ABC", false},
      {"A", "**", true},        {"ZELVORA.MDF", "Z*.M?F", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Text) + " ~ " + c.Pattern);
    EXPECT_EQ(AbGlobMatch(c.Text, 1, c.Pattern, 1), c.Match);
  }
  // Matching from later positions of both.
  EXPECT_TRUE(AbGlobMatch("XXA.TXT", 3, "-*.TXT", 2));
  EXPECT_FALSE(AbGlobMatch("XXA.TXT", 3, "-*.MDF", 2));
  // Many stars against a long miss end quickly.
  EXPECT_FALSE(AbGlobMatch(std::string(5000, 'A'), 1, "*A*A*A*A*A*A*A*A*A*B", 1));
}

TEST(Wildcards, NameMatchesMask) {
  const struct {
    const char* Name;
    const char* Mask;
    bool Match;
  } cases[] = {
      {"ZELVORA\\DATA\\X.MDF", "*.mdf", true},
      {"ZELVORA\\DATA\\X.MDF", "DATA\\*.mdf", false},
      {"DATA\\x.mdf", "data\\*.MDF", true},
      {"DATA\\x.mdf", "*\\*.MDF", true},
      {"x.mdf", "DATA\\*.mdf", false},
      {"readme", "*.*", true},
      {"a.ldf", "*.mdf", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + " ~ " + c.Mask);
    EXPECT_EQ(AbNameMatchesMask(c.Name, c.Mask), c.Match);
  }
}

class AbUtilsOnDisk : public ::testing::Test {
 protected:
  TTempDrive Drive;
};

TEST_F(AbUtilsOnDisk, DirectoriesAreMadeLevelByLevel) {
  EXPECT_TRUE(AbIsDirectory("C:\\"));
  EXPECT_FALSE(AbIsDirectory("C:\\Zelvora"));
  AbMakeDirPath("C:\\Zelvora\\Data\\Sub");
  EXPECT_TRUE(std::filesystem::is_directory(Drive.Host("Zelvora/Data/Sub")));
  EXPECT_TRUE(AbIsDirectory("C:\\Zelvora\\Data"));
  EXPECT_FALSE(AbIsDirectory("C:\\Zelvora\\*"));
  Drive.Write("Zelvora/file.txt", "x");
  EXPECT_FALSE(AbIsDirectory("C:\\Zelvora\\file.txt"));
  EXPECT_THROW(AbMakeDirPath("C:\\Zelvora\\file.txt\\below"), EInOutError);
  EXPECT_THROW(AbMakeDirPath("Q:\\Nowhere\\At\\All"), EInOutError);

  // Without a drive the levels count from the current folder.
  ASSERT_TRUE(SetCurrentDir("C:\\Zelvora"));
  AbMakeDirPath("Rel\\Deeper");
  EXPECT_TRUE(std::filesystem::is_directory(Drive.Host("Zelvora/Rel/Deeper")));
}

TEST_F(AbUtilsOnDisk, CollectsFilesByMaskThenFromSubFolders) {
  Drive.MakeFolder("Data/Sub/Deep");
  Drive.MakeFolder("Data/Other");
  Drive.Write("Data/a.mdf", "1");
  Drive.Write("Data/b.ldf", "2");
  Drive.Write("Data/Sub/c.mdf", "3");
  Drive.Write("Data/Sub/Deep/d.MDF", "4");
  Drive.Write("Data/Other/e.txt", "5");
  Drive.Write("Data/.hidden.mdf", "6");

  std::vector<std::string> found;
  AbCollectFiles("C:\\Data\\*.mdf", faArchive | faReadOnly, found, false);
  EXPECT_EQ(found, std::vector<std::string>({"C:\\Data\\a.mdf"}));

  found.clear();
  AbCollectFiles("C:\\Data\\*.mdf", faArchive | faReadOnly, found, true);
  EXPECT_EQ(found, std::vector<std::string>(
                       {"C:\\Data\\a.mdf", "C:\\Data\\Sub\\c.mdf", "C:\\Data\\Sub\\Deep\\d.MDF"}));

  found.clear();
  AbCollectFilesMulti(" C:\\Data\\*.ldf ; C:\\Data\\Other\\*.*;", faAnyFile, found, false);
  EXPECT_EQ(found, std::vector<std::string>({"C:\\Data\\b.ldf", "C:\\Data\\Other\\e.txt"}));

  found.clear();
  AbCollectFiles("C:\\Missing\\*.*", faAnyFile, found, true);
  EXPECT_TRUE(found.empty());
}

TEST_F(AbUtilsOnDisk, FileSizeShortPathAndTempNames) {
  Drive.MakeFolder("Zelvora/Data");
  Drive.Write("Zelvora/Data/a.mdf", "12345");
  EXPECT_EQ(AbSizeOfFile("C:\\Zelvora\\Data\\a.mdf"), 5);
  EXPECT_EQ(AbSizeOfFile("C:\\Zelvora\\Data\\none.mdf"), -1);

  EXPECT_EQ(AbShortPathOf("c:\\zelvora\\DATA\\A.MDF"), "c:\\Zelvora\\Data\\a.mdf");
  try {
    AbShortPathOf("C:\\Zelvora\\Gone\\a.mdf");
    FAIL() << "no exception";
  } catch (const EAbException& e) {
    EXPECT_STREQ(e.what(), "Path not found");
    EXPECT_EQ(e.ErrorCode, 0);
  }
  EXPECT_THROW(AbShortPathOf("C:\\Zelvora\\Data\\none.mdf"), EAbFileNotFound);

  const std::string made = AbTempFileName("C:\\Zelvora", true);
  const std::string name = made.substr(made.rfind('\\') + 1);
  EXPECT_EQ(made.substr(0, 11), "C:\\Zelvora\\");
  EXPECT_EQ(name.substr(0, 3), "VMS");
  EXPECT_EQ(name.substr(name.size() - 4), ".TMP");
  EXPECT_TRUE(FileExists(made));
  EXPECT_NE(AbTempFileName("C:\\Zelvora", true), made);

  EXPECT_EQ(AbTempFileName("C:\\Zelvora", false), "C:\\Zelvora\\VMS1.TMP");
  EXPECT_FALSE(FileExists("C:\\Zelvora\\VMS1.TMP"));
  EXPECT_EQ(AbTempFileName("C:\\NoSuchFolder", false), GetTempPath() + "VMS1.TMP");
}

TEST_F(AbUtilsOnDisk, DriveQueries) {
  EXPECT_EQ(AbFreeSpaceOf("Zelvora\\x.zip"), -1);
  EXPECT_EQ(AbFreeSpaceOf("x.zip"), -1);
  EXPECT_EQ(AbFreeSpaceOf("Q:\\x.zip"), -1);
  const auto space = std::filesystem::space(Drive.Root());
  const int32_t free = AbFreeSpaceOf("C:\\Zelvora\\x.zip");
  if (space.available > 2147483647u) {
    EXPECT_EQ(free, 2147483647);  // clamped, never a wrapped small number
  } else {
    EXPECT_GT(free, 0);
  }

  EXPECT_EQ(AbDriveLetterOf("C:\\Zelvora\\x.zip"), 'C');
  EXPECT_EQ(AbDriveLetterOf("\\\\srv\\share\\x.zip"), 'A');
  EXPECT_FALSE(AbIsRemovableDrive("C:\\Zelvora\\x.zip"));
  EXPECT_FALSE(AbIsRemovableDrive("\\\\srv\\share\\x.zip"));
  EXPECT_EQ(AbLabelVolume("A LABEL LONGER THAN ELEVEN", 'C'), 0);
  AbLabelSpanDisk('C', 1);
}

TEST(AbPadLock, EntersOnlyWhenTheProcessHasSeveralThreads) {
  TAbPadLock lock;
  const bool severalThreads = IsMultiThread();
  lock.SetHeld(true);
  EXPECT_EQ(lock.Depth(), severalThreads ? 1 : 0);
  lock.SetHeld(false);
  EXPECT_EQ(lock.Depth(), 0);

  std::promise<void> release;
  std::thread other([done = release.get_future()]() mutable { done.wait(); });
  ASSERT_TRUE(IsMultiThread());
  lock.SetHeld(true);
  lock.SetHeld(true);
  EXPECT_EQ(lock.Depth(), 2);
  // While held here, another thread cannot take the lock.
  auto attempt = std::async(std::launch::async, [&lock] {
    lock.SetHeld(true);
    lock.SetHeld(false);
  });
  EXPECT_EQ(attempt.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  lock.SetHeld(false);
  lock.SetHeld(false);
  attempt.get();
  lock.SetHeld(false);
  EXPECT_EQ(lock.Depth(), 0);
  release.set_value();
  other.join();
}
