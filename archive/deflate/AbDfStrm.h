// Bit-level streams of the Deflate coders: the encoder's token buffer, its
// bit writer and its run-length coder of code lengths, and the decoder's bit
// reader.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "archive/deflate/AbDfBase.h"
#include "archive/deflate/AbDfXlat.h"
#include "platform/Classes.h"

class TAbDfDecodeHuffmanTree;

// ------------------------------------------------------------ bit writer

// Packs codes least significant bit first and writes them to a stream (not
// owned) through a 16 KiB buffer.
class TAbDfOutBitStream {
 public:
  explicit TAbDfOutBitStream(TStream* aStream);
  // Writes out what is pending; failures are swallowed here, so callers that
  // need to see them call Finish first.
  ~TAbDfOutBitStream();
  TAbDfOutBitStream(const TAbDfOutBitStream&) = delete;
  TAbDfOutBitStream& operator=(const TAbDfOutBitStream&) = delete;

  // Appends the `aCount` (1..16) low bits of `aBits`, which has no higher bit set.
  void WriteBits(uint32_t aBits, int32_t aCount) {
    ZASSERT(aCount >= 1 && aCount <= 16,
            "TAbDfOutBitStream.WriteBits: aCount should be from 1 to 16");
    ZASSERT((aBits >> aCount) == 0, "TAbDfOutBitStream.WriteBits: aBits has more than aCount bits");
    FBitBuffer |= uint64_t(aBits) << FBitsUsed;
    FBitsUsed += aCount;
    if (FBitsUsed >= 32) StoreWord();
  }
  // Appends the `aCount` (0..32) low bits of `aBits`, which has no higher
  // bit set: a code and its extra bits in one go.
  void WriteLongBits(uint64_t aBits, int32_t aCount) {
    ZASSERT(aCount >= 0 && aCount <= 32,
            "TAbDfOutBitStream.WriteLongBits: aCount should be from 0 to 32");
    FBitBuffer |= aBits << FBitsUsed;
    FBitsUsed += aCount;
    if (FBitsUsed >= 32) StoreWord();
  }
  // Pads with zero bits to a byte boundary.
  void AlignToByte();
  // Writes `aCount` bytes straight through; the stream must be byte aligned.
  // Everything has reached the destination when it returns.
  void WriteBuffer(const void* aBuffer, int32_t aCount);
  // Hands the byte buffer to the destination; EAbInternalDeflateError when
  // the destination takes fewer bytes.
  void obsEmptyBuffer();
  // What the release does: pads the pending bits to a byte and writes
  // everything out.
  void Finish();

 private:
  // Moves the low 32 bits of the bit buffer to the byte buffer.
  void StoreWord() {
    if (int32_t(FBuffer.size()) - FBufPos < 4) obsEmptyBuffer();
    uint8_t* out = FBuffer.data() + FBufPos;
    for (int i = 0; i < 4; ++i) out[i] = uint8_t(FBitBuffer >> (8 * i));
    FBufPos += 4;
    FBitBuffer >>= 32;
    FBitsUsed -= 32;
  }
  void MovePendingBytes();

  // Below 32 bits between writes, up to 64 within one: the next bit goes
  // above the FBitsUsed bits held.
  uint64_t FBitBuffer = 0;
  int32_t FBitsUsed = 0;
  std::array<uint8_t, 16384> FBuffer;
  int32_t FBufPos = 0;
  TStream& FStream;
};

// ------------------------------------------------------------ token buffer

// What the token buffer needs of the encoder's input window: the input offset
// of the next byte to encode, and raw source bytes for stored blocks (the
// source position is restored afterwards; a short read raises).
class TAbDfInputSource {
 public:
  virtual ~TAbDfInputSource() = default;
  virtual int32_t InputPosition() const = 0;
  virtual void ReadAt(void* aBuffer, int32_t aCount, int32_t aOffset) = 0;
};

// The tokens of the block being built, with the symbol counts the Huffman
// codes are made from.
class TAbDfLZStream {
 public:
  TAbDfLZStream(TAbDfInputSource& aSlideWin, bool aUseDeflate64, TAbLogger* aLog);

  // Both return true when the block is full. Length 3..258 (65,536 with
  // Deflate64), distance 1..32,768 (65,536 with Deflate64).
  bool PutMatch(int32_t aMatchLen, int32_t aMatchDist) {
    ZASSERT(FPosition + kMatchTokenSize <= FBuffer.size(),
            "TAbDfLZStream.PutMatch: the token buffer is full");
    const uint32_t len = uint32_t(aMatchLen - 1);
    const uint32_t dist = uint32_t(aMatchDist - 1);
    uint8_t* token = FBuffer.data() + FPosition;
    token[0] = 0;
    token[1] = uint8_t(len);
    token[2] = uint8_t(len >> 8);
    token[3] = uint8_t(dist);
    token[4] = uint8_t(dist >> 8);
    FPosition += kMatchTokenSize;
    ++FDistCount;
    FCoveredSize += aMatchLen;
    ++FLitBuckets[size_t(FTranslator.LengthSymbol(aMatchLen))];
    ++FDistBuckets[size_t(FTranslator.DistanceSymbol(aMatchDist))];
    return IsFull();
  }
  bool PutLiteral(uint8_t aCh) {
    ZASSERT(FPosition + kLiteralTokenSize <= FBuffer.size(),
            "TAbDfLZStream.PutLiteral: the token buffer is full");
    uint8_t* token = FBuffer.data() + FPosition;
    token[0] = 1;
    token[1] = aCh;
    FPosition += kLiteralTokenSize;
    ++FLitCount;
    ++FLitBuckets[aCh];
    ++FCoveredSize;
    return IsFull();
  }
  // Empties the block; the next one starts at the first byte no token covered.
  void Reset();
  // Marks the token end and goes back to the first token.
  void Rewind();
  // Writes every token with the given code tables.
  void Encode(TAbDfOutBitStream& aBitStrm, const TAbDfDecodeHuffmanTree& aLitTree,
              const TAbDfDecodeHuffmanTree& aDistTree, bool aUseDeflate64);
  // Copies the next `aCount` raw source bytes of the block; consecutive calls
  // return consecutive stretches.
  void ReadRawBlock(void* aBuffer, int32_t aCount);

  int32_t CoveredSize() const { return FCoveredSize; }
  // Rough compressed size of the block in bytes.
  int32_t QuickEstimate() const;
  // Exact bits of the tokens as a static block, without the 3 header bits.
  int64_t StaticBitCount() const;
  const std::array<int32_t, 286>& LitBuckets() const { return FLitBuckets; }
  const std::array<int32_t, 32>& DistBuckets() const { return FDistBuckets; }
  bool UseDeflate64() const { return FUseDeflate64; }

 private:
  static constexpr int32_t kMaxTokens = 32768;
  static constexpr int32_t kEarlyCheckTokens = 8192;
  static constexpr size_t kLiteralTokenSize = 2;
  static constexpr size_t kMatchTokenSize = 5;

  bool IsFull() const {
    const int32_t tokens = FLitCount + FDistCount;
    // A block of mostly literals that already compresses well is cut early so
    // the next block gets codes of its own.
    if (tokens % kEarlyCheckTokens == 0 && FDistCount < FLitCount &&
        QuickEstimate() < FCoveredSize / 2)
      return true;
    return FDistCount >= kMaxTokens || tokens >= kMaxTokens;
  }

  const TAbDfTranslator& FTranslator;
  size_t FPosition = 0;
  std::array<int32_t, 32> FDistBuckets{};
  int32_t FDistCount = 0;
  std::array<int32_t, 286> FLitBuckets{};
  int32_t FLitCount = 0;
  TAbDfInputSource& FSlideWin;
  int32_t FStartOfs = 0;
  int32_t FRawReadOfs = 0;
  int32_t FCoveredSize = 0;
  std::vector<uint8_t> FBuffer;
  size_t FEndPosition = 0;
  bool FUseDeflate64;
};

// ------------------------------------------------------------ code lengths

// Run-length codes the code lengths of a dynamic block with the symbols 16,
// 17 and 18 of RFC 1951. Built once per block.
class TAbDfCodeLenStream {
 public:
  TAbDfCodeLenStream() = default;

  void Build(const int32_t* aCodeLens, int32_t aCount);
  // Writes every item with the code-length code table.
  void Encode(TAbDfOutBitStream& aBitStrm, const TAbDfDecodeHuffmanTree& aTree);
  const std::array<int32_t, 19>& Buckets() const { return FBuckets; }

 private:
  void PutItem(int32_t aSymbol);
  void PutRepeat(int32_t aSymbol, int32_t aRepeatValue);
  void PutRun(int32_t aValue, int32_t aCount);

  std::array<int32_t, 19> FBuckets{};
  size_t FPosition = 0;
  std::vector<uint8_t> FItems;
};

// ------------------------------------------------------------ bit reader

// The Inflate decoder's fast loop works on a copy of the reader's state: up
// to 64 bits, the next bit in bit 0 (bits above BitsLeft may hold the bytes
// that follow), the unread bytes from Next and the end of the real ones
// (filler excluded) at SafeEnd.
struct TAbDfBitState {
  uint64_t Bits;
  int32_t BitsLeft;
  const uint8_t* Next;
  const uint8_t* SafeEnd;
};

// Reads bits least significant bit first from a stream (not owned) through a
// 16 KiB buffer. Bits past the end of the source read as zeros when peeked,
// but consuming them is an end-of-data error.
class TAbDfInBitStream {
 public:
  // The hook is kept only when given and `aStreamSize` is above 0.
  TAbDfInBitStream(TStream* aStream, int32_t aStreamSize, const TAbProgressStep& aOnProgressStep);
  // Puts the source back on the first byte not consumed (best effort; call
  // Finish to see failures).
  ~TAbDfInBitStream();
  TAbDfInBitStream(const TAbDfInBitStream&) = delete;
  TAbDfInBitStream& operator=(const TAbDfInBitStream&) = delete;

  // Drops the rest of a partly used byte.
  void AlignToByte();
  bool ReadBit();
  // 1..16 bits.
  uint32_t ReadBits(int32_t aCount);
  // The next `aCount` (0..32) bits without consuming them.
  uint32_t PeekBits(int32_t aCount) {
    ZASSERT(aCount >= 0 && aCount <= 32,
            "TAbDfInBitStream.PeekBits: count of bits must be between 1 and 32 inclusive");
    FPeekCount = aCount;
    if (FBitsLeft < aCount) Refill();
    return uint32_t(FBitBuffer & ((uint64_t(1) << aCount) - 1));
  }
  // Consumes `aCount` (1..32) bits, no more than the last peek showed.
  void DiscardBits(int32_t aCount) {
    if (aCount < 1 || aCount > 32 || aCount > FBitsLeft || FFillerCount > 0) {
      DiscardBitsSlowly(aCount);
      return;
    }
    ZASSERT(aCount <= FPeekCount, "TAbDfInBitStream.DiscardBits: discarding more bits than peeked");
    FPeekCount = 0;
    FBitBuffer >>= aCount;
    FBitsLeft -= aCount;
  }
  // Byte-aligned read of exactly `aCount` bytes.
  void ReadBuffer(void* aBuffer, int32_t aCount);
  // Seeks the source to the first byte not consumed; the bit stream is then
  // done (the destructor does nothing more).
  void Finish();

  // The state for the fast loop; SafeEnd <= Next when it cannot run.
  TAbDfBitState FastState() const;
  // Takes back a state the fast loop made from FastState: the bit buffer
  // holding 24 to 63 bits, those just before Next.
  void SetFastState(const TAbDfBitState& aState);

 private:
  bool ibsFillBuffer();
  // Moves whole words into the bit buffer until it holds more than 32 bits
  // or the source is exhausted.
  void Refill();
  void DiscardBitsSlowly(int32_t aCount);
  uint32_t NextWord(bool aMove);
  int32_t Unread() const { return FBufEnd - FBufPos; }
  // Raises the end-of-data error when more bits were consumed than the source had.
  void CheckConsumed(const char* aWhere) const;

  // Up to 64 bits: the next bit is bit 0.
  uint64_t FBitBuffer = 0;
  int32_t FBitsLeft = 0;
  int32_t FBufEnd = 0;
  std::unique_ptr<uint8_t[]> FBuffer;
  int32_t FBufPos = 0;
  int32_t FByteCount = 0;
  int32_t FFillerCount = 0;  // zero bytes after the source: unread or in the bit buffer
  TAbProgressStep FOnProgressStep;
  int32_t FPeekCount = 0;
  TStream* FStream;
  int32_t FStreamSize = 0;
  bool FFinished = false;
};
