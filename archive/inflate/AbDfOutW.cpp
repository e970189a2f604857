#include "archive/inflate/AbDfOutW.h"

#include <algorithm>
#include <cstring>

#include "archive/deflate/AbDfBase.h"

namespace {

// History the matches may reach back to.
constexpr int32_t kDeflateHistory = 32768;
constexpr int32_t kDeflate64History = 65536;
// Output gathered beyond the history before it is passed on: the window
// slides (moves its history to the front) once per this many bytes.
constexpr int32_t kOutputChunk = 262144;
// The highest partial size: where the window first passed its output on
// when it was 32 KiB at a time.
constexpr int32_t kDeflatePartialLimit = 65536;
constexpr int32_t kDeflate64PartialLimit = 98304;
// The longest match: 258, or 3 + 65,535 with Deflate64 (a little more than
// the 64 KiB one might expect).
constexpr int32_t kDeflateRoom = 258;
constexpr int32_t kDeflate64Room = 65538;
// Matches are copied eight bytes at a time and may write up to seven bytes
// past their end.
constexpr int32_t kCopySlack = 8;

void Copy8(uint8_t* aTo, const uint8_t* aFrom) {
  uint64_t chunk;
  std::memcpy(&chunk, aFrom, sizeof(chunk));
  std::memcpy(aTo, &chunk, sizeof(chunk));
}

}  // namespace

TAbDfOutputWindow::TAbDfOutputWindow(TStream* aStream, TAbLogger* /*aLog: nothing to log*/,
                                     bool aTestOnly, int32_t aPartialSize, bool aUseCrc32,
                                     bool aUseDeflate64)
    : FChecksum(aUseCrc32 ? 0xFFFFFFFF : 1),
      FStream(aStream),
      FTestOnly(aTestOnly),
      FUseCrc32(aUseCrc32),
      FHistory(aUseDeflate64 ? kDeflate64History : kDeflateHistory),
      FWritePoint(FHistory + kOutputChunk),
      FRoom(aUseDeflate64 ? kDeflate64Room : kDeflateRoom) {
  ZASSERT(aTestOnly || aStream != nullptr, "TAbDfOutputWindow.Create: a destination is needed");
  FBuffer = std::make_unique<uint8_t[]>(size_t(FWritePoint + FRoom + kCopySlack));
  FPartSize =
      std::clamp(aPartialSize, 0, aUseDeflate64 ? kDeflate64PartialLimit : kDeflatePartialLimit);
  FCheckPoint = FPartSize > 0 ? FPartSize : FWritePoint;
}

TAbDfOutputWindow::~TAbDfOutputWindow() {
  try {
    Finish();
  } catch (const std::exception&) {
  }
}

void TAbDfOutputWindow::PutMatch(int32_t aLength, int32_t aDistance) {
  // Everything from the buffer start is history: the first bytes decoded
  // until the first slide, then at least the window's reach.
  if (aDistance < 1 || aDistance > FCurrent)
    throw EAbInternalInflateError("distance is too far back [TAbDfOutputWindow.PutMatch]");
  ZASSERT(aLength >= 0 && aLength <= FRoom, "TAbDfOutputWindow.PutMatch: length out of range");
  uint8_t* to = FBuffer.get() + FCurrent;
  const uint8_t* from = to - aDistance;
  if (aDistance >= 8) {
    // Each chunk reads only bytes already final: at least eight back.
    for (int32_t i = 0; i < aLength; i += 8) Copy8(to + i, from + i);
  } else if (aDistance == 1) {
    std::memset(to, from[0], size_t(aLength));
  } else {
    // Overlapping: each byte may be one this copy has just written.
    for (int32_t i = 0; i < aLength; ++i) to[i] = from[i];
  }
  FCurrent += aLength;
  if (FCurrent >= FCheckPoint) CheckAfterPut();
}

void TAbDfOutputWindow::PutBuffer(const void* aBuffer, int32_t aCount) {
  const auto* bytes = static_cast<const uint8_t*>(aBuffer);
  if (FCurrent >= FWritePoint) WriteOut(false);
  while (aCount > 0) {
    const int32_t n = std::min(aCount, FWritePoint - FCurrent);
    std::memcpy(FBuffer.get() + FCurrent, bytes, size_t(n));
    FCurrent += n;
    bytes += n;
    aCount -= n;
    if (FCurrent >= FWritePoint) WriteOut(false);
  }
}

void TAbDfOutputWindow::CheckAfterPut() {
  if (FPartSize > 0 && FCurrent >= FPartSize) throw EAbPartSizedInflate();
  // A long Deflate64 match can pass the write point by more than one slide.
  while (FCurrent >= FWritePoint) WriteOut(false);
}

uint32_t TAbDfOutputWindow::Checksum() {
  if (FCurrent > 0) WriteOut(true);
  return FUseCrc32 ? ~FChecksum : FChecksum;
}

int64_t TAbDfOutputWindow::OutputPosition() {
  if (FTestOnly) return FBytesPassedOn + FCurrent;
  return FStream->Position() + FCurrent;
}

void TAbDfOutputWindow::Finish() {
  if (FCurrent > 0) WriteOut(true);
}

void TAbDfOutputWindow::WriteOut(bool aFlush) {
  if (aFlush) {
    PassOn(FCurrent);
    FCurrent = 0;
    return;
  }
  const int32_t slide = FCurrent - FHistory;
  PassOn(slide);
  std::memmove(FBuffer.get(), FBuffer.get() + slide, size_t(FHistory));
  FCurrent = FHistory;
}

void TAbDfOutputWindow::PassOn(int32_t aCount) {
  FChecksum = FUseCrc32 ? UpdateCrc32(FChecksum, FBuffer.get(), aCount)
                        : UpdateAdler32(FChecksum, FBuffer.get(), aCount);
  if (FTestOnly)
    FBytesPassedOn += aCount;
  else
    FStream->WriteBuffer(FBuffer.get(), aCount);
}
