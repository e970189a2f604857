// TAbVirtualMemoryStream: a growable stream of 4 KiB pages that keeps at most
// 25 of them (100 KiB) in memory and moves the least recently used ones to a
// swap file "VMS<hex>.TMP". The swap file is made at the first eviction of a
// dirty page and deleted when the stream is freed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Classes.h"

class TAbVirtualMemoryStream : public TStream {
 public:
  static constexpr int32_t PageSize = 4096;
  static constexpr int32_t MemoryLimit = 102400;
  static constexpr int32_t MaxPages = (MemoryLimit + PageSize - 1) / PageSize;  // 25

  TAbVirtualMemoryStream();
  ~TAbVirtualMemoryStream() override;
  TAbVirtualMemoryStream(const TAbVirtualMemoryStream&) = delete;
  TAbVirtualMemoryStream& operator=(const TAbVirtualMemoryStream&) = delete;

  // Copies up to `count` bytes from the position (never past Size).
  int32_t Read(void* buffer, int32_t count) override;
  // Always writes all `count` bytes; a gap left by a seek past the end reads as zeros.
  int32_t Write(const void* buffer, int32_t count) override;
  // Origins 0, 1, 2; another origin raises EAbVMSInvalidOrigin. A negative
  // target leaves the position where it is.
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override { return FSize; }
  // Releases the pages at or beyond a smaller size; pulls the position back.
  // The swap file is cut to match (EInOutError when the host refuses).
  void SetSize(int64_t newSize) override;

  // Where the swap file goes (the system's temporary folder when this is not
  // an existing folder). Set before the first write.
  const std::string& SwapDir() const { return FSwapDir; }
  void SetSwapDir(const std::string& dir) { FSwapDir = dir; }
  // The swap file's name, empty until one was made.
  const std::string& SwapFileName() const { return FSwapFileName; }
  // Pages held in memory now (at most MaxPages).
  int32_t ResidentPages() const { return int32_t(FPageList.size()); }

  // Swap failures raise EAbVMSErrorOpenSwap, EAbVMSSeekFail, EAbVMSReadFail or
  // EAbVMSWriteFail; the stream's content is undefined afterwards.

 private:
  struct TAbVMPage {
    int64_t Offset = 0;
    uint32_t LastUse = 0;
    bool Dirty = false;
    std::array<uint8_t, PageSize> Data{};
  };

  TAbVMPage& PageAt(int64_t pageOffset);
  bool IsResident(int64_t pageOffset) const;
  int32_t SwappedRunAt(int64_t pageOffset, int64_t end) const;
  int32_t ReadRun(int64_t pageOffset, int32_t pages, int32_t skip, uint8_t* out, int32_t count);
  std::unique_ptr<TAbVMPage> FreePage();
  TAbVMPage& Place(std::unique_ptr<TAbVMPage> page);
  std::unique_ptr<TAbVMPage> TakeVictim();
  void FillPage(TAbVMPage& page);
  void SwapOut(size_t index);
  void OpenSwapFile();
  void SeekSwap(int64_t offset);
  uint32_t NextUse();
  void ReleasePagesFrom(int64_t newSize);

  TAbVMPage* FCachePage = nullptr;
  uint32_t FUseCounter = 0;
  std::vector<std::unique_ptr<TAbVMPage>> FPageList;  // ordered by Offset
  int64_t FPosition = 0;
  int64_t FSize = 0;
  std::string FSwapDir;
  std::string FSwapFileName;
  int64_t FSwapSize = 0;
  // Where the swap file stands; -1 when unknown (after a failed transfer).
  int64_t FSwapPosition = -1;
  // A run of dirty pages gathered for one write, and a run of pages read at
  // once; each made at its first use.
  std::vector<uint8_t> FSwapBuffer;
  std::vector<uint8_t> FReadBuffer;
  std::unique_ptr<TFileStream> FSwapFile;
};
