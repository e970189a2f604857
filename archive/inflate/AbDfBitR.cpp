#include "archive/inflate/AbDfBitR.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

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

uint32_t LoadWord(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

TAbDfBitReader::TAbDfBitReader(TStream* aStream, int32_t aStreamSize,
                               const TAbProgressStep& aOnProgressStep)
    : FBuffer(std::make_unique<uint8_t[]>(kInBufferSize)), FStream(aStream) {
  ZASSERT(aStream != nullptr,
          "TAbDfInBitStream.Create: Cannot create a bit stream wrapping a nil stream");
  if (aOnProgressStep && aStreamSize > 0) {
    FOnProgressStep = aOnProgressStep;
    FStreamSize = aStreamSize;
  }
}

TAbDfBitReader::~TAbDfBitReader() {
  if (FFinished) return;
  try {
    Finish();
  } catch (const std::exception&) {
  }
}

bool TAbDfBitReader::FillBuffer() {
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

void TAbDfBitReader::CheckConsumed(const char* aWhere) const {
  // Filler zeros make the last codes peekable; consuming them means the
  // compressed data ended too early.
  if (FFillerCount > 0 && FBitsLeft + 8 * (Unread() - FFillerCount) < 0)
    throw EAbInternalInflateError(std::string("no more compressed data in stream [") + aWhere +
                                  "]");
}

void TAbDfBitReader::Refill() {
  while (FBitsLeft <= 32) {
    if (Unread() < 4 && !FillBuffer()) return;
    FBitBuffer |= uint64_t(LoadWord(FBuffer.get() + FBufPos)) << FBitsLeft;
    FBufPos += 4;
    FBitsLeft += 32;
  }
}

void TAbDfBitReader::AlignToByte() {
  const int32_t drop = FBitsLeft % 8;
  FBitBuffer >>= drop;
  FBitsLeft -= drop;
}

bool TAbDfBitReader::ReadBit() {
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

uint32_t TAbDfBitReader::ReadBits(int32_t aCount) {
  ZASSERT(aCount >= 1 && aCount <= 16, "TAbDfBitReader.ReadBits: 1 to 16 bits");
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

void TAbDfBitReader::DiscardBitsSlowly(int32_t aCount) {
  ZASSERT(aCount >= 1 && aCount <= 32, "TAbDfBitReader.DiscardBits: 1 to 32 bits");
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

void TAbDfBitReader::ReadBuffer(void* aBuffer, int32_t aCount) {
  ZASSERT(FBitsLeft % 8 == 0, "TAbDfBitReader.ReadBuffer: the stream must be byte-aligned");
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
      if (FFillerCount > 0 || !FillBuffer() || Unread() - FFillerCount <= 0)
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

void TAbDfBitReader::Finish() {
  FFinished = true;
  // Never beyond the source's end, even after damaged data ran into the filler.
  const int64_t unconsumed = std::max<int64_t>(0, int64_t(Unread()) - FFillerCount + FBitsLeft / 8);
  FStream->Seek(FStream->Position() - unconsumed, soFromBeginning);
}

TAbDfBitState TAbDfBitReader::FastState() const {
  // Filler bytes are never loaded by the fast loop; once any reached the bit
  // buffer, the real bytes are all there too and the loop does not run. Nor
  // does it run just after a fill, so that SetFastState can always step back.
  const uint8_t* next = FBuffer.get() + FBufPos;
  const int32_t real = FBufPos < 8 ? 0 : std::max(0, Unread() - FFillerCount);
  return {FBitBuffer, FBitsLeft, next, next + real};
}

void TAbDfBitReader::SetFastState(const TAbDfBitState& aState) {
  // The fast loop moves byte by byte, this reader word by word: giving the
  // bytes back to the grid keeps every later refill and source read where it
  // would have been.
  const int32_t offGrid = int32_t((aState.Next - (FBuffer.get() + FBufPos)) & 3);
  ZASSERT(aState.BitsLeft >= 24 && aState.BitsLeft < 64,
          "TAbDfBitReader.SetFastState: the bit buffer must hold three bytes to give back");
  FBitsLeft = aState.BitsLeft - 8 * offGrid;
  FBitBuffer = aState.Bits & ((uint64_t(1) << FBitsLeft) - 1);
  FBufPos = int32_t(aState.Next - offGrid - FBuffer.get());
}
