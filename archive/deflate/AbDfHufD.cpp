#include "archive/deflate/AbDfHufD.h"

#include <array>

#include "archive/deflate/AbDfBase.h"

namespace {

constexpr int32_t kMaxCodeLength = 15;

uint32_t ReverseBits(uint32_t aCode, int32_t aLength) {
  uint32_t reversed = 0;
  for (int32_t i = 0; i < aLength; ++i) {
    reversed = (reversed << 1) | (aCode & 1);
    aCode >>= 1;
  }
  return reversed;
}

TAbDfDecodeHuffmanTree MakeFixedTree(int32_t aAlphabetSize, const uint8_t* aExtraBits,
                                     int32_t aExtraOffset) {
  std::vector<int32_t> lengths(size_t(aAlphabetSize), 5);
  if (aAlphabetSize == 288) {
    for (int32_t i = 0; i < 288; ++i) {
      if (i <= 143)
        lengths[size_t(i)] = 8;
      else if (i <= 255)
        lengths[size_t(i)] = 9;
      else if (i <= 279)
        lengths[size_t(i)] = 7;
      else
        lengths[size_t(i)] = 8;
    }
  }
  TAbDfDecodeHuffmanTree tree(aAlphabetSize, kMaxCodeLength, huBoth);
  tree.Build(lengths.data(), 0, aAlphabetSize, aExtraBits, aExtraOffset);
  return tree;
}

}  // namespace

bool AbDfCheckPrefixCode(const std::array<int32_t, 16>& aCounts) {
  int32_t left = 1;  // codes still free at the current length
  int32_t used = 0;
  for (int32_t len = 1; len <= kMaxCodeLength; ++len) {
    left = left * 2 - aCounts[size_t(len)];
    used += aCounts[size_t(len)];
    if (left < 0)
      throw EAbInternalInflateError(
          "code lengths are over-subscribed [TAbDfDecodeHuffmanTree.Build]");
  }
  const bool singleOneBitCode = used == 1 && aCounts[1] == 1;
  if (left > 0 && used > 0 && !singleOneBitCode)
    throw EAbInternalInflateError("code lengths are incomplete [TAbDfDecodeHuffmanTree.Build]");
  return left == 0;
}

TAbDfDecodeHuffmanTree::TAbDfDecodeHuffmanTree(int32_t aAlphabetSize, int32_t aDefMaxCodeLen,
                                               int32_t aUsage)
    : FAlphabetSize(aAlphabetSize), FDefMaxCodeLen(aDefMaxCodeLen), FUsage(aUsage) {
  ZASSERT(aAlphabetSize >= 2,
          "TAbDfDecodeHuffmanTree.Create: a huffman tree must be for at least two symbols");
  if (FUsage != huDecoding) FEncodes.assign(size_t(aAlphabetSize), 0);
}

void TAbDfDecodeHuffmanTree::Build(const int32_t* aCodeLengths, int32_t aStartInx, int32_t aCount,
                                   const uint8_t* aExtraBits, int32_t aExtraOffset) {
  ZASSERT(aCount >= 0 && aCount <= FAlphabetSize,
          "TAbDfDecodeHuffmanTree.Build: more code lengths than symbols");
  const int32_t* lengths = aCodeLengths + aStartInx;

  std::array<int32_t, kMaxCodeLength + 1> counts{};
  FLookupBitLength = 0;
  for (int32_t i = 0; i < aCount; ++i) {
    const int32_t len = lengths[i];
    if (len > FDefMaxCodeLen || len < 0 || len > kMaxCodeLength)
      throw EAssertionFailed(
          Format("TAbDfDecodeHuffmanTree.Build: a code length is greater than %d", FDefMaxCodeLen),
          __FILE__, __LINE__);
    if (len == 0) continue;
    ++counts[size_t(len)];
    if (len > FLookupBitLength) FLookupBitLength = len;
  }

  const size_t tableSize = size_t(1) << FLookupBitLength;
  if (FUsage != huEncoding) {
    AbDfCheckPrefixCode(counts);
    FDecodes.assign(tableSize, kAbDfNoCode);
    FMask = ~uint32_t(tableSize - 1);
  }

  // First code of each length (RFC 1951 3.2.2).
  std::array<uint32_t, kMaxCodeLength + 2> nextCode{};
  uint32_t code = 0;
  for (int32_t len = 1; len <= kMaxCodeLength; ++len) {
    code = (code + uint32_t(counts[size_t(len - 1)])) << 1;
    nextCode[size_t(len)] = code;
  }

  for (int32_t i = 0; i < aCount; ++i) {
    const int32_t len = lengths[i];
    if (len == 0) {
      if (FUsage != huDecoding) FEncodes[size_t(i)] = kAbDfNoCode;
      continue;
    }
    const uint32_t reversed = ReverseBits(nextCode[size_t(len)]++, len);
    const uint32_t extra =
        (aExtraBits != nullptr && i >= aExtraOffset) ? aExtraBits[i - aExtraOffset] : 0;
    const uint32_t lenAndExtra = uint32_t(len) << 16 | extra << 24;
    if (FUsage != huDecoding) FEncodes[size_t(i)] = reversed | lenAndExtra;
    if (FUsage != huEncoding) {
      // Over-subscribed lengths are refused above, so the code fits its length.
      const uint32_t entry = uint32_t(i) | lenAndExtra;
      for (size_t index = reversed; index < tableSize; index += size_t(1) << len)
        FDecodes[index] = entry;
    }
  }
}

const TAbDfDecodeHuffmanTree& AbDfFixedLiteralTree() {
  static const TAbDfDecodeHuffmanTree tree = MakeFixedTree(288, dfc_LengthExtraBits.data(), 257);
  return tree;
}

const TAbDfDecodeHuffmanTree& AbDfFixedDistanceTree() {
  static const TAbDfDecodeHuffmanTree tree = MakeFixedTree(32, dfc_DistanceExtraBits.data(), 0);
  return tree;
}
