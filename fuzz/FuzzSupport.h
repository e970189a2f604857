// What the fuzz targets share: taking choices from the front of the input, an
// output stream that gives up past a bound, and a check that stops the run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/Classes.h"
#include "platform/SysUtils.h"

// The entry point of every target (libFuzzer's name); the replay driver calls it too.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// A broken promise of the code under test: report and abort, so libFuzzer and
// the replay driver both count it as a finding.
#define FUZZ_CHECK(cond, what)                                                     \
  do {                                                                             \
    if (!(cond)) {                                                                 \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, what); \
      std::abort();                                                                \
    }                                                                              \
  } while (0)

// Reads choices off the front of the input; what is left is the payload.
class TFuzzInput {
 public:
  TFuzzInput(const uint8_t* data, size_t size) : FData(data), FSize(size) {}

  uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  uint32_t Uint(int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= uint32_t(Byte()) << (8 * i);
    return value;
  }
  const uint8_t* Rest() const { return FData + FPos; }
  size_t RestSize() const { return FSize - FPos; }

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
};

// Raised by TBoundedSink once its bound would be passed: a small input may
// legitimately expand a thousandfold, which is not a finding.
class EFuzzOutputBound : public Exception {
 public:
  EFuzzOutputBound() : Exception("fuzz output bound reached") {}
};

// A write-only memory stream that keeps at most `limit` bytes.
class TBoundedSink : public TStream {
 public:
  explicit TBoundedSink(size_t limit) : FLimit(limit) {}

  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void* buffer, int32_t count) override {
    if (count < 0) return 0;
    if (FPosition + size_t(count) > FLimit) throw EFuzzOutputBound();
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    if (FPosition + size_t(count) > FData.size()) FData.resize(FPosition + size_t(count));
    std::copy(bytes, bytes + count, FData.begin() + long(FPosition));
    FPosition += size_t(count);
    return count;
  }
  int64_t Seek(int64_t offset, int origin) override {
    int64_t base = origin == soFromBeginning ? 0
                   : origin == soFromCurrent ? int64_t(FPosition)
                                             : int64_t(FData.size());
    const int64_t target = base + offset;
    FUZZ_CHECK(target >= 0, "TBoundedSink: seek before the start");
    FPosition = size_t(target);
    return target;
  }
  int64_t Size() override { return int64_t(FData.size()); }

  const std::vector<uint8_t>& Bytes() const { return FData; }

 private:
  size_t FLimit;
  size_t FPosition = 0;
  std::vector<uint8_t> FData;
};

// CRC-32 of the ZIP standard, written apart from the engine's own so the two check each other.
inline uint32_t FuzzCrc32(const std::vector<uint8_t>& data) {
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t byte : data) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}
