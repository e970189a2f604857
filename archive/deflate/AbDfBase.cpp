#include "archive/deflate/AbDfBase.h"

#include <cctype>
#include <cstring>

#include "archive/AbUtils.h"

namespace {

constexpr uint32_t kLevelKinds = dfoStored | dfoStatic | dfoDynamic | dfoLazy;

struct TLevel {
  char Letter;
  uint32_t Clear;  // option bits cleared before the Set bits are added
  uint32_t Set;
  int32_t GoodEnoughLength;
  int32_t ChainLimit;
  int32_t LazyLimit;
};

constexpr TLevel kLevels[] = {
    {'0', kLevelKinds, dfoStored, 8, 32, 16},
    {'2', 0, kLevelKinds, 8, 32, 16},
    {'f', 0, dfoStored | dfoStatic | dfoDynamic, 4, 32, 6},
    {'n', 0, kLevelKinds, 16, 32, 24},
    {'s', 0, dfoStored | dfoStatic | dfoDynamic, 4, 4, 4},
    {'x', 0, kLevelKinds, 64, 4096, 258},
};

// Largest byte count whose sums cannot overflow 32 bits before reducing is
// 5552; reducing every 4,096 bytes stays well inside it.
constexpr int32_t kAdlerChunk = 4096;
constexpr uint32_t kAdlerBase = 65521;

constexpr int32_t kPageSize = 8192;

}  // namespace

// ------------------------------------------------------------ options

void TAbDeflateHelper::Assign(const TAbDeflateHelper& aSource) {
  FGoodEnoughLength = aSource.FGoodEnoughLength;
  FChainLimit = aSource.FChainLimit;
  FLazyLimit = aSource.FLazyLimit;
  FOptions = aSource.FOptions;
  FLevelLetter = aSource.FLevelLetter;
  HeaderCheck = aSource.HeaderCheck;
  LogFileName = aSource.LogFileName;
  ProgressHook = aSource.ProgressHook;
  OutputLimit = aSource.OutputLimit;
  Password = aSource.Password;
  SourceSize = aSource.SourceSize;
  HistorySize = aSource.HistorySize;
}

void TAbDeflateHelper::SelectLevel(char aLevel) {
  const char letter = char(std::tolower(static_cast<unsigned char>(aLevel)));
  if (letter == FLevelLetter) return;
  for (const TLevel& level : kLevels) {
    if (level.Letter != letter) continue;
    FOptions = (FOptions & ~level.Clear) | level.Set;
    FGoodEnoughLength = level.GoodEnoughLength;
    FChainLimit = level.ChainLimit;
    FLazyLimit = level.LazyLimit;
    FLevelLetter = letter;
    return;
  }
}

void TAbDeflateHelper::SetLimit(int32_t& aField, int32_t aValue) {
  if (aValue == aField) return;
  if (aValue != -1 && aValue < 4) aValue = 4;
  aField = aValue;
  FLevelLetter = '?';
}

void TAbDeflateHelper::SetGoodEnoughLength(int32_t aValue) {
  SetLimit(FGoodEnoughLength, aValue);
}
void TAbDeflateHelper::SetChainLimit(int32_t aValue) {
  SetLimit(FChainLimit, aValue);
}
void TAbDeflateHelper::SetLazyLimit(int32_t aValue) {
  SetLimit(FLazyLimit, aValue);
}

void TAbDeflateHelper::SetOptions(uint32_t aValue) {
  if (aValue == FOptions) return;
  FOptions = aValue;
  FLevelLetter = '?';
}

// ------------------------------------------------------------ checksums

uint32_t UpdateCrc32(uint32_t aCurCrc, const void* aBuffer, int32_t aCount) {
  return aCount > 0 ? AbCrcUpdate(aCurCrc, aBuffer, size_t(aCount)) : aCurCrc;
}

uint32_t UpdateAdler32(uint32_t aCurAdler, const void* aBuffer, int32_t aCount) {
  const auto* bytes = static_cast<const uint8_t*>(aBuffer);
  uint32_t low = aCurAdler & 0xFFFF;
  uint32_t high = aCurAdler >> 16;
  while (aCount > 0) {
    const int32_t chunk = aCount < kAdlerChunk ? aCount : kAdlerChunk;
    for (int32_t i = 0; i < chunk; ++i) {
      low += bytes[i];
      high += low;
    }
    low %= kAdlerBase;
    high %= kAdlerBase;
    bytes += chunk;
    aCount -= chunk;
  }
  return (high << 16) | low;
}

// ------------------------------------------------------------ logger

TAbLogger::TAbLogger(const std::string& aFileName) {
  ZASSERT(!aFileName.empty(), "TAbLogger.Create: a filename must be provided for the logger");
  FStream = std::make_unique<TFileStream>(aFileName, fmCreate);
}

TAbLogger::~TAbLogger() {
  // A diagnostic log must not turn the release of a coder into a failure.
  try {
    FlushBuffer();
  } catch (const Exception&) {
  }
}

void TAbLogger::WriteLine(const std::string& aText) {
  Write(aText.data(), int32_t(aText.size()));
  switch (LineDelimiter) {
    case TAbLineDelimiter::ldCRLF:
      Write("\r\n", 2);
      break;
    case TAbLineDelimiter::ldLF:
      Write("\n", 1);
      break;
    case TAbLineDelimiter::ldNone:
      break;
  }
}

int32_t TAbLogger::Read(void*, int32_t) {
  ZASSERT(false, "TAbLogger.Read: loggers are write-only, no reading allowed");
  return 0;
}

int32_t TAbLogger::Write(const void* aBuffer, int32_t aCount) {
  const auto* bytes = static_cast<const uint8_t*>(aBuffer);
  int32_t left = aCount;
  while (left > 0) {
    if (FBufferPosition == int32_t(FBuffer.size())) FlushBuffer();
    const int32_t room = int32_t(FBuffer.size()) - FBufferPosition;
    const int32_t n = left < room ? left : room;
    std::memcpy(FBuffer.data() + FBufferPosition, bytes, size_t(n));
    FBufferPosition += n;
    bytes += n;
    left -= n;
  }
  return aCount;
}

int64_t TAbLogger::Seek(int64_t aOffset, int aOrigin) {
  ZASSERT(aOffset == 0 && (aOrigin == soFromCurrent || aOrigin == soFromEnd),
          "TAbLogger.Seek: loggers are write-only, no seeking allowed");
  return FStream->Position() + FBufferPosition;
}

void TAbLogger::FlushBuffer() {
  while (FBufferPosition > 0) {
    const int32_t written = FStream->Write(FBuffer.data(), FBufferPosition);
    // A file that takes nothing would keep the buffer full for ever.
    if (written <= 0) throw EWriteError();
    std::memmove(FBuffer.data(), FBuffer.data() + written, size_t(FBufferPosition - written));
    FBufferPosition -= written;
  }
}

// ------------------------------------------------------------ node allocator

TAbNodeManager::TAbNodeManager(int32_t aNodeSize) {
  constexpr int32_t kAlign = int32_t(sizeof(void*));
  if (aNodeSize < kAlign) aNodeSize = kAlign;
  FNodeSize = (aNodeSize + kAlign - 1) / kAlign * kAlign;
  FNodesPerPage = kPageSize / FNodeSize;
  if (FNodesPerPage < 2) {
    FNodesPerPage = 1;
    FPageSize = FNodeSize;
  } else {
    FPageSize = kPageSize;
  }
}

void* TAbNodeManager::AllocNode() {
  if (FFreeList == nullptr) {
    FPages.push_back(std::make_unique<uint8_t[]>(size_t(FPageSize)));
    uint8_t* page = FPages.back().get();
    // Linking in address order leaves the page's last node at the head.
    for (int32_t i = 0; i < FNodesPerPage; ++i) {
      auto* node = reinterpret_cast<TFreeNode*>(page + i * FNodeSize);
      node->Next = FFreeList;
      FFreeList = node;
    }
  }
  TFreeNode* node = FFreeList;
  FFreeList = node->Next;
  return node;
}
