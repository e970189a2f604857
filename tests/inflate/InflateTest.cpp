// Inflate against streams of Python's zlib, the Deflate64 fixture archive,
// an encrypted Info-ZIP entry, and the decoder's options.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "archive/AbArcTyp.h"
#include "archive/inflate/AbDfDec.h"
#include "tests/deflate/PythonZlib.h"
#include "tests/inflate/InflateSupport.h"

using namespace inflate_test;

namespace {

std::vector<uint8_t> TextData(size_t size) {
  static const char* const words[] = {"tablet", "syrup",  "dose", "stock", "invoice", "patient",
                                      "batch",  "expiry", "the",  "of",    "and",     "\n"};
  std::mt19937 random(11);
  std::vector<uint8_t> data;
  while (data.size() < size) {
    const std::string word = words[random() % 12];
    data.insert(data.end(), word.begin(), word.end());
    data.push_back(' ');
  }
  data.resize(size);
  return data;
}

// Random blocks, each repeated from up to 32 KiB back: matches at every
// distance, across the window's slides.
std::vector<uint8_t> RepeatingBinary(size_t size) {
  std::mt19937 random(5);
  std::vector<uint8_t> data;
  while (data.size() < size) {
    const size_t run = 20 + random() % 400;
    if (data.size() > 40000 && random() % 3 != 0) {
      const size_t distance = 1 + random() % 32768;
      for (size_t i = 0; i < run; ++i) data.push_back(data[data.size() - distance]);
    } else {
      for (size_t i = 0; i < run; ++i) data.push_back(uint8_t(random()));
    }
  }
  data.resize(size);
  return data;
}

std::vector<uint8_t> RandomData(size_t size) {
  std::mt19937 random(17);
  std::vector<uint8_t> data(size);
  for (uint8_t& b : data) b = uint8_t(random());
  return data;
}

struct TZipEntry {
  std::string name;
  uint16_t flags;
  uint16_t method;
  uint16_t time;
  uint32_t crc;
  std::vector<uint8_t> data;  // the compressed bytes
};

uint32_t Le(const std::vector<uint8_t>& d, size_t at, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | d[at + size_t(i)];
  return value;
}

// The entries of an archive, walked by their local headers.
std::vector<TZipEntry> LocalEntries(const std::vector<uint8_t>& zip) {
  std::vector<TZipEntry> entries;
  size_t at = 0;
  while (at + 30 <= zip.size() && Le(zip, at, 4) == 0x04034B50) {
    TZipEntry e;
    e.flags = uint16_t(Le(zip, at + 6, 2));
    e.method = uint16_t(Le(zip, at + 8, 2));
    e.time = uint16_t(Le(zip, at + 10, 2));
    e.crc = Le(zip, at + 14, 4);
    const uint32_t csize = Le(zip, at + 18, 4);
    const uint32_t nameLen = Le(zip, at + 26, 2);
    const uint32_t extraLen = Le(zip, at + 28, 2);
    e.name.assign(zip.begin() + long(at + 30), zip.begin() + long(at + 30 + nameLen));
    const size_t start = at + 30 + nameLen + extraLen;
    e.data.assign(zip.begin() + long(start), zip.begin() + long(start + csize));
    entries.push_back(e);
    at = start + csize;
    if (e.flags & 8) at += 16;  // data descriptor with signature
  }
  return entries;
}

}  // namespace

TEST(Inflate, DecodesPythonZlibStreamsAtEveryLevelAndStrategy) {
  if (!pyzlib::Available()) GTEST_SKIP() << "python3 with zlib is not available";
  struct TData {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  const std::vector<TData> inputs = {
      {"empty", {}},
      {"one byte", {42}},
      {"text", TextData(60000)},
      {"repeating binary", RepeatingBinary(300000)},
      {"zeros", std::vector<uint8_t>(200000, 0)},
      {"random", RandomData(70000)},
  };
  struct TMode {
    int level;
    int strategy;  // 0 default, 1 filtered, 2 Huffman only, 3 RLE, 4 fixed codes
  };
  const TMode modes[] = {{0, 0}, {1, 0}, {6, 0}, {9, 0}, {6, 2}, {6, 3}, {9, 4}};
  for (const TData& input : inputs) {
    for (const TMode& mode : modes) {
      SCOPED_TRACE(::testing::Message()
                   << input.name << ", level " << mode.level << ", strategy " << mode.strategy);
      const std::vector<uint8_t> compressed =
          pyzlib::Compress(input.bytes, mode.level, mode.strategy);
      TAbDeflateHelper helper;
      const TResult result = InflateBytes(compressed, &helper);
      ASSERT_EQ(result.output, input.bytes);
      EXPECT_EQ(result.checksum, Crc32Of(input.bytes));
      EXPECT_EQ(helper.BytesWritten, int32_t(input.bytes.size()));
      EXPECT_EQ(helper.BytesRead, int32_t(compressed.size()));
    }
  }
}

TEST(Inflate, DecodesTheDeflate64FixtureArchive) {
  const std::vector<uint8_t> zip = ReadTestData("deflate64.zip");
  ASSERT_FALSE(zip.empty()) << "tests/data/deflate64.zip is missing";
  // Sizes and CRC-32 values from the fixture's manifest.
  struct TExpected {
    const char* name;
    uint32_t size;
    uint32_t crc;
  };
  const TExpected expected[] = {
      {"big.txt", 200027, 0xa7d64d5b},   {"same61.bin", 40000, 0xf3ddb8f7},
      {"same90.bin", 40000, 0x1a4d6ce3}, {"text.txt", 24227, 0xec1b47b7},
      {"zeros.bin", 28256, 0xf1023620},
  };
  const std::vector<TZipEntry> entries = LocalEntries(zip);
  size_t decoded = 0;
  for (const TExpected& e : expected) {
    SCOPED_TRACE(e.name);
    for (const TZipEntry& entry : entries) {
      if (entry.name != e.name) continue;
      ASSERT_EQ(entry.method, 9);
      TAbDeflateHelper helper;
      helper.SetOptions(helper.Options() | dfoDeflate64);
      const TResult result = InflateBytes(entry.data, &helper);
      EXPECT_EQ(result.output.size(), e.size);
      EXPECT_EQ(result.checksum, e.crc);
      EXPECT_EQ(Crc32Of(result.output), e.crc);
      EXPECT_EQ(helper.BytesRead, int32_t(entry.data.size()));
      ++decoded;
    }
  }
  EXPECT_EQ(decoded, 5u);
}

TEST(Inflate, DecryptsAnInfoZipEntry) {
  const std::vector<uint8_t> zip = ReadTestData("inflate_encrypted.zip");
  const std::vector<TZipEntry> entries = LocalEntries(zip);
  ASSERT_EQ(entries.size(), 1u);
  const TZipEntry& entry = entries[0];
  ASSERT_EQ(entry.method, 8);
  ASSERT_EQ(entry.flags & 9, 9) << "encrypted, with a data descriptor: the time is the check";

  TAbDeflateHelper helper;
  helper.Password = "pw-inflate";
  helper.HeaderCheck = int32_t(uint32_t(entry.time) << 16);
  const TResult result = InflateBytes(entry.data, &helper);
  EXPECT_EQ(result.output.size(), 39683u);
  EXPECT_EQ(result.checksum, entry.crc);
  EXPECT_EQ(Crc32Of(result.output), entry.crc);
  EXPECT_EQ(helper.BytesRead, int32_t(entry.data.size())) << "the header counts as consumed";

  // A wrong password leaves the source at the header for another try.
  TMemoryStream source;
  source.Write(entry.data.data(), int32_t(entry.data.size()));
  source.SetPosition(0);
  TMemoryStream dest;
  helper.Password = "wrong";
  try {
    Inflate(&source, &dest, &helper);
    ADD_FAILURE() << "accepted a wrong password";
  } catch (const EAbInflatePasswordError& e) {
    EXPECT_STREQ(e.what(), "Inflate: stream is encrypted but passphrase is wrong");
  }
  EXPECT_EQ(source.Position(), 0);
  helper.Password = "pw-inflate";
  EXPECT_EQ(Inflate(&source, &dest, &helper), entry.crc);
}

TEST(Inflate, EmptyStoredAndFixedBlocks) {
  // BFINAL 1, BTYPE 00, then LEN 0 and NLEN 0xFFFF.
  const std::vector<uint8_t> stored =
      TBitWriter().Bits(1, 1).Bits(0, 2).Align().Bits(0, 16).Bits(0xFFFF, 16).Bytes();
  TResult result = InflateBytes(stored);
  EXPECT_TRUE(result.output.empty());
  EXPECT_EQ(result.checksum, 0u);
  TAbDeflateHelper adler;
  adler.SetOptions(adler.Options() | dfoAdler32);
  EXPECT_EQ(InflateBytes(stored, &adler).checksum, 1u);

  TBitWriter fixed;
  fixed.Bits(1, 1).Bits(1, 2);  // BFINAL 1, BTYPE 01
  FixedLiteral(fixed, 256);     // end of block
  result = InflateBytes(fixed.Bytes());
  EXPECT_TRUE(result.output.empty());
}

TEST(Inflate, LeavesTheSourceOnTheFirstByteAfterTheStream) {
  TBitWriter w;
  w.Bits(1, 1).Bits(1, 2);
  FixedLiteral(w, 'z');
  FixedLiteral(w, 256);
  std::vector<uint8_t> bytes = w.Bytes();
  const size_t streamSize = bytes.size();
  for (int i = 0; i < 20; ++i) bytes.push_back(0xEE);
  TMemoryStream source;
  source.Write("ab", 2);  // the stream starts at offset 2
  source.Write(bytes.data(), int32_t(bytes.size()));
  source.SetPosition(2);
  TMemoryStream dest;
  TAbDeflateHelper helper;
  Inflate(&source, &dest, &helper);
  EXPECT_EQ(source.Position(), int64_t(2 + streamSize));
  EXPECT_EQ(helper.BytesRead, int32_t(streamSize));
  EXPECT_EQ(dest.Bytes(), (std::vector<uint8_t>{'z'}));
}

TEST(Inflate, LengthSymbol285AndLongDistancesDependOnDeflate64) {
  // 40,000 stored bytes, then a fixed block: one match with length symbol
  // 285 (extra 16 bits: 297 with Deflate64) at distance symbol 30 (32,769 + 5).
  std::vector<uint8_t> history(40000);
  for (size_t i = 0; i < history.size(); ++i) history[i] = uint8_t(i * 31 + i / 500);
  TBitWriter w;
  w.Bits(0, 1).Bits(0, 2).Align();             // stored, not final
  w.Bits(40000, 16).Bits(40000 ^ 0xFFFF, 16);  // LEN, NLEN
  for (uint8_t b : history) w.Byte(b);
  w.Bits(1, 1).Bits(1, 2);  // BFINAL 1, fixed codes
  FixedLiteral(w, 285);
  w.Bits(297, 16);  // Deflate64: length 3 + 297 = 300
  w.Code(30, 5);    // distance symbol 30
  w.Bits(5, 14);    // distance 32,769 + 5
  FixedLiteral(w, 256);
  const std::vector<uint8_t> stream = w.Bytes();

  TAbDeflateHelper helper;
  helper.SetOptions(helper.Options() | dfoDeflate64);
  const TResult result = InflateBytes(stream, &helper);
  ASSERT_EQ(result.output.size(), 40300u);
  for (size_t i = 0; i < 300; ++i)
    ASSERT_EQ(result.output[40000 + i], history[40000 - 32774 + i]) << i;

  // Distance symbol 31 (49,153 + extra) needs Deflate64; plain Deflate refuses it.
  TBitWriter far;
  far.Bits(0, 1).Bits(0, 2).Align();
  far.Bits(40000, 16).Bits(40000 ^ 0xFFFF, 16);
  for (uint8_t b : history) far.Byte(b);
  far.Bits(1, 1).Bits(1, 2);
  FixedLiteral(far, 257);  // length 3
  far.Code(31, 5);         // distance symbol 31
  far.Bits(0, 14);         // distance 49,153: more than was decoded
  FixedLiteral(far, 256);
  const std::vector<uint8_t> farStream = far.Bytes();
  try {
    InflateBytes(farStream);
    ADD_FAILURE();
  } catch (const EAbInflateError& e) {
    EXPECT_STREQ(e.what(),
                 "Corvel inflate error, possibly a corrupted compressed stream. (Internal cause: "
                 "decoded an invalid distance symbol: greater than 29 [DecodeData])");
  }
  try {
    InflateBytes(farStream, &helper);
    ADD_FAILURE();
  } catch (const EAbInflateError& e) {
    EXPECT_STREQ(e.what(),
                 "Corvel inflate error, possibly a corrupted compressed stream. (Internal cause: "
                 "distance is too far back [TAbDfOutputWindow.PutMatch])");
  }

  TBitWriter plain;
  plain.Bits(1, 1).Bits(1, 2);
  FixedLiteral(plain, 'q');
  FixedLiteral(plain, 285);  // 258
  plain.Code(0, 5);          // distance 1
  FixedLiteral(plain, 264);  // length 10
  plain.Code(0, 5);          // distance 1: repeats the last byte 10 times
  FixedLiteral(plain, 256);
  EXPECT_EQ(InflateBytes(plain.Bytes()).output, std::vector<uint8_t>(269, 'q'));
}

TEST(Inflate, TestRunCountsWithoutWriting) {
  const std::vector<uint8_t> data = TextData(150000);
  std::vector<uint8_t> compressed;
  if (pyzlib::Available()) {
    compressed = pyzlib::Compress(data, 6);
  } else {
    GTEST_SKIP() << "python3 with zlib is not available";
  }
  TAbDeflateHelper helper;
  helper.SetOptions(helper.Options() | dfoTestOnly);
  const TResult result = InflateBytes(compressed, &helper);
  EXPECT_TRUE(result.output.empty());
  EXPECT_EQ(result.checksum, Crc32Of(data));
  EXPECT_EQ(helper.BytesWritten, 150000);
}

TEST(Inflate, PartialSizeStopsQuietlyAfterWritingWhatWasDecoded) {
  TBitWriter w;
  w.Bits(1, 1).Bits(1, 2);
  FixedLiteral(w, 'a');
  for (int i = 0; i < 10; ++i) {
    FixedLiteral(w, 284);  // length 227 + 31 = 258
    w.Bits(31, 5);
    w.Code(0, 5);  // distance 1
  }
  FixedLiteral(w, 256);
  const std::vector<uint8_t> stream = w.Bytes();
  TAbDeflateHelper helper;
  helper.OutputLimit = 100;
  const TResult result = InflateBytes(stream, &helper);
  EXPECT_EQ(result.checksum, 0u);
  EXPECT_EQ(result.output, std::vector<uint8_t>(259, 'a')) << "the match that crossed 100 is kept";
  EXPECT_EQ(helper.BytesWritten, 259);

  helper.OutputLimit = -5;  // counts as none
  EXPECT_EQ(InflateBytes(stream, &helper).output.size(), 2581u);
}

TEST(Inflate, ProgressAbortEndsQuietly) {
  const std::vector<uint8_t> data = RandomData(100000);
  if (!pyzlib::Available()) GTEST_SKIP() << "python3 with zlib is not available";
  const std::vector<uint8_t> compressed = pyzlib::Compress(data, 1);
  std::vector<int> reports;
  TAbDeflateHelper helper;
  helper.SourceSize = -1;
  helper.ProgressHook = [&reports](uint8_t percent) {
    reports.push_back(percent);
    if (percent >= 30) throw EAbAbortProgress();
  };
  const TResult result = InflateBytes(compressed, &helper);
  EXPECT_EQ(result.checksum, 0u);
  EXPECT_EQ(reports.size(), 2u);
  EXPECT_LT(result.output.size(), data.size());
  EXPECT_TRUE(std::equal(result.output.begin(), result.output.end(), data.begin()));

  // Any other exception of the hook passes unchanged.
  helper.ProgressHook = [](uint8_t) { throw EAbUserAbort(); };
  EXPECT_THROW(InflateBytes(compressed, &helper), EAbUserAbort);
}

TEST(Inflate, AdlerChecksumOption) {
  if (!pyzlib::Available()) GTEST_SKIP() << "python3 with zlib is not available";
  const std::vector<uint8_t> data = RepeatingBinary(120000);
  TAbDeflateHelper helper;
  helper.SetOptions(helper.Options() | dfoAdler32);
  const TResult result = InflateBytes(pyzlib::Compress(data, 9), &helper);
  ASSERT_EQ(result.output, data);
  // zlib's own wrapper carries the Adler-32 of the data in its last 4 bytes.
  bool ok = false;
  const std::vector<uint8_t> wrapped = pyzlib::Run("zlib.compress(d)", data, ok);
  ASSERT_TRUE(ok);
  const size_t n = wrapped.size();
  const uint32_t adler = uint32_t(wrapped[n - 4]) << 24 | uint32_t(wrapped[n - 3]) << 16 |
                         uint32_t(wrapped[n - 2]) << 8 | wrapped[n - 1];
  EXPECT_EQ(result.checksum, adler);
}

TEST(Inflate, WritesTheLogWhenAsked) {
  char folder[] = "/tmp/zelvora_inflog_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  setenv("ZELVORA_DRIVE_C", folder, 1);
  TAbDeflateHelper helper;
  helper.LogFileName = "C:\\inflate.log";
  const std::vector<uint8_t> bad = TBitWriter().Bits(1, 1).Bits(3, 2).Bytes();
  EXPECT_THROW(InflateBytes(bad, &helper), EAbInflateError);
  std::ifstream in(std::string(folder) + "/inflate.log", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text,
            "INFLATING STREAM...\r\nNeed to recompile the app with UseLogging turned on\r\n"
            "Internal exception raised: starting new block, but invalid block type [Inflate]\r\n");
  std::remove((std::string(folder) + "/inflate.log").c_str());
  rmdir(folder);
}

TEST(Inflate, MissingStreamsAreContractViolations) {
  TMemoryStream stream;
  try {
    Inflate(nullptr, &stream, nullptr);
    ADD_FAILURE();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.FixedMessage(), "Deflate: aSource stream cannot be nil");
  }
  try {
    Inflate(&stream, nullptr, nullptr);
    ADD_FAILURE();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.FixedMessage(), "Deflate: aDest stream cannot be nil");
  }
}
