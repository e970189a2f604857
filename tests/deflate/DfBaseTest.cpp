// The options object, checksums, logger and the coders' exceptions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "archive/deflate/AbDfBase.h"

namespace {

struct LevelCase {
  char letter;
  uint32_t optionsFrom;
  uint32_t optionsTo;
  int32_t good, chain, lazy;
};

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class TempDrive : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zelvora_dfbase_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    FFolder = pattern;
    setenv("ZELVORA_DRIVE_C", FFolder.c_str(), 1);
  }
  void TearDown() override { std::system(("rm -rf '" + FFolder + "'").c_str()); }
  std::string FFolder;
};

}  // namespace

TEST(TAbDeflateHelper, StartsWithTheDefaults) {
  TAbDeflateHelper helper;
  EXPECT_EQ(helper.GoodEnoughLength(), 8);
  EXPECT_EQ(helper.ChainLimit(), 32);
  EXPECT_EQ(helper.HeaderCheck, -1);
  EXPECT_EQ(helper.LogFileName, "");
  EXPECT_EQ(helper.LazyLimit(), 16);
  EXPECT_FALSE(helper.ProgressHook);
  EXPECT_EQ(helper.Options(), 0x0Fu);
  EXPECT_EQ(helper.OutputLimit, 0);
  EXPECT_EQ(helper.Password, "");
  EXPECT_EQ(helper.BytesWritten, 0);
  EXPECT_EQ(helper.BytesRead, 0);
  EXPECT_EQ(helper.SourceSize, 0);
  EXPECT_EQ(helper.HistorySize, 32768);
  EXPECT_EQ(helper.LevelLetter(), 'n');
}

TEST(TAbDeflateHelper, LevelLettersSetTheirParameters) {
  const LevelCase cases[] = {
      {'0', 0x3F, 0x31, 8, 32, 16},     {'2', 0x30, 0x3F, 8, 32, 16},  {'f', 0x01, 0x07, 4, 32, 6},
      {'F', 0x08, 0x0F, 4, 32, 6},      {'n', 0x00, 0x0F, 16, 32, 24}, {'s', 0x11, 0x17, 4, 4, 4},
      {'X', 0x20, 0x2F, 64, 4096, 258},
  };
  for (const LevelCase& c : cases) {
    SCOPED_TRACE(c.letter);
    TAbDeflateHelper helper;
    helper.SetOptions(c.optionsFrom);
    helper.SelectLevel(c.letter);
    EXPECT_EQ(helper.Options(), c.optionsTo);
    EXPECT_EQ(helper.GoodEnoughLength(), c.good);
    EXPECT_EQ(helper.ChainLimit(), c.chain);
    EXPECT_EQ(helper.LazyLimit(), c.lazy);
    EXPECT_EQ(helper.LevelLetter(), char(std::tolower(c.letter)));
  }
}

TEST(TAbDeflateHelper, CurrentOrUnknownLetterChangesNothing) {
  TAbDeflateHelper helper;
  helper.SelectLevel('n');  // already "n": keeps 8/32/16
  EXPECT_EQ(helper.GoodEnoughLength(), 8);
  helper.SelectLevel('q');
  EXPECT_EQ(helper.LevelLetter(), 'n');
  EXPECT_EQ(helper.Options(), 0x0Fu);
  // The letter sequence of the per-item compressor: "0" clears the lazy bit for "f".
  helper.SelectLevel('0');
  helper.SelectLevel('f');
  EXPECT_EQ(helper.Options(), 0x07u);
}

TEST(TAbDeflateHelper, SettersClampAndMarkTheLevelChanged) {
  TAbDeflateHelper helper;
  helper.SetGoodEnoughLength(8);
  EXPECT_EQ(helper.LevelLetter(), 'n') << "an equal value is ignored";
  helper.SetLazyLimit(0);
  EXPECT_EQ(helper.LazyLimit(), 4);
  EXPECT_EQ(helper.LevelLetter(), '?');
  helper.SetChainLimit(-1);
  EXPECT_EQ(helper.ChainLimit(), -1);
  helper.SetChainLimit(-5);
  EXPECT_EQ(helper.ChainLimit(), 4);
  helper.SetGoodEnoughLength(100);
  EXPECT_EQ(helper.GoodEnoughLength(), 100);

  TAbDeflateHelper other;
  other.SetOptions(0x0F);
  EXPECT_EQ(other.LevelLetter(), 'n');
  other.SetOptions(0x1F);
  EXPECT_EQ(other.LevelLetter(), '?');
}

TEST(TAbDeflateHelper, AssignCopiesAllButTheResultSizes) {
  TAbDeflateHelper source;
  source.SelectLevel('x');
  source.SetOptions(0x40000017);
  source.HeaderCheck = 0x12345678;
  source.LogFileName = "C:\\log.txt";
  int calls = 0;
  source.ProgressHook = [&calls](uint8_t) { ++calls; };
  source.OutputLimit = 77;
  source.Password = "secret";
  source.BytesWritten = 5;
  source.BytesRead = 6;
  source.SourceSize = 1000;
  source.HistorySize = 65536;

  TAbDeflateHelper copy;
  copy.BytesWritten = 1;
  copy.BytesRead = 2;
  copy.Assign(source);
  EXPECT_EQ(copy.GoodEnoughLength(), 64);
  EXPECT_EQ(copy.ChainLimit(), 4096);
  EXPECT_EQ(copy.LazyLimit(), 258);
  EXPECT_EQ(copy.Options(), 0x40000017u);
  EXPECT_EQ(copy.LevelLetter(), '?');
  EXPECT_EQ(copy.HeaderCheck, 0x12345678);
  EXPECT_EQ(copy.LogFileName, "C:\\log.txt");
  copy.ProgressHook(50);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(copy.OutputLimit, 77);
  EXPECT_EQ(copy.Password, "secret");
  EXPECT_EQ(copy.BytesWritten, 1);
  EXPECT_EQ(copy.BytesRead, 2);
  EXPECT_EQ(copy.SourceSize, 1000);
  EXPECT_EQ(copy.HistorySize, 65536);
}

TEST(Checksums, KnownAnswers) {
  const std::string digits = "123456789";
  EXPECT_EQ(UpdateCrc32(0xFFFFFFFF, digits.data(), 9) ^ 0xFFFFFFFF, 0xCBF43926u);
  EXPECT_EQ(UpdateAdler32(1, digits.data(), 9), 0x091E01DEu);
  EXPECT_EQ(UpdateAdler32(1, "Wikipedia", 9), 0x11E60398u);
  EXPECT_EQ(UpdateAdler32(1, "", 0), 1u);
  // In pieces, as the coders feed them.
  uint32_t crc = UpdateCrc32(0xFFFFFFFF, digits.data(), 4);
  crc = UpdateCrc32(crc, digits.data() + 4, 5);
  EXPECT_EQ(crc ^ 0xFFFFFFFF, 0xCBF43926u);
}

TEST(Checksums, AdlerStaysExactOverLongRunsOfHighBytes) {
  // 100,000 bytes of 0xFF: the sums would overflow without reducing.
  const std::vector<uint8_t> data(100000, 0xFF);
  uint64_t low = 1, high = 0;
  for (uint8_t b : data) {
    low = (low + b) % 65521;
    high = (high + low) % 65521;
  }
  EXPECT_EQ(UpdateAdler32(1, data.data(), int32_t(data.size())), uint32_t(high << 16 | low));
  const uint32_t first = UpdateAdler32(1, data.data(), 5000);
  EXPECT_EQ(UpdateAdler32(first, data.data() + 5000, 95000), uint32_t(high << 16 | low));
}

TEST(Exceptions, WrapTheInternalCause) {
  EXPECT_STREQ(EAbDeflateError("x").what(), "Corvel deflate error. (Internal cause: x)");
  EXPECT_STREQ(
      EAbInflateError("bad").what(),
      "Corvel inflate error, possibly a corrupted compressed stream. (Internal cause: bad)");
  EXPECT_STREQ(EAbInternalInflateError("inner").what(), "inner");
}

TEST_F(TempDrive, LoggerWritesLinesWhenReleased) {
  {
    TAbLogger log("C:\\df.log");
    log.WriteLine("DEFLATING STREAM...");
    EXPECT_EQ(log.Seek(0, soFromCurrent), 21);
    EXPECT_EQ(ReadHostFile(FFolder + "/df.log"), "") << "still buffered";
    log.LineDelimiter = TAbLineDelimiter::ldLF;
    log.WriteLine(std::string(5000, 'a'));
    log.LineDelimiter = TAbLineDelimiter::ldNone;
    log.WriteLine("end");
    EXPECT_EQ(log.Seek(0, soFromEnd), 21 + 5001 + 3);
    try {
      log.Seek(5, soFromBeginning);
      ADD_FAILURE();
    } catch (const EAssertionFailed& e) {
      EXPECT_EQ(e.FixedMessage(), "TAbLogger.Seek: loggers are write-only, no seeking allowed");
    }
    char c;
    try {
      log.Read(&c, 1);
      ADD_FAILURE();
    } catch (const EAssertionFailed& e) {
      EXPECT_EQ(e.FixedMessage(), "TAbLogger.Read: loggers are write-only, no reading allowed");
    }
  }
  EXPECT_EQ(ReadHostFile(FFolder + "/df.log"),
            "DEFLATING STREAM...\r\n" + std::string(5000, 'a') + "\nend");
  try {
    TAbLogger nameless("");
    ADD_FAILURE();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.FixedMessage(), "TAbLogger.Create: a filename must be provided for the logger");
  }
}
