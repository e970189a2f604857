// A source stream over bytes in memory (not owned), for the tests and the
// benchmark programs; reads hand out at most `aChunk` bytes when that is
// above 0, as a slow device would.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/Classes.h"

class TBytesReader : public TStream {
 public:
  explicit TBytesReader(const std::vector<uint8_t>& aBytes, int32_t aChunk = 0)
      : FBytes(aBytes), FChunk(aChunk) {}
  int32_t Read(void* aBuffer, int32_t aCount) override {
    if (FChunk > 0) aCount = std::min(aCount, FChunk);
    const int64_t n = std::min<int64_t>(aCount, int64_t(FBytes.size()) - FPos);
    if (n <= 0) return 0;
    std::memcpy(aBuffer, FBytes.data() + FPos, size_t(n));
    FPos += n;
    return int32_t(n);
  }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t aOffset, int aOrigin) override {
    FPos = SeekTarget(aOffset, aOrigin, FPos, int64_t(FBytes.size())).value_or(FPos);
    return FPos;
  }

 private:
  const std::vector<uint8_t>& FBytes;
  int32_t FChunk;
  int64_t FPos = 0;
};
