// Extraction of one ZIP item. This part of the unit holds the decoders of the
// legacy PKWARE methods (Shrink, Reduce, Implode); the per-item extraction
// procedures that dispatch to them belong in their own section below it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/AbArcTyp.h"  // TAbProgressCallback, the archive's item progress
#include "archive/inflate/AbZipCry.h"
#include "platform/Classes.h"

// ------------------------------------------------------ legacy decoders

// Opens volume `Disk` of a spanned set for reading and returns its stream
// (owned by the archive). Raises when that is impossible (EAbZipBadSpanStream
// when the archive is not on file streams, EAbUserAbort on a cancel).
using TAbOpenVolumeHook = std::function<TStream&(uint16_t Disk)>;

// Decodes one item compressed with method 1 (Shrink), 2-5 (Reduce with
// factor 1-4) or 6 (Implode). Corrupt data never reads or writes outside a
// table, the window or a buffer: it fails with EAbInflateError ("Corvel
// inflate error, possibly a corrupted compressed stream. (Internal cause:
// ...)"), with what was decoded before it already passed on.
class TAbUnzipHelper {
 public:
  // aArchiveStream stands at the item's data (at the encryption header when
  // aDecoder is given); the output goes to aDestination (not owned): method 1
  // at its current position, methods 2-6 from offset 0. CompressedSize starts
  // as the size of aArchiveStream.
  TAbUnzipHelper(TStream& aArchiveStream, TAbZDecoder* aDecoder, TStream& aDestination);
  virtual ~TAbUnzipHelper();
  TAbUnzipHelper(const TAbUnzipHelper&) = delete;
  TAbUnzipHelper& operator=(const TAbUnzipHelper&) = delete;

  // Checks the password through the decoder (when there is one), decodes the
  // item and returns the final CRC-32 of what was written. Output that ends
  // short of UncompressedSize or would pass it is corrupt data. Raises
  // EAbZipInvalidMethod for a method other than 1-6, EAbReadError when the
  // archive gives no byte while compressed bytes are due, EAbUserAbort when
  // the progress callback asks to stop.
  uint32_t DecodeItem();

  // The item's values, set by the creator before DecodeItem. Sizes are
  // unsigned 32-bit in ZIP headers, hence 64-bit here.
  int64_t UncompressedSize = 0;
  int64_t CompressedSize = 0;  // encryption header included
  uint8_t CompressionMethod = 8;
  uint8_t DictionarySize = 0;        // Implode: 1 = 4 KiB, 2 = 8 KiB
  uint8_t ShannonFanoTreeCount = 0;  // Implode: 2 or 3
  TAbProgressCallback ProgressCallback;
  // Spanned sets only: reading goes on in the next volume when the archive
  // stream ends while compressed bytes are due.
  bool Spanned = false;
  std::string ArchiveName;
  uint16_t CurrentDisk = 0;
  uint16_t FileMode = 0;
  TAbOpenVolumeHook OnOpenVolume;

 protected:
  // Called when the whole-number percentage of output changes.
  virtual void ReportProgress(uint8_t Percentage, bool& Abort);

 private:
  // A Shannon-Fano code of the Implode trees; code is bit-reversed.
  struct TAbSfEntry {
    uint16_t Code = 0;
    uint8_t Value = 0;
    uint8_t BitLength = 0;
  };
  struct TAbSfTree {
    int16_t Count = 0;
    int16_t MaxLength = 0;
    std::vector<TAbSfEntry> Entries;
  };

  void FillInput();
  uint8_t NextInputByte();
  uint32_t ReadCodeBits(int count);
  void PutByte(uint8_t b);
  void FlushOutput();
  void CopyBack(int64_t distance, int32_t length);
  void FinishOutput();
  int64_t DecodedPosition() const { return FBytesWritten + FOutCount; }

  void DecodeShrunk();
  void DecodeReduced();
  void DecodeImploded();
  void BuildTree(TAbSfTree& tree, int16_t count);
  void ReadTreeLengths(TAbSfTree& tree);
  static void SortTree(TAbSfTree& tree);
  static void AssignCodes(TAbSfTree& tree);
  uint8_t DecodeTree(const TAbSfTree& tree);

  TStream* FOutWriter = nullptr;
  TStream& FDestination;
  uint32_t FCRC = 0xFFFFFFFF;
  TAbZDecoder* FDecoder;
  uint8_t FCurrentProgress = 0;
  std::vector<uint8_t> FOutBuf;
  int64_t FBytesWritten = 0;
  int32_t FOutCount = 0;
  std::array<uint8_t, 4096> FInBuf{};
  int32_t FInPos = 0;  // index of the next unread byte
  int32_t FInCount = 0;
  int64_t FInLeft = 0;
  bool FInEof = false;
  uint8_t FCurByte = 0;
  uint8_t FBitsLeft = 0;
  TStream* FArchiveStream;
};
