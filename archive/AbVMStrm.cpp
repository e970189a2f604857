#include "archive/AbVMStrm.h"

#include <algorithm>
#include <cstring>

#include "archive/AbExcept.h"
#include "archive/AbUtils.h"
#include "platform/FileSystem.h"
#include "platform/SysUtils.h"

namespace {

constexpr uint32_t kMaxUse = 2147483647u;

}  // namespace

TAbVirtualMemoryStream::TAbVirtualMemoryStream() {
  FPageList.push_back(std::make_unique<TAbVMPage>());
  FCachePage = FPageList.front().get();
}

TAbVirtualMemoryStream::~TAbVirtualMemoryStream() {
  if (FSwapFile) {
    FSwapFile.reset();
    DeleteFile(FSwapFileName);
  }
}

int32_t TAbVirtualMemoryStream::Read(void* buffer, int32_t count) {
  const int64_t available = std::max<int64_t>(FSize - FPosition, 0);
  const int32_t total = int32_t(std::min<int64_t>(std::max(count, 0), available));
  auto* out = static_cast<uint8_t*>(buffer);
  int32_t done = 0;
  while (done < total) {
    const int64_t at = FPosition + done;
    const int32_t inPage = int32_t(at % PageSize);
    const int32_t n = std::min(total - done, PageSize - inPage);
    std::memcpy(out + done, PageAt(at - inPage).Data.data() + inPage, size_t(n));
    done += n;
  }
  FPosition += total;
  return total;
}

int32_t TAbVirtualMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const auto* in = static_cast<const uint8_t*>(buffer);
  int32_t done = 0;
  while (done < count) {
    const int64_t at = FPosition + done;
    const int32_t inPage = int32_t(at % PageSize);
    const int32_t n = std::min(count - done, PageSize - inPage);
    TAbVMPage& page = PageAt(at - inPage);
    std::memcpy(page.Data.data() + inPage, in + done, size_t(n));
    page.Dirty = true;
    done += n;
  }
  FPosition += count;
  FSize = std::max(FSize, FPosition);
  return count;
}

int64_t TAbVirtualMemoryStream::Seek(int64_t offset, int origin) {
  int64_t target = 0;
  switch (origin) {
    case soFromBeginning:
      target = offset;
      break;
    case soFromCurrent:
      target = FPosition + offset;
      break;
    case soFromEnd:
      target = FSize + offset;
      break;
    default:
      throw EAbVMSInvalidOrigin(origin);
  }
  // A position before the start would make reads and writes reach outside the pages.
  if (target >= 0) FPosition = target;
  return FPosition;
}

void TAbVirtualMemoryStream::SetSize(int64_t newSize) {
  newSize = std::max<int64_t>(newSize, 0);
  if (newSize < FSize) {
    ReleasePagesFrom(newSize);
    // The bytes after the new end in its last page must read as zeros should
    // the stream grow again.
    if (const int32_t used = int32_t(newSize % PageSize); used != 0) {
      TAbVMPage& last = PageAt(newSize - used);
      std::fill(last.Data.begin() + used, last.Data.end(), uint8_t(0));
      last.Dirty = true;
    }
  }
  FSize = newSize;
  FPosition = std::min(FPosition, FSize);
}

void TAbVirtualMemoryStream::ReleasePagesFrom(int64_t newSize) {
  const auto firstGone = std::find_if(
      FPageList.begin(), FPageList.end(),
      [newSize](const std::unique_ptr<TAbVMPage>& page) { return page->Offset >= newSize; });
  if (FCachePage && FCachePage->Offset >= newSize) FCachePage = nullptr;
  FPageList.erase(firstGone, FPageList.end());
  const int64_t keptSwap = (newSize + PageSize - 1) / PageSize * PageSize;
  FSwapSize = std::min(FSwapSize, keptSwap);
}

TAbVirtualMemoryStream::TAbVMPage& TAbVirtualMemoryStream::PageAt(int64_t pageOffset) {
  if (FCachePage && FCachePage->Offset == pageOffset) return *FCachePage;

  const auto byOffset = [](const std::unique_ptr<TAbVMPage>& page, int64_t offset) {
    return page->Offset < offset;
  };
  auto found = std::lower_bound(FPageList.begin(), FPageList.end(), pageOffset, byOffset);
  if (found != FPageList.end() && (*found)->Offset == pageOffset) {
    (*found)->LastUse = NextUse();
    FCachePage = found->get();
    return *FCachePage;
  }

  std::unique_ptr<TAbVMPage> page =
      int32_t(FPageList.size()) < MaxPages ? std::make_unique<TAbVMPage>() : TakeVictim();
  page->Offset = pageOffset;
  page->LastUse = NextUse();
  page->Dirty = false;
  FillPage(*page);
  auto place = std::lower_bound(FPageList.begin(), FPageList.end(), pageOffset, byOffset);
  FCachePage = FPageList.insert(place, std::move(page))->get();
  return *FCachePage;
}

std::unique_ptr<TAbVirtualMemoryStream::TAbVMPage> TAbVirtualMemoryStream::TakeVictim() {
  const auto victim =
      std::min_element(FPageList.begin(), FPageList.begin() + MaxPages,
                       [](const std::unique_ptr<TAbVMPage>& a,
                          const std::unique_ptr<TAbVMPage>& b) { return a->LastUse < b->LastUse; });
  if ((*victim)->Dirty) SwapOut(**victim);
  std::unique_ptr<TAbVMPage> page = std::move(*victim);
  FPageList.erase(victim);
  if (FCachePage == page.get()) FCachePage = nullptr;
  return page;
}

void TAbVirtualMemoryStream::FillPage(TAbVMPage& page) {
  if (!FSwapFile || page.Offset >= FSwapSize) {
    page.Data.fill(0);
    return;
  }
  SeekSwap(page.Offset);
  if (FSwapFile->Read(page.Data.data(), PageSize) != PageSize) {
    throw EAbVMSReadFail(PageSize, FSwapFileName);
  }
}

void TAbVirtualMemoryStream::SwapOut(const TAbVMPage& page) {
  if (!FSwapFile) OpenSwapFile();
  SeekSwap(page.Offset);
  if (FSwapFile->Write(page.Data.data(), PageSize) != PageSize) {
    throw EAbVMSWriteFail(PageSize, FSwapFileName);
  }
  FSwapSize = std::max(FSwapSize, page.Offset + PageSize);
}

void TAbVirtualMemoryStream::OpenSwapFile() {
  FSwapFileName = AbTempFileName(FSwapDir, true);
  try {
    FSwapFile = std::make_unique<TFileStream>(FSwapFileName, fmOpenReadWrite);
  } catch (const EFileStreamError&) {
    if (!FSwapFileName.empty()) DeleteFile(FSwapFileName);
    throw EAbVMSErrorOpenSwap(FSwapFileName);
  }
  FSwapSize = 0;
}

void TAbVirtualMemoryStream::SeekSwap(int64_t offset) {
  if (FSwapFile->Seek(offset, soFromBeginning) != offset) throw EAbVMSSeekFail(FSwapFileName);
}

uint32_t TAbVirtualMemoryStream::NextUse() {
  if (FUseCounter >= kMaxUse) {
    FUseCounter = 0;
    for (auto& page : FPageList) page->LastUse = 0;
  }
  return ++FUseCounter;
}
