// The item compressor on its own: the fields it fills, the choice between
// storing and deflating, progress, stops and the current directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "ComponentSupport.h"
#include "archive/AbExcept.h"
#include "archive/AbUtils.h"
#include "archive/AbZipTyp.h"
#include "archive/deflate/AbZipPrc.h"
#include "platform/Classes.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/DriveMap.h"
#include "platform/FileSystem.h"

namespace {

const std::string kPassword = "735296482913572";

uint32_t CrcOf(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t at = 0; at < bytes.size(); at += 1024) {
    const size_t n = std::min<size_t>(1024, bytes.size() - at);
    AbCrcBuffer(crc, bytes.data() + at, uint16_t(n));
  }
  return crc ^ 0xFFFFFFFF;
}

std::string BytesOf(TMemoryStream& stream) {
  return std::string(stream.Bytes().begin(), stream.Bytes().end());
}

class CompressItemTest : public ::testing::Test {
 protected:
  void SetUp() override { archive = std::make_unique<TAbZipArchive>("C:\\a.zip", fmCreate); }
  // The drive's folders vanish with the test: leave none of them current.
  void TearDown() override { SetCurrentDir(savedDirectory); }

  // Compresses `bytes` from a memory stream positioned at `start`.
  TMemoryStream Compress(const std::string& bytes, int64_t start = 0) {
    TMemoryStream in;
    if (!bytes.empty()) in.WriteBuffer(bytes.data(), int32_t(bytes.size()));
    in.SetPosition(start);
    TMemoryStream out;
    CompressStreamItem(*archive, item, out, in);
    return out;
  }

  std::string savedDirectory = GetCurrentDir();
  TTempDrive drive;
  std::unique_ptr<TAbZipArchive> archive;
  TAbZipItem item;
};

TEST_F(CompressItemTest, EmptySourceIsStoredWithTheCipherHeaderAlone) {
  for (const bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted);
    archive->Password = encrypted ? kPassword : "";
    TMemoryStream out = Compress("");
    EXPECT_EQ(item.CompressionMethod(), 0);
    EXPECT_EQ(item.CRC32(), 0u);
    EXPECT_EQ(item.UncompressedSize(), 0);
    EXPECT_EQ(item.CompressedSize(), encrypted ? 12 : 0);
    EXPECT_EQ(out.Size(), encrypted ? 12 : 0);
    EXPECT_EQ(item.VersionNeededToExtract(), 10);
    EXPECT_EQ(item.GeneralPurposeBitFlag(), encrypted ? 0x0009 : 0);
  }
}

TEST_F(CompressItemTest, DeflationOptionGivesFlagBitsAndLevel) {
  struct TCase {
    TAbZipDeflationOption Option;
    uint16_t Bits;
  };
  const TCase cases[] = {
      {doNormal, 0}, {doMaximum, 2}, {doFast, 4}, {doSuperFast, 6}, {doInvalid, 0}};
  const std::string text = WordBytes(20000, 5);
  for (const bool encrypted : {false, true}) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(testing::Message() << "encrypted " << encrypted << " option " << c.Option);
      archive->Password = encrypted ? kPassword : "";
      archive->CompressionMethodToUse = smDeflated;
      archive->DeflationOption = c.Option;
      TMemoryStream out = Compress(text);
      EXPECT_EQ(item.CompressionMethod(), 8);
      EXPECT_EQ(item.VersionNeededToExtract(), 20);
      EXPECT_EQ(item.GeneralPurposeBitFlag(), c.Bits | (encrypted ? 0x0009 : 0));
      EXPECT_EQ(item.CRC32(), CrcOf(text));
      EXPECT_EQ(item.UncompressedSize(), int64_t(text.size()));
      EXPECT_EQ(item.CompressedSize(), out.Size());
      const std::string data = BytesOf(out);
      if (c.Option == doInvalid && !encrypted) {
        // Level "0": stored blocks only (block type 00), so no smaller than the text.
        EXPECT_EQ(uint8_t(data[0]) & 0x06, 0);
        EXPECT_GT(data.size(), text.size());
      } else if (c.Option != doInvalid) {
        EXPECT_LT(data.size(), text.size() / 2);
      }
    }
  }
}

TEST_F(CompressItemTest, BestMethodStoresWhatDeflatingWouldEnlargeAndKeepsFlagBits) {
  const std::string noise = NoiseBytes(30000, 9);
  for (const bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted);
    archive->Password = encrypted ? kPassword : "";
    archive->CompressionMethodToUse = smBestMethod;
    archive->DeflationOption = doMaximum;
    TMemoryStream out = Compress(noise);
    EXPECT_EQ(item.CompressionMethod(), 0);
    EXPECT_EQ(item.VersionNeededToExtract(), 10);
    EXPECT_EQ(item.GeneralPurposeBitFlag(), encrypted ? 0x000B : 0x0002);
    EXPECT_EQ(item.CRC32(), CrcOf(noise));
    EXPECT_EQ(item.CompressedSize(), int64_t(noise.size()) + (encrypted ? 12 : 0));
    if (!encrypted) {
      EXPECT_EQ(BytesOf(out), noise);
    }
  }
  // Text pays: it stays deflated.
  archive->Password.clear();
  Compress(WordBytes(20000, 6));
  EXPECT_EQ(item.CompressionMethod(), 8);
}

TEST_F(CompressItemTest, StreamItemGetsTheTimeNowAndNoAttributes) {
  TVirtualClock clock(EncodeDate(2024, 3, 9) + EncodeTime(14, 25, 36, 0));
  SetClock(&clock);
  item.SetExternalFileAttributes(0x21);
  item.SetInternalFileAttributes(1);
  Compress("abc");
  SetClock(nullptr);
  EXPECT_EQ(item.LastModFileDate(), AbDosDateWord(2024, 3, 9));
  EXPECT_EQ(item.LastModFileTime(), AbDosTimeWord(14, 25, 36));
  EXPECT_EQ(item.ExternalFileAttributes(), 0u);
  EXPECT_EQ(item.InternalFileAttributes(), 0);
  EXPECT_EQ(item.VersionMadeBy(), 20);
}

TEST_F(CompressItemTest, SourceCountsFromItsCurrentPosition) {
  const std::string bytes = WordBytes(1000, 11);
  for (const TAbZipSupportedMethod method : {smStored, smDeflated}) {
    SCOPED_TRACE(method);
    archive->CompressionMethodToUse = method;
    TMemoryStream out = Compress(bytes, 400);
    EXPECT_EQ(item.UncompressedSize(), 600);
    EXPECT_EQ(item.CRC32(), CrcOf(bytes.substr(400)));
    if (method == smStored) {
      EXPECT_EQ(BytesOf(out), bytes.substr(400));
    }
  }
}

TEST_F(CompressItemTest, PlainCopyReportsEachNewRoundedPercentAndAlways100) {
  struct TCase {
    size_t Size;
    std::vector<int> Expected;
  };
  const TCase cases[] = {
      {0, {100}},
      {1, {100}},
      {3000, {34, 68, 100}},
      {2048, {50, 100}},
      // 1024 of 204800 bytes is 0.5%: rounds to 0 (even) and is not reported.
      {204800, {}},
  };
  archive->CompressionMethodToUse = smStored;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Size);
    std::vector<int> seen;
    archive->ItemProgressCallback = [&seen](uint8_t percent, bool&) { seen.push_back(percent); };
    Compress(std::string(c.Size, 'x'));
    if (c.Size == 204800) {
      ASSERT_EQ(seen.size(), 100u);
      for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[size_t(i)], i + 1);
    } else {
      EXPECT_EQ(seen, c.Expected);
    }
  }
}

TEST_F(CompressItemTest, StopDuringPlainCopyRaisesUserAbortAfterTheFinalReport) {
  archive->CompressionMethodToUse = smStored;
  std::vector<int> seen;
  archive->ItemProgressCallback = [&seen](uint8_t percent, bool& abort) {
    seen.push_back(percent);
    abort = true;
  };
  TMemoryStream in;
  const std::string bytes(10000, 'y');
  in.WriteBuffer(bytes.data(), int32_t(bytes.size()));
  in.SetPosition(0);
  TMemoryStream out;
  EXPECT_THROW(CompressStreamItem(*archive, item, out, in), EAbUserAbort);
  EXPECT_EQ(seen, (std::vector<int>{10, 100}));
  // The chunk after the stop is read but never written.
  EXPECT_EQ(in.Position(), 2048);
  EXPECT_EQ(out.Size(), 0);
}

TEST_F(CompressItemTest, StopWhileDeflatingRaisesAbortProgress) {
  archive->CompressionMethodToUse = smDeflated;
  archive->OnArchiveItemProgress = [](TAbArchive&, TAbArchiveItem*, uint8_t, bool& abort) {
    abort = true;
  };
  TMemoryStream in;
  const std::string bytes = WordBytes(1 << 20, 12);
  in.WriteBuffer(bytes.data(), int32_t(bytes.size()));
  in.SetPosition(0);
  TMemoryStream out;
  try {
    CompressStreamItem(*archive, item, out, in);
    FAIL() << "no abort";
  } catch (const EAbAbortProgress& e) {
    EXPECT_STREQ(e.what(), "Process aborted by user");
  }
  EXPECT_EQ(out.Size(), 0);
}

TEST_F(CompressItemTest, FileItemKeepsTheFilesTimeAndAttributes) {
  drive.Write("Data/plain.txt", "plain text");
  drive.Write("Data/locked.txt", "read-only text");
  ASSERT_EQ(::chmod(drive.Host("Data/locked.txt").c_str(), 0444), 0);
  const struct {
    const char* Path;
    const char* Host;
    uint32_t Attributes;
  } cases[] = {{"C:\\Data\\plain.txt", "Data/plain.txt", 0x20},
               {"C:\\Data\\locked.txt", "Data/locked.txt", 0x21}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Path);
    item.DiskPath = c.Path;
    TMemoryStream out;
    CompressFileItem(*archive, item, out);
    const int32_t age = FileAge(c.Path);
    EXPECT_EQ(item.LastModFileTime(), AbDosTimeOf(age));
    EXPECT_EQ(item.LastModFileDate(), AbDosDateOf(age));
    EXPECT_EQ(item.ExternalFileAttributes(), c.Attributes);
    EXPECT_EQ(item.UncompressedSize(), int64_t(drive.Read(c.Host).size()));
  }
}

TEST_F(CompressItemTest, FileItemIsFoundFromTheBaseDirectoryWhichIsLeftAgain) {
  drive.Write("Base/sub/a.txt", "relative");
  drive.MakeFolder("Elsewhere");
  ASSERT_TRUE(SetCurrentDir("C:\\Elsewhere"));
  archive->SetBaseDirectory("C:\\Base");
  archive->CompressionMethodToUse = smStored;

  item.DiskPath = "sub\\a.txt";
  TMemoryStream out;
  CompressFileItem(*archive, item, out);
  EXPECT_EQ(BytesOf(out), "relative");
  EXPECT_EQ(GetCurrentDir(), "C:\\Elsewhere");

  item.DiskPath = "sub\\missing.txt";
  TMemoryStream none;
  EXPECT_THROW(CompressFileItem(*archive, item, none), EFOpenError);
  EXPECT_EQ(GetCurrentDir(), "C:\\Elsewhere");
  EXPECT_EQ(none.Size(), 0);
}

}  // namespace
