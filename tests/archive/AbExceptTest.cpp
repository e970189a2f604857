#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "archive/AbExcept.h"

TEST(AbMessageOf, AnswersTheTableTextOrNothing) {
  const struct {
    int32_t Code;
    const char* Message;
  } cases[] = {
      {1, "Cannot extract file - newer version required"},
      {4, "Cannot extract file - invalid password"},
      {9, "Process aborted by user"},
      {14, "Insert disk number %d of the spanned disk set"},
      {25, "File not found"},
      {27, "Archive does not exist - FileName is blank"},
      {28, "Invalid file - not a PKZip file"},
      {38, "Error creating Log File"},
      {42, "BBS: Invalid Origin value"},
      {205, "VMS: Failed to write %d bytes to swap file %s"},
      {310, " added "},
      {316, " logging "},
      {513, "Unhandled Entity"},
      {0, ""},
      {39, ""},
      {44, ""},
      {-1, ""},
      {514, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Code);
    EXPECT_EQ(AbMessageOf(c.Code), c.Message);
  }
}

TEST(EngineExceptions, TakeTheirTextAndCodeFromTheTable) {
  const struct {
    EAbException Error;
    int32_t Code;
    const char* Message;
  } cases[] = {
      {EAbBadStream(), 21, "Invalid Stream"},
      {EAbDuplicateName(), 7, "Cannot insert file - duplicates stored name"},
      {EAbFileNotFound(), 25, "File not found"},
      {EAbNoArchive(), 27, "Archive does not exist - FileName is blank"},
      {EAbUserAbort(), 9, "Process aborted by user"},
      {EAbNoSuchDirectory(), 19, "Directory does not exist"},
      {EAbUnhandledType(), 35, "Unhandled Archive Type"},
      {EAbSpanningNotSupported(), 36, "Spanning not supported by this Archive type"},
      {EAbZipVersion(), 1, "Cannot extract file - newer version required"},
      {EAbZipInvalidMethod(), 2, "Cannot extract file - unsupported compression method"},
      {EAbZipNoExtraction(), 3, "Cannot extract file - no extraction support provided"},
      {EAbZipInvalidPassword(), 4, "Cannot extract file - invalid password"},
      {EAbZipNoInsertion(), 5, "Cannot insert file - no insertion support provided"},
      {EAbZipInvalidFactor(), 6, "Invalid Reduce Factor"},
      {EAbZipBadSpanStream(), 13, "Spanned archives must be opened as file streams"},
      {EAbZipSpanOverwrite(), 15, "Cannot update an existing spanned disk set"},
      {EAbZipBadCRC(), 23, "Failed CRC Check"},
      {EAbZipInvalidLFH(), 26, "Invalid Local File Header entry"},
      {EAbZipInvalid(), 28, "Invalid file - not a PKZip file"},
      {EAbReadError(), 29, "Error reading archive"},
      {EAbBBSSeekOutsideBuffer(), 41, "BBS: New position is outside the buffer"},
      {EAbBBSInvalidOrigin(), 42, "BBS: Invalid Origin value"},
      {EAbBBSReadTooManyBytes(40000), 40, "BBS: request to read too many bytes [40000]"},
      {EAbBBSWriteTooManyBytes(33793), 43, "BBS: request to write too many bytes [33793]"},
      {EAbVMSInvalidOrigin(7), 201, "VMS: invalid origin 7, should be 0, 1, 2"},
      {EAbVMSErrorOpenSwap("C:\\T\\VMS1.TMP"), 202, "VMS: Cannot open swap file C:\\T\\VMS1.TMP"},
      {EAbVMSSeekFail("C:\\T\\VMS1.TMP"), 203, "VMS: Failed to seek in swap file C:\\T\\VMS1.TMP"},
      {EAbVMSReadFail(4096, "C:\\T\\VMS2A.TMP"), 204,
       "VMS: Failed to read 4096 bytes from swap file C:\\T\\VMS2A.TMP"},
      {EAbVMSWriteFail(4096, "C:\\T\\VMS2A.TMP"), 205,
       "VMS: Failed to write 4096 bytes to swap file C:\\T\\VMS2A.TMP"},
      {EAbException("Full Path Required"), 0, "Full Path Required"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Message);
    EXPECT_EQ(c.Error.ErrorCode, c.Code);
    EXPECT_STREQ(c.Error.what(), c.Message);
  }
}

TEST(EngineExceptions, ZipFailuresBelongToTheZipGroup) {
  EXPECT_THROW(throw EAbZipBadCRC(), EAbZipException);
  EXPECT_THROW(throw EAbVMSReadFail(1, "x"), EAbZipException);
  EXPECT_THROW(throw EAbUserAbort(), EAbException);
  EXPECT_THROW(throw EAbZipInvalid(), Exception);
}

TEST(AbClassifyException, MapsEngineAndPlatformFailures) {
  const struct {
    const char* Name;
    std::function<void()> Raise;
    TAbErrorClass Class;
    int32_t Code;
  } cases[] = {
      {"user abort", [] { throw EAbUserAbort(); }, ecCorvel, 9},
      {"bad CRC", [] { throw EAbZipBadCRC(); }, ecCorvel, 23},
      {"literal engine text", [] { throw EAbException("Invalid Media"); }, ecCorvel, 0},
      {"input/output", [] { throw EInOutError(112); }, ecInOutError, 112},
      {"stream read", [] { throw EReadError(); }, ecFilerError, 0},
      {"stream write", [] { throw EWriteError(); }, ecFilerError, 0},
      {"file open", [] { throw EFOpenError("C:\\X.MDF", 2); }, ecFileOpenError, 0},
      {"file create", [] { throw EFCreateError("C:\\X.MDF", 5); }, ecFileCreateError, 0},
      {"conversion", [] { throw EConvertError("'x' is not a valid integer value"); }, ecOther, 0},
      {"arithmetic", [] { throw std::overflow_error("Division by zero"); }, ecOther, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TAbErrorClass errorClass = ecCabError;
    int32_t errorCode = -5;
    try {
      c.Raise();
      FAIL() << "nothing raised";
    } catch (const std::exception& e) {
      AbClassifyException(e, errorClass, errorCode);
    }
    EXPECT_EQ(errorClass, c.Class);
    EXPECT_EQ(errorCode, c.Code);
  }
}
