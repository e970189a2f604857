#include "platform/Classes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/DriveMap.h"
#include "platform/SysUtils.h"

// ---------------------------------------------------------------- TStream

int64_t TStream::Size() {
  const int64_t position = Seek(0, soFromCurrent);
  const int64_t size = Seek(0, soFromEnd);
  Seek(position, soFromBeginning);
  return size;
}

void TStream::SetSize(int64_t) {}

void TStream::ReadBuffer(void* buffer, int32_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EWriteError();
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  constexpr int32_t kChunk = 64 * 1024;
  std::vector<uint8_t> buffer(size_t(std::min<int64_t>(std::max<int64_t>(count, 1), kChunk)));
  int64_t left = count;
  while (left > 0) {
    const int32_t n = int32_t(std::min<int64_t>(left, int64_t(buffer.size())));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

// ------------------------------------------------------------ TFileStream

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : FFileName(fileName) {
  const std::string host = HostPathOf(fileName);
  const std::string shownName = ExpandFileName(fileName);
  if (mode == fmCreate) {
    FHandle =
        host.empty() ? -1 : ::open(host.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FHandle < 0)
      throw EFCreateError(shownName,
                          host.empty() ? ERROR_PATH_NOT_FOUND : WindowsErrorOf(errno, host));
    return;
  }
  int flags = O_RDONLY;
  if ((mode & 3) == fmOpenWrite) flags = O_WRONLY;
  if ((mode & 3) == fmOpenReadWrite) flags = O_RDWR;
  FHandle = host.empty() ? -1 : ::open(host.c_str(), flags | O_CLOEXEC);
  int error = host.empty() ? ERROR_PATH_NOT_FOUND : 0;
  if (FHandle >= 0) {
    struct stat info;
    if (::fstat(FHandle, &info) == 0 && S_ISDIR(info.st_mode)) {  // Windows refuses folders
      ::close(FHandle);
      FHandle = -1;
      error = ERROR_ACCESS_DENIED;
    }
  } else if (!error) {
    error = WindowsErrorOf(errno, host);
  }
  if (FHandle < 0) throw EFOpenError(shownName, error);
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
  int32_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(FHandle, static_cast<char*>(buffer) + done, size_t(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) FLastError = WindowsErrorOf(errno);
    if (n <= 0) break;
    done += int32_t(n);
  }
  return done;
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
  int32_t done = 0;
  while (done < count) {
    const ssize_t n =
        ::write(FHandle, static_cast<const char*>(buffer) + done, size_t(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) FLastError = WindowsErrorOf(errno);
    if (n <= 0) break;
    done += int32_t(n);
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, int origin) {
  const int whence = origin == soFromCurrent ? SEEK_CUR : origin == soFromEnd ? SEEK_END : SEEK_SET;
  return int64_t(::lseek(FHandle, off_t(offset), whence));
}

int64_t TFileStream::Size() {
  struct stat info;
  return ::fstat(FHandle, &info) == 0 ? int64_t(info.st_size) : -1;
}

void TFileStream::SetSize(int64_t newSize) {
  if (::ftruncate(FHandle, off_t(newSize)) != 0) throw EInOutError(WindowsErrorOf(errno));
  if (Position() > newSize) Seek(newSize, soFromBeginning);
}

// ---------------------------------------------------------- TMemoryStream

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || FPosition >= Size()) return 0;
  const int32_t n = int32_t(std::min<int64_t>(count, Size() - FPosition));
  std::memcpy(buffer, FData.data() + FPosition, size_t(n));
  FPosition += n;
  return n;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  if (FPosition + count > Size()) FData.resize(size_t(FPosition + count));
  std::memcpy(FData.data() + FPosition, buffer, size_t(count));
  FPosition += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, int origin) {
  int64_t target = FPosition;
  if (origin == soFromBeginning) target = offset;
  if (origin == soFromCurrent) target = FPosition + offset;
  if (origin == soFromEnd) target = Size() + offset;
  if (target >= 0) FPosition = target;
  return FPosition;
}

void TMemoryStream::SetSize(int64_t newSize) {
  FData.resize(size_t(std::max<int64_t>(newSize, 0)));
  FPosition = std::min(FPosition, Size());
}

void TMemoryStream::Clear() {
  FData.clear();
  FData.shrink_to_fit();
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  const int64_t size = source.Size();
  SetSize(size);
  FPosition = 0;
  if (size > 0) source.ReadBuffer(FData.data(), int32_t(size));
}

void TMemoryStream::SaveToStream(TStream& dest) {
  if (!FData.empty()) dest.WriteBuffer(FData.data(), int32_t(FData.size()));
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}
