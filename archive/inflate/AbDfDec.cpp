#include "archive/inflate/AbDfDec.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "archive/AbArcTyp.h"
#include "archive/deflate/AbDfStrm.h"
#include "archive/inflate/AbDfCryS.h"
#include "archive/inflate/AbDfDecT.h"
#include "archive/inflate/AbDfOutW.h"

// Every length and count that comes from the compressed data is checked once
// where it is read: the tables refuse broken code lengths, the window refuses
// distances it has no history for, and the bit reader refuses to run past
// the end of the input. Nothing read from the input indexes memory unchecked.

namespace {

constexpr int32_t kMaxLitLenCodes = 286;
constexpr int32_t kMaxDistCodes = 30;
constexpr int32_t kMaxDeflate64DistCodes = 32;
constexpr int32_t kCodeLengthCount = kMaxLitLenCodes + kMaxDeflate64DistCodes;  // 318
constexpr int32_t kStoredChunk = 16384;
constexpr int32_t kCodeLengthFirstBits = 7;
constexpr uint32_t kLongestPlainMatch = 258;

using TCodeLengths = std::array<int32_t, kCodeLengthCount>;

// The code tables of one decode, rebuilt for every dynamic block.
struct TDecodeTables {
  TAbDfDecodeTable Literals{kDfLiteralFirstBits};
  TAbDfDecodeTable Distances{kDfDistanceFirstBits};
  TAbDfDecodeTable CodeLengths{kCodeLengthFirstBits};
};

uint32_t Mask(int32_t aBits) {
  return aBits >= 32 ? 0xFFFFFFFFu : (uint32_t(1) << aBits) - 1;
}

[[noreturn]] void DataError(const char* aCause) {
  throw EAbInternalInflateError(aCause);
}

void Copy8(uint8_t* aTo, const uint8_t* aFrom) {
  uint64_t chunk;
  std::memcpy(&chunk, aFrom, sizeof(chunk));
  std::memcpy(aTo, &chunk, sizeof(chunk));
}

// Copies a match whose distance the caller checked; may write up to 15
// bytes past its end.
[[gnu::always_inline]] inline void CopyMatch(uint8_t* aTo, uint32_t aLength, uint32_t aDistance) {
  const uint8_t* from = aTo - aDistance;
  if (aDistance >= 8) {
    // Each chunk reads only bytes already final: at least eight back. Most
    // matches are short: two chunks without a loop test.
    Copy8(aTo, from);
    Copy8(aTo + 8, from + 8);
    for (uint32_t i = 16; i < aLength; i += 8) Copy8(aTo + i, from + i);
  } else if (aDistance == 1) {
    std::memset(aTo, from[0], aLength);
  } else {
    // Overlapping: each byte may be one this copy has just written.
    for (uint32_t i = 0; i < aLength; ++i) aTo[i] = from[i];
  }
}

// The low `aBits` (0..63) bits.
inline uint64_t LowBits(uint64_t aValue, uint32_t aBits) {
  return aValue & ((uint64_t(1) << aBits) - 1);
}

[[gnu::always_inline]] inline uint32_t Lookup(const uint32_t* aEntries, uint64_t aBits,
                                              uint32_t aFirstBits) {
  const uint32_t entry = aEntries[LowBits(aBits, aFirstBits)];
  if (DfEntryKind(entry) != kDfEntryTable) return entry;
  return aEntries[DfEntryValue(entry) + LowBits(aBits >> aFirstBits, DfEntryBits(entry))];
}

// Tops the bit buffer up to at least 56 bits with one unaligned load; the
// bits above the count are the bytes that follow, so loading them again is
// harmless.
[[gnu::always_inline]] inline void Refill(uint64_t& aBits, int32_t& aLeft, const uint8_t*& aNext) {
  uint64_t word;
  std::memcpy(&word, aNext, sizeof(word));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap64(word);
#endif
  aBits |= word << aLeft;
  aNext += (63 - aLeft) >> 3;
  aLeft |= 56;
}

[[gnu::always_inline]] inline void Consume(uint64_t& aBits, int32_t& aLeft, uint32_t aCount) {
  // Counts stay below 64; the mask lets the shift go without one.
  aBits >>= aCount & 63;
  aLeft -= int32_t(aCount);
}

// Decodes symbols straight from the reader's buffer into the window while
// both have room for the largest symbol: no end of the input and no slide of
// the window can come up, so nothing is checked per byte. Leaves anything
// unusual (damaged data, a Deflate64 match longer than 258) to the careful
// loop, at the start of that symbol. Returns true at the end of the block.
bool DecodeFast(TAbDfInBitStream& aBits, TAbDfOutputWindow& aWindow, const TAbDfDecodeTable& aLit,
                const TAbDfDecodeTable& aDist) {
  // Each turn moves on at most 14 bytes (two refills of 7), the last refill
  // after the loop reads eight more.
  constexpr ptrdiff_t kInputMargin = 24;
  const TAbDfBitState in = aBits.FastState();
  uint8_t* const base = aWindow.Base();
  uint8_t* out = base + aWindow.Current();
  uint8_t* const outLimit = base + aWindow.FastLimit();
  if (out > outLimit || in.SafeEnd - in.Next < kInputMargin) return false;

  const uint32_t* lit = aLit.Entries();
  const uint32_t* dist = aDist.Entries();
  // Constants, so that the masks need no register.
  constexpr uint32_t litBits = kDfLiteralFirstBits;
  constexpr uint32_t distBits = kDfDistanceFirstBits;
  ZASSERT(aLit.FirstBits() == int32_t(litBits) && aDist.FirstBits() == int32_t(distBits),
          "DecodeFast: unexpected first-level table sizes");
  uint64_t bits = in.Bits;
  int32_t left = in.BitsLeft;
  const uint8_t* next = in.Next;
  if (left == 64) {
    // The refill shifts by the count: give the last byte back.
    --next;
    left = 56;
    bits &= (uint64_t(1) << 56) - 1;
  }
  bool ended = false;
  // The entry of the next symbol is looked up as soon as the bits are
  // there, ahead of the copy of the match before it.
  Refill(bits, left, next);
  uint32_t entry = Lookup(lit, bits, litBits);
  while (out <= outLimit && in.SafeEnd - next >= kInputMargin) {
    if (DfEntryKind(entry) == kDfEntryLiteral) {
      // At least 41 bits are left: the next code is looked up before the
      // refill, which only adds bits above them.
      *out++ = uint8_t(DfEntryValue(entry));
      Consume(bits, left, DfEntryBits(entry));
      entry = Lookup(lit, bits, litBits);
      Refill(bits, left, next);
      continue;
    }
    if (DfEntryKind(entry) != kDfEntryPlain) {
      if (DfEntryKind(entry) == kDfEntryEnd) {
        Consume(bits, left, DfEntryBits(entry));
        ended = true;
      }
      break;
    }

    const uint64_t symbolBits = bits;
    const int32_t symbolLeft = left;
    const uint8_t* const symbolNext = next;
    // The extra bits follow the code: the symbol's bits above its code length.
    const uint32_t length =
        DfEntryValue(entry) + uint32_t(LowBits(bits, DfEntryBits(entry)) >> DfEntryLength(entry));
    Consume(bits, left, DfEntryBits(entry));
    // A distance code takes up to 29 bits; only a Deflate64 length leaves fewer.
    if (left < 29) Refill(bits, left, next);
    const uint32_t distEntry = Lookup(dist, bits, distBits);
    const bool usable = DfEntryKind(distEntry) == kDfEntryPlain && length <= kLongestPlainMatch;
    const uint32_t distance =
        usable ? DfEntryValue(distEntry) +
                     uint32_t(LowBits(bits, DfEntryBits(distEntry)) >> DfEntryLength(distEntry))
               : 0;
    if (!usable || distance > uint32_t(out - base)) {
      bits = symbolBits;
      left = symbolLeft;
      next = symbolNext;
      break;
    }
    Consume(bits, left, DfEntryBits(distEntry));
    Refill(bits, left, next);
    entry = Lookup(lit, bits, litBits);
    CopyMatch(out, length, distance);
    out += length;
  }
  // The reader takes its bytes back from a full bit buffer.
  Refill(bits, left, next);
  aBits.SetFastState({bits, left, next, in.SafeEnd});
  aWindow.SetCurrent(int32_t(out - base));
  return ended;
}

// One symbol with every check; returns true at the end of the block.
bool DecodeSymbol(TAbDfInBitStream& aBits, TAbDfOutputWindow& aWindow, const TAbDfDecodeTable& aLit,
                  const TAbDfDecodeTable& aDist, bool aDeflate64) {
  const int32_t litBits = aLit.LookupBitLength();
  uint32_t v = aBits.PeekBits(litBits + (aDeflate64 ? 16 : 5));
  uint32_t entry = aLit.Decode(v & Mask(litBits));
  int32_t len = int32_t(DfEntryLength(entry));
  int32_t extra = int32_t(DfEntryExtra(entry));
  switch (DfEntryKind(entry)) {
    case kDfEntryLiteral:
      aWindow.PutLiteral(uint8_t(DfEntryValue(entry)));
      aBits.DiscardBits(len);
      return false;
    case kDfEntryEnd:
      aBits.DiscardBits(len);
      return true;
    case kDfEntryPlain:
      break;
    default:
      DataError("decoded an invalid length symbol: greater than 285 [DecodeData]");
  }
  int32_t length = int32_t(DfEntryValue(entry));
  if (extra > 0) length += int32_t((v >> len) & Mask(extra));
  aBits.DiscardBits(len + extra);

  const int32_t distBits = aDist.LookupBitLength();
  v = aBits.PeekBits(distBits + 14);
  entry = aDist.Decode(v & Mask(distBits));
  if (DfEntryKind(entry) != kDfEntryPlain) {
    if (!aDeflate64) DataError("decoded an invalid distance symbol: greater than 29 [DecodeData]");
    DataError("decoded an invalid distance symbol: greater than 31 [DecodeData]");
  }
  len = int32_t(DfEntryLength(entry));
  extra = int32_t(DfEntryExtra(entry));
  int32_t distance = int32_t(DfEntryValue(entry));
  if (extra > 0) distance += int32_t((v >> len) & Mask(extra));
  aBits.DiscardBits(len + extra);

  aWindow.PutMatch(length, distance);
  return false;
}

void DecodeData(TAbDfInBitStream& aBits, TAbDfOutputWindow& aWindow, const TAbDfDecodeTable& aLit,
                const TAbDfDecodeTable& aDist, bool aDeflate64) {
  while (!DecodeFast(aBits, aWindow, aLit, aDist) &&
         !DecodeSymbol(aBits, aWindow, aLit, aDist, aDeflate64)) {
  }
}

void InflateStoredBlock(TAbDfInBitStream& aBits, TAbDfOutputWindow& aWindow) {
  aBits.AlignToByte();
  uint8_t header[4];
  aBits.ReadBuffer(header, 4);
  const uint32_t len = header[0] | uint32_t(header[1]) << 8;
  const uint32_t nlen = header[2] | uint32_t(header[3]) << 8;
  if (nlen != (~len & 0xFFFF))
    DataError("invalid stored block (length and NOT length do not match) [InflateStoredBlock]");
  std::vector<uint8_t> buffer(size_t(std::min<uint32_t>(len, kStoredChunk)));
  for (uint32_t done = 0; done < len;) {
    const int32_t n = int32_t(std::min<uint32_t>(len - done, kStoredChunk));
    aBits.ReadBuffer(buffer.data(), n);
    aWindow.PutBuffer(buffer.data(), n);
    done += uint32_t(n);
  }
}

void InflateFixedBlock(TAbDfInBitStream& aBits, TAbDfOutputWindow& aWindow, bool aDeflate64) {
  DecodeData(aBits, aWindow, AbDfFixedLiteralTable(aDeflate64), AbDfFixedDistanceTable(aDeflate64),
             aDeflate64);
}

void ReadLitDistCodeLengths(TAbDfInBitStream& aBits, const TAbDfDecodeTable& aTable,
                            TCodeLengths& aLengths, int32_t aCount) {
  aLengths.fill(0);
  const int32_t lookupBits = aTable.LookupBitLength();
  int32_t i = 0;
  while (i < aCount) {
    const uint32_t v = aBits.PeekBits(lookupBits + 7);
    const uint32_t entry = aTable.Decode(v & Mask(lookupBits));
    if (DfEntryKind(entry) != kDfEntryPlain)
      DataError("decoded a symbol not between 0 and 18 {ReadLitDistCodeLengths}");
    const uint32_t symbol = DfEntryValue(entry);
    const int32_t len = int32_t(DfEntryLength(entry));

    if (symbol <= 15) {
      aLengths[size_t(i++)] = int32_t(symbol);
      aBits.DiscardBits(len);
      continue;
    }
    int32_t repeat;
    int32_t value = 0;
    if (symbol == 16) {
      if (i == 0) DataError("repeat code 16 with no previous length {ReadLitDistCodeLengths}");
      repeat = 3 + int32_t((v >> len) & Mask(2));
      value = aLengths[size_t(i - 1)];
      aBits.DiscardBits(len + 2);
    } else if (symbol == 17) {
      repeat = 3 + int32_t((v >> len) & Mask(3));
      aBits.DiscardBits(len + 3);
    } else {
      repeat = 11 + int32_t((v >> len) & Mask(7));
      aBits.DiscardBits(len + 7);
    }
    if (repeat > aCount - i)
      DataError("repeat code runs past the last code length {ReadLitDistCodeLengths}");
    for (; repeat > 0; --repeat) aLengths[size_t(i++)] = value;
  }
}

void InflateDynamicBlock(TAbDfInBitStream& aBits, TAbDfOutputWindow& aWindow, bool aDeflate64,
                         TDecodeTables& aTables) {
  const int32_t hlit = int32_t(aBits.ReadBits(5)) + 257;
  const int32_t hdist = int32_t(aBits.ReadBits(5)) + 1;
  const int32_t hclen = int32_t(aBits.ReadBits(4)) + 4;
  if (hlit > kMaxLitLenCodes)
    DataError("count of literal codes in dynamic block is greater than 286 [InflateDynamicBlock]");
  if (!aDeflate64 && hdist > kMaxDistCodes)
    DataError("count of distance codes in dynamic block is greater than 30 [InflateDynamicBlock]");

  TCodeLengths lengths{};
  for (int32_t i = 0; i < hclen; ++i)
    lengths[dfc_CodeLengthIndex[size_t(i)]] = int32_t(aBits.ReadBits(3));
  aTables.CodeLengths.Build(lengths.data(), 19, TAbDfAlphabet::CodeLengths, aDeflate64);

  ReadLitDistCodeLengths(aBits, aTables.CodeLengths, lengths, hlit + hdist);

  aTables.Literals.Build(lengths.data(), hlit, TAbDfAlphabet::LiteralLengths, aDeflate64);
  aTables.Distances.Build(lengths.data() + hlit, hdist, TAbDfAlphabet::Distances, aDeflate64);

  DecodeData(aBits, aWindow, aTables.Literals, aTables.Distances, aDeflate64);
}

void InflateBlocks(TAbDfInBitStream& aBits, TAbDfOutputWindow& aWindow, bool aDeflate64) {
  TDecodeTables tables;
  bool final;
  do {
    final = aBits.ReadBit();
    switch (aBits.ReadBits(2)) {
      case 0:
        InflateStoredBlock(aBits, aWindow);
        break;
      case 1:
        InflateFixedBlock(aBits, aWindow, aDeflate64);
        break;
      case 2:
        InflateDynamicBlock(aBits, aWindow, aDeflate64, tables);
        break;
      default:
        DataError("starting new block, but invalid block type [Inflate]");
    }
  } while (!final);
}

}  // namespace

uint32_t Inflate(TStream* aSource, TStream* aDest, TAbDeflateHelper* aHelper) {
  ZASSERT(aSource != nullptr, "Deflate: aSource stream cannot be nil");
  ZASSERT(aDest != nullptr, "Deflate: aDest stream cannot be nil");

  TAbDeflateHelper helper;
  if (aHelper != nullptr) helper.Assign(*aHelper);
  const int64_t sourceStart = aSource->Position();
  const int64_t destStart = aDest->Position();

  if (!helper.ProgressHook)
    helper.SourceSize = 0;
  else if (helper.SourceSize == -1)
    helper.SourceSize = int32_t(aSource->Size());

  std::unique_ptr<TAbLogger> log;
  if (!helper.LogFileName.empty()) {
    log = std::make_unique<TAbLogger>(helper.LogFileName);
    log->WriteLine("INFLATING STREAM...");
    log->WriteLine("Need to recompile the app with UseLogging turned on");
  }

  std::unique_ptr<TAbDfDecryptStream> decrypter;
  TStream* source = aSource;
  if (!helper.Password.empty()) {
    decrypter = std::make_unique<TAbDfDecryptStream>(*aSource, uint32_t(helper.HeaderCheck),
                                                     helper.Password);
    if (!decrypter->CheckHeader())
      throw EAbInflatePasswordError("Inflate: stream is encrypted but passphrase is wrong");
    source = decrypter.get();
  }

  const uint32_t options = helper.Options();
  const bool testOnly = (options & dfoTestOnly) != 0;
  uint32_t result = 0;
  {
    TAbDfInBitStream bits(source, helper.SourceSize, helper.ProgressHook);
    TAbDfOutputWindow window(aDest, log.get(), testOnly, helper.OutputLimit,
                             (options & dfoAdler32) == 0, (options & dfoDeflate64) != 0);
    try {
      InflateBlocks(bits, window, (options & dfoDeflate64) != 0);
      result = window.Checksum();
      if (testOnly && aHelper != nullptr) aHelper->BytesWritten = int32_t(window.OutputPosition());
    } catch (const EAbPartSizedInflate&) {
      result = 0;
    } catch (const EAbAbortProgress&) {
      result = 0;
    } catch (const EAbInternalInflateError& e) {
      if (log) log->WriteLine(Format("Internal exception raised: %s", e.Message().c_str()));
      throw EAbInflateError(e.Message());
    }
    // On failures the destructors do the same, quietly.
    window.Finish();
    bits.Finish();
  }

  if (aHelper != nullptr) {
    if (!testOnly) aHelper->BytesWritten = int32_t(aDest->Position() - destStart);
    aHelper->BytesRead = int32_t(aSource->Position() - sourceStart);
  }
  return result;
}
