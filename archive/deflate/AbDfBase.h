// What the Deflate encoder and the Inflate decoder share: the options object
// with its level letters, the Deflate constant tables, the checksums, the
// diagnostic logger, the node allocator of package-merge and the exceptions
// the coders raise.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "platform/SysUtils.h"

// ------------------------------------------------------------ exceptions

// Data errors inside the coders; the entry points wrap them (see below).
class EAbInternalDeflateError : public Exception {
 public:
  using Exception::Exception;
};
class EAbInternalInflateError : public Exception {
 public:
  using Exception::Exception;
};

// What leaves `Deflate` and `Inflate` for an internal error with message `cause`.
class EAbDeflateError : public Exception {
 public:
  explicit EAbDeflateError(const std::string& cause)
      : Exception("Corvel deflate error. (Internal cause: " + cause + ")") {}
};
class EAbInflateError : public Exception {
 public:
  explicit EAbInflateError(const std::string& cause)
      : Exception(
            "Corvel inflate error, possibly a corrupted compressed stream. (Internal cause: " +
            cause + ")") {}
};

// The decoder reached the partial size it was asked to stop at; `Inflate`
// ends quietly on it.
class EAbPartSizedInflate : public Exception {
 public:
  EAbPartSizedInflate() : Exception("Inflate: the partial size has been reached") {}
};

// The encryption header of an item did not verify with the passphrase.
class EAbInflatePasswordError : public Exception {
 public:
  using Exception::Exception;
};

// ------------------------------------------------------------ constants

// Deflate constant tables (RFC 1951 3.2.5 and 3.2.7) in their Deflate64 form:
// symbol 285 has base 3 and 16 extra bits, distance symbols 30 and 31 exist.
// Plain Deflate's 285 (length 258, no extra bits) is handled by the coders.
// Indexed by length symbol − 257.
inline constexpr std::array<int32_t, 29> dfc_LengthBase = {
    3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
inline constexpr std::array<uint8_t, 31> dfc_LengthExtraBits = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16, 99, 99};
// Indexed by distance symbol.
inline constexpr std::array<int32_t, 32> dfc_DistanceBase = {
    1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
    49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
inline constexpr std::array<uint8_t, 32> dfc_DistanceExtraBits = {
    0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
// The order in which a dynamic block sends the code-length code lengths.
inline constexpr std::array<uint8_t, 19> dfc_CodeLengthIndex = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                                11, 4,  12, 3, 13, 2, 14, 1, 15};

// Option bits of TAbDeflateHelper.
enum : uint32_t {
  dfoStored = 0x01,
  dfoStatic = 0x02,
  dfoDynamic = 0x04,
  dfoLazy = 0x08,
  dfoDeflate64 = 0x10,
  dfoAdler32 = 0x20,
  dfoTestOnly = 0x40000000,
};

// Progress in percent (0..100); it may raise EAbAbortProgress (archive/AbArcTyp.h) to stop.
using TAbProgressStep = std::function<void(uint8_t aPercentDone)>;

// ------------------------------------------------------------ options

// The options object of the encoder and the decoder. The level parameters go
// through setters that keep LevelLetter honest; the rest are plain fields.
// For the decoder: SourceSize is the compressed stream size (for progress),
// OutputLimit the partial size (0: none), BytesWritten the bytes produced and
// BytesRead the compressed bytes consumed.
class TAbDeflateHelper {
 public:
  TAbDeflateHelper() = default;
  TAbDeflateHelper(const TAbDeflateHelper&) = delete;
  TAbDeflateHelper& operator=(const TAbDeflateHelper&) = delete;

  // Copies every field but BytesRead and BytesWritten.
  void Assign(const TAbDeflateHelper& aSource);
  // Sets the level by letter ("0", "2", "f", "n", "s", "x", any case); the
  // current letter and unknown letters change nothing.
  void SelectLevel(char aLevel);

  int32_t GoodEnoughLength() const { return FGoodEnoughLength; }
  int32_t ChainLimit() const { return FChainLimit; }
  int32_t LazyLimit() const { return FLazyLimit; }
  uint32_t Options() const { return FOptions; }
  char LevelLetter() const { return FLevelLetter; }
  // A value equal to the current one is ignored; otherwise a value below 4
  // other than −1 (unlimited) becomes 4 and LevelLetter becomes '?'.
  void SetGoodEnoughLength(int32_t aValue);
  void SetChainLimit(int32_t aValue);
  void SetLazyLimit(int32_t aValue);
  // A different value is stored and makes LevelLetter '?'.
  void SetOptions(uint32_t aValue);

  int32_t HeaderCheck = -1;
  std::string LogFileName;
  TAbProgressStep ProgressHook;
  int32_t OutputLimit = 0;
  std::string Password;
  int32_t BytesWritten = 0;
  int32_t BytesRead = 0;
  int32_t SourceSize = 0;
  int32_t HistorySize = 32768;

 private:
  void SetLimit(int32_t& aField, int32_t aValue);

  int32_t FGoodEnoughLength = 8;
  int32_t FChainLimit = 32;
  int32_t FLazyLimit = 16;
  uint32_t FOptions = 0x0F;
  char FLevelLetter = 'n';
};

// ------------------------------------------------------------ checksums

// One CRC-32 step over `aCount` bytes; the caller starts at 0xFFFFFFFF and
// inverts the result at the end.
uint32_t UpdateCrc32(uint32_t aCurCrc, const void* aBuffer, int32_t aCount);
// Adler-32 of RFC 1950; start at 1, no final step.
uint32_t UpdateAdler32(uint32_t aCurAdler, const void* aBuffer, int32_t aCount);

// ------------------------------------------------------------ logger

enum class TAbLineDelimiter { ldCRLF, ldLF, ldNone };

// A write-only stream over a newly created (or emptied) file, buffered in
// 4,096 bytes; what is buffered reaches the file when the logger is released.
class TAbLogger : public TStream {
 public:
  explicit TAbLogger(const std::string& aFileName);
  ~TAbLogger() override;
  TAbLogger(const TAbLogger&) = delete;
  TAbLogger& operator=(const TAbLogger&) = delete;

  // Writes the text, then the line delimiter.
  void WriteLine(const std::string& aText);
  // A contract violation: loggers are write-only.
  int32_t Read(void* aBuffer, int32_t aCount) override;
  int32_t Write(const void* aBuffer, int32_t aCount) override;
  // Only a seek by 0 from the current position or the end is allowed; it
  // gives the file position plus the buffered bytes.
  int64_t Seek(int64_t aOffset, int aOrigin) override;

  TAbLineDelimiter LineDelimiter = TAbLineDelimiter::ldCRLF;

 private:
  void FlushBuffer();

  std::array<uint8_t, 4096> FBuffer;
  int32_t FBufferPosition = 0;
  std::unique_ptr<TFileStream> FStream;
};

// ------------------------------------------------------------ node allocator

// Hands out fixed-size nodes from 8 KiB pages; nodes are never returned one
// by one, every page is freed with the manager. Nodes are aligned for
// pointers, so the node size is rounded up to a multiple of the pointer size.
class TAbNodeManager {
 public:
  explicit TAbNodeManager(int32_t aNodeSize);

  // Uninitialised memory of the node size.
  void* AllocNode();
  int32_t NodeSize() const { return FNodeSize; }
  int32_t NodesPerPage() const { return FNodesPerPage; }

 private:
  struct TFreeNode {
    TFreeNode* Next;
  };

  TFreeNode* FFreeList = nullptr;
  int32_t FNodeSize;
  int32_t FNodesPerPage;
  std::vector<std::unique_ptr<uint8_t[]>> FPages;
  int32_t FPageSize;
};
