// Canonical Huffman codes of RFC 1951: code lengths to an encoding table
// (symbol to code) and a decoding table (next input bits to symbol), and the
// two fixed code tables.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/SysUtils.h"

// Usage of a tree.
enum : int32_t { huEncoding = 0, huDecoding = 1, huBoth = 2 };

// Entry layout in both tables: bits 0..15 the code bit-reversed (encoding) or
// the symbol (decoding), bits 16..23 the code length, bits 24..31 the number
// of extra bits of the symbol. Unused symbols and unreachable lookups hold
// kAbDfNoCode.
constexpr uint32_t kAbDfNoCode = 0xFFFFFFFF;

class TAbDfDecodeHuffmanTree {
 public:
  // At least two symbols; `aDefMaxCodeLen` is the longest length Build takes.
  TAbDfDecodeHuffmanTree(int32_t aAlphabetSize, int32_t aDefMaxCodeLen, int32_t aUsage);

  // Symbol i takes the length aCodeLengths[aStartInx + i], i < aCount; its
  // extra-bit count is aExtraBits[i − aExtraOffset] when i >= aExtraOffset
  // (aExtraBits may be null when no symbol has extra bits).
  // A tree that decodes refuses lengths that are not a complete prefix code
  // with EAbInternalInflateError: over-subscribed ones always, incomplete ones
  // unless no code or a single code of length 1 is present (RFC 1951 allows
  // one distance code; the encoder may send one literal/length code too).
  void Build(const int32_t* aCodeLengths, int32_t aStartInx, int32_t aCount,
             const uint8_t* aExtraBits, int32_t aExtraOffset);

  // The encoding entry of a used symbol.
  // The encoding entries of every symbol (kAbDfNoCode where unused), for
  // coders that look up many symbols of one alphabet.
  const uint32_t* Encodes() const { return FEncodes.data(); }
  uint32_t Encode(int32_t aSymbol) const {
    ZASSERT(aSymbol >= 0 && aSymbol < FAlphabetSize,
            "TAbDfDecodeHuffmanTree.Encode: trying to encode a symbol that is not in the alphabet");
    const uint32_t entry = FEncodes[size_t(aSymbol)];
    ZASSERT(entry != kAbDfNoCode,
            "TAbDfDecodeHuffmanTree.Encode: trying to encode a symbol that was not used");
    return entry;
  }
  // The decoding entry of the next LookupBitLength input bits (first bit in
  // the least significant position); kAbDfNoCode where no code fits.
  uint32_t Decode(uint32_t aLookupBits) const {
    ZASSERT((aLookupBits & FMask) == 0,
            "TAbDfDecodeHuffmanTree.Decode: trying to decode too many bits, use LookupBitLength "
            "property");
    return FDecodes[aLookupBits];
  }
  // The longest code length of the last Build.
  int32_t LookupBitLength() const { return FLookupBitLength; }
  int32_t AlphabetSize() const { return FAlphabetSize; }

 private:
  int32_t FAlphabetSize;
  std::vector<uint32_t> FDecodes;
  int32_t FDefMaxCodeLen;
  std::vector<uint32_t> FEncodes;
  uint32_t FMask = 0xFFFFFFFF;
  int32_t FLookupBitLength = 0;
  int32_t FUsage;
};

// Kraft check of code lengths counted per length (index 1 to 15): a set that
// needs more codes than there are raises, and so does an incomplete one (holes
// only damaged data reaches) unless it has no code or a single 1-bit code.
// True when every bit pattern starts a code.
bool AbDfCheckPrefixCode(const std::array<int32_t, 16>& aCounts);

// The fixed code tables of RFC 1951 (288 literal/length symbols, 32 distance
// symbols), built on first use and never changed.
const TAbDfDecodeHuffmanTree& AbDfFixedLiteralTree();
const TAbDfDecodeHuffmanTree& AbDfFixedDistanceTree();
