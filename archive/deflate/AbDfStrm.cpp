#include "archive/deflate/AbDfStrm.h"

#include <algorithm>
#include <cstring>

#include "archive/deflate/AbDfHufD.h"
#include "archive/deflate/AbDfXlat.h"

namespace {

// ------------------------------------------------------------ shared helpers

constexpr int32_t kInBufferSize = 16384;

uint32_t Mask(int32_t aBits) {
  return aBits >= 32 ? 0xFFFFFFFFu : (uint32_t(1) << aBits) - 1;
}

// Percentage of `aDone` against `aTotal`, rounded half to even, at most 100.
uint8_t PercentOf(int64_t aDone, int64_t aTotal) {
  const int64_t scaled = aDone * 100;
  int64_t quotient = scaled / aTotal;
  const int64_t twiceRemainder = (scaled % aTotal) * 2;
  if (twiceRemainder > aTotal || (twiceRemainder == aTotal && (quotient & 1) != 0)) ++quotient;
  return uint8_t(std::min<int64_t>(quotient, 100));
}

TStream& RequiredStream(TStream* aStream) {
  ZASSERT(aStream != nullptr,
          "TAbDfOutBitStream.Create: Cannot create a bit stream wrapping a nil stream");
  return *aStream;
}

// An encoding entry of a code table: the code in the low 16 bits, its length
// in the next 8, the count of extra bits in the top 8. Symbols without a code
// (kAbDfNoCode) are a fault of the caller.
[[noreturn]] void FailUnusedSymbol() {
  ZASSERT(false, "TAbDfDecodeHuffmanTree.Encode: trying to encode a symbol that was not used");
}
inline uint32_t CodeBits(uint32_t aEntry) {
  if (aEntry == kAbDfNoCode) FailUnusedSymbol();
  return aEntry & 0xFFFF;
}
inline int32_t CodeLength(uint32_t aEntry) {
  return int32_t((aEntry >> 16) & 0xFF);
}

void WriteCode(TAbDfOutBitStream& aBitStrm, uint32_t aEntry) {
  aBitStrm.WriteBits(aEntry & 0xFFFF, int32_t((aEntry >> 16) & 0xFF));
}

}  // namespace

// ------------------------------------------------------------ bit writer

TAbDfOutBitStream::TAbDfOutBitStream(TStream* aStream) : FStream(RequiredStream(aStream)) {}

TAbDfOutBitStream::~TAbDfOutBitStream() {
  try {
    Finish();
  } catch (const std::exception&) {
  }
}

void TAbDfOutBitStream::AlignToByte() {
  FBitsUsed = (FBitsUsed + 7) & ~7;
  if (FBitsUsed == 32) StoreWord();
}

void TAbDfOutBitStream::WriteBuffer(const void* aBuffer, int32_t aCount) {
  ZASSERT(FBitsUsed % 8 == 0, "TAbDfOutBitStream.WriteBuffer: must be byte aligned");
  MovePendingBytes();
  const auto* bytes = static_cast<const uint8_t*>(aBuffer);
  while (aCount > 0) {
    if (FBufPos == int32_t(FBuffer.size())) obsEmptyBuffer();
    const int32_t n = std::min(aCount, int32_t(FBuffer.size()) - FBufPos);
    std::memcpy(FBuffer.data() + FBufPos, bytes, size_t(n));
    FBufPos += n;
    bytes += n;
    aCount -= n;
  }
  obsEmptyBuffer();
}

void TAbDfOutBitStream::obsEmptyBuffer() {
  const int32_t written = FStream.Write(FBuffer.data(), FBufPos);
  if (written != FBufPos)
    throw EAbInternalDeflateError(
        "could not write to the output atream [TAbDfInBitStream.obsEmptyBuffer]");
  FBufPos = 0;
}

void TAbDfOutBitStream::Finish() {
  if (FBitsUsed > 0) {
    AlignToByte();
    MovePendingBytes();
  }
  if (FBufPos > 0) obsEmptyBuffer();
}

void TAbDfOutBitStream::MovePendingBytes() {
  while (FBitsUsed > 0) {
    if (FBufPos == int32_t(FBuffer.size())) obsEmptyBuffer();
    FBuffer[size_t(FBufPos++)] = uint8_t(FBitBuffer);
    FBitBuffer >>= 8;
    FBitsUsed -= 8;
  }
  FBitBuffer = 0;
  FBitsUsed = 0;
}

// ------------------------------------------------------------ token buffer

TAbDfLZStream::TAbDfLZStream(TAbDfInputSource& aSlideWin, bool aUseDeflate64,
                             TAbLogger* /*aLog: nothing to log*/)
    : FTranslator(AbDfSharedTranslator()),
      FSlideWin(aSlideWin),
      FStartOfs(aSlideWin.InputPosition()),
      // The encoder acts on a full block only at the top of its loop and may
      // add up to three tokens beyond the limit; the buffer has room for them.
      FBuffer(kMaxTokens * kMatchTokenSize + 3 * kMatchTokenSize),
      FUseDeflate64(aUseDeflate64) {
  Reset();
}

void TAbDfLZStream::Reset() {
  Rewind();
  FEndPosition = 0;
  FStartOfs += FCoveredSize;
  FRawReadOfs = FStartOfs;
  FLitCount = 0;
  FDistCount = 0;
  FCoveredSize = 0;
  FLitBuckets.fill(0);
  FDistBuckets.fill(0);
  FLitBuckets[256] = 1;
}

void TAbDfLZStream::Rewind() {
  FEndPosition = FPosition;
  FPosition = 0;
}

void TAbDfLZStream::Encode(TAbDfOutBitStream& aBitStrm, const TAbDfDecodeHuffmanTree& aLitTree,
                           const TAbDfDecodeHuffmanTree& aDistTree, bool aUseDeflate64) {
  Rewind();
  const uint32_t* litCodes = aLitTree.Encodes();
  const uint32_t* distCodes = aDistTree.Encodes();
  size_t pos = 0;
  while (pos < FEndPosition) {
    const uint8_t* token = FBuffer.data() + pos;
    if (token[0] == 1) {
      aBitStrm.WriteLongBits(CodeBits(litCodes[token[1]]), CodeLength(litCodes[token[1]]));
      pos += kLiteralTokenSize;
      continue;
    }
    // Each code goes out with its extra bits above it.
    const int32_t length = (token[1] | token[2] << 8) + 1;
    const int32_t lenSymbol = FTranslator.LengthSymbol(length);
    const uint32_t lenEntry = litCodes[lenSymbol];
    uint64_t bits = CodeBits(lenEntry);
    int32_t count = CodeLength(lenEntry);
    if (lenSymbol == 285) {
      if (aUseDeflate64) {
        bits |= uint64_t(length - 3) << count;
        count += 16;
      }
    } else {
      bits |= uint64_t(length - dfc_LengthBase[size_t(lenSymbol - 257)]) << count;
      count += int32_t(lenEntry >> 24);
    }
    aBitStrm.WriteLongBits(bits, count);

    const int32_t distance = (token[3] | token[4] << 8) + 1;
    const int32_t distSymbol = FTranslator.DistanceSymbol(distance);
    ZASSERT(aUseDeflate64 || distSymbol < 30,
            "TAbDfLZStream.Encode: a Deflate64 distance symbol has been generated for Deflate");
    const uint32_t distEntry = distCodes[distSymbol];
    aBitStrm.WriteLongBits(
        CodeBits(distEntry) | uint64_t(distance - dfc_DistanceBase[size_t(distSymbol)])
                                  << CodeLength(distEntry),
        CodeLength(distEntry) + int32_t(distEntry >> 24));
    pos += kMatchTokenSize;
  }
}

void TAbDfLZStream::ReadRawBlock(void* aBuffer, int32_t aCount) {
  FSlideWin.ReadAt(aBuffer, aCount, FRawReadOfs);
  FRawReadOfs += aCount;
}

int32_t TAbDfLZStream::QuickEstimate() const {
  int64_t bits = int64_t(FDistCount) * 13 + int64_t(FLitCount) * 8;
  for (size_t symbol = 4; symbol < 32; ++symbol)
    bits += int64_t(FDistBuckets[symbol]) * dfc_DistanceExtraBits[symbol];
  return int32_t(bits / 8);
}

int64_t TAbDfLZStream::StaticBitCount() const {
  int64_t bits = 0;
  for (size_t symbol = 0; symbol < 286; ++symbol) {
    const int64_t count = FLitBuckets[symbol];
    if (count == 0) continue;
    int64_t each;
    if (symbol <= 143)
      each = 8;
    else if (symbol <= 255)
      each = 9;
    else if (symbol == 256)
      each = 7;
    else if (symbol <= 279)
      each = 7 + dfc_LengthExtraBits[symbol - 257];
    else if (symbol <= 284)
      each = 8 + dfc_LengthExtraBits[symbol - 257];
    else
      each = FUseDeflate64 ? 24 : 8;
    bits += count * each;
  }
  for (size_t symbol = 0; symbol < 32; ++symbol)
    bits += int64_t(FDistBuckets[symbol]) * (5 + dfc_DistanceExtraBits[symbol]);
  return bits;
}

// ------------------------------------------------------------ code lengths

void TAbDfCodeLenStream::Build(const int32_t* aCodeLens, int32_t aCount) {
  enum class TState { Start, One, Two, Run };
  TState state = TState::Start;
  int32_t pending = -1;
  int32_t run = 0;
  // One step past the last length, with −1, writes out what is pending.
  for (int32_t i = 0; i <= aCount; ++i) {
    const int32_t current = i < aCount ? aCodeLens[i] : -1;
    switch (state) {
      case TState::Start:
        pending = current;
        state = TState::One;
        break;
      case TState::One:
        if (current == pending) {
          state = TState::Two;
        } else {
          PutItem(pending);
          pending = current;
        }
        break;
      case TState::Two:
        if (current == pending) {
          state = TState::Run;
          run = 3;
        } else {
          PutItem(pending);
          PutItem(pending);
          pending = current;
          state = TState::One;
        }
        break;
      case TState::Run:
        if (current == pending) {
          ++run;
        } else {
          PutRun(pending, run);
          pending = current;
          state = TState::One;
        }
        break;
    }
  }
  FPosition = 0;
}

void TAbDfCodeLenStream::PutItem(int32_t aSymbol) {
  FItems.push_back(uint8_t(aSymbol));
  ++FBuckets[size_t(aSymbol)];
}

void TAbDfCodeLenStream::PutRepeat(int32_t aSymbol, int32_t aRepeatValue) {
  FItems.push_back(uint8_t(aSymbol));
  FItems.push_back(uint8_t(aRepeatValue));
  ++FBuckets[size_t(aSymbol)];
}

void TAbDfCodeLenStream::PutRun(int32_t aValue, int32_t aCount) {
  int32_t left = aCount;
  if (aValue == 0) {
    while (left > 0) {
      if (left < 3) {
        for (; left > 0; --left) PutItem(0);
      } else if (left <= 10) {
        PutRepeat(17, left - 3);
        left = 0;
      } else {
        const int32_t n = std::min(left, 138);
        PutRepeat(18, n - 11);
        left -= n;
      }
    }
    return;
  }
  PutItem(aValue);
  --left;
  while (left > 0) {
    if (left < 3) {
      for (; left > 0; --left) PutItem(aValue);
    } else {
      const int32_t n = std::min(left, 6);
      PutRepeat(16, n - 3);
      left -= n;
    }
  }
}

void TAbDfCodeLenStream::Encode(TAbDfOutBitStream& aBitStrm, const TAbDfDecodeHuffmanTree& aTree) {
  for (FPosition = 0; FPosition < FItems.size();) {
    const int32_t symbol = FItems[FPosition++];
    WriteCode(aBitStrm, aTree.Encode(symbol));
    if (symbol < 16) continue;
    const int32_t bits = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
    aBitStrm.WriteBits(FItems[FPosition++], bits);
  }
}

// ------------------------------------------------------------ bit reader

TAbDfInBitStream::TAbDfInBitStream(TStream* aStream, int32_t aStreamSize,
                                   const TAbProgressStep& aOnProgressStep)
    : FBuffer(std::make_unique<uint8_t[]>(kInBufferSize)), FStream(aStream) {
  ZASSERT(aStream != nullptr,
          "TAbDfInBitStream.Create: Cannot create a bit stream wrapping a nil stream");
  if (aOnProgressStep && aStreamSize > 0) {
    FOnProgressStep = aOnProgressStep;
    FStreamSize = aStreamSize;
  }
}

TAbDfInBitStream::~TAbDfInBitStream() {
  if (FFinished) return;
  try {
    Finish();
  } catch (const std::exception&) {
  }
}

bool TAbDfInBitStream::ibsFillBuffer() {
  ZASSERT(Unread() <= 3, "TAbDfInBitStream.ibsFillBuffer: the buffer should be almost empty");
  const int32_t carried = Unread();
  std::memmove(FBuffer.get(), FBuffer.get() + FBufPos, size_t(carried));
  FBufPos = 0;
  FBufEnd = carried;

  // Read until a whole word is there or the source is exhausted; a source
  // that once ran dry (filler bytes present) is not asked again. The filler
  // count covers filler bytes still unread and those already in the bit
  // buffer, so it never goes down.
  int32_t bytesRead = 0;
  bool exhausted = FFillerCount > 0;
  while (!exhausted && FBufEnd < 4) {
    const int32_t n = FStream->Read(FBuffer.get() + FBufEnd, kInBufferSize - FBufEnd);
    if (n <= 0) {
      exhausted = true;
    } else {
      FBufEnd += n;
      bytesRead += n;
    }
  }
  if (FBufEnd == 0) return false;
  if (exhausted && FBufEnd % 4 != 0) {
    const int32_t pad = 4 - FBufEnd % 4;
    std::memset(FBuffer.get() + FBufEnd, 0, size_t(pad));
    FBufEnd += pad;
    FFillerCount += pad;
  }
  if (FOnProgressStep && bytesRead > 0) {
    FByteCount += bytesRead;
    FOnProgressStep(PercentOf(FByteCount, FStreamSize));
  }
  return true;
}

uint32_t TAbDfInBitStream::NextWord(bool aMove) {
  const uint8_t* p = FBuffer.get() + FBufPos;
  const uint32_t word =
      uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  if (aMove) FBufPos += 4;
  return word;
}

void TAbDfInBitStream::CheckConsumed(const char* aWhere) const {
  // Filler zeros make the last codes peekable; consuming them means the
  // compressed data ended too early.
  if (FFillerCount > 0 && FBitsLeft + 8 * (Unread() - FFillerCount) < 0)
    throw EAbInternalInflateError(std::string("no more compressed data in stream [") + aWhere +
                                  "]");
}

void TAbDfInBitStream::Refill() {
  while (FBitsLeft <= 32) {
    if (Unread() < 4 && !ibsFillBuffer()) return;
    FBitBuffer |= uint64_t(NextWord(true)) << FBitsLeft;
    FBitsLeft += 32;
  }
}

void TAbDfInBitStream::AlignToByte() {
  const int32_t drop = FBitsLeft % 8;
  FBitBuffer >>= drop;
  FBitsLeft -= drop;
}

bool TAbDfInBitStream::ReadBit() {
  if (FBitsLeft == 0) {
    Refill();
    if (FBitsLeft == 0)
      throw EAbInternalInflateError("no more compressed data in stream [TAbDfInBitStream.ReadBit]");
  }
  const bool bit = (FBitBuffer & 1) != 0;
  FBitBuffer >>= 1;
  --FBitsLeft;
  CheckConsumed("TAbDfInBitStream.ReadBit");
  return bit;
}

uint32_t TAbDfInBitStream::ReadBits(int32_t aCount) {
  if (aCount < 1 || aCount > 16)
    throw EAbInternalInflateError(
        "count of bits must be between 1 and 16 inclusive [TAbDfInBitStream.ReadBits]");
  if (FBitsLeft < aCount) {
    Refill();
    if (FBitsLeft < aCount)
      throw EAbInternalInflateError(
          "no more compressed data in stream [TAbDfInBitStream.ReadBits]");
  }
  const uint32_t value = uint32_t(FBitBuffer & Mask(aCount));
  FBitBuffer >>= aCount;
  FBitsLeft -= aCount;
  CheckConsumed("TAbDfInBitStream.ReadBits");
  return value;
}

void TAbDfInBitStream::DiscardBitsSlowly(int32_t aCount) {
  if (aCount < 1 || aCount > 32)
    throw EAbInternalInflateError(
        "count of bits must be between 1 and 32 inclusive [TAbDfInBitStream.DiscardBits]");
  ZASSERT(aCount <= FPeekCount, "TAbDfInBitStream.DiscardBits: discarding more bits than peeked");
  FPeekCount = 0;
  if (FBitsLeft < aCount) {
    Refill();
    if (FBitsLeft < aCount)
      throw EAbInternalInflateError(
          "no more compressed data in stream [TAbDfInBitStream.DiscardBits]");
  }
  FBitBuffer >>= aCount;
  FBitsLeft -= aCount;
  CheckConsumed("TAbDfInBitStream.DiscardBits");
}

void TAbDfInBitStream::ReadBuffer(void* aBuffer, int32_t aCount) {
  ZASSERT(FBitsLeft % 8 == 0,
          "TAbDfInBitStream.ReadBuffer. cannot read a buffer unless the stream is byte-aligned");
  static constexpr const char* kWhere = "TAbDfInBitStream.ReadBuffer";
  auto* out = static_cast<uint8_t*>(aBuffer);
  while (aCount > 0 && FBitsLeft > 0) {
    *out++ = uint8_t(FBitBuffer);
    FBitBuffer >>= 8;
    FBitsLeft -= 8;
    --aCount;
    CheckConsumed(kWhere);
  }
  while (aCount > 0) {
    // Filler zeros are never handed out as data.
    const int32_t real = Unread() - FFillerCount;
    if (real <= 0) {
      if (FFillerCount > 0 || !ibsFillBuffer() || Unread() - FFillerCount <= 0)
        throw EAbInternalInflateError(std::string("no more compressed data in stream [") + kWhere +
                                      "]");
      continue;
    }
    const int32_t n = std::min(aCount, real);
    std::memcpy(out, FBuffer.get() + FBufPos, size_t(n));
    FBufPos += n;
    out += n;
    aCount -= n;
  }
  // Bytes still in the bit buffer (a short read) stay there, aligned.
}

void TAbDfInBitStream::Finish() {
  FFinished = true;
  // Never beyond the source's end, even after damaged data ran into the filler.
  const int64_t unconsumed = std::max<int64_t>(0, int64_t(Unread()) - FFillerCount + FBitsLeft / 8);
  FStream->Seek(FStream->Position() - unconsumed, soFromBeginning);
}

TAbDfBitState TAbDfInBitStream::FastState() const {
  // Filler bytes are never loaded by the fast loop; once any reached the bit
  // buffer, the real bytes are all there too and the loop does not run. Nor
  // does it run just after a fill, so that SetFastState can always step back.
  const uint8_t* next = FBuffer.get() + FBufPos;
  const int32_t real = FBufPos < 8 ? 0 : std::max(0, Unread() - FFillerCount);
  return {FBitBuffer, FBitsLeft, next, next + real};
}

void TAbDfInBitStream::SetFastState(const TAbDfBitState& aState) {
  // The fast loop moves byte by byte, this reader word by word: giving the
  // bytes back to the grid keeps every later refill and source read where it
  // would have been.
  const int32_t offGrid = int32_t((aState.Next - (FBuffer.get() + FBufPos)) & 3);
  ZASSERT(aState.BitsLeft >= 24 && aState.BitsLeft < 64,
          "TAbDfInBitStream.SetFastState: the bit buffer must hold three bytes to give back");
  FBitsLeft = aState.BitsLeft - 8 * offGrid;
  FBitBuffer = aState.Bits & ((uint64_t(1) << FBitsLeft) - 1);
  FBufPos = int32_t(aState.Next - offGrid - FBuffer.get());
}
