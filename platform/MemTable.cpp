#include "platform/MemTable.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

const char* const kClosedDataSet = "Cannot perform this operation on a closed dataset";
const char* const kOpenDataSet = "Cannot perform this operation on an open dataset";
const char* const kNotEditing = "Dataset not in edit or insert mode";

bool IsDateType(TFieldType type) {
  return type == ftDate || type == ftTime || type == ftDateTime;
}

// Text types count their size in characters, not bytes: the programs' text is
// UTF-8, and a byte cut would split letters such as "ğ" and drop characters
// another program of the suite stored within the limit.
bool CutsByCharacters(TFieldType type) {
  return type == ftString || type == ftFixedChar || type == ftWideString || type == ftGuid;
}

std::string CutToCharacters(const std::string& text, int size) {
  int characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool continuation = (uint8_t(text[i]) & 0xC0) == 0x80;
    if (!continuation || i == 0) {
      if (characters == size) return text.substr(0, i);
      ++characters;
    }
  }
  return text;
}

std::string CutToSize(TFieldType type, int size, const std::string& text) {
  if (size <= 0) return text;
  if (CutsByCharacters(type)) return CutToCharacters(text, size);
  if (type == ftBytes || type == ftVarBytes) return text.substr(0, size_t(size));
  return text;
}

struct TIntegerRange {
  int64_t Min, Max;
};

TIntegerRange RangeOf(TFieldType type) {
  switch (type) {
    case ftSmallint:
      return {-32768, 32767};
    case ftWord:
      return {0, 65535};
    case ftLargeint:
      return {std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()};
    default:
      return {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
  }
}

std::string FloatToText(double value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  std::string text;
  for (const char* p = buffer; *p; ++p) {
    if (*p == '.') {
      text += ',';
    } else if (*p == 'E') {  // 1E+20 -> 1E20, 1E-05 -> 1E-5
      text += 'E';
      if (p[1] == '-') text += *++p;
      if (p[1] == '+') ++p;
      while (p[1] == '0' && p[2]) ++p;
    } else {
      text += *p;
    }
  }
  return text;
}

double TextToFloat(const std::string& text) {
  std::string c = text;
  for (char& ch : c)
    if (ch == ',') ch = '.';
  const char* begin = c.c_str();
  while (*begin == ' ') ++begin;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(begin, &end);
  while (end && *end == ' ') ++end;
  if (*begin == '\0' || *end != '\0' || errno == ERANGE || !std::isfinite(value))
    throw EConvertError("'" + text + "' is not a valid floating point value");
  return value;
}

std::string TwoDigits(int value) {
  return Format("%02d", value);
}

std::string DateText(TDateTime value) {
  int year, month, day;
  DecodeDate(value, year, month, day);
  return TwoDigits(day) + "." + TwoDigits(month) + "." + Format("%04d", year);
}

std::string TimeText(TDateTime value) {
  int hour, minute, second, millisecond;
  DecodeTime(value, hour, minute, second, millisecond);
  return TwoDigits(hour) + ":" + TwoDigits(minute) + ":" + TwoDigits(second);
}

// Reads up to `count` unsigned decimal numbers separated by `separator`;
// false unless the whole text is used and at least `least` numbers are found.
bool ReadNumbers(const std::string& text, char separator, int least, int count, int* out) {
  size_t pos = 0;
  int found = 0;
  while (found < count) {
    size_t digits = 0;
    int value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 6) {
      value = value * 10 + (text[pos++] - '0');
      ++digits;
    }
    if (digits == 0) return false;
    out[found++] = value;
    if (pos == text.size()) break;
    if (text[pos++] != separator) return false;
  }
  return pos == text.size() && found >= least;
}

TDateTime TextToDate(const std::string& text) {
  int parts[3] = {0, 0, 0};
  if (!ReadNumbers(text, '.', 3, 3, parts))
    throw EConvertError("'" + text + "' is not a valid date");
  try {
    return EncodeDate(parts[2], parts[1], parts[0]);
  } catch (const EConvertError&) {
    throw EConvertError("'" + text + "' is not a valid date");
  }
}

TDateTime TextToTime(const std::string& text) {
  int parts[3] = {0, 0, 0};
  if (!ReadNumbers(text, ':', 2, 3, parts))
    throw EConvertError("'" + text + "' is not a valid time");
  try {
    return EncodeTime(parts[0], parts[1], parts[2], 0);
  } catch (const EConvertError&) {
    throw EConvertError("'" + text + "' is not a valid time");
  }
}

TDateTime TextToDateTime(TFieldType type, const std::string& text) {
  if (type == ftTime) return TextToTime(text);
  const size_t blank = text.find(' ');
  if (blank == std::string::npos) return TextToDate(text);
  const TDateTime date = TextToDate(text.substr(0, blank));
  const TDateTime time = TextToTime(text.substr(blank + 1));
  return date < 0 ? date - time : date + time;
}

int DefaultDisplayWidth(TFieldType type, int size) {
  if (CutsByCharacters(type)) return size;
  switch (type) {
    case ftBoolean:
      return 5;
    case ftSmallint:
      return 6;
    case ftWord:
      return 5;
    case ftLargeint:
      return 15;
    case ftDateTime:
      return 18;
    default:
      return 10;
  }
}

}  // namespace

TFieldStorage FieldStorageOf(TFieldType type) {
  switch (type) {
    case ftUnknown:
    case ftCursor:
    case ftReference:
    case ftDataSet:
    case ftVariant:
    case ftInterface:
    case ftDispatch:
      return TFieldStorage::None;
    case ftBoolean:
      return TFieldStorage::Boolean;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
      return TFieldStorage::Integer;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDate:
    case ftTime:
    case ftDateTime:
      return TFieldStorage::Float;
    default:
      return TFieldStorage::Text;
  }
}

// ----------------------------------------------------------------- TField

TField::TField(TMemTable& table, TFieldDef def, int index)
    : FTable(table), FDef(std::move(def)), FIndex(index) {}

const std::string& TField::DisplayName() const {
  return FDef.DisplayLabel.empty() ? FDef.Name : FDef.DisplayLabel;
}

int TField::DisplayWidth() const {
  return FDef.DisplayWidth > 0 ? FDef.DisplayWidth : DefaultDisplayWidth(FDef.DataType, FDef.Size);
}

const TFieldValue& TField::Value() const {
  return FTable.CurrentValue(FIndex);
}

void TField::Store(TFieldValue value) {
  FTable.SetCurrentValue(FIndex, std::move(value));
}

void TField::AccessError(const char* typeName) const {
  throw EDatabaseError(Format("Cannot access field '%s' as type %s", FDef.Name.c_str(), typeName));
}

bool TField::IsNull() const {
  return std::holds_alternative<std::monostate>(Value());
}

std::string TField::AsString() const {
  const TFieldValue& value = Value();
  if (const auto* b = std::get_if<bool>(&value)) return *b ? "True" : "False";
  if (const auto* i = std::get_if<int64_t>(&value)) return IntToStr(*i);
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* d = std::get_if<double>(&value)) {
    if (FDef.DataType == ftDate) return DateText(*d);
    if (FDef.DataType == ftTime) return TimeText(*d);
    if (FDef.DataType == ftDateTime) {
      const bool hasTime = *d != std::trunc(*d);
      return hasTime ? DateText(*d) + " " + TimeText(*d) : DateText(*d);
    }
    return FloatToText(*d);
  }
  return std::string();
}

bool TField::AsBoolean() const {
  const TFieldValue& value = Value();
  if (const auto* b = std::get_if<bool>(&value)) return *b;
  if (const auto* text = std::get_if<std::string>(&value))
    return !text->empty() && std::string("TtYy1").find((*text)[0]) != std::string::npos;
  if (std::holds_alternative<std::monostate>(value) &&
      (FDef.DataType == ftBoolean || FieldStorageOf(FDef.DataType) == TFieldStorage::Text))
    return false;
  AccessError("Boolean");
}

int64_t TField::AsInteger() const {
  const TFieldValue& value = Value();
  if (const auto* i = std::get_if<int64_t>(&value)) return *i;
  if (const auto* text = std::get_if<std::string>(&value))
    return text->empty() ? 0 : StrToInt(*text);
  if (const auto* d = std::get_if<double>(&value)) {
    if (!IsDateType(FDef.DataType) && std::fabs(*d) < 9.2e18) return std::llround(*d);
  } else if (std::holds_alternative<std::monostate>(value) && FDef.DataType != ftBoolean &&
             !IsDateType(FDef.DataType)) {
    return 0;
  }
  AccessError("Integer");
}

double TField::AsFloat() const {
  const TFieldValue& value = Value();
  if (const auto* d = std::get_if<double>(&value)) return *d;
  if (const auto* i = std::get_if<int64_t>(&value)) return double(*i);
  if (const auto* text = std::get_if<std::string>(&value))
    return text->empty() ? 0 : TextToFloat(*text);
  if (std::holds_alternative<std::monostate>(value) && FDef.DataType != ftBoolean) return 0;
  AccessError("Float");
}

TDateTime TField::AsDateTime() const {
  const TFieldValue& value = Value();
  if (IsDateType(FDef.DataType)) {
    const auto* d = std::get_if<double>(&value);
    return d ? *d : 0;
  }
  if (const auto* text = std::get_if<std::string>(&value))
    return text->empty() ? 0 : TextToDateTime(ftDateTime, *text);
  if (std::holds_alternative<std::monostate>(value) &&
      FieldStorageOf(FDef.DataType) == TFieldStorage::Text)
    return 0;
  AccessError("DateTime");
}

void TField::SetAsString(const std::string& value) {
  const TFieldStorage storage = FieldStorageOf(FDef.DataType);
  if (storage == TFieldStorage::Text) return Store(CutToSize(FDef.DataType, FDef.Size, value));
  if (value.empty()) return Clear();
  switch (storage) {
    case TFieldStorage::Boolean:
      if (SameText(value, "True")) return SetAsBoolean(true);
      if (SameText(value, "False")) return SetAsBoolean(false);
      throw EDatabaseError(Format("'%s' is not a valid boolean value for field '%s'", value.c_str(),
                                  FDef.Name.c_str()));
    case TFieldStorage::Integer:
      return SetAsInteger(StrToInt(value));
    case TFieldStorage::Float:
      if (IsDateType(FDef.DataType)) return SetAsDateTime(TextToDateTime(FDef.DataType, value));
      return SetAsFloat(TextToFloat(value));
    default:
      AccessError("String");
  }
}

void TField::SetAsBoolean(bool value) {
  if (FDef.DataType == ftBoolean) return Store(value);
  if (FieldStorageOf(FDef.DataType) == TFieldStorage::Text)
    return SetAsString(value ? "True" : "False");
  AccessError("Boolean");
}

void TField::SetAsInteger(int64_t value) {
  switch (FieldStorageOf(FDef.DataType)) {
    case TFieldStorage::Integer: {
      const TIntegerRange range = RangeOf(FDef.DataType);
      if (value < range.Min || value > range.Max)
        throw EDatabaseError(
            Format("%lld is not a valid value for field '%s'. The allowed range is %lld to %lld",
                   static_cast<long long>(value), FDef.Name.c_str(),
                   static_cast<long long>(range.Min), static_cast<long long>(range.Max)));
      return Store(value);
    }
    case TFieldStorage::Float:
      if (!IsDateType(FDef.DataType)) return Store(double(value));
      break;
    case TFieldStorage::Text:
      return SetAsString(IntToStr(value));
    default:
      break;
  }
  AccessError("Integer");
}

void TField::SetAsFloat(double value) {
  switch (FieldStorageOf(FDef.DataType)) {
    case TFieldStorage::Float:
      if (IsDateType(FDef.DataType)) return SetAsDateTime(value);
      if (!std::isfinite(value)) break;
      return Store(value);
    case TFieldStorage::Integer:
      // Beyond ±2^63 llround is undefined; such values are out of every range.
      if (!std::isfinite(value) || std::fabs(value) >= 9.2e18) break;
      return SetAsInteger(std::llround(value));
    case TFieldStorage::Text:
      return SetAsString(FloatToText(value));
    default:
      break;
  }
  AccessError("Float");
}

void TField::SetAsDateTime(TDateTime value) {
  // 1 January 0001 to 31 December 9999, the days the date functions know.
  if (!(value > -693594 && value < 2958466)) throw EConvertError("Invalid argument to date encode");
  if (IsDateType(FDef.DataType)) {
    if (FDef.DataType == ftDate) value = std::trunc(value);
    if (FDef.DataType == ftTime) value = std::fabs(value - std::trunc(value));
    return Store(value);
  }
  if (FieldStorageOf(FDef.DataType) == TFieldStorage::Text) {
    const bool hasTime = value != std::trunc(value);
    return SetAsString(hasTime ? DateText(value) + " " + TimeText(value) : DateText(value));
  }
  AccessError("DateTime");
}

void TField::Clear() {
  Store(std::monostate());
}

// -------------------------------------------------------------- TMemTable

TField& TMemTable::AddField(const TFieldDef& def) {
  CheckInactive();
  if (FindField(def.Name))
    throw EDatabaseError(Format("Duplicate field name '%s'", def.Name.c_str()));
  if (FieldStorageOf(def.DataType) == TFieldStorage::None)
    throw EDatabaseError(Format("Field '%s' is of an unknown type", def.Name.c_str()));
  FFields.push_back(std::make_unique<TField>(*this, def, FieldCount()));
  return *FFields.back();
}

TField& TMemTable::AddField(const std::string& name, TFieldType type, int size) {
  TFieldDef def;
  def.Name = name;
  def.DataType = type;
  def.Size = size;
  return AddField(def);
}

void TMemTable::ClearFields() {
  CheckInactive();
  FFields.clear();
}

TField& TMemTable::Fields(int index) {
  ZASSERT(index >= 0 && index < FieldCount(), "TMemTable.Fields: index out of range");
  return *FFields[size_t(index)];
}

const TField& TMemTable::Fields(int index) const {
  ZASSERT(index >= 0 && index < FieldCount(), "TMemTable.Fields: index out of range");
  return *FFields[size_t(index)];
}

TField* TMemTable::FindField(const std::string& name) {
  for (const auto& field : FFields)
    if (SameText(field->FieldName(), name)) return field.get();
  return nullptr;
}

TField& TMemTable::FieldByName(const std::string& name) {
  TField* field = FindField(name);
  if (!field) throw EDatabaseError(Format("Field '%s' not found", name.c_str()));
  return *field;
}

void TMemTable::Open() {
  if (Active()) return;
  FRecords.clear();
  FState = dsBrowse;
  FCurrent = -1;
  FBof = FEof = true;
}

void TMemTable::Close() {
  FRecords.clear();
  FPending = TRecordData();
  FState = dsInactive;
  FCurrent = -1;
  FBof = FEof = true;
}

void TMemTable::CheckActive() const {
  if (!Active()) throw EDatabaseError(kClosedDataSet);
}

void TMemTable::CheckInactive() const {
  if (Active()) throw EDatabaseError(kOpenDataSet);
}

void TMemTable::CheckBrowseMode() {
  CheckActive();
  if (FState == dsEdit || FState == dsInsert) Post();
}

void TMemTable::Append() {
  CheckBrowseMode();
  FPending = TRecordData();
  FPending.Values.resize(FFields.size());
  FState = dsInsert;
}

void TMemTable::Edit() {
  CheckActive();
  if (FState == dsEdit || FState == dsInsert) return;
  if (FRecords.empty()) return Append();
  FPending = FRecords[size_t(FCurrent)];
  FState = dsEdit;
}

void TMemTable::Post() {
  CheckActive();
  if (FState == dsInsert) {
    FPending.Status = usUnmodified;
    FRecords.push_back(std::move(FPending));
    FCurrent = int(FRecords.size()) - 1;
  } else if (FState == dsEdit) {
    FPending.Status = usModified;
    FRecords[size_t(FCurrent)] = std::move(FPending);
  } else {
    throw EDatabaseError(kNotEditing);
  }
  FPending = TRecordData();
  FState = dsBrowse;
  FBof = FEof = false;
}

void TMemTable::Cancel() {
  CheckActive();
  FPending = TRecordData();
  FState = dsBrowse;
}

void TMemTable::EmptyTable() {
  CheckActive();
  FRecords.clear();
  FPending = TRecordData();
  FState = dsBrowse;
  FCurrent = -1;
  FBof = FEof = true;
}

int TMemTable::RecordCount() const {
  CheckActive();
  return int(FRecords.size());
}

int TMemTable::RecNo() const {
  CheckActive();
  return FCurrent + 1;
}

void TMemTable::SetRecNo(int value) {
  CheckBrowseMode();
  if (FRecords.empty()) return;
  FCurrent = std::max(1, std::min(value, int(FRecords.size()))) - 1;
  FBof = FEof = false;
}

void TMemTable::First() {
  CheckBrowseMode();
  FCurrent = FRecords.empty() ? -1 : 0;
  FBof = true;
  FEof = FRecords.empty();
}

void TMemTable::Last() {
  CheckBrowseMode();
  FCurrent = int(FRecords.size()) - 1;
  FEof = true;
  FBof = FRecords.empty();
}

void TMemTable::Next() {
  CheckBrowseMode();
  FBof = false;
  if (FCurrent + 1 < int(FRecords.size())) {
    ++FCurrent;
    FEof = false;
  } else {
    FEof = true;
  }
}

void TMemTable::Prior() {
  CheckBrowseMode();
  FEof = false;
  if (FCurrent > 0) {
    --FCurrent;
    FBof = false;
  } else {
    FBof = true;
  }
}

bool TMemTable::Eof() const {
  CheckActive();
  return FEof;
}

bool TMemTable::Bof() const {
  CheckActive();
  return FBof;
}

TUpdateStatus TMemTable::UpdateStatus() const {
  CheckActive();
  return FCurrent < 0 ? usUnmodified : FRecords[size_t(FCurrent)].Status;
}

void TMemTable::SetUpdateStatus(TUpdateStatus status) {
  CheckActive();
  ZASSERT(FState == dsBrowse && FCurrent >= 0,
          "TMemTable.SetUpdateStatus: no stored current record");
  FRecords[size_t(FCurrent)].Status = status;
}

const TMemTable::TRecordData& TMemTable::StoredRecord(int index) const {
  CheckActive();
  ZASSERT(index >= 0 && index < int(FRecords.size()), "TMemTable.StoredRecord: index out of range");
  return FRecords[size_t(index)];
}

const TFieldValue& TMemTable::CurrentValue(int field) const {
  static const TFieldValue kNull;
  CheckActive();
  if (FState == dsEdit || FState == dsInsert) return FPending.Values[size_t(field)];
  return FCurrent < 0 ? kNull : FRecords[size_t(FCurrent)].Values[size_t(field)];
}

void TMemTable::SetCurrentValue(int field, TFieldValue value) {
  CheckActive();
  if (FState != dsEdit && FState != dsInsert) throw EDatabaseError(kNotEditing);
  FPending.Values[size_t(field)] = std::move(value);
}
