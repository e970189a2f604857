#include "archive/deflate/AbDfEnc.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

#include "archive/deflate/AbDfHufD.h"
#include "archive/deflate/AbDfInW.h"
#include "archive/deflate/AbDfPkMg.h"
#include "archive/inflate/AbDfCryS.h"

namespace {

constexpr int32_t kMaxStoredBlock = 65535;
constexpr int32_t kLitAlphabet = 286;
constexpr int32_t kDistAlphabet = 32;
constexpr int32_t kCodeLenAlphabet = 19;
constexpr int32_t kEndOfBlock = 256;
// The adaptive step of level "n" looks at the first block once it covers
// exactly this many bytes.
constexpr int32_t kAdaptiveCheckSize = 1024;
// A 3-byte match costs about as much as three literals once its distance
// needs many extra bits.
constexpr int32_t kFarShortMatch = 4096;

void WriteStoredHeader(uint8_t* aHeader, int32_t aLength) {
  const uint32_t complement = uint32_t(aLength) ^ 0xFFFF;
  aHeader[0] = uint8_t(aLength);
  aHeader[1] = uint8_t(aLength >> 8);
  aHeader[2] = uint8_t(complement);
  aHeader[3] = uint8_t(complement >> 8);
}

// 1 + the highest index below `aCount` whose length is not 0 (at least 1).
int32_t UsedCount(const int32_t* aLengths, int32_t aCount) {
  int32_t used = aCount;
  while (used > 1 && aLengths[used - 1] == 0) --used;
  return used;
}

// ------------------------------------------------------------ stored road

uint32_t DeflateStoredOnly(TStream& aSource, TStream& aDest, const TAbDeflateHelper& aHelper) {
  const bool useCRC32 = (aHelper.Options() & dfoAdler32) == 0;
  uint32_t checksum = useCRC32 ? 0xFFFFFFFF : 1;
  int64_t remaining =
      aHelper.SourceSize > 0 ? aHelper.SourceSize : aSource.Size() - aSource.Position();
  std::vector<uint8_t> buffer(kMaxStoredBlock);
  int64_t done = 0;
  bool finalWritten = false;
  while (remaining > 0) {
    const int32_t n =
        aSource.Read(buffer.data(), int32_t(std::min<int64_t>(remaining, kMaxStoredBlock)));
    // A source that ends before the size it announced ends the input here.
    if (n <= 0) break;
    if (aHelper.ProgressHook && aHelper.SourceSize > 0) {
      done += n;
      aHelper.ProgressHook(AbDfPercentDone(done, aHelper.SourceSize));
    }
    checksum = useCRC32 ? UpdateCrc32(checksum, buffer.data(), n)
                        : UpdateAdler32(checksum, buffer.data(), n);
    uint8_t header[5];
    header[0] = n == remaining ? 1 : 0;
    WriteStoredHeader(header + 1, n);
    aDest.WriteBuffer(header, sizeof(header));
    aDest.WriteBuffer(buffer.data(), n);
    finalWritten = n == remaining;
    remaining -= n;
  }
  // Every Deflate stream ends with a final block, also an empty one.
  if (!finalWritten) {
    uint8_t header[5] = {1};
    WriteStoredHeader(header + 1, 0);
    aDest.WriteBuffer(header, sizeof(header));
  }
  return useCRC32 ? checksum ^ 0xFFFFFFFF : checksum;
}

// ------------------------------------------------------------ LZ77 road

void EmitBlock(bool aFinal, bool aStaticOnly, bool aChoose, bool aUseDeflate64, TAbLogger* aLog,
               TAbDfOutBitStream& aBitStrm, TAbDfLZStream& aStream) {
  if (aStaticOnly)
    EmitStaticBlock(aFinal, aUseDeflate64, aStream, aLog, aBitStrm);
  else
    EmitChosenBlock(aFinal, aUseDeflate64, aChoose, aLog, aBitStrm, aStream);
}

// Level "n" on data without zero bytes (text, mostly) searches harder.
void AdaptLevel(TAbDeflateHelper& aHelper, const TAbDfLZStream& aStream,
                TAbDfInputWindow& aWindow) {
  if (aHelper.LevelLetter() != 'n' || aStream.LitBuckets()[0] != 0) return;
  aHelper.SetGoodEnoughLength(aHelper.GoodEnoughLength() * 2);
  aHelper.SetLazyLimit(aHelper.LazyLimit() * 2);
  aHelper.SetChainLimit(aHelper.ChainLimit() * 2);
  aWindow.SetChainLimit(aHelper.ChainLimit());
}

uint32_t DeflateStaticDynamic(bool aStaticOnly, bool aChoose, TStream& aSource, TStream& aDest,
                              TAbDeflateHelper& aHelper, TAbLogger* aLog) {
  const bool useDeflate64 = (aHelper.Options() & dfoDeflate64) != 0;
  const bool useCRC32 = (aHelper.Options() & dfoAdler32) == 0;
  TAbDfInputWindow window(aSource, aHelper.SourceSize, aHelper.HistorySize, aHelper.ChainLimit(),
                          useDeflate64, useCRC32);
  window.SetProgressHook(aHelper.ProgressHook);
  TAbDfOutBitStream bitStrm(&aDest);
  TAbDfLZStream stream(window, useDeflate64, aLog);

  bool full = false;
  bool firstCheck = true;
  TAbDfMatch held;
  TAbDfMatch current;
  while (window.KeyLength() == 3) {
    if (firstCheck && stream.CoveredSize() == kAdaptiveCheckSize) {
      AdaptLevel(aHelper, stream, window);
      firstCheck = false;
    }
    if (full) {
      EmitBlock(false, aStaticOnly, aChoose, useDeflate64, aLog, bitStrm, stream);
      stream.Reset();
      full = false;
    }

    bool found = window.SearchMatch(aHelper.GoodEnoughLength(), current, held);
    if (found && current.Length == 3 && current.Distance > kFarShortMatch) found = false;

    if (found) {
      // Lazy evaluation: a longer match one byte on replaces the held one,
      // whose first byte then goes out as a literal.
      if (held.Length > 0) full = stream.PutLiteral(held.Literal);
      held = current;
      window.AdvanceOne();
      if (held.Length >= aHelper.LazyLimit()) {
        full = stream.PutMatch(held.Length, held.Distance);
        window.Advance(held.Length - 1, held.Length - 1);
        held.Length = 0;
      }
    } else if (held.Length > 0) {
      // The search entered the position after the match's start already.
      full = stream.PutMatch(held.Length, held.Distance);
      window.Advance(held.Length - 1, held.Length - 2);
      held.Length = 0;
    } else {
      full = stream.PutLiteral(current.Literal);
      window.AdvanceOne();
    }
  }

  const int32_t left = window.KeyLength();
  if (left > 0 && held.Length > 0) {
    ZASSERT(held.Length == 3, "DeflateStaticDynamic: previous match should be length 3");
    stream.PutMatch(held.Length, held.Distance);
  } else {
    for (int32_t i = 0; i < left; ++i) stream.PutLiteral(window.TakeByte());
  }
  EmitBlock(true, aStaticOnly, aChoose, useDeflate64, aLog, bitStrm, stream);
  bitStrm.Finish();
  return window.Checksum();
}

void LimitFromUnlimited(int32_t aValue, void (TAbDeflateHelper::*aSetter)(int32_t),
                        TAbDeflateHelper& aHelper) {
  if (aValue == -1) (aHelper.*aSetter)(INT32_MAX);
}

uint32_t DeflateWith(TAbDeflateHelper& aHelper, TStream& aSource, TStream& aDest) {
  if (!aHelper.ProgressHook)
    aHelper.SourceSize = 0;
  else if (aHelper.SourceSize == -1)
    aHelper.SourceSize = int32_t(aSource.Size() - aSource.Position());
  if ((aHelper.Options() & dfoLazy) == 0) aHelper.SetLazyLimit(0);
  LimitFromUnlimited(aHelper.GoodEnoughLength(), &TAbDeflateHelper::SetGoodEnoughLength, aHelper);
  LimitFromUnlimited(aHelper.LazyLimit(), &TAbDeflateHelper::SetLazyLimit, aHelper);
  LimitFromUnlimited(aHelper.ChainLimit(), &TAbDeflateHelper::SetChainLimit, aHelper);

  std::unique_ptr<TAbLogger> log;
  if (!aHelper.LogFileName.empty()) {
    log = std::make_unique<TAbLogger>(aHelper.LogFileName);
    log->WriteLine("DEFLATING STREAM...");
    log->WriteLine("Need to recompile the app with UseLogging turned on");
  }

  std::unique_ptr<TAbDfEncryptStream> encrypter;
  TStream* dest = &aDest;
  if (!aHelper.Password.empty()) {
    encrypter = std::make_unique<TAbDfEncryptStream>(aDest, uint32_t(aHelper.HeaderCheck),
                                                     aHelper.Password);
    dest = encrypter.get();
  }

  switch (aHelper.Options() & (dfoStored | dfoStatic | dfoDynamic)) {
    case dfoStored:
      return DeflateStoredOnly(aSource, *dest, aHelper);
    case dfoStatic:
      return DeflateStaticDynamic(true, false, aSource, *dest, aHelper, log.get());
    case dfoDynamic:
      return DeflateStaticDynamic(false, false, aSource, *dest, aHelper, log.get());
    default:
      return DeflateStaticDynamic(false, true, aSource, *dest, aHelper, log.get());
  }
}

}  // namespace

// ------------------------------------------------------------ entry

uint32_t Deflate(TStream* aSource, TStream* aDest, TAbDeflateHelper* aHelper) {
  ZASSERT(aSource != nullptr, "Deflate: aSource stream cannot be nil");
  ZASSERT(aDest != nullptr, "Deflate: aDest stream cannot be nil");
  if (aHelper != nullptr)
    ZASSERT((aHelper->Options() & (dfoStored | dfoStatic | dfoDynamic)) != 0,
            "Deflate: aHelper.Options must enable some kind of archiving");
  try {
    // The adaptive step and the limits change the options: work on a copy.
    TAbDeflateHelper helper;
    if (aHelper != nullptr) helper.Assign(*aHelper);
    const int64_t sourceStart = aSource->Position();
    const int64_t destStart = aDest->Position();
    const uint32_t checksum = DeflateWith(helper, *aSource, *aDest);
    if (aHelper != nullptr) {
      aHelper->BytesRead = int32_t(aSource->Position() - sourceStart);
      aHelper->BytesWritten = int32_t(aDest->Position() - destStart);
    }
    return checksum;
  } catch (const EAbInternalDeflateError& error) {
    throw EAbDeflateError(error.Message());
  }
}

// ------------------------------------------------------------ block writers

void EmitChosenBlock(bool aFinal, bool aUseDeflate64, bool aChoose, TAbLogger* aLog,
                     TAbDfOutBitStream& aBitStrm, TAbDfLZStream& aStream) {
  std::array<int32_t, kLitAlphabet + kDistAlphabet> codeLens{};
  GenerateCodeLengths(15, aStream.LitBuckets().data(), kLitAlphabet, codeLens.data(), 0, aLog);
  const int32_t litCount = UsedCount(codeLens.data(), kLitAlphabet);
  GenerateCodeLengths(15, aStream.DistBuckets().data(), kDistAlphabet, codeLens.data(), litCount,
                      aLog);
  const int32_t distCount = UsedCount(codeLens.data() + litCount, kDistAlphabet);

  TAbDfCodeLenStream codeLenStream;
  codeLenStream.Build(codeLens.data(), litCount + distCount);
  std::array<int32_t, kCodeLenAlphabet> codeLenCodeLens{};
  GenerateCodeLengths(7, codeLenStream.Buckets().data(), kCodeLenAlphabet, codeLenCodeLens.data(),
                      0, nullptr);
  int32_t codeLenCount = kCodeLenAlphabet;
  while (codeLenCount > 4 && codeLenCodeLens[dfc_CodeLengthIndex[size_t(codeLenCount - 1)]] == 0)
    --codeLenCount;

  if (aChoose) {
    const int64_t dynamicBits = CalcDynamicBitCount(
        aUseDeflate64, aStream.LitBuckets(), aStream.DistBuckets(), codeLenStream.Buckets(),
        codeLens.data(), codeLenCodeLens, litCount, distCount, codeLenCount);
    const int64_t staticBits = aStream.StaticBitCount();
    const int64_t storedBits = (int64_t(aStream.CoveredSize()) + 4) * 8;
    if (staticBits < dynamicBits) {
      if (storedBits < staticBits)
        EmitStoredBlocks(aFinal, aStream, aBitStrm, aLog, aStream.CoveredSize());
      else
        EmitStaticBlock(aFinal, aUseDeflate64, aStream, aLog, aBitStrm);
      return;
    }
    if (storedBits < dynamicBits) {
      EmitStoredBlocks(aFinal, aStream, aBitStrm, aLog, aStream.CoveredSize());
      return;
    }
  }

  TAbDfDecodeHuffmanTree codeLenTree(kCodeLenAlphabet, 7, huEncoding);
  codeLenTree.Build(codeLenCodeLens.data(), 0, kCodeLenAlphabet, nullptr, 65535);
  TAbDfDecodeHuffmanTree litTree(kLitAlphabet, 15, huEncoding);
  litTree.Build(codeLens.data(), 0, litCount, dfc_LengthExtraBits.data(), 257);
  TAbDfDecodeHuffmanTree distTree(aUseDeflate64 ? 32 : 30, 15, huEncoding);
  distTree.Build(codeLens.data(), litCount, distCount, dfc_DistanceExtraBits.data(), 0);

  aBitStrm.WriteBits(aFinal ? 5 : 4, 3);
  aBitStrm.WriteBits(uint32_t((litCount - 257) + (distCount - 1) * 32 + (codeLenCount - 4) * 1024),
                     14);
  for (int32_t p = 0; p < codeLenCount; ++p)
    aBitStrm.WriteBits(uint32_t(codeLenCodeLens[dfc_CodeLengthIndex[size_t(p)]]), 3);
  codeLenStream.Encode(aBitStrm, codeLenTree);
  aStream.Encode(aBitStrm, litTree, distTree, aUseDeflate64);
  EmitEndOfBlock(aBitStrm, litTree);
}

void EmitStaticBlock(bool aFinal, bool aUseDeflate64, TAbDfLZStream& aStream, TAbLogger*,
                     TAbDfOutBitStream& aBitStrm) {
  aBitStrm.WriteBits(aFinal ? 3 : 2, 3);
  aStream.Encode(aBitStrm, AbDfFixedLiteralTree(), AbDfFixedDistanceTree(), aUseDeflate64);
  EmitEndOfBlock(aBitStrm, AbDfFixedLiteralTree());
}

void EmitStoredBlocks(bool aFinal, TAbDfLZStream& aStream, TAbDfOutBitStream& aBitStrm, TAbLogger*,
                      int32_t aSize) {
  std::vector<uint8_t> buffer(size_t(kMaxStoredBlock) + 1);
  int32_t remaining = aSize;
  while (remaining != 0) {
    const int32_t n = std::min(remaining, kMaxStoredBlock);
    remaining -= n;
    aBitStrm.WriteBits(aFinal && remaining == 0 ? 1 : 0, 3);
    aBitStrm.AlignToByte();
    uint8_t header[4];
    WriteStoredHeader(header, n);
    aBitStrm.WriteBuffer(header, sizeof(header));
    aStream.ReadRawBlock(buffer.data(), n);
    aBitStrm.WriteBuffer(buffer.data(), n);
  }
  aStream.Reset();
}

int64_t CalcDynamicBitCount(bool aUseDeflate64, const std::array<int32_t, 286>& aLitBuckets,
                            const std::array<int32_t, 32>& aDistBuckets,
                            const std::array<int32_t, 19>& aCodeLenBuckets,
                            const int32_t* aCodeLengths,
                            const std::array<int32_t, 19>& aCodeLenCodeLengths, int32_t aLitCount,
                            int32_t aDistCount, int32_t aCodeLenCount) {
  int64_t bits = 14 + 3 * int64_t(aCodeLenCount);
  bits += int64_t(aCodeLenBuckets[16]) * (aCodeLenCodeLengths[16] + 2) +
          int64_t(aCodeLenBuckets[17]) * (aCodeLenCodeLengths[17] + 3) +
          int64_t(aCodeLenBuckets[18]) * (aCodeLenCodeLengths[18] + 7);
  for (int32_t p = 3; p < aCodeLenCount; ++p) {
    const size_t symbol = dfc_CodeLengthIndex[size_t(p)];
    ZASSERT(symbol <= 15, "CalcDynamicBitCount: the index array of codelengths is corrupted");
    bits += int64_t(aCodeLenBuckets[symbol]) * aCodeLenCodeLengths[symbol];
  }
  for (int32_t i = 0; i < std::min(aLitCount, 285); ++i) {
    const int32_t extra = i >= 257 ? dfc_LengthExtraBits[size_t(i - 257)] : 0;
    bits += int64_t(aLitBuckets[size_t(i)]) * (aCodeLengths[i] + extra);
  }
  if (aLitCount == 286)
    bits += int64_t(aLitBuckets[285]) * (aCodeLengths[285] + (aUseDeflate64 ? 16 : 0));
  for (int32_t i = 0; i < aDistCount; ++i)
    bits += int64_t(aDistBuckets[size_t(i)]) *
            (aCodeLengths[aLitCount + i] + dfc_DistanceExtraBits[size_t(i)]);
  return bits;
}

void EmitEndOfBlock(TAbDfOutBitStream& aBitStrm, const TAbDfDecodeHuffmanTree& aTree) {
  const uint32_t entry = aTree.Encode(kEndOfBlock);
  aBitStrm.WriteBits(entry & 0xFFFF, int32_t((entry >> 16) & 0xFF));
}
