// The in-memory table the programs keep their settings and lists in: named,
// typed fields, records held in memory with a null state and an update status
// each, a cursor, and the open / append / edit / post cycle of a dataset.
// Its binary file format lives with the program that stores it
// (backup/BinaryTableFormat.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/DateTime.h"
#include "platform/SysUtils.h"

// Failures of the table: "Field '%s' not found",
// "Cannot perform this operation on a closed dataset", ...
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// Field types; the numbers are the type codes stored in table files.
enum TFieldType : int {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftHugeBlob,
  ftHugeClob,
  ftVariant,
  ftInterface,
  ftDispatch,
  ftGuid,
  ftSQLTimeStamp,
  ftFMTBcd,
};
constexpr int kFieldTypeCount = int(ftFMTBcd) + 1;

// How a value of each type is held: the alternative of TFieldValue it uses.
enum class TFieldStorage { None, Boolean, Integer, Float, Text };
// None for the types no table can hold (Unknown, Cursor, Reference, DataSet,
// Variant, Interface, Dispatch). Integer: SmallInt, Integer, Word, AutoInc,
// LargeInt. Float: Float, Currency, BCD, Date, Time, DateTime. Text: the rest.
TFieldStorage FieldStorageOf(TFieldType type);

enum TFieldKind : int { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

// Status of a record, stored in table files.
enum TUpdateStatus : int { usUnmodified = 0, usModified = 1, usInserted = 2, usDeleted = 3 };

enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

// One stored value: null, or the alternative FieldStorageOf gives its field.
using TFieldValue = std::variant<std::monostate, bool, int64_t, double, std::string>;

struct TFieldDef {
  std::string Name;
  TFieldType DataType = ftString;
  // Text types: the most characters a value keeps (longer texts are cut);
  // Bytes and VarBytes: the most bytes. Ignored by the other types.
  int Size = 0;
  std::string DisplayLabel;  // empty: the display name is the field name
  std::string EditMask;
  int DisplayWidth = 0;   // 0: the type's usual width (the size for text)
  bool Required = false;  // carried in files; not enforced
  bool ReadOnly = false;  // carried in files; not enforced
  TFieldKind FieldKind = fkData;
  std::string DefaultExpression;  // carried in files; not evaluated
};

struct TIndexDef {
  std::string Name;
  std::string Fields;
  std::string DisplayName;
  bool Descending = false;
  bool CaseInsensitive = false;
  bool NonMaintained = false;
  bool Unique = false;
};

class TMemTable;

// A field of a table. Reads and writes go to the current record (or to the
// record being edited or appended). Reading a null field gives "", false, 0.
class TField {
 public:
  TField(TMemTable& table, TFieldDef def, int index);

  const std::string& FieldName() const { return FDef.Name; }
  TFieldType DataType() const { return FDef.DataType; }
  int Size() const { return FDef.Size; }
  const std::string& DisplayName() const;
  int DisplayWidth() const;
  const TFieldDef& Def() const { return FDef; }
  int Index() const { return FIndex; }  // position in the table, from 0

  bool IsNull() const;
  // Text of the value as the Turkish settings of the programs show it:
  // "True"/"False", decimal comma (1,5), dates dd.mm.yyyy, times hh:nn:ss, a
  // date-time without a time of day as its date alone. The setters and the
  // readers of other types accept the same forms (and a decimal point).
  std::string AsString() const;
  bool AsBoolean() const;
  int64_t AsInteger() const;
  double AsFloat() const;
  TDateTime AsDateTime() const;

  // The setters need the table in edit or insert mode. Text is cut to the
  // field's size; a date field keeps the whole days, a time field the time of
  // day; integers outside the type's range and values the type cannot take
  // raise EDatabaseError or EConvertError. SetAsString("") on a field that does
  // not hold text makes it null.
  void SetAsString(const std::string& value);
  void SetAsBoolean(bool value);
  void SetAsInteger(int64_t value);
  void SetAsFloat(double value);
  void SetAsDateTime(TDateTime value);
  void Clear();

 private:
  const TFieldValue& Value() const;
  void Store(TFieldValue value);
  [[noreturn]] void AccessError(const char* typeName) const;

  TMemTable& FTable;
  TFieldDef FDef;
  int FIndex;
};

// Records are kept in order of appending; the table has no active index.
class TMemTable {
 public:
  struct TRecordData {
    std::vector<TFieldValue> Values;
    TUpdateStatus Status = usUnmodified;
  };

  TMemTable() = default;
  TMemTable(const TMemTable&) = delete;
  TMemTable& operator=(const TMemTable&) = delete;

  // Field definitions can change only while the table is closed
  // ("Cannot perform this operation on an open dataset").
  TField& AddField(const TFieldDef& def);
  TField& AddField(const std::string& name, TFieldType type, int size = 0);
  void ClearFields();
  int FieldCount() const { return int(FFields.size()); }
  TField& Fields(int index);
  const TField& Fields(int index) const;
  // "Field '%s' not found" when there is none; names compare without regard to case.
  TField& FieldByName(const std::string& name);
  TField* FindField(const std::string& name);

  std::vector<TIndexDef>& IndexDefs() { return FIndexDefs; }
  const std::vector<TIndexDef>& IndexDefs() const { return FIndexDefs; }

  // Opening gives an empty table; closing drops every record and any pending edit.
  void Open();
  void Close();
  bool Active() const { return FState != dsInactive; }
  TDataSetState State() const { return FState; }

  // Every operation below needs the table open
  // ("Cannot perform this operation on a closed dataset").
  // Append and Edit post a pending edit first. Edit on an empty table appends.
  void Append();
  void Edit();
  // Stores the pending record: appended records get usUnmodified, edited ones
  // usModified. "Dataset not in edit or insert mode" when nothing is pending.
  void Post();
  void Cancel();
  void EmptyTable();

  int RecordCount() const;
  // Current record from 1, 0 when the table is empty.
  int RecNo() const;
  // Moves to record `value` (from 1); out-of-range values are clamped.
  void SetRecNo(int value);
  void First();
  void Last();
  void Next();
  void Prior();
  bool Eof() const;
  bool Bof() const;

  // Status of the current record; the setter is for loaders that restore it.
  TUpdateStatus UpdateStatus() const;
  void SetUpdateStatus(TUpdateStatus status);

  // The stored records, for writers of table files (pending edits excluded).
  const TRecordData& StoredRecord(int index) const;

 private:
  friend class TField;
  void CheckActive() const;
  void CheckInactive() const;
  void CheckBrowseMode();
  const TFieldValue& CurrentValue(int field) const;
  void SetCurrentValue(int field, TFieldValue value);

  std::vector<std::unique_ptr<TField>> FFields;
  std::vector<TIndexDef> FIndexDefs;
  std::vector<TRecordData> FRecords;
  TRecordData FPending;  // the record in edit or insert mode
  TDataSetState FState = dsInactive;
  int FCurrent = -1;  // index of the current record, -1 when there is none
  bool FBof = true;
  bool FEof = true;
};
