// The Inflate decoder's code tables: a two-level lookup from the next input
// bits to a symbol's meaning (literal, length or distance base with its extra
// bits, end of block), sized for speed rather than one entry per longest code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Entry layout: bits 0..7 the bits the symbol takes with its extra bits (in
// a pointer to a second-level table: that table's index bits), bits 8..11
// the code length, bits 12..15 one flag for each kind but the plain one,
// bits 16..31 the value (the literal byte, the length or distance base, the
// symbol of a code-length code, the second-level offset). The flags make the
// decoder's tests single bit tests.
enum : uint32_t {
  kDfEntryPlain = 0,         // a length or distance base, or a code-length symbol
  kDfEntryInvalid = 0x1000,  // no code, or a symbol the alphabet does not allow
  kDfEntryTable = 0x2000,    // points to a second-level table
  kDfEntryEnd = 0x4000,      // end of block
  kDfEntryLiteral = 0x8000,  // a literal byte
};

inline uint32_t DfEntryKind(uint32_t aEntry) {
  return aEntry & 0xF000;
}
inline uint32_t DfEntryBits(uint32_t aEntry) {
  return aEntry & 0xFF;
}
inline uint32_t DfEntryLength(uint32_t aEntry) {
  return aEntry >> 8 & 0xF;
}
inline uint32_t DfEntryExtra(uint32_t aEntry) {
  return DfEntryBits(aEntry) - DfEntryLength(aEntry);
}
inline uint32_t DfEntryValue(uint32_t aEntry) {
  return aEntry >> 16;
}

// First-level index bits of the literal/length and distance tables, the
// fixed ones too: most codes are shorter.
constexpr int32_t kDfLiteralFirstBits = 10;
constexpr int32_t kDfDistanceFirstBits = 8;

// What the symbols of a table stand for.
enum class TAbDfAlphabet { CodeLengths, LiteralLengths, Distances };

class TAbDfDecodeTable {
 public:
  // `aFirstBits`: index bits of the first-level table.
  explicit TAbDfDecodeTable(int32_t aFirstBits);

  // Symbol i takes the length aLengths[i], i < aCount (0..15 each). Refuses,
  // with EAbInternalInflateError, lengths that are not a complete prefix code:
  // over-subscribed ones always, incomplete ones unless no code or a single
  // code of length 1 is present. With Deflate64, length symbol 285 has base 3
  // and 16 extra bits and distance symbols 30 and 31 are allowed.
  void Build(const int32_t* aLengths, int32_t aCount, TAbDfAlphabet aAlphabet, bool aDeflate64);

  // The entry of the code at the start of `aBits` (first bit least
  // significant); needs LookupBitLength valid bits, higher bits may be zero.
  uint32_t Decode(uint64_t aBits) const {
    const uint32_t entry = FEntries[size_t(aBits & FFirstMask)];
    if (DfEntryKind(entry) != kDfEntryTable) return entry;
    return FEntries[DfEntryValue(entry) +
                    size_t((aBits >> FFirstBits) & ((uint32_t(1) << DfEntryBits(entry)) - 1))];
  }
  // The longest code length of the last Build (0 when no code is used).
  int32_t LookupBitLength() const { return FLookupBitLength; }
  const uint32_t* Entries() const { return FEntries.data(); }
  int32_t FirstBits() const { return FFirstBits; }

 private:
  uint32_t SymbolEntry(int32_t aSymbol, int32_t aLength, TAbDfAlphabet aAlphabet,
                       bool aDeflate64) const;

  std::vector<uint32_t> FEntries;
  int32_t FFirstBits;
  uint64_t FFirstMask;
  int32_t FLookupBitLength = 0;
};

// The fixed code tables of RFC 1951, built on first use and never changed.
const TAbDfDecodeTable& AbDfFixedLiteralTable(bool aDeflate64);
const TAbDfDecodeTable& AbDfFixedDistanceTable(bool aDeflate64);
