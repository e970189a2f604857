#include <gtest/gtest.h>
#include <stdlib.h>

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
