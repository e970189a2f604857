// The damaged-archive table of tests/data/damaged: every file is loaded and
// each of its items tested with the programs' password, and what happened must
// be exactly the outcome that expected.txt gives for it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "archive/AbZipTyp.h"
#include "archive/inflate/AbUnzPrc.h"
#include "platform/DriveMap.h"
#include "tests/inflate/ExtractSupport.h"

namespace {

const char kPassword[] = "735296482913572";

std::string DamagedDir() {
  return extract_test::TestDataDir() + "/damaged";
}

// "file.zip | outcome" lines; '#' starts a comment.
std::map<std::string, std::string> ExpectedOutcomes() {
  std::map<std::string, std::string> outcomes;
  std::ifstream in(DamagedDir() + "/expected.txt");
  std::string line;
  while (std::getline(in, line)) {
    const size_t bar = line.find(" | ");
    if (line.empty() || line[0] == '#' || bar == std::string::npos) continue;
    outcomes[line.substr(0, bar)] = line.substr(bar + 3);
  }
  return outcomes;
}

// "load: MESSAGE" when the archive cannot be loaded, "no items", or "NAME: ok"
// or "NAME: MESSAGE" for each item, joined by " | ".
std::string OutcomeOf(const std::string& hostFile) {
  TAbZipArchive archive(WindowsPathOf(hostFile), fmOpenRead | fmShareDenyNone);
  archive.Password = kPassword;
  archive.TestHook = AbVerifyItem;
  try {
    archive.Load();
  } catch (const std::exception& e) {
    return std::string("load: ") + e.what();
  }
  if (archive.Count() == 0) return "no items";
  std::string outcome;
  for (int i = 0; i < archive.Count(); ++i) {
    if (i > 0) outcome += " | ";
    outcome += archive.Items(i).FileName() + ": ";
    try {
      archive.TestOne(i);
      outcome += "ok";
    } catch (const std::exception& e) {
      outcome += e.what();
    }
  }
  return outcome;
}

}  // namespace

TEST(DamagedArchiveTest, EveryFileEndsExactlyAsTheTableSays) {
  ASSERT_TRUE(std::filesystem::exists(DamagedDir() + "/expected.txt")) << DamagedDir();
  std::map<std::string, std::string> expected = ExpectedOutcomes();
  for (const auto& entry : std::filesystem::directory_iterator(DamagedDir())) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".zip") continue;
    SCOPED_TRACE(name);
    const auto row = expected.find(name);
    const std::string outcome = OutcomeOf(entry.path().string());
    if (row == expected.end()) {
      ADD_FAILURE() << "no expected outcome; it was:\n" << name << " | " << outcome;
      continue;
    }
    EXPECT_EQ(outcome, row->second);
    expected.erase(row);
  }
  for (const auto& [name, outcome] : expected) ADD_FAILURE() << name << " is in the table only";
}
