#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/DateTime.h"
#include "platform/DriveMap.h"
#include "platform/SysUtils.h"

struct TSearchRec::State {
  std::vector<TSearchRec> Found;  // matching entries in name order, without state
  size_t Next = 0;
};

namespace {

constexpr uint32_t kExcludable = faHidden | faSysFile | faVolumeID | faDirectory;
constexpr size_t kCopyChunk = 64 * 1024;

int& LastError() {
  static thread_local int lastError = 0;
  return lastError;
}

int SetError(int windowsError) {
  LastError() = windowsError;
  return windowsError;
}

bool Fail(int windowsError) {
  SetError(windowsError);
  return false;
}

// The code of the errno just set; an unmapped path has no folder at all.
int HostError(const std::string& hostPath) {
  return hostPath.empty() ? ERROR_PATH_NOT_FOUND : WindowsErrorOf(errno, hostPath);
}

bool FailWithErrno(const std::string& hostPath) {
  return Fail(HostError(hostPath));
}

// Closes a host file descriptor when it goes out of scope.
class THostFile {
 public:
  explicit THostFile(int handle) : FHandle(handle) {}
  ~THostFile() {
    if (FHandle >= 0) ::close(FHandle);
  }
  THostFile(const THostFile&) = delete;
  THostFile& operator=(const THostFile&) = delete;
  int Get() const { return FHandle; }
  int Close() {
    const int result = ::close(FHandle);
    FHandle = -1;
    return result;
  }

 private:
  int FHandle;
};

bool HostStat(const std::string& windowsPath, std::string& host, struct stat& info) {
  host = HostPathOf(windowsPath);
  return !host.empty() && ::stat(host.c_str(), &info) == 0;
}

// The last component of a Windows path, empty for a drive root.
std::string LastComponent(const std::string& windowsPath) {
  std::string full = ExpandFileName(windowsPath);
  while (!full.empty() && full.back() == '\\') full.pop_back();
  const size_t slash = full.find_last_of('\\');
  return slash == std::string::npos ? std::string() : full.substr(slash + 1);
}

bool IsReadOnly(const struct stat& info) {
  return (info.st_mode & S_IWUSR) == 0;
}

uint32_t AttributesOf(const std::string& name, const struct stat& info) {
  uint32_t attributes = S_ISDIR(info.st_mode) ? faDirectory : faArchive;
  if (IsReadOnly(info)) attributes |= faReadOnly;
  if (!name.empty() && name[0] == '.') attributes |= faHidden;
  return attributes;
}

// 0, like any time the DOS word cannot hold, also beyond what TDateTime holds.
int32_t DosTimeOf(time_t seconds) {
  try {
    return DateTimeToFileDate(UnixToDateTime(seconds));
  } catch (const EConvertError&) {
    return 0;
  }
}

// The host path a new entry `windowsPath` gets: its folder looked up without
// regard to case, its own name exactly as given (so a rename can change case).
std::string NewHostPathOf(const std::string& windowsPath) {
  const std::string full = ExpandFileName(windowsPath);
  const size_t slash = full.find_last_of('\\');
  if (slash == std::string::npos || slash + 1 == full.size()) return HostPathOf(full);
  const std::string folder = HostPathOf(full.substr(0, slash + 1));
  if (folder.empty()) return folder;
  return (folder == "/" ? "" : folder) + "/" + full.substr(slash + 1);
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

// Wildcard match that retries only from the last '*', so no mask can make it
// take more than length(name) * length(mask) steps.
bool MatchFrom(const char* name, const char* mask) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*mask == '*') {
      star = mask++;
      resume = name;
    } else if (*mask && (*mask == '?' || AsciiUpper(*mask) == AsciiUpper(*name))) {
      ++mask;
      ++name;
    } else if (star) {
      mask = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*mask == '*') ++mask;
  return !*mask;
}

void FillFrom(const TSearchRec& found, TSearchRec& rec) {
  rec.Time = found.Time;
  rec.Size = found.Size;
  rec.Attr = found.Attr;
  rec.Name = found.Name;
}

// Splits "C:\Data\*.MDF" into the folder's Windows path and the mask.
void SplitMask(const std::string& pathAndMask, std::string& folder, std::string& mask) {
  const std::string full = ExpandFileName(pathAndMask);
  const size_t slash = full.find_last_of('\\');
  folder = full.substr(0, slash + 1);
  mask = full.substr(slash + 1);
}

std::vector<std::string> SplitMasks(const std::string& masks) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = masks.find(';', start);
    const std::string part = masks.substr(start, end - start);
    if (!part.empty()) parts.push_back(part);
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// Copies the open `source` into `target` in chunks, asking `progress`.
bool CopyChunks(int source, int target, int64_t total, const TCopyProgressRoutine& progress,
                const bool* cancel, const std::string& targetHost) {
  std::vector<char> buffer(kCopyChunk);
  int64_t done = 0;
  bool quiet = !progress;
  const auto ask = [&]() {
    if (quiet) return true;
    const uint32_t answer = progress(total, done);
    if (answer == PROGRESS_QUIET) quiet = true;
    if (answer == PROGRESS_CANCEL || answer == PROGRESS_STOP) {
      if (answer == PROGRESS_CANCEL) ::unlink(targetHost.c_str());
      return Fail(ERROR_REQUEST_ABORTED);
    }
    return true;
  };
  if (!ask()) return false;
  for (;;) {
    if (cancel && *cancel) {
      ::unlink(targetHost.c_str());
      return Fail(ERROR_REQUEST_ABORTED);
    }
    const ssize_t n = ::read(source, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return true;
    if (n < 0) {
      const int error = errno;
      ::unlink(targetHost.c_str());
      return Fail(WindowsErrorOf(error));
    }
    for (ssize_t written = 0; written < n;) {
      const ssize_t w = ::write(target, buffer.data() + written, size_t(n - written));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        const int error = w < 0 ? errno : ENOSPC;
        ::unlink(targetHost.c_str());
        return Fail(WindowsErrorOf(error));
      }
      written += w;
    }
    done += n;
    if (!ask()) return false;
  }
}

}  // namespace

bool DirectoryExists(const std::string& path) {
  std::string host;
  struct stat info;
  return HostStat(path, host, info) && S_ISDIR(info.st_mode);
}

bool FileExists(const std::string& path) {
  std::string host;
  struct stat info;
  return HostStat(path, host, info) && !S_ISDIR(info.st_mode);
}

bool CreateDir(const std::string& path) {
  std::string existing;
  struct stat info;
  if (HostStat(path, existing, info)) return Fail(ERROR_ALREADY_EXISTS);  // in any case
  const std::string host = NewHostPathOf(path);
  if (host.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  return ::mkdir(host.c_str(), 0777) == 0 || FailWithErrno(host);
}

void ChDir(const std::string& path) {
  if (!SetCurrentDir(path)) throw EInOutError(ERROR_PATH_NOT_FOUND);
}

bool DeleteFile(const std::string& path) {
  std::string host;
  struct stat info;
  if (!HostStat(path, host, info)) return FailWithErrno(host);
  // Windows refuses folders and read-only files.
  if (S_ISDIR(info.st_mode) || IsReadOnly(info)) return Fail(ERROR_ACCESS_DENIED);
  return ::unlink(host.c_str()) == 0 || FailWithErrno(host);
}

bool RemoveDir(const std::string& path) {
  const std::string host = HostPathOf(path);
  if (host.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  return ::rmdir(host.c_str()) == 0 || FailWithErrno(host);
}

bool RenameFile(const std::string& oldName, const std::string& newName) {
  std::string oldHost, existingHost;
  struct stat oldInfo, existing;
  if (!HostStat(oldName, oldHost, oldInfo)) return FailWithErrno(oldHost);
  // Windows never replaces another file; a change of case alone is allowed.
  if (HostStat(newName, existingHost, existing) &&
      (existing.st_dev != oldInfo.st_dev || existing.st_ino != oldInfo.st_ino))
    return Fail(ERROR_ALREADY_EXISTS);
  const std::string newHost = NewHostPathOf(newName);
  if (newHost.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  return ::rename(oldHost.c_str(), newHost.c_str()) == 0 || FailWithErrno(newHost);
}

bool MoveFileExA(const std::string& existingFile, const std::string& newFile, uint32_t flags) {
  if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) return RenameFile(existingFile, newFile);
  std::string oldHost, existingHost;
  struct stat oldInfo, existing;
  if (!HostStat(existingFile, oldHost, oldInfo)) return FailWithErrno(oldHost);
  // An existing target is replaced under the case it has on disk.
  const bool replacing = HostStat(newFile, existingHost, existing);
  if (replacing && S_ISDIR(existing.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  const std::string newHost = replacing ? existingHost : NewHostPathOf(newFile);
  if (newHost.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  return ::rename(oldHost.c_str(), newHost.c_str()) == 0 || FailWithErrno(newHost);
}

int32_t FileGetAttr(const std::string& path) {
  std::string host;
  struct stat info;
  if (!HostStat(path, host, info)) return -1;
  return int32_t(AttributesOf(LastComponent(path), info));
}

int FileSetAttr(const std::string& path, uint32_t attributes) {
  std::string host;
  struct stat info;
  if (!HostStat(path, host, info)) return SetError(HostError(host));
  mode_t mode = info.st_mode & 07777;
  mode = (attributes & faReadOnly) ? (mode & ~mode_t(0222)) : (mode | S_IWUSR);
  return ::chmod(host.c_str(), mode) == 0 ? 0 : SetError(HostError(host));
}

int32_t FileGetDate(int handle) {
  struct stat info;
  if (::fstat(handle, &info) != 0) return -1;
  return DosTimeOf(info.st_mtime);
}

int FileSetDate(int handle, int32_t dosDateTime) {
  int64_t seconds = 0;
  try {
    seconds = DateTimeToUnix(FileDateToDateTime(dosDateTime));
  } catch (const EConvertError&) {
    return SetError(ERROR_INVALID_PARAMETER);
  }
  const timespec times[2] = {{0, UTIME_OMIT}, {time_t(seconds), 0}};
  return ::futimens(handle, times) == 0 ? 0 : SetError(WindowsErrorOf(errno));
}

int32_t FileAge(const std::string& path) {
  std::string host;
  struct stat info;
  if (!HostStat(path, host, info) || S_ISDIR(info.st_mode)) return -1;
  return DosTimeOf(info.st_mtime);
}

int FindFirst(const std::string& pathAndMask, uint32_t attributes, TSearchRec& rec) {
  FindClose(rec);
  std::string folder, mask;
  SplitMask(pathAndMask, folder, mask);
  const std::string host = HostPathOf(folder);
  DIR* dir = host.empty() ? nullptr : ::opendir(host.c_str());
  if (!dir)
    return SetError(host.empty() || errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                                        : WindowsErrorOf(errno));
  auto state = std::make_shared<TSearchRec::State>();
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || mask.empty() || !MatchesWindowsMask(name, mask)) continue;
    struct stat info;
    if (::stat(((host == "/" ? "" : host) + "/" + name).c_str(), &info) != 0) continue;
    TSearchRec found;
    found.Attr = AttributesOf(name, info);
    if (found.Attr & kExcludable & ~attributes) continue;
    found.Name = name;
    found.Size = S_ISDIR(info.st_mode) ? 0 : int64_t(info.st_size);
    found.Time = DosTimeOf(info.st_mtime);
    state->Found.push_back(found);
  }
  ::closedir(dir);
  std::sort(state->Found.begin(), state->Found.end(), [](const TSearchRec& a, const TSearchRec& b) {
    const int order = CompareText(a.Name, b.Name);
    return order != 0 ? order < 0 : a.Name < b.Name;
  });
  if (state->Found.empty()) return SetError(ERROR_FILE_NOT_FOUND);
  rec.FindState = state;
  return FindNext(rec);
}

int FindNext(TSearchRec& rec) {
  TSearchRec::State* state = rec.FindState.get();
  if (!state || state->Next >= state->Found.size()) return SetError(ERROR_NO_MORE_FILES);
  FillFrom(state->Found[state->Next++], rec);
  return 0;
}

void FindClose(TSearchRec& rec) {
  rec.FindState.reset();
}

bool MatchesWindowsMask(const std::string& name, const std::string& mask) {
  if (mask == "*.*" || mask == "*") return true;
  if (MatchFrom(name.c_str(), mask.c_str())) return true;
  // "NAME.*" also finds NAME, and "*." finds the names without an extension.
  const size_t length = mask.size();
  if (length >= 2 && mask.compare(length - 2, 2, ".*") == 0)
    return MatchFrom(name.c_str(), mask.substr(0, length - 2).c_str());
  if (length >= 1 && mask.back() == '.' && name.find('.') == std::string::npos)
    return MatchFrom(name.c_str(), mask.substr(0, length - 1).c_str());
  return false;
}

std::vector<std::string> ListFiles(const std::string& folder, const std::string& mask) {
  std::string prefix = folder;
  if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/') prefix += '\\';
  std::vector<std::string> names;
  for (const std::string& part : SplitMasks(mask.empty() ? "*.*" : mask)) {
    TSearchRec rec;
    for (int found = FindFirst(prefix + part, faReadOnly | faArchive, rec); found == 0;
         found = FindNext(rec))
      names.push_back(rec.Name);
    FindClose(rec);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const int order = CompareText(a, b);
    return order != 0 ? order < 0 : a < b;
  });
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

bool CopyFileExA(const std::string& existingFile, const std::string& newFile,
                 const TCopyProgressRoutine& progress, const bool* cancel, uint32_t copyFlags) {
  const std::string sourceHost = HostPathOf(existingFile);
  if (sourceHost.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  THostFile source(::open(sourceHost.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat sourceInfo;
  if (source.Get() < 0 || ::fstat(source.Get(), &sourceInfo) != 0) return FailWithErrno(sourceHost);
  if (S_ISDIR(sourceInfo.st_mode)) return Fail(ERROR_ACCESS_DENIED);

  std::string targetHost;
  struct stat targetInfo;
  if (HostStat(newFile, targetHost, targetInfo)) {
    if (copyFlags & COPY_FILE_FAIL_IF_EXISTS) return Fail(ERROR_FILE_EXISTS);
    // Copying a file onto itself would empty it; Windows finds it in use.
    if (targetInfo.st_dev == sourceInfo.st_dev && targetInfo.st_ino == sourceInfo.st_ino)
      return Fail(ERROR_SHARING_VIOLATION);
    if (S_ISDIR(targetInfo.st_mode) || IsReadOnly(targetInfo)) return Fail(ERROR_ACCESS_DENIED);
  } else {
    targetHost = NewHostPathOf(newFile);
    if (targetHost.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  }
  const int excl = (copyFlags & COPY_FILE_FAIL_IF_EXISTS) ? O_EXCL : 0;
  THostFile target(
      ::open(targetHost.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | excl, 0666));
  if (target.Get() < 0) return FailWithErrno(targetHost);

  if (!CopyChunks(source.Get(), target.Get(), int64_t(sourceInfo.st_size), progress, cancel,
                  targetHost))
    return false;
  // Windows keeps the last-write time and the attributes on the copy.
  const timespec times[2] = {{0, UTIME_OMIT}, sourceInfo.st_mtim};
  ::futimens(target.Get(), times);
  ::fchmod(target.Get(), sourceInfo.st_mode & 07777);
  if (target.Close() != 0) {
    const int error = errno;
    ::unlink(targetHost.c_str());
    return Fail(WindowsErrorOf(error));
  }
  return true;
}

int GetLastError() {
  return LastError();
}

uint32_t GetDriveType(const std::string& rootPath) {
  const std::string full = ExpandFileName(rootPath);
  if (full.size() < 2 || full[1] != ':') return DRIVE_NO_ROOT_DIR;
  const auto root = DriveRoot(full[0]);
  struct stat info;
  if (!root || ::stat(root->c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    return DRIVE_NO_ROOT_DIR;
  return DRIVE_FIXED;
}

int64_t DiskFree(const std::string& path) {
  std::string host = HostPathOf(path);
  if (host.empty()) return -1;
  // A path that does not exist yet is on the drive of its nearest existing folder.
  struct statvfs volume;
  while (::statvfs(host.c_str(), &volume) != 0) {
    const size_t slash = host.find_last_of('/');
    if (slash == std::string::npos || host == "/") return -1;
    host = slash == 0 ? "/" : host.substr(0, slash);
  }
  return int64_t(volume.f_bavail) * int64_t(volume.f_frsize);
}

bool SetVolumeLabel(const std::string&, const std::string&) {
  return true;
}

std::string GetTempPath() {
  const char* variable = std::getenv("TMPDIR");
  std::string path = WindowsPathOf(variable && *variable ? variable : "/tmp");
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path;
}

std::string GetTempFileName(const std::string& folder, const std::string& prefix) {
  std::string base = ExpandFileName(folder);
  if (base.back() != '\\') base += '\\';
  const std::string host = HostPathOf(base);
  if (host.empty()) {
    Fail(ERROR_PATH_NOT_FOUND);
    return std::string();
  }
  // Like Windows: start from the tick count, try each of the 65535 numbers once.
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  uint32_t unique = uint32_t(now.tv_nsec / 1000000 + now.tv_sec * 1000) & 0xFFFF;
  const std::string start = prefix.substr(0, 3);
  for (int attempt = 0; attempt < 0xFFFF; ++attempt) {
    unique = unique % 0xFFFF + 1;  // 1 .. 0xFFFF, never 0
    const std::string name = start + Format("%X", unique) + ".TMP";
    const std::string path = (host == "/" ? "" : host) + "/" + name;
    const int handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (handle >= 0) {
      ::close(handle);
      return base + name;
    }
    if (errno != EEXIST) {
      FailWithErrno(path);
      return std::string();
    }
  }
  Fail(ERROR_FILE_EXISTS);
  return std::string();
}
