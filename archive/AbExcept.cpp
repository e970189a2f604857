#include "archive/AbExcept.h"

#include <array>

namespace {

struct TAbMessageRow {
  int32_t Code;
  const char* Message;
};

// Codes are unique. Rows from 50 on belong to archive kinds and dialogs this
// system does not have; they are kept so no code is ever reused.
constexpr std::array<TAbMessageRow, 146> kMessages = {{
    {1, "Cannot extract file - newer version required"},
    {2, "Cannot extract file - unsupported compression method"},
    {3, "Cannot extract file - no extraction support provided"},
    {4, "Cannot extract file - invalid password"},
    {5, "Cannot insert file - no insertion support provided"},
    {6, "Invalid Reduce Factor"},
    {7, "Cannot insert file - duplicates stored name"},
    {8, "Cannot insert file - unsupported compression method"},
    {9, "Process aborted by user"},
    {10, "Archive is busy - cannot process new requests"},
    {11, "Insert floppy"},
    {12, "Insert the last disk in the spanned disk set"},
    {13, "Spanned archives must be opened as file streams"},
    {14, "Insert disk number %d of the spanned disk set"},
    {15, "Cannot update an existing spanned disk set"},
    {16, "Cannot make a self-extracting spanned disk set"},
    {17, "Insert a blank floppy disk"},
    {18, "Stream write error"},
    {19, "Directory does not exist"},
    {20, "Cannot inflate block"},
    {21, "Invalid Stream"},
    {22, "Error truncating Zip File"},
    {23, "Failed CRC Check"},
    {24, "Stub must be an executable"},
    {25, "File not found"},
    {26, "Invalid Local File Header entry"},
    {27, "Archive does not exist - FileName is blank"},
    {28, "Invalid file - not a PKZip file"},
    {29, "Error reading archive"},
    {30, "Invalid archive item index"},
    {31, "Invalid archive size threshold"},
    {32, "Specify spanned image file # "},
    {33, "Specify the last file name in the spanned image set"},
    {34, "Image file name"},
    {35, "Unhandled Archive Type"},
    {36, "Spanning not supported by this Archive type"},
    {37, "Insert span number %d of the spanned file set"},
    {38, "Error creating Log File"},
    {40, "BBS: request to read too many bytes [%d]"},
    {41, "BBS: New position is outside the buffer"},
    {42, "BBS: Invalid Origin value"},
    {43, "BBS: request to write too many bytes [%d]"},
    {50, "Cannot load cabinet.dll"},
    {51, "FCI: Cannot open file"},
    {52, "FCI: Cannot read file"},
    {53, "FCI: Cannot write file"},
    {54, "FCI: Cannot close file"},
    {55, "FCI: Cannot seek in file"},
    {56, "FCI: Cannot delete file"},
    {57, "FCI: Cannot add file to cabinet"},
    {58, "FCI: Cannot create cabinet context"},
    {59, "FCI: Cannot flush cabinet"},
    {60, "FCI: Cannot flush folder"},
    {61, "FDI: Cannot copy file from cabinet"},
    {62, "FDI: Cannot create cabinet context"},
    {63, "Cannot find cabinet file"},
    {64, "Invalid file - not a cabinet file"},
    {80, "TabSlidingWindowStream.Write: Not at end of stream"},
    {81, "TabSlidingWindowStream.Write: Window is full"},
    {82, "TabSlidingWindowStream.Read: Not enough data in window"},
    {83, "TabSlidingWindowStream.Seek: invalid origin"},
    {84, "TabSlidingWindowStream.Seek: invalid new position"},
    {100, "Version %s"},
    {101, "Stored"},
    {102, "Shrunk"},
    {103, "Reduced"},
    {104, "Reduced"},
    {105, "Reduced"},
    {106, "Reduced"},
    {107, "Imploded"},
    {108, "Tokenized"},
    {109, "Deflated"},
    {110, "Enhanced Deflation"},
    {111, "DCL Imploded"},
    {112, "Best Method"},
    {113, "Compressed Size: %d"},
    {114, "CRC: %s"},
    {115, "Disk Path: %s"},
    {116, "External Attributes: %s"},
    {117, "File Name: %s"},
    {118, "Last Modified: %s"},
    {119, "Compression Method: %s"},
    {120, "Uncompressed Size: %d"},
    {121, "Version Made By: %s"},
    {122, "Version Needed To Extract: %s"},
    {123, "r"},
    {124, "h"},
    {125, "s"},
    {126, "a"},
    {127, "Internal Attributes: %s"},
    {128, "Text"},
    {129, "Binary"},
    {130, "Encrypted"},
    {131, "Not Encrypted"},
    {132, "Unknown"},
    {133, "Comment: %s"},
    {134, "*.zip"},
    {135, "Zip Files (*.zip)|*.ZIP|All Files (*.*)|*.*"},
    {136, "Open Archive"},
    {137, "Select Files to Add"},
    {138, "Extract To"},
    {139, "&Recurse"},
    {140, "&Strip Path"},
    {141, "&Password"},
    {142, "&Verify"},
    {150, "*.cab"},
    {151, "Cabinet Files (*.cab)|*.CAB|All Files (*.*)|*.*"},
    {152, "*.gz"},
    {153, "GZip Files (*.gz)|*.GZ|All Files (*.*)|*.*"},
    {154, "*.exe"},
    {155, "Self-Extracting Zip Files (*.exe)|*.EXE|All Files (*.*)|*.*"},
    {200, "VMS: request to read too many bytes [%d]"},
    {201, "VMS: invalid origin %d, should be 0, 1, 2"},
    {202, "VMS: Cannot open swap file %s"},
    {203, "VMS: Failed to seek in swap file %s"},
    {204, "VMS: Failed to read %d bytes from swap file %s"},
    {205, "VMS: Failed to write %d bytes to swap file %s"},
    {206, "VMS: request to write too many bytes [%d]"},
    {250, "Name"},
    {251, "Path"},
    {252, "Ratio"},
    {253, "Method"},
    {254, "Original Size"},
    {255, "Compressed Size"},
    {256, "Date"},
    {257, "Time"},
    {258, "CRC32"},
    {259, "Attributes"},
    {260, "Encrypted"},
    {261, "Version Made"},
    {262, "Version Needed"},
    {263, "Comment"},
    {264, "Executable"},
    {290, "None"},
    {291, "MSZip"},
    {310, " added "},
    {311, " deleted "},
    {312, " extracted "},
    {313, " freshened "},
    {314, " moved "},
    {315, " replaced "},
    {316, " logging "},
    {400, "Invalid Gzip"},
    {401, "Bad CRC"},
    {402, "Bad File Size"},
    {513, "Unhandled Entity"},
}};

// Rows in rising code order, each with a text: so every code is unique and
// no row is left empty by a miscounted table size.
constexpr bool RowsAreOrderedAndFilled() {
  for (size_t i = 0; i < kMessages.size(); ++i) {
    if (kMessages[i].Message == nullptr) return false;
    if (i > 0 && kMessages[i].Code <= kMessages[i - 1].Code) return false;
  }
  return true;
}
static_assert(RowsAreOrderedAndFilled(), "message table rows must rise and carry a text");

// The table text of `code` with its %d and %s filled in, in the text's order.
template <class... TArgs>
std::string FormattedMessage(int32_t code, TArgs... args) {
  return Format(AbMessageOf(code).c_str(), args...);
}

}  // namespace

std::string AbMessageOf(int32_t code) {
  for (const TAbMessageRow& row : kMessages) {
    if (row.Code == code) return row.Message;
  }
  return std::string();
}

EAbBBSReadTooManyBytes::EAbBBSReadTooManyBytes(int32_t count)
    : EAbZipException(FormattedMessage(Code, int(count)), Code) {}

EAbBBSWriteTooManyBytes::EAbBBSWriteTooManyBytes(int32_t count)
    : EAbZipException(FormattedMessage(Code, int(count)), Code) {}

EAbVMSInvalidOrigin::EAbVMSInvalidOrigin(int32_t origin)
    : EAbZipException(FormattedMessage(Code, int(origin)), Code) {}

EAbVMSErrorOpenSwap::EAbVMSErrorOpenSwap(const std::string& swapFileName)
    : EAbZipException(FormattedMessage(Code, swapFileName.c_str()), Code) {}

EAbVMSSeekFail::EAbVMSSeekFail(const std::string& swapFileName)
    : EAbZipException(FormattedMessage(Code, swapFileName.c_str()), Code) {}

EAbVMSReadFail::EAbVMSReadFail(int32_t count, const std::string& swapFileName)
    : EAbZipException(FormattedMessage(Code, int(count), swapFileName.c_str()), Code) {}

EAbVMSWriteFail::EAbVMSWriteFail(int32_t count, const std::string& swapFileName)
    : EAbZipException(FormattedMessage(Code, int(count), swapFileName.c_str()), Code) {}

void AbClassifyException(const std::exception& e, TAbErrorClass& errorClass, int32_t& errorCode) {
  errorClass = ecOther;
  errorCode = 0;
  if (const auto* engine = dynamic_cast<const EAbException*>(&e)) {
    errorClass = ecCorvel;
    errorCode = engine->ErrorCode;
  } else if (const auto* inOut = dynamic_cast<const EInOutError*>(&e)) {
    errorClass = ecInOutError;
    errorCode = inOut->ErrorCode;
  } else if (dynamic_cast<const EFilerError*>(&e)) {
    errorClass = ecFilerError;
  } else if (dynamic_cast<const EFOpenError*>(&e)) {
    errorClass = ecFileOpenError;
  } else if (dynamic_cast<const EFCreateError*>(&e)) {
    errorClass = ecFileCreateError;
  }
}
