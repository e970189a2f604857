// The platform's exceptions with the texts of the Windows platform, and the
// small formatting helpers the rest of the system builds its messages with.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

// Base of every exception of the system: a message text.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const std::string& Message() const { return FMessage; }
  void SetMessage(std::string message) { FMessage = std::move(message); }
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
};

// Input/output error of the runtime: a Windows error code and its short text
// ("File not found", "File access denied", "I/O error 112").
class EInOutError : public Exception {
 public:
  explicit EInOutError(int errorCode);
  EInOutError(int errorCode, std::string message)
      : Exception(std::move(message)), ErrorCode(errorCode) {}
  int ErrorCode;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

// Reading or writing a stream failed ("Stream read error", "Stream write error").
class EFilerError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EReadError : public EFilerError {
 public:
  EReadError() : EFilerError("Stream read error") {}
  using EFilerError::EFilerError;
};
class EWriteError : public EFilerError {
 public:
  EWriteError() : EFilerError("Stream write error") {}
  using EFilerError::EFilerError;
};

class EFileStreamError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
// Cannot open file "NAME". MESSAGE
class EFOpenError : public EFileStreamError {
 public:
  EFOpenError(const std::string& fileName, int windowsError);
};
// Cannot create file "NAME". MESSAGE
class EFCreateError : public EFileStreamError {
 public:
  EFCreateError(const std::string& fileName, int windowsError);
};

// A broken contract. Checked in every build; carries the fixed message and
// where it was raised, as "MESSAGE (FILE, line N)".
class EAssertionFailed : public Exception {
 public:
  EAssertionFailed(const std::string& message, const char* file, int line);
  const std::string& FixedMessage() const { return FFixedMessage; }

 private:
  std::string FFixedMessage;
};

class EInvalidCast : public Exception {
 public:
  EInvalidCast() : Exception("Invalid class typecast") {}
};

class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Raises EAssertionFailed with `message` when `condition` is false, in every build.
#define ZASSERT(condition, message)                                          \
  do {                                                                       \
    if (!(condition)) throw EAssertionFailed((message), __FILE__, __LINE__); \
  } while (false)

// printf-style formatting into a std::string (the %d and %s of the message tables).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Windows error codes the layer reports, and their texts.
enum : int {
  ERROR_FILE_NOT_FOUND = 2,
  ERROR_PATH_NOT_FOUND = 3,
  ERROR_TOO_MANY_OPEN_FILES = 4,
  ERROR_ACCESS_DENIED = 5,
  ERROR_NO_MORE_FILES = 18,
  ERROR_SHARING_VIOLATION = 32,
  ERROR_FILE_EXISTS = 80,
  ERROR_INVALID_PARAMETER = 87,
  ERROR_DISK_FULL = 112,
  ERROR_ALREADY_EXISTS = 183,
  ERROR_IO_DEVICE = 1117,
  ERROR_REQUEST_ABORTED = 1235,
};

// The Windows code of a host errno. `hostPath`, when given, tells a missing
// file (2) from a missing folder on its way (3).
int WindowsErrorOf(int errnoValue, const std::string& hostPath = std::string());
// Short text of the runtime's input/output error: "File not found", "I/O error 112".
std::string InOutErrorText(int windowsError);
// The system message of a Windows code, as in "The system cannot find the file specified".
std::string SysErrorMessage(int windowsError);

// Decimal text of an integer, and back; StrToInt raises EConvertError
// ("'x' is not a valid integer value").
std::string IntToStr(int64_t value);
int64_t StrToInt(const std::string& text);
// ASCII upper and lower case; other bytes (UTF-8 letters) stay as they are.
std::string UpperCase(const std::string& text);
std::string LowerCase(const std::string& text);
// Compares without regard to ASCII case: <0, 0, >0.
int CompareText(const std::string& a, const std::string& b);
bool SameText(const std::string& a, const std::string& b);
