#include "archive/deflate/AbZipPrc.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "archive/AbExcept.h"
#include "archive/AbUtils.h"
#include "archive/AbVMStrm.h"
#include "archive/AbZipTyp.h"
#include "archive/deflate/AbDfBase.h"
#include "archive/deflate/AbDfEnc.h"
#include "archive/inflate/AbDfCryS.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/DriveMap.h"
#include "platform/FileSystem.h"
#include "platform/SysUtils.h"

namespace {

constexpr int32_t kCopyChunk = 1024;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

TAbZipArchive& ZipArchiveOf(TAbArchive& Sender, const char* message) {
  auto* archive = dynamic_cast<TAbZipArchive*>(&Sender);
  ZASSERT(archive != nullptr, message);
  return *archive;
}

TAbZipItem& ZipItemOf(TAbArchiveItem& Item, const char* message) {
  auto* item = dynamic_cast<TAbZipItem*>(&Item);
  ZASSERT(item != nullptr, message);
  return *item;
}

// done * 100 / total rounded to the nearest integer, halves to even.
uint8_t RoundedPercent(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  const int64_t scaled = done * 100;
  int64_t quotient = scaled / total;
  const int64_t twiceRemainder = (scaled % total) * 2;
  if (twiceRemainder > total || (twiceRemainder == total && (quotient & 1) != 0)) ++quotient;
  return uint8_t(quotient > 100 ? 100 : quotient);
}

// The cipher keeps the upper 16 bits of the check value in the header's last
// two bytes; readers compare them with the item's DOS time.
uint32_t CheckValueOf(const TAbZipItem& item) {
  return uint32_t(item.LastModFileTime()) << 16;
}

// Level letter and general-purpose bits of each deflation option.
struct TLevel {
  char Letter;  // 0: keep level "0" (stored blocks only)
  uint16_t Bits;
};
TLevel LevelOf(TAbZipDeflationOption option) {
  switch (option) {
    case doNormal:
      return {'n', 0};
    case doMaximum:
      return {'x', 2};
    case doFast:
      return {'f', 4};
    case doSuperFast:
      return {'s', 6};
    case doInvalid:
      break;
  }
  return {0, 0};
}

// One item on its way into the archive.
class TItemCompressor {
 public:
  TItemCompressor(TAbZipArchive& archive, TAbZipItem& item, TStream& inStream)
      : FArchive(archive), FItem(item), FIn(inStream) {}

  void Run(TStream& outStream);

 private:
  std::unique_ptr<TAbVirtualMemoryStream> NewTempStream() const;
  void PrepareItemInfo();
  void DeflateItemData(TStream& temp);
  void StoreItemData(TStream& temp);
  void CompleteItemInfo();

  TAbZipArchive& FArchive;
  TAbZipItem& FItem;
  TStream& FIn;
  // The bytes from InStream's position to its end: what the item holds.
  int64_t FSourceSize = 0;
};

std::unique_ptr<TAbVirtualMemoryStream> TItemCompressor::NewTempStream() const {
  auto temp = std::make_unique<TAbVirtualMemoryStream>();
  temp->SetSwapDir(FArchive.TempDirectory);
  return temp;
}

void TItemCompressor::PrepareItemInfo() {
  // The item holds what is read from the current position on, so its size
  // must count from there too, or the headers would announce bytes that
  // never follow.
  FSourceSize = FIn.Size() - FIn.Position();
  if (FSourceSize < 0) FSourceSize = 0;
  FItem.SetUncompressedSize(FSourceSize);
  FItem.SetGeneralPurposeBitFlag(0);
  FItem.SetCompressedSize(0);
  if (dynamic_cast<TFileStream*>(&FIn) == nullptr) {
    const int32_t now = DateTimeToFileDate(Clock().Now());
    FItem.SetLastModFileDate(AbDosDateOf(now));
    FItem.SetLastModFileTime(AbDosTimeOf(now));
    FItem.SetExternalFileAttributes(0);
  }
  // There is no Windows version word here: the value of an NT host.
  FItem.SetVersionMadeBy(20);
}

void TItemCompressor::DeflateItemData(TStream& temp) {
  FItem.SetCompressionMethod(kMethodDeflated);
  TAbDeflateHelper helper;
  if (!FArchive.Password.empty()) helper.Password = FArchive.Password;
  // The helper counts in 32 bits; a larger source goes without progress.
  helper.SourceSize = FSourceSize <= std::numeric_limits<int32_t>::max() ? int32_t(FSourceSize) : 0;
  // Selecting the current letter changes nothing, so "0" first makes the
  // following letter take effect whatever the helper started with.
  helper.SelectLevel('0');
  const TLevel level = LevelOf(FArchive.DeflationOption);
  if (level.Letter != 0) helper.SelectLevel(level.Letter);
  FItem.SetGeneralPurposeBitFlag(FItem.GeneralPurposeBitFlag() | level.Bits);
  TAbZipArchive& archive = FArchive;
  helper.ProgressHook = [&archive](uint8_t percent) { archive.ReportStepProgress(percent); };
  helper.HeaderCheck = int32_t(CheckValueOf(FItem));
  FItem.SetCRC32(Deflate(&FIn, &temp, &helper));
}

void TItemCompressor::StoreItemData(TStream& temp) {
  // The flag bits an earlier deflate attempt set stay.
  FItem.SetCompressionMethod(kMethodStored);
  bool abort = false;
  uint32_t crc = 0xFFFFFFFF;
  int64_t done = 0;
  uint8_t percent = 0;
  uint8_t last = 0;
  const TAbProgressCallback& progress = FArchive.ItemProgressCallback;

  std::unique_ptr<TAbDfEncryptStream> encrypter;
  TStream* dest = &temp;
  if (!FArchive.Password.empty()) {
    encrypter = std::make_unique<TAbDfEncryptStream>(temp, CheckValueOf(FItem), FArchive.Password);
    dest = encrypter.get();
  }

  uint8_t buffer[kCopyChunk];
  int64_t remaining = FSourceSize;
  int32_t count = FIn.Read(buffer, int32_t(std::min<int64_t>(remaining, kCopyChunk)));
  while (count > 0 && !abort) {
    if (progress) {
      done += count;
      percent = RoundedPercent(done, FSourceSize);
      if (percent != last) progress(percent, abort);
      last = percent;
    }
    AbCrcBuffer(crc, buffer, uint16_t(count));
    dest->WriteBuffer(buffer, count);
    remaining -= count;
    count = FIn.Read(buffer, int32_t(std::min<int64_t>(remaining, kCopyChunk)));
  }
  FItem.SetCRC32(crc ^ 0xFFFFFFFF);
  if (percent < 100 && progress) progress(100, abort);
  encrypter.reset();
  if (abort) throw EAbUserAbort();
}

void TItemCompressor::CompleteItemInfo() {
  FItem.SetVersionNeededToExtract(FItem.CompressionMethod() == kMethodDeflated ? 20 : 10);
  // Bit 0: encrypted; bit 3: CRC and sizes follow the data.
  if (!FArchive.Password.empty())
    FItem.SetGeneralPurposeBitFlag(FItem.GeneralPurposeBitFlag() | 0x0009);
}

void TItemCompressor::Run(TStream& outStream) {
  std::unique_ptr<TAbVirtualMemoryStream> temp = NewTempStream();
  PrepareItemInfo();
  if (FSourceSize > 0) {
    switch (FArchive.CompressionMethodToUse) {
      case smStored:
        StoreItemData(*temp);
        break;
      case smDeflated:
        DeflateItemData(*temp);
        break;
      case smBestMethod: {
        const int64_t start = FIn.Position();
        DeflateItemData(*temp);
        // Deflating did not pay: store instead. Equal sizes stay deflated.
        if (FSourceSize < temp->Size()) {
          FIn.Seek(start, soFromBeginning);
          temp = NewTempStream();
          StoreItemData(*temp);
        }
        break;
      }
    }
  } else {
    FItem.SetCRC32(0);
    StoreItemData(*temp);
  }
  CompleteItemInfo();
  temp->Seek(0, soFromBeginning);
  if (temp->Size() > 0) outStream.CopyFrom(*temp, temp->Size());
  temp.reset();
  FItem.SetCompressedSize(outStream.Size());
  FItem.SetInternalFileAttributes(0);
}

}  // namespace

void CompressFileItem(TAbArchive& Sender, TAbArchiveItem& Item, TStream& OutStream) {
  TAbZipArchive& archive =
      ZipArchiveOf(Sender, "CompressFileItem: the archive is not a ZIP archive");
  TAbZipItem& item = ZipItemOf(Item, "CompressFileItem: the item is not a ZIP item");

  // The file is opened relative to BaseDirectory; the current directory is
  // put back whatever happens, so a failed item leaves no trace of it.
  const std::string saved = GetCurrentDir();
  std::unique_ptr<TFileStream> file;
  try {
    if (!archive.BaseDirectory().empty()) ChDir(archive.BaseDirectory());
    // Disk paths are kept in the ANSI form already: no OEM conversion here.
    const std::string& path = item.DiskPath;
    file = std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyWrite);
    item.SetExternalFileAttributes(uint32_t(FileGetAttr(path)));
    item.SetUncompressedSize(file->Size());
  } catch (...) {
    SetCurrentDir(saved);
    throw;
  }
  ChDir(saved);
  const int32_t stamp = FileGetDate(file->Handle());
  item.SetLastModFileTime(uint16_t(uint32_t(stamp) & 0xFFFF));
  item.SetLastModFileDate(uint16_t(uint32_t(stamp) >> 16));
  CompressStreamItem(archive, item, OutStream, *file);
}

void CompressStreamItem(TAbArchive& Sender, TAbArchiveItem& Item, TStream& OutStream,
                        TStream& InStream) {
  TAbZipArchive& archive =
      ZipArchiveOf(Sender, "CompressStreamItem: the archive is not a ZIP archive");
  TAbZipItem& item = ZipItemOf(Item, "CompressStreamItem: the item is not a ZIP item");
  TItemCompressor(archive, item, InStream).Run(OutStream);
}
