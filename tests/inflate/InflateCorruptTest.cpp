// Damaged streams, built field by field: each must fail as an inflate data
// error, and random damage to valid streams must never do worse.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "archive/inflate/AbDfDec.h"
#include "tests/deflate/PythonZlib.h"
#include "tests/inflate/InflateSupport.h"

using namespace inflate_test;

namespace {

const std::string kPrefix =
    "Corvel inflate error, possibly a corrupted compressed stream. (Internal cause: ";

// A dynamic block header: BFINAL 1, BTYPE 10, HLIT, HDIST, HCLEN and the
// code-length code lengths in their sending order.
void DynamicHeader(TBitWriter& w, uint32_t hlit, uint32_t hdist,
                   const std::vector<uint32_t>& clens) {
  w.Bits(1, 1);                           // BFINAL
  w.Bits(2, 2);                           // BTYPE: dynamic
  w.Bits(hlit - 257, 5);                  // HLIT
  w.Bits(hdist - 1, 5);                   // HDIST
  w.Bits(uint32_t(clens.size() - 4), 4);  // HCLEN
  for (uint32_t len : clens) w.Bits(len, 3);
}

struct TCorruptCase {
  const char* name;
  std::function<std::vector<uint8_t>()> build;
  const char* cause;  // the internal cause; null: any "no more compressed data" cause
};

}  // namespace

TEST(InflateCorrupt, CraftedStreamsFailAsDataErrors) {
  const std::vector<TCorruptCase> cases = {
      {"block type 3",
       [] {
         return TBitWriter()
             .Bits(1, 1)  // BFINAL
             .Bits(3, 2)  // BTYPE: reserved
             .Bytes();
       },
       "starting new block, but invalid block type [Inflate]"},
      {"stored LEN/NLEN mismatch",
       [] {
         return TBitWriter()
             .Bits(1, 1)   // BFINAL
             .Bits(0, 2)   // BTYPE: stored
             .Align()      // to the byte boundary
             .Bits(5, 16)  // LEN
             .Bits(5, 16)  // NLEN: should be 0xFFFA
             .Bits(0, 16)
             .Bytes();
       },
       "invalid stored block (length and NOT length do not match) [InflateStoredBlock]"},
      {"stored block longer than the input",
       [] {
         return TBitWriter()
             .Bits(1, 1)  // BFINAL
             .Bits(0, 2)  // BTYPE: stored
             .Align()
             .Bits(10, 16)           // LEN 10
             .Bits(10 ^ 0xFFFF, 16)  // NLEN
             .Byte('a')              // only one of the ten bytes
             .Bytes();
       },
       "no more compressed data in stream [TAbDfInBitStream.ReadBuffer]"},
      {"over-subscribed code-length code",
       [] {
         TBitWriter w;
         DynamicHeader(w, 257, 1, std::vector<uint32_t>(19, 1));  // 19 codes of 1 bit
         return w.Bytes();
       },
       "code lengths are over-subscribed [TAbDfDecodeHuffmanTree.Build]"},
      {"over-subscribed literal/length code",
       [] {
         TBitWriter w;
         // Code-length code: 18 and 0 of 2 bits, 1 of 1 bit (orders 16,17,18,0,...,1).
         std::vector<uint32_t> clens(18, 0);
         clens[2] = 2;   // symbol 18
         clens[3] = 2;   // symbol 0
         clens[17] = 1;  // symbol 1
         DynamicHeader(w, 257, 1, clens);
         for (int i = 0; i < 258; ++i) w.Code(0, 1);  // every length 1
         return w.Bytes();
       },
       "code lengths are over-subscribed [TAbDfDecodeHuffmanTree.Build]"},
      {"incomplete literal/length code",
       [] {
         TBitWriter w;
         // Code-length code: 0, 1, 2 and 18 with 2 bits each: codes 00, 01, 10, 11.
         std::vector<uint32_t> clens(18, 0);
         clens[2] = 2;   // symbol 18
         clens[3] = 2;   // symbol 0
         clens[15] = 2;  // symbol 2
         clens[17] = 2;  // symbol 1
         DynamicHeader(w, 257, 1, clens);
         w.Code(1, 2);               // literal 0: length 1
         w.Code(3, 2).Bits(127, 7);  // 138 zeros
         w.Code(3, 2).Bits(106, 7);  // 117 zeros: literals 1..255
         w.Code(2, 2);               // end of block: length 2 (lengths 1 and 2 leave a hole)
         w.Code(1, 2);               // the one distance code: length 1 (allowed)
         return w.Bytes();
       },
       "code lengths are incomplete [TAbDfDecodeHuffmanTree.Build]"},
      {"repeat code 16 first",
       [] {
         TBitWriter w;
         // Code-length code: 16 and 0 of 1 bit each (orders 16,17,18,0).
         DynamicHeader(w, 257, 1, {1, 0, 0, 1});
         w.Code(1, 1);  // symbol 16 (code 1): nothing to repeat
         w.Bits(0, 2);  // its repeat count
         return w.Bytes();
       },
       "repeat code 16 with no previous length {ReadLitDistCodeLengths}"},
      {"repeat past the last code length",
       [] {
         TBitWriter w;
         DynamicHeader(w, 257, 1, {0, 0, 1, 1});  // 18 (code 1) and 0 (code 0)
         w.Code(1, 1).Bits(127, 7);               // 138 zeros
         w.Code(1, 1).Bits(127, 7);               // 276
         return w.Bytes();
       },
       "repeat code runs past the last code length {ReadLitDistCodeLengths}"},
      {"code-length code without codes",
       [] {
         TBitWriter w;
         DynamicHeader(w, 257, 1, {0, 0, 0, 0});
         w.Bits(0, 16);
         return w.Bytes();
       },
       "decoded a symbol not between 0 and 18 {ReadLitDistCodeLengths}"},
      {"HLIT above 286",
       [] {
         TBitWriter w;
         DynamicHeader(w, 287, 1, {0, 0, 1, 1});
         return w.Bytes();
       },
       "count of literal codes in dynamic block is greater than 286 [InflateDynamicBlock]"},
      {"HDIST above 30",
       [] {
         TBitWriter w;
         DynamicHeader(w, 257, 31, {0, 0, 1, 1});
         return w.Bytes();
       },
       "count of distance codes in dynamic block is greater than 30 [InflateDynamicBlock]"},
      {"distance before the start of the output",
       [] {
         TBitWriter w;
         w.Bits(1, 1).Bits(1, 2);  // BFINAL, BTYPE: fixed
         FixedLiteral(w, 'a');     // one byte decoded
         FixedLiteral(w, 257);     // length 3
         w.Code(1, 5);             // distance 2
         FixedLiteral(w, 256);
         return w.Bytes();
       },
       "distance is too far back [TAbDfOutputWindow.PutMatch]"},
      {"match as the very first symbol",
       [] {
         TBitWriter w;
         w.Bits(1, 1).Bits(1, 2);  // BFINAL, BTYPE: fixed
         FixedLiteral(w, 258);     // length 4
         w.Code(0, 5);             // distance 1, with nothing decoded
         FixedLiteral(w, 256);
         return w.Bytes();
       },
       "distance is too far back [TAbDfOutputWindow.PutMatch]"},
      {"length symbol 286 in a fixed block",
       [] {
         TBitWriter w;
         w.Bits(1, 1).Bits(1, 2);  // BFINAL, BTYPE: fixed
         FixedLiteral(w, 286);
         return w.Bytes();
       },
       "decoded an invalid length symbol: greater than 285 [DecodeData]"},
      {"length symbol 287 in a fixed block",
       [] {
         TBitWriter w;
         w.Bits(1, 1).Bits(1, 2);
         FixedLiteral(w, 'x');
         FixedLiteral(w, 287);
         return w.Bytes();
       },
       "decoded an invalid length symbol: greater than 285 [DecodeData]"},
      {"distance symbol 30 in plain Deflate",
       [] {
         TBitWriter w;
         w.Bits(1, 1).Bits(1, 2);
         FixedLiteral(w, 'x');
         FixedLiteral(w, 257);
         w.Code(30, 5);
         w.Bits(0, 14);
         return w.Bytes();
       },
       "decoded an invalid distance symbol: greater than 29 [DecodeData]"},
      {"fixed block without its end",
       [] {
         TBitWriter w;
         w.Bits(1, 1).Bits(1, 2);
         for (char c : std::string("no end of block")) FixedLiteral(w, uint8_t(c));
         return w.Bytes();
       },
       nullptr},
      {"non-final block and nothing after it",
       [] {
         TBitWriter w;
         w.Bits(0, 1).Bits(1, 2);  // BFINAL 0, fixed
         FixedLiteral(w, 256);
         return w.Bytes();
       },
       nullptr},
      {"empty input", [] { return std::vector<uint8_t>(); }, nullptr},
  };
  for (const TCorruptCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> stream = c.build();
    try {
      InflateBytes(stream);
      ADD_FAILURE() << "accepted";
    } catch (const EAbInflateError& e) {
      const std::string message = e.what();
      if (c.cause != nullptr)
        EXPECT_EQ(message, kPrefix + c.cause + ")");
      else
        EXPECT_EQ(message.rfind(kPrefix + "no more compressed data in stream [", 0), 0u) << message;
    }
  }
}

TEST(InflateCorrupt, EveryTruncationOfAValidStreamFails) {
  if (!pyzlib::Available()) GTEST_SKIP() << "python3 with zlib is not available";
  std::vector<uint8_t> data(30000);
  std::mt19937 random(8);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = i > 100 && random() % 2 ? data[i - 1 - random() % 100] : uint8_t('a' + random() % 8);
  for (int level : {0, 1, 9}) {
    SCOPED_TRACE(level);
    const std::vector<uint8_t> full = pyzlib::Compress(data, level);
    for (size_t cut = 0; cut < full.size(); cut += 1 + cut / 64) {
      const std::vector<uint8_t> part(full.begin(), full.begin() + long(cut));
      try {
        InflateBytes(part);
        ADD_FAILURE() << "a stream cut to " << cut << " of " << full.size()
                      << " bytes was accepted";
      } catch (const EAbInflateError&) {
      }
    }
  }
}

// Random damage to valid streams: the decoder may succeed or report corrupt
// data, but never fail otherwise (no assertion, no crash under sanitizers).
TEST(InflateCorrupt, RandomMutationsNeverCrash) {
  std::vector<std::vector<uint8_t>> seeds;
  std::mt19937 random(2024);
  std::vector<uint8_t> data(6000);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = i > 50 && random() % 3 ? data[i - 1 - random() % 50] : uint8_t(random() % 40);
  if (pyzlib::Available()) {
    for (int level : {0, 1, 6, 9}) seeds.push_back(pyzlib::Compress(data, level));
    seeds.push_back(pyzlib::Compress(data, 9, 4));  // fixed codes
  }
  // Deflate64 entries of the fixture archive, truncated to keep the loop short.
  const std::vector<uint8_t> zip = ReadTestData("deflate64.zip");
  if (zip.size() > 200) seeds.emplace_back(zip.begin() + 37, zip.begin() + 37 + 3000);
  TBitWriter fixed;
  fixed.Bits(1, 1).Bits(1, 2);
  for (char c : std::string("abcabcabcabc")) FixedLiteral(fixed, uint8_t(c));
  FixedLiteral(fixed, 256);
  seeds.push_back(fixed.Bytes());

  int accepted = 0;
  int refused = 0;
  for (size_t s = 0; s < seeds.size(); ++s) {
    for (int round = 0; round < 400; ++round) {
      std::vector<uint8_t> stream = seeds[s];
      const int edits = 1 + int(random() % 4);
      for (int e = 0; e < edits && !stream.empty(); ++e) {
        const size_t at = random() % stream.size();
        switch (random() % 4) {
          case 0:
            stream[at] ^= uint8_t(1u << (random() % 8));
            break;
          case 1:
            stream[at] = uint8_t(random());
            break;
          case 2:
            stream.resize(at);
            break;
          default:
            stream.insert(stream.begin() + long(at), uint8_t(random()));
            break;
        }
      }
      for (bool deflate64 : {false, true}) {
        TAbDeflateHelper helper;
        if (deflate64) helper.SetOptions(helper.Options() | dfoDeflate64);
        try {
          InflateBytes(stream, &helper);
          ++accepted;
        } catch (const EAbInflateError&) {
          ++refused;
        } catch (const std::exception& e) {
          FAIL() << "seed " << s << ", round " << round << ": " << e.what();
        }
      }
    }
  }
  EXPECT_GT(refused, 0);
  RecordProperty("accepted", accepted);
}

// The control for the crafted headers above: the same fields, made
// consistent, decode.
TEST(InflateCorrupt, HandBuiltDynamicBlockDecodes) {
  TBitWriter w;
  std::vector<uint32_t> clens(18, 0);
  clens[2] = 2;   // symbol 18: code 11
  clens[3] = 2;   // symbol 0: code 00
  clens[15] = 2;  // symbol 2: code 10
  clens[17] = 2;  // symbol 1: code 01
  DynamicHeader(w, 257, 1, clens);
  w.Code(1, 2);               // literal 0: length 1
  w.Code(3, 2).Bits(127, 7);  // 138 zeros
  w.Code(3, 2).Bits(106, 7);  // 117 zeros: literals 1..255
  w.Code(1, 2);               // end of block: length 1
  w.Code(1, 2);               // the one distance code: length 1
  w.Code(0, 1);               // literal 0
  w.Code(0, 1);               // literal 0
  w.Code(1, 1);               // end of block
  EXPECT_EQ(InflateBytes(w.Bytes()).output, (std::vector<uint8_t>{0, 0}));
}
