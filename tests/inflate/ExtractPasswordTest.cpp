// Passwords of encrypted items through the unzipper: the first password, the
// questions of OnNeedPassword and the retries, for stored and deflated items.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExtractSupport.h"
#include "archive/AbUnzper.h"
#include "archive/AbZipper.h"
#include "platform/Random.h"

namespace {

using namespace extract_test;

const std::string kRight = "735296482913572";

// Makes C:\Arc\a.zip with the one file C:\Src\f.txt, encrypted with kRight.
std::string MakeEncryptedArchive(const TTempDrive& drive, TAbZipSupportedMethod method) {
  // A wrong password passes the header's check byte once in 256 headers: a
  // fixed seed gives the same header every run, one that refuses "wrong".
  SetRandSeed(20240307);
  const std::string bytes = WordBytes(20000, 9);
  drive.Write("Src/f.txt", bytes);
  drive.MakeFolder("Arc");
  drive.MakeFolder("Out");
  TAbZipper zipper;
  zipper.SetFileName("C:\\Arc\\a.zip");
  zipper.SetPassword(kRight);
  zipper.SetCompressionMethodToUse(method);
  zipper.AddMatching("C:\\Src\\f.txt", 0);
  zipper.CloseFile();
  return bytes;
}

struct TPasswordCase {
  const char* Label;
  TAbZipSupportedMethod Method;
  uint8_t Retries;
  std::string Initial;
  bool HasHandler;
  // The handler's answers in turn; the last one repeats.
  std::vector<std::string> Answers;
  int ExpectedAsks;
  int ExpectedCode;  // 0: the item extracts
};

class ExtractPasswordTest : public ::testing::TestWithParam<TPasswordCase> {};

TEST_P(ExtractPasswordTest, AsksChecksAndEndsAsSpecified) {
  const TPasswordCase& c = GetParam();
  TTempDrive drive;
  const std::string bytes = MakeEncryptedArchive(drive, c.Method);
  TAbUnZipper unzipper;
  TFailureLog log;
  log.Attach(unzipper);
  int asks = 0;
  if (c.HasHandler) {
    unzipper.OnNeedPassword = [&](TAbBaseComponent& sender, std::string& answer) {
      EXPECT_EQ(&sender, &unzipper);
      EXPECT_EQ(answer, "");
      answer = c.Answers[std::min<size_t>(size_t(asks), c.Answers.size() - 1)];
      ++asks;
    };
  }
  unzipper.SetFileName("C:\\Arc\\a.zip");
  unzipper.SetPassword(c.Initial);
  unzipper.SetPasswordRetries(c.Retries);
  unzipper.SetBaseDirectory("C:\\Out");
  unzipper.ExtractMatching("*.*");

  EXPECT_EQ(asks, c.ExpectedAsks);
  if (c.ExpectedCode == 0) {
    EXPECT_TRUE(log.Failures.empty());
    EXPECT_EQ(drive.Read("Out/f.txt"), bytes);
  } else {
    ASSERT_EQ(log.Failures.size(), 1u);
    EXPECT_EQ(log.Failures[0].ProcessType, ptExtract);
    EXPECT_EQ(log.Failures[0].ErrorClass, ecCorvel);
    EXPECT_EQ(log.Failures[0].ErrorCode, c.ExpectedCode);
    EXPECT_TRUE(drive.List("Out").empty());
  }
}

// A stored item checks the first password and every answer; a deflated one
// checks the first password and all answers but the last. So "wrong, wrong,
// right" with 3 retries extracts a stored item and fails a deflated one.
INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractPasswordTest,
    ::testing::Values(
        TPasswordCase{"StoredNoHandlerNoRetries", smStored, 0, "wrong", false, {}, 0, 4},
        TPasswordCase{"DeflatedNoHandlerNoRetries", smDeflated, 0, "wrong", false, {}, 0, 9},
        TPasswordCase{"StoredEmptyNoHandler", smStored, 3, "", false, {}, 0, 4},
        TPasswordCase{"DeflatedEmptyNoHandler", smDeflated, 3, "", false, {}, 0, 4},
        TPasswordCase{"StoredRightAtFirstRequest", smStored, 3, "", true, {kRight}, 1, 0},
        TPasswordCase{"DeflatedRightAtFirstRequest", smDeflated, 3, "", true, {kRight}, 1, 0},
        TPasswordCase{"StoredAlwaysWrong", smStored, 3, "wrong", true, {"bad"}, 3, 4},
        TPasswordCase{"DeflatedAlwaysWrong", smDeflated, 3, "wrong", true, {"bad"}, 3, 4},
        TPasswordCase{
            "StoredRightAtThirdAsk", smStored, 3, "wrong", true, {"b1", "b2", kRight}, 3, 0},
        TPasswordCase{
            "DeflatedRightAtThirdAsk", smDeflated, 3, "wrong", true, {"b1", "b2", kRight}, 3, 4},
        TPasswordCase{
            "DeflatedRightAtSecondAsk", smDeflated, 3, "wrong", true, {"b1", kRight}, 2, 0},
        TPasswordCase{"StoredEmptyAnswerAborts", smStored, 3, "wrong", true, {""}, 1, 9},
        TPasswordCase{"DeflatedEmptyAnswerAborts", smDeflated, 3, "wrong", true, {""}, 1, 9},
        TPasswordCase{"RightFromTheStart", smDeflated, 0, kRight, true, {"never"}, 0, 0}),
    [](const ::testing::TestParamInfo<TPasswordCase>& info) {
      return std::string(info.param.Label);
    });

// An answer stays the archive's password for the items after it.
TEST(ExtractPasswordKeptTest, AnAnswerServesTheFollowingItems) {
  TTempDrive drive;
  drive.Write("Src/a.txt", WordBytes(5000, 1));
  drive.Write("Src/b.txt", WordBytes(6000, 2));
  drive.MakeFolder("Arc");
  drive.MakeFolder("Out");
  {
    TAbZipper zipper;
    zipper.SetFileName("C:\\Arc\\a.zip");
    zipper.SetPassword(kRight);
    zipper.AddMatching("C:\\Src\\*.txt", 0);
    zipper.CloseFile();
  }
  TAbUnZipper unzipper;
  int asks = 0;
  unzipper.OnNeedPassword = [&](TAbBaseComponent&, std::string& answer) {
    ++asks;
    answer = kRight;
  };
  unzipper.SetFileName("C:\\Arc\\a.zip");
  unzipper.SetBaseDirectory("C:\\Out");
  unzipper.ExtractMatching("*.*");
  EXPECT_EQ(asks, 1);
  EXPECT_EQ(unzipper.Password(), kRight);
  EXPECT_EQ(drive.Read("Out/a.txt"), WordBytes(5000, 1));
  EXPECT_EQ(drive.Read("Out/b.txt"), WordBytes(6000, 2));
}

}  // namespace
