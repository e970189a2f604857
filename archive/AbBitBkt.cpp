#include "archive/AbBitBkt.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "archive/AbExcept.h"

TAbBitBucketStream::TAbBitBucketStream(int32_t requestedSize) {
  const bool known = requestedSize == 4096 || requestedSize == 8192 || requestedSize == 32768;
  FBufSize = (known ? requestedSize : 32768) + 1024;
  FBuffer.resize(size_t(FBufSize));
}

int32_t TAbBitBucketStream::Write(const void* buffer, int32_t count) {
  if (count > FBufSize) throw EAbBBSWriteTooManyBytes(count);
  if (count <= 0) return 0;
  const auto* in = static_cast<const uint8_t*>(buffer);
  const int32_t first = std::min(count, FBufSize - FTail);
  std::memcpy(FBuffer.data() + FTail, in, size_t(first));
  std::memcpy(FBuffer.data(), in + first, size_t(count - first));
  FTail = (FTail + count) % FBufSize;
  FSize += count;
  FPosition = FSize;
  FBufPos = FTail;
  return count;
}

int32_t TAbBitBucketStream::Read(void* buffer, int32_t count) {
  if (count > FBufSize || count > Readable()) throw EAbBBSReadTooManyBytes(count);
  if (count <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  const int32_t first = std::min(count, FBufSize - FBufPos);
  std::memcpy(out, FBuffer.data() + FBufPos, size_t(first));
  std::memcpy(out + first, FBuffer.data(), size_t(count - first));
  FBufPos = (FBufPos + count) % FBufSize;
  FPosition += count;
  return count;
}

int64_t TAbBitBucketStream::Seek(int64_t offset, int origin) {
  if (origin == soFromEnd && offset == 0) {
    FBufPos = FTail;
    FPosition = FSize;
    return FSize;
  }
  const std::optional<int64_t> found = SeekTarget(offset, origin, FPosition, FSize);
  if (!found) throw EAbBBSInvalidOrigin();
  const int64_t target = *found;
  // Also refuses places before the first byte while fewer than BufSize were written.
  if (target <= FSize - FBufSize || target > FSize || target < 0) {
    throw EAbBBSSeekOutsideBuffer();
  }
  const int32_t back = int32_t(FSize - target);
  FBufPos = (FTail - back + FBufSize) % FBufSize;
  FPosition = target;
  return FPosition;
}

int32_t TAbBitBucketStream::Readable() const {
  return int32_t(FSize - FPosition);
}
