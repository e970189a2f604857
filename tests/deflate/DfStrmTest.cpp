// The bit writer and reader, the token buffer and the code-length coder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "archive/deflate/AbDfBase.h"
#include "archive/deflate/AbDfHufD.h"
#include "archive/deflate/AbDfStrm.h"
#include "platform/Classes.h"
#include "tests/deflate/PythonZlib.h"

namespace {

// Takes at most `FRoom` bytes in all, then refuses.
class TLimitedStream : public TMemoryStream {
 public:
  explicit TLimitedStream(int32_t room) : FRoom(room) {}
  int32_t Write(const void* buffer, int32_t count) override {
    const int32_t n = std::min(count, FRoom);
    FRoom -= n;
    return TMemoryStream::Write(buffer, n);
  }

 private:
  int32_t FRoom;
};

// Hands out `FChunk` bytes per read at most.
class TTrickleStream : public TMemoryStream {
 public:
  explicit TTrickleStream(int32_t chunk) : FChunk(chunk) {}
  int32_t Read(void* buffer, int32_t count) override {
    return TMemoryStream::Read(buffer, std::min(count, FChunk));
  }

 private:
  int32_t FChunk;
};

// The input window as the token buffer sees it: bytes at input offsets.
class TVectorSource : public TAbDfInputSource {
 public:
  explicit TVectorSource(std::vector<uint8_t> data, int32_t position = 0)
      : FData(std::move(data)), FPosition(position) {}
  int32_t InputPosition() const override { return FPosition; }
  void ReadAt(void* buffer, int32_t count, int32_t offset) override {
    ASSERT_LE(size_t(offset + count), FData.size());
    std::memcpy(buffer, FData.data() + offset, size_t(count));
  }

 private:
  std::vector<uint8_t> FData;
  int32_t FPosition;
};

std::vector<uint8_t> Bytes(TMemoryStream& stream) {
  return stream.Bytes();
}

std::string AssertionText(const std::function<void()>& action) {
  try {
    action();
  } catch (const EAssertionFailed& e) {
    return e.FixedMessage();
  }
  return "no assertion";
}

std::string InflateErrorText(const std::function<void()>& action) {
  try {
    action();
  } catch (const EAbInternalInflateError& e) {
    return e.Message();
  }
  return "no error";
}

TMemoryStream StreamOf(const std::vector<uint8_t>& bytes) {
  TMemoryStream stream;
  stream.Write(bytes.data(), int32_t(bytes.size()));
  stream.SetPosition(0);
  return stream;
}

}  // namespace

// ------------------------------------------------------------ bit writer

TEST(TAbDfOutBitStream, PacksLeastSignificantBitFirst) {
  TMemoryStream out;
  {
    TAbDfOutBitStream bits(&out);
    bits.WriteBits(1, 1);     // 1
    bits.WriteBits(1, 2);     // 01 -> bits 1..2 = 1,0
    bits.WriteBits(0x1F, 5);  // fills the first byte: 1111 1011
    bits.WriteBits(0xABC, 12);
  }
  EXPECT_EQ(Bytes(out), (std::vector<uint8_t>{0xFB, 0xBC, 0x0A}));
}

TEST(TAbDfOutBitStream, ExactWordAndAlignedStreamsAddNoPadding) {
  TMemoryStream out;
  {
    TAbDfOutBitStream bits(&out);
    bits.WriteBits(0xFFFF, 16);
    bits.WriteBits(0x1234, 16);  // exactly 32 bits: the bit buffer is empty again
    bits.WriteBits(0x5A, 8);
    bits.AlignToByte();  // already aligned: nothing added
    bits.Finish();
  }
  EXPECT_EQ(Bytes(out), (std::vector<uint8_t>{0xFF, 0xFF, 0x34, 0x12, 0x5A}));
}

TEST(TAbDfOutBitStream, RoundTripsWithTheBitReader) {
  std::mt19937 random(7);
  struct Item {
    uint32_t bits;
    int32_t count;  // 0: an aligned raw buffer of `bits` bytes follows
  };
  std::vector<Item> items;
  std::vector<std::vector<uint8_t>> buffers;
  TMemoryStream out;
  {
    TAbDfOutBitStream bits(&out);
    for (int i = 0; i < 30000; ++i) {
      if (i % 5000 == 4999) {
        bits.AlignToByte();
        std::vector<uint8_t> raw(size_t(random() % 20000));
        for (uint8_t& b : raw) b = uint8_t(random());
        bits.WriteBuffer(raw.data(), int32_t(raw.size()));
        items.push_back({uint32_t(buffers.size()), 0});
        buffers.push_back(raw);
        continue;
      }
      const int32_t count = int32_t(1 + random() % 16);
      const uint32_t value = random() & ((1u << count) - 1);
      bits.WriteBits(value, count);
      items.push_back({value, count});
    }
  }
  TMemoryStream in = StreamOf(Bytes(out));
  TAbDfInBitStream reader(&in, 0, nullptr);
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].count == 0) {
      reader.AlignToByte();
      std::vector<uint8_t> raw(buffers[items[i].bits].size());
      reader.ReadBuffer(raw.data(), int32_t(raw.size()));
      ASSERT_EQ(raw, buffers[items[i].bits]) << i;
    } else if (i % 3 == 0) {
      const uint32_t peeked = reader.PeekBits(items[i].count);
      reader.DiscardBits(items[i].count);
      ASSERT_EQ(peeked, items[i].bits) << i;
    } else {
      ASSERT_EQ(reader.ReadBits(items[i].count), items[i].bits) << i;
    }
  }
}

TEST(TAbDfOutBitStream, RefusingDestinationRaisesTheInternalError) {
  TLimitedStream out(100);
  TAbDfOutBitStream bits(&out);
  const std::vector<uint8_t> raw(500, 7);
  try {
    bits.WriteBuffer(raw.data(), 500);
    ADD_FAILURE();
  } catch (const EAbInternalDeflateError& e) {
    EXPECT_EQ(e.Message(),
              "could not write to the output atream [TAbDfInBitStream.obsEmptyBuffer]");
  }
}

TEST(TAbDfOutBitStream, ContractViolations) {
  TMemoryStream out;
  TAbDfOutBitStream bits(&out);
  EXPECT_EQ(AssertionText([&] { bits.WriteBits(0, 17); }),
            "TAbDfOutBitStream.WriteBits: aCount should be from 1 to 16");
  EXPECT_EQ(AssertionText([&] { bits.WriteBits(4, 2); }),
            "TAbDfOutBitStream.WriteBits: aBits has more than aCount bits");
  bits.WriteBits(1, 3);
  EXPECT_EQ(AssertionText([&] { bits.WriteBuffer("x", 1); }),
            "TAbDfOutBitStream.WriteBuffer: must be byte aligned");
  EXPECT_EQ(AssertionText([] { TAbDfOutBitStream none(nullptr); }),
            "TAbDfOutBitStream.Create: Cannot create a bit stream wrapping a nil stream");
}

// ------------------------------------------------------------ bit reader

TEST(TAbDfInBitStream, ReadsPeeksAndPutsTheSourceBack) {
  TMemoryStream in = StreamOf({0xAA, 0x55, 0xF0, 0x0F, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
  in.SetPosition(1);  // the compressed data starts at offset 1
  {
    TAbDfInBitStream reader(&in, 0, nullptr);
    EXPECT_TRUE(reader.ReadBit());  // 0x55 = 0101 0101
    EXPECT_FALSE(reader.ReadBit());
    EXPECT_EQ(reader.ReadBits(6), 0x15u);
    EXPECT_EQ(reader.PeekBits(12), 0xFF0u);
    reader.DiscardBits(4);
    EXPECT_EQ(reader.ReadBits(16), 0x20FFu);  // 4 bits of 0xF0, 0x0F, 4 bits of 0x12
    EXPECT_EQ(reader.ReadBits(3), 0x1u);      // 31 bits in all: the partly used 0x12 counts
  }
  EXPECT_EQ(in.Position(), 5);
}

TEST(TAbDfInBitStream, ByteAlignedBuffersAfterBits) {
  TMemoryStream in = StreamOf({0x03, 1, 2, 3, 4, 5, 6, 7});
  TAbDfInBitStream reader(&in, 0, nullptr);
  EXPECT_EQ(reader.ReadBits(2), 3u);
  reader.AlignToByte();
  uint8_t buffer[5];
  reader.ReadBuffer(buffer, 5);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(reader.ReadBits(8), 6u);
  reader.Finish();
  EXPECT_EQ(in.Position(), 7);
}

TEST(TAbDfInBitStream, EndOfDataIsAnErrorNotZeros) {
  // 5 bytes: the last word is padded with three filler bytes.
  const std::vector<uint8_t> data{1, 2, 3, 4, 5};
  {
    TMemoryStream in = StreamOf(data);
    TAbDfInBitStream reader(&in, 0, nullptr);
    EXPECT_EQ(reader.ReadBits(16), 0x0201u);
    EXPECT_EQ(reader.ReadBits(16), 0x0403u);
    EXPECT_EQ(reader.PeekBits(32), 5u) << "filler peeks as zeros";
    reader.DiscardBits(8);
    EXPECT_EQ(InflateErrorText([&] { reader.ReadBit(); }),
              "no more compressed data in stream [TAbDfInBitStream.ReadBit]");
    reader.Finish();
    EXPECT_EQ(in.Position(), 5);
  }
  {
    TMemoryStream in = StreamOf(data);
    TAbDfInBitStream reader(&in, 0, nullptr);
    reader.ReadBits(16);
    reader.ReadBits(16);
    reader.PeekBits(16);
    EXPECT_EQ(InflateErrorText([&] { reader.DiscardBits(16); }),
              "no more compressed data in stream [TAbDfInBitStream.DiscardBits]");
  }
  {
    TMemoryStream in = StreamOf(data);
    TAbDfInBitStream reader(&in, 0, nullptr);
    uint8_t buffer[8];
    EXPECT_EQ(InflateErrorText([&] { reader.ReadBuffer(buffer, 6); }),
              "no more compressed data in stream [TAbDfInBitStream.ReadBuffer]");
  }
  {
    // A peek that finds the source dry must not forget the filler already
    // in the bit buffer: 4 bits of the fifth byte are consumed, so 5 bytes.
    TMemoryStream in = StreamOf({1, 2, 3, 4, 5, 6, 7});
    TAbDfInBitStream reader(&in, 0, nullptr);
    reader.ReadBits(16);
    reader.ReadBits(16);
    EXPECT_EQ(reader.ReadBits(4), 5u);
    EXPECT_EQ(reader.PeekBits(32), 0x7060u);
    reader.Finish();
    EXPECT_EQ(in.Position(), 5);
  }
  {
    TMemoryStream in = StreamOf({});
    TAbDfInBitStream reader(&in, 0, nullptr);
    EXPECT_EQ(InflateErrorText([&] { reader.ReadBits(3); }),
              "no more compressed data in stream [TAbDfInBitStream.ReadBits]");
  }
  {
    TMemoryStream in = StreamOf(data);
    TAbDfInBitStream reader(&in, 0, nullptr);
    EXPECT_EQ(InflateErrorText([&] { reader.ReadBits(17); }),
              "count of bits must be between 1 and 16 inclusive [TAbDfInBitStream.ReadBits]");
    reader.PeekBits(8);
    EXPECT_EQ(AssertionText([&] { reader.DiscardBits(9); }),
              "TAbDfInBitStream.DiscardBits: discarding more bits than peeked");
  }
}

TEST(TAbDfInBitStream, SourcesThatTrickleAreReadWhole) {
  std::vector<uint8_t> data(40000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + i / 256);
  for (int32_t chunk : {1, 3, 5, 16384}) {
    SCOPED_TRACE(chunk);
    TTrickleStream in(chunk);
    in.Write(data.data(), int32_t(data.size()));
    in.SetPosition(0);
    TAbDfInBitStream reader(&in, 0, nullptr);
    for (size_t i = 0; i < 1000; ++i) ASSERT_EQ(reader.ReadBits(8), data[i]);
    std::vector<uint8_t> rest(data.size() - 1001);
    reader.ReadBuffer(rest.data(), int32_t(rest.size()));
    ASSERT_TRUE(std::equal(rest.begin(), rest.end(), data.begin() + 1000));
    reader.Finish();
    EXPECT_EQ(in.Position(), int64_t(data.size()) - 1);
  }
}

TEST(TAbDfInBitStream, ReportsProgressPerBufferFill) {
  std::vector<uint8_t> data(40000, 0x11);
  TMemoryStream in = StreamOf(data);
  std::vector<int> reports;
  TAbDfInBitStream reader(&in, 30000, [&reports](uint8_t percent) { reports.push_back(percent); });
  std::vector<uint8_t> all(data.size());
  reader.ReadBuffer(all.data(), int32_t(all.size()));
  // 16384/30000 = 54.6%, 32768/30000 and 40000/30000 go past the end: 100.
  EXPECT_EQ(reports, (std::vector<int>{55, 100, 100}));
}

// ------------------------------------------------------------ code lengths

TEST(TAbDfCodeLenStream, RunLengthCodesAsRfc1951) {
  std::vector<int32_t> lengths(140, 0);
  lengths.insert(lengths.end(), 7, 8);
  lengths.insert(lengths.end(), {3, 3, 5, 5, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  TAbDfCodeLenStream stream;
  stream.Build(lengths.data(), int32_t(lengths.size()));
  std::array<int32_t, 19> expected{};
  expected[0] = 2;   // 140 zeros: 18 (127) then two single zeros
  expected[18] = 2;  // ... and the final run of 15 zeros: 18 (4)
  expected[8] = 1;   // 7 × 8: a single 8, then 16 (3)
  expected[16] = 1;
  expected[3] = 2;  // a pair stays two single lengths
  expected[5] = 3;  // a run of three: the value, then two singles
  EXPECT_EQ(stream.Buckets(), expected);

  // Encode with a code for the used symbols and read the items back.
  std::vector<int32_t> codeLengths(19, 0);
  for (int symbol : {0, 3, 5, 8, 16, 18}) codeLengths[size_t(symbol)] = 3;
  codeLengths[0] = 2;
  codeLengths[3] = 2;
  TAbDfDecodeHuffmanTree tree(19, 7, huBoth);
  tree.Build(codeLengths.data(), 0, 19, nullptr, 19);
  TMemoryStream out;
  {
    TAbDfOutBitStream bits(&out);
    stream.Encode(bits, tree);
  }
  TMemoryStream in = StreamOf(Bytes(out));
  TAbDfInBitStream reader(&in, 0, nullptr);
  std::vector<int32_t> decoded;
  while (decoded.size() < lengths.size()) {
    const uint32_t entry = tree.Decode(reader.PeekBits(tree.LookupBitLength()));
    reader.DiscardBits(int32_t(entry >> 16 & 0xFF));
    const int32_t symbol = int32_t(entry & 0xFFFF);
    if (symbol < 16) {
      decoded.push_back(symbol);
    } else if (symbol == 16) {
      decoded.insert(decoded.end(), 3 + reader.ReadBits(2), decoded.back());
    } else if (symbol == 17) {
      decoded.insert(decoded.end(), 3 + reader.ReadBits(3), 0);
    } else {
      decoded.insert(decoded.end(), 11 + reader.ReadBits(7), 0);
    }
  }
  EXPECT_EQ(decoded, lengths);
}

// ------------------------------------------------------------ token buffer

TEST(TAbDfLZStream, CountsSymbolsAndCoveredBytes) {
  TVectorSource source({}, 100);
  TAbDfLZStream lz(source, false, nullptr);
  EXPECT_EQ(lz.LitBuckets()[256], 1);
  EXPECT_EQ(lz.StaticBitCount(), 7) << "an empty block is its end-of-block code";
  EXPECT_FALSE(lz.PutLiteral('A'));
  EXPECT_FALSE(lz.PutLiteral(200));
  EXPECT_FALSE(lz.PutMatch(3, 1));
  EXPECT_FALSE(lz.PutMatch(258, 32768));
  EXPECT_FALSE(lz.PutMatch(11, 5));
  EXPECT_EQ(lz.CoveredSize(), 2 + 3 + 258 + 11);
  EXPECT_EQ(lz.LitBuckets()['A'], 1);
  EXPECT_EQ(lz.LitBuckets()[257], 1);
  EXPECT_EQ(lz.LitBuckets()[285], 1);
  EXPECT_EQ(lz.LitBuckets()[265], 1);
  EXPECT_EQ(lz.DistBuckets()[0], 1);
  EXPECT_EQ(lz.DistBuckets()[29], 1);
  EXPECT_EQ(lz.DistBuckets()[4], 1);
  // 8 + 9 + 7 (EOB) + (7+5) + (8+5+13) + (7+1+5+1)
  EXPECT_EQ(lz.StaticBitCount(), 8 + 9 + 7 + 12 + 26 + 14);
  // (3 × 13 + 2 × 8 + extra bits of distance symbols 4 and up: 13 + 1) / 8
  EXPECT_EQ(lz.QuickEstimate(), (39 + 16 + 14) / 8);
}

TEST(TAbDfLZStream, Deflate64LongLengthCostsSixteenExtraBits) {
  TVectorSource source({});
  TAbDfLZStream lz(source, true, nullptr);
  lz.PutMatch(300, 40000);
  EXPECT_EQ(lz.StaticBitCount(), 7 + 24 + 5 + 14);
  TMemoryStream out;
  {
    TAbDfOutBitStream bits(&out);
    lz.Encode(bits, AbDfFixedLiteralTree(), AbDfFixedDistanceTree(), true);
  }
  TMemoryStream in = StreamOf(Bytes(out));
  TAbDfInBitStream reader(&in, 0, nullptr);
  const TAbDfDecodeHuffmanTree& lit = AbDfFixedLiteralTree();
  uint32_t entry = lit.Decode(reader.PeekBits(9));
  reader.DiscardBits(int32_t(entry >> 16 & 0xFF));
  EXPECT_EQ(entry & 0xFFFF, 285u);
  EXPECT_EQ(reader.ReadBits(16), 297u);
  entry = AbDfFixedDistanceTree().Decode(reader.PeekBits(5));
  reader.DiscardBits(5);
  EXPECT_EQ(entry & 0xFFFF, 30u);
  EXPECT_EQ(reader.ReadBits(14), uint32_t(40000 - 32769));
}

TEST(TAbDfLZStream, BlockEndsEarlyOnlyWhenLiteralsDominateAndItCompressesWell) {
  TVectorSource source({});
  TAbDfLZStream lz(source, false, nullptr);
  for (int i = 0; i < 4097; ++i) ASSERT_FALSE(lz.PutLiteral(uint8_t(i)));
  for (int i = 0; i < 4094; ++i) ASSERT_FALSE(lz.PutMatch(258, 1));
  EXPECT_TRUE(lz.PutMatch(258, 1)) << "token 8,192";

  lz.Reset();
  for (int i = 0; i < 8191; ++i) ASSERT_FALSE(lz.PutLiteral('x'));
  EXPECT_FALSE(lz.PutLiteral('x')) << "literals only never compress to half";

  lz.Reset();
  for (int i = 1; i < 32768; ++i) ASSERT_FALSE(lz.PutMatch(258, 1)) << i;
  EXPECT_TRUE(lz.PutMatch(258, 1)) << "matches only run to 32,768 tokens";
  // The encoder may add a few tokens to a full block before acting on it.
  EXPECT_TRUE(lz.PutMatch(258, 1));
  EXPECT_TRUE(lz.PutLiteral(1));
}

TEST(TAbDfLZStream, RawBytesOfEachBlockFollowTheCoveredSizes) {
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
  TVectorSource source(data, 10);
  TAbDfLZStream lz(source, false, nullptr);
  lz.PutLiteral(10);
  lz.PutMatch(20, 1);
  uint8_t raw[21];
  lz.ReadRawBlock(raw, 5);
  lz.ReadRawBlock(raw + 5, 16);
  for (int i = 0; i < 21; ++i) ASSERT_EQ(raw[i], 10 + i);
  lz.Reset();
  lz.Reset();  // a second reset without tokens changes nothing
  lz.PutLiteral(31);
  lz.ReadRawBlock(raw, 1);
  EXPECT_EQ(raw[0], 31);
}

TEST(TAbDfLZStream, FixedBlockDecodesWithPythonZlib) {
  if (!pyzlib::Available()) GTEST_SKIP() << "python3 with zlib is not available";
  // "abcabcabc..." and a long run, as literals and matches of every length class.
  std::vector<uint8_t> expected;
  TVectorSource source({});
  TAbDfLZStream lz(source, false, nullptr);
  for (uint8_t c : std::initializer_list<uint8_t>{'a', 'b', 'c', 0, 255, 144}) {
    lz.PutLiteral(c);
    expected.push_back(c);
  }
  std::mt19937 random(3);
  for (int i = 0; i < 3000; ++i) {
    const int32_t length = int32_t(3 + random() % 256);
    const int32_t distance = int32_t(1 + random() % std::min<size_t>(expected.size(), 32768));
    lz.PutMatch(length, distance);
    for (int32_t k = 0; k < length; ++k)
      expected.push_back(expected[expected.size() - size_t(distance)]);
    const uint8_t literal = uint8_t(random());
    lz.PutLiteral(literal);
    expected.push_back(literal);
  }
  TMemoryStream out;
  {
    TAbDfOutBitStream bits(&out);
    bits.WriteBits(1, 1);  // BFINAL
    bits.WriteBits(1, 2);  // BTYPE: fixed codes
    lz.Encode(bits, AbDfFixedLiteralTree(), AbDfFixedDistanceTree(), false);
    const uint32_t eob = AbDfFixedLiteralTree().Encode(256);
    bits.WriteBits(eob & 0xFFFF, int32_t(eob >> 16 & 0xFF));
  }
  // Header bits plus the counted bits (end-of-block included), rounded up to bytes.
  EXPECT_EQ(int64_t(Bytes(out).size()), (3 + lz.StaticBitCount() + 7) / 8);
  bool ok = false;
  EXPECT_EQ(pyzlib::Decompress(Bytes(out), ok), expected);
  EXPECT_TRUE(ok);
}
