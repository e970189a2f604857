// The output stream of the Reduce and Implode decoders: it passes every byte
// on to the destination and keeps the last 32 to 40 KiB in memory so that the
// decoders can seek back into them and read.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/Classes.h"

class TabSlidingWindowStream : public TStream {
 public:
  static constexpr int32_t kChunkSize = 8192;
  static constexpr int32_t kChunkCount = 5;

  // Moves aStream (not owned) to position 0; the output starts there. The
  // 32 KiB before offset 0 read as zeros.
  explicit TabSlidingWindowStream(TStream& aStream);
  // Writes the chunks not yet written. A failure there is swallowed (a
  // destructor must not throw): call Flush first to see it.
  ~TabSlidingWindowStream() override;
  TabSlidingWindowStream(const TabSlidingWindowStream&) = delete;
  TabSlidingWindowStream& operator=(const TabSlidingWindowStream&) = delete;

  // Appends up to 32768 bytes; the position must be at the end
  // ("TabSlidingWindowStream.Write: Not at end of stream").
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Copies up to min(Count, 32768, Size - Position) bytes.
  int32_t Read(void* Buffer, int32_t Count) override;
  // Moves inside the window; a position before the window's start or past
  // the end raises "TabSlidingWindowStream.Seek: invalid new position", an
  // origin other than 0, 1, 2 "TabSlidingWindowStream.Seek: invalid origin".
  int64_t Seek(int64_t Offset, int Origin) override;
  int64_t Size() override { return FSize; }

  // Writes every dirty chunk to the wrapped stream now ("...bsWriteChunk:
  // seek failed" / "...bsWriteChunk: write failed" on failure).
  void Flush() { FlushChunks(); }

 private:
  void bsWriteChunk(int index);
  void Rotate();
  void FlushChunks();

  std::array<std::vector<uint8_t>, kChunkCount> FChunks;
  // Offsets are 64-bit: an item may produce up to 4 GiB - 1 bytes.
  int64_t FBufferStart = -int64_t(kChunkSize) * (kChunkCount - 1);
  int32_t FLastCount = 0;
  int32_t FCurrentChunk = kChunkCount - 1;
  int32_t FPosInChunk = 0;
  int32_t FPosInBuffer = kChunkSize * (kChunkCount - 1);
  int64_t FSize = 0;
  bool FDirty = false;
  TStream& FStream;
};
