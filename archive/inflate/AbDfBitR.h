// The Inflate decoder's bit reader: bits least significant first from a
// stream (not owned) through a 16 KiB buffer, with a view of its state for
// the decoder's fast loop.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/deflate/AbDfBase.h"
#include "platform/Classes.h"

// The fast loop's copy of the reader: up to 64 bits, the next bit in bit 0
// (bits above BitsLeft may hold the bytes that follow), the unread bytes from
// Next and the end of the real ones (filler excluded) at SafeEnd.
struct TAbDfBitState {
  uint64_t Bits;
  int32_t BitsLeft;
  const uint8_t* Next;
  const uint8_t* SafeEnd;
};

// Bits past the end of the source read as zeros when peeked, but consuming
// them is an end-of-data error.
class TAbDfBitReader {
 public:
  // The hook is kept only when given and `aStreamSize` is above 0.
  TAbDfBitReader(TStream* aStream, int32_t aStreamSize, const TAbProgressStep& aOnProgressStep);
  // Puts the source back on the first byte not consumed (best effort; call
  // Finish to see failures).
  ~TAbDfBitReader();
  TAbDfBitReader(const TAbDfBitReader&) = delete;
  TAbDfBitReader& operator=(const TAbDfBitReader&) = delete;

  // Drops the rest of a partly used byte.
  void AlignToByte();
  bool ReadBit();
  // 1..16 bits.
  uint32_t ReadBits(int32_t aCount);
  // The next `aCount` (0..32) bits without consuming them.
  uint32_t PeekBits(int32_t aCount) {
    if (FBitsLeft < aCount) Refill();
    return uint32_t(FBitBuffer & ((uint64_t(1) << aCount) - 1));
  }
  // Consumes `aCount` (1..32) bits.
  void DiscardBits(int32_t aCount) {
    if (aCount > FBitsLeft || FFillerCount > 0) {
      DiscardBitsSlowly(aCount);
      return;
    }
    FBitBuffer >>= aCount;
    FBitsLeft -= aCount;
  }
  // Byte-aligned read of exactly `aCount` bytes.
  void ReadBuffer(void* aBuffer, int32_t aCount);
  // Seeks the source to the first byte not consumed; the reader is then
  // done (the destructor does nothing more).
  void Finish();

  // The state for the fast loop; SafeEnd <= Next when it cannot run.
  TAbDfBitState FastState() const;
  // Takes back a state the fast loop made from FastState: the bit buffer
  // holding 24 to 63 bits, those just before Next.
  void SetFastState(const TAbDfBitState& aState);

 private:
  bool FillBuffer();
  // Moves whole words into the bit buffer until it holds more than 32 bits
  // or the source is exhausted.
  void Refill();
  void DiscardBitsSlowly(int32_t aCount);
  int32_t Unread() const { return FBufEnd - FBufPos; }
  // Raises the end-of-data error when more bits were consumed than the source had.
  void CheckConsumed(const char* aWhere) const;

  // Up to 64 bits: the next bit is bit 0; bits above FBitsLeft are zero.
  uint64_t FBitBuffer = 0;
  int32_t FBitsLeft = 0;
  int32_t FBufEnd = 0;
  std::unique_ptr<uint8_t[]> FBuffer;
  int32_t FBufPos = 0;
  int32_t FByteCount = 0;
  int32_t FFillerCount = 0;  // zero bytes after the source: unread or in the bit buffer
  TAbProgressStep FOnProgressStep;
  TStream* FStream;
  int32_t FStreamSize = 0;
  bool FFinished = false;
};
