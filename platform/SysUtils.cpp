#include "platform/SysUtils.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string BaseNameOf(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

bool FolderOfExists(const std::string& hostPath) {
  const auto slash = hostPath.find_last_of('/');
  if (slash == std::string::npos) return true;
  const std::string parent = slash == 0 ? "/" : hostPath.substr(0, slash);
  struct stat info;
  return ::stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}
char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

}  // namespace

EInOutError::EInOutError(int errorCode)
    : Exception(InOutErrorText(errorCode)), ErrorCode(errorCode) {}

EFOpenError::EFOpenError(const std::string& fileName, int windowsError)
    : EFileStreamError("Cannot open file \"" + fileName + "\". " + SysErrorMessage(windowsError)) {}

EFCreateError::EFCreateError(const std::string& fileName, int windowsError)
    : EFileStreamError("Cannot create file \"" + fileName + "\". " +
                       SysErrorMessage(windowsError)) {}

EAssertionFailed::EAssertionFailed(const std::string& message, const char* file, int line)
    : Exception(message + " (" + BaseNameOf(file) + ", line " + std::to_string(line) + ")"),
      FFixedMessage(message) {}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string result;
  if (length > 0) {
    std::vector<char> buffer(size_t(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    result.assign(buffer.data(), size_t(length));
  }
  va_end(args);
  return result;
}

int WindowsErrorOf(int errnoValue, const std::string& hostPath) {
  switch (errnoValue) {
    case ENOENT:
      return (hostPath.empty() || FolderOfExists(hostPath)) ? ERROR_FILE_NOT_FOUND
                                                            : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EBUSY:
    case ETXTBSY:
      return ERROR_SHARING_VIOLATION;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    default:
      return ERROR_IO_DEVICE;
  }
}

std::string InOutErrorText(int windowsError) {
  switch (windowsError) {
    case ERROR_FILE_NOT_FOUND:
      return "File not found";
    case ERROR_PATH_NOT_FOUND:
      return "Invalid filename";
    case ERROR_TOO_MANY_OPEN_FILES:
      return "Too many open files";
    case ERROR_ACCESS_DENIED:
      return "File access denied";
    default:
      return "I/O error " + std::to_string(windowsError);
  }
}

std::string SysErrorMessage(int windowsError) {
  switch (windowsError) {
    case ERROR_FILE_NOT_FOUND:
      return "The system cannot find the file specified";
    case ERROR_PATH_NOT_FOUND:
      return "The system cannot find the path specified";
    case ERROR_TOO_MANY_OPEN_FILES:
      return "The system cannot open the file";
    case ERROR_ACCESS_DENIED:
      return "Access is denied";
    case ERROR_SHARING_VIOLATION:
      return "The process cannot access the file because it is being used by another process";
    case ERROR_DISK_FULL:
      return "There is not enough space on the disk";
    case ERROR_ALREADY_EXISTS:
      return "Cannot create a file when that file already exists";
    case ERROR_NO_MORE_FILES:
      return "There are no more files";
    case ERROR_FILE_EXISTS:
      return "The file exists";
    case ERROR_INVALID_PARAMETER:
      return "The parameter is incorrect";
    case ERROR_REQUEST_ABORTED:
      return "The request was aborted";
    default:
      return "The request could not be performed because of an I/O device error";
  }
}

std::string IntToStr(int64_t value) {
  return std::to_string(value);
}

int64_t StrToInt(const std::string& text) {
  const char* begin = text.c_str();
  while (*begin == ' ') ++begin;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(begin, &end, 10);
  if (*begin == '\0' || errno == ERANGE || *end != '\0')
    throw EConvertError("'" + text + "' is not a valid integer value");
  return value;
}

std::string UpperCase(const std::string& text) {
  std::string result = text;
  for (char& c : result) c = AsciiUpper(c);
  return result;
}

std::string LowerCase(const std::string& text) {
  std::string result = text;
  for (char& c : result) c = AsciiLower(c);
  return result;
}

int CompareText(const std::string& a, const std::string& b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const unsigned char x = AsciiUpper(a[i]), y = AsciiUpper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool SameText(const std::string& a, const std::string& b) {
  return CompareText(a, b) == 0;
}
