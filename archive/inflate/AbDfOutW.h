// The Inflate decoder's output window: recent output kept for
// back-references, the running checksum, and the bytes passed on to the
// destination 256 KiB at a time.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/Classes.h"

class TAbLogger;

class TAbDfOutputWindow {
 public:
  // `aStream` (not owned) receives the output unless `aTestOnly`, which only
  // counts it. `aPartialSize` > 0 stops decoding with EAbPartSizedInflate once
  // that many bytes are decoded (at most 65,536, or 98,304 with Deflate64).
  // `aUseCrc32` false: Adler-32.
  TAbDfOutputWindow(TStream* aStream, TAbLogger* aLog, bool aTestOnly, int32_t aPartialSize,
                    bool aUseCrc32, bool aUseDeflate64);
  // Passes on what is pending (best effort; call Finish to see failures).
  ~TAbDfOutputWindow();
  TAbDfOutputWindow(const TAbDfOutputWindow&) = delete;
  TAbDfOutputWindow& operator=(const TAbDfOutputWindow&) = delete;

  void PutLiteral(uint8_t aCh) {
    FBuffer[size_t(FCurrent++)] = aCh;
    if (FCurrent >= FCheckPoint) CheckAfterPut();
  }
  // Copies `aLength` bytes from `aDistance` back; a distance reaching before
  // the first byte decoded (or beyond the history kept) is corrupt data
  // (EAbInternalInflateError).
  void PutMatch(int32_t aLength, int32_t aDistance);
  void PutBuffer(const void* aBuffer, int32_t aCount);
  // Passes on what is pending, then the final CRC-32 (inverted) or Adler-32.
  uint32_t Checksum();
  // Bytes produced so far: counted ones in a test run, otherwise the
  // destination's position, plus the pending bytes.
  int64_t OutputPosition();
  // Passes on what is pending.
  void Finish();

  // The decoder's fast loop writes straight into the window: Base() +
  // Current() is the next byte. While Current() <= FastLimit() three
  // literals or a match of up to 258 bytes and 15 more written past its end
  // fit without a check; SetCurrent then takes the new position back.
  uint8_t* Base() { return FBuffer.get(); }
  int32_t Current() const { return FCurrent; }
  int32_t FastLimit() const { return FCheckPoint - 259; }
  void SetCurrent(int32_t aCurrent) { FCurrent = aCurrent; }

 private:
  void CheckAfterPut();
  void WriteOut(bool aFlush);
  void PassOn(int32_t aCount);

  std::unique_ptr<uint8_t[]> FBuffer;
  uint32_t FChecksum;
  int32_t FCurrent = 0;
  int32_t FPartSize;
  TStream* FStream;
  int64_t FBytesPassedOn = 0;
  bool FTestOnly;
  bool FUseCrc32;
  int32_t FHistory;  // bytes kept at a slide
  int32_t FWritePoint;
  int32_t FRoom;  // bytes behind the write point for the longest match
  // Where a put must look at the partial size or the write point: the lower
  // of the two.
  int32_t FCheckPoint;
};
