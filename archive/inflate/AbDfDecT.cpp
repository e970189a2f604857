#include "archive/inflate/AbDfDecT.h"

#include <algorithm>
#include <array>

#include "archive/deflate/AbDfBase.h"
#include "archive/deflate/AbDfHufD.h"

namespace {

constexpr int32_t kMaxCodeLength = 15;
constexpr int32_t kMaxFirstBits = 10;

uint32_t MakeEntry(uint32_t aKind, uint32_t aValue, int32_t aLength, int32_t aExtra) {
  return aValue << 16 | aKind | uint32_t(aLength) << 8 | uint32_t(aLength + aExtra);
}

uint32_t MakeTableEntry(uint32_t aOffset, int32_t aIndexBits) {
  return aOffset << 16 | kDfEntryTable | uint32_t(aIndexBits);
}

const uint32_t kInvalidEntry = kDfEntryInvalid | 0xFFFF0000u;

// The low `aLength` bits of `aCode` in reverse order.
uint32_t ReverseBits(uint32_t aCode, int32_t aLength) {
  uint32_t x = aCode;
  x = (x >> 1 & 0x5555) | (x & 0x5555) << 1;
  x = (x >> 2 & 0x3333) | (x & 0x3333) << 2;
  x = (x >> 4 & 0x0F0F) | (x & 0x0F0F) << 4;
  x = (x >> 8 & 0x00FF) | (x & 0x00FF) << 8;
  return x >> (16 - aLength);
}

using TLengthCounts = std::array<int32_t, kMaxCodeLength + 1>;

constexpr size_t kMaxSymbols = 320;
using TCodes = std::array<uint32_t, kMaxSymbols>;

// The canonical code of every symbol (RFC 1951 3.2.2), bit-reversed so that
// its first bit is the least significant.
void ReversedCodes(const int32_t* aLengths, int32_t aCount, const TLengthCounts& aCounts,
                   TCodes& aCodes) {
  std::array<uint32_t, kMaxCodeLength + 1> nextCode{};
  uint32_t code = 0;
  for (int32_t len = 1; len <= kMaxCodeLength; ++len) {
    code = (code + uint32_t(aCounts[size_t(len - 1)])) << 1;
    nextCode[size_t(len)] = code;
  }
  for (int32_t i = 0; i < aCount; ++i) {
    const int32_t len = aLengths[i];
    aCodes[size_t(i)] = len > 0 ? ReverseBits(nextCode[size_t(len)]++, len) : 0;
  }
}

// Stores `aEntry` at every index of a table of 2^aTableBits entries at
// `aTable` whose low `aLength` bits are `aCode`.
void Replicate(uint32_t* aTable, int32_t aTableBits, uint32_t aCode, int32_t aLength,
               uint32_t aEntry) {
  for (uint32_t index = aCode; index < (uint32_t(1) << aTableBits); index += uint32_t(1) << aLength)
    aTable[index] = aEntry;
}

TAbDfDecodeTable MakeFixedTable(TAbDfAlphabet aAlphabet, bool aDeflate64) {
  const bool literals = aAlphabet == TAbDfAlphabet::LiteralLengths;
  const int32_t count = literals ? 288 : 32;
  std::vector<int32_t> lengths(size_t(count), 5);
  if (literals) {
    for (int32_t i = 0; i < count; ++i)
      lengths[size_t(i)] = i <= 143 ? 8 : i <= 255 ? 9 : i <= 279 ? 7 : 8;
  }
  TAbDfDecodeTable table(literals ? kDfLiteralFirstBits : kDfDistanceFirstBits);
  table.Build(lengths.data(), count, aAlphabet, aDeflate64);
  return table;
}

}  // namespace

TAbDfDecodeTable::TAbDfDecodeTable(int32_t aFirstBits)
    : FFirstBits(aFirstBits), FFirstMask((uint64_t(1) << aFirstBits) - 1) {
  ZASSERT(aFirstBits >= 1 && aFirstBits <= kMaxFirstBits,
          "TAbDfDecodeTable.Create: first-level bits out of range");
}

uint32_t TAbDfDecodeTable::SymbolEntry(int32_t aSymbol, int32_t aLength, TAbDfAlphabet aAlphabet,
                                       bool aDeflate64) const {
  switch (aAlphabet) {
    case TAbDfAlphabet::CodeLengths:
      return MakeEntry(kDfEntryPlain, uint32_t(aSymbol), aLength, 0);
    case TAbDfAlphabet::LiteralLengths:
      if (aSymbol < 256) return MakeEntry(kDfEntryLiteral, uint32_t(aSymbol), aLength, 0);
      if (aSymbol == 256) return MakeEntry(kDfEntryEnd, 0, aLength, 0);
      if (aSymbol > 285) return kInvalidEntry;
      // Plain Deflate's 285 is length 258 without extra bits.
      if (aSymbol == 285 && !aDeflate64) return MakeEntry(kDfEntryPlain, 258, aLength, 0);
      return MakeEntry(kDfEntryPlain, uint32_t(dfc_LengthBase[size_t(aSymbol - 257)]), aLength,
                       dfc_LengthExtraBits[size_t(aSymbol - 257)]);
    case TAbDfAlphabet::Distances:
      if (aSymbol > (aDeflate64 ? 31 : 29)) return kInvalidEntry;
      return MakeEntry(kDfEntryPlain, uint32_t(dfc_DistanceBase[size_t(aSymbol)]), aLength,
                       dfc_DistanceExtraBits[size_t(aSymbol)]);
  }
  return kInvalidEntry;
}

void TAbDfDecodeTable::Build(const int32_t* aLengths, int32_t aCount, TAbDfAlphabet aAlphabet,
                             bool aDeflate64) {
  TLengthCounts counts{};
  FLookupBitLength = 0;
  for (int32_t i = 0; i < aCount; ++i) {
    const int32_t len = aLengths[i];
    ZASSERT(len >= 0 && len <= kMaxCodeLength, "TAbDfDecodeTable.Build: code length out of range");
    ++counts[size_t(len)];
    FLookupBitLength = std::max(FLookupBitLength, len);
  }
  counts[0] = 0;
  const bool complete = AbDfCheckPrefixCode(counts);
  ZASSERT(aCount >= 0 && size_t(aCount) <= kMaxSymbols, "TAbDfDecodeTable.Build: too many symbols");
  TCodes codes;
  ReversedCodes(aLengths, aCount, counts, codes);

  // Codes longer than the first level share a second-level table per
  // first-level index, sized for the longest of them.
  std::array<uint8_t, size_t(1) << kMaxFirstBits> subBits{};
  std::array<uint16_t, size_t(1) << kMaxFirstBits> withSub;
  size_t subCount = 0;
  const uint32_t firstSize = uint32_t(1) << FFirstBits;
  for (int32_t i = 0; i < aCount; ++i) {
    if (aLengths[i] <= FFirstBits) continue;
    const uint32_t index = codes[size_t(i)] & (firstSize - 1);
    if (subBits[index] == 0) withSub[subCount++] = uint16_t(index);
    subBits[index] = uint8_t(std::max<int32_t>(subBits[index], aLengths[i] - FFirstBits));
  }
  size_t size = firstSize;
  for (size_t k = 0; k < subCount; ++k) size += size_t(1) << subBits[withSub[k]];
  if (FEntries.size() < size) FEntries.resize(size);
  // A complete code writes every entry; only the two incomplete ones allowed
  // leave holes.
  if (!complete) std::fill_n(FEntries.begin(), size, kInvalidEntry);
  size_t offset = firstSize;
  for (size_t k = 0; k < subCount; ++k) {
    FEntries[withSub[k]] = MakeTableEntry(uint32_t(offset), subBits[withSub[k]]);
    offset += size_t(1) << subBits[withSub[k]];
  }

  for (int32_t i = 0; i < aCount; ++i) {
    const int32_t len = aLengths[i];
    if (len == 0) continue;
    const uint32_t code = codes[size_t(i)];
    const uint32_t entry = SymbolEntry(i, len, aAlphabet, aDeflate64);
    if (len <= FFirstBits) {
      Replicate(FEntries.data(), FFirstBits, code, len, entry);
    } else {
      const uint32_t pointer = FEntries[code & (firstSize - 1)];
      Replicate(FEntries.data() + DfEntryValue(pointer), int32_t(DfEntryBits(pointer)),
                code >> FFirstBits, len - FFirstBits, entry);
    }
  }
}

const TAbDfDecodeTable& AbDfFixedLiteralTable(bool aDeflate64) {
  static const TAbDfDecodeTable plain = MakeFixedTable(TAbDfAlphabet::LiteralLengths, false);
  static const TAbDfDecodeTable deflate64 = MakeFixedTable(TAbDfAlphabet::LiteralLengths, true);
  return aDeflate64 ? deflate64 : plain;
}

const TAbDfDecodeTable& AbDfFixedDistanceTable(bool aDeflate64) {
  static const TAbDfDecodeTable plain = MakeFixedTable(TAbDfAlphabet::Distances, false);
  static const TAbDfDecodeTable deflate64 = MakeFixedTable(TAbDfAlphabet::Distances, true);
  return aDeflate64 ? deflate64 : plain;
}
