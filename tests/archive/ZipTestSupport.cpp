#include "ZipTestSupport.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "archive/AbSpanSt.h"
#include "archive/AbUtils.h"
#include "platform/FileSystem.h"

uint32_t CrcOf(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t done = 0; done < bytes.size();) {
    const size_t part = std::min<size_t>(bytes.size() - done, 0xFFFF);
    AbCrcBuffer(crc, bytes.data() + done, uint16_t(part));
    done += part;
  }
  return ~crc;
}

void StoreFileHook(TAbArchive&, TAbArchiveItem& Item, TStream& OutStream) {
  auto& item = static_cast<TAbZipItem&>(Item);
  TFileStream in(item.DiskPath, fmOpenRead | fmShareDenyWrite);
  std::string data(size_t(in.Size()), '\0');
  if (!data.empty()) in.ReadBuffer(&data[0], int32_t(data.size()));
  const int32_t dosDate = FileGetDate(in.Handle());
  item.SetCompressionMethod(0);
  item.SetGeneralPurposeBitFlag(0);
  item.SetCRC32(CrcOf(data));
  item.SetUncompressedSize(int64_t(data.size()));
  item.SetLastModFileTime(AbDosTimeOf(dosDate));
  item.SetLastModFileDate(AbDosDateOf(dosDate));
  item.SetExternalFileAttributes(uint32_t(FileGetAttr(item.DiskPath)));
  item.SetVersionMadeBy(20);
  item.SetVersionNeededToExtract(10);
  item.SetInternalFileAttributes(0);
  if (!data.empty()) OutStream.WriteBuffer(data.data(), int32_t(data.size()));
  item.SetCompressedSize(int64_t(data.size()));
}

std::string ReadStoredData(TAbZipArchive& archive, TAbZipItem& item) {
  if (archive.IsSpannedSet() && item.DiskNumberStart() != archive.CurrentDisk) {
    archive.CurrentDisk = item.DiskNumberStart();
    archive.OpenVolume(archive.CurrentDisk);
  }
  archive.Stream().Seek(item.RelativeOffset(), soFromBeginning);
  TAbZipLocalFileHeader local;
  local.ReadFrom(archive.Stream());
  std::string data(size_t(item.CompressedSize()), '\0');
  size_t done = 0;
  while (done < data.size()) {
    const int32_t n = archive.Stream().Read(&data[done], int32_t(data.size() - done));
    if (n > 0) {
      done += size_t(n);
    } else if (archive.IsSpannedSet()) {
      archive.CurrentDisk = archive.CurrentDisk + 1;
      archive.OpenVolume(archive.CurrentDisk);
    } else {
      throw EAbReadError();
    }
  }
  if (CrcOf(data) != item.CRC32()) throw EAbZipBadCRC();
  return data;
}

TAbItemExtractHook TCollectingExtractor::Hook() {
  return [this](TAbArchive& sender, TAbArchiveItem& item, const std::string&) {
    Data[item.FileName()] =
        ReadStoredData(static_cast<TAbZipArchive&>(sender), static_cast<TAbZipItem&>(item));
  };
}
