#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/DriveMap.h"
#include "tests/support/TestSupport.h"

namespace {

struct TExpandCase {
  const char* Given;
  const char* Expected;
};

}  // namespace

TEST(DriveMap, ExpandFileNameResolvesAgainstTheCurrentDirectory) {
  TTempDrive drive;
  drive.MakeFolder("Zelvora/Data");
  ASSERT_TRUE(SetCurrentDir("C:\\Zelvora\\Data"));
  const TExpandCase cases[] = {
      {"x.mdf", "C:\\Zelvora\\Data\\x.mdf"},
      {"..\\Yedek", "C:\\Zelvora\\Yedek"},
      {"..\\..\\..\\..", "C:\\"},
      {"C:Pics\\a.jpg", "C:\\Zelvora\\Data\\Pics\\a.jpg"},  // drive-relative, same drive
      {"D:Pics", "D:\\Pics"},                               // another drive: its root
      {"\\Temp\\", "C:\\Temp\\"},                           // trailing '\' stays
      {"C:/a/./b/../c", "C:\\a\\c"},
      {"c:\\a\\\\b\\", "c:\\a\\b\\"},
      {"\\\\server\\share\\x\\..\\y", "\\\\server\\share\\y"},
      {"", "C:\\Zelvora\\Data"},
  };
  for (const TExpandCase& c : cases) {
    SCOPED_TRACE(c.Given);
    EXPECT_EQ(ExpandFileName(c.Given), c.Expected);
  }
}

TEST(DriveMap, HostPathsFollowTheCaseOnDiskAndKeepNewNamesAsGiven) {
  TTempDrive drive;
  drive.MakeFolder("Zelvora/Data");
  ::unsetenv("ZELVORA_DRIVE_Q");
  EXPECT_EQ(HostPathOf("c:\\ZELVORA\\data\\New.TXT"), drive.Host("Zelvora/Data/New.TXT"));
  EXPECT_EQ(HostPathOf("C:\\Zelvora\\Data\\..\\Yedek\\"), drive.Host("Zelvora/Yedek"));
  EXPECT_EQ(HostPathOf("C:\\"), drive.Root());
  EXPECT_EQ(HostPathOf("Q:\\x"), "");
  EXPECT_EQ(HostPathOf("\\\\server\\share\\x"), "");
}

TEST(DriveMap, HostPathsOfExistingAndMissingNamesAgreeWithAComponentWalk) {
  TTempDrive drive;
  drive.Write("Data/x.mdf", "x");
  drive.Write("Data/a.txt", "a");
  drive.Write("Data/A.TXT", "A");
  drive.Write("file.txt", "f");
  ASSERT_EQ(::symlink("Data", drive.Host("Link").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", drive.Host("Dead").c_str()), 0);
  // What a lookup of one component after the other gives: each component in
  // its case on disk (the exact name first, else the first in byte order),
  // the rest as given from the first one that is missing.
  const TExpandCase cases[] = {
      {"C:\\Data\\x.mdf", "Data/x.mdf"},
      {"c:\\DATA\\X.MDF", "Data/x.mdf"},
      {"C:\\Data\\a.txt", "Data/a.txt"},
      {"C:\\Data\\A.TXT", "Data/A.TXT"},
      {"C:\\Data\\A.txt", "Data/A.TXT"},
      {"C:\\data\\a.TXT", "Data/A.TXT"},
      {"C:\\Data\\New.txt", "Data/New.txt"},
      {"C:\\DATA\\New.txt", "Data/New.txt"},
      {"C:\\Missing\\DATA\\x.mdf", "Missing/DATA/x.mdf"},
      {"C:\\Data\\x.mdf\\", "Data/x.mdf"},
      {"C:\\Data\\.\\Sub\\..\\X.MDF", "Data/x.mdf"},
      {"C:\\Link\\x.mdf", "Link/x.mdf"},
      {"C:\\LINK\\X.mdf", "Link/x.mdf"},
      {"C:\\Link\\New\\x.mdf", "Link/New/x.mdf"},
      {"C:\\Dead", "Dead"},
      {"C:\\DEAD", "Dead"},
      {"C:\\dead\\x", "Dead/x"},
      {"C:\\File.TXT\\x", "file.txt/x"},
      {"C:\\file.txt\\", "file.txt"},
  };
  for (const TExpandCase& c : cases) {
    SCOPED_TRACE(c.Given);
    EXPECT_EQ(HostPathOf(c.Given), drive.Host(c.Expected));
  }
}

TEST(DriveMap, WindowsPathsPickTheClosestDrive) {
  TTempDrive drive;
  ::unsetenv("ZELVORA_DRIVE_Z");
  const TExpandCase cases[] = {
      {"/tmp", "Z:\\tmp"},
      {"/", "Z:\\"},
      {"/tmp/", "Z:\\tmp"},
  };
  for (const TExpandCase& c : cases) {
    SCOPED_TRACE(c.Given);
    EXPECT_EQ(WindowsPathOf(c.Given), c.Expected);
  }
  EXPECT_EQ(WindowsPathOf(drive.Root()), "C:\\");
  EXPECT_EQ(WindowsPathOf(drive.Host("Zelvora/Data")), "C:\\Zelvora\\Data");
  // ".." is resolved before the drive is chosen: this path is outside C:.
  const std::string outside = drive.Host("../elsewhere");
  EXPECT_EQ(WindowsPathOf(outside).rfind("Z:\\", 0), 0u) << WindowsPathOf(outside);
}

TEST(DriveMap, SetCurrentDirAcceptsOnlyExistingFolders) {
  TTempDrive drive;
  drive.MakeFolder("Zelvora");
  drive.Write("Zelvora/file.txt", "x");
  EXPECT_TRUE(SetCurrentDir("c:\\zelvora\\"));
  EXPECT_EQ(GetCurrentDir(), "c:\\zelvora");
  EXPECT_FALSE(SetCurrentDir("C:\\Missing"));
  EXPECT_FALSE(SetCurrentDir("C:\\Zelvora\\file.txt"));
  EXPECT_EQ(GetCurrentDir(), "c:\\zelvora");
}
