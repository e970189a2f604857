#include "platform/Classes.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/DriveMap.h"
#include "platform/SysUtils.h"

namespace {

// Share modes as advisory locks, never stricter than Windows: an exclusive
// opener takes the lock alone, a denying one shares it; opens that deny
// nothing take no lock, so they are not held back (nor do they hold back).
bool TakeShareLock(int handle, uint16_t mode) {
  const uint16_t share = mode & 0xF0;
  if (share != fmShareExclusive && share != fmShareDenyWrite && share != fmShareDenyRead)
    return true;
  const int kind = share == fmShareExclusive ? LOCK_EX : LOCK_SH;
  while (::flock(handle, kind | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return false;
    if (errno != EINTR) return true;  // no locks on this file system: go without
  }
  return true;
}

// Read-only is the missing write permission, which root does not feel; the
// attribute is checked here so that Windows' refusal holds for everyone.
bool IsReadOnlyFile(const struct stat& info) {
  return !S_ISDIR(info.st_mode) && (info.st_mode & S_IWUSR) == 0;
}

// Creates or empties `host` as fmCreate does; 0 or the Windows code. The
// attribute is checked before O_TRUNC empties the file.
int CreateHostFile(const std::string& host, int& handle) {
  if (host.empty()) return ERROR_PATH_NOT_FOUND;
  struct stat info;
  if (::stat(host.c_str(), &info) == 0 && IsReadOnlyFile(info)) return ERROR_ACCESS_DENIED;
  handle = ::open(host.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return handle < 0 ? WindowsErrorOf(errno, host) : 0;
}

// Opens an existing `host` with the access and share of `mode`; 0 or the Windows code.
int OpenHostFile(const std::string& host, uint16_t mode, int& handle) {
  if (host.empty()) return ERROR_PATH_NOT_FOUND;
  const int access = mode & 3;
  const int flags = access == fmOpenWrite       ? O_WRONLY
                    : access == fmOpenReadWrite ? O_RDWR
                                                : O_RDONLY;
  handle = ::open(host.c_str(), flags | O_CLOEXEC);
  if (handle < 0) return WindowsErrorOf(errno, host);
  struct stat info;
  int error = 0;
  if (::fstat(handle, &info) != 0)
    error = WindowsErrorOf(errno);
  else if (S_ISDIR(info.st_mode) || (flags != O_RDONLY && IsReadOnlyFile(info)))
    error = ERROR_ACCESS_DENIED;  // Windows opens no folder, and writes no read-only file
  else if (!TakeShareLock(handle, mode))
    error = ERROR_SHARING_VIOLATION;
  if (error) {
    ::close(handle);
    handle = -1;
  }
  return error;
}

}  // namespace

// ---------------------------------------------------------------- TStream

std::optional<int64_t> SeekTarget(int64_t offset, int origin, int64_t position, int64_t size) {
  switch (origin) {
    case soFromBeginning:
      return offset;
    case soFromCurrent:
      return position + offset;
    case soFromEnd:
      return size + offset;
    default:
      return std::nullopt;
  }
}

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
  if (mode == fmCreate) {
    if (const int error = CreateHostFile(host, FHandle))
      throw EFCreateError(ExpandFileName(fileName), error);
    return;
  }
  if (const int error = OpenHostFile(host, mode, FHandle))
    throw EFOpenError(ExpandFileName(fileName), error);
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
  const int64_t target = SeekTarget(offset, origin, FPosition, Size()).value_or(FPosition);
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
