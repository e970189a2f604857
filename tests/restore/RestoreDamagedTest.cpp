// Restoring from a damaged backup: every data file the archive could not
// restore stays exactly as it was, files the archive does not hold are not
// touched, nothing outside the data folder changes but the safety archive and
// the log, and the safety archive holds the data folder as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/backup/VozidirProcess.h"
#include "tests/restore/RestoreFixture.h"

namespace {

namespace fs = std::filesystem;

const std::string kPassword = "735296482913572";
const char* const kAllPresses = "press sButton2\npress sButton2\npress sButton2\n";
const char* const kSelected = "Zelvora/Yedek/202401151230.zip";
const char* const kSafety = "Zelvora/Yedek/202403070905.zip";
const char* const kLog = "Zelvora/Restorekeep.log";

// Where the records of an archive lie.
struct TLayout {
  size_t End = 0;
  size_t Directory = 0;
  std::map<std::string, size_t> Central;  // by the name's last component
  std::map<std::string, size_t> Data;     // where the item's (encrypted) data starts
};

TLayout LayoutOf(const std::string& zip) {
  TLayout layout;
  layout.End = zip.rfind("PK\x05\x06");
  layout.Directory = GetLE(zip, layout.End + 16, 4);
  for (size_t at = layout.Directory; at < layout.End;
       at += 46 + GetLE(zip, at + 28, 2) + GetLE(zip, at + 30, 2) + GetLE(zip, at + 32, 2)) {
    const std::string name = zip.substr(at + 46, GetLE(zip, at + 28, 2));
    const std::string bare = name.substr(name.rfind('/') + 1);
    const size_t local = GetLE(zip, at + 42, 4);
    layout.Central[bare] = at;
    layout.Data[bare] = local + 30 + GetLE(zip, local + 26, 2) + GetLE(zip, local + 28, 2);
  }
  return layout;
}

// Every file of the drive outside the data folder, with its bytes.
std::map<std::string, std::string> FilesOutsideData(const TTempDrive& drive) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(drive.Root())) {
    const std::string relative = fs::relative(entry.path(), drive.Root()).generic_string();
    if (relative.rfind("Zelvora/Data", 0) == 0 || !entry.is_regular_file()) continue;
    files[relative] = ReadHostFile(entry.path().string());
  }
  return files;
}

class RestoreDamagedTest : public RestoreTest {
 protected:
  // The data folder at backup time, the backup, then the folder as it is now.
  void MakeBackupAndChangeTheData() {
    MakeSuiteFolders();
    Drive.Write("Zelvora/Data/a.mdf", WordBytes(30000, 1));  // deflated
    Drive.Write("Zelvora/Data/b.ldf", NoiseBytes(5000, 2));  // stored
    Drive.Write("Zelvora/Data/c.txt", WordBytes(300, 3));
    MakeArchive("C:\\Zelvora\\Yedek\\202401151230.zip", {"a.mdf", "b.ldf", "c.txt"});
    Drive.Write("Zelvora/Data/a.mdf", "a as it is now");
    Drive.Write("Zelvora/Data/b.ldf", "b as it is now");
    fs::remove(Drive.Host("Zelvora/Data/c.txt"));
    Drive.Write("Zelvora/Data/u.dat", "not in the backup");
  }

  // Runs the restore and checks what must hold whatever the damage; returns
  // the message boxes shown.
  std::vector<std::string> RestoreAndCheckNothingElseMoved() {
    const std::string before = Drive.Host("before");
    fs::create_directories(before);
    fs::copy(Drive.Host("Zelvora/Data"), before);
    std::map<std::string, std::string> outside = FilesOutsideData(Drive);
    Start(kAllPresses);
    Run();
    std::map<std::string, std::string> after = FilesOutsideData(Drive);
    EXPECT_EQ(after.count(kSafety), 1u);
    after.erase(kSafety);
    after.erase(kLog);
    outside.erase(kLog);
    EXPECT_EQ(after, outside) << "a file outside the data folder changed";
    EXPECT_EQ(Drive.Read("Zelvora/Data/u.dat"), "not in the backup");
    if (HaveTool("python3")) {
      EXPECT_EQ(CompareArchiveWithFolder(Drive.Host(kSafety), before, kPassword), "");
    }
    return MessageBoxes();
  }

  // Each of the three files holds its backed-up bytes when `restored` names
  // it, else exactly what it held before the restore.
  void ExpectRestoredOnly(const std::set<std::string>& restored) {
    const std::map<std::string, std::string> backedUp = {{"a.mdf", WordBytes(30000, 1)},
                                                         {"b.ldf", NoiseBytes(5000, 2)},
                                                         {"c.txt", WordBytes(300, 3)}};
    const std::map<std::string, std::string> now = {{"a.mdf", "a as it is now"},
                                                    {"b.ldf", "b as it is now"}};
    for (const auto& [name, bytes] : backedUp) {
      SCOPED_TRACE(name);
      const std::string path = "Zelvora/Data/" + name;
      if (restored.count(name)) {
        EXPECT_EQ(Drive.Read(path), bytes);
      } else if (now.count(name)) {
        EXPECT_EQ(Drive.Read(path), now.at(name));
      } else {
        EXPECT_FALSE(Drive.Exists(path));
      }
    }
  }
};

}  // namespace

TEST_F(RestoreDamagedTest, WhatCouldNotBeRestoredStaysAsItWas) {
  using TDamage = std::function<void(std::string&, const TLayout&)>;
  struct TCase {
    const char* Label;
    TDamage Damage;
    std::set<std::string> Restored;
    const char* Box;  // the start of the one message box, or null for none
  };
  const std::vector<TCase> cases = {
      {"as written", [](std::string&, const TLayout&) {}, {"a.mdf", "b.ldf", "c.txt"}, nullptr},
      {"a flipped byte in a.mdf's compressed data",
       [](std::string& z, const TLayout& l) { z[l.Data.at("a.mdf") + 100] ^= 0x10; },
       {"b.ldf", "c.txt"},
       "Restorekeep|stop|Zelvora/Data/a.mdf: "},
      {"a flipped byte in b.ldf's stored data",
       [](std::string& z, const TLayout& l) { z[l.Data.at("b.ldf") + 100] ^= 0x01; },
       {"a.mdf", "c.txt"},
       "Restorekeep|stop|Zelvora/Data/b.ldf: "},
      {"cut inside b.ldf's data",
       [](std::string& z, const TLayout& l) { z.resize(l.Data.at("b.ldf") + 10); },
       {},
       "Restorekeep|stop|Unhandled Archive Type."},
      {"a file that never got a byte",
       [](std::string& z, const TLayout&) { z.clear(); },
       {},
       "Restorekeep|stop|Invalid file - not a PKZip file"},
      {"cut inside the central directory",
       [](std::string& z, const TLayout& l) { z.resize(l.Directory + 60); },
       {},
       "Restorekeep|stop|Unhandled Archive Type."},
      {"the end record points past the file",
       [](std::string& z, const TLayout& l) { Put32(z, l.End + 16, uint32_t(z.size() + 500)); },
       {},
       "Restorekeep|stop|Invalid file - not a PKZip file"},
      {"c.txt claims 4 GB in both headers, its data intact",
       [](std::string& z, const TLayout& l) {
         Put32(z, l.Central.at("c.txt") + 24, 0xFFFFFFFF);
         Put32(z, l.Data.at("c.txt") - 30 - 18 + 22, 0xFFFFFFFF);
       },
       {"a.mdf", "b.ldf", "c.txt"},
       nullptr},
      {"b.ldf claims 4 GB stored",
       [](std::string& z, const TLayout& l) {
         for (size_t field : {size_t(20), size_t(24)})
           Put32(z, l.Central.at("b.ldf") + field, 0xFFFFFFFF);
       },
       {"a.mdf", "c.txt"},
       "Restorekeep|stop|Zelvora/Data/b.ldf: "},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    // A fresh drive and clock per case, so the safety archive's name holds.
    for (const auto& entry : fs::directory_iterator(Drive.Root())) fs::remove_all(entry.path());
    TVirtualClock clock(EncodeDate(2024, 3, 7) + EncodeTime(9, 5, 30, 0));
    SetClock(&clock);
    MakeBackupAndChangeTheData();
    std::string zip = Drive.Read(kSelected);
    c.Damage(zip, LayoutOf(zip));
    Drive.Write(kSelected, zip);
    const std::vector<std::string> boxes = RestoreAndCheckNothingElseMoved();
    if (c.Box == nullptr) {
      EXPECT_TRUE(boxes.empty()) << boxes[0];
    } else {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].rfind(c.Box, 0), 0u) << boxes[0];
    }
    EXPECT_EQ(Drive.Read(kSelected), zip) << "the backup itself changed";
    ExpectRestoredOnly(c.Restored);
    Form.reset();
    SetClock(&Clock);
  }
}

TEST_F(RestoreDamagedTest, NamesPointingElsewhereLandInTheDataFolderOrNowhere) {
  if (!HaveTool("python3")) GTEST_SKIP() << "needs python3";
  MakeSuiteFolders();
  Drive.Write("Zelvora/Data/u.dat", "not in the backup");
  const std::string script = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    for name in ['../../../outside.txt', 'Zelvora/Data/../../Restorekeep.log', '/etc/abs.txt',
                 'C:\\Zelvora\\win.txt', 'sub/..', 'dot/.', 'Zelvora/Data/ok.mdf']:
        z.writestr(name, 'from ' + name)
)";
  ASSERT_EQ(
      std::system(
          ("python3 -c " + ShellQuote(script) + " " + ShellQuote(Drive.Host(kSelected))).c_str()),
      0);
  const std::string outsideTheDrive =
      (fs::path(Drive.Root()).parent_path() / "outside.txt").string();
  const bool existedBefore = fs::exists(outsideTheDrive);
  const std::vector<std::string> boxes = RestoreAndCheckNothingElseMoved();
  EXPECT_EQ(fs::exists(outsideTheDrive), existedBefore);
  // Only the last part of each name counts; "." and ".." name no file.
  EXPECT_EQ(Drive.List("Zelvora/Data"),
            (std::vector<std::string>{"Restorekeep.log", "abs.txt", "ok.mdf", "outside.txt",
                                      "u.dat", "win.txt"}));
  EXPECT_EQ(Drive.Read("Zelvora/Data/ok.mdf"), "from Zelvora/Data/ok.mdf");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("sub/.."), std::string::npos) << boxes[0];
}
