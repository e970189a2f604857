#include "archive/AbSpanSt.h"

#include <algorithm>
#include <limits>

#include "archive/AbExcept.h"
#include "archive/AbUtils.h"
#include "platform/FileSystem.h"
#include "platform/SysUtils.h"

namespace {

constexpr int32_t kUnlimited = 2147483647;

int32_t ClampedToInt32(int64_t value) {
  return int32_t(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

// The name without the extension of its last component.
std::string WithoutExtension(const std::string& name) {
  const size_t dot = name.find_last_of(".\\:");
  return dot != std::string::npos && name[dot] == '.' ? name.substr(0, dot) : name;
}

}  // namespace

TAbSpanStream::TAbSpanStream(const std::string& fileName, int32_t threshold, TAbMediaKind mediaKind,
                             uint16_t fileMode)
    : FMediaKind(mediaKind), FThreshold(threshold), FVolumeName(fileName), FFileMode(fileMode) {
  if (AbPathKind(fileName) != pkAbsolute) throw EAbException("Full Path Required");
  FDirection = fileMode == fmCreate || (fileMode & 1) != 0 ? sdWriting : sdReading;
  if (!CheckMedia(fileName) && FDirection != sdReading) throw EAbException("Invalid Media");
  FInner = std::make_unique<TFileStream>(fileName, fileMode);
}

TAbSpanStream::~TAbSpanStream() = default;

bool TAbSpanStream::CheckMedia(const std::string& name) {
  FFreeAtOpen = AbFreeSpaceOf(name);
  return FFreeAtOpen != -1 || !FileExists(name);
}

int64_t TAbSpanStream::BytesAvailable() {
  if (FMediaKind == mkFixed) {
    if (FThreshold == 0) return AbFreeSpaceOf(FVolumeName);
    return FThreshold - FVolumeBytes;
  }
  const int64_t limit = FThreshold == 0 ? kUnlimited : FThreshold;
  return std::min<int64_t>(limit, AbFreeSpaceOf(FVolumeName));
}

int32_t TAbSpanStream::Write(const void* buffer, int32_t count) {
  if (FDirection == sdReading || !FInner || count <= 0) return 0;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  int32_t written = LimitedVolumes() ? WriteSpanned(bytes, count) : FInner->Write(bytes, count);
  FTotalWritten += written;
  if (OnProgress) {
    bool abort = false;
    OnProgress(AbPercentOf(ClampedToInt32(FTotalWritten), ClampedToInt32(FTotalSize)), abort);
    if (abort) written = 0;
  }
  return written;
}

int32_t TAbSpanStream::WriteSpanned(const uint8_t* bytes, int32_t count) {
  int32_t written = 0;
  bool justOpened = false;
  for (;;) {
    const int64_t available = BytesAvailable();
    if (available > 0) {
      const int32_t part = int32_t(std::min<int64_t>(available, count - written));
      const int32_t n = FInner->Write(bytes + written, part);
      FVolumeBytes += n;
      written += n;
      if (n < part || written == count) break;
    } else if (justOpened) {
      // A fresh volume that takes nothing (a full disk) would make this loop
      // forever: the short count lets the caller's buffered write fail instead.
      break;
    }
    NextVolume();
    justOpened = true;
  }
  return written;
}

int32_t TAbSpanStream::Read(void* buffer, int32_t count) {
  if (!FInner || count <= 0) return 0;
  // Only a read that starts at the end of a volume moves on; one that reaches
  // the end stops there, so the end of the set is never asked for early.
  if (!FDirectMode && FInner->Position() >= FInner->Size()) {
    if (!OnImageRequest) return 0;
    OpenReadVolume(FVolumeNumber + 1, true);
  }
  return FInner->Read(buffer, count);
}

void TAbSpanStream::OpenReadVolume(int32_t number, bool missingIsNotFound) {
  FInner.reset();
  FVolumeNumber = number;
  std::string name = FVolumeName;
  bool abort = false;
  if (OnImageRequest) {
    OnImageRequest(*this, number + (FMediaKind == mkRemovable ? 1 : 0), name, abort);
  } else {
    name = ProposedVolumeName(number);
  }
  FCancelled = abort;
  FSwitchedOnRead = true;
  if (FCancelled) throw EAbUserAbort();
  if (!CheckMedia(name) || !FileExists(name)) {
    if (missingIsNotFound) throw EAbFileNotFound();
    throw EAbException("Cannot open spanned file: " + name);
  }
  FVolumeName = name;
  FInner = std::make_unique<TFileStream>(name, FFileMode);
}

int64_t TAbSpanStream::Seek(int64_t offset, int origin) {
  if (!FInner) return 0;
  const int64_t current = FInner->Position();
  if (FDirection == sdWriting) return current;

  int64_t target = current;
  if (origin == soFromBeginning) target = offset;
  if (origin == soFromCurrent) target = current + offset;
  if (origin == soFromEnd) target = FInner->Size() + offset;
  if (FDirectMode) target = std::clamp<int64_t>(target, 0, FInner->Size());

  if (target < 0 || target > FInner->Size()) {
    if (!OnImageRequest) return current;
    // Crossing into the neighbouring volumes; positions are within a volume.
    while (target > FInner->Size()) {
      target -= FInner->Size();
      OpenReadVolume(FVolumeNumber + 1, true);
    }
    while (target < 0 && FVolumeNumber > 0) {
      OpenReadVolume(FVolumeNumber - 1, true);
      target += FInner->Size();
    }
    target = std::max<int64_t>(target, 0);
  }
  return FInner->Seek(target, soFromBeginning);
}

int64_t TAbSpanStream::Size() {
  return FInner ? FInner->Size() : 0;
}

void TAbSpanStream::SetSize(int64_t newSize) {
  if (!FInner) return;
  if (newSize <= 0) {
    FInner->SetSize(0);
    return;
  }
  const int32_t free = AbFreeSpaceOf(FVolumeName);
  // Unknown free space sets no limit rather than cutting a byte off.
  const int64_t limit = free < 0 ? newSize : FInner->Size() + free;
  FInner->SetSize(std::min(newSize, limit));
}

std::string TAbSpanStream::ProposedVolumeName(int32_t number) const {
  if (FMediaKind == mkRemovable) return FVolumeName;
  if (number > 99) return std::string();
  return WithoutExtension(FVolumeName) + Format(".z%.2d", int(number));
}

void TAbSpanStream::NextVolume() {
  if (FDirection == sdReading) {
    OpenReadVolume(FVolumeNumber + 1, false);
    return;
  }
  FInner.reset();
  const int32_t number = FVolumeNumber + 1;
  std::string name;
  for (;;) {
    name = ProposedVolumeName(number);
    bool abort = false;
    if (OnImageRequest) OnImageRequest(*this, number, name, abort);
    FCancelled = abort;
    if (FCancelled) throw EAbUserAbort();
    if (CheckMedia(name)) break;
    if (!OnImageRequest) throw EAbException("Invalid Media");
  }
  {
    TFileStream created(name, fmCreate);  // a volume always starts empty
  }
  FInner = std::make_unique<TFileStream>(name, FFileMode);
  FVolumeName = name;
  FVolumeBytes = 0;
  FVolumeNumber = number;
}
