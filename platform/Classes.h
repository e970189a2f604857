// The platform's streams: the abstract stream every engine stream derives
// from, file streams over Windows paths, and memory streams.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Seek origins.
enum : int { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

// File stream modes: one open mode or fmCreate, or'ed with one share mode.
enum : uint16_t {
  fmCreate = 0xFFFF,  // create the file, or empty an existing one; read and write
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
};

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to `count` bytes; returns how many were read (0 at the end).
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  // Writes up to `count` bytes; returns how many were written.
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  // Moves to `offset` from the origin (0 start, 1 current, 2 end); returns the new position.
  virtual int64_t Seek(int64_t offset, int origin) = 0;

  // Size by seeking to the end and back; streams that know it override.
  virtual int64_t Size();
  // Streams that cannot change size leave it as it is.
  virtual void SetSize(int64_t newSize);
  int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t position) { Seek(position, soFromBeginning); }

  // Read or write exactly `count` bytes; EReadError / EWriteError otherwise.
  void ReadBuffer(void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);
  // Copies `count` bytes from the current position of `source`; a count of 0
  // copies the whole of `source` from its start. Returns the bytes copied;
  // EReadError when `source` ends early, EWriteError when this stream refuses.
  int64_t CopyFrom(TStream& source, int64_t count);
};

// Where Seek(offset, origin) lands in a stream at `position` of `size` bytes:
// nothing for an origin other than the three. Each stream decides what a
// place before the start, and an unknown origin, mean to it.
std::optional<int64_t> SeekTarget(int64_t offset, int origin, int64_t position, int64_t size);

// A file on disk, named by its Windows path.
class TFileStream : public TStream {
 public:
  // Opens or creates (fmCreate) `fileName`; EFOpenError or EFCreateError on failure.
  TFileStream(const std::string& fileName, uint16_t mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override;
  // Truncates or extends the file; EInOutError when the host refuses.
  void SetSize(int64_t newSize) override;

  const std::string& FileName() const { return FFileName; }
  // The host file descriptor, for the file-time functions.
  int Handle() const { return FHandle; }
  // Windows code of the last failed Read or Write (0 when none failed).
  int LastError() const { return FLastError; }

 private:
  std::string FFileName;
  int FHandle = -1;
  int FLastError = 0;
};

// A stream held in memory; it grows as it is written.
class TMemoryStream : public TStream {
 public:
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override { return int64_t(FData.size()); }
  void SetSize(int64_t newSize) override;

  uint8_t* Memory() { return FData.data(); }
  const std::vector<uint8_t>& Bytes() const { return FData; }
  void Clear();
  void LoadFromStream(TStream& source);
  void SaveToStream(TStream& dest);
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);

 private:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};
