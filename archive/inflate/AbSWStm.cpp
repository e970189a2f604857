#include "archive/inflate/AbSWStm.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/SysUtils.h"

// Chunk 4 is the one being filled; chunks 0-3 hold the 32 KiB before it. A
// chunk reaches the destination only when it leaves the window (or at the
// end), so every byte is written exactly once and in order.

namespace {

constexpr int32_t kHistory =
    TabSlidingWindowStream::kChunkSize * (TabSlidingWindowStream::kChunkCount - 1);  // 32768
constexpr int kLastChunk = TabSlidingWindowStream::kChunkCount - 1;

}  // namespace

TabSlidingWindowStream::TabSlidingWindowStream(TStream& aStream) : FStream(aStream) {
  for (std::vector<uint8_t>& chunk : FChunks) chunk.assign(kChunkSize, 0);
  FStream.Seek(0, soFromBeginning);
}

TabSlidingWindowStream::~TabSlidingWindowStream() {
  try {
    FlushChunks();
  } catch (const std::exception&) {
    // Reported by an explicit Flush when the caller wants it.
  }
}

void TabSlidingWindowStream::bsWriteChunk(int index) {
  const int64_t offset = FBufferStart + int64_t(kChunkSize) * index;
  if (offset < 0) return;
  if (FStream.Seek(offset, soFromBeginning) != offset)
    throw Exception("TabSlidingWindowStream.bsWriteChunk: seek failed");
  const int32_t count = index == kLastChunk ? FLastCount : kChunkSize;
  if (count > 0 && FStream.Write(FChunks[index].data(), count) != count)
    throw Exception("TabSlidingWindowStream.bsWriteChunk: write failed");
}

void TabSlidingWindowStream::Rotate() {
  bsWriteChunk(0);
  std::rotate(FChunks.begin(), FChunks.begin() + 1, FChunks.end());
  FBufferStart += kChunkSize;
  FCurrentChunk = kLastChunk;
  FPosInChunk = 0;
  FPosInBuffer = kHistory;
  FLastCount = 0;
}

void TabSlidingWindowStream::FlushChunks() {
  if (!FDirty) return;
  for (int i = 0; i < kChunkCount; ++i) bsWriteChunk(i);
  FDirty = false;
}

int32_t TabSlidingWindowStream::Write(const void* Buffer, int32_t Count) {
  if (FBufferStart + FPosInBuffer != FSize)
    throw Exception("TabSlidingWindowStream.Write: Not at end of stream");
  Count = std::min(Count, kHistory);
  if (Count <= 0) return 0;
  const uint8_t* source = static_cast<const uint8_t*>(Buffer);
  int32_t left = Count;
  while (true) {
    const int32_t n = std::min(left, kChunkSize - FPosInChunk);
    std::memcpy(FChunks[kLastChunk].data() + FPosInChunk, source, size_t(n));
    source += n;
    left -= n;
    FPosInChunk += n;
    FDirty = true;
    if (left == 0) break;
    Rotate();
  }
  FCurrentChunk = kLastChunk;
  FLastCount = FPosInChunk;
  FPosInBuffer = kHistory + FPosInChunk;
  FSize += Count;
  if (FPosInChunk == kChunkSize) Rotate();
  return Count;
}

int32_t TabSlidingWindowStream::Read(void* Buffer, int32_t Count) {
  const int64_t available = FSize - (FBufferStart + FPosInBuffer);
  Count = int32_t(std::min<int64_t>({int64_t(Count), int64_t(kHistory), available}));
  if (Count <= 0) return 0;
  uint8_t* target = static_cast<uint8_t*>(Buffer);
  int32_t left = Count;
  while (left > 0) {
    const int32_t n = std::min(left, kChunkSize - FPosInChunk);
    std::memcpy(target, FChunks[FCurrentChunk].data() + FPosInChunk, size_t(n));
    target += n;
    left -= n;
    FPosInBuffer += n;
    FCurrentChunk = FPosInBuffer / kChunkSize;
    FPosInChunk = FPosInBuffer % kChunkSize;
  }
  return Count;
}

int64_t TabSlidingWindowStream::Seek(int64_t Offset, int Origin) {
  const std::optional<int64_t> found =
      SeekTarget(Offset, Origin, FBufferStart + FPosInBuffer, FSize);
  if (!found) throw Exception("TabSlidingWindowStream.Seek: invalid origin");
  const int64_t target = *found;
  if (target < FBufferStart || target > FSize)
    throw Exception("TabSlidingWindowStream.Seek: invalid new position");
  FPosInBuffer = int32_t(target - FBufferStart);
  FCurrentChunk = FPosInBuffer / kChunkSize;
  FPosInChunk = FPosInBuffer % kChunkSize;
  return target;
}
