// The zipper component: its file-name setter and archive kinds, its settings
// and the archive it hands them to, its operations, forwarders and meters;
// and the fields of the items it writes, read back from the archive file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ComponentSupport.h"
#include "archive/AbExcept.h"
#include "archive/AbMeter.h"
#include "archive/AbUtils.h"
#include "archive/AbZipper.h"
#include "platform/FileSystem.h"
#include "platform/SysUtils.h"

namespace {

const std::string kPassword = "735296482913572";

// A meter that records what it draws and every message pump.
class TRecordingMeter : public TAbMeter {
 public:
  std::vector<std::string> Events;
  std::vector<int> Positions;

 protected:
  void Repaint() override {
    Positions.push_back(Position());
    Events.push_back("paint " + std::to_string(FilledPercent()));
  }
  void ProcessMessages() override { Events.push_back("pump"); }
};

// Builds an archive of `names` (files written under Data/) through a zipper.
void MakeArchive(TTempDrive& drive, const std::string& archive,
                 const std::vector<std::string>& names) {
  for (const std::string& name : names) drive.Write("Data/" + name, WordBytes(3000, 1));
  TAbZipper zipper;
  zipper.SetFileName(archive);
  zipper.AddMatching("C:\\Data\\*.*", 0);
  zipper.CloseFile();
}

TEST(ZipperTest, Defaults) {
  TAbZipper zipper;
  EXPECT_EQ(zipper.Version(), "3.04");
  zipper.SetVersion("9.99");
  EXPECT_EQ(zipper.Version(), "3.04");
  EXPECT_EQ(zipper.Archive(), nullptr);
  EXPECT_EQ(zipper.FileName(), "");
  EXPECT_EQ(zipper.Password(), "");
  EXPECT_EQ(zipper.BaseDirectory(), "");
  EXPECT_EQ(zipper.SpanningThreshold(), 0);
  EXPECT_FALSE(zipper.AutoSave());
  EXPECT_FALSE(zipper.DOSMode());
  EXPECT_FALSE(zipper.Logging());
  EXPECT_EQ(zipper.CompressionMethodToUse(), smBestMethod);
  EXPECT_EQ(zipper.DeflationOption(), doNormal);
  EXPECT_EQ(zipper.StoreOptions(), (TAbStoreOptions{soStripDrive, soRemoveDots}));
  EXPECT_EQ(zipper.ArchiveType(), atUnknown);
  EXPECT_EQ(zipper.ArchiveProgressMeter(), nullptr);
}

TEST(ZipperTest, NewZipNameCreatesTheFileAtOnceAndClosingWritesAnEmptyArchive) {
  TTempDrive drive;
  TAbZipper zipper;
  int changes = 0;
  zipper.OnChange = [&changes](TAbBaseComponent&) { ++changes; };
  zipper.SetFileName("C:\\new.zip");
  ASSERT_NE(zipper.Archive(), nullptr);
  EXPECT_TRUE(drive.Exists("new.zip"));
  EXPECT_EQ(drive.Read("new.zip").size(), 0u);
  EXPECT_EQ(zipper.ArchiveType(), atZip);
  EXPECT_EQ(changes, 1);

  zipper.CloseFile();
  EXPECT_EQ(zipper.Archive(), nullptr);
  EXPECT_EQ(zipper.FileName(), "");
  EXPECT_TRUE(ReadEntries(drive.Host("new.zip")).empty());
  EXPECT_EQ(drive.Read("new.zip").size(), 22u);  // the end record alone
}

TEST(ZipperTest, ExtensionCaseDoesNotMatter) {
  TTempDrive drive;
  for (const char* name : {"C:\\a.zip", "C:\\b.ZIP", "C:\\c.Zip"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(AbArchiveKindOf(name), atZip);
    TAbZipper zipper;
    zipper.SetFileName(name);
    EXPECT_NE(zipper.Archive(), nullptr);
    zipper.CloseFile();
    // Now the file exists and its contents decide.
    EXPECT_EQ(AbArchiveKindOf(name), atZip);
    zipper.SetFileName(name);
    EXPECT_NE(zipper.Archive(), nullptr);
  }
}

TEST(ZipperTest, KindsThisEngineDoesNotWriteAreRefused) {
  TTempDrive drive;
  drive.Write("fake.zip", "this is no archive at all");
  struct TCase {
    const char* Name;
    TAbArchiveType Kind;
  };
  const TCase cases[] = {{"C:\\x.tar", atTar},        {"C:\\x.gz", atGzip},
                         {"C:\\x.tgz", atGzippedTar}, {"C:\\x.cab", atCab},
                         {"C:\\x.txt", atUnknown},    {"C:\\noext", atUnknown},
                         {"C:\\fake.zip", atUnknown}, {"C:\\dir.zip\\x.exe", atUnknown}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(AbArchiveKindOf(c.Name), c.Kind);
    TAbZipper zipper;
    zipper.SetFileName("C:\\first.zip");
    try {
      zipper.SetFileName(c.Name);
      ADD_FAILURE() << "accepted";
    } catch (const EAbUnhandledType& e) {
      EXPECT_STREQ(e.what(), "Unhandled Archive Type");
    }
    EXPECT_EQ(zipper.Archive(), nullptr);
  }
  EXPECT_TRUE(drive.Exists("first.zip"));
  EXPECT_FALSE(drive.Exists("x.tar"));
}

TEST(ZipperTest, ExistingArchiveOpensAndNewFilesJoinIt) {
  TTempDrive drive;
  MakeArchive(drive, "C:\\set.zip", {"a.txt", "b.txt"});
  drive.Write("More/c.txt", WordBytes(4000, 2));
  drive.Write("More/a.txt", "a second a.txt");

  TAbZipper zipper;
  std::vector<TAbProcessType> failures;
  zipper.OnProcessItemFailure = [&failures](TAbBaseComponent&, TAbArchiveItem&, TAbProcessType type,
                                            TAbErrorClass, int32_t) { failures.push_back(type); };
  zipper.SetFileName("C:\\set.zip");
  ASSERT_NE(zipper.Archive(), nullptr);
  EXPECT_EQ(zipper.Count(), 2);
  EXPECT_EQ(zipper.ItemAt(1).FileName(), "Data/b.txt");
  // a.txt is already there: refused as a duplicate; the others join.
  zipper.AddMatching("C:\\Data\\a.txt", 0);
  EXPECT_EQ(failures, (std::vector<TAbProcessType>{ptAdd}));
  zipper.AddMatching("C:\\More\\*.*", 0);
  zipper.CloseFile();

  std::vector<std::string> names;
  for (const TRecordedEntry& e : ReadEntries(drive.Host("set.zip"))) names.push_back(e.Name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"Data/a.txt", "Data/b.txt", "More/a.txt", "More/c.txt"}));
}

TEST(ZipperTest, DamagedArchiveKeepsTheObjectThatFailedToLoad) {
  TTempDrive drive;
  MakeArchive(drive, "C:\\bad.zip", {"a.txt"});
  std::string bytes = drive.Read("bad.zip");
  const size_t end = bytes.size() - 22;
  const size_t directory = uint8_t(bytes[end + 16]) | uint8_t(bytes[end + 17]) << 8;
  bytes[directory] = 'X';  // the central header's signature
  drive.Write("bad.zip", bytes);

  TAbZipper zipper;
  zipper.SetArchiveType(atCab);  // remembered kind, not forced
  EXPECT_THROW(zipper.SetFileName("C:\\bad.zip"), Exception);
  EXPECT_NE(zipper.Archive(), nullptr);
  EXPECT_EQ(zipper.ArchiveType(), atCab);
}

TEST(ZipperTest, ForcedKindBypassesDetection) {
  TTempDrive drive;
  TAbZipper zipper;
  zipper.SetForceType(true);
  zipper.SetArchiveType(atZip);
  zipper.SetFileName("C:\\odd.name");
  EXPECT_NE(zipper.Archive(), nullptr);
  EXPECT_TRUE(drive.Exists("odd.name"));
}

TEST(ZipperTest, OperationsWithoutAnArchive) {
  TAbZipper zipper;
  for (int step = 0; step < 2; ++step) {
    SCOPED_TRACE(step);
    try {
      if (step == 0)
        zipper.AddMatching("*.*", 0);
      else
        zipper.SetArchiveComment("x");
      ADD_FAILURE() << "no error";
    } catch (const EAbNoArchive& e) {
      EXPECT_STREQ(e.what(), "Archive does not exist - FileName is blank");
    }
  }
  zipper.Save();  // nothing happens
  zipper.CloseFile();
  EXPECT_EQ(zipper.Archive(), nullptr);
}

TEST(ZipperTest, SettersReachTheOpenArchive) {
  TTempDrive drive;
  drive.MakeFolder("Base");
  TAbZipper zipper;
  zipper.SetFileName("C:\\s.zip");
  TAbZipArchive& zip = *zipper.ZipArchive();
  zipper.SetPassword(kPassword);
  zipper.SetCompressionMethodToUse(smStored);
  zipper.SetDeflationOption(doFast);
  zipper.SetAutoSave(true);
  zipper.SetDOSMode(true);
  zipper.SetStoreOptions({soStripPath});
  zipper.SetTempDirectory("C:\\Base");
  zipper.SetSpanningThreshold(5000);
  EXPECT_EQ(zip.Password, kPassword);
  EXPECT_EQ(zip.CompressionMethodToUse, smStored);
  EXPECT_EQ(zip.DeflationOption, doFast);
  EXPECT_TRUE(zip.AutoSave);
  EXPECT_TRUE(zip.DOSMode);
  EXPECT_EQ(zip.StoreOptions, TAbStoreOptions{soStripPath});
  EXPECT_EQ(zip.TempDirectory, "C:\\Base");
  EXPECT_EQ(zip.SpanningThreshold(), 5000);

  zipper.SetBaseDirectory("C:\\Base\\");
  EXPECT_EQ(zipper.BaseDirectory(), "C:\\Base");
  EXPECT_EQ(zip.BaseDirectory(), "C:\\Base");
  zipper.SetBaseDirectory("C:\\");
  EXPECT_EQ(zipper.BaseDirectory(), "C:\\");
  EXPECT_THROW(zipper.SetBaseDirectory("C:\\Missing"), EAbNoSuchDirectory);

  zipper.SetLogFile("C:\\log.txt");
  EXPECT_TRUE(zipper.Logging());
  EXPECT_TRUE(zip.Logging());
  EXPECT_TRUE(drive.Exists("log.txt"));
  zipper.SetLogFile("");
  EXPECT_FALSE(zipper.Logging());
  EXPECT_FALSE(zip.Logging());
  zipper.SetSpanningThreshold(0);

  int images = 0;
  zipper.SetOnRequestImage([&images](TAbArchive&, int32_t, std::string&, bool&) { ++images; });
  ASSERT_TRUE(zip.OnRequestImage);
  std::string name;
  bool abort = false;
  zip.OnRequestImage(zip, 1, name, abort);
  EXPECT_EQ(images, 1);
}

TEST(ZipperTest, SettingsMadeBeforeTheNameAreHandedToTheNewArchive) {
  TTempDrive drive;
  drive.MakeFolder("Base");
  TAbZipper zipper;
  zipper.SetPassword(kPassword);
  zipper.SetCompressionMethodToUse(smDeflated);
  zipper.SetDeflationOption(doSuperFast);
  zipper.SetBaseDirectory("C:\\Base\\");
  EXPECT_EQ(zipper.BaseDirectory(), "C:\\Base\\");  // kept as given until an archive exists
  zipper.SetFileName("C:\\h.zip");
  TAbZipArchive& zip = *zipper.ZipArchive();
  EXPECT_EQ(zip.Password, kPassword);
  EXPECT_EQ(zip.CompressionMethodToUse, smDeflated);
  EXPECT_EQ(zip.DeflationOption, doSuperFast);
  EXPECT_EQ(zip.BaseDirectory(), "C:\\Base");
  EXPECT_EQ(zipper.BaseDirectory(), "C:\\Base");
  ASSERT_TRUE(zip.InsertHook);
  ASSERT_TRUE(zip.InsertFromStreamHook);

  // The stream hook wants a source.
  auto item = zip.NewItem("s.txt");
  TMemoryStream out;
  EXPECT_THROW(zip.InsertFromStreamHook(zip, *item, out, nullptr), EAbZipNoInsertion);
  TMemoryStream in;
  in.WriteBuffer("stream data", 11);
  in.SetPosition(0);
  zip.InsertFromStreamHook(zip, *item, out, &in);
  EXPECT_EQ(item->UncompressedSize(), 11);
  EXPECT_EQ(out.Size(), item->CompressedSize());
}

TEST(ZipperTest, ChangingTheNameSavesTheOldArchiveAndPassesItsErrorOn) {
  TTempDrive drive;
  drive.Write("Data/a.txt", "aaa");
  TAbZipper zipper;
  zipper.SetFileName("C:\\one.zip");
  zipper.AddMatching("C:\\Data\\a.txt", 0);
  zipper.SetFileName("C:\\two.zip");  // saves one.zip
  EXPECT_EQ(ReadEntries(drive.Host("one.zip")).size(), 1u);

  // A file removed before the save: the save fails and the name change stops.
  drive.Write("Data/b.txt", "bbb");
  zipper.AddMatching("C:\\Data\\b.txt", 0);
  ASSERT_EQ(::unlink(drive.Host("Data/b.txt").c_str()), 0);
  EXPECT_THROW(zipper.SetFileName("C:\\three.zip"), EFOpenError);
  EXPECT_FALSE(drive.Exists("three.zip"));
  EXPECT_NE(zipper.Archive(), nullptr);
}

TEST(ZipperTest, DestroyingTheComponentDoesNotSave) {
  TTempDrive drive;
  drive.Write("Data/a.txt", "aaa");
  {
    TAbZipper zipper;
    zipper.SetFileName("C:\\d.zip");
    zipper.AddMatching("C:\\Data\\*.*", 0);
  }
  EXPECT_EQ(drive.Read("d.zip").size(), 0u);
}

TEST(ZipperTest, ForwardersPassTheComponentAndDefaults) {
  TTempDrive drive;
  drive.Write("Data/a.txt", WordBytes(50000, 3));
  TAbZipper zipper;
  std::vector<std::string> seen;
  TAbBaseComponent* sender = nullptr;
  zipper.OnConfirmProcessItem = [&](TAbBaseComponent& s, TAbArchiveItem& item, TAbProcessType,
                                    bool& confirm) {
    sender = &s;
    seen.push_back("confirm " + item.FileName() + (confirm ? " yes" : " no"));
  };
  zipper.OnConfirmSave = [&](TAbBaseComponent& s, bool& confirm) {
    EXPECT_EQ(&s, &zipper);
    seen.push_back(confirm ? "confirm save yes" : "confirm save no");
  };
  zipper.OnSave = [&](TAbBaseComponent& s) {
    EXPECT_EQ(&s, &zipper);
    seen.push_back("save");
  };
  zipper.OnArchiveItemProgress = [&](TAbBaseComponent&, TAbArchiveItem* item, uint8_t,
                                     bool& abort) {
    EXPECT_FALSE(abort);
    if (item != nullptr && (seen.empty() || seen.back() != "item progress"))
      seen.push_back("item progress");
  };
  zipper.SetFileName("C:\\f.zip");
  zipper.AddMatching("C:\\Data\\*.*", 0);
  zipper.Save();
  EXPECT_EQ(sender, &zipper);
  EXPECT_EQ(seen, (std::vector<std::string>{"confirm Data/a.txt yes", "confirm save yes",
                                            "item progress", "save"}));

  // A declined save writes nothing.
  zipper.OnConfirmSave = [](TAbBaseComponent&, bool& confirm) { confirm = false; };
  drive.Write("Data/b.txt", "b");
  zipper.AddMatching("C:\\Data\\b.txt", 0);
  zipper.Save();
  EXPECT_EQ(ReadEntries(drive.Host("f.zip")).size(), 1u);
}

TEST(ZipperTest, AbortFromTheSaveProgressEventStopsTheSave) {
  TTempDrive drive;
  drive.Write("Data/a.txt", WordBytes(300000, 3));
  TAbZipper zipper;
  zipper.OnArchiveSaveProgress = [](TAbBaseComponent&, uint8_t, bool& abort) { abort = true; };
  zipper.SetFileName("C:\\g.zip");
  zipper.AddMatching("C:\\Data\\*.*", 0);
  EXPECT_THROW(zipper.Save(), Exception);
  EXPECT_EQ(drive.Read("g.zip").size(), 0u);
}

// ------------------------------------------------------------ meters

TEST(MeterTest, MeterRepaintsAndPumpsOnlyWhenItsValueChanges) {
  TRecordingMeter meter;
  TAbVCLMeterLink link;
  link.SetMeter(&meter);
  link.DoProgress(40);
  link.DoProgress(40);
  link.DoProgress(100);
  link.Reset();
  link.Reset();
  EXPECT_EQ(meter.Events,
            (std::vector<std::string>{"paint 40", "pump", "paint 0", "pump", "paint 0", "pump"}));
  EXPECT_EQ(meter.Positions, (std::vector<int>{40, 100, 0}));
}

TEST(MeterTest, LinkWithoutMeterAndMeterGoingFirst) {
  TAbVCLMeterLink link;
  link.DoProgress(5);  // nothing to show on
  {
    TRecordingMeter meter;
    link.SetMeter(&meter);
  }
  EXPECT_EQ(link.Meter(), nullptr);
  link.DoProgress(6);
}

TEST(MeterTest, ComponentDropsALinkThatIsDestroyed) {
  TAbZipper zipper;
  {
    TAbVCLMeterLink link;
    zipper.SetArchiveProgressMeter(&link);
    zipper.SetItemProgressMeter(&link);
    zipper.SetArchiveSaveProgressMeter(&link);
  }
  EXPECT_EQ(zipper.ArchiveProgressMeter(), nullptr);
  EXPECT_EQ(zipper.ItemProgressMeter(), nullptr);
  EXPECT_EQ(zipper.ArchiveSaveProgressMeter(), nullptr);
  // And a link outliving the component is left in order.
  TAbVCLMeterLink survivor;
  {
    TAbZipper other;
    other.SetItemProgressMeter(&survivor);
  }
}

TEST(MeterTest, SaveArchiveAndItemPercentagesReachTheirMeters) {
  TTempDrive drive;
  for (const char* name : {"a.txt", "b.txt", "c.txt"})
    drive.Write(std::string("Data/") + name, WordBytes(400000, 4));
  TRecordingMeter archiveMeter, itemMeter, saveMeter;
  TAbVCLMeterLink archiveLink, itemLink, saveLink;
  archiveLink.SetMeter(&archiveMeter);
  itemLink.SetMeter(&itemMeter);
  saveLink.SetMeter(&saveMeter);

  TAbZipper zipper;
  zipper.SetArchiveProgressMeter(&archiveLink);
  zipper.SetItemProgressMeter(&itemLink);
  zipper.SetArchiveSaveProgressMeter(&saveLink);
  int saveEvents = 0;
  zipper.OnArchiveSaveProgress = [&saveEvents](TAbBaseComponent&, uint8_t, bool&) { ++saveEvents; };
  zipper.SetFileName("C:\\m.zip");
  zipper.SetPassword(kPassword);
  zipper.AddMatching("C:\\Data\\*.*", 0);
  zipper.Save();
  // Item progress of each item, reset (0) when the next one is confirmed.
  // Item progress of each item in turn: the meter starts low again twice.
  ASSERT_FALSE(itemMeter.Positions.empty());
  int restarts = 0;
  for (size_t i = 1; i < itemMeter.Positions.size(); ++i)
    if (itemMeter.Positions[i] < itemMeter.Positions[i - 1]) ++restarts;
  EXPECT_EQ(restarts, 2);
  EXPECT_GT(*std::max_element(itemMeter.Positions.begin(), itemMeter.Positions.end()), 90);
  // The save writes the file and reports it.
  EXPECT_GT(saveEvents, 0);
  ASSERT_FALSE(saveMeter.Positions.empty());
  EXPECT_EQ(saveMeter.Positions.back(), 100);
  for (const TRecordingMeter* meter : {&itemMeter, &saveMeter}) {
    // Every repaint is followed by a pump.
    for (size_t i = 0; i < meter->Events.size(); i += 2) {
      EXPECT_EQ(meter->Events[i].rfind("paint ", 0), 0u);
      ASSERT_LT(i + 1, meter->Events.size());
      EXPECT_EQ(meter->Events[i + 1], "pump");
    }
  }
  zipper.CloseFile();

  // Opening the archive reports the load as archive progress.
  zipper.SetFileName("C:\\m.zip");
  ASSERT_FALSE(archiveMeter.Positions.empty());
  EXPECT_EQ(archiveMeter.Positions.back(), 100);
}

TEST(MeterTest, OneLinkOnAllThreeMetersShowsTheLastReport) {
  TTempDrive drive;
  drive.Write("Data/a.txt", WordBytes(200000, 4));
  TRecordingMeter meter;
  TAbVCLMeterLink link;
  link.SetMeter(&meter);
  TAbZipper zipper;
  zipper.SetArchiveProgressMeter(&link);
  zipper.SetItemProgressMeter(&link);
  zipper.SetArchiveSaveProgressMeter(&link);
  zipper.SetFileName("C:\\one.zip");
  zipper.AddMatching("C:\\Data\\*.*", 0);
  zipper.Save();
  EXPECT_GT(meter.Positions.size(), 2u);
  EXPECT_EQ(meter.FilledPercent(), 0);  // at 100 the bar shows empty
}

// ------------------------------------------------------------ item fields

TEST(ZipperFieldsTest, EncryptedNormalItemsAsWritten) {
  TTempDrive drive;
  drive.Write("Data/empty.txt", "");
  drive.Write("Data/text.txt", WordBytes(30000, 1));
  drive.Write("Data/noise.bin", NoiseBytes(30000, 2));
  drive.Write("Data/locked.txt", WordBytes(3000, 3));
  drive.Write("Data/\xC3\xA7\xC4\xB0.txt", WordBytes(3000, 4));  // çİ
  ASSERT_EQ(::chmod(drive.Host("Data/locked.txt").c_str(), 0444), 0);

  for (const bool encrypted : {true, false}) {
    SCOPED_TRACE(encrypted);
    {
      TAbZipper zipper;
      zipper.SetFileName(encrypted ? "C:\\e.zip" : "C:\\p.zip");
      if (encrypted) zipper.SetPassword(kPassword);
      zipper.AddMatching("C:\\Data\\*.*", 0);
      zipper.CloseFile();
    }
    const auto entries = ReadEntries(drive.Host(encrypted ? "e.zip" : "p.zip"));
    ASSERT_EQ(entries.size(), 5u);
    for (const TRecordedEntry& e : entries) {
      SCOPED_TRACE(e.Name);
      const bool stored = e.Name == "Data/empty.txt" || e.Name == "Data/noise.bin";
      EXPECT_EQ(e.Method, stored ? 0 : 8);
      EXPECT_EQ(e.VersionNeeded, stored ? 10 : 20);
      const uint16_t utf8 = e.Name == "Data/\xC3\xA7\xC4\xB0.txt" ? 0x0800 : 0;
      EXPECT_EQ(e.Flags, (encrypted ? 0x0009 : 0) | utf8);
      EXPECT_TRUE(e.LocalMatches);
      // Every item that announces a descriptor has one; no other does.
      EXPECT_EQ(e.HasDescriptor, encrypted);
      EXPECT_EQ(e.InternalAttributes, 0);
      const std::string host = "Data/" + e.Name.substr(5);
      const int32_t age = FileAge("C:\\" + host.substr(0, 4) + "\\" + host.substr(5));
      EXPECT_EQ(e.Time, AbDosTimeOf(age));
      EXPECT_EQ(e.Date, AbDosDateOf(age));
      EXPECT_EQ(e.ExternalAttributes, e.Name == "Data/locked.txt" ? 0x21u : 0x20u);
      EXPECT_EQ(e.UncompressedSize, drive.Read(host).size());
      if (e.Name == "Data/empty.txt") {
        EXPECT_EQ(e.CompressedSize, encrypted ? 12u : 0u);
      }
    }
  }
}

TEST(ZipperFieldsTest, MaximumKeepsBit1OnAStoredFallback) {
  TTempDrive drive;
  drive.Write("Data/noise.bin", NoiseBytes(20000, 5));
  TAbZipper zipper;
  zipper.SetFileName("C:\\x.zip");
  zipper.SetPassword(kPassword);
  zipper.SetDeflationOption(doMaximum);
  zipper.AddMatching("C:\\Data\\*.*", 0);
  zipper.CloseFile();
  const auto entries = ReadEntries(drive.Host("x.zip"));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Method, 0);
  EXPECT_EQ(entries[0].Flags, 0x000B);
  EXPECT_EQ(entries[0].CompressedSize, 20012u);
}

}  // namespace

namespace {

TEST(ZipBrowserTest, ReadingSetterOpensOnlyExistingArchives) {
  TTempDrive drive;
  MakeArchive(drive, "C:\\r.zip", {"a.txt"});
  TAbCustomZipBrowser browser;
  int changes = 0;
  browser.OnChange = [&changes](TAbBaseComponent&) { ++changes; };
  browser.SetPassword(kPassword);

  browser.SetFileName("C:\\missing.zip");
  EXPECT_EQ(browser.Archive(), nullptr);
  EXPECT_FALSE(drive.Exists("missing.zip"));
  EXPECT_EQ(changes, 1);

  browser.SetFileName("C:\\R.ZIP");
  ASSERT_NE(browser.ZipArchive(), nullptr);
  EXPECT_EQ(browser.ZipArchive()->Password, kPassword);
  EXPECT_EQ(browser.Count(), 1);
  EXPECT_EQ(browser.ItemAt(0).FileName(), "Data/a.txt");
  EXPECT_EQ(browser.ArchiveType(), atZip);
  EXPECT_EQ(changes, 2);

  // A failing save of the old archive is ignored on the reading side.
  drive.Write("Data/gone.txt", "x");
  browser.Archive()->AddMatching("C:\\Data\\gone.txt", "", 0);
  ASSERT_EQ(::unlink(drive.Host("Data/gone.txt").c_str()), 0);
  browser.SetFileName("");
  EXPECT_EQ(browser.Archive(), nullptr);
  EXPECT_EQ(changes, 2);  // an empty name ends before OnChange
}

}  // namespace
