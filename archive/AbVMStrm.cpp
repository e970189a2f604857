#include "archive/AbVMStrm.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "archive/AbExcept.h"
#include "archive/AbUtils.h"
#include "platform/FileSystem.h"
#include "platform/SysUtils.h"

namespace {

constexpr uint32_t kMaxUse = 2147483647u;
// Pages at most in one write to the swap file.
constexpr size_t kSwapRun = 16;

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
    if (const int32_t run = SwappedRunAt(at - inPage, FPosition + total); run > 1) {
      done += ReadRun(at - inPage, run, inPage, out + done, total - done);
      continue;
    }
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
  const std::optional<int64_t> target = SeekTarget(offset, origin, FPosition, FSize);
  if (!target) throw EAbVMSInvalidOrigin(origin);
  // A position before the start would make reads and writes reach outside the pages.
  if (*target >= 0) FPosition = *target;
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
  if (FSwapFile && keptSwap < FSwapSize) {
    // Pages later written beyond a gap grow the swap file again: the gap
    // must then read as zeros, not as the bytes it held before the cut.
    FSwapPosition = -1;
    FSwapFile->SetSize(keptSwap);
  }
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

  std::unique_ptr<TAbVMPage> page = FreePage();
  page->Offset = pageOffset;
  page->LastUse = NextUse();
  page->Dirty = false;
  FillPage(*page);
  return Place(std::move(page));
}

std::unique_ptr<TAbVirtualMemoryStream::TAbVMPage> TAbVirtualMemoryStream::FreePage() {
  return int32_t(FPageList.size()) < MaxPages ? std::make_unique<TAbVMPage>() : TakeVictim();
}

TAbVirtualMemoryStream::TAbVMPage& TAbVirtualMemoryStream::Place(std::unique_ptr<TAbVMPage> page) {
  const auto place = std::lower_bound(
      FPageList.begin(), FPageList.end(), page->Offset,
      [](const std::unique_ptr<TAbVMPage>& p, int64_t offset) { return p->Offset < offset; });
  FCachePage = FPageList.insert(place, std::move(page))->get();
  return *FCachePage;
}

bool TAbVirtualMemoryStream::IsResident(int64_t pageOffset) const {
  if (FCachePage && FCachePage->Offset == pageOffset) return true;
  const auto found = std::lower_bound(
      FPageList.begin(), FPageList.end(), pageOffset,
      [](const std::unique_ptr<TAbVMPage>& p, int64_t offset) { return p->Offset < offset; });
  return found != FPageList.end() && (*found)->Offset == pageOffset;
}

int32_t TAbVirtualMemoryStream::SwappedRunAt(int64_t pageOffset, int64_t end) const {
  if (!FSwapFile) return 0;
  int32_t pages = 0;
  for (int64_t offset = pageOffset;
       pages < int32_t(kSwapRun) && offset < end && offset < FSwapSize && !IsResident(offset);
       offset += PageSize) {
    ++pages;
  }
  return pages;
}

int32_t TAbVirtualMemoryStream::ReadRun(int64_t pageOffset, int32_t pages, int32_t skip,
                                        uint8_t* out, int32_t count) {
  // A run of pages that all wait in the swap file comes in with one read;
  // they then take their places one after the other exactly as page by page
  // (the same victims, in the same order; a victim's own write gathers its
  // run in the other buffer).
  const int32_t bytes = pages * PageSize;
  FReadBuffer.resize(kSwapRun * PageSize);
  SeekSwap(pageOffset);
  FSwapPosition = -1;
  if (FSwapFile->Read(FReadBuffer.data(), bytes) != bytes)
    throw EAbVMSReadFail(bytes, FSwapFileName);
  FSwapPosition = pageOffset + bytes;
  int32_t done = 0;
  for (int32_t i = 0; i < pages && done < count; ++i) {
    std::unique_ptr<TAbVMPage> page = FreePage();
    page->Offset = pageOffset + int64_t(i) * PageSize;
    page->LastUse = NextUse();
    page->Dirty = false;
    std::memcpy(page->Data.data(), FReadBuffer.data() + size_t(i) * PageSize, PageSize);
    const TAbVMPage& placed = Place(std::move(page));
    const int32_t from = i == 0 ? skip : 0;
    const int32_t n = std::min(count - done, PageSize - from);
    std::memcpy(out + done, placed.Data.data() + from, size_t(n));
    done += n;
  }
  return done;
}

std::unique_ptr<TAbVirtualMemoryStream::TAbVMPage> TAbVirtualMemoryStream::TakeVictim() {
  const auto victim =
      std::min_element(FPageList.begin(), FPageList.begin() + MaxPages,
                       [](const std::unique_ptr<TAbVMPage>& a,
                          const std::unique_ptr<TAbVMPage>& b) { return a->LastUse < b->LastUse; });
  if ((*victim)->Dirty) SwapOut(size_t(victim - FPageList.begin()));
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
  FSwapPosition = -1;
  if (FSwapFile->Read(page.Data.data(), PageSize) != PageSize) {
    throw EAbVMSReadFail(PageSize, FSwapFileName);
  }
  FSwapPosition = page.Offset + PageSize;
}

void TAbVirtualMemoryStream::SwapOut(size_t index) {
  if (!FSwapFile) OpenSwapFile();
  // When the victim goes where the last transfer ended, the stream is being
  // written from start to end: the dirty pages that follow it go with it, in
  // one write, and stay in memory, clean. The swap file then grows in runs of
  // pages instead of page by page.
  const TAbVMPage& first = *FPageList[index];
  const size_t limit = first.Offset > 0 && first.Offset == FSwapPosition ? kSwapRun : 1;
  size_t end = index + 1;
  while (end < FPageList.size() && end - index < limit && FPageList[end]->Dirty &&
         FPageList[end]->Offset == FPageList[end - 1]->Offset + PageSize) {
    ++end;
  }
  const int32_t count = int32_t(end - index) * PageSize;
  const uint8_t* bytes = first.Data.data();
  if (end - index > 1) {
    FSwapBuffer.resize(kSwapRun * PageSize);
    for (size_t i = index; i < end; ++i) {
      std::memcpy(FSwapBuffer.data() + (i - index) * PageSize, FPageList[i]->Data.data(), PageSize);
    }
    bytes = FSwapBuffer.data();
  }
  SeekSwap(first.Offset);
  FSwapPosition = -1;
  if (FSwapFile->Write(bytes, count) != count) throw EAbVMSWriteFail(count, FSwapFileName);
  FSwapPosition = first.Offset + count;
  FSwapSize = std::max(FSwapSize, FSwapPosition);
  for (size_t i = index; i < end; ++i) FPageList[i]->Dirty = false;
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
  FSwapPosition = 0;
}

void TAbVirtualMemoryStream::SeekSwap(int64_t offset) {
  // Pages mostly leave and come back in order: most transfers start where
  // the last one ended.
  if (offset == FSwapPosition) return;
  FSwapPosition = -1;
  if (FSwapFile->Seek(offset, soFromBeginning) != offset) throw EAbVMSSeekFail(FSwapFileName);
  FSwapPosition = offset;
}

uint32_t TAbVirtualMemoryStream::NextUse() {
  if (FUseCounter >= kMaxUse) {
    FUseCounter = 0;
    for (auto& page : FPageList) page->LastUse = 0;
  }
  return ++FUseCounter;
}
