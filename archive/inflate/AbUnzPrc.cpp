#include "archive/inflate/AbUnzPrc.h"

#include <algorithm>
#include <climits>

#include "archive/AbBitBkt.h"
#include "archive/AbExcept.h"
#include "archive/AbSpanSt.h"
#include "archive/AbUtils.h"
#include "archive/deflate/AbDfBase.h"
#include "archive/inflate/AbDfCryS.h"
#include "archive/inflate/AbDfDec.h"
#include "archive/inflate/AbSWStm.h"
#include "platform/FileSystem.h"
#include "platform/SysUtils.h"

// The decoders read the compressed data through a 4 KiB input buffer, bit by
// bit, least significant bit first, and collect their output in a 32 KiB
// buffer. Reduce and Implode copy earlier output: they flush, seek the
// sliding-window writer back, read one byte and seek forward again, so the
// history lives in one place only (the window stream).
//
// Every count, index and length taken from the data is checked where it is
// read; a value that cannot come from a sound encoder makes the item corrupt.

namespace {

constexpr int32_t kInBufSize = 4096;
constexpr int32_t kOutBufSize = 32768;

[[noreturn]] void Corrupt(const char* cause) {
  throw EAbInflateError(cause);
}

// AbPercentOf takes 32-bit counts; items may hold up to 4 GiB - 1 bytes.
uint8_t PercentOf(int64_t done, int64_t total) {
  while (total > INT32_MAX) {
    done >>= 1;
    total >>= 1;
  }
  return AbPercentOf(int32_t(done), int32_t(total));
}

// ------------------------------------------------------------ Shrink tables

constexpr int kShrinkTableSize = 8193;
constexpr int kShrinkCodeLimit = 8192;  // codes are at most 13 bits
constexpr int kShrinkMaxCodeSize = 13;
constexpr uint16_t kFree = 0xFFFF;
constexpr uint16_t kMark = 0x8000;
constexpr uint32_t kShrinkControl = 256;
constexpr uint32_t kFirstFreeCode = 257;

struct TShrinkTables {
  std::vector<uint16_t> Prefix = std::vector<uint16_t>(kShrinkTableSize, kFree);
  std::vector<uint8_t> Suffix = std::vector<uint8_t>(kShrinkTableSize, 0);
  std::vector<uint8_t> Stack = std::vector<uint8_t>(kShrinkTableSize, 0);
  int StackTop = 0;

  void Push(uint8_t b) {
    if (StackTop >= kShrinkTableSize) Corrupt("Shrink: string longer than the code table");
    Stack[StackTop++] = b;
  }
  uint32_t FirstFreeFrom(uint32_t code) const {
    while (code < kShrinkCodeLimit && Prefix[code] != kFree) ++code;
    return code;
  }
};

// Frees every code of 257 .. nextFree-1 that is not the prefix of another.
// Free codes are skipped: their prefix field holds no code.
void PartialClear(TShrinkTables& t, uint32_t& nextFree) {
  for (uint32_t c = kFirstFreeCode; c < nextFree; ++c)
    if (t.Prefix[c] != kFree) t.Prefix[c] |= kMark;
  for (uint32_t c = kFirstFreeCode; c < nextFree; ++c) {
    if (t.Prefix[c] == kFree) continue;
    const uint32_t parent = t.Prefix[c] & ~kMark & 0xFFFF;
    // Corrupt data may name a free code as prefix: unmarking it would turn
    // kFree into a code far outside the table.
    if (parent >= kFirstFreeCode && t.Prefix[parent] != kFree) t.Prefix[parent] &= uint16_t(~kMark);
  }
  for (uint32_t c = kFirstFreeCode; c < nextFree; ++c)
    if (t.Prefix[c] != kFree && (t.Prefix[c] & kMark)) t.Prefix[c] = kFree;
  nextFree = t.FirstFreeFrom(kFirstFreeCode);
}

// ------------------------------------------------------------ Reduce

constexpr int kFollowerRow = 33;
constexpr int kMaxFollowers = 32;
constexpr uint8_t kReduceDLE = 144;

// Bits of a follower index for a set of `count` entries (at least 1).
int FollowerBits(int count) {
  int bits = 1;
  while ((1 << bits) < count) ++bits;
  return bits;
}

// ------------------------------------------------------------ Implode

constexpr int kMaxSfLength = 16;

}  // namespace

// ------------------------------------------------------------ TAbUnzipHelper

TAbUnzipHelper::TAbUnzipHelper(TStream& aArchiveStream, TAbZDecoder* aDecoder,
                               TStream& aDestination)
    : FDestination(aDestination),
      FDecoder(aDecoder),
      FOutBuf(kOutBufSize),
      FArchiveStream(&aArchiveStream) {
  CompressedSize = aArchiveStream.Size();
}

TAbUnzipHelper::~TAbUnzipHelper() = default;

void TAbUnzipHelper::ReportProgress(uint8_t Percentage, bool& Abort) {
  if (!ProgressCallback) return;
  FCurrentProgress = Percentage;
  ProgressCallback(Percentage, Abort);
}

uint32_t TAbUnzipHelper::DecodeItem() {
  FBitsLeft = 0;
  FCurByte = 0;
  FInCount = 0;
  FInPos = 0;
  FBytesWritten = 0;
  FOutCount = 0;
  FInEof = false;
  FCRC = 0xFFFFFFFF;
  std::unique_ptr<TabSlidingWindowStream> window;
  if (CompressionMethod >= 2 && CompressionMethod <= 6)
    window = std::make_unique<TabSlidingWindowStream>(FDestination);
  FOutWriter = window ? window.get() : &FDestination;
  FInLeft = CompressedSize;
  try {
    if (FDecoder) {
      FDecoder->CheckPassword();
      FInLeft -= 12;
    }
    switch (CompressionMethod) {
      case 1:
        DecodeShrunk();
        break;
      case 2:
      case 3:
      case 4:
      case 5:
        DecodeReduced();
        break;
      case 6:
        DecodeImploded();
        break;
      default:
        throw EAbZipInvalidMethod();
    }
    if (DecodedPosition() < UncompressedSize) Corrupt("the data ends before the item does");
    FlushOutput();
    if (window) window->Flush();
  } catch (...) {
    // What was decoded so far still goes to the destination; the first
    // failure is the one reported.
    try {
      FlushOutput();
      if (window) window->Flush();
    } catch (...) {
    }
    throw;
  }
  FOutWriter = nullptr;
  return ~FCRC;
}

// ------------------------------------------------------------ input

void TAbUnzipHelper::FillInput() {
  if (FInLeft <= 0) {
    FInEof = true;
    FInPos = FInCount;
    FCurByte = 0;
    return;
  }
  if (Spanned && FArchiveStream->Position() >= FArchiveStream->Size()) {
    ++CurrentDisk;
    if (!OnOpenVolume) throw EAbZipBadSpanStream();
    FArchiveStream = &OnOpenVolume(CurrentDisk);
  }
  const int64_t available = FArchiveStream->Size() - FArchiveStream->Position();
  const int32_t n =
      int32_t(std::max<int64_t>(0, std::min<int64_t>({FInLeft, kInBufSize, available})));
  const int32_t got = n > 0 ? FArchiveStream->Read(FInBuf.data(), n) : 0;
  if (got <= 0) throw EAbReadError();
  if (FDecoder) FDecoder->DecryptBuffer(FInBuf.data(), got);
  FInLeft -= got;
  FInCount = got;
  FCurByte = FInBuf[0];
  FInPos = 1;
}

uint8_t TAbUnzipHelper::NextInputByte() {
  if (FInPos < FInCount) return FInBuf[FInPos++];
  FillInput();
  return FCurByte;
}

uint32_t TAbUnzipHelper::ReadCodeBits(int count) {
  uint32_t result = 0;
  int got = 0;
  while (got < count) {
    if (FBitsLeft == 0) {
      FCurByte = NextInputByte();
      FBitsLeft = 8;
    }
    const int take = std::min(count - got, int(FBitsLeft));
    result |= (uint32_t(FCurByte) & ((1u << take) - 1)) << got;
    FCurByte = uint8_t(uint32_t(FCurByte) >> take);
    FBitsLeft = uint8_t(FBitsLeft - take);
    got += take;
  }
  return result;
}

// ------------------------------------------------------------ output

void TAbUnzipHelper::PutByte(uint8_t b) {
  if (DecodedPosition() >= UncompressedSize) Corrupt("the data runs past the item's size");
  FOutBuf[size_t(FOutCount++)] = b;
  if (FOutCount == kOutBufSize || DecodedPosition() == UncompressedSize) FlushOutput();
}

void TAbUnzipHelper::FlushOutput() {
  if (FOutCount > 0) {
    FOutWriter->WriteBuffer(FOutBuf.data(), FOutCount);
    FBytesWritten += FOutCount;
    AbCrcBuffer(FCRC, FOutBuf.data(), uint16_t(FOutCount));
    FOutCount = 0;
  }
  bool abort = false;
  const uint8_t percentage = PercentOf(FBytesWritten, UncompressedSize);
  if (percentage != FCurrentProgress) ReportProgress(percentage, abort);
  if (abort) throw EAbUserAbort();
}

// Copies `length` bytes from `distance` bytes back, one at a time so that a
// copy may overlap what it produces. Places before the start of the output
// read as zeros, as PKZIP's own decoders do.
void TAbUnzipHelper::CopyBack(int64_t distance, int32_t length) {
  for (int32_t k = 0; k < length; ++k) {
    FlushOutput();
    const int64_t here = FBytesWritten;
    const int64_t place = here - distance;
    uint8_t b = 0;
    if (place >= 0) {
      FOutWriter->Seek(place, soFromBeginning);
      FOutWriter->ReadBuffer(&b, 1);
      FOutWriter->Seek(here, soFromBeginning);
    }
    PutByte(b);
  }
}

// ------------------------------------------------------------ Shrink

void TAbUnzipHelper::DecodeShrunk() {
  TShrinkTables t;
  for (int c = 255; c >= 0; --c) {
    t.Prefix[c] = 0;
    t.Suffix[c] = uint8_t(c);
  }
  int codeSize = 9;
  uint32_t nextFree = kFirstFreeCode;

  uint32_t old = ReadCodeBits(codeSize);
  if (FInEof) return;
  if (old > 255) Corrupt("Shrink: the first code is not a byte");
  uint8_t last = uint8_t(old);
  PutByte(last);

  while (true) {
    uint32_t code = ReadCodeBits(codeSize);
    while (code == kShrinkControl && !FInEof) {
      const uint32_t sub = ReadCodeBits(codeSize);
      if (sub == 1 && !FInEof) {
        if (++codeSize > kShrinkMaxCodeSize) Corrupt("Shrink: code size above 13 bits");
      } else if (sub == 2 && !FInEof) {
        PartialClear(t, nextFree);
      }
      code = ReadCodeBits(codeSize);
    }
    if (FInEof) return;

    const uint32_t newCode = code;
    t.StackTop = 0;
    if (t.Prefix[code] == kFree) {  // the code being defined: old string + its first byte
      t.Push(last);
      code = old;
    }
    while (code >= kFirstFreeCode) {
      if (t.Prefix[code] == kFree) {
        t.Push(last);
        code = old;
      } else {
        t.Push(t.Suffix[code]);
        code = t.Prefix[code];
      }
    }
    last = t.Suffix[code];
    PutByte(last);
    while (t.StackTop > 0) PutByte(t.Stack[--t.StackTop]);

    if (nextFree < kShrinkCodeLimit) {
      t.Prefix[nextFree] = uint16_t(old);
      t.Suffix[nextFree] = last;
      nextFree = t.FirstFreeFrom(nextFree + 1);
    }
    old = newCode;
  }
}

// ------------------------------------------------------------ Reduce

void TAbUnzipHelper::DecodeReduced() {
  const int factor = CompressionMethod - 1;
  std::vector<std::array<uint8_t, kFollowerRow>> followers(256);
  std::array<uint8_t, 256> counts{};
  for (int c = 255; c >= 0; --c) {
    const uint32_t n = ReadCodeBits(6);
    if (FInEof) Corrupt("Reduce: the follower sets are cut short");
    if (n > kMaxFollowers) Corrupt("Reduce: a follower set holds more than 32 bytes");
    counts[c] = uint8_t(n);
    for (uint32_t j = 0; j < n; ++j) followers[c][j] = uint8_t(ReadCodeBits(8));
  }
  if (FInEof) Corrupt("Reduce: the follower sets are cut short");

  const uint32_t mask = 0xFFu >> factor;
  int state = 0;
  uint8_t last = 0;
  uint32_t v = 0;
  uint32_t len = 0;
  while (!FInEof && DecodedPosition() < UncompressedSize) {
    uint32_t c;
    const int count = counts[last];
    if (count == 0 || ReadCodeBits(1) == 1) {
      c = ReadCodeBits(8);
    } else {
      const uint32_t index = ReadCodeBits(FollowerBits(count));
      if (FInEof) break;
      if (index >= uint32_t(count)) Corrupt("Reduce: follower index beyond the set");
      c = followers[last][index];
    }
    last = uint8_t(c);
    if (FInEof) break;

    switch (state) {
      case 0:
        if (c != kReduceDLE)
          PutByte(uint8_t(c));
        else
          state = 1;
        break;
      case 1:
        if (c == 0) {
          PutByte(kReduceDLE);
          state = 0;
        } else {
          v = c;
          len = v & mask;
          state = len == mask ? 2 : 3;
        }
        break;
      case 2:
        len += c;
        state = 3;
        break;
      default: {
        const uint32_t high = (v >> (8 - factor)) & ((1u << factor) - 1);
        CopyBack(int64_t(high) * 256 + c + 1, int32_t(len + 3));
        state = 0;
        break;
      }
    }
  }
}

// ------------------------------------------------------------ Implode

void TAbUnzipHelper::DecodeImploded() {
  const int lowDistanceBits = DictionarySize == 2 ? 7 : 6;
  const bool literalTree = ShannonFanoTreeCount == 3;
  const int32_t minimumMatch = literalTree ? 3 : 2;

  TAbSfTree literals;
  TAbSfTree lengths;
  TAbSfTree distances;
  if (literalTree) BuildTree(literals, 256);
  BuildTree(lengths, 64);
  BuildTree(distances, 64);

  while (!FInEof && DecodedPosition() < UncompressedSize) {
    if (ReadCodeBits(1) == 1) {
      const uint8_t literal = literalTree ? DecodeTree(literals) : uint8_t(ReadCodeBits(8));
      if (FInEof) break;
      PutByte(literal);
    } else {
      uint32_t distance = ReadCodeBits(lowDistanceBits);
      distance |= uint32_t(DecodeTree(distances)) << lowDistanceBits;
      int32_t length = DecodeTree(lengths);
      if (length == 63) length += int32_t(ReadCodeBits(8));
      if (FInEof) break;
      CopyBack(int64_t(distance) + 1, length + minimumMatch);
    }
  }
}

void TAbUnzipHelper::BuildTree(TAbSfTree& tree, int16_t count) {
  tree.Count = count;
  tree.Entries.assign(size_t(count), TAbSfEntry());
  ReadTreeLengths(tree);
  SortTree(tree);
  AssignCodes(tree);
  for (TAbSfEntry& e : tree.Entries) {
    uint16_t reversed = 0;
    for (int bit = 0; bit < 16; ++bit)
      if (e.Code & (1u << bit)) reversed = uint16_t(reversed | (1u << (15 - bit)));
    e.Code = reversed;
  }
}

// The lengths come run-length coded: one byte per run, low nibble the bit
// length - 1, high nibble the run - 1. The runs must cover the tree exactly
// and the lengths must make a complete prefix code, or decoding could find
// no symbol (or two) for a bit string.
void TAbUnzipHelper::ReadTreeLengths(TAbSfTree& tree) {
  const uint32_t runs = ReadCodeBits(8) + 1;
  int32_t i = 0;
  tree.MaxLength = 0;
  for (uint32_t r = 0; r < runs; ++r) {
    const uint32_t b = ReadCodeBits(8);
    const uint8_t bitLength = uint8_t((b & 15) + 1);
    const int32_t repeat = int32_t(b >> 4) + 1;
    if (i + repeat > tree.Count) Corrupt("Implode: tree lengths name more entries than the tree");
    for (int32_t k = 0; k < repeat; ++k, ++i) {
      tree.Entries[size_t(i)].Value = uint8_t(i);
      tree.Entries[size_t(i)].BitLength = bitLength;
    }
    tree.MaxLength = std::max<int16_t>(tree.MaxLength, bitLength);
  }
  if (FInEof) Corrupt("Implode: the trees are cut short");
  if (i != tree.Count) Corrupt("Implode: tree lengths leave entries without a code");
  uint32_t kraft = 0;  // in units of 2^-16
  for (const TAbSfEntry& e : tree.Entries) kraft += 1u << (kMaxSfLength - e.BitLength);
  if (kraft != 1u << kMaxSfLength) Corrupt("Implode: tree lengths are not a complete prefix code");
}

void TAbUnzipHelper::SortTree(TAbSfTree& tree) {
  std::sort(tree.Entries.begin(), tree.Entries.end(), [](const TAbSfEntry& a, const TAbSfEntry& b) {
    return a.BitLength != b.BitLength ? a.BitLength < b.BitLength : a.Value < b.Value;
  });
}

void TAbUnzipHelper::AssignCodes(TAbSfTree& tree) {
  uint16_t code = 0;
  uint32_t step = 0;
  uint8_t lastLength = 0;
  for (auto e = tree.Entries.rbegin(); e != tree.Entries.rend(); ++e) {
    code = uint16_t(code + step);
    if (e->BitLength != lastLength) {
      lastLength = e->BitLength;
      step = 1u << (kMaxSfLength - lastLength);
    }
    e->Code = code;
  }
}

// Entries are sorted by bit length, so the search moves forward only.
uint8_t TAbUnzipHelper::DecodeTree(const TAbSfTree& tree) {
  uint32_t code = 0;
  size_t i = 0;
  for (int n = 1; n <= kMaxSfLength; ++n) {
    code |= ReadCodeBits(1) << (n - 1);
    while (i < tree.Entries.size() && tree.Entries[i].BitLength < n) ++i;
    for (size_t j = i; j < tree.Entries.size() && tree.Entries[j].BitLength == n; ++j)
      if (tree.Entries[j].Code == code) return tree.Entries[j].Value;
  }
  Corrupt("Implode: undecodable code");
}

// ====================================================== extracting one item
//
// The archive stream is shared by every item: each procedure seeks to the
// item's local header itself and leaves the stream after the last byte it
// consumed. Sizes from the headers are never trusted as buffer sizes: the
// stored copy reads at most the item's compressed bytes in 1 KiB pieces, and
// the decoders bound everything they read themselves.

namespace {

constexpr int32_t kStoredBufSize = 1024;
constexpr int kEncryptionHeaderSize = 12;
// Version 2.0: the highest the engine reads, except 2.1 for Deflate64 items,
// which the decoder handles and which writers mark with 2.1.
constexpr uint8_t kHighestVersion = 20;
constexpr uint8_t kDeflate64Version = 21;

TAbZipArchive& ZipArchiveOf(TAbArchive& Sender) {
  auto* zip = dynamic_cast<TAbZipArchive*>(&Sender);
  if (zip == nullptr) throw EInvalidCast();
  return *zip;
}

TAbZipItem& ZipItemOf(TAbArchiveItem& Item) {
  auto* zip = dynamic_cast<TAbZipItem*>(&Item);
  if (zip == nullptr) throw EInvalidCast();
  return *zip;
}

void CheckVersion(const TAbZipItem& item) {
  const uint8_t version = uint8_t(item.VersionNeededToExtract() & 0xFF);
  if (version <= kHighestVersion) return;
  if (version == kDeflate64Version && item.CompressionMethod() == 9) return;
  throw EAbZipVersion();
}

// Makes the volume of the item's first disk current in a spanned set.
void SwitchToItemVolume(TAbZipArchive& archive, const TAbZipItem& item, bool honourSwitchedOnRead) {
  if (!archive.IsSpannedSet() || item.DiskNumberStart() == archive.CurrentDisk) return;
  archive.CurrentDisk = item.DiskNumberStart();
  // The archive stream is a TAbSpanStream by its type, so the check for
  // other kinds of stream is the compiler's.
  if (honourSwitchedOnRead && archive.Stream().SwitchedOnRead()) return;
  archive.OpenVolume(archive.CurrentDisk);
}

TAbZipLocalFileHeader ReadLocalHeader(TAbZipArchive& archive, const TAbZipItem& item) {
  TAbZipLocalFileHeader header;
  archive.Stream().Seek(item.RelativeOffset(), soFromBeginning);
  if (archive.Stream().Position() != int64_t(item.RelativeOffset())) throw EAbZipInvalid();
  header.ReadFrom(archive.Stream());
  return header;
}

// done × 100 / total, rounded to the nearest whole number, halves to even.
uint8_t RoundedPercent(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  const int64_t scaled = done * 100;
  int64_t percent = scaled / total;
  const int64_t twice = (scaled % total) * 2;
  if (twice > total || (twice == total && percent % 2 == 1)) ++percent;
  return uint8_t(std::min<int64_t>(percent, 100));
}

void ReportItemProgress(TAbZipArchive& archive, uint8_t percent, bool& abort) {
  if (archive.ItemProgressCallback) archive.ItemProgressCallback(percent, abort);
}

// The decrypting source of an encrypted stored item, its header verified,
// after the password and its retries.
std::unique_ptr<TAbDfDecryptStream> OpenStoredDecrypter(TAbZipArchive& archive,
                                                        uint32_t checkValue) {
  int count = 0;
  bool abort = false;
  AbEnsurePassword(archive, count, abort);
  while (true) {
    auto decrypter =
        std::make_unique<TAbDfDecryptStream>(archive.Stream(), checkValue, archive.Password);
    if (decrypter->CheckHeader()) return decrypter;
    if (count >= archive.PasswordRetries) throw EAbZipInvalidPassword();
    AbAskPassword(archive, abort);
    if (abort) throw EAbUserAbort();
    ++count;
  }
}

// While the data of an item of a spanned set is read, the span stream goes
// on into the next volume by itself when a read starts at a volume's end, so
// data that runs over a volume's end arrives whole. Afterwards the stream
// reads within its volume again and the next item opens its own volume.
class TSpanReadScope {
 public:
  explicit TSpanReadScope(TAbZipArchive& archive)
      : FStream(archive.IsSpannedSet() ? &archive.Stream() : nullptr) {
    if (FStream != nullptr) FStream->SetDirectMode(false);
  }
  ~TSpanReadScope() {
    if (FStream == nullptr) return;
    FStream->SetDirectMode(true);
    FStream->SetSwitchedOnRead(false);
  }
  TSpanReadScope(const TSpanReadScope&) = delete;
  TSpanReadScope& operator=(const TSpanReadScope&) = delete;

 private:
  TAbSpanStream* FStream;
};

// Reads the local header, decodes the item into outStream and returns the
// CRC-32 of the output; the caller compares it with the item's.
uint32_t DecodeItemData(TAbZipArchive& archive, TAbZipItem& item, TStream& outStream) {
  CheckVersion(item);
  SwitchToItemVolume(archive, item, true);
  const TAbZipLocalFileHeader header = ReadLocalHeader(archive, item);
  const uint32_t checkValue = (header.GeneralPurposeBitFlag & AbZipDescriptorFlag) != 0
                                  ? uint32_t(header.LastModFileTime) << 16
                                  : item.CRC32();
  switch (header.CompressionMethod) {
    case 0: {
      TSpanReadScope scope(archive);
      return AbUnzipStored(archive, item, outStream, checkValue);
    }
    case 8:
    case 9: {
      TSpanReadScope scope(archive);
      return AbInflateItem(archive, item, outStream, checkValue);
    }
    default:
      // The legacy decoders open the next volume themselves (OnOpenVolume).
      return AbUnzipLegacy(archive, item, outStream, checkValue);
  }
}

// A CRC mismatch is an item failure: reported when someone listens, raised otherwise.
void ReportBadCrc(TAbZipArchive& archive, TAbZipItem& item) {
  if (!archive.OnProcessItemFailure) throw EAbZipBadCRC();
  archive.ReportItemFailure(item, ptExtract, ecCorvel, EAbZipBadCRC::Code);
}

std::vector<std::string> SplitComponents(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t slash = path.find('\\', start);
    parts.push_back(path.substr(start, slash - start));
    if (slash == std::string::npos) return parts;
    start = slash + 1;
  }
}

// Refuses a name that would leave the base directory (with eoRestorePath the
// whole name counts, else only its last component). `name` uses '\'.
void CheckSafeName(const std::string& name, bool restorePath) {
  const std::vector<std::string> parts = SplitComponents(name);
  const std::string& last = parts.back();
  if (!restorePath) {
    if (last == "." || last == ".." || last.find(':') != std::string::npos)
      throw EAbZipUnsafePath(name);
    return;
  }
  if (name.empty() || name[0] == '\\' || name.find(':') != std::string::npos)
    throw EAbZipUnsafePath(name);
  int depth = 0;
  for (const std::string& part : parts) {
    if (part == "..") {
      if (--depth < 0) throw EAbZipUnsafePath(name);
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
  }
  if (last == "." || last == "..") throw EAbZipUnsafePath(name);
}

// The folder part of a Windows path ("." for a bare name).
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\:");
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash + 1);
}

// The temporary file an item is written to before it replaces its target.
// Unless Commit is called, the file is closed and deleted with the object.
class TPendingFile {
 public:
  explicit TPendingFile(const std::string& target) : FTarget(target) {
    FName = GetTempFileName(FolderOf(target), "ABX");
    if (FName.empty()) throw EFCreateError(target, GetLastError());
    try {
      FStream = std::make_unique<TFileStream>(FName, fmOpenReadWrite | fmShareExclusive);
    } catch (...) {
      DeleteFile(FName);
      throw;
    }
  }
  ~TPendingFile() {
    FStream.reset();
    if (!FCommitted) DeleteFile(FName);
  }
  TPendingFile(const TPendingFile&) = delete;
  TPendingFile& operator=(const TPendingFile&) = delete;

  TFileStream& Stream() { return *FStream; }

  // Closes the file and moves it over the target in one step.
  void Commit() {
    FStream.reset();
    if (!MoveFileExA(FName, FTarget, MOVEFILE_REPLACE_EXISTING)) throw EInOutError(GetLastError());
    FCommitted = true;
  }

 private:
  std::string FTarget;
  std::string FName;
  std::unique_ptr<TFileStream> FStream;
  bool FCommitted = false;
};

// Writing over a read-only file or a folder is refused as creating it would be.
void CheckTargetWritable(const std::string& target) {
  const int32_t attributes = FileGetAttr(target);
  if (attributes != -1 && (attributes & (faReadOnly | faDirectory)) != 0)
    throw EFCreateError(target, ERROR_ACCESS_DENIED);
}

void WriteItemToFile(TAbZipArchive& archive, TAbZipItem& item, const std::string& target) {
  CheckTargetWritable(target);
  bool crcOk = false;
  {
    TPendingFile pending(target);
    crcOk = DecodeItemData(archive, item, pending.Stream()) == item.CRC32();
    if (crcOk) {
      FileSetDate(pending.Stream().Handle(),
                  AbMakeDosFileDate(item.LastModFileDate(), item.LastModFileTime()));
      pending.Commit();
      // The whole stored value; only what the platform knows of it takes effect.
      FileSetAttr(target, item.ExternalFileAttributes());
    }
  }
  if (!crcOk) ReportBadCrc(archive, item);
}

}  // namespace

void AbAskPassword(TAbZipArchive& Archive, bool& Abort) {
  Abort = false;
  if (!Archive.OnNeedPassword) return;
  std::string answer;
  Archive.OnNeedPassword(answer);
  if (answer.empty())
    Abort = true;
  else
    Archive.Password = answer;
}

void AbEnsurePassword(TAbZipArchive& Archive, int& Count, bool& Abort) {
  if (!Archive.Password.empty()) return;
  AbAskPassword(Archive, Abort);
  ++Count;
  if (Archive.Password.empty()) throw EAbZipInvalidPassword();
}

uint32_t AbUnzipStored(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream,
                       uint32_t CheckValue) {
  const int64_t size = Item.UncompressedSize();
  // Never past the item's own data, whatever the uncompressed size claims:
  // a short copy then fails the CRC check.
  const int64_t dataSize = Item.CompressedSize() - (Item.IsEncrypted() ? kEncryptionHeaderSize : 0);
  int64_t remaining = std::max<int64_t>(0, std::min(size, dataSize));
  std::vector<uint8_t> buffer(kStoredBufSize);
  uint32_t crc = 0xFFFFFFFF;
  int64_t done = 0;
  uint8_t lastPercent = 0;
  bool abort = false;
  try {
    std::unique_ptr<TAbDfDecryptStream> decrypter;
    TStream* source = &Archive.Stream();
    if (Item.IsEncrypted()) {
      decrypter = OpenStoredDecrypter(Archive, CheckValue);
      source = decrypter.get();
    }
    auto readNext = [&] {
      return source->Read(buffer.data(), int32_t(std::min<int64_t>(remaining, kStoredBufSize)));
    };
    int32_t n = readNext();
    while (n > 0 && done < size && !abort) {
      done += n;
      remaining -= n;
      const uint8_t percent = RoundedPercent(done, size);
      if (percent != lastPercent) ReportItemProgress(Archive, percent, abort);
      lastPercent = percent;
      crc = UpdateCrc32(crc, buffer.data(), n);
      OutStream.WriteBuffer(buffer.data(), n);
      n = readNext();
    }
  } catch (const EAbUserAbort&) {
    abort = true;
  }
  if (lastPercent < 100) {
    bool answer = false;
    ReportItemProgress(Archive, 100, answer);
    abort = abort || answer;
  }
  if (abort) throw EAbUserAbort();
  return ~crc;
}

uint32_t AbInflateItem(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream,
                       uint32_t CheckValue) {
  TAbDeflateHelper helper;
  uint32_t options = helper.Options();
  if (dynamic_cast<TAbBitBucketStream*>(&OutStream) != nullptr) options |= dfoTestOnly;
  if (Item.CompressionMethod() == 9) options |= dfoDeflate64;
  helper.SetOptions(options);
  helper.SourceSize = int32_t(std::min<int64_t>(Item.CompressedSize(), INT32_MAX));
  helper.ProgressHook = [&Archive](uint8_t percent) { Archive.ReportStepProgress(percent); };
  if (!Item.IsEncrypted()) return Inflate(&Archive.Stream(), &OutStream, &helper);

  int count = 0;
  bool abort = false;
  AbEnsurePassword(Archive, count, abort);
  if (abort) throw EAbUserAbort();
  while (true) {
    helper.Password = Archive.Password;
    helper.HeaderCheck = int32_t(CheckValue);
    try {
      return Inflate(&Archive.Stream(), &OutStream, &helper);
    } catch (const EAbInflatePasswordError&) {
      AbAskPassword(Archive, abort);
      if (abort) throw EAbUserAbort();
      if (++count >= Archive.PasswordRetries) throw EAbZipInvalidPassword();
    }
  }
}

uint32_t AbUnzipLegacy(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream,
                       uint32_t CheckValue) {
  const uint16_t method = Item.CompressionMethod();
  if (method < 1 || method > 6) throw EAbZipInvalidMethod();
  std::unique_ptr<TAbZDecoder> decoder;
  if (Item.IsEncrypted()) {
    decoder = std::make_unique<TAbZDecoder>(Archive.Password, Archive.Stream(), CheckValue, true);
    decoder->OnNeedPassword = Archive.OnNeedPassword;
    decoder->Password = Archive.Password;
    decoder->PasswordRetries = Archive.PasswordRetries;
  }
  TAbUnzipHelper helper(Archive.Stream(), decoder.get(), OutStream);
  helper.DictionarySize = Item.ItemInfo.DictionarySize() == 8192 ? 2 : 1;
  helper.CompressedSize = Item.CompressedSize();
  helper.UncompressedSize = Item.UncompressedSize();
  helper.CompressionMethod = uint8_t(method);
  helper.ShannonFanoTreeCount = Item.ItemInfo.ShannonFanoTreeCount();
  helper.ProgressCallback = Archive.ItemProgressCallback;
  if (Archive.IsSpannedSet()) {
    helper.Spanned = true;
    helper.ArchiveName = Archive.ArchiveName();
    helper.CurrentDisk = uint16_t(Archive.CurrentDisk);
    helper.FileMode = Archive.FileMode();
    helper.OnOpenVolume = [&Archive](uint16_t Disk) -> TStream& {
      Archive.CurrentDisk = Disk;
      Archive.OpenVolume(Disk);
      return Archive.Stream();
    };
  }
  return helper.DecodeItem();
}

void AbExtractItemToStream(TAbArchive& Sender, TAbArchiveItem& Item, TStream& OutStream) {
  TAbZipArchive& archive = ZipArchiveOf(Sender);
  TAbZipItem& item = ZipItemOf(Item);
  if (DecodeItemData(archive, item, OutStream) != item.CRC32()) ReportBadCrc(archive, item);
}

void AbExtractItemToFile(TAbArchive& Sender, TAbArchiveItem& Item, const std::string& NewName) {
  TAbZipArchive& archive = ZipArchiveOf(Sender);
  TAbZipItem& item = ZipItemOf(Item);
  std::string name = NewName;
  AbToBackslashes(name);
  const bool restorePath = archive.ExtractOptions.Contains(eoRestorePath);
  CheckSafeName(name, restorePath);
  const bool folderEntry = !name.empty() && name.back() == '\\';
  if (!AbMakeExtractPath(archive.BaseDirectory(), name, archive.ExtractOptions,
                         archive.OnConfirmOverwrite))
    return;
  // A folder entry has no data: with eoRestorePath its folder now exists.
  if (folderEntry) return;
  try {
    WriteItemToFile(archive, item, name);
  } catch (const EAbUserAbort&) {
    archive.SetState(stInvalid);
    throw;
  }
}

void AbVerifyItem(TAbArchive& Sender, TAbArchiveItem& Item) {
  TAbZipArchive& archive = ZipArchiveOf(Sender);
  TAbZipItem& item = ZipItemOf(Item);
  CheckVersion(item);
  SwitchToItemVolume(archive, item, false);
  TAbBitBucketStream bucket(0);
  const TAbZipLocalFileHeader local = ReadLocalHeader(archive, item);
  archive.Stream().Seek(item.RelativeOffset(), soFromBeginning);

  const TAbZipDirectoryFileHeader& central = item.ItemInfo;
  // A local header that defers CRC and sizes to a data descriptor may hold
  // zeros there; values it does give must still agree.
  const bool deferred = (local.GeneralPurposeBitFlag & AbZipDescriptorFlag) != 0;
  auto agrees = [deferred](uint32_t localValue, uint32_t centralValue) {
    return localValue == centralValue || (deferred && localValue == 0);
  };
  // Extra fields are not compared: writers put different ones in the two
  // headers (Info-ZIP's local time stamps carry more than the central ones).
  if (local.VersionNeededToExtract != central.VersionNeededToExtract ||
      local.GeneralPurposeBitFlag != central.GeneralPurposeBitFlag ||
      local.LastModFileTime != central.LastModFileTime ||
      local.LastModFileDate != central.LastModFileDate || !agrees(local.CRC32, central.CRC32) ||
      !agrees(local.CompressedSize, central.CompressedSize) ||
      !agrees(local.UncompressedSize, central.UncompressedSize) ||
      local.FileName() != central.FileName())
    throw EAbZipInvalidLFH();

  AbExtractItemToStream(Sender, Item, bucket);
}
