// The archive engine's exceptions, its code-to-message table and the mapping
// of any exception to the error class and code of a failure report.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "platform/SysUtils.h"

// The message of engine error `code`, or an empty text when the table has no such row.
std::string AbMessageOf(int32_t code);

// Base of the engine's exceptions. `ErrorCode` is 0 for a literal message
// ("Full Path Required", "Invalid Media", "Path not found", ...).
class EAbException : public Exception {
 public:
  explicit EAbException(std::string message) : Exception(std::move(message)) {}
  EAbException(std::string message, int32_t errorCode)
      : Exception(std::move(message)), ErrorCode(errorCode) {}
  int32_t ErrorCode = 0;
};

// A coded exception whose message is the table row of `TCode`.
template <class TParent, int32_t TCode>
class TAbCodedException : public TParent {
 public:
  static constexpr int32_t Code = TCode;
  TAbCodedException() : TParent(AbMessageOf(TCode), TCode) {}
};

class EAbBadStream : public TAbCodedException<EAbException, 21> {};
class EAbDuplicateName : public TAbCodedException<EAbException, 7> {};
class EAbFileNotFound : public TAbCodedException<EAbException, 25> {};
class EAbNoArchive : public TAbCodedException<EAbException, 27> {};
class EAbUserAbort : public TAbCodedException<EAbException, 9> {};
class EAbNoSuchDirectory : public TAbCodedException<EAbException, 19> {};
class EAbUnhandledType : public TAbCodedException<EAbException, 35> {};
class EAbSpanningNotSupported : public TAbCodedException<EAbException, 36> {};

// The group of the ZIP kind's failures; it has no code of its own.
class EAbZipException : public EAbException {
 public:
  using EAbException::EAbException;
};

class EAbZipVersion : public TAbCodedException<EAbZipException, 1> {};
class EAbZipInvalidMethod : public TAbCodedException<EAbZipException, 2> {};
class EAbZipNoExtraction : public TAbCodedException<EAbZipException, 3> {};
class EAbZipInvalidPassword : public TAbCodedException<EAbZipException, 4> {};
class EAbZipNoInsertion : public TAbCodedException<EAbZipException, 5> {};
class EAbZipInvalidFactor : public TAbCodedException<EAbZipException, 6> {};
class EAbZipBadSpanStream : public TAbCodedException<EAbZipException, 13> {};
class EAbZipSpanOverwrite : public TAbCodedException<EAbZipException, 15> {};
class EAbZipBadCRC : public TAbCodedException<EAbZipException, 23> {};
class EAbZipInvalidLFH : public TAbCodedException<EAbZipException, 26> {};
class EAbZipInvalid : public TAbCodedException<EAbZipException, 28> {};
class EAbReadError : public TAbCodedException<EAbZipException, 29> {};
class EAbBBSSeekOutsideBuffer : public TAbCodedException<EAbZipException, 41> {};
class EAbBBSInvalidOrigin : public TAbCodedException<EAbZipException, 42> {};

// "BBS: request to read too many bytes [COUNT]"
class EAbBBSReadTooManyBytes : public EAbZipException {
 public:
  static constexpr int32_t Code = 40;
  explicit EAbBBSReadTooManyBytes(int32_t count);
};
// "BBS: request to write too many bytes [COUNT]"
class EAbBBSWriteTooManyBytes : public EAbZipException {
 public:
  static constexpr int32_t Code = 43;
  explicit EAbBBSWriteTooManyBytes(int32_t count);
};
// "VMS: invalid origin ORIGIN, should be 0, 1, 2"
class EAbVMSInvalidOrigin : public EAbZipException {
 public:
  static constexpr int32_t Code = 201;
  explicit EAbVMSInvalidOrigin(int32_t origin);
};
// "VMS: Cannot open swap file NAME"
class EAbVMSErrorOpenSwap : public EAbZipException {
 public:
  static constexpr int32_t Code = 202;
  explicit EAbVMSErrorOpenSwap(const std::string& swapFileName);
};
// "VMS: Failed to seek in swap file NAME"
class EAbVMSSeekFail : public EAbZipException {
 public:
  static constexpr int32_t Code = 203;
  explicit EAbVMSSeekFail(const std::string& swapFileName);
};
// "VMS: Failed to read COUNT bytes from swap file NAME"
class EAbVMSReadFail : public EAbZipException {
 public:
  static constexpr int32_t Code = 204;
  EAbVMSReadFail(int32_t count, const std::string& swapFileName);
};
// "VMS: Failed to write COUNT bytes to swap file NAME"
class EAbVMSWriteFail : public EAbZipException {
 public:
  static constexpr int32_t Code = 205;
  EAbVMSWriteFail(int32_t count, const std::string& swapFileName);
};

// Error class of a failure report, in this order.
enum TAbErrorClass {
  ecCorvel,
  ecInOutError,
  ecFilerError,
  ecFileCreateError,
  ecFileOpenError,
  ecCabError,
  ecOther,
};

// Classifies `e` for OnProcessItemFailure: an engine exception gives
// (ecCorvel, its code); the platform's input/output error (ecInOutError, its
// Windows code); a stream read or write error, a file-open error and a
// file-create error give their class and 0; anything else (ecOther, 0).
void AbClassifyException(const std::exception& e, TAbErrorClass& errorClass, int32_t& errorCode);
