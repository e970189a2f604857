#include "backup/BinaryTableFormat.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "platform/DriveMap.h"
#include "platform/FileSystem.h"
#include "platform/SysUtils.h"

namespace {

// Tags of the value stream.
enum : uint8_t {
  vaNull = 0x00,  // end of a list
  vaList = 0x01,
  vaInt8 = 0x02,
  vaInt16 = 0x03,
  vaInt32 = 0x04,
  vaExtended = 0x05,
  vaString = 0x06,
  vaFalse = 0x08,
  vaTrue = 0x09,
  vaLString = 0x0C,
  vaWString = 0x12,
  vaInt64 = 0x13,
  vaUTF8String = 0x14,
};

// Versions that added parts of the layout.
constexpr int kIndexDefsSince = 200;
constexpr int kRecordListsSince = 230;
constexpr int kNullFlagsSince = 249;
constexpr int kFieldKindSince = 250;
constexpr int kDefaultExpressionSince = 251;

const char* const kTypeNames[kFieldTypeCount] = {
    "Unknown",     "String",       "SmallInt",   "Integer",    "Word",     "Boolean",    "Float",
    "Currency",    "BCD",          "Date",       "Time",       "DateTime", "Bytes",      "VarBytes",
    "AutoInc",     "Blob",         "Memo",       "Graphic",    "FmtMemo",  "ParadoxOle", "dBaseOle",
    "TypedBinary", "Cursor",       "FixedChar",  "WideString", "LargeInt", "ADT",        "Array",
    "Reference",   "DataSet",      "HugeBlob",   "HugeClob",   "Variant",  "Interface",  "Dispatch",
    "Guid",        "SQLTimeStamp", "FMTBcdField"};

const char* const kKindNames[] = {"Data", "Calculated", "Lookup", "InternalCalc", "Aggregate"};

[[noreturn]] void InvalidPropertyValue() {
  throw EReadError("Invalid property value");
}

// ---------------------------------------------------------- 80-bit numbers

// An 80-bit extended number: 64-bit significand with an explicit integer bit,
// 15-bit exponent biased by 16383, sign in the top bit.
struct TExtended {
  uint64_t Significand = 0;
  uint16_t SignExponent = 0;

  int Exponent() const { return SignExponent & 0x7FFF; }
  bool Negative() const { return (SignExponent & 0x8000) != 0; }
};

constexpr int kExtendedBias = 16383;

TExtended ExtendedOf(double value) {
  TExtended result;
  const uint16_t sign = std::signbit(value) ? 0x8000 : 0;
  if (std::isnan(value)) {
    result.Significand = 0xC000000000000000ull;
    result.SignExponent = sign | 0x7FFF;
  } else if (std::isinf(value)) {
    result.Significand = 0x8000000000000000ull;
    result.SignExponent = sign | 0x7FFF;
  } else if (value == 0) {
    result.SignExponent = sign;
  } else {
    int exponent = 0;
    const double fraction = std::frexp(std::fabs(value), &exponent);  // [0.5, 1)
    result.Significand = uint64_t(std::ldexp(fraction, 64));
    result.SignExponent = uint16_t(sign | (exponent - 1 + kExtendedBias));
  }
  return result;
}

// Exact for every 64-bit integer, which a double is not.
TExtended ExtendedOf(int64_t value) {
  TExtended result;
  if (value == 0) return result;
  uint64_t magnitude = value < 0 ? 0 - uint64_t(value) : uint64_t(value);
  int shift = 0;
  while (!(magnitude & 0x8000000000000000ull)) {
    magnitude <<= 1;
    ++shift;
  }
  result.Significand = magnitude;
  result.SignExponent = uint16_t((value < 0 ? 0x8000 : 0) | (kExtendedBias + 63 - shift));
  return result;
}

double DoubleOf(const TExtended& value) {
  const double sign = value.Negative() ? -1.0 : 1.0;
  if (value.Exponent() == 0x7FFF)
    return (value.Significand << 1) == 0 ? sign * std::numeric_limits<double>::infinity()
                                         : std::numeric_limits<double>::quiet_NaN();
  return sign * std::ldexp(double(value.Significand), value.Exponent() - kExtendedBias - 63);
}

// The nearest 64-bit integer (halves away from zero); nothing when out of range.
std::optional<int64_t> Int64Of(const TExtended& value) {
  if (value.Exponent() == 0x7FFF) return std::nullopt;
  const int shift = value.Exponent() - kExtendedBias - 63;  // value = significand * 2^shift
  uint64_t magnitude = 0;
  if (shift > 0) {
    if (value.Significand != 0) return std::nullopt;
  } else if (shift == 0) {
    magnitude = value.Significand;
  } else if (shift > -64) {
    magnitude = value.Significand >> -shift;
    if ((value.Significand >> (-shift - 1)) & 1) ++magnitude;
  } else if (shift == -64) {
    magnitude = value.Significand >> 63;  // 0.5 and more rounds to 1
  }
  if (value.Negative()) {
    if (magnitude > 0x8000000000000000ull) return std::nullopt;
    return int64_t(0 - magnitude);
  }
  if (magnitude > uint64_t(std::numeric_limits<int64_t>::max())) return std::nullopt;
  return int64_t(magnitude);
}

// ------------------------------------------------------------------- text

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += char(code);
  } else if (code < 0x800) {
    out += char(0xC0 | code >> 6);
    out += char(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += char(0xE0 | code >> 12);
    out += char(0x80 | (code >> 6 & 0x3F));
    out += char(0x80 | (code & 0x3F));
  } else {
    out += char(0xF0 | code >> 18);
    out += char(0x80 | (code >> 12 & 0x3F));
    out += char(0x80 | (code >> 6 & 0x3F));
    out += char(0x80 | (code & 0x3F));
  }
}

// UTF-16LE to UTF-8 (the ANSI code page); a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::vector<uint8_t>& bytes) {
  std::string out;
  const size_t count = bytes.size() / 2;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t unit = bytes[2 * i] | uint32_t(bytes[2 * i + 1]) << 8;
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < count) {
      const uint32_t low = bytes[2 * i + 2] | uint32_t(bytes[2 * i + 3]) << 8;
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
  }
  return out;
}

// ----------------------------------------------------------------- reader

// Reads tagged values through a buffer; running out of bytes raises
// "Stream read error". No length read from the stream is trusted: long texts
// are read in pieces, so a corrupt length fails at the end of the stream
// instead of allocating what it claims.
class TTagReader {
 public:
  TTagReader(TStream& stream, int bufferSize) : FStream(stream), FBuffer(size_t(bufferSize)) {}

  uint8_t NextTag() {
    if (FPos == FEnd) Fill();
    return FBuffer[FPos];
  }
  uint8_t ReadTag() {
    const uint8_t tag = NextTag();
    ++FPos;
    return tag;
  }

  void ReadBytes(void* dest, size_t count) {
    auto* out = static_cast<uint8_t*>(dest);
    while (count > 0) {
      if (FPos == FEnd) Fill();
      const size_t n = std::min(count, FEnd - FPos);
      std::memcpy(out, FBuffer.data() + FPos, n);
      FPos += n;
      out += n;
      count -= n;
    }
  }

  std::vector<uint8_t> ReadBlock(uint64_t count) {
    std::vector<uint8_t> bytes;
    while (count > 0) {
      if (FPos == FEnd) Fill();
      const size_t n = size_t(std::min<uint64_t>(count, FEnd - FPos));
      bytes.insert(bytes.end(), FBuffer.begin() + long(FPos), FBuffer.begin() + long(FPos + n));
      FPos += n;
      count -= n;
    }
    return bytes;
  }

  void ReadListBegin() {
    if (ReadTag() != vaList) InvalidPropertyValue();
  }
  void ReadListEnd() {
    if (ReadTag() != vaNull) InvalidPropertyValue();
  }
  bool EndOfList() { return NextTag() == vaNull; }

  bool ReadBoolean() { return ReadTag() == vaTrue; }

  int32_t ReadInteger() {
    switch (ReadTag()) {
      case vaInt8:
        return int8_t(ReadUnsigned(1));
      case vaInt16:
        return int16_t(ReadUnsigned(2));
      case vaInt32:
        return int32_t(ReadUnsigned(4));
      default:
        InvalidPropertyValue();
    }
  }

  // A floating-point value: tag 0x05, or an integer tag converted.
  TExtended ReadExtended() {
    const uint8_t tag = NextTag();
    if (tag == vaExtended) {
      ++FPos;
      TExtended value;
      value.Significand = ReadUnsigned(8);
      value.SignExponent = uint16_t(ReadUnsigned(2));
      return value;
    }
    if (tag == vaInt64) {
      ++FPos;
      return ExtendedOf(int64_t(ReadUnsigned(8)));
    }
    return ExtendedOf(int64_t(ReadInteger()));
  }

  std::string ReadString() {
    switch (ReadTag()) {
      case vaString:
        return Text(ReadBlock(ReadUnsigned(1)));
      case vaLString:
        return Text(ReadBlock(ReadUnsigned(4)));
      case vaUTF8String:  // UTF-8 is the ANSI code page here
        return Text(ReadBlock(ReadUnsigned(4)));
      case vaWString:
        return Utf16ToUtf8(ReadBlock(2 * ReadUnsigned(4)));
      default:
        InvalidPropertyValue();
    }
  }

  // Puts the stream back just after the last byte used.
  void SyncPosition() {
    if (FPos != FEnd) FStream.Seek(-int64_t(FEnd - FPos), soFromCurrent);
    FPos = FEnd = 0;
  }

 private:
  void Fill() {
    const int32_t n = FStream.Read(FBuffer.data(), int32_t(FBuffer.size()));
    if (n <= 0) throw EReadError();
    FPos = 0;
    FEnd = size_t(n);
  }

  uint64_t ReadUnsigned(int bytes) {
    uint8_t raw[8];
    ReadBytes(raw, size_t(bytes));
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | raw[i];
    return value;
  }

  static std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
  }

  TStream& FStream;
  std::vector<uint8_t> FBuffer;
  size_t FPos = 0, FEnd = 0;
};

// ----------------------------------------------------------------- writer

class TTagWriter {
 public:
  TTagWriter(TStream& stream, int bufferSize) : FStream(stream) {
    FBuffer.reserve(size_t(bufferSize));
    FLimit = size_t(bufferSize);
  }

  void WriteBytes(const void* data, size_t count) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (count > 0) {
      const size_t n = std::min(count, FLimit - FBuffer.size());
      FBuffer.insert(FBuffer.end(), bytes, bytes + n);
      bytes += n;
      count -= n;
      if (FBuffer.size() == FLimit) Flush();
    }
  }
  void WriteTag(uint8_t tag) { WriteBytes(&tag, 1); }

  void WriteListBegin() { WriteTag(vaList); }
  void WriteListEnd() { WriteTag(vaNull); }
  void WriteBoolean(bool value) { WriteTag(value ? vaTrue : vaFalse); }

  // The smallest of the three integer forms.
  void WriteInteger(int32_t value) {
    if (value >= -128 && value <= 127) {
      WriteTag(vaInt8);
      WriteUnsigned(uint8_t(value), 1);
    } else if (value >= -32768 && value <= 32767) {
      WriteTag(vaInt16);
      WriteUnsigned(uint16_t(value), 2);
    } else {
      WriteTag(vaInt32);
      WriteUnsigned(uint32_t(value), 4);
    }
  }

  void WriteExtended(const TExtended& value) {
    WriteTag(vaExtended);
    WriteUnsigned(value.Significand, 8);
    WriteUnsigned(value.SignExponent, 2);
  }

  // ASCII texts as 0x06 (up to 255 bytes) or 0x0C; any other as 0x14 in
  // UTF-8, which the ANSI code page already is.
  void WriteString(const std::string& text) {
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](char c) { return uint8_t(c) < 0x80; });
    if (ascii && text.size() <= 255) {
      WriteTag(vaString);
      WriteUnsigned(text.size(), 1);
    } else {
      ZASSERT(text.size() <= uint64_t(std::numeric_limits<int32_t>::max()),
              "TBinaryTableFormat.SaveToStream: text too long for the format");
      WriteTag(ascii ? vaLString : vaUTF8String);
      WriteUnsigned(text.size(), 4);
    }
    WriteBytes(text.data(), text.size());
  }

  void Flush() {
    FStream.WriteBuffer(FBuffer.data(), int32_t(FBuffer.size()));
    FBuffer.clear();
  }

 private:
  void WriteUnsigned(uint64_t value, int bytes) {
    uint8_t raw[8];
    for (int i = 0; i < bytes; ++i) raw[i] = uint8_t(value >> (8 * i));
    WriteBytes(raw, size_t(bytes));
  }

  TStream& FStream;
  std::vector<uint8_t> FBuffer;
  size_t FLimit;
};

// ------------------------------------------------------------------ load

bool IsDateType(TFieldType type) {
  return type == ftDate || type == ftTime || type == ftDateTime;
}

TFieldType TypeOfName(const std::string& name) {
  for (int code = 0; code < kFieldTypeCount; ++code)
    if (name == kTypeNames[code] && FieldStorageOf(TFieldType(code)) != TFieldStorage::None)
      return TFieldType(code);
  throw EDatabaseError(Format("Unknown field type (%s)", name.c_str()));
}

TFieldKind KindOfName(const std::string& name) {
  for (int kind = 0; kind <= int(fkAggregate); ++kind)
    if (name == kKindNames[kind]) return TFieldKind(kind);
  return fkData;
}

void LoadFieldDefs(TTagReader& reader, TMemTable& table, int version) {
  std::vector<TFieldDef> defs;
  reader.ReadListBegin();
  while (!reader.EndOfList()) {
    TFieldDef def;
    def.Name = reader.ReadString();
    def.DataType = TypeOfName(reader.ReadString());
    def.Size = reader.ReadInteger();
    reader.ReadString();  // display name and edit mask are not restored
    reader.ReadString();
    def.DisplayWidth = reader.ReadInteger();
    def.Required = reader.ReadBoolean();
    def.ReadOnly = reader.ReadBoolean();
    if (version >= kFieldKindSince) def.FieldKind = KindOfName(reader.ReadString());
    if (version >= kDefaultExpressionSince) def.DefaultExpression = reader.ReadString();
    defs.push_back(std::move(def));
  }
  reader.ReadListEnd();
  if (defs.empty()) return;
  table.Close();
  table.ClearFields();
  for (const TFieldDef& def : defs) table.AddField(def);
  table.Open();
}

void LoadIndexDefs(TTagReader& reader, TMemTable& table) {
  std::vector<TIndexDef> defs;
  reader.ReadListBegin();
  while (!reader.EndOfList()) {
    TIndexDef def;
    def.Name = reader.ReadString();
    def.Fields = reader.ReadString();
    def.DisplayName = reader.ReadString();
    def.Descending = reader.ReadBoolean();
    def.CaseInsensitive = reader.ReadBoolean();
    def.NonMaintained = reader.ReadBoolean();
    def.Unique = reader.ReadBoolean();
    defs.push_back(std::move(def));
  }
  reader.ReadListEnd();
  if (!defs.empty()) table.IndexDefs() = std::move(defs);
}

// The type codes are checked for form only: the table's fields steer the reading.
void SkipDataTypeHeader(TTagReader& reader) {
  reader.ReadListBegin();
  const int32_t count = reader.ReadInteger();
  for (int32_t i = 0; i < count; ++i) reader.ReadInteger();
  reader.ReadListEnd();
}

TFieldValue ReadValue(TTagReader& reader, const TField& field) {
  switch (FieldStorageOf(field.DataType())) {
    case TFieldStorage::Boolean:
      return reader.ReadBoolean();
    case TFieldStorage::Integer:
      if (field.DataType() == ftLargeint) {
        const std::optional<int64_t> value = Int64Of(reader.ReadExtended());
        if (!value) InvalidPropertyValue();
        return *value;
      }
      return int64_t(reader.ReadInteger());
    case TFieldStorage::Float: {
      const double value = DoubleOf(reader.ReadExtended());
      if (!std::isfinite(value)) InvalidPropertyValue();
      if (IsDateType(field.DataType()) && value == 0) return std::monostate();
      return value;
    }
    default:
      return reader.ReadString();
  }
}

std::vector<TFieldValue> ReadRecordValues(TTagReader& reader, const TMemTable& table, int version) {
  std::vector<TFieldValue> values;
  for (int i = 0; i < table.FieldCount(); ++i) {
    const bool null = version >= kNullFlagsSince && reader.ReadTag() == vaTrue;
    values.push_back(null ? TFieldValue() : ReadValue(reader, table.Fields(i)));
  }
  return values;
}

void AppendRecord(TMemTable& table, const std::vector<TFieldValue>& values, TUpdateStatus status) {
  table.Append();
  for (int i = 0; i < table.FieldCount(); ++i) {
    TField& field = table.Fields(i);
    const TFieldValue& value = values[size_t(i)];
    if (const auto* b = std::get_if<bool>(&value))
      field.SetAsBoolean(*b);
    else if (const auto* n = std::get_if<int64_t>(&value))
      field.SetAsInteger(*n);
    else if (const auto* d = std::get_if<double>(&value))
      field.SetAsFloat(*d);
    else if (const auto* text = std::get_if<std::string>(&value))
      field.SetAsString(*text);
    else
      field.Clear();
  }
  table.Post();
  table.SetUpdateStatus(status);
}

// From version 230 a record is a list of its versions, the current one first;
// the table keeps no history, so the older versions are read and dropped.
void LoadRecords(TTagReader& reader, TMemTable& table, int version) {
  if (table.FieldCount() == 0) throw EDatabaseError("Couldnt determine field count for load.");
  table.Open();
  table.EmptyTable();
  const bool lists = version >= kRecordListsSince;
  reader.ReadListBegin();
  while (!reader.EndOfList()) {
    TUpdateStatus status = usUnmodified;
    if (lists) {
      reader.ReadListBegin();
      status = TUpdateStatus(reader.ReadInteger());
    }
    AppendRecord(table, ReadRecordValues(reader, table, version), status);
    if (!lists) continue;
    while (!reader.EndOfList()) {
      reader.ReadInteger();
      ReadRecordValues(reader, table, version);
    }
    reader.ReadListEnd();
  }
  reader.ReadListEnd();
}

// ------------------------------------------------------------------ save

void SaveFieldDefs(TTagWriter& writer, const TMemTable& table) {
  writer.WriteListBegin();
  for (int i = 0; i < table.FieldCount(); ++i) {
    const TField& field = table.Fields(i);
    writer.WriteString(field.FieldName());
    writer.WriteString(kTypeNames[field.DataType()]);
    writer.WriteInteger(field.Size());
    writer.WriteString(field.DisplayName());
    writer.WriteString(field.Def().EditMask);
    writer.WriteInteger(field.DisplayWidth());
    writer.WriteBoolean(field.Def().Required);
    writer.WriteBoolean(field.Def().ReadOnly);
    writer.WriteString(kKindNames[field.Def().FieldKind]);
    writer.WriteString(field.Def().DefaultExpression);
  }
  writer.WriteListEnd();
}

void SaveIndexDefs(TTagWriter& writer, const TMemTable& table) {
  writer.WriteListBegin();
  for (const TIndexDef& def : table.IndexDefs()) {
    writer.WriteString(def.Name);
    writer.WriteString(def.Fields);
    writer.WriteString(def.DisplayName);
    writer.WriteBoolean(def.Descending);
    writer.WriteBoolean(def.CaseInsensitive);
    writer.WriteBoolean(def.NonMaintained);
    writer.WriteBoolean(def.Unique);
  }
  writer.WriteListEnd();
}

void SaveDataTypeHeader(TTagWriter& writer, const TMemTable& table) {
  writer.WriteListBegin();
  writer.WriteInteger(table.FieldCount());
  for (int i = 0; i < table.FieldCount(); ++i) writer.WriteInteger(table.Fields(i).DataType());
  writer.WriteListEnd();
}

void SaveValue(TTagWriter& writer, TFieldType type, const TFieldValue& value) {
  if (const auto* b = std::get_if<bool>(&value)) return writer.WriteBoolean(*b);
  if (const auto* n = std::get_if<int64_t>(&value)) {
    if (type == ftLargeint) return writer.WriteExtended(ExtendedOf(*n));
    return writer.WriteInteger(int32_t(*n));  // the other integer types fit 32 bits
  }
  if (const auto* d = std::get_if<double>(&value)) return writer.WriteExtended(ExtendedOf(*d));
  writer.WriteString(std::get<std::string>(value));
}

void SaveRecords(TTagWriter& writer, const TMemTable& table) {
  writer.WriteListBegin();
  for (int r = 0; r < table.RecordCount(); ++r) {
    const TMemTable::TRecordData& record = table.StoredRecord(r);
    writer.WriteListBegin();
    writer.WriteInteger(record.Status);
    for (int i = 0; i < table.FieldCount(); ++i) {
      const TFieldValue& value = record.Values[size_t(i)];
      const bool null = std::holds_alternative<std::monostate>(value);
      writer.WriteBoolean(null);
      if (!null) SaveValue(writer, table.Fields(i).DataType(), value);
    }
    writer.WriteListEnd();
  }
  writer.WriteListEnd();
}

std::string FolderOf(const std::string& path) {
  return path.substr(0, path.rfind('\\') + 1);
}

}  // namespace

void TBinaryTableFormat::SetBufferSize(int size) {
  FBufferSize = std::max(size, kMinBufferSize);
}

void TBinaryTableFormat::SaveToStream(const TMemTable& table, TStream& stream) {
  if (!table.Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset");
  TTagWriter writer(stream, FBufferSize);
  writer.WriteBytes("TPF0", 4);
  writer.WriteInteger(kFileVersion);
  SaveFieldDefs(writer, table);
  SaveIndexDefs(writer, table);
  SaveDataTypeHeader(writer, table);
  SaveRecords(writer, table);
  writer.Flush();
}

void TBinaryTableFormat::LoadFromStream(TMemTable& table, TStream& stream) {
  TTagReader reader(stream, FBufferSize);
  char signature[4];
  reader.ReadBytes(signature, 4);
  if (std::memcmp(signature, "TPF0", 4) != 0) throw EReadError("Invalid stream format");
  const int version = reader.NextTag() == vaList ? 100 : reader.ReadInteger();
  LoadFieldDefs(reader, table, version);
  if (version >= kIndexDefsSince) LoadIndexDefs(reader, table);
  SkipDataTypeHeader(reader);
  LoadRecords(reader, table, version);
  table.First();
  reader.SyncPosition();
}

void TBinaryTableFormat::SaveToFile(const TMemTable& table, const std::string& fileName) {
  const std::string target = ExpandFileName(fileName);
  // A read-only file stays as it is, as it would when opened for writing.
  const int32_t attributes = FileGetAttr(target);
  if (attributes >= 0 && (attributes & (faReadOnly | faDirectory)))
    throw EFCreateError(target, ERROR_ACCESS_DENIED);

  const std::string temporary = GetTempFileName(FolderOf(target), "zvr");
  if (temporary.empty()) throw EFCreateError(target, GetLastError());
  try {
    {
      TFileStream stream(temporary, fmCreate);
      SaveToStream(table, stream);
    }
    // The old file is replaced in one step only once the new one is complete.
    if (!MoveFileExA(temporary, target, MOVEFILE_REPLACE_EXISTING))
      throw EFCreateError(target, GetLastError());
  } catch (...) {
    DeleteFile(temporary);
    throw;
  }
}

void TBinaryTableFormat::LoadFromFile(TMemTable& table, const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(table, stream);
}
