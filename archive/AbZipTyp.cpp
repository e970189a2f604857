#include "archive/AbZipTyp.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "archive/AbSpanSt.h"
#include "archive/AbUtils.h"
#include "archive/AbVMStrm.h"
#include "platform/CodePages.h"
#include "platform/DriveMap.h"
#include "platform/FileSystem.h"
#include "platform/SysUtils.h"

namespace {

// Largest value a 32-bit field may hold; 0xFFFFFFFF itself tells readers
// to look for a ZIP64 record, which this engine does not write.
constexpr int64_t kMax32 = 0xFFFFFFFE;
// Likewise for the 16-bit entry counts.
constexpr int64_t kMaxEntries = 0xFFFE;
constexpr int64_t kMax16 = 0xFFFF;
constexpr int64_t kEndRecordWindow = 65536;

// Little-endian field writer; the record goes out in one write.
class TRecordWriter {
 public:
  void U16(uint16_t value) {
    FBytes.push_back(uint8_t(value));
    FBytes.push_back(uint8_t(value >> 8));
  }
  void U32(uint32_t value) {
    U16(uint16_t(value));
    U16(uint16_t(value >> 16));
  }
  void Bytes(const std::string& text) { FBytes.insert(FBytes.end(), text.begin(), text.end()); }
  void WriteTo(TStream& stream) const { stream.WriteBuffer(FBytes.data(), int32_t(FBytes.size())); }

 private:
  std::vector<uint8_t> FBytes;
};

// Reads `count` bytes, following short reads; false when the stream ends first.
bool ReadFully(TStream& stream, void* buffer, int32_t count) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  int32_t done = 0;
  while (done < count) {
    const int32_t n = stream.Read(bytes + done, count - done);
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

// Little-endian field reader over the fixed part of a record. A record cut
// short is as invalid as one with a wrong signature.
class TRecordReader {
 public:
  TRecordReader(TStream& stream, int32_t size) : FBytes(size_t(size), 0) {
    if (!ReadFully(stream, FBytes.data(), size)) throw EAbZipInvalid();
  }
  uint16_t U16() {
    const uint16_t value = uint16_t(FBytes[FPos] | (FBytes[FPos + 1] << 8));
    FPos += 2;
    return value;
  }
  uint32_t U32() {
    const uint32_t low = U16();
    return low | (uint32_t(U16()) << 16);
  }

 private:
  std::vector<uint8_t> FBytes;
  size_t FPos = 0;
};

std::string ReadText(TStream& stream, uint16_t length) {
  std::string text(length, '\0');
  if (length > 0 && !ReadFully(stream, &text[0], length)) throw EAbZipInvalid();
  return text;
}

std::string UpToZero(const std::string& text) {
  return text.substr(0, text.find('\0'));
}

uint32_t ReadSignature(TStream& stream) {
  std::array<uint8_t, 4> bytes{};
  if (!ReadFully(stream, bytes.data(), 4)) return 0;
  return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
         uint32_t(bytes[3]) << 24;
}

[[noreturn]] void RefuseZip64(const std::string& what) {
  throw EAbException("Cannot save archive - " + what + " (ZIP64 is not supported)");
}

// The folder part of a Windows path, with its trailing '\'.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\:");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string VolumeFileOf(const std::string& archiveName, int32_t number) {
  std::string name = archiveName;
  AbVolumeFileName(name, uint16_t(number));
  return name;
}

// The UTF-8 name of an Info-ZIP Unicode Path extra field (0x7075), when the
// field is there and was made for the name the header holds.
bool UnicodePathOf(const std::string& extra, const std::string& stored, std::string& name) {
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    const uint16_t id = uint16_t(uint8_t(extra[at]) | uint8_t(extra[at + 1]) << 8);
    const size_t size = size_t(uint8_t(extra[at + 2]) | uint8_t(extra[at + 3]) << 8);
    if (at + 4 + size > extra.size()) return false;
    if (id == 0x7075 && size > 5 && extra[at + 4] == 1) {
      uint32_t crc = 0;
      for (int k = 3; k >= 0; --k) crc = crc << 8 | uint8_t(extra[at + 5 + k]);
      uint32_t storedCrc = 0xFFFFFFFF;
      AbCrcBuffer(storedCrc, stored.data(), uint16_t(stored.size()));
      if (crc != (storedCrc ^ 0xFFFFFFFF)) return false;
      name = extra.substr(at + 9, size - 5);
      return IsValidUtf8(name);
    }
    at += 4 + size;
  }
  return false;
}

// Names flagged UTF-8 are UTF-8. Others are in the OEM code page (the
// original program, DOS tools), except that Info-ZIP on Linux writes UTF-8
// without the flag: its Unicode Path field, or a name that is well-formed
// UTF-8, is taken as such; a real CP857 name is almost never well-formed UTF-8.
std::string NameOfCentralHeader(const TAbZipDirectoryFileHeader& header) {
  const std::string& stored = header.FileName();
  if ((header.GeneralPurposeBitFlag & AbZipUtf8Flag) != 0 || !AreFileApisANSI()) return stored;
  std::string unicode;
  if (UnicodePathOf(header.ExtraField(), stored, unicode)) return unicode;
  if (IsValidUtf8(stored)) return stored;
  return OemToCharA(stored);
}

// The end of the save's work stream from `start` on, seen as a stream of its
// own that starts empty: an added item's data goes straight where it is
// collected instead of through a swap-backed stream of its own.
class TAbTailStream : public TStream {
 public:
  TAbTailStream(TStream& base, int64_t start) : FBase(base), FStart(start) {
    FBase.Seek(FStart, soFromBeginning);
  }

  int32_t Read(void* buffer, int32_t count) override { return FBase.Read(buffer, count); }
  int32_t Write(const void* buffer, int32_t count) override { return FBase.Write(buffer, count); }
  int64_t Seek(int64_t offset, int origin) override {
    const std::optional<int64_t> target =
        SeekTarget(offset, origin, FBase.Position() - FStart, Size());
    // The base stream raises its own error for an unknown origin.
    if (!target) return FBase.Seek(offset, origin) - FStart;
    if (*target >= 0) FBase.Seek(FStart + *target, soFromBeginning);
    return FBase.Position() - FStart;
  }
  int64_t Size() override { return FBase.Size() - FStart; }
  void SetSize(int64_t newSize) override { FBase.SetSize(FStart + std::max<int64_t>(newSize, 0)); }

 private:
  TStream& FBase;
  int64_t FStart;
};

}  // namespace

// ---------------------------------------------------------------- records

void TAbZipFileHeader::SetFileName(const std::string& value) {
  FFileName = UpToZero(value);
}

void TAbZipFileHeader::SetExtraField(const std::string& value) {
  FExtraField = UpToZero(value);
}

void TAbZipLocalFileHeader::ReadFrom(TStream& Stream) {
  TRecordReader record(Stream, FixedSize);
  Signature = record.U32();
  if (!IsValid()) throw EAbZipInvalid();
  VersionNeededToExtract = record.U16();
  GeneralPurposeBitFlag = record.U16();
  CompressionMethod = record.U16();
  LastModFileTime = record.U16();
  LastModFileDate = record.U16();
  CRC32 = record.U32();
  CompressedSize = record.U32();
  UncompressedSize = record.U32();
  const uint16_t nameLength = record.U16();
  const uint16_t extraLength = record.U16();
  FFileName = ReadText(Stream, nameLength);
  FExtraField = ReadText(Stream, extraLength);
}

void TAbZipLocalFileHeader::WriteTo(TStream& Stream) const {
  TRecordWriter record;
  record.U32(ExpectedSignature);
  record.U16(VersionNeededToExtract);
  record.U16(GeneralPurposeBitFlag);
  record.U16(CompressionMethod);
  record.U16(LastModFileTime);
  record.U16(LastModFileDate);
  record.U32(CRC32);
  record.U32(CompressedSize);
  record.U32(UncompressedSize);
  record.U16(FileNameLength());
  record.U16(ExtraFieldLength());
  record.Bytes(FFileName);
  record.Bytes(FExtraField);
  record.WriteTo(Stream);
}

void TAbZipDirectoryFileHeader::SetFileComment(const std::string& value) {
  FFileComment = UpToZero(value);
}

void TAbZipDirectoryFileHeader::ReadFrom(TStream& Stream) {
  TRecordReader record(Stream, FixedSize);
  Signature = record.U32();
  if (!IsValid()) throw EAbZipInvalid();
  VersionMadeBy = record.U16();
  VersionNeededToExtract = record.U16();
  GeneralPurposeBitFlag = record.U16();
  CompressionMethod = record.U16();
  LastModFileTime = record.U16();
  LastModFileDate = record.U16();
  CRC32 = record.U32();
  CompressedSize = record.U32();
  UncompressedSize = record.U32();
  const uint16_t nameLength = record.U16();
  const uint16_t extraLength = record.U16();
  const uint16_t commentLength = record.U16();
  DiskNumberStart = record.U16();
  InternalFileAttributes = record.U16();
  ExternalFileAttributes = record.U32();
  RelativeOffset = record.U32();
  FFileName = ReadText(Stream, nameLength);
  FExtraField = ReadText(Stream, extraLength);
  FFileComment = ReadText(Stream, commentLength);
}

void TAbZipDirectoryFileHeader::WriteTo(TStream& Stream) const {
  TRecordWriter record;
  record.U32(ExpectedSignature);
  record.U16(VersionMadeBy);
  record.U16(VersionNeededToExtract);
  record.U16(GeneralPurposeBitFlag);
  record.U16(CompressionMethod);
  record.U16(LastModFileTime);
  record.U16(LastModFileDate);
  record.U32(CRC32);
  record.U32(CompressedSize);
  record.U32(UncompressedSize);
  record.U16(FileNameLength());
  record.U16(ExtraFieldLength());
  record.U16(FileCommentLength());
  record.U16(DiskNumberStart);
  record.U16(InternalFileAttributes);
  record.U32(ExternalFileAttributes);
  record.U32(RelativeOffset);
  record.Bytes(FFileName);
  record.Bytes(FExtraField);
  record.Bytes(FFileComment);
  record.WriteTo(Stream);
}

void TAbZipDirectoryFileFooter::SetComment(const std::string& value) {
  FComment = UpToZero(value);
}

void TAbZipDirectoryFileFooter::ReadFrom(TStream& Stream) {
  TRecordReader record(Stream, FixedSize);
  Signature = record.U32();
  if (!IsValid()) throw EAbZipInvalid();
  ThisDisk = record.U16();
  DirectoryStartDisk = record.U16();
  EntriesOnThisDisk = record.U16();
  TotalEntries = record.U16();
  DirectorySize = record.U32();
  DirectoryOffset = record.U32();
  FComment = ReadText(Stream, record.U16());
}

void TAbZipDirectoryFileFooter::WriteTo(TStream& Stream) const {
  TRecordWriter record;
  record.U32(ExpectedSignature);
  record.U16(ThisDisk);
  record.U16(DirectoryStartDisk);
  record.U16(EntriesOnThisDisk);
  record.U16(TotalEntries);
  record.U32(DirectorySize);
  record.U32(DirectoryOffset);
  record.U16(CommentLength());
  record.Bytes(FComment);
  record.WriteTo(Stream);
}

void TAbZipDataDescriptor::WriteTo(TStream& Stream) const {
  TRecordWriter record;
  record.U32(CRC32);
  record.U32(CompressedSize);
  record.U32(UncompressedSize);
  record.WriteTo(Stream);
}

// ----------------------------------------------------------------- item

void TAbZipItem::SetCompressedSize(int64_t value) {
  FCompressedSize = value;
  ItemInfo.CompressedSize = uint32_t(value);
}

void TAbZipItem::SetUncompressedSize(int64_t value) {
  FUncompressedSize = value;
  ItemInfo.UncompressedSize = uint32_t(value);
}

void TAbZipItem::SetFileName(const std::string& value) {
  FFileName = value;
  SyncStoredName();
}

// The insert step clears the flag word, so bit 11 is put back before every write.
void TAbZipItem::SyncStoredName() {
  ItemInfo.SetFileName(FFileName);
  if (!IsAscii(FFileName)) ItemInfo.GeneralPurposeBitFlag |= AbZipUtf8Flag;
}

// Every item that announces a descriptor gets one, stored items included:
// Info-ZIP reads 12 bytes after the data of any item with bit 3 and calls an
// archive without them damaged (overlapping entries).
bool TAbZipItem::HasDataDescriptor() const {
  return (ItemInfo.GeneralPurposeBitFlag & AbZipDescriptorFlag) != 0;
}

void TAbZipItem::ReadCentral(TStream& Stream) {
  ItemInfo.ReadFrom(Stream);
  FFileName = NameOfCentralHeader(ItemInfo);
  FCompressedSize = ItemInfo.CompressedSize;
  FUncompressedSize = ItemInfo.UncompressedSize;
  DiskPath = FFileName;
  AbToBackslashes(DiskPath);
  Action = iaNone;
  Marked = false;
}

TAbZipLocalFileHeader TAbZipItem::LocalHeader() {
  SyncStoredName();
  TAbZipLocalFileHeader header;
  header.VersionNeededToExtract = ItemInfo.VersionNeededToExtract;
  header.GeneralPurposeBitFlag = ItemInfo.GeneralPurposeBitFlag;
  header.CompressionMethod = ItemInfo.CompressionMethod;
  header.LastModFileTime = ItemInfo.LastModFileTime;
  header.LastModFileDate = ItemInfo.LastModFileDate;
  header.CRC32 = ItemInfo.CRC32;
  header.CompressedSize = ItemInfo.CompressedSize;
  header.UncompressedSize = ItemInfo.UncompressedSize;
  header.SetFileName(ItemInfo.FileName());
  header.SetExtraField(ItemInfo.ExtraField());
  return header;
}

void TAbZipItem::WriteLocal(TStream& Stream) {
  LocalHeader().WriteTo(Stream);
}

void TAbZipItem::WriteCentral(TStream& Stream) {
  SyncStoredName();
  ItemInfo.WriteTo(Stream);
}

void TAbZipItem::WriteDescriptor(TStream& Stream) const {
  TAbZipDataDescriptor descriptor;
  descriptor.CRC32 = ItemInfo.CRC32;
  descriptor.CompressedSize = ItemInfo.CompressedSize;
  descriptor.UncompressedSize = ItemInfo.UncompressedSize;
  descriptor.WriteTo(Stream);
}

// -------------------------------------------------------------- archive

TAbZipArchive::TAbZipArchive(const std::string& FileName, uint16_t FileMode)
    : TAbArchive(FileName, FileMode) {
  StoreOptions.Include(soStripDrive);
  TempDirectory.clear();
  SetSpanningThreshold(0);
}

TAbZipArchive::~TAbZipArchive() = default;

std::unique_ptr<TAbArchiveItem> TAbZipArchive::NewItem(const std::string& FileSpec) {
  auto item = std::make_unique<TAbZipItem>();
  item->SetCompressionMethod(8);
  item->SetGeneralPurposeBitFlag(0);
  item->SetCompressedSize(0);
  item->SetCRC32(0);
  item->SetRelativeOffset(0);
  // Disk paths stay UTF-8: there is no OEM form of them on this platform.
  item->DiskPath = ExpandFileName(FileSpec);
  item->SetFileName(MakeStoredName(FileSpec));
  return item;
}

std::string TAbZipArchive::MakeStoredName(const std::string& FileSpec) {
  std::string path = FileSpec;
  if (DOSMode) {
    const bool hasDrive = path.size() >= 2 && path[1] == ':';
    if (!hasDrive && (path.empty() || path[0] != '\\') && !BaseDirectory().empty())
      path = AbWithTrailingSlash(BaseDirectory()) + path;
    path = AbShortPathOf(path);
  }
  StoreOptions.Include(soStripDrive);
  AbDropDrive(path);
  if (!path.empty() && path[0] == '\\') path.erase(0, 1);
  if (StoreOptions.Contains(soStripPath)) {
    const size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos) path = path.substr(slash + 1);
  }
  if (StoreOptions.Contains(soRemoveDots)) AbTrimParentRefs(path);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

void TAbZipArchive::ExtractOne(int Index, const std::string& NewName) {
  if (!ExtractHook) throw EAbZipNoExtraction();
  ExtractHook(*this, Items(Index), NewName);
}

void TAbZipArchive::ExtractOneToStream(int Index, TStream& Stream) {
  if (!ExtractToStreamHook) throw EAbZipNoExtraction();
  ExtractToStreamHook(*this, Items(Index), Stream);
}

void TAbZipArchive::TestOne(int Index) {
  if (!TestHook) throw EAbZipNoExtraction();
  TestHook(*this, Items(Index));
}

void TAbZipArchive::SetComment(const std::string& Text) {
  EndRecord.SetComment(Text);
  FIsDirty = true;
}

// ------------------------------------------------------- finding the end

// Scans back from the end for the last end record whose comment fits in the
// bytes after it. A comment may take up to 64 KiB, so that much is searched.
int64_t TAbZipArchive::FindEndRecord(TStream& Stream) {
  auto* span = dynamic_cast<TAbSpanStream*>(&Stream);
  const bool oldDirectMode = span != nullptr && span->DirectMode();
  if (span != nullptr) span->SetDirectMode(true);
  const int64_t saved = Stream.Position();
  const int64_t size = Stream.Size();

  const int64_t window =
      std::min<int64_t>(size, kEndRecordWindow + TAbZipDirectoryFileFooter::FixedSize);
  std::vector<uint8_t> tail(size_t(std::max<int64_t>(window, 0)));
  const int64_t start = size - window;
  bool readOk = window >= TAbZipDirectoryFileFooter::FixedSize &&
                Stream.Seek(start, soFromBeginning) == start &&
                ReadFully(Stream, tail.data(), int32_t(window));
  for (int64_t k = window - TAbZipDirectoryFileFooter::FixedSize; readOk && k >= 0; --k) {
    const uint8_t* p = &tail[size_t(k)];
    const uint32_t signature =
        uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    if (signature != EndRecordSig) continue;
    const uint16_t commentLength = uint16_t(p[20] | (p[21] << 8));
    if (window - k - TAbZipDirectoryFileFooter::FixedSize < commentLength) continue;
    const int64_t position = start + k;
    Stream.Seek(position, soFromBeginning);
    return position;
  }
  Stream.Seek(saved, soFromBeginning);
  if (span != nullptr) span->SetDirectMode(oldDirectMode);
  return -1;
}

int VerifyZip(TStream& Stream) {
  const int64_t saved = Stream.Position();
  int kind = 0;
  try {
    Stream.Seek(0, soFromBeginning);
    const uint32_t signature = ReadSignature(Stream);
    if (signature == SpanMarkerSig || signature == SingleSpanMarkerSig) {
      kind = 2;
    } else if (TAbZipArchive::FindEndRecord(Stream) != -1) {
      TAbZipDirectoryFileFooter footer;
      footer.ReadFrom(Stream);
      kind = footer.IsValid() ? 1 : 0;
    }
  } catch (const Exception&) {
    kind = 0;
  }
  Stream.Seek(saved, soFromBeginning);
  return kind;
}

int VerifySelfExtracting(TStream& Stream) {
  const int64_t saved = Stream.Position();
  Stream.Seek(0, soFromBeginning);
  char mz[2] = {0, 0};
  const bool isExe = ReadFully(Stream, mz, 2) && mz[0] == 'M' && mz[1] == 'Z';
  Stream.Seek(saved, soFromBeginning);
  return isExe && VerifyZip(Stream) == 1 ? 3 : 0;
}

// ---------------------------------------------------------------- loading

void TAbZipArchive::ReadArchive() {
  AutoVolumeNames = false;
  FLastDisk = -1;
  FFirstVolumeIsArchive = false;
  if (Stream().Size() == 0) return;

  Stream().Seek(0, soFromBeginning);
  std::array<uint8_t, 4> first{};
  const int32_t got = Stream().Read(first.data(), 4);
  const bool startsWithPK = got >= 2 && first[0] == 'P' && first[1] == 'K';
  const uint32_t signature = got == 4 ? uint32_t(first[0]) | uint32_t(first[1]) << 8 |
                                            uint32_t(first[2]) << 16 | uint32_t(first[3]) << 24
                                      : 0;
  OnRemovableMedia = AbIsRemovableDrive(ArchiveName());

  int64_t tail =
      signature == SpanMarkerSig || signature == SingleSpanMarkerSig ? -1 : FindEndRecord(Stream());
  if (tail == -1) {
    if (!startsWithPK) {
      FState = stInvalid;
      throw EAbZipInvalid();
    }
    try {
      while (tail == -1) {
        OpenVolume(-1);
        tail = FindEndRecord(Stream());
      }
    } catch (const EAbUserAbort&) {
      return;
    }
    FIsSpannedSet = true;
  }

  EndRecord.ReadFrom(Stream());
  CurrentDisk = EndRecord.ThisDisk;
  if (EndRecord.ThisDisk > 0) FIsSpannedSet = true;
  if (FIsSpannedSet) {
    FLastDisk = EndRecord.ThisDisk;
    FStreamDiskBase = EndRecord.ThisDisk;
    // The directory may begin on an earlier volume than the end record.
    if (EndRecord.DirectoryStartDisk != CurrentDisk) {
      CurrentDisk = EndRecord.DirectoryStartDisk;
      OpenVolume(CurrentDisk);
    }
  }
  // A directory said to start past its own end record cannot be read; taking
  // it as empty would pass a damaged archive off as one without items.
  if (CurrentDisk == EndRecord.ThisDisk && int64_t(EndRecord.DirectoryOffset) > tail) {
    FState = stInvalid;
    throw EAbZipInvalid();
  }
  Stream().Seek(EndRecord.DirectoryOffset, soFromBeginning);

  int32_t i = 0;
  while (!(CurrentDisk == EndRecord.ThisDisk && Stream().Position() >= tail)) {
    if (FIsSpannedSet && CurrentDisk < EndRecord.ThisDisk &&
        Stream().Position() >= Stream().Size()) {
      ++CurrentDisk;
      OpenVolume(CurrentDisk);
      continue;
    }
    auto item = std::make_unique<TAbZipItem>();
    item->ReadCentral(Stream());
    FItemList.Append(std::move(item));
    ++i;
    bool abort = false;
    ReportArchiveProgress(AbPercentOf(i, EndRecord.TotalEntries), abort);
    if (abort) {
      FState = stInvalid;
      throw EAbUserAbort();
    }
  }
  // The last entry ran into the end record: its lengths are damaged.
  if (Stream().Position() > tail) throw EAbZipInvalid();
  bool abort = false;
  ReportArchiveProgress(100, abort);
  FIsDirty = false;
}

// --------------------------------------------------------------- volumes

std::string TAbZipArchive::VolumeName(int32_t Disk) const {
  if (FFirstVolumeIsArchive) return Disk == 0 ? ArchiveName() : VolumeFileOf(ArchiveName(), Disk);
  if (FLastDisk < 0 || Disk == FLastDisk) return ArchiveName();
  return VolumeFileOf(ArchiveName(), Disk + 1);
}

void TAbZipArchive::OpenVolumeFile(const std::string& Name, int32_t Disk) {
  ReleaseStream();
  auto stream = OpenSpanStream(Name, 0, OnRemovableMedia, fmOpenRead);
  // Readers switch volumes themselves (OpenVolume); reads stay in this one.
  stream->SetDirectMode(true);
  SetStream(std::move(stream));
  FStreamDiskBase = Disk;
}

void TAbZipArchive::ReopenArchiveForReading() {
  OpenVolumeFile(ArchiveName(), FLastDisk >= 0 ? FLastDisk : 0);
}

// Looks for the volume that holds the end record among NAME.z01 ... NAME.z99.
void TAbZipArchive::FindLastVolume() {
  ReleaseStream();
  AutoVolumeNames = true;
  for (int32_t n = 1; n <= 99; ++n) {
    const std::string name = VolumeFileOf(ArchiveName(), n);
    if (!FileExists(name)) break;
    OpenVolumeFile(name, n);
    if (FindEndRecord(Stream()) != -1) {
      FFirstVolumeIsArchive = true;
      return;
    }
  }
  // No stale stream stays behind: the archive file itself is current again.
  ReopenArchiveForReading();
  throw EAbFileNotFound();
}

void TAbZipArchive::OpenVolume(int32_t Disk) {
  if (OnRemovableMedia) {
    bool abort = false;
    if (Disk >= 0) AskNthDisk(uint8_t(Disk + 1), abort);
    if (abort) throw EAbUserAbort();
    OpenVolumeFile(ArchiveName(), std::max(Disk, 0));
    if (CurrentDisk == -1 && FindEndRecord(Stream()) == -1) {
      AskLastDisk(abort);
      if (abort) throw EAbUserAbort();
    }
    return;
  }
  if (Disk == -1 && FindEndRecord(Stream()) != -1) return;
  if (OnRequestImage) {
    std::string name = ArchiveName();
    bool abort = false;
    OnRequestImage(*this, Disk, name, abort);
    if (abort) throw EAbUserAbort();
    if (!FileExists(name)) throw EAbFileNotFound();
    OpenVolumeFile(name, std::max(Disk, 0));
    return;
  }
  if (Disk == -1) {
    FindLastVolume();
    return;
  }
  const std::string name = VolumeName(Disk);
  if (!FileExists(name)) throw EAbFileNotFound();
  OpenVolumeFile(name, Disk);
}

void TAbZipArchive::RequestSpanImage(int32_t ImageNumber, std::string& ImageName, bool& Abort) {
  Abort = false;
  if (FWritingSpan) {
    if (FWritingRemovable) {
      AskBlankDisk(Abort);
      if (!Abort) AbLabelSpanDisk(AbDriveLetterOf(ArchiveName()), ImageNumber);
      return;
    }
    if (OnRequestImage) {
      OnRequestImage(*this, ImageNumber, ImageName, Abort);
      return;
    }
    // Volume N of the set being written is NAME.z(N+1); the last becomes NAME.zip.
    ImageName = VolumeFileOf(ArchiveName(), ImageNumber + 1);
    return;
  }
  if (OnRemovableMedia) {
    AskNthDisk(uint8_t(ImageNumber), Abort);
    return;
  }
  const int32_t disk = FStreamDiskBase + ImageNumber;
  if (OnRequestImage) {
    OnRequestImage(*this, disk, ImageName, Abort);
  } else {
    ImageName = VolumeName(disk);
  }
  if (!Abort) CurrentDisk = disk;
}

// Without a handler there is nobody to insert a disk: the request is cancelled.
void TAbZipArchive::AskLastDisk(bool& Abort) {
  Abort = !OnRequestLastDisk;
  if (OnRequestLastDisk) OnRequestLastDisk(*this, Abort);
}

void TAbZipArchive::AskNthDisk(uint8_t DiskNumber, bool& Abort) {
  Abort = !OnRequestNthDisk;
  if (OnRequestNthDisk) OnRequestNthDisk(*this, DiskNumber, Abort);
}

void TAbZipArchive::AskBlankDisk(bool& Abort) {
  Abort = !OnRequestBlankDisk;
  if (OnRequestBlankDisk) OnRequestBlankDisk(*this, Abort);
  FIsSpannedSet = true;
}

// ------------------------------------------------------------ save cycle

struct TAbZipArchive::TSaveWork {
  std::string SwapDir;
  std::unique_ptr<TAbVirtualMemoryStream> Data;
  // Bytes of each item's data in Data, by list index; -1 for items not written.
  std::vector<int64_t> DataLength;
  int64_t Estimate = 0;
  // Sizes of the single file being built: local part (the directory's
  // offset) and central directory.
  int64_t LocalBytes = 0;
  int64_t CentralBytes = 0;
};

void TAbZipArchive::CheckSourceSize(const TAbZipItem& Item) const {
  int64_t size = -1;
  if (Item.Action == iaStreamAdd) {
    if (InStream != nullptr) size = InStream->Size();
  } else {
    std::string path = Item.DiskPath;
    if (AbPathKind(path) != pkAbsolute && !BaseDirectory().empty())
      path = AbWithTrailingSlash(BaseDirectory()) + path;
    size = AbSizeOfFile(path);
  }
  if (size > kMax32) RefuseZip64(Item.FileName() + " is 4 GiB or larger");
}

void TAbZipArchive::CheckItemLimits(const TAbZipItem& Item, int64_t DataLength,
                                    TSaveWork& Work) const {
  if (DataLength > kMax32 || Item.UncompressedSize() > kMax32 || Item.UncompressedSize() < 0)
    RefuseZip64(Item.FileName() + " is 4 GiB or larger");
  const std::string name = Item.FileName();
  if (int64_t(name.size()) > kMax16)
    throw EAbException("Cannot save archive - stored name too long: " + name);
  const int64_t variable = int64_t(name.size()) + Item.ExtraField().size();
  Work.LocalBytes += TAbZipLocalFileHeader::FixedSize + variable + DataLength +
                     (Item.HasDataDescriptor() ? TAbZipDataDescriptor::FixedSize : 0);
  Work.CentralBytes +=
      TAbZipDirectoryFileHeader::FixedSize + variable + Item.ItemInfo.FileCommentLength();
  // Volumes of a spanned set stay below the threshold; a single file must
  // keep every offset and the directory's size within 32 bits.
  const bool singleFile = SpanningThreshold() <= 0 && Stream().MediaKind() == mkFixed;
  if (singleFile && (Work.LocalBytes > kMax32 || Work.CentralBytes > kMax32))
    RefuseZip64("the archive would reach 4 GiB");
}

void TAbZipArchive::CollectItems(TSaveWork& Work) {
  Work.DataLength.assign(size_t(Count()), -1);
  for (int i = 0; i < Count(); ++i) {
    auto& item = static_cast<TAbZipItem&>(Items(i));
    FCurrentItem = &item;
    int64_t length = -1;
    switch (item.Action) {
      case iaNone:
      case iaMove: {
        length = std::max<int64_t>(item.CompressedSize(), 0);
        CheckItemLimits(item, length, Work);
        Stream().Seek(item.RelativeOffset(), soFromBeginning);
        TAbZipLocalFileHeader local;
        local.ReadFrom(Stream());
        if (length > 0) Work.Data->CopyFrom(Stream(), length);
        break;
      }
      case iaAdd:
      case iaFreshen:
      case iaReplace:
      case iaStreamAdd: {
        CheckSourceSize(item);
        TAbTailStream out(*Work.Data, Work.Data->Size());
        if (item.Action == iaStreamAdd) {
          if (!InsertFromStreamHook) throw EAbZipNoInsertion();
          InsertFromStreamHook(*this, item, out, InStream);
        } else {
          if (!InsertHook) throw EAbZipNoInsertion();
          InsertHook(*this, item, out);
        }
        // The headers must announce exactly the bytes that follow them.
        length = out.Size();
        item.SetCompressedSize(length);
        CheckItemLimits(item, length, Work);
        // The hook may leave the position anywhere: what follows is appended.
        Work.Data->Seek(0, soFromEnd);
        break;
      }
      default:
        continue;
    }
    Work.DataLength[size_t(i)] = length;
    if (item.Action == iaNone || item.Action == iaMove || length > 0) {
      Work.Estimate += 76 + length + 2 * int64_t(item.FileName().size()) +
                       2 * int64_t(item.ExtraField().size()) + (item.HasDataDescriptor() ? 16 : 0);
    }
  }
  Work.Data->Seek(0, soFromBeginning);
}

bool TAbZipArchive::WillSpan(const TSaveWork& Work) {
  if (SpanningThreshold() > 0 && Work.Estimate > SpanningThreshold()) return true;
  return Stream().MediaKind() == mkRemovable && Work.Estimate > AbFreeSpaceOf(ArchiveName());
}

namespace {

// Moves to the next volume unless `size` bytes still fit in this one, so
// that no header is split between volumes.
void EnsureRoom(TAbSpanStream& out, int64_t size) {
  if (out.BytesAvailable() < size) out.NextVolume();
}

}  // namespace

void TAbZipArchive::WriteItems(TAbSpanStream& Out, TSaveWork& Work, bool Spanning) {
  if (Spanning) {
    TRecordWriter marker;
    marker.U32(SpanMarkerSig);
    marker.WriteTo(Out);
    if (Out.MediaKind() == mkRemovable) AbLabelSpanDisk(AbDriveLetterOf(ArchiveName()), 1);
  }
  for (int i = 0; i < Count(); ++i) {
    auto& item = static_cast<TAbZipItem&>(Items(i));
    if (item.Action == iaDelete) continue;
    FCurrentItem = &item;
    TAbZipLocalFileHeader local = item.LocalHeader();
    if (Spanning) EnsureRoom(Out, local.RecordSize());
    item.SetDiskNumberStart(uint16_t(Out.VolumeNumber()));
    item.SetRelativeOffset(uint32_t(Out.Position()));
    local.WriteTo(Out);
    const int64_t length = std::max<int64_t>(Work.DataLength[size_t(i)], 0);
    if (length > 0) Out.CopyFrom(*Work.Data, length);
    if (item.HasDataDescriptor()) item.WriteDescriptor(Out);
  }

  EndRecord.DirectoryOffset = uint32_t(Out.Position());
  EndRecord.DirectoryStartDisk = uint16_t(Out.VolumeNumber());
  uint32_t directorySize = 0;
  uint16_t onThisDisk = 0, total = 0;
  for (int i = 0; i < Count(); ++i) {
    auto& item = static_cast<TAbZipItem&>(Items(i));
    if (item.Action == iaDelete) continue;
    if (Spanning && Out.BytesAvailable() < item.ItemInfo.RecordSize()) {
      Out.NextVolume();
      onThisDisk = 0;
      if (total == 0) {
        EndRecord.DirectoryOffset = uint32_t(Out.Position());
        EndRecord.DirectoryStartDisk = uint16_t(Out.VolumeNumber());
      }
    }
    item.WriteCentral(Out);
    directorySize += uint32_t(item.ItemInfo.RecordSize());
    ++onThisDisk;
    ++total;
  }
  if (Spanning && Out.BytesAvailable() < EndRecord.RecordSize()) {
    Out.NextVolume();
    onThisDisk = 0;
  }
  EndRecord.EntriesOnThisDisk = onThisDisk;
  EndRecord.TotalEntries = total;
  EndRecord.DirectorySize = directorySize;
  EndRecord.ThisDisk = uint16_t(Out.VolumeNumber());
  EndRecord.WriteTo(Out);
}

void TAbZipArchive::WriteSingleFile(TSaveWork& Work) {
  // Writing over the archive in place would need write access to it.
  const int32_t attributes = FileGetAttr(ArchiveName());
  if (attributes != -1 && (attributes & faReadOnly) != 0)
    throw EFOpenError(ArchiveName(), ERROR_ACCESS_DENIED);

  const std::string tempName = GetTempFileName(FolderOf(ExpandFileName(ArchiveName())), "ABZ");
  if (tempName.empty()) throw EFCreateError(ArchiveName(), GetLastError());
  bool released = false;
  try {
    {
      auto out = OpenSpanStream(tempName, 0, false, fmOpenWrite | fmShareDenyWrite);
      out->SetTotalSize(Work.LocalBytes + Work.CentralBytes + EndRecord.RecordSize());
      WriteItems(*out, Work, false);
    }
    ReleaseStream();
    released = true;
    if (!MoveFileExA(tempName, ArchiveName(), MOVEFILE_REPLACE_EXISTING))
      throw EInOutError(GetLastError());
  } catch (...) {
    DeleteFile(tempName);
    if (released) ReopenArchiveForReading();
    throw;
  }
  ReopenArchiveForReading();
}

void TAbZipArchive::WriteSpannedSet(TSaveWork& Work) {
  const bool removable = Stream().MediaKind() == mkRemovable;
  // Fixed media: volumes go to NAME.z01, NAME.z02, ...; the last one then
  // replaces NAME.zip, so the old archive stays until the set is complete.
  const std::string firstName = removable ? ArchiveName() : VolumeFileOf(ArchiveName(), 1);
  ReleaseStream();
  std::string lastName;
  FWritingSpan = true;
  FWritingRemovable = removable;
  try {
    auto out = OpenSpanStream(firstName, SpanningThreshold(), removable, fmCreate);
    WriteItems(*out, Work, true);
    lastName = out->VolumeName();
    FWritingSpan = false;
    out.reset();
    if (!removable && !MoveFileExA(lastName, ArchiveName(), MOVEFILE_REPLACE_EXISTING))
      throw EInOutError(GetLastError());
  } catch (...) {
    FWritingSpan = false;
    ReopenArchiveForReading();
    throw;
  }
  FIsSpannedSet = true;
  FFirstVolumeIsArchive = false;
  FLastDisk = EndRecord.ThisDisk;
  CurrentDisk = FLastDisk;
  ReopenArchiveForReading();
}

void TAbZipArchive::ResetActionsAfterSave() {
  for (int i = Count() - 1; i >= 0; --i) {
    TAbArchiveItem& item = Items(i);
    if (item.Action == iaDelete)
      FItemList.DeleteAt(i);
    else
      item.Action = iaNone;
  }
}

void TAbZipArchive::WriteArchive() {
  if (FIsSpannedSet) {
    for (int i = 0; i < Count(); ++i) Items(i).Action = iaNone;
    FIsDirty = false;
    throw EAbZipSpanOverwrite();
  }
  int64_t entries = 0;
  for (int i = 0; i < Count(); ++i) entries += Items(i).Action != iaDelete ? 1 : 0;
  if (entries > kMaxEntries) RefuseZip64(IntToStr(entries) + " entries are too many");

  // Items copied from the old file are checked before any byte is copied.
  TSaveWork known;
  for (int i = 0; i < Count(); ++i) {
    const auto& item = static_cast<const TAbZipItem&>(Items(i));
    if (item.Action == iaNone || item.Action == iaMove)
      CheckItemLimits(item, std::max<int64_t>(item.CompressedSize(), 0), known);
  }

  Stream().Seek(0, soFromBeginning);
  TSaveWork work;
  work.SwapDir = FolderOf(AbTempFileName(TempDirectory, false));
  work.Data = std::make_unique<TAbVirtualMemoryStream>();
  work.Data->SetSwapDir(work.SwapDir);
  CollectItems(work);

  // A failed write leaves the items where the old file has them.
  std::vector<std::pair<uint16_t, uint32_t>> oldPlaces;
  for (int i = 0; i < Count(); ++i) {
    const auto& item = static_cast<const TAbZipItem&>(Items(i));
    oldPlaces.emplace_back(item.DiskNumberStart(), item.RelativeOffset());
  }
  const TAbZipDirectoryFileFooter oldEndRecord = EndRecord;
  try {
    if (WillSpan(work))
      WriteSpannedSet(work);
    else
      WriteSingleFile(work);
  } catch (...) {
    for (int i = 0; i < Count(); ++i) {
      auto& item = static_cast<TAbZipItem&>(Items(i));
      item.SetDiskNumberStart(oldPlaces[size_t(i)].first);
      item.SetRelativeOffset(oldPlaces[size_t(i)].second);
    }
    EndRecord = oldEndRecord;
    throw;
  }
  ResetActionsAfterSave();
}
