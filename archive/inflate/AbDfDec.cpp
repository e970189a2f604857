#include "archive/inflate/AbDfDec.h"

#include <array>
#include <memory>
#include <vector>

#include "archive/AbArcTyp.h"
#include "archive/deflate/AbDfHufD.h"
#include "archive/deflate/AbDfStrm.h"
#include "archive/inflate/AbDfCryS.h"
#include "archive/inflate/AbDfOutW.h"

// Every length and count that comes from the compressed data is checked once
// where it is read: the tables refuse broken code lengths, the window refuses
// distances it has no history for, and the bit reader refuses to run past
// the end of the input. Nothing read from the input indexes memory unchecked.

namespace {

constexpr int32_t kMaxLitLenCodes = 286;
constexpr int32_t kMaxDistCodes = 30;
constexpr int32_t kMaxDeflate64DistCodes = 32;
constexpr int32_t kCodeLengthCount = kMaxLitLenCodes + kMaxDeflate64DistCodes;  // 318
constexpr int32_t kStoredChunk = 16384;

using TCodeLengths = std::array<int32_t, kCodeLengthCount>;

uint32_t Mask(int32_t aBits) {
  return aBits >= 32 ? 0xFFFFFFFFu : (uint32_t(1) << aBits) - 1;
}

[[noreturn]] void DataError(const char* aCause) {
  throw EAbInternalInflateError(aCause);
}

void DecodeData(TAbDfInBitStream& aBits, TAbDfOutputWindow& aWindow,
                const TAbDfDecodeHuffmanTree& aLitTree, const TAbDfDecodeHuffmanTree& aDistTree,
                bool aDeflate64) {
  const int32_t litBits = aLitTree.LookupBitLength();
  const int32_t distBits = aDistTree.LookupBitLength();
  while (true) {
    uint32_t v = aBits.PeekBits(litBits + (aDeflate64 ? 16 : 5));
    uint32_t entry = aLitTree.Decode(v & Mask(litBits));
    const uint32_t symbol = entry & 0xFFFF;
    int32_t len = int32_t(entry >> 16 & 0xFF);
    int32_t extra = int32_t(entry >> 24);
    if (symbol < 256) {
      aWindow.PutLiteral(uint8_t(symbol));
      aBits.DiscardBits(len);
      continue;
    }
    if (symbol == 256) {
      aBits.DiscardBits(len);
      return;
    }
    if (symbol > 285) DataError("decoded an invalid length symbol: greater than 285 [DecodeData]");

    int32_t length;
    if (!aDeflate64 && symbol == 285) {
      length = 258;
      aBits.DiscardBits(len);
    } else {
      length = dfc_LengthBase[symbol - 257];
      if (extra > 0) length += int32_t((v >> len) & Mask(extra));
      aBits.DiscardBits(len + extra);
    }

    v = aBits.PeekBits(distBits + 14);
    entry = aDistTree.Decode(v & Mask(distBits));
    const uint32_t distSymbol = entry & 0xFFFF;
    len = int32_t(entry >> 16 & 0xFF);
    extra = int32_t(entry >> 24);
    if (!aDeflate64 && distSymbol > 29)
      DataError("decoded an invalid distance symbol: greater than 29 [DecodeData]");
    if (distSymbol > 31)
      DataError("decoded an invalid distance symbol: greater than 31 [DecodeData]");
    int32_t distance = dfc_DistanceBase[distSymbol];
    if (extra > 0) distance += int32_t((v >> len) & Mask(extra));
    aBits.DiscardBits(len + extra);

    aWindow.PutMatch(length, distance);
  }
}

void InflateStoredBlock(TAbDfInBitStream& aBits, TAbDfOutputWindow& aWindow) {
  aBits.AlignToByte();
  uint8_t header[4];
  aBits.ReadBuffer(header, 4);
  const uint32_t len = header[0] | uint32_t(header[1]) << 8;
  const uint32_t nlen = header[2] | uint32_t(header[3]) << 8;
  if (nlen != (~len & 0xFFFF))
    DataError("invalid stored block (length and NOT length do not match) [InflateStoredBlock]");
  std::vector<uint8_t> buffer(size_t(std::min<uint32_t>(len, kStoredChunk)));
  for (uint32_t done = 0; done < len;) {
    const int32_t n = int32_t(std::min<uint32_t>(len - done, kStoredChunk));
    aBits.ReadBuffer(buffer.data(), n);
    aWindow.PutBuffer(buffer.data(), n);
    done += uint32_t(n);
  }
}

void InflateFixedBlock(TAbDfInBitStream& aBits, TAbDfOutputWindow& aWindow, bool aDeflate64) {
  DecodeData(aBits, aWindow, AbDfFixedLiteralTree(), AbDfFixedDistanceTree(), aDeflate64);
}

void ReadLitDistCodeLengths(TAbDfInBitStream& aBits, const TAbDfDecodeHuffmanTree& aTree,
                            TCodeLengths& aLengths, int32_t aCount) {
  aLengths.fill(0);
  const int32_t lookupBits = aTree.LookupBitLength();
  int32_t i = 0;
  while (i < aCount) {
    const uint32_t v = aBits.PeekBits(lookupBits + 7);
    const uint32_t entry = aTree.Decode(v & Mask(lookupBits));
    const uint32_t symbol = entry & 0xFFFF;
    const int32_t len = int32_t(entry >> 16 & 0xFF);
    if (symbol > 18) DataError("decoded a symbol not between 0 and 18 {ReadLitDistCodeLengths}");
    if (len == 0 || len > lookupBits)
      DataError("decoded a code length out of range {ReadLitDistCodeLengths}");

    if (symbol <= 15) {
      aLengths[size_t(i++)] = int32_t(symbol);
      aBits.DiscardBits(len);
      continue;
    }
    int32_t repeat;
    int32_t value = 0;
    if (symbol == 16) {
      if (i == 0) DataError("repeat code 16 with no previous length {ReadLitDistCodeLengths}");
      repeat = 3 + int32_t((v >> len) & Mask(2));
      value = aLengths[size_t(i - 1)];
      aBits.DiscardBits(len + 2);
    } else if (symbol == 17) {
      repeat = 3 + int32_t((v >> len) & Mask(3));
      aBits.DiscardBits(len + 3);
    } else {
      repeat = 11 + int32_t((v >> len) & Mask(7));
      aBits.DiscardBits(len + 7);
    }
    if (repeat > aCount - i)
      DataError("repeat code runs past the last code length {ReadLitDistCodeLengths}");
    for (; repeat > 0; --repeat) aLengths[size_t(i++)] = value;
  }
}

void InflateDynamicBlock(TAbDfInBitStream& aBits, TAbDfOutputWindow& aWindow, bool aDeflate64) {
  const int32_t hlit = int32_t(aBits.ReadBits(5)) + 257;
  const int32_t hdist = int32_t(aBits.ReadBits(5)) + 1;
  const int32_t hclen = int32_t(aBits.ReadBits(4)) + 4;
  if (hlit > kMaxLitLenCodes)
    DataError("count of literal codes in dynamic block is greater than 286 [InflateDynamicBlock]");
  if (!aDeflate64 && hdist > kMaxDistCodes)
    DataError("count of distance codes in dynamic block is greater than 30 [InflateDynamicBlock]");

  TCodeLengths lengths{};
  for (int32_t i = 0; i < hclen; ++i)
    lengths[dfc_CodeLengthIndex[size_t(i)]] = int32_t(aBits.ReadBits(3));
  TAbDfDecodeHuffmanTree codeLenTree(19, 7, huDecoding);
  codeLenTree.Build(lengths.data(), 0, 19, nullptr, 19);

  ReadLitDistCodeLengths(aBits, codeLenTree, lengths, hlit + hdist);

  TAbDfDecodeHuffmanTree litTree(kMaxLitLenCodes, 15, huDecoding);
  litTree.Build(lengths.data(), 0, hlit, dfc_LengthExtraBits.data(), 257);
  TAbDfDecodeHuffmanTree distTree(aDeflate64 ? kMaxDeflate64DistCodes : kMaxDistCodes, 15,
                                  huDecoding);
  distTree.Build(lengths.data(), hlit, hdist, dfc_DistanceExtraBits.data(), 0);

  DecodeData(aBits, aWindow, litTree, distTree, aDeflate64);
}

void InflateBlocks(TAbDfInBitStream& aBits, TAbDfOutputWindow& aWindow, bool aDeflate64) {
  bool final;
  do {
    final = aBits.ReadBit();
    switch (aBits.ReadBits(2)) {
      case 0:
        InflateStoredBlock(aBits, aWindow);
        break;
      case 1:
        InflateFixedBlock(aBits, aWindow, aDeflate64);
        break;
      case 2:
        InflateDynamicBlock(aBits, aWindow, aDeflate64);
        break;
      default:
        DataError("starting new block, but invalid block type [Inflate]");
    }
  } while (!final);
}

}  // namespace

uint32_t Inflate(TStream* aSource, TStream* aDest, TAbDeflateHelper* aHelper) {
  ZASSERT(aSource != nullptr, "Deflate: aSource stream cannot be nil");
  ZASSERT(aDest != nullptr, "Deflate: aDest stream cannot be nil");

  TAbDeflateHelper helper;
  if (aHelper != nullptr) helper.Assign(*aHelper);
  const int64_t sourceStart = aSource->Position();
  const int64_t destStart = aDest->Position();

  if (!helper.ProgressHook)
    helper.SourceSize = 0;
  else if (helper.SourceSize == -1)
    helper.SourceSize = int32_t(aSource->Size());

  std::unique_ptr<TAbLogger> log;
  if (!helper.LogFileName.empty()) {
    log = std::make_unique<TAbLogger>(helper.LogFileName);
    log->WriteLine("INFLATING STREAM...");
    log->WriteLine("Need to recompile the app with UseLogging turned on");
  }

  std::unique_ptr<TAbDfDecryptStream> decrypter;
  TStream* source = aSource;
  if (!helper.Password.empty()) {
    decrypter = std::make_unique<TAbDfDecryptStream>(*aSource, uint32_t(helper.HeaderCheck),
                                                     helper.Password);
    if (!decrypter->CheckHeader())
      throw EAbInflatePasswordError("Inflate: stream is encrypted but passphrase is wrong");
    source = decrypter.get();
  }

  const uint32_t options = helper.Options();
  const bool testOnly = (options & dfoTestOnly) != 0;
  uint32_t result = 0;
  {
    TAbDfInBitStream bits(source, helper.SourceSize, helper.ProgressHook);
    TAbDfOutputWindow window(aDest, log.get(), testOnly, helper.OutputLimit,
                             (options & dfoAdler32) == 0, (options & dfoDeflate64) != 0);
    try {
      InflateBlocks(bits, window, (options & dfoDeflate64) != 0);
      result = window.Checksum();
      if (testOnly && aHelper != nullptr) aHelper->BytesWritten = int32_t(window.OutputPosition());
    } catch (const EAbPartSizedInflate&) {
      result = 0;
    } catch (const EAbAbortProgress&) {
      result = 0;
    } catch (const EAbInternalInflateError& e) {
      if (log) log->WriteLine(Format("Internal exception raised: %s", e.Message().c_str()));
      throw EAbInflateError(e.Message());
    }
    // On failures the destructors do the same, quietly.
    window.Finish();
    bits.Finish();
  }

  if (aHelper != nullptr) {
    if (!testOnly) aHelper->BytesWritten = int32_t(aDest->Position() - destStart);
    aHelper->BytesRead = int32_t(aSource->Position() - sourceStart);
  }
  return result;
}
