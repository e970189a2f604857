// Extraction of one ZIP item: the decoders of the legacy PKWARE methods
// (Shrink, Reduce, Implode), then the per-item procedures that read the local
// header, check the password and dispatch to the stored copy, Inflate or the
// legacy decoders.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/AbArcTyp.h"  // TAbProgressCallback, the archive's item progress
#include "archive/AbExcept.h"
#include "archive/AbZipTyp.h"
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

// ------------------------------------------------------ extracting one item
//
// The hooks the unzipper plugs into a TAbZipArchive. Sender must be a
// TAbZipArchive and Item one of its TAbZipItem (else EInvalidCast). The
// archive calls them with CurrentItem set and turns what they raise into an
// item failure.

// Thrown for a stored name that would put the file outside the base
// directory (absolute, with a drive, or climbing out with ".."), or that
// names no file at all ("", ".", ".."). Its error code is 0.
class EAbZipUnsafePath : public EAbException {
 public:
  explicit EAbZipUnsafePath(const std::string& Name)
      : EAbException("Cannot extract file - unsafe path: " + Name) {}
};

// Extracts Item to the file NewName (BaseDirectory and ExtractOptions of the
// archive apply, AbMakeExtractPath). The data goes to a temporary file in the
// target's folder that replaces the target only when the item decoded with
// the right CRC; date and attributes come from the item. On any failure the
// target stays as it was and no temporary file is left. A refused overwrite
// does nothing. After EAbUserAbort the archive's State is stInvalid. A CRC
// mismatch goes to OnProcessItemFailure (ptExtract, ecCorvel, 23) when it is
// set, and raises EAbZipBadCRC otherwise.
void AbExtractItemToFile(TAbArchive& Sender, TAbArchiveItem& Item, const std::string& NewName);

// Writes Item's data at OutStream's position (legacy methods 2-6: from
// offset 0). Raises EAbZipVersion (version needed above 2.0, 2.1 allowed for
// Deflate64), EAbZipInvalid (no local header at the item's offset),
// EAbZipInvalidMethod, EAbZipInvalidPassword, EAbUserAbort, EAbInflateError.
// A CRC mismatch is reported as AbExtractItemToFile does; the output stays
// as written.
void AbExtractItemToStream(TAbArchive& Sender, TAbArchiveItem& Item, TStream& OutStream);

// Tests Item: its local header must agree with the central one (else
// EAbZipInvalidLFH), then it is decoded into a bit bucket and CRC-checked.
void AbVerifyItem(TAbArchive& Sender, TAbArchiveItem& Item);

// The decoders of one item; the archive stream stands on the item's data.
// Each returns the CRC-32 of what it wrote.
uint32_t AbUnzipStored(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream,
                       uint32_t CheckValue);
uint32_t AbInflateItem(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream,
                       uint32_t CheckValue);
uint32_t AbUnzipLegacy(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream,
                       uint32_t CheckValue);

// Asks OnNeedPassword (when set) for a password: an empty answer sets Abort,
// any other becomes the archive's Password.
void AbAskPassword(TAbZipArchive& Archive, bool& Abort);
// With an empty Password asks once (Count + 1); still empty: EAbZipInvalidPassword.
void AbEnsurePassword(TAbZipArchive& Archive, int& Count, bool& Abort);
