// The legacy-method fixture archives (Shrink, Reduce 1-4, Implode with 4 and
// 8 KiB dictionaries and 2 and 3 trees, some encrypted) extract through the
// unzipper to the contents their manifest gives, and pass the engine's test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ExtractSupport.h"
#include "archive/AbUnzper.h"

namespace {

using namespace extract_test;

struct TManifestRow {
  std::string Entry;
  std::string Sha256;
  std::string Password;
};

// Rows of MANIFEST.tsv by archive (relative to the legacy folder).
std::map<std::string, std::vector<TManifestRow>> ReadManifest(const std::string& folder) {
  std::map<std::string, std::vector<TManifestRow>> archives;
  std::ifstream in(folder + "/MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // the column names
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream cells(line);
    std::string cell;
    while (std::getline(cells, cell, '\t')) fields.push_back(cell);
    if (fields.size() < 8) continue;
    archives[fields[0]].push_back({fields[1], fields[7], fields.size() > 8 ? fields[8] : ""});
  }
  return archives;
}

std::string Sha256Of(const std::string& hostPath) {
  std::string output;
  if (RunCommand("sha256sum " + ShellQuote(hostPath), output) != 0) return "sha256sum failed";
  return output.substr(0, 64);
}

// The archives kept in the project; the PKZIP ones only when they sit beside it.
std::string ArchivePath(const std::string& relative) {
  if (relative.rfind("pkzip/", 0) == 0)
    return LegacyDataDir() + "/../../../../shared/fixtures/legacy/" + relative;
  return LegacyDataDir() + "/" + relative;
}

TEST(ExtractLegacyTest, EveryFixtureEntryExtractsToItsManifestContents) {
  if (!HaveTool("sha256sum")) GTEST_SKIP() << "sha256sum is not installed";
  const auto manifest = ReadManifest(LegacyDataDir());
  ASSERT_GE(manifest.size(), 12u);
  int archivesRead = 0;
  for (const auto& [relative, rows] : manifest) {
    SCOPED_TRACE(relative);
    const std::string source = ArchivePath(relative);
    if (!std::filesystem::exists(source)) continue;  // a PKZIP archive not kept here
    ++archivesRead;
    TTempDrive drive;
    drive.Write("Arc/a.zip", ReadHostFile(source));
    drive.MakeFolder("Out");
    TAbUnZipper unzipper;
    TFailureLog log;
    log.Attach(unzipper);
    unzipper.SetFileName("C:\\Arc\\a.zip");
    unzipper.SetPassword(rows.front().Password);
    unzipper.SetBaseDirectory("C:\\Out");
    ASSERT_EQ(unzipper.Count(), int(rows.size()));
    for (int i = 0; i < unzipper.Count(); ++i) {
      SCOPED_TRACE(unzipper.ItemAt(i).FileName());
      EXPECT_NO_THROW(unzipper.ZipArchive()->TestOne(i));
    }
    unzipper.ExtractMatching("*.*");
    for (const TFailure& failure : log.Failures) {
      ADD_FAILURE() << failure.Name << " failed with code " << failure.ErrorCode;
    }
    for (const TManifestRow& row : rows) {
      SCOPED_TRACE(row.Entry);
      EXPECT_EQ(Sha256Of(drive.Host("Out/" + row.Entry)), row.Sha256);
    }
  }
  EXPECT_GE(archivesRead, 12) << "the generated and encrypted fixtures are part of the project";
}

// A wrong password on a legacy item fails that item (code 4) and the others go on.
TEST(ExtractLegacyTest, WrongPasswordFailsEachEncryptedItem) {
  TTempDrive drive;
  drive.Write("Arc/a.zip", ReadHostFile(LegacyDataDir() + "/encrypted/enc-shrink.zip"));
  drive.MakeFolder("Out");
  TAbUnZipper unzipper;
  TFailureLog log;
  log.Attach(unzipper);
  unzipper.SetFileName("C:\\Arc\\a.zip");
  unzipper.SetPassword("not the password");
  unzipper.SetPasswordRetries(0);
  unzipper.SetBaseDirectory("C:\\Out");
  unzipper.ExtractMatching("*.*");
  ASSERT_EQ(log.Failures.size(), 4u);
  for (const TFailure& failure : log.Failures) {
    SCOPED_TRACE(failure.Name);
    EXPECT_EQ(failure.ErrorClass, ecCorvel);
    EXPECT_EQ(failure.ErrorCode, 4);
  }
  EXPECT_TRUE(drive.List("Out").empty());
}

}  // namespace
