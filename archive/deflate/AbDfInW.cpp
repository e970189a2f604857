#include "archive/deflate/AbDfInW.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr int32_t kHashSize = 16384;
constexpr uint32_t kHashMask = kHashSize - 1;
// Entering one of the last two positions reads up to two bytes past the
// data; they need not be valid, only present.
constexpr int32_t kSpareBytes = 2;

uint16_t Word(const uint8_t* aBytes) {
  uint16_t word;
  std::memcpy(&word, aBytes, sizeof(word));
  return word;
}

uint64_t QWord(const uint8_t* aBytes) {
  uint64_t word;
  std::memcpy(&word, aBytes, sizeof(word));
  return word;
}

// Index of the lowest non-zero byte of a non-zero little-endian word.
int32_t FirstDifferentByte(uint64_t aDiff) {
  if constexpr (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) {
    return __builtin_ctzll(aDiff) / 8;
  } else {
    return __builtin_clzll(aDiff) / 8;
  }
}

int32_t CheckedWindowSize(int32_t aWindowSize) {
  ZASSERT(aWindowSize >= 2 && aWindowSize <= 65536 && (aWindowSize & (aWindowSize - 1)) == 0,
          "TAbDfInputWindow.Create: the window size must be a power of two up to 65536");
  return aWindowSize;
}

}  // namespace

uint8_t AbDfPercentDone(int64_t aDone, int64_t aTotal) {
  const int64_t scaled = aDone * 100;
  int64_t quotient = scaled / aTotal;
  const int64_t twiceRemainder = (scaled % aTotal) * 2;
  if (twiceRemainder > aTotal || (twiceRemainder == aTotal && (quotient & 1) != 0)) ++quotient;
  return uint8_t(std::clamp<int64_t>(quotient, 0, 100));
}

TAbDfInputWindow::TAbDfInputWindow(TStream& aStream, int32_t aStreamSize, int32_t aWindowSize,
                                   int32_t aChainLimit, bool aUseDeflate64, bool aUseCRC32)
    : FChainLimit(aChainLimit),
      FChecksum(aUseCRC32 ? 0xFFFFFFFF : 1),
      FMaxMatch(aUseDeflate64 ? 65536 : 258),
      FStream(aStream),
      FStreamStart(aStream.Position()),
      FStreamSize(aStreamSize),
      FUseCRC32(aUseCRC32),
      FWinMask(CheckedWindowSize(aWindowSize) - 1),
      FWinSize(aWindowSize) {
  FBufferSize = FWinSize + kSlideDistance + FMaxMatch;
  FBuffer.assign(size_t(FBufferSize + kSpareBytes), 0);
  FHashHeads.assign(kHashSize, kNone);
  FChain.assign(size_t(FWinSize), TLinks{kNone, kNone});
  Refill();
}

void TAbDfInputWindow::Refill() {
  const int32_t oldEnd = FLookAheadEndOfs;
  // Sources may return less than asked before their end; only an empty read
  // ends the input.
  while (FMoreData && FLookAheadEndOfs - FBufferOfs < FBufferSize) {
    const int32_t room = FBufferSize - (FLookAheadEndOfs - FBufferOfs);
    const int32_t got = FStream.Read(At(FLookAheadEndOfs), room);
    if (got <= 0) {
      FMoreData = false;
      break;
    }
    FLookAheadEndOfs += got;
  }
  const int32_t added = FLookAheadEndOfs - oldEnd;
  if (added > 0) {
    FChecksum = FUseCRC32 ? UpdateCrc32(FChecksum, At(oldEnd), added)
                          : UpdateAdler32(FChecksum, At(oldEnd), added);
  }
  // The rolling hash may have taken in bytes past the data that this read has
  // now replaced; start it again from the real bytes of the last position
  // entered (or, before any, from the first two bytes).
  if (FHashedCount > 0) {
    const uint8_t* last = At(FHashedCount - 1);
    FHash = ((uint32_t(last[0]) << 10) ^ (uint32_t(last[1]) << 5) ^ last[2]) & kHashMask;
  } else if (FLookAheadEndOfs >= 2) {
    FHash = ((uint32_t(FBuffer[0]) << 5) ^ FBuffer[1]) & kHashMask;
  }
}

void TAbDfInputWindow::Slide() {
  const int32_t kept = FLookAheadEndOfs - FWindowStartOfs;
  std::memmove(FBuffer.data(), At(FWindowStartOfs), size_t(kept));
  FBufferOfs = FWindowStartOfs;
  Refill();
}

void TAbDfInputWindow::EnterPositions(int32_t aFirstOfs, int32_t aCount) {
  const uint8_t* third = At(aFirstOfs) + 2;
  uint32_t hash = FHash;
  for (int32_t offset = aFirstOfs; offset < aFirstOfs + aCount; ++offset) {
    hash = ((hash << 5) ^ *third++) & kHashMask;
    EnterPosition(offset, hash);
  }
  FHash = hash;
  FHashedCount = aFirstOfs + aCount;
}

void TAbDfInputWindow::FollowWindowSlowly(int32_t aCount) {
  if (FAdvancing) {
    FWindowStartOfs += aCount;
  } else if (FCurrentOfs - FWindowStartOfs >= FWinSize) {
    FAdvancing = true;
    FWindowStartOfs = FCurrentOfs - FWinSize;
  }
  if (FWindowStartOfs - FBufferOfs >= kSlideDistance) Slide();
}

void TAbDfInputWindow::CallProgressHook() {
  FOnProgress(AbDfPercentDone(FBytesUsed, FStreamSize));
}

void TAbDfInputWindow::Advance(int32_t aCount, int32_t aHashCount) {
  ZASSERT(aCount >= 0 && aCount <= LookAhead(),
          "TAbDfInputWindow.Advance: seem to be advancing into the unknown");
  ZASSERT(aHashCount == aCount || aHashCount == aCount - 1,
          "TAbDfInputWindow.Advance: the parameters are plain wrong");
  EnterPositions(aHashCount == aCount ? FCurrentOfs : FCurrentOfs + 1, aHashCount);
  FCurrentOfs += aCount;
  FollowWindow(aCount);
  if (FOnProgress) ReportProgress(aCount);
}

int32_t TAbDfInputWindow::MatchLength(const uint8_t* aCandidate, const uint8_t* aCurrent,
                                      int32_t aLimit) const {
  // Eight bytes at a time: the lowest differing bit gives the first
  // differing byte (bytes are loaded least significant first on the hosts we
  // build for, so the count is of trailing zeros).
  int32_t length = 2;
  while (aLimit - length >= 8) {
    const uint64_t diff = QWord(aCandidate + length) ^ QWord(aCurrent + length);
    if (diff != 0) return length + FirstDifferentByte(diff);
    length += 8;
  }
  while (length < aLimit && aCandidate[length] == aCurrent[length]) ++length;
  return length;
}

bool TAbDfInputWindow::SearchMatch(int32_t aGoodEnoughLength, TAbDfMatch& aMatch,
                                   const TAbDfMatch& aPrevMatch) {
  const TLinks* chain = FChain.data();
  // Offsets in the walk are pointer-sized: no widening on every address.
  const ptrdiff_t winMask = FWinMask;
  const ptrdiff_t windowStart = FWindowStartOfs;
  const int32_t currentOfs = FCurrentOfs;
  // Offsets are turned into addresses against the buffer's start.
  const uint8_t* base = FBuffer.data() - FBufferOfs;
  // Enters the current position; its links are the first two candidates.
  FHash = ((FHash << 5) ^ base[currentOfs + 2]) & kHashMask;
  // The next search starts where this one's head and its slot lie; ask for
  // them now, while this one waits for its own.
  const uint32_t nextHash = ((FHash << 5) ^ base[currentOfs + 3]) & kHashMask;
  const ptrdiff_t nextHead = FHashHeads[nextHash];
  __builtin_prefetch(&chain[nextHead & winMask]);
  if (nextHead >= windowStart) __builtin_prefetch(base + nextHead);
  ptrdiff_t candidate = EnterPosition(currentOfs, FHash);
  ptrdiff_t next = chain[currentOfs & winMask].PrevOfPrev;
  FHashedCount = currentOfs + 1;

  const uint8_t* current = base + currentOfs;
  const int32_t limit = std::min(LookAhead(), FMaxMatch);
  const int32_t good = std::min(aGoodEnoughLength, limit);
  const int32_t held = aPrevMatch.Length;
  aMatch.Literal = current[0];
  aMatch.Length = 0;
  if (held > limit) return false;

  int32_t best = held == 0 ? 2 : held;
  const uint16_t first = Word(current);
  uint16_t last = Word(current + best - 1);
  int32_t stepsLeft = best < good ? FChainLimit : FChainLimit / 4;
  int32_t distance = 0;
  // Addresses of the candidates' bytes that must match the current one's at
  // its start and at the end of the best match so far.
  const uint8_t* startOf = base;
  const uint8_t* lastOf = base + best - 1;
  // kNone lies below every window start. `next` follows `candidate` in the
  // chain: links are copied from a slot while it still belongs to its
  // position, so the chain ends right after the window start even when that
  // position's slot has since gone to the current one.
  while (candidate >= windowStart) {
    // Needed after the next step whatever this candidate gives; ask early.
    const ptrdiff_t afterNext = chain[candidate & winMask].PrevOfPrev;
    if (((Word(startOf + candidate) ^ first) | (Word(lastOf + candidate) ^ last)) == 0) {
      const int32_t length = MatchLength(startOf + candidate, current, limit);
      if (length > best) {
        best = length;
        distance = int32_t(currentOfs - candidate);
        if (best >= good) break;
        last = Word(current + best - 1);
        lastOf = base + best - 1;
      }
    }
    if (--stepsLeft <= 0) break;
    candidate = next;
    next = afterNext;
  }
  if (best < 3 || held >= best) return false;
  aMatch.Length = best;
  aMatch.Distance = distance;
  return true;
}

uint8_t TAbDfInputWindow::TakeByte() {
  ZASSERT(LookAhead() >= 1, "TAbDfInputWindow.TakeByte: no byte is left");
  return *At(FCurrentOfs++);
}

uint32_t TAbDfInputWindow::Checksum() const {
  return FUseCRC32 ? FChecksum ^ 0xFFFFFFFF : FChecksum;
}

void TAbDfInputWindow::ReadAt(void* aBuffer, int32_t aCount, int32_t aOffset) {
  const int64_t position = FStream.Position();
  FStream.Seek(FStreamStart + aOffset, soFromBeginning);
  // Sources may return less than asked before their end, as in Refill.
  auto* bytes = static_cast<uint8_t*>(aBuffer);
  int32_t done = 0;
  while (done < aCount) {
    const int32_t got = FStream.Read(bytes + done, aCount - done);
    if (got <= 0) throw EReadError();
    done += got;
  }
  FStream.Seek(position, soFromBeginning);
}
