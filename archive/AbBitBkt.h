// TAbBitBucketStream: a write-mostly stream that keeps only the last bytes
// written, in a ring buffer. Testing an archive item extracts into it, so the
// decoder can still look back at recent output without anything being stored.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Classes.h"

class TAbBitBucketStream : public TStream {
 public:
  // Keeps `requestedSize` bytes when it is 4096, 8192 or 32768, else 32768;
  // plus 1024 in every case (33792 by default).
  explicit TAbBitBucketStream(int32_t requestedSize);

  // More than BufSize bytes raises EAbBBSWriteTooManyBytes.
  int32_t Write(const void* buffer, int32_t count) override;
  // More than BufSize bytes, or more than lie between the read place and the
  // end of what was written, raises EAbBBSReadTooManyBytes.
  int32_t Read(void* buffer, int32_t count) override;
  // Origins 0, 1, 2 (else EAbBBSInvalidOrigin). The target must lie in the
  // last BufSize bytes written, else EAbBBSSeekOutsideBuffer.
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override { return FSize; }

  int32_t BufSize() const { return FBufSize; }

 private:
  // Bytes between the read place and the write place, going round the ring.
  int32_t Readable() const;

  std::vector<uint8_t> FBuffer;
  int32_t FBufSize = 0;
  int32_t FBufPos = 0;
  int64_t FPosition = 0;
  int64_t FSize = 0;
  int32_t FTail = 0;
};
