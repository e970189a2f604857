// The binary file format of the in-memory table: the settings file
// C:\Zelvora\Vozidir.zvr is a table written in it, and another program of the
// suite reads and edits the same file, so the byte layout is fixed.
//
// Layout (little-endian, tagged values): "TPF0"; the format version; the field
// definitions; the index definitions; the data type header; the records, each
// with its update status and, per field, a null flag and the value. Files of
// versions 100, 200, 230, 249 and 250 are read too; files are written as 251.
#pragma once

#include <string>

#include "platform/Classes.h"
#include "platform/MemTable.h"

class TBinaryTableFormat {
 public:
  static constexpr int kFileVersion = 251;
  static constexpr int kMinBufferSize = 16384;

  virtual ~TBinaryTableFormat() = default;

  // Version of the format object, "3.00".
  std::string Version() const { return "3.00"; }
  int BufferSize() const { return FBufferSize; }
  // Settings below 16384 are raised to 16384.
  void SetBufferSize(int size);

  // Writes the whole open table at the stream's position. The cursor, the
  // state and a pending edit of the table are left alone (the pending edit is
  // not written). "Cannot perform this operation on a closed dataset" for a
  // closed table; EWriteError when the stream refuses bytes.
  virtual void SaveToStream(const TMemTable& table, TStream& stream);

  // Reads a table from the stream's position and leaves the cursor on the
  // first record and the stream just after the table. Definitions in the
  // stream replace the table's fields (and its index definitions); records
  // replace its records. Failures: EReadError "Invalid stream format",
  // "Invalid property value", "Stream read error"; EDatabaseError
  // "Unknown field type (NAME)", "Couldnt determine field count for load.".
  // After a failure the table may be closed or partly filled.
  virtual void LoadFromStream(TMemTable& table, TStream& stream);

  // Writes the table to a new temporary file in the same folder and only then
  // puts it in place of `fileName`, so a failed save (disk full, write error)
  // leaves the previous file as it was and no temporary file behind. A
  // read-only file is not replaced: EFCreateError "... Access is denied".
  void SaveToFile(const TMemTable& table, const std::string& fileName);
  // Opens the file for reading, denying writers, and loads it; EFOpenError
  // when it cannot be opened. The file is never changed.
  void LoadFromFile(TMemTable& table, const std::string& fileName);

 private:
  int FBufferSize = kMinBufferSize;
};
