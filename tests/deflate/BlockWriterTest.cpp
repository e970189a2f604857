// The Deflate block writer: exact sizes, the choice between stored, static
// and dynamic blocks with its ties, and the dynamic block header.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "archive/deflate/AbDfEnc.h"
#include "archive/deflate/AbDfStrm.h"
#include "tests/deflate/DeflateEncoderSupport.h"

using namespace dfenc;

namespace {

// The raw bytes the tokens of a test block stand for.
class TBytesSource : public TAbDfInputSource {
 public:
  explicit TBytesSource(std::vector<uint8_t> aBytes) : FBytes(std::move(aBytes)) {}
  int32_t InputPosition() const override { return 0; }
  void ReadAt(void* aBuffer, int32_t aCount, int32_t aOffset) override {
    ASSERT_LE(size_t(aOffset) + size_t(aCount), FBytes.size());
    std::copy_n(FBytes.begin() + aOffset, aCount, static_cast<uint8_t*>(aBuffer));
  }

 private:
  std::vector<uint8_t> FBytes;
};

// One block of literals, written by `aWrite` as the only (final) block.
template <typename TWrite>
std::vector<uint8_t> WriteLiteralBlock(const std::vector<uint8_t>& aBytes, TWrite aWrite) {
  TBytesSource source(aBytes);
  TAbDfLZStream stream(source, false, nullptr);
  for (uint8_t b : aBytes) stream.PutLiteral(b);
  TMemoryStream dest;
  {
    TAbDfOutBitStream bits(&dest);
    aWrite(bits, stream);
    bits.Finish();
  }
  return BytesOf(dest);
}

std::vector<uint8_t> ChosenBlock(const std::vector<uint8_t>& aBytes, bool aChoose) {
  return WriteLiteralBlock(aBytes, [aChoose](TAbDfOutBitStream& bits, TAbDfLZStream& stream) {
    EmitChosenBlock(true, false, aChoose, nullptr, bits, stream);
  });
}

int64_t StaticBits(const std::vector<uint8_t>& aBytes) {
  TBytesSource source(aBytes);
  TAbDfLZStream stream(source, false, nullptr);
  for (uint8_t b : aBytes) stream.PutLiteral(b);
  return stream.StaticBitCount();
}

// Bits of the block without its 3 header bits, as written.
int64_t BodyBits(const TBlock& aBlock) {
  return aBlock.EndBit - aBlock.FirstBit - 3;
}

// `aDistinct` byte values from `aFirst` on, the i-th repeated i % `aSpread` + 1 times.
std::vector<uint8_t> Skewed(int aFirst, int aDistinct, int aSpread) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < aDistinct; ++i)
    bytes.insert(bytes.end(), size_t(i % aSpread + 1), uint8_t(aFirst + i));
  return bytes;
}

}  // namespace

TEST(BlockWriter, EmptyFinalBlockIsStaticAndTenBitsLong) {
  const std::vector<uint8_t> packed = ChosenBlock({}, true);
  EXPECT_EQ(packed, (std::vector<uint8_t>{0x03, 0x00}));
  const TParsed parsed = Parse(packed);
  ASSERT_EQ(parsed.Blocks.size(), 1u);
  EXPECT_EQ(parsed.Blocks[0].Type, 1);
  EXPECT_EQ(parsed.Blocks[0].EndBit, 10);
}

TEST(BlockWriter, LiteralsOnlyBlockHasOneDistanceCodeOfOneBit) {
  const std::vector<uint8_t> bytes = Skewed('a', 20, 5);
  const TParsed parsed = Parse(ChosenBlock(bytes, false));
  ASSERT_EQ(parsed.Blocks.size(), 1u);
  const TBlock& block = parsed.Blocks[0];
  EXPECT_EQ(block.Type, 2);
  EXPECT_EQ(block.DistCount, 1);
  EXPECT_EQ(block.CodeLengths[size_t(block.LitCount)], 1);
  EXPECT_EQ(block.LitCount, 257);
  EXPECT_EQ(parsed.Output, bytes);
}

TEST(BlockWriter, HeaderCountsStopAtTheLastUsedCode) {
  const std::vector<std::vector<uint8_t>> inputs = {
      Skewed('a', 20, 5), Skewed(0, 256, 7), Skewed(200, 40, 3), {1, 2, 3, 1, 2, 3, 255}};
  for (const std::vector<uint8_t>& bytes : inputs) {
    SCOPED_TRACE(bytes.size());
    const TBlock block = Parse(ChosenBlock(bytes, false)).Blocks.at(0);
    ASSERT_EQ(block.Type, 2);
    int lastUsed = 0;
    for (int p = 0; p < 19; ++p)
      if (block.CodeLenCodeLengths[size_t(dfc_CodeLengthIndex[size_t(p)])] != 0) lastUsed = p;
    EXPECT_EQ(block.CodeLenCount, std::max(4, lastUsed + 1));
    EXPECT_NE(block.CodeLengths[size_t(block.LitCount - 1)], 0);
    EXPECT_NE(block.CodeLengths.back(), 0);
  }
}

TEST(BlockWriter, DynamicSizeIsExact) {
  const std::vector<std::vector<uint8_t>> inputs = {
      Skewed('a', 20, 5), Skewed(0, 256, 7), Skewed(100, 150, 9), {42}};
  for (const std::vector<uint8_t>& bytes : inputs) {
    SCOPED_TRACE(bytes.size());
    const TBlock block = Parse(ChosenBlock(bytes, false)).Blocks.at(0);
    ASSERT_EQ(block.Type, 2);
    TBytesSource source(bytes);
    TAbDfLZStream stream(source, false, nullptr);
    for (uint8_t b : bytes) stream.PutLiteral(b);
    const std::vector<int32_t> lengths(block.CodeLengths.begin(), block.CodeLengths.end());
    TAbDfCodeLenStream items;
    items.Build(lengths.data(), int32_t(lengths.size()));
    std::array<int32_t, 19> codeLenCodeLengths{};
    std::copy(block.CodeLenCodeLengths.begin(), block.CodeLenCodeLengths.end(),
              codeLenCodeLengths.begin());
    EXPECT_EQ(CalcDynamicBitCount(false, stream.LitBuckets(), stream.DistBuckets(), items.Buckets(),
                                  lengths.data(), codeLenCodeLengths, block.LitCount,
                                  block.DistCount, block.CodeLenCount),
              BodyBits(block));
  }
}

TEST(BlockWriter, CodeLengthRunsInTheHeader) {
  // Bytes 140..255 only: the literal lengths open with 140 zeros. Seven
  // rare bytes in a row get seven equal lengths.
  std::vector<uint8_t> bytes;
  for (int b = 140; b < 256; ++b) bytes.insert(bytes.end(), b < 147 ? 1 : 6, uint8_t(b));
  const TBlock block = Parse(ChosenBlock(bytes, false)).Blocks.at(0);
  ASSERT_EQ(block.Type, 2);
  ASSERT_GE(block.CodeLenItems.size(), 5u);
  using TItem = std::pair<int, int>;
  // 140 zeros: symbol 18 with 127 (138 zeros), then two single zeros.
  EXPECT_EQ(std::vector<TItem>(block.CodeLenItems.begin(), block.CodeLenItems.begin() + 3),
            (std::vector<TItem>{{18, 127}, {0, 0}, {0, 0}}));
  // Seven equal lengths: the length once, then symbol 16 with 3 (six copies).
  const int rare = block.CodeLengths[140];
  for (int b = 141; b < 147; ++b) ASSERT_EQ(block.CodeLengths[size_t(b)], rare);
  ASSERT_NE(block.CodeLengths[147], rare);
  EXPECT_EQ(std::vector<TItem>(block.CodeLenItems.begin() + 3, block.CodeLenItems.begin() + 5),
            (std::vector<TItem>{{rare, 0}, {16, 3}}));
}

TEST(BlockWriter, StoredEqualToStaticGoesToTheHuffmanCodedBlock) {
  // n literals of 144..255 cost 9n + 7 bits as static, (n + 4) × 8 stored:
  // equal at n = 25.
  struct TCase {
    int Count;
    int Type;
  };
  for (const TCase& test : {TCase{24, 1}, TCase{25, 1}, TCase{26, 0}}) {
    SCOPED_TRACE(test.Count);
    std::vector<uint8_t> bytes;
    for (int i = 0; i < test.Count; ++i) bytes.push_back(uint8_t(160 + i));
    const TParsed parsed = Parse(ChosenBlock(bytes, true));
    ASSERT_EQ(parsed.Blocks.size(), 1u);
    EXPECT_EQ(parsed.Blocks[0].Type, test.Type);
    EXPECT_EQ(parsed.Output, bytes);
    // And the dynamic form is larger, so the tie was between these two.
    EXPECT_GT(BodyBits(Parse(ChosenBlock(bytes, false)).Blocks.at(0)), StaticBits(bytes));
  }
}

TEST(BlockWriter, DynamicEqualToStaticGoesToDynamic) {
  // Literal blocks whose dynamic and static forms take the same bits (and
  // stored more).
  struct TCase {
    int First, Distinct, Spread;
    int64_t Bits;
  };
  const TCase cases[] = {{0, 9, 4, 175}, {0, 80, 2, 967}, {150, 7, 5, 169}};
  for (const TCase& test : cases) {
    SCOPED_TRACE(testing::Message() << test.First << " " << test.Distinct << " " << test.Spread);
    const std::vector<uint8_t> bytes = Skewed(test.First, test.Distinct, test.Spread);
    ASSERT_EQ(StaticBits(bytes), test.Bits);
    ASSERT_EQ(BodyBits(Parse(ChosenBlock(bytes, false)).Blocks.at(0)), test.Bits);
    ASSERT_GT((int64_t(bytes.size()) + 4) * 8, test.Bits);
    const TParsed parsed = Parse(ChosenBlock(bytes, true));
    EXPECT_EQ(parsed.Blocks.at(0).Type, 2);
    EXPECT_EQ(parsed.Output, bytes);
  }
}

TEST(BlockWriter, StoredBlocksOfAFinalBlockSplitAt65535) {
  const std::vector<uint8_t> bytes = NoiseBytes(70000, 77);
  for (bool viaChooser : {false, true}) {
    SCOPED_TRACE(viaChooser);
    const std::vector<uint8_t> packed =
        WriteLiteralBlock(bytes, [viaChooser](TAbDfOutBitStream& bits, TAbDfLZStream& stream) {
          if (viaChooser)
            EmitChosenBlock(true, false, true, nullptr, bits, stream);
          else
            EmitStoredBlocks(true, stream, bits, nullptr, stream.CoveredSize());
        });
    const TParsed parsed = Parse(packed);
    ASSERT_EQ(parsed.Blocks.size(), 2u);
    EXPECT_EQ(parsed.Blocks[0].Type, 0);
    EXPECT_FALSE(parsed.Blocks[0].Final);
    EXPECT_EQ(parsed.Blocks[0].StoredLength, 65535);
    EXPECT_EQ(parsed.Blocks[1].Type, 0);
    EXPECT_TRUE(parsed.Blocks[1].Final);
    EXPECT_EQ(parsed.Blocks[1].StoredLength, 4465);
    EXPECT_EQ(parsed.Output, bytes);
    EXPECT_EQ(packed.size(), 70000u + 10u);
  }
}

TEST(BlockWriter, StoredBlocksResetTheTokenBuffer) {
  const std::vector<uint8_t> bytes = {'a', 'b', 'c'};
  TBytesSource source(bytes);
  TAbDfLZStream stream(source, false, nullptr);
  for (uint8_t b : bytes) stream.PutLiteral(b);
  TMemoryStream dest;
  TAbDfOutBitStream bits(&dest);
  EmitStoredBlocks(false, stream, bits, nullptr, 3);
  EXPECT_EQ(stream.CoveredSize(), 0);
  EXPECT_EQ(stream.LitBuckets()['a'], 0);
  EXPECT_EQ(stream.LitBuckets()[256], 1);
}

TEST(BlockWriter, StaticBlockOfMatchesAndEndOfBlock) {
  // "abcabcabc": a, b, c, then a match of 6 at distance 3.
  const std::vector<uint8_t> bytes = {'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c'};
  TBytesSource source(bytes);
  TAbDfLZStream stream(source, false, nullptr);
  for (int i = 0; i < 3; ++i) stream.PutLiteral(bytes[size_t(i)]);
  stream.PutMatch(6, 3);
  TMemoryStream dest;
  {
    TAbDfOutBitStream bits(&dest);
    EmitStaticBlock(true, false, stream, nullptr, bits);
    bits.Finish();
  }
  const std::vector<uint8_t> packed = BytesOf(dest);
  const TParsed parsed = Parse(packed);
  ASSERT_EQ(parsed.Blocks.size(), 1u);
  EXPECT_EQ(parsed.Blocks[0].Type, 1);
  EXPECT_EQ(parsed.Blocks[0].Tokens,
            (std::vector<TToken>{Lit('a'), Lit('b'), Lit('c'), Match(6, 3)}));
  EXPECT_EQ(BodyBits(parsed.Blocks[0]), stream.StaticBitCount());
}
