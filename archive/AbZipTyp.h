// The ZIP kind of archive: the records of the PKWARE format (no ZIP64; all
// integers little-endian), the ZIP item, and TAbZipArchive with its loader,
// its save cycle and the volumes of spanned sets.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/AbArcTyp.h"

constexpr uint32_t LocalHeaderSig = 0x04034B50;       // "PK" 03 04
constexpr uint32_t CentralHeaderSig = 0x02014B50;     // "PK" 01 02
constexpr uint32_t EndRecordSig = 0x06054B50;         // "PK" 05 06
constexpr uint32_t SpanMarkerSig = 0x08074B50;        // "PK" 07 08
constexpr uint32_t SingleSpanMarkerSig = 0x30304B50;  // "PK00"

// General-purpose flag bits the engine reads or writes.
constexpr uint16_t AbZipEncryptedFlag = 0x0001;
constexpr uint16_t AbZipDescriptorFlag = 0x0008;
// The name (and comment) are UTF-8.
constexpr uint16_t AbZipUtf8Flag = 0x0800;

enum TAbZipSupportedMethod { smStored, smDeflated, smBestMethod };
enum TAbZipDeflationOption { doInvalid, doNormal, doMaximum, doFast, doSuperFast };

// The fields common to the local and the central file header.
class TAbZipFileHeader {
 public:
  explicit TAbZipFileHeader(uint32_t expectedSignature) : ExpectedSignature(expectedSignature) {}
  virtual ~TAbZipFileHeader() = default;

  // Reads the record at the stream's position; EAbZipInvalid for a wrong
  // signature or a record cut short.
  virtual void ReadFrom(TStream& Stream) = 0;
  // Writes the record with the expected signature.
  virtual void WriteTo(TStream& Stream) const = 0;

  bool IsValid() const { return Signature == ExpectedSignature; }
  bool IsEncrypted() const { return (GeneralPurposeBitFlag & AbZipEncryptedFlag) != 0; }
  // Implode (method 6): the dictionary size (8 KB with flag bit 1, else 4 KB)
  // and the number of Shannon-Fano trees (3 with flag bit 2, else 2).
  uint32_t DictionarySize() const { return (GeneralPurposeBitFlag & 0x0002) ? 8192 : 4096; }
  uint8_t ShannonFanoTreeCount() const { return (GeneralPurposeBitFlag & 0x0004) ? 3 : 2; }

  // The name and the extra field as bytes; setting them stops at the first
  // zero byte, as a zero-terminated text does.
  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& value);
  const std::string& ExtraField() const { return FExtraField; }
  void SetExtraField(const std::string& value);
  uint16_t FileNameLength() const { return uint16_t(FFileName.size()); }
  uint16_t ExtraFieldLength() const { return uint16_t(FExtraField.size()); }

  const uint32_t ExpectedSignature;
  uint32_t Signature = 0;
  uint16_t VersionNeededToExtract = 0;
  uint16_t GeneralPurposeBitFlag = 0;
  uint16_t CompressionMethod = 0;
  uint16_t LastModFileTime = 0;
  uint16_t LastModFileDate = 0;
  uint32_t CRC32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;

 protected:
  std::string FFileName;
  std::string FExtraField;
};

// Local file header: 30 bytes, then the name and the extra field.
class TAbZipLocalFileHeader : public TAbZipFileHeader {
 public:
  static constexpr int FixedSize = 30;
  TAbZipLocalFileHeader() : TAbZipFileHeader(LocalHeaderSig) {}
  void ReadFrom(TStream& Stream) override;
  void WriteTo(TStream& Stream) const override;
  int64_t RecordSize() const { return FixedSize + FileNameLength() + ExtraFieldLength(); }
};

// Central directory file header: 46 bytes, then name, extra field and comment.
class TAbZipDirectoryFileHeader : public TAbZipFileHeader {
 public:
  static constexpr int FixedSize = 46;
  TAbZipDirectoryFileHeader() : TAbZipFileHeader(CentralHeaderSig) {}
  void ReadFrom(TStream& Stream) override;
  void WriteTo(TStream& Stream) const override;
  int64_t RecordSize() const {
    return FixedSize + FileNameLength() + ExtraFieldLength() + FileCommentLength();
  }

  const std::string& FileComment() const { return FFileComment; }
  void SetFileComment(const std::string& value);
  uint16_t FileCommentLength() const { return uint16_t(FFileComment.size()); }

  uint16_t VersionMadeBy = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalFileAttributes = 0;
  uint32_t ExternalFileAttributes = 0;
  uint32_t RelativeOffset = 0;

 private:
  std::string FFileComment;
};

// End of central directory record: 22 bytes, then the archive comment.
class TAbZipDirectoryFileFooter {
 public:
  static constexpr int FixedSize = 22;
  void ReadFrom(TStream& Stream);
  void WriteTo(TStream& Stream) const;
  bool IsValid() const { return Signature == ExpectedSignature; }
  int64_t RecordSize() const { return FixedSize + CommentLength(); }

  const std::string& Comment() const { return FComment; }
  void SetComment(const std::string& value);
  uint16_t CommentLength() const { return uint16_t(FComment.size()); }

  uint32_t ExpectedSignature = EndRecordSig;
  uint32_t Signature = 0;
  uint16_t ThisDisk = 0;
  uint16_t DirectoryStartDisk = 0;
  uint16_t EntriesOnThisDisk = 0;
  uint16_t TotalEntries = 0;
  uint32_t DirectorySize = 0;
  uint32_t DirectoryOffset = 0;

 private:
  std::string FComment;
};

// Data descriptor: 12 bytes without signature after the data of an item
// whose flag bit 3 is set.
class TAbZipDataDescriptor {
 public:
  static constexpr int FixedSize = 12;
  void WriteTo(TStream& Stream) const;

  uint32_t CRC32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
};

// A ZIP entry. Its central header (ItemInfo) is the record of truth; the
// name is kept as UTF-8 text: a loaded name is UTF-8 when flag bit 11 is set
// and CP857 (converted) otherwise, and a name with any non-ASCII character is
// written as UTF-8 in both headers with flag bit 11.
class TAbZipItem : public TAbArchiveItem {
 public:
  TAbZipItem() = default;

  int64_t CompressedSize() const override { return FCompressedSize; }
  uint32_t CRC32() const override { return ItemInfo.CRC32; }
  uint32_t ExternalFileAttributes() const override { return ItemInfo.ExternalFileAttributes; }
  std::string FileName() const override { return FFileName; }
  bool IsEncrypted() const override { return ItemInfo.IsEncrypted(); }
  uint16_t LastModFileDate() const override { return ItemInfo.LastModFileDate; }
  uint16_t LastModFileTime() const override { return ItemInfo.LastModFileTime; }
  int64_t UncompressedSize() const override { return FUncompressedSize; }

  void SetCompressedSize(int64_t value) override;
  void SetCRC32(uint32_t value) override { ItemInfo.CRC32 = value; }
  void SetExternalFileAttributes(uint32_t value) override {
    ItemInfo.ExternalFileAttributes = value;
  }
  void SetFileName(const std::string& value) override;
  void SetLastModFileDate(uint16_t value) override { ItemInfo.LastModFileDate = value; }
  void SetLastModFileTime(uint16_t value) override { ItemInfo.LastModFileTime = value; }
  void SetUncompressedSize(int64_t value) override;

  uint16_t CompressionMethod() const { return ItemInfo.CompressionMethod; }
  void SetCompressionMethod(uint16_t value) { ItemInfo.CompressionMethod = value; }
  uint16_t GeneralPurposeBitFlag() const { return ItemInfo.GeneralPurposeBitFlag; }
  void SetGeneralPurposeBitFlag(uint16_t value) { ItemInfo.GeneralPurposeBitFlag = value; }
  uint16_t VersionNeededToExtract() const { return ItemInfo.VersionNeededToExtract; }
  void SetVersionNeededToExtract(uint16_t value) { ItemInfo.VersionNeededToExtract = value; }
  uint16_t VersionMadeBy() const { return ItemInfo.VersionMadeBy; }
  void SetVersionMadeBy(uint16_t value) { ItemInfo.VersionMadeBy = value; }
  uint16_t DiskNumberStart() const { return ItemInfo.DiskNumberStart; }
  void SetDiskNumberStart(uint16_t value) { ItemInfo.DiskNumberStart = value; }
  uint32_t RelativeOffset() const { return ItemInfo.RelativeOffset; }
  void SetRelativeOffset(uint32_t value) { ItemInfo.RelativeOffset = value; }
  uint16_t InternalFileAttributes() const { return ItemInfo.InternalFileAttributes; }
  void SetInternalFileAttributes(uint16_t value) { ItemInfo.InternalFileAttributes = value; }
  const std::string& ExtraField() const { return ItemInfo.ExtraField(); }
  void SetExtraField(const std::string& value) { ItemInfo.SetExtraField(value); }
  // Whether a data descriptor follows the data (flag bit 3, any method).
  bool HasDataDescriptor() const;

  // Reads the central header at the stream's position into this item.
  void ReadCentral(TStream& Stream);
  void WriteLocal(TStream& Stream);
  void WriteCentral(TStream& Stream);
  void WriteDescriptor(TStream& Stream) const;
  // The local header this item writes (name in UTF-8, values of ItemInfo).
  TAbZipLocalFileHeader LocalHeader();

  TAbZipDirectoryFileHeader ItemInfo;

 private:
  // Puts the name bytes and flag bit 11 into ItemInfo before a write.
  void SyncStoredName();
};

using TAbItemInsertHook =
    std::function<void(TAbArchive& Sender, TAbArchiveItem& Item, TStream& OutStream)>;
// InStream is null when the archive has no source stream.
using TAbItemInsertFromStreamHook = std::function<void(TAbArchive& Sender, TAbArchiveItem& Item,
                                                       TStream& OutStream, TStream* InStream)>;
using TAbItemExtractHook =
    std::function<void(TAbArchive& Sender, TAbArchiveItem& Item, const std::string& NewName)>;
using TAbItemExtractToStreamHook =
    std::function<void(TAbArchive& Sender, TAbArchiveItem& Item, TStream& OutStream)>;
using TAbItemTestHook = std::function<void(TAbArchive& Sender, TAbArchiveItem& Item)>;
using TAbNeedPasswordEvent = std::function<void(std::string& NewPassword)>;
using TAbRequestDiskEvent = std::function<void(TAbArchive& Sender, bool& Abort)>;
using TAbRequestNthDiskEvent =
    std::function<void(TAbArchive& Sender, uint8_t DiskNumber, bool& Abort)>;

// A ZIP archive file. Spanned sets are written and read the way Info-ZIP
// names them: volumes NAME.z01, NAME.z02, ... and NAME.zip as the last one.
class TAbZipArchive : public TAbArchive {
 public:
  TAbZipArchive(const std::string& FileName, uint16_t FileMode);
  ~TAbZipArchive() override;

  std::unique_ptr<TAbArchiveItem> NewItem(const std::string& FileSpec) override;
  void ExtractOne(int Index, const std::string& NewName) override;
  void ExtractOneToStream(int Index, TStream& Stream) override;
  void ReadArchive() override;
  // The save cycle. A single-file archive is written to a temporary file in
  // its folder that replaces it only when everything has been written; on
  // failure the old archive stays as it was.
  void WriteArchive() override;
  void TestOne(int Index) override;
  std::string MakeStoredName(const std::string& FileSpec) override;
  void RequestSpanImage(int32_t ImageNumber, std::string& ImageName, bool& Abort) override;

  // Position of the end record found by scanning back from the end (the
  // stream is left on it), or -1 (the position is restored).
  static int64_t FindEndRecord(TStream& Stream);
  // Reading: makes the volume of disk Disk current; -1 looks for the last
  // volume. EAbUserAbort when a prompt is cancelled, EAbFileNotFound for a
  // missing volume.
  void OpenVolume(int32_t Disk);
  // The file of volume Disk of a spanned set being read.
  std::string VolumeName(int32_t Disk) const;
  void SetComment(const std::string& Text);

  virtual void AskLastDisk(bool& Abort);
  virtual void AskNthDisk(uint8_t DiskNumber, bool& Abort);
  virtual void AskBlankDisk(bool& Abort);

  TAbZipSupportedMethod CompressionMethodToUse = smBestMethod;
  int32_t CurrentDisk = -1;
  TAbZipDeflationOption DeflationOption = doNormal;
  bool OnRemovableMedia = false;
  TAbZipDirectoryFileFooter EndRecord;
  std::string Password;
  uint8_t PasswordRetries = 3;
  bool AutoVolumeNames = false;

  TAbItemExtractHook ExtractHook;
  TAbItemExtractToStreamHook ExtractToStreamHook;
  TAbItemTestHook TestHook;
  TAbItemInsertHook InsertHook;
  TAbItemInsertFromStreamHook InsertFromStreamHook;
  TAbNeedPasswordEvent OnNeedPassword;
  TAbRequestDiskEvent OnRequestLastDisk;
  TAbRequestNthDiskEvent OnRequestNthDisk;
  TAbRequestDiskEvent OnRequestBlankDisk;

 private:
  struct TSaveWork;
  void CollectItems(TSaveWork& Work);
  void WriteSingleFile(TSaveWork& Work);
  void WriteSpannedSet(TSaveWork& Work);
  void WriteItems(TAbSpanStream& Out, TSaveWork& Work, bool Spanning);
  bool WillSpan(const TSaveWork& Work);
  void CheckItemLimits(const TAbZipItem& Item, int64_t DataLength, TSaveWork& Work) const;
  void CheckSourceSize(const TAbZipItem& Item) const;
  void ResetActionsAfterSave();
  // Makes Name, opened for reading, the archive stream of volume Disk.
  void OpenVolumeFile(const std::string& Name, int32_t Disk);
  void FindLastVolume();
  void ReopenArchiveForReading();

  // The last volume of the set being read, when known; -1 otherwise.
  int32_t FLastDisk = -1;
  // The set was found through NAME.z01 ..., so its first volume is NAME.zip.
  bool FFirstVolumeIsArchive = false;
  // The disk the current stream was opened on (its volume numbers count from there).
  int32_t FStreamDiskBase = 0;
  // Pass 2 of a spanned save is running: image requests name volumes to write.
  bool FWritingSpan = false;
  bool FWritingRemovable = false;
};

// What a ZIP file is: 0 not a ZIP, 1 a ZIP, 2 the first volume of a spanned
// set. The stream's position is restored.
int VerifyZip(TStream& Stream);
// 3 for a self-extracting ZIP ("MZ" and a ZIP), else 0. The position is restored.
int VerifySelfExtracting(TStream& Stream);
