#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>

#include <set>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "platform/DateTime.h"
#include "platform/DriveMap.h"
#include "platform/FileSystem.h"
#include "platform/SysUtils.h"
#include "tests/support/TestSupport.h"

namespace {

// `prefix`, one to four upper-case hex digits, then ".TMP": a temporary name.
bool IsTempName(const std::string& name, const std::string& prefix) {
  const size_t digits = name.size() - prefix.size() - 4;
  if (name.size() < prefix.size() + 5 || digits > 4 ||
      name.compare(0, prefix.size(), prefix) != 0 || name.compare(name.size() - 4, 4, ".TMP") != 0)
    return false;
  return name.find_first_not_of("0123456789ABCDEF", prefix.size()) == name.size() - 4;
}

std::vector<std::string> FindAll(const std::string& pathAndMask, uint32_t attributes) {
  std::vector<std::string> names;
  TSearchRec rec;
  for (int result = FindFirst(pathAndMask, attributes, rec); result == 0; result = FindNext(rec))
    names.push_back(rec.Name);
  FindClose(rec);
  return names;
}

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(nothing raised)";
}

std::string Pattern(size_t size) {
  std::string data(size, '\0');
  uint32_t x = 2463534242u;
  for (char& c : data) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = char(x);
  }
  return data;
}

}  // namespace

TEST(FileSystem, AFileOfDriveCIsFoundAgainWithoutRegardToCase) {
  TTempDrive drive;
  ASSERT_TRUE(CreateDir("C:\\Zelvora"));
  ASSERT_TRUE(CreateDir("C:\\Zelvora\\Data"));
  {
    TFileStream file("C:\\Zelvora\\Data\\x.mdf", fmCreate);
    file.WriteBuffer("MDF!", 4);
  }
  EXPECT_EQ(drive.Read("Zelvora/Data/x.mdf"), "MDF!");  // created with the case given

  EXPECT_TRUE(FileExists("c:\\ZELVORA\\data\\X.MDF"));
  EXPECT_TRUE(DirectoryExists("c:\\zelvora\\DATA\\"));
  EXPECT_FALSE(FileExists("c:\\ZELVORA\\data"));
  EXPECT_FALSE(DirectoryExists("c:\\ZELVORA\\data\\X.MDF"));
  TFileStream again("c:\\ZELVORA\\data\\X.MDF", fmOpenRead | fmShareDenyWrite);
  char text[4];
  again.ReadBuffer(text, 4);
  EXPECT_EQ(std::string(text, 4), "MDF!");

  TSearchRec rec;
  ASSERT_EQ(FindFirst("c:\\ZELVORA\\data\\X.MDF", faAnyFile, rec), 0);
  EXPECT_EQ(rec.Name, "x.mdf");
  EXPECT_EQ(rec.Size, 4);
  EXPECT_EQ(rec.Attr, uint32_t(faArchive));
  EXPECT_EQ(FindNext(rec), ERROR_NO_MORE_FILES);
  FindClose(rec);
}

TEST(FileSystem, OpenAndCreateErrorsTellAMissingFileFromAMissingFolder) {
  TTempDrive drive;
  drive.MakeFolder("Zelvora");
  EXPECT_EQ(
      MessageOf([] { TFileStream("C:\\Zelvora\\nope.mdf", fmOpenRead); }),
      "Cannot open file \"C:\\Zelvora\\nope.mdf\". The system cannot find the file specified");
  EXPECT_EQ(
      MessageOf([] { TFileStream("C:\\Missing\\nope.mdf", fmOpenRead); }),
      "Cannot open file \"C:\\Missing\\nope.mdf\". The system cannot find the path specified");
  EXPECT_EQ(MessageOf([] { TFileStream("C:\\Missing\\new.mdf", fmCreate); }),
            "Cannot create file \"C:\\Missing\\new.mdf\". The system cannot find the path "
            "specified");
  EXPECT_EQ(MessageOf([] { TFileStream("C:\\Zelvora", fmOpenRead); }),
            "Cannot open file \"C:\\Zelvora\". Access is denied");
  EXPECT_THROW(TFileStream("C:\\Zelvora\\nope.mdf", fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream("C:\\Missing\\new.mdf", fmCreate), EFCreateError);
}

TEST(FileSystem, AttributesFollowTheHost) {
  TTempDrive drive;
  drive.MakeFolder("Data/Sub");
  drive.Write("Data/plain.txt", "p");
  drive.Write("Data/.hidden", "h");
  drive.Write("Data/locked.txt", "l");
  ASSERT_EQ(FileSetAttr("C:\\Data\\locked.txt", faReadOnly | faArchive), 0);

  struct TAttrCase {
    const char* Path;
    int32_t Expected;
  };
  const TAttrCase cases[] = {
      {"C:\\Data\\plain.txt", faArchive},
      {"C:\\data\\.HIDDEN", faArchive | faHidden},
      {"C:\\Data\\locked.txt", faArchive | faReadOnly},
      {"C:\\Data\\Sub", faDirectory},
      {"C:\\Data\\nothing", -1},
  };
  for (const TAttrCase& c : cases) {
    SCOPED_TRACE(c.Path);
    EXPECT_EQ(FileGetAttr(c.Path), c.Expected);
  }
  struct stat info;
  ASSERT_EQ(::stat(drive.Host("Data/locked.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0222, 0u);

  // Windows refuses to delete a read-only file until the attribute is cleared.
  EXPECT_FALSE(DeleteFile("C:\\Data\\locked.txt"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_EQ(FileSetAttr("C:\\Data\\locked.txt", faArchive), 0);
  EXPECT_EQ(FileGetAttr("C:\\Data\\locked.txt"), faArchive);
  EXPECT_TRUE(DeleteFile("C:\\Data\\locked.txt"));
  EXPECT_FALSE(FileExists("C:\\Data\\locked.txt"));
  EXPECT_NE(FileSetAttr("C:\\Data\\nothing", 0), 0);
}

TEST(FileSystem, AReadOnlyFileIsNeitherEmptiedNorOpenedForWriting) {
  TTempDrive drive;
  drive.Write("locked.mdf", "keep");
  ASSERT_EQ(FileSetAttr("C:\\locked.mdf", faReadOnly), 0);
  EXPECT_EQ(MessageOf([] { TFileStream("C:\\locked.mdf", fmCreate); }),
            "Cannot create file \"C:\\locked.mdf\". Access is denied");
  EXPECT_EQ(MessageOf([] { TFileStream("C:\\locked.mdf", fmOpenReadWrite); }),
            "Cannot open file \"C:\\locked.mdf\". Access is denied");
  EXPECT_THROW(TFileStream("C:\\locked.mdf", fmOpenWrite), EFOpenError);
  EXPECT_EQ(drive.Read("locked.mdf"), "keep");
  EXPECT_EQ(TFileStream("C:\\locked.mdf", fmOpenRead).Size(), 4);
  EXPECT_FALSE(CopyFileExA("C:\\locked.mdf", "C:\\locked.mdf", nullptr, nullptr, 0));
  drive.Write("other.mdf", "other");
  EXPECT_FALSE(CopyFileExA("C:\\other.mdf", "C:\\locked.mdf", nullptr, nullptr, 0));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(drive.Read("locked.mdf"), "keep");
}

TEST(FileSystem, FoldersAreMadeRemovedAndRenamedAsOnWindows) {
  TTempDrive drive;
  EXPECT_TRUE(CreateDir("C:\\Zelvora"));
  EXPECT_FALSE(CreateDir("C:\\zelvora"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(CreateDir("C:\\No\\Deeper"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  drive.Write("Zelvora/a.txt", "a");
  drive.Write("Zelvora/b.txt", "b");
  EXPECT_FALSE(RenameFile("C:\\Zelvora\\a.txt", "C:\\Zelvora\\B.TXT"));  // never replaces
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(drive.Read("Zelvora/b.txt"), "b");
  EXPECT_TRUE(RenameFile("C:\\Zelvora\\a.txt", "C:\\Zelvora\\A.TXT"));  // a change of case
  EXPECT_EQ(FindAll("C:\\Zelvora\\a.*", faAnyFile), std::vector<std::string>{"A.TXT"});

  EXPECT_FALSE(RemoveDir("C:\\Zelvora"));
  EXPECT_FALSE(DeleteFile("C:\\Zelvora"));
  EXPECT_TRUE(DeleteFile("C:\\Zelvora\\A.TXT"));
  EXPECT_TRUE(DeleteFile("c:\\zelvora\\b.txt"));
  EXPECT_FALSE(DeleteFile("C:\\Zelvora\\b.txt"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(RemoveDir("C:\\ZELVORA"));
  EXPECT_FALSE(DirectoryExists("C:\\Zelvora"));

  EXPECT_THROW(ChDir("C:\\Zelvora"), EInOutError);
  try {
    ChDir("C:\\Zelvora");
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode, 3);
    EXPECT_EQ(e.Message(), "Invalid filename");
  }
  drive.MakeFolder("Yedek");
  ChDir("C:\\Yedek");
  EXPECT_EQ(ExpandFileName("x.zip"), "C:\\Yedek\\x.zip");
}

TEST(FileSystem, FindFirstExcludesOnlyTheSpecialAttributesTheMaskLeavesOut) {
  TTempDrive drive;
  drive.MakeFolder("D/Sub");
  for (const char* name : {"a.txt", "B.TXT", "c.dat", "noext", ".hid"})
    drive.Write(std::string("D/") + name, name);
  ASSERT_EQ(FileSetAttr("C:\\D\\c.dat", faReadOnly), 0);

  struct TFindCase {
    const char* Mask;
    uint32_t Attributes;
    std::vector<std::string> Expected;
  };
  const TFindCase cases[] = {
      {"*.*", 0, {"a.txt", "B.TXT", "c.dat", "noext"}},  // read-only never excludes
      {"*.*", faArchive, {"a.txt", "B.TXT", "c.dat", "noext"}},
      {"*.*", faHidden, {".hid", "a.txt", "B.TXT", "c.dat", "noext"}},
      {"*.*", faDirectory, {"a.txt", "B.TXT", "c.dat", "noext", "Sub"}},
      {"*.*", faAnyFile, {".hid", "a.txt", "B.TXT", "c.dat", "noext", "Sub"}},
      {"*", 0, {"a.txt", "B.TXT", "c.dat", "noext"}},
      {"*.TxT", 0, {"a.txt", "B.TXT"}},
      {"?.txt", 0, {"a.txt", "B.TXT"}},
      {"*.", faDirectory, {"noext", "Sub"}},
      {"noext.*", 0, {"noext"}},
      {"c*", 0, {"c.dat"}},
      {"x*", faAnyFile, {}},
  };
  for (const TFindCase& c : cases) {
    SCOPED_TRACE(std::string(c.Mask) + " attr " + std::to_string(c.Attributes));
    EXPECT_EQ(FindAll(std::string("C:\\D\\") + c.Mask, c.Attributes), c.Expected);
  }
  TSearchRec rec;
  EXPECT_EQ(FindFirst("C:\\D\\x*", faAnyFile, rec), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirst("C:\\Missing\\*.*", faAnyFile, rec), ERROR_PATH_NOT_FOUND);
  ASSERT_EQ(FindFirst("C:\\D\\c.dat", 0, rec), 0);
  EXPECT_EQ(rec.Attr, uint32_t(faArchive | faReadOnly));
  EXPECT_EQ(rec.Size, 5);
  EXPECT_EQ(rec.Time, FileAge("C:\\D\\c.dat"));
  FindClose(rec);
}

TEST(FileSystem, MasksMatchLikeWindows) {
  struct TMaskCase {
    const char* Name;
    const char* Mask;
    bool Expected;
  };
  const TMaskCase cases[] = {
      {"201805141200.zip", "*.zip", true},
      {"a.ZIP", "*.zip", true},
      {"a.zip.bak", "*.zip", false},
      {"abc", "*.*", true},
      {"abc", "a?c", true},
      {"ac", "a?c", false},
      {"a.b.c", "*.c", true},
      {"abc", "*.", true},
      {"a.b", "*.", false},
      {"x.MDF", "X.mdf", true},
      {"", "*", true},
      {"abc", "*b*c*", true},
      {"abcabd", "*ab?", true},
      {"abcab", "*ab?", false},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "*a*a*a*a*a*a*a*a*a*a*b",
       false},
  };
  for (const TMaskCase& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + " ~ " + c.Mask);
    EXPECT_EQ(MatchesWindowsMask(c.Name, c.Mask), c.Expected);
  }
}

TEST(FileSystem, ListFilesShowsOrdinaryFilesSortedWithoutRegardToCase) {
  TTempDrive drive;
  drive.MakeFolder("Data/d.txt");
  for (const char* name : {"b.txt", "A.txt", "c.TXT", "Z.dat", ".h.txt", "_u.txt"})
    drive.Write(std::string("Data/") + name, "x");
  ASSERT_EQ(FileSetAttr("C:\\Data\\Z.dat", faReadOnly), 0);
  using Names = std::vector<std::string>;
  EXPECT_EQ(ListFiles("C:\\Data", "*.txt"), (Names{"A.txt", "b.txt", "c.TXT", "_u.txt"}));
  EXPECT_EQ(ListFiles("c:\\data\\", "*.*"), (Names{"A.txt", "b.txt", "c.TXT", "Z.dat", "_u.txt"}));
  EXPECT_EQ(ListFiles("C:\\Data", "*.dat;b*"), (Names{"b.txt", "Z.dat"}));
  EXPECT_EQ(ListFiles("C:\\Missing", "*.*"), Names{});
}

TEST(FileSystem, FileDatesAreEvenSecondsOfLocalTime) {
  TTempDrive drive;
  const TDateTime when = EncodeDate(2023, 7, 15) + EncodeTime(13, 45, 31, 0);
  const int32_t dos = DateTimeToFileDate(when);
  const uint32_t expected =
      uint32_t((2023 - 1980) << 9 | 7 << 5 | 15) << 16 | uint32_t(13 << 11 | 45 << 5 | 31 / 2);
  EXPECT_EQ(uint32_t(dos), expected);
  {
    TFileStream file("C:\\dated.txt", fmCreate);
    EXPECT_EQ(FileSetDate(file.Handle(), dos), 0);
    EXPECT_EQ(FileGetDate(file.Handle()), dos);
    EXPECT_EQ(FileSetDate(file.Handle(), int32_t(uint32_t(13 << 5 | 1) << 16)), 87);  // month 13
  }
  EXPECT_EQ(FileAge("c:\\DATED.TXT"), dos);
  EXPECT_EQ(FileAge("C:\\none.txt"), -1);
  EXPECT_EQ(FileGetDate(-1), -1);

  struct stat info;
  ASSERT_EQ(::stat(drive.Host("dated.txt").c_str(), &info), 0);
  tm local{};
  ::localtime_r(&info.st_mtime, &local);
  EXPECT_EQ(local.tm_year + 1900, 2023);
  EXPECT_EQ(local.tm_mon + 1, 7);
  EXPECT_EQ(local.tm_mday, 15);
  EXPECT_EQ(local.tm_hour, 13);
  EXPECT_EQ(local.tm_min, 45);
  EXPECT_EQ(local.tm_sec, 30);
}

TEST(FileSystem, CopyReportsProgressAndKeepsTheDate) {
  TTempDrive drive;
  const std::string data = Pattern(3 * 1024 * 1024 + 123);
  drive.Write("source.bin", data);
  {
    TFileStream source("C:\\source.bin", fmOpenReadWrite);
    ASSERT_EQ(FileSetDate(source.Handle(), DateTimeToFileDate(EncodeDate(2020, 2, 29))), 0);
  }
  std::vector<std::pair<int64_t, int64_t>> calls;
  const auto record = [&](int64_t total, int64_t done) {
    calls.emplace_back(total, done);
    return PROGRESS_CONTINUE;
  };
  ASSERT_TRUE(CopyFileExA("C:\\source.bin", "C:\\copy.bin", record, nullptr, 0));
  EXPECT_EQ(drive.Read("copy.bin"), data);
  EXPECT_EQ(FileAge("C:\\copy.bin"), FileAge("C:\\source.bin"));
  ASSERT_GT(calls.size(), 2u);
  EXPECT_EQ(calls.front(), std::make_pair(int64_t(data.size()), int64_t(0)));
  EXPECT_EQ(calls.back(), std::make_pair(int64_t(data.size()), int64_t(data.size())));
  for (size_t i = 1; i < calls.size(); ++i) EXPECT_GT(calls[i].second, calls[i - 1].second);

  // Overwrites without the flag, refuses with it.
  EXPECT_TRUE(CopyFileExA("C:\\source.bin", "C:\\copy.bin", nullptr, nullptr, 0));
  EXPECT_FALSE(
      CopyFileExA("C:\\source.bin", "C:\\copy.bin", nullptr, nullptr, COPY_FILE_FAIL_IF_EXISTS));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  // Onto itself: refused, and the file is left whole.
  EXPECT_FALSE(CopyFileExA("C:\\source.bin", "c:\\SOURCE.BIN", nullptr, nullptr, 0));
  EXPECT_EQ(drive.Read("source.bin").size(), data.size());
  EXPECT_FALSE(CopyFileExA("C:\\none.bin", "C:\\other.bin", nullptr, nullptr, 0));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(CopyFileExA("C:\\source.bin", "C:\\Missing\\x.bin", nullptr, nullptr, 0));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(FileSystem, CopyCanBeCancelledStoppedOrQuietened) {
  TTempDrive drive;
  const std::string data = Pattern(4 * 1024 * 1024);
  const int64_t total = int64_t(data.size());
  drive.Write("big.bin", data);
  struct stat info;

  int64_t last = 0;
  const auto cancelHalfWay = [&](int64_t size, int64_t done) {
    last = done;
    return done >= size / 2 ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
  };
  EXPECT_FALSE(CopyFileExA("C:\\big.bin", "C:\\target.bin", cancelHalfWay, nullptr, 0));
  EXPECT_EQ(GetLastError(), ERROR_REQUEST_ABORTED);
  EXPECT_GE(last, total / 2);
  EXPECT_LT(last, total);
  EXPECT_NE(::stat(drive.Host("target.bin").c_str(), &info), 0);

  bool cancel = false;
  const auto raiseFlag = [&](int64_t size, int64_t done) {
    cancel = done >= size / 2;
    return PROGRESS_CONTINUE;
  };
  EXPECT_FALSE(CopyFileExA("C:\\big.bin", "C:\\target.bin", raiseFlag, &cancel, 0));
  EXPECT_EQ(GetLastError(), ERROR_REQUEST_ABORTED);
  EXPECT_FALSE(FileExists("C:\\target.bin"));

  const auto stopHalfWay = [&](int64_t size, int64_t done) {
    return done >= size / 2 ? PROGRESS_STOP : PROGRESS_CONTINUE;
  };
  EXPECT_FALSE(CopyFileExA("C:\\big.bin", "C:\\target.bin", stopHalfWay, nullptr, 0));
  EXPECT_EQ(GetLastError(), ERROR_REQUEST_ABORTED);
  ASSERT_EQ(::stat(drive.Host("target.bin").c_str(), &info), 0);  // the part stays
  EXPECT_GE(info.st_size, total / 2);
  EXPECT_LT(info.st_size, total);

  int quietCalls = 0;
  const auto quiet = [&](int64_t, int64_t) {
    ++quietCalls;
    return PROGRESS_QUIET;
  };
  EXPECT_TRUE(CopyFileExA("C:\\big.bin", "C:\\target.bin", quiet, nullptr, 0));
  EXPECT_EQ(quietCalls, 1);
  EXPECT_EQ(drive.Read("target.bin"), data);
}

TEST(FileSystem, TempPathAndTempFileNames) {
  TTempDrive drive;
  drive.MakeFolder("tmp");
  ::unsetenv("ZELVORA_DRIVE_Z");
  const char* old = std::getenv("TMPDIR");
  const bool hadOld = old != nullptr;
  const std::string saved = hadOld ? old : "";
  ::setenv("TMPDIR", drive.Host("tmp").c_str(), 1);
  EXPECT_EQ(GetTempPath(), "C:\\tmp\\");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(GetTempPath(), "Z:\\tmp\\");
  if (hadOld) ::setenv("TMPDIR", saved.c_str(), 1);

  std::set<std::string> names;
  for (int i = 0; i < 5; ++i) {
    const std::string name = GetTempFileName("C:\\tmp", "VMSwork");
    SCOPED_TRACE(name);
    EXPECT_TRUE(IsTempName(name, "C:\\tmp\\VMS"));
    EXPECT_TRUE(FileExists(name));
    EXPECT_EQ(TFileStream(name, fmOpenRead).Size(), 0);
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 5u);
  EXPECT_TRUE(IsTempName(GetTempFileName("C:\\tmp\\", "ab"), "C:\\tmp\\ab"));
  EXPECT_EQ(GetTempFileName("C:\\Missing", "VMS"), "");
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(FileSystem, DrivesAreFixedWithFreeSpace) {
  TTempDrive drive;
  ::unsetenv("ZELVORA_DRIVE_Q");
  EXPECT_EQ(GetDriveType("C:\\"), uint32_t(DRIVE_FIXED));
  EXPECT_EQ(GetDriveType("c:"), uint32_t(DRIVE_FIXED));
  EXPECT_EQ(GetDriveType("Q:\\"), uint32_t(DRIVE_NO_ROOT_DIR));
  struct statvfs volume;
  ASSERT_EQ(::statvfs(drive.Root().c_str(), &volume), 0);
  const double free = double(volume.f_bavail) * double(volume.f_frsize);
  const double slack = 256.0 * 1024 * 1024;  // other programs write meanwhile
  EXPECT_NEAR(double(DiskFree("C:\\")), free, slack);
  EXPECT_NEAR(double(DiskFree("C:\\Not\\Yet\\There")), free, slack);
  EXPECT_EQ(DiskFree("Q:\\"), -1);
  EXPECT_TRUE(SetVolumeLabel("C:\\", "ZELVORA"));
}
