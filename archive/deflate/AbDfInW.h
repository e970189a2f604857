// The Deflate encoder's view of its source: the sliding window of bytes a
// match may refer to, the look-ahead behind it, hash chains over 3-byte keys,
// the longest-match search, the running checksum and the progress of the
// input consumed.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/deflate/AbDfBase.h"
#include "archive/deflate/AbDfStrm.h"
#include "platform/Classes.h"

// `aDone` × 100 / `aTotal` (above 0) rounded half to even, at most 100: the
// percentage the progress hooks of the encoder receive.
uint8_t AbDfPercentDone(int64_t aDone, int64_t aTotal);

// A match found at the current position; Length 0 means none.
struct TAbDfMatch {
  int32_t Length = 0;
  int32_t Distance = 0;
  uint8_t Literal = 0;  // the byte at the position searched
};

class TAbDfInputWindow : public TAbDfInputSource {
 public:
  // Reads the source (not owned) from its current position, which counts as
  // input offset 0. `aWindowSize` is a power of two up to 65,536; the longest
  // match is 258 bytes, 65,536 with Deflate64. Performs the first read.
  TAbDfInputWindow(TStream& aStream, int32_t aStreamSize, int32_t aWindowSize, int32_t aChainLimit,
                   bool aUseDeflate64, bool aUseCRC32);
  TAbDfInputWindow(const TAbDfInputWindow&) = delete;
  TAbDfInputWindow& operator=(const TAbDfInputWindow&) = delete;

  // Moves `aCount` positions and enters `aHashCount` of them into the hash
  // chains: aCount, or aCount − 1 when the current position was entered by
  // the search just made.
  void Advance(int32_t aCount, int32_t aHashCount);
  // Moves one position, which the search just made has entered.
  void AdvanceOne() {
    ZASSERT(LookAhead() >= 1, "TAbDfInputWindow.Advance: seem to be advancing into the unknown");
    ++FCurrentOfs;
    FollowWindow(1);
    if (FOnProgress) ReportProgress(1);
  }
  // Enters the current position into the chains and looks for a match longer
  // than both 2 and the held-back match `aPrevMatch` (only its Length is
  // read). The search stops at a match of `aGoodEnoughLength`, and looks at a
  // quarter of the chain limit when the held-back match is already that long.
  // True when `aMatch` holds a match (3 bytes or longer); aMatch.Literal is
  // the current byte in any case.
  bool SearchMatch(int32_t aGoodEnoughLength, TAbDfMatch& aMatch, const TAbDfMatch& aPrevMatch);
  // The current byte, moving past it without hashing, progress or window
  // bookkeeping: for the last one or two bytes of the input.
  uint8_t TakeByte();
  // Bytes left in the look-ahead, at most 3.
  int32_t KeyLength() const { return LookAhead() < 3 ? LookAhead() : 3; }
  // CRC-32 (final form) or Adler-32 of every byte read from the source.
  uint32_t Checksum() const;

  // Input offset of the current position.
  int32_t InputPosition() const override { return FCurrentOfs; }
  // Reads exactly `aCount` source bytes at input offset `aOffset` (EReadError
  // otherwise) and puts the source back where it was.
  void ReadAt(void* aBuffer, int32_t aCount, int32_t aOffset) override;

  int32_t ChainLimit() const { return FChainLimit; }
  void SetChainLimit(int32_t aValue) { FChainLimit = aValue; }
  // Called with the percentage of the source passed at every multiple of
  // 4,096 bytes (when the source size is above 0).
  void SetProgressHook(const TAbProgressStep& aHook) { FOnProgress = aHook; }

 private:
  static constexpr int32_t kNone = -1;
  // The window start may run this far ahead of the buffer start before the
  // bytes are moved down: sliding moves at least this much at a time.
  static constexpr int32_t kSlideDistance = 16384;
  static constexpr int32_t kProgressStep = 4096;

  uint8_t* At(int32_t aOffset) { return FBuffer.data() + (aOffset - FBufferOfs); }
  const uint8_t* At(int32_t aOffset) const { return FBuffer.data() + (aOffset - FBufferOfs); }
  int32_t LookAhead() const { return FLookAheadEndOfs - FCurrentOfs; }
  void Refill();
  void Slide();
  void EnterPositions(int32_t aFirstOfs, int32_t aCount);
  // Enters `aOffset` with the hash `aHash` into the chains; the position
  // before it in its chain.
  int32_t EnterPosition(int32_t aOffset, uint32_t aHash) {
    const int32_t head = FHashHeads[aHash];
    // Read before the write: both may be the same slot. No head (kNone)
    // reads some slot whose value is then never used.
    const int32_t second = FChain[size_t(head & FWinMask)].Prev;
    FChain[size_t(aOffset & FWinMask)] = {head, second};
    FHashHeads[aHash] = aOffset;
    return head;
  }
  // Moves the window start along with the current position; slides the
  // buffer when the start has run far enough ahead.
  void FollowWindow(int32_t aCount) {
    if (FAdvancing && FWindowStartOfs + aCount - FBufferOfs < kSlideDistance)
      FWindowStartOfs += aCount;
    else
      FollowWindowSlowly(aCount);
  }
  void FollowWindowSlowly(int32_t aCount);
  // Counts consumed bytes for the progress hook (which is set); calls it at
  // every multiple of kProgressStep.
  void ReportProgress(int32_t aCount) {
    FBytesUsed += aCount;
    if (FBytesUsed % kProgressStep == 0 && FStreamSize > 0) CallProgressHook();
  }
  void CallProgressHook();
  int32_t MatchLength(const uint8_t* aCandidate, const uint8_t* aCurrent, int32_t aLimit) const;

  bool FAdvancing = false;
  std::vector<uint8_t> FBuffer;  // window + 16,384 + longest match, and 2 spare bytes
  int32_t FBufferSize;           // without the spare bytes
  int32_t FBytesUsed = 0;
  int32_t FChainLimit;
  // A position's link in its chain, and the link after that: a walk down the
  // chain then waits for one memory read per two candidates.
  struct TLinks {
    int32_t Prev;
    int32_t PrevOfPrev;
  };
  // Chains are kept by input offset (slot: offset modulo the window size), so
  // a slide moves only bytes and never re-keys a link. A slot is reused by
  // the position a whole window later, so the links of a position inside the
  // window are never replaced. Both are set when the position is entered:
  // the second is copied from the first link's slot, which is still that
  // position's own whenever the first link lies inside any later window.
  std::vector<TLinks> FChain;
  std::vector<int32_t> FHashHeads;
  uint32_t FHash = 0;
  int32_t FHashedCount = 0;  // positions entered so far: offsets 0 .. FHashedCount − 1
  uint32_t FChecksum;
  int32_t FBufferOfs = 0;  // input offset of the buffer's first byte
  int32_t FCurrentOfs = 0;
  int32_t FLookAheadEndOfs = 0;
  int32_t FMaxMatch;
  bool FMoreData = true;
  TAbProgressStep FOnProgress;
  int32_t FWindowStartOfs = 0;
  TStream& FStream;
  int64_t FStreamStart;
  int32_t FStreamSize;
  bool FUseCRC32;
  int32_t FWinMask;
  int32_t FWinSize;
};
