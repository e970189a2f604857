// The encoder's input window: key lengths at the end of the input, the match
// search and its limits, sliding, checksums, progress and raw re-reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/deflate/AbDfInW.h"
#include "tests/deflate/DeflateEncoderSupport.h"

using namespace dfenc;

namespace {

// A source that hands out one byte per read.
class TrickleStream : public TMemoryStream {
 public:
  int32_t Read(void* aBuffer, int32_t aCount) override {
    return TMemoryStream::Read(aBuffer, std::min(aCount, 1));
  }
};

std::vector<uint8_t> Bytes(const std::string& aText) {
  return std::vector<uint8_t>(aText.begin(), aText.end());
}

struct TFound {
  int32_t Offset, Length, Distance;
};

// Greedy parse through the window: every match is checked against the data.
std::vector<TFound> GreedyMatches(TAbDfInputWindow& aWindow, const std::vector<uint8_t>& aData) {
  std::vector<TFound> found;
  const TAbDfMatch none;
  TAbDfMatch match;
  while (aWindow.KeyLength() == 3) {
    const int32_t at = aWindow.InputPosition();
    if (aWindow.SearchMatch(258, match, none)) {
      EXPECT_LE(match.Distance, 32768);
      EXPECT_TRUE(std::equal(aData.begin() + at, aData.begin() + at + match.Length,
                             aData.begin() + at - match.Distance))
          << at;
      found.push_back({at, match.Length, match.Distance});
      aWindow.AdvanceOne();
      aWindow.Advance(match.Length - 1, match.Length - 1);
    } else {
      EXPECT_EQ(match.Literal, aData[size_t(at)]);
      aWindow.AdvanceOne();
    }
  }
  return found;
}

}  // namespace

TEST(TAbDfInputWindow, ShortSourcesHaveShortKeysAndAreTakenByteByByte) {
  for (const std::string& text : {std::string(), std::string("a"), std::string("ab")}) {
    SCOPED_TRACE(text.size());
    TMemoryStream source = StreamOf(Bytes(text));
    TAbDfInputWindow window(source, 0, 32768, 32, false, true);
    EXPECT_EQ(window.KeyLength(), int32_t(text.size()));
    std::string taken;
    while (window.KeyLength() > 0) taken.push_back(char(window.TakeByte()));
    EXPECT_EQ(taken, text);
    const std::vector<uint8_t> bytes = Bytes(text);
    EXPECT_EQ(window.Checksum(),
              UpdateCrc32(0xFFFFFFFF, bytes.data(), int32_t(bytes.size())) ^ 0xFFFFFFFF);
  }
}

TEST(TAbDfInputWindow, ChecksumIsCrc32OrAdler32OfAllInput) {
  const std::vector<uint8_t> data = WordText(200000, 9);
  for (bool useCRC32 : {true, false}) {
    SCOPED_TRACE(useCRC32);
    TMemoryStream source = StreamOf(data);
    TAbDfInputWindow window(source, 0, 32768, 32, false, useCRC32);
    GreedyMatches(window, data);
    EXPECT_EQ(window.Checksum(),
              useCRC32 ? UpdateCrc32(0xFFFFFFFF, data.data(), int32_t(data.size())) ^ 0xFFFFFFFF
                       : UpdateAdler32(1, data.data(), int32_t(data.size())));
  }
}

TEST(TAbDfInputWindow, MatchesStayRightAcrossSlidesAndTrickledReads) {
  std::vector<uint8_t> data = WordText(150000, 2);
  const std::vector<uint8_t> noise = NoiseBytes(60000, 2);
  data.insert(data.end(), noise.begin(), noise.end());
  data.insert(data.end(), data.begin() + 1000, data.begin() + 41000);
  for (bool trickle : {false, true}) {
    SCOPED_TRACE(trickle);
    TrickleStream trickled;
    trickled.WriteBuffer(data.data(), int32_t(data.size()));
    trickled.SetPosition(0);
    TMemoryStream whole = StreamOf(data);
    TStream& source = trickle ? static_cast<TStream&>(trickled) : whole;
    TAbDfInputWindow window(source, 0, 32768, 64, false, true);
    const std::vector<TFound> found = GreedyMatches(window, data);
    int32_t covered = 0;
    for (const TFound& match : found) covered += match.Length;
    EXPECT_GT(covered, int32_t(data.size() / 2));
    EXPECT_EQ(window.InputPosition(), int32_t(data.size()) - window.KeyLength());
  }
}

TEST(TAbDfInputWindow, MatchesReachExactlyOneWindowBack) {
  const std::vector<uint8_t> unique = UniqueTriples(33000, 5);
  for (int32_t distance : {32768, 32769}) {
    SCOPED_TRACE(distance);
    std::vector<uint8_t> data(unique.begin(), unique.begin() + distance);
    data.insert(data.end(), unique.begin(), unique.begin() + 10);
    data.push_back(0);
    TMemoryStream source = StreamOf(data);
    TAbDfInputWindow window(source, 0, 32768, 32, false, true);
    const std::vector<TFound> found = GreedyMatches(window, data);
    if (distance == 32768) {
      ASSERT_EQ(found.size(), 1u);
      EXPECT_EQ(found[0].Offset, 32768);
      EXPECT_EQ(found[0].Length, 10);
      EXPECT_EQ(found[0].Distance, 32768);
    } else {
      EXPECT_TRUE(found.empty());
    }
  }
}

TEST(TAbDfInputWindow, RunOfOneByteMatchesAtDistanceOneUpToTheLongestMatch) {
  for (bool deflate64 : {false, true}) {
    SCOPED_TRACE(deflate64);
    TMemoryStream source = StreamOf(std::vector<uint8_t>(70000, 'r'));
    TAbDfInputWindow window(source, 0, 32768, 32, deflate64, true);
    TAbDfMatch match;
    const TAbDfMatch none;
    EXPECT_FALSE(window.SearchMatch(258, match, none));
    EXPECT_EQ(match.Literal, 'r');
    window.AdvanceOne();
    ASSERT_TRUE(window.SearchMatch(70000, match, none));
    EXPECT_EQ(match.Distance, 1);
    EXPECT_EQ(match.Length, deflate64 ? 65536 : 258);
  }
}

TEST(TAbDfInputWindow, HeldMatchLongerThanTheLookAheadSkipsTheSearchButEntersThePosition) {
  TMemoryStream source = StreamOf(Bytes("xyzxyzxyzQ"));
  TAbDfInputWindow window(source, 0, 32768, 32, false, true);
  TAbDfMatch match;
  TAbDfMatch none;
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(window.SearchMatch(258, match, none));
    window.AdvanceOne();
  }
  TAbDfMatch held;
  held.Length = 8;  // 7 bytes are left at offset 3
  EXPECT_FALSE(window.SearchMatch(258, match, held));
  EXPECT_EQ(match.Length, 0);
  EXPECT_EQ(match.Literal, 'x');
  window.AdvanceOne();
  for (int i = 0; i < 2; ++i) {
    window.SearchMatch(258, match, none);
    window.AdvanceOne();
  }
  // Offset 3 is the nearest "xyz" for offset 6, so it was entered.
  ASSERT_TRUE(window.SearchMatch(258, match, none));
  EXPECT_EQ(match.Distance, 3);
  EXPECT_EQ(match.Length, 3);
}

TEST(TAbDfInputWindow, HeldMatchOfGoodEnoughLengthQuartersTheChainLimit) {
  // The long candidate lies behind ten 3-byte candidates on the chain.
  std::vector<uint8_t> data = Bytes("abcdefghijkL");
  const std::vector<uint8_t> filler = UniqueTriples(500, 8);
  for (int i = 0; i < 10; ++i) {
    data.insert(data.end(), filler.begin() + i * 40, filler.begin() + i * 40 + 40);
    data.insert(data.end(), {'a', 'b', 'c', uint8_t('M' + i)});
  }
  const int32_t current = int32_t(data.size());
  const std::vector<uint8_t> tail = Bytes("abcdefghijkZ");
  data.insert(data.end(), tail.begin(), tail.end());

  struct TCase {
    int32_t GoodEnough;
    bool Found;
  };
  for (const TCase& test : {TCase{16, true}, TCase{4, false}}) {
    SCOPED_TRACE(test.GoodEnough);
    TMemoryStream source = StreamOf(data);
    TAbDfInputWindow window(source, 0, 32768, 32, false, true);
    TAbDfMatch match;
    const TAbDfMatch none;
    while (window.InputPosition() < current) {
      window.SearchMatch(258, match, none);
      window.AdvanceOne();
    }
    TAbDfMatch held;
    held.Length = 5;
    EXPECT_EQ(window.SearchMatch(test.GoodEnough, match, held), test.Found);
    if (test.Found) {
      EXPECT_EQ(match.Length, 11);
      EXPECT_EQ(match.Distance, current);
    }
  }
}

TEST(TAbDfInputWindow, ProgressOnlyOnMultiplesOf4096RoundedHalfToEven) {
  const std::vector<uint8_t> data = NoiseBytes(163840, 4);
  TMemoryStream source = StreamOf(data);
  TAbDfInputWindow window(source, 163840, 32768, 32, false, true);
  std::vector<int> reports;
  window.SetProgressHook([&reports](uint8_t percent) { reports.push_back(percent); });
  window.Advance(4096, 4096);                          // 2.5 % -> 2
  window.Advance(5000, 5000);                          // 9,096: jumps over 8,192, nothing
  window.Advance(3192, 3192);                          // 12,288: 7.5 % -> 8
  for (int i = 0; i < 4096; ++i) window.AdvanceOne();  // 16,384: 10 %
  EXPECT_EQ(reports, (std::vector<int>{2, 8, 10}));
}

TEST(TAbDfInputWindow, ReadAtReturnsRawBytesAndPutsTheSourceBack) {
  const std::vector<uint8_t> prefix = Bytes("HEADER");
  std::vector<uint8_t> data = WordText(120000, 3);
  std::vector<uint8_t> all = prefix;
  all.insert(all.end(), data.begin(), data.end());
  TMemoryStream source = StreamOf(all);
  source.SetPosition(int64_t(prefix.size()));  // offsets count from here
  TAbDfInputWindow window(source, 0, 32768, 32, false, true);
  GreedyMatches(window, data);
  const int64_t position = source.Position();
  std::vector<uint8_t> bytes(1000);
  window.ReadAt(bytes.data(), 1000, 50000);
  EXPECT_EQ(bytes, std::vector<uint8_t>(data.begin() + 50000, data.begin() + 51000));
  EXPECT_EQ(source.Position(), position);
  EXPECT_THROW(window.ReadAt(bytes.data(), 1000, int32_t(data.size()) - 10), EReadError);
}

TEST(TAbDfInputWindow, ContractViolations) {
  TMemoryStream source = StreamOf(Bytes("abcdefgh"));
  TAbDfInputWindow window(source, 0, 32768, 32, false, true);
  struct TCase {
    int32_t Count, HashCount;
    const char* Message;
  };
  const TCase cases[] = {
      {9, 9, "TAbDfInputWindow.Advance: seem to be advancing into the unknown"},
      {4, 2, "TAbDfInputWindow.Advance: the parameters are plain wrong"},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Message);
    try {
      window.Advance(test.Count, test.HashCount);
      ADD_FAILURE();
    } catch (const EAssertionFailed& e) {
      EXPECT_EQ(e.FixedMessage(), test.Message);
    }
  }
}

TEST(TAbDfInputWindow, ReadAtGathersShortReads) {
  const std::vector<uint8_t> data = NoiseBytes(70000, 5);
  TrickleStream source;
  source.WriteBuffer(data.data(), int32_t(data.size()));
  source.SetPosition(0);
  TAbDfInputWindow window(source, 0, 32768, 32, false, true);
  const int64_t position = source.Position();
  std::vector<uint8_t> bytes(1000);
  window.ReadAt(bytes.data(), 1000, 20000);
  EXPECT_EQ(bytes, std::vector<uint8_t>(data.begin() + 20000, data.begin() + 21000));
  EXPECT_EQ(source.Position(), position);
  EXPECT_THROW(window.ReadAt(bytes.data(), 1000, int32_t(data.size()) - 10), EReadError);
}

TEST(TAbDfInputWindow, StoredBlocksOfASourceWithShortReadsAreWhole) {
  // Noise goes out in stored blocks, which read the source again.
  const std::vector<uint8_t> data = NoiseBytes(70000, 6);
  TrickleStream source;
  source.WriteBuffer(data.data(), int32_t(data.size()));
  source.SetPosition(0);
  TMemoryStream dest;
  TAbDeflateHelper helper;
  Deflate(&source, &dest, &helper);
  EXPECT_EQ(BytesOf(dest), Compress(data, nullptr));
}
