// Test support for the encoder: a small, slow, independent reader of raw
// Deflate streams (also the Deflate64 forms) that keeps what the encoder
// chose — every block's type, header and tokens — besides the output bytes,
// and helpers to run the encoder on memory.
#pragma once

#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/deflate/AbDfBase.h"
#include "archive/deflate/AbDfEnc.h"
#include "platform/Classes.h"

namespace dfenc {

struct TToken {
  int32_t Length = 0;  // 0: a literal
  int32_t Distance = 0;
  uint8_t Literal = 0;
  bool operator==(const TToken& other) const {
    return Length == other.Length && Distance == other.Distance &&
           (Length != 0 || Literal == other.Literal);
  }
};

inline TToken Lit(uint8_t aByte) {
  return TToken{0, 0, aByte};
}
inline TToken Match(int32_t aLength, int32_t aDistance) {
  return TToken{aLength, aDistance, 0};
}

struct TBlock {
  int Type = 0;  // 0 stored, 1 static, 2 dynamic
  bool Final = false;
  int64_t FirstBit = 0;  // bit offset of the 3 header bits
  int64_t EndBit = 0;    // bit offset after the end-of-block code (stored: after the data)
  int32_t StoredLength = 0;
  int32_t LitCount = 0, DistCount = 0, CodeLenCount = 0;  // dynamic header counts
  std::array<int, 19> CodeLenCodeLengths{};               // by code-length symbol
  std::vector<int> CodeLengths;                           // literal/length then distance
  std::vector<std::pair<int, int>> CodeLenItems;          // code-length symbol, repeat value
  std::vector<TToken> Tokens;
};

struct TParsed {
  std::vector<TBlock> Blocks;
  std::vector<uint8_t> Output;
  std::vector<TToken> AllTokens() const {
    std::vector<TToken> all;
    for (const TBlock& block : Blocks)
      all.insert(all.end(), block.Tokens.begin(), block.Tokens.end());
    return all;
  }
};

namespace detail {

inline constexpr int kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                        15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                        67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr int kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                         2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr int kDistBase[32] = {1,    2,    3,    4,     5,     7,     9,     13,
                                      17,   25,   33,   49,    65,    97,    129,   193,
                                      257,  385,  513,  769,   1025,  1537,  2049,  3073,
                                      4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
inline constexpr int kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                       7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
inline constexpr int kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                   11, 4,  12, 3, 13, 2, 14, 1, 15};

class TBits {
 public:
  explicit TBits(const std::vector<uint8_t>& aData) : FData(aData) {}
  int Bit() {
    if (FPos >= int64_t(FData.size()) * 8) throw std::runtime_error("stream ends early");
    const int bit = (FData[size_t(FPos / 8)] >> (FPos % 8)) & 1;
    ++FPos;
    return bit;
  }
  uint32_t Bits(int aCount) {
    uint32_t value = 0;
    for (int i = 0; i < aCount; ++i) value |= uint32_t(Bit()) << i;
    return value;
  }
  void Align() { FPos = (FPos + 7) / 8 * 8; }
  int64_t Position() const { return FPos; }

 private:
  const std::vector<uint8_t>& FData;
  int64_t FPos = 0;
};

// Canonical code read bit by bit, as in RFC 1951 3.2.2.
class THuffman {
 public:
  explicit THuffman(const std::vector<int>& aLengths) : FCount(16, 0) {
    for (int length : aLengths) ++FCount[size_t(length)];
    std::vector<int> offsets(16, 0);
    for (int len = 1; len < 15; ++len)
      offsets[size_t(len + 1)] = offsets[size_t(len)] + FCount[size_t(len)];
    FSymbols.resize(aLengths.size());
    for (size_t symbol = 0; symbol < aLengths.size(); ++symbol)
      if (aLengths[symbol] != 0)
        FSymbols[size_t(offsets[size_t(aLengths[symbol])]++)] = int(symbol);
  }
  int Decode(TBits& aBits) const {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= 15; ++len) {
      code |= aBits.Bit();
      const int count = FCount[size_t(len)];
      if (code - count < first) return FSymbols[size_t(index + (code - first))];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    throw std::runtime_error("no code matches");
  }

 private:
  std::vector<int> FCount;
  std::vector<int> FSymbols;
};

}  // namespace detail

// Reads a whole raw Deflate stream; std::runtime_error when it is damaged.
inline TParsed Parse(const std::vector<uint8_t>& aData, bool aDeflate64 = false) {
  using namespace detail;
  TParsed parsed;
  TBits bits(aData);
  for (;;) {
    TBlock block;
    block.FirstBit = bits.Position();
    block.Final = bits.Bit() != 0;
    block.Type = int(bits.Bits(2));
    if (block.Type == 3) throw std::runtime_error("block type 3");
    if (block.Type == 0) {
      bits.Align();
      const uint32_t len = bits.Bits(16);
      const uint32_t nlen = bits.Bits(16);
      if ((len ^ 0xFFFF) != nlen) throw std::runtime_error("stored length check");
      block.StoredLength = int32_t(len);
      for (uint32_t i = 0; i < len; ++i) parsed.Output.push_back(uint8_t(bits.Bits(8)));
    } else {
      std::vector<int> litLengths, distLengths;
      if (block.Type == 1) {
        litLengths.assign(288, 8);
        for (int i = 144; i < 256; ++i) litLengths[size_t(i)] = 9;
        for (int i = 256; i < 280; ++i) litLengths[size_t(i)] = 7;
        distLengths.assign(32, 5);
      } else {
        block.LitCount = int32_t(bits.Bits(5)) + 257;
        block.DistCount = int32_t(bits.Bits(5)) + 1;
        block.CodeLenCount = int32_t(bits.Bits(4)) + 4;
        for (int i = 0; i < block.CodeLenCount; ++i)
          block.CodeLenCodeLengths[size_t(kOrder[i])] = int(bits.Bits(3));
        const THuffman codeLenCode(
            std::vector<int>(block.CodeLenCodeLengths.begin(), block.CodeLenCodeLengths.end()));
        std::vector<int>& lengths = block.CodeLengths;
        while (int(lengths.size()) < block.LitCount + block.DistCount) {
          const int symbol = codeLenCode.Decode(bits);
          const int repeat = symbol < 16 ? 0
                                         : int(bits.Bits(symbol == 16   ? 2
                                                         : symbol == 17 ? 3
                                                                        : 7));
          block.CodeLenItems.emplace_back(symbol, repeat);
          if (symbol < 16) {
            lengths.push_back(symbol);
          } else if (symbol == 16) {
            if (lengths.empty()) throw std::runtime_error("repeat without a length");
            lengths.insert(lengths.end(), size_t(3 + repeat), lengths.back());
          } else {
            lengths.insert(lengths.end(), size_t((symbol == 17 ? 3 : 11) + repeat), 0);
          }
        }
        if (int(lengths.size()) != block.LitCount + block.DistCount)
          throw std::runtime_error("code lengths overrun");
        // Built anew, not assigned: GCC 12 at -O3 warns about assign() into
        // an empty vector.
        litLengths = std::vector<int>(lengths.begin(), lengths.begin() + block.LitCount);
        distLengths = std::vector<int>(lengths.begin() + block.LitCount, lengths.end());
      }
      const THuffman litCode(litLengths), distCode(distLengths);
      for (;;) {
        const int symbol = litCode.Decode(bits);
        if (symbol < 256) {
          parsed.Output.push_back(uint8_t(symbol));
          block.Tokens.push_back(Lit(uint8_t(symbol)));
          continue;
        }
        if (symbol == 256) break;
        if (symbol > 285) throw std::runtime_error("length symbol above 285");
        int length;
        if (symbol == 285 && aDeflate64)
          length = 3 + int(bits.Bits(16));
        else
          length = kLengthBase[symbol - 257] + int(bits.Bits(kLengthExtra[symbol - 257]));
        const int distSymbol = distCode.Decode(bits);
        if (distSymbol >= (aDeflate64 ? 32 : 30)) throw std::runtime_error("distance symbol");
        const int distance = kDistBase[distSymbol] + int(bits.Bits(kDistExtra[distSymbol]));
        if (distance > int(parsed.Output.size())) throw std::runtime_error("distance too far");
        for (int i = 0; i < length; ++i)
          parsed.Output.push_back(parsed.Output[parsed.Output.size() - size_t(distance)]);
        block.Tokens.push_back(Match(length, distance));
      }
    }
    block.EndBit = bits.Position();
    parsed.Blocks.push_back(std::move(block));
    if (parsed.Blocks.back().Final) break;
  }
  return parsed;
}

// ------------------------------------------------------------ running the encoder

inline TMemoryStream StreamOf(const std::vector<uint8_t>& aData) {
  TMemoryStream stream;
  if (!aData.empty()) stream.WriteBuffer(aData.data(), int32_t(aData.size()));
  stream.SetPosition(0);
  return stream;
}

inline std::vector<uint8_t> BytesOf(TMemoryStream& aStream) {
  std::vector<uint8_t> bytes(size_t(aStream.Size()));
  aStream.SetPosition(0);
  if (!bytes.empty()) aStream.ReadBuffer(bytes.data(), int32_t(bytes.size()));
  return bytes;
}

// Deflate of `aData` with `aHelper` (null: default options); the checksum in `aChecksum`.
inline std::vector<uint8_t> Compress(const std::vector<uint8_t>& aData, TAbDeflateHelper* aHelper,
                                     uint32_t* aChecksum = nullptr) {
  TMemoryStream source = StreamOf(aData);
  TMemoryStream dest;
  const uint32_t checksum = Deflate(&source, &dest, aHelper);
  if (aChecksum != nullptr) *aChecksum = checksum;
  return BytesOf(dest);
}

// A helper set up as the per-item procedure does: "0", then the level.
inline std::vector<uint8_t> CompressAtLevel(const std::vector<uint8_t>& aData, char aLevel) {
  TAbDeflateHelper helper;
  helper.SelectLevel('0');
  helper.SelectLevel(aLevel);
  return Compress(aData, &helper);
}

// ------------------------------------------------------------ zlib oracle

// Whether Python's zlib inflates each packed stream (raw, wbits −15) to its
// original: one Python process for all pairs. Empty when python3 failed.
inline std::vector<bool> ZlibInflatesAll(
    const std::vector<std::pair<std::vector<uint8_t>, const std::vector<uint8_t>*>>& aPairs) {
  char pattern[] = "/tmp/zelvora_dfenc_zlib_XXXXXX";
  if (mkdtemp(pattern) == nullptr) return {};
  const std::string folder = pattern;
  auto save = [](const std::string& aName, const std::vector<uint8_t>& aBytes) {
    std::ofstream file(aName, std::ios::binary);
    file.write(reinterpret_cast<const char*>(aBytes.data()), std::streamsize(aBytes.size()));
  };
  for (size_t i = 0; i < aPairs.size(); ++i) {
    save(folder + "/" + std::to_string(i) + ".z", aPairs[i].first);
    save(folder + "/" + std::to_string(i) + ".raw", *aPairs[i].second);
  }
  const std::string script =
      "import sys, zlib\n"
      "def ok(i):\n"
      "    z = open('%s/%d.z' % (sys.argv[1], i), 'rb').read()\n"
      "    raw = open('%s/%d.raw' % (sys.argv[1], i), 'rb').read()\n"
      "    try:\n"
      "        d = zlib.decompressobj(-15)\n"
      "        out = d.decompress(z) + d.flush()\n"
      "        return d.eof and not d.unused_data and out == raw\n"
      "    except zlib.error:\n"
      "        return False\n"
      "open(sys.argv[1] + '/result', 'w').write(''.join('1' if ok(i) else '0' "
      "for i in range(int(sys.argv[2]))))\n";
  save(folder + "/check.py", std::vector<uint8_t>(script.begin(), script.end()));
  const std::string command = "python3 " + folder + "/check.py " + folder + " " +
                              std::to_string(aPairs.size()) + " 2>/dev/null";
  std::vector<bool> results;
  if (std::system(command.c_str()) == 0) {
    std::ifstream file(folder + "/result");
    std::string text;
    std::getline(file, text);
    for (char c : text) results.push_back(c == '1');
  }
  std::system(("rm -rf '" + folder + "'").c_str());
  return results;
}

// ------------------------------------------------------------ test data

// Bytes of a 32-bit linear congruential generator.
inline std::vector<uint8_t> NoiseBytes(size_t aSize, uint32_t aSeed) {
  std::vector<uint8_t> bytes(aSize);
  for (uint8_t& b : bytes) {
    aSeed = aSeed * 1664525u + 1013904223u;
    b = uint8_t(aSeed >> 24);
  }
  return bytes;
}

// Bytes in which no 3-byte sequence occurs twice, none is zero, and none of
// the 3-byte sequences of `aAvoid` occurs: input that gives only literals.
inline std::vector<uint8_t> UniqueTriples(size_t aSize, uint32_t aSeed,
                                          const std::vector<uint8_t>& aAvoid = {}) {
  std::vector<bool> seen(1 << 24, false);
  auto key = [](const uint8_t* p) { return size_t(p[0]) << 16 | size_t(p[1]) << 8 | p[2]; };
  for (size_t i = 0; i + 2 < aAvoid.size(); ++i) seen[key(&aAvoid[i])] = true;
  std::vector<uint8_t> bytes;
  while (bytes.size() < aSize) {
    aSeed = aSeed * 1664525u + 1013904223u;
    const uint8_t b = uint8_t(aSeed >> 24);
    if (b == 0) continue;
    bytes.push_back(b);
    const size_t n = bytes.size();
    if (n >= 3) {
      const size_t k = key(&bytes[n - 3]);
      if (seen[k]) {
        bytes.pop_back();
        continue;
      }
      seen[k] = true;
    }
  }
  return bytes;
}

// Text of words from a small vocabulary: many candidates per hash chain.
inline std::vector<uint8_t> WordText(size_t aSize, uint32_t aSeed) {
  static const char* const kWords[] = {"eczane", "ilac",  "recete", "hasta", "doktor", "stok",
                                       "fatura", "kutu",  "tablet", "surup", "krem",   "damla",
                                       "merhem", "iğne",  "kapsul", "doz",   "gunde",  "iki",
                                       "kez",    "sabah", "aksam",  "tok",   "ac",     "karna"};
  std::vector<uint8_t> text;
  while (text.size() < aSize) {
    aSeed = aSeed * 1664525u + 1013904223u;
    const std::string word = kWords[(aSeed >> 16) % (sizeof(kWords) / sizeof(kWords[0]))];
    text.insert(text.end(), word.begin(), word.end());
    text.push_back((aSeed >> 8) % 7 == 0 ? '\n' : ' ');
  }
  text.resize(aSize);
  return text;
}

}  // namespace dfenc
