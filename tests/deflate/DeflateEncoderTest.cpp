// The Deflate encoder's entry point: round trips through Python's zlib at
// every level and block kind, and the choices that fix its output bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "archive/AbArcTyp.h"
#include "archive/AbUtils.h"
#include "archive/deflate/AbDfBase.h"
#include "archive/deflate/AbDfEnc.h"
#include "archive/inflate/AbDfCryS.h"
#include "tests/deflate/DeflateEncoderSupport.h"
#include "tests/deflate/PythonZlib.h"

using namespace dfenc;

namespace {

struct TCorpusItem {
  const char* Name;
  std::vector<uint8_t> Data;
};

std::vector<uint8_t> ZeroRunBinary(size_t aSize) {
  std::vector<uint8_t> data = NoiseBytes(aSize, 7);
  for (size_t start = 1000; start + 5000 < aSize; start += 20000)
    std::fill(data.begin() + long(start), data.begin() + long(start + 3000 + start % 2000), 0);
  return data;
}

std::vector<uint8_t> LargeMixed() {
  std::vector<uint8_t> data = WordText(700000, 3);
  const std::vector<uint8_t> binary = ZeroRunBinary(300000);
  data.insert(data.end(), binary.begin(), binary.end());
  const std::vector<uint8_t> noise = NoiseBytes(150000, 11);
  data.insert(data.end(), noise.begin(), noise.end());
  const std::vector<uint8_t> tail = WordText(100000, 5);
  data.insert(data.end(), tail.begin(), tail.end());
  return data;  // 1.25 MB
}

const std::vector<TCorpusItem>& Corpus() {
  static const std::vector<TCorpusItem> corpus = {
      {"empty", {}},
      {"one byte", {'A'}},
      {"two bytes", {0, 0xFF}},
      {"three bytes", {'a', 'b', 'c'}},
      {"run of one byte", std::vector<uint8_t>(100000, 'z')},
      {"text", WordText(200000, 1)},
      {"binary with zero runs", ZeroRunBinary(150000)},
      {"incompressible", NoiseBytes(100000, 99)},
      {"over 1 MB", LargeMixed()},
  };
  return corpus;
}

uint32_t CrcOf(const std::vector<uint8_t>& aData) {
  return UpdateCrc32(0xFFFFFFFF, aData.data(), int32_t(aData.size())) ^ 0xFFFFFFFF;
}

// A helper whose parameters are set one by one, so LevelLetter is '?'.
void SetParameters(TAbDeflateHelper& aHelper, int32_t aGood, int32_t aChain, int32_t aLazy) {
  aHelper.SetGoodEnoughLength(aGood + 1);
  aHelper.SetGoodEnoughLength(aGood);
  aHelper.SetChainLimit(aChain);
  aHelper.SetLazyLimit(aLazy);
}

std::vector<uint8_t> CompressWith(const std::vector<uint8_t>& aData, int32_t aGood, int32_t aChain,
                                  int32_t aLazy) {
  TAbDeflateHelper helper;
  SetParameters(helper, aGood, aChain, aLazy);
  EXPECT_EQ(helper.LevelLetter(), '?');
  return Compress(aData, &helper);
}

// Tokens of `aData` at `aLevel` written as static blocks, so that data
// without repeats still shows its tokens rather than going stored.
std::vector<TToken> StaticTokens(const std::vector<uint8_t>& aData, char aLevel) {
  TAbDeflateHelper helper;
  helper.SelectLevel('0');
  helper.SelectLevel(aLevel);
  helper.SetOptions((helper.Options() & ~uint32_t(dfoStored | dfoDynamic)) | dfoStatic);
  const TParsed parsed = Parse(Compress(aData, &helper));
  EXPECT_EQ(parsed.Output, aData);
  return parsed.AllTokens();
}

class RefusingStream : public TMemoryStream {
 public:
  int32_t Write(const void*, int32_t) override { return 0; }
};

}  // namespace

// ------------------------------------------------------------ round trips

TEST(Deflate, EveryLevelAndKindRoundTripsThroughZlib) {
  if (!pyzlib::Available()) GTEST_SKIP() << "python3 with zlib is not available";
  struct TVariant {
    const char* Name;
    char Level;
    uint32_t Options;  // 0: as the level sets them
  };
  const TVariant variants[] = {
      {"0", '0', 0},
      {"2", '2', 0},
      {"f", 'f', 0},
      {"n", 'n', 0},
      {"s", 's', 0},
      {"x", 'x', 0},
      {"static", 'n', dfoStatic | dfoLazy},
      {"dynamic", 'n', dfoDynamic | dfoLazy},
      {"stored+static", 'n', dfoStored | dfoStatic},
  };
  std::vector<std::pair<std::vector<uint8_t>, const std::vector<uint8_t>*>> streams;
  std::vector<std::string> names;
  for (const TCorpusItem& item : Corpus()) {
    for (const TVariant& variant : variants) {
      names.push_back(std::string(item.Name) + " at " + variant.Name);
      SCOPED_TRACE(names.back());
      TAbDeflateHelper helper;
      helper.SelectLevel('0');
      helper.SelectLevel(variant.Level);
      if (variant.Options != 0) helper.SetOptions(variant.Options);
      uint32_t checksum = 0;
      std::vector<uint8_t> packed = Compress(item.Data, &helper, &checksum);
      EXPECT_EQ(checksum, CrcOf(item.Data));
      EXPECT_EQ(helper.BytesRead, int32_t(item.Data.size()));
      EXPECT_EQ(helper.BytesWritten, int32_t(packed.size()));
      // The same input always gives the same bytes.
      EXPECT_EQ(Compress(item.Data, &helper), packed);
      streams.emplace_back(std::move(packed), &item.Data);
    }
  }
  const std::vector<bool> inflated = ZlibInflatesAll(streams);
  ASSERT_EQ(inflated.size(), streams.size()) << "python3 failed";
  for (size_t i = 0; i < streams.size(); ++i) EXPECT_TRUE(inflated[i]) << names[i];
}

TEST(Deflate, LevelsCompressAsExpectedAgainstEachOther) {
  const std::vector<uint8_t> text = WordText(300000, 17);
  const size_t stored = CompressAtLevel(text, '0').size();
  const size_t superFast = CompressAtLevel(text, 's').size();
  const size_t normal = CompressAtLevel(text, 'n').size();
  const size_t maximum = CompressAtLevel(text, 'x').size();
  EXPECT_EQ(stored, text.size() + 5 * ((text.size() + 65534) / 65535));
  EXPECT_LT(superFast, text.size() / 2);
  EXPECT_LT(normal, superFast);
  EXPECT_LE(maximum, normal);
}

TEST(Deflate, MissingHelperUsesTheDefaults) {
  const std::vector<uint8_t> text = WordText(50000, 4);
  TAbDeflateHelper defaults;
  EXPECT_EQ(Compress(text, nullptr), Compress(text, &defaults));
  const TParsed parsed = Parse(Compress(text, nullptr));
  EXPECT_EQ(parsed.Output, text);
}

TEST(Deflate, Adler32WhenAsked) {
  const std::vector<uint8_t> text = WordText(70000, 8);
  for (char level : {'0', 'n'}) {
    SCOPED_TRACE(level);
    TAbDeflateHelper helper;
    helper.SelectLevel('0');
    helper.SelectLevel(level);
    helper.SetOptions(helper.Options() | dfoAdler32);
    uint32_t checksum = 0;
    const std::vector<uint8_t> packed = Compress(text, &helper, &checksum);
    EXPECT_EQ(checksum, UpdateAdler32(1, text.data(), int32_t(text.size())));
    EXPECT_EQ(Parse(packed).Output, text);
  }
}

// ------------------------------------------------------------ pinned choices

TEST(Deflate, EmptyInputIsOneStaticBlockOfTenBits) {
  for (char level : {'2', 'f', 'n', 's', 'x'}) {
    SCOPED_TRACE(level);
    EXPECT_EQ(CompressAtLevel({}, level), (std::vector<uint8_t>{0x03, 0x00}));
  }
}

TEST(Deflate, EmptyInputOnTheStoredRoadIsOneEmptyFinalStoredBlock) {
  // A stream without a final block is not Deflate: even nothing gets one.
  EXPECT_EQ(CompressAtLevel({}, '0'), (std::vector<uint8_t>{0x01, 0x00, 0x00, 0xFF, 0xFF}));
}

TEST(Deflate, OneOrTwoBytesAreLiteralsOfOneBlock) {
  for (const std::vector<uint8_t>& data : {std::vector<uint8_t>{'Q'}, std::vector<uint8_t>{7, 7},
                                           std::vector<uint8_t>{'a', 'a', 'a'}}) {
    SCOPED_TRACE(data.size());
    const TParsed parsed = Parse(CompressAtLevel(data, 'n'));
    ASSERT_EQ(parsed.Blocks.size(), 1u);
    EXPECT_EQ(parsed.Blocks[0].Type, 1);
    std::vector<TToken> expected;
    for (uint8_t b : data) expected.push_back(Lit(b));
    EXPECT_EQ(parsed.Blocks[0].Tokens, expected);
  }
}

TEST(Deflate, LevelZeroCutsStoredBlocksOf65535) {
  const std::vector<uint8_t> data = NoiseBytes(100000, 5);
  const std::vector<uint8_t> packed = CompressAtLevel(data, '0');
  ASSERT_EQ(packed.size(), 100010u);
  EXPECT_EQ(std::vector<uint8_t>(packed.begin(), packed.begin() + 5),
            (std::vector<uint8_t>{0x00, 0xFF, 0xFF, 0x00, 0x00}));  // 65,535, not final
  EXPECT_EQ(std::vector<uint8_t>(packed.begin() + 65540, packed.begin() + 65545),
            (std::vector<uint8_t>{0x01, 0xA1, 0x86, 0x5E, 0x79}));  // 34,465, final
  const TParsed parsed = Parse(packed);
  ASSERT_EQ(parsed.Blocks.size(), 2u);
  EXPECT_EQ(parsed.Blocks[0].StoredLength, 65535);
  EXPECT_EQ(parsed.Blocks[1].StoredLength, 34465);
  EXPECT_EQ(parsed.Output, data);
}

TEST(Deflate, RunOfOneByteIsALiteralAndMaximalMatches) {
  const TParsed parsed = Parse(CompressAtLevel(std::vector<uint8_t>(1000, 'r'), 'n'));
  ASSERT_EQ(parsed.Blocks.size(), 1u);
  std::vector<TToken> expected = {Lit('r'), Match(258, 1), Match(258, 1), Match(258, 1),
                                  Match(225, 1)};
  EXPECT_EQ(parsed.Blocks[0].Tokens, expected);
}

TEST(Deflate, NoThreeByteMatchFartherThan4096Back) {
  for (size_t filler : {4000u, 5000u}) {
    SCOPED_TRACE(filler);
    const std::vector<uint8_t> unique = UniqueTriples(filler + 300, 21);
    std::vector<uint8_t> data(unique.begin(), unique.begin() + long(filler));
    data.insert(data.end(), unique.begin(), unique.begin() + 3);
    data.insert(data.end(), unique.begin() + long(filler), unique.end());
    const std::vector<TToken> tokens = StaticTokens(data, 'n');
    std::vector<TToken> expected;
    for (size_t i = 0; i < data.size(); ++i) {
      if (i == filler && filler + 3 <= 4096) {
        expected.push_back(Match(3, int32_t(filler)));
        i += 2;
      } else {
        expected.push_back(Lit(data[i]));
      }
    }
    EXPECT_EQ(tokens, expected);
  }
}

TEST(Deflate, LazyEvaluationPrefersALongerMatchOneByteOn) {
  // "abcd" then a different byte; "bcdefghijk"; later "abcdefghijk".
  const std::vector<uint8_t> filler = UniqueTriples(600, 33);
  auto text = [](const char* s) { return std::vector<uint8_t>(s, s + std::string(s).size()); };
  std::vector<uint8_t> data;
  auto append = [&data](const std::vector<uint8_t>& part) {
    data.insert(data.end(), part.begin(), part.end());
  };
  append(text("abcdX"));
  append(std::vector<uint8_t>(filler.begin(), filler.begin() + 200));
  const size_t second = data.size();
  append(text("bcdefghijkY"));
  append(std::vector<uint8_t>(filler.begin() + 200, filler.begin() + 400));
  const size_t later = data.size();
  append(text("abcdefghijkZ"));
  append(std::vector<uint8_t>(filler.begin() + 400, filler.end()));

  struct TCase {
    char Level;
    std::vector<TToken> AtLater;
  };
  const TCase cases[] = {
      // Lazy: the 4-byte match waits, the 10-byte one at the next byte wins.
      {'n', {Lit('a'), Match(10, int32_t(later + 1 - second)), Lit('Z')}},
      // Without the lazy bit every match of 4 or more is taken at once.
      {'s', {Match(4, int32_t(later)), Match(7, int32_t(later + 4 - (second + 3))), Lit('Z')}},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Level);
    const std::vector<TToken> tokens = StaticTokens(data, test.Level);
    size_t first = 0;
    for (size_t covered = 0; covered < later; ++first)
      covered += tokens[first].Length == 0 ? 1 : size_t(tokens[first].Length);
    ASSERT_GE(tokens.size(), first + test.AtLater.size());
    EXPECT_EQ(std::vector<TToken>(tokens.begin() + long(first),
                                  tokens.begin() + long(first + test.AtLater.size())),
              test.AtLater);
  }
}

TEST(Deflate, NormalLevelSearchesHarderAfter1024BytesWithoutZeroLiterals) {
  // 1,024 bytes that give only literals, then text whose matches depend on
  // the search parameters.
  const std::vector<uint8_t> head = UniqueTriples(1024, 40);
  const std::vector<uint8_t> text = WordText(25000, 41);
  std::vector<uint8_t> data = head;
  data.insert(data.end(), text.begin(), text.end());
  std::vector<uint8_t> withZero = data;
  withZero[500] = 0;
  std::vector<uint8_t> steppingOver(head.begin(), head.begin() + 1020);
  steppingOver.insert(steppingOver.end(), head.begin() + 10, head.begin() + 20);  // a 10-byte match
  steppingOver.insert(steppingOver.end(), text.begin(), text.end());

  // The parameters matter on this text, or the test would prove nothing.
  ASSERT_NE(CompressWith(data, 16, 32, 24), CompressWith(data, 32, 64, 48));
  ASSERT_NE(CompressWith(steppingOver, 16, 32, 24), CompressWith(steppingOver, 32, 64, 48));

  EXPECT_EQ(CompressAtLevel(data, 'n'), CompressWith(data, 32, 64, 48));
  EXPECT_EQ(CompressAtLevel(withZero, 'n'), CompressWith(withZero, 16, 32, 24));
  // A match that carries the covered size from 1,020 to 1,030 skips the step.
  EXPECT_EQ(CompressAtLevel(steppingOver, 'n'), CompressWith(steppingOver, 16, 32, 24));
  // Only level "n" adapts.
  TAbDeflateHelper maximum;
  maximum.SelectLevel('x');
  EXPECT_EQ(Compress(data, &maximum), CompressWith(data, 64, 4096, 258));
  // The caller's helper keeps its level.
  TAbDeflateHelper normal;
  normal.SelectLevel('0');
  normal.SelectLevel('n');
  Compress(data, &normal);
  EXPECT_EQ(normal.LevelLetter(), 'n');
  EXPECT_EQ(normal.GoodEnoughLength(), 16);
  EXPECT_EQ(normal.ChainLimit(), 32);
  EXPECT_EQ(normal.LazyLimit(), 24);
}

TEST(Deflate, KindBitsSelectTheBlockForms) {
  const std::vector<uint8_t> text = WordText(40000, 2);
  struct TCase {
    uint32_t Options;
    int Type;
  };
  for (const TCase& test : {TCase{dfoStatic, 1}, TCase{dfoDynamic, 2}, TCase{dfoStored, 0}}) {
    SCOPED_TRACE(test.Options);
    TAbDeflateHelper helper;
    helper.SetOptions(test.Options);
    const TParsed parsed = Parse(Compress(text, &helper));
    EXPECT_EQ(parsed.Output, text);
    for (const TBlock& block : parsed.Blocks) EXPECT_EQ(block.Type, test.Type);
  }
  // Incompressible data may take stored blocks when they are allowed.
  const std::vector<uint8_t> noise = NoiseBytes(30000, 3);
  TAbDeflateHelper helper;
  helper.SetOptions(dfoStored | dfoDynamic);
  const TParsed parsed = Parse(Compress(noise, &helper));
  ASSERT_EQ(parsed.Blocks.size(), 1u);
  EXPECT_EQ(parsed.Blocks[0].Type, 0);
}

TEST(Deflate, UnlimitedParametersWork) {
  const std::vector<uint8_t> text = WordText(30000, 12);
  TAbDeflateHelper helper;
  helper.SetGoodEnoughLength(-1);
  helper.SetChainLimit(-1);
  helper.SetLazyLimit(-1);
  EXPECT_EQ(Parse(Compress(text, &helper)).Output, text);
  EXPECT_EQ(helper.ChainLimit(), -1) << "the caller's helper is not changed";
}

// ------------------------------------------------------------ helper effects

TEST(Deflate, SourceSizeIsIgnoredWithoutAProgressHook) {
  const std::vector<uint8_t> data = NoiseBytes(80000, 9);
  TAbDeflateHelper helper;
  helper.SelectLevel('0');
  helper.SourceSize = 1000;  // wrong, and not used
  EXPECT_EQ(Parse(Compress(data, &helper)).Output, data);
  EXPECT_EQ(helper.SourceSize, 1000);
}

TEST(Deflate, ProgressReportsPercentages) {
  const std::vector<uint8_t> data = WordText(100000, 6);
  struct TCase {
    char Level;
    std::vector<int> Expected;  // empty: only checked for order and range
  };
  for (const TCase& test : {TCase{'0', {66, 100}}, TCase{'n', {}}}) {
    SCOPED_TRACE(test.Level);
    std::vector<int> reports;
    TAbDeflateHelper helper;
    helper.SelectLevel('0');
    helper.SelectLevel(test.Level);
    helper.SourceSize = -1;
    helper.ProgressHook = [&reports](uint8_t percent) { reports.push_back(percent); };
    Compress(data, &helper);
    ASSERT_FALSE(reports.empty());
    if (!test.Expected.empty()) {
      EXPECT_EQ(reports, test.Expected);
    }
    for (size_t i = 1; i < reports.size(); ++i) EXPECT_LE(reports[i - 1], reports[i]);
    EXPECT_LE(reports.back(), 100);
  }
}

TEST(Deflate, AbortFromTheProgressHookPassesUnchanged) {
  const std::vector<uint8_t> data = WordText(100000, 6);
  for (char level : {'0', 'n'}) {
    SCOPED_TRACE(level);
    TAbDeflateHelper helper;
    helper.SelectLevel('0');
    helper.SelectLevel(level);
    helper.SourceSize = -1;
    helper.ProgressHook = [](uint8_t) { throw EAbAbortProgress(); };
    EXPECT_THROW(Compress(data, &helper), EAbAbortProgress);
  }
}

TEST(Deflate, RefusingDestinationRaisesTheDeflateError) {
  const std::vector<uint8_t> data = WordText(1000, 6);
  TMemoryStream source = StreamOf(data);
  RefusingStream dest;
  try {
    Deflate(&source, &dest, nullptr);
    ADD_FAILURE();
  } catch (const EAbDeflateError& e) {
    EXPECT_STREQ(e.what(),
                 "Corvel deflate error. (Internal cause: could not write to the output atream "
                 "[TAbDfInBitStream.obsEmptyBuffer])");
  }
  // The stored road writes with the stream's own checked write.
  TAbDeflateHelper stored;
  stored.SelectLevel('0');
  source.SetPosition(0);
  EXPECT_THROW(Deflate(&source, &dest, &stored), EWriteError);
}

TEST(Deflate, ContractViolations) {
  TMemoryStream stream;
  TAbDeflateHelper none;
  none.SetOptions(dfoLazy | dfoDeflate64);
  struct TCase {
    TStream* Source;
    TStream* Dest;
    TAbDeflateHelper* Helper;
    const char* Message;
  };
  const TCase cases[] = {
      {nullptr, &stream, nullptr, "Deflate: aSource stream cannot be nil"},
      {&stream, nullptr, nullptr, "Deflate: aDest stream cannot be nil"},
      {&stream, &stream, &none, "Deflate: aHelper.Options must enable some kind of archiving"},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Message);
    try {
      Deflate(test.Source, test.Dest, test.Helper);
      ADD_FAILURE();
    } catch (const EAssertionFailed& e) {
      EXPECT_EQ(e.FixedMessage(), test.Message);
    }
  }
}

TEST(Deflate, WritesTheLogLinesWhenAskedTo) {
  char pattern[] = "/tmp/zelvora_dfenc_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string folder = pattern;
  setenv("ZELVORA_DRIVE_C", folder.c_str(), 1);
  TAbDeflateHelper helper;
  helper.LogFileName = "C:\\deflate.log";
  EXPECT_EQ(Parse(Compress(WordText(5000, 1), &helper)).Output, WordText(5000, 1));
  std::FILE* file = std::fopen((folder + "/deflate.log").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  char text[200] = {};
  const size_t got = std::fread(text, 1, sizeof(text) - 1, file);
  std::fclose(file);
  EXPECT_EQ(std::string(text, got),
            "DEFLATING STREAM...\r\nNeed to recompile the app with UseLogging turned on\r\n");
  std::system(("rm -rf '" + folder + "'").c_str());
}

// ------------------------------------------------------------ encryption

TEST(Deflate, PasswordEncryptsTheStreamBehindTheHeader) {
  if (!pyzlib::Available()) GTEST_SKIP() << "python3 with zlib is not available";
  const std::vector<uint8_t> text = WordText(120000, 13);
  const std::string password = "735296482913572";
  for (char level : {'0', 'n', 'x'}) {
    SCOPED_TRACE(level);
    TAbDeflateHelper helper;
    helper.SelectLevel('0');
    helper.SelectLevel(level);
    helper.Password = password;
    helper.HeaderCheck = int32_t(0xA1B2C3D4);
    uint32_t checksum = 0;
    const std::vector<uint8_t> packed = Compress(text, &helper, &checksum);
    EXPECT_EQ(checksum, CrcOf(text));
    EXPECT_EQ(helper.BytesWritten, int32_t(packed.size()));

    TMemoryStream encrypted = StreamOf(packed);
    TAbDfDecryptStream decrypter(encrypted, 0xA1B2C3D4, password);
    ASSERT_TRUE(decrypter.CheckHeader());
    std::vector<uint8_t> plain(packed.size() - 12);
    decrypter.ReadBuffer(plain.data(), int32_t(plain.size()));
    bool ok = false;
    EXPECT_EQ(pyzlib::Decompress(plain, ok), text);
    EXPECT_TRUE(ok);

    // Without the password the same options give exactly the plain bytes.
    helper.Password.clear();
    EXPECT_EQ(Compress(text, &helper), plain);
  }
}
