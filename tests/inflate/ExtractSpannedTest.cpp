// Items of a spanned set, including those that run over a volume's end.
#include <gtest/gtest.h>

#include <string>

#include "ExtractSupport.h"
#include "archive/AbUnzper.h"
#include "archive/AbZipper.h"

namespace {

using namespace extract_test;

TEST(ExtractSpannedTest, EveryItemOfASpannedSetExtracts) {
  for (TAbZipSupportedMethod method : {smStored, smDeflated}) {
    SCOPED_TRACE(int(method));
    TTempDrive drive;
    drive.Write("Src/a.bin", NoiseBytes(90000, 1));
    drive.Write("Src/b.txt", WordBytes(150000, 2));
    drive.Write("Src/c.bin", NoiseBytes(70000, 3));
    drive.MakeFolder("Arc");
    drive.MakeFolder("Out");
    {
      TAbZipper zipper;
      zipper.SetFileName("C:\\Arc\\s.zip");
      zipper.SetSpanningThreshold(64 * 1024);
      zipper.SetPassword("pw");
      zipper.SetCompressionMethodToUse(method);
      zipper.AddMatching("C:\\Src\\*.*", 0);
      zipper.CloseFile();
    }
    ASSERT_TRUE(drive.Exists("Arc/s.z01"));
    TAbUnZipper unzipper;
    TFailureLog log;
    log.Attach(unzipper);
    unzipper.SetFileName("C:\\Arc\\s.zip");
    unzipper.SetPassword("pw");
    unzipper.SetBaseDirectory("C:\\Out");
    unzipper.ExtractMatching("*.*");
    for (const TFailure& failure : log.Failures) {
      ADD_FAILURE() << failure.Name << " failed with code " << failure.ErrorCode;
    }
    EXPECT_EQ(drive.Read("Out/a.bin"), NoiseBytes(90000, 1));
    EXPECT_EQ(drive.Read("Out/b.txt"), WordBytes(150000, 2));
    EXPECT_EQ(drive.Read("Out/c.bin"), NoiseBytes(70000, 3));
  }
}

}  // namespace
