#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "backup/BinaryTableFormat.h"
#include "platform/Classes.h"
#include "platform/DateTime.h"
#include "platform/MemTable.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Builds expected streams value by value, from the layout of the file.
class TBytes {
 public:
  TBytes& Raw(std::initializer_list<int> bytes) {
    for (int b : bytes) FBytes.push_back(uint8_t(b));
    return *this;
  }
  TBytes& Raw(const Bytes& bytes) {
    FBytes.insert(FBytes.end(), bytes.begin(), bytes.end());
    return *this;
  }
  TBytes& Text(const std::string& text) {  // the bytes alone
    FBytes.insert(FBytes.end(), text.begin(), text.end());
    return *this;
  }
  TBytes& Str(const std::string& text) { return Raw({0x06, int(text.size())}).Text(text); }
  TBytes& Int(int value) {  // smallest integer form
    if (value >= -128 && value <= 127) return Raw({0x02, value & 0xFF});
    if (value >= -32768 && value <= 32767) return Raw({0x03, value & 0xFF, (value >> 8) & 0xFF});
    return Raw(
        {0x04, value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF, (value >> 24) & 0xFF});
  }
  TBytes& Bool(bool value) { return Raw({value ? 0x09 : 0x08}); }
  // One field definition; `version` drops the kind (< 250) and default expression (< 251).
  TBytes& Def(const std::string& name, const std::string& type, int size, int width,
              int version = 251) {
    Str(name).Str(type).Int(size).Str(name).Str("").Int(width).Bool(false).Bool(false);
    if (version >= 250) Str("Data");
    if (version >= 251) Str("");
    return *this;
  }
  const Bytes& Get() const { return FBytes; }
  std::string AsString() const { return std::string(FBytes.begin(), FBytes.end()); }

 private:
  Bytes FBytes;
};

// The settings table of the backup program, as its window defines it.
void DefineSettings(TMemTable& table) {
  table.AddField("elle", ftBoolean);
  table.AddField("ellegun", ftInteger);
  table.AddField("oto", ftBoolean);
  table.AddField("otogun", ftInteger);
  table.AddField("ikinci", ftBoolean);
  table.AddField("ikinciyol", ftString, 75);
  table.AddField("sonyedek", ftDate);
}

// The first-start record: elle true, ellegun 7, the rest null.
void FillFirstStart(TMemTable& table) {
  table.Open();
  table.Append();
  table.FieldByName("elle").SetAsBoolean(true);
  table.FieldByName("ellegun").SetAsString("7");
  table.Post();
}

// Items 1 to 5 of the settings file: signature to data type header.
TBytes SettingsHead() {
  TBytes b;
  b.Text("TPF0").Raw({0x03, 0xFB, 0x00}).Raw({0x01});
  b.Def("elle", "Boolean", 0, 5).Def("ellegun", "Integer", 0, 10);
  b.Def("oto", "Boolean", 0, 5).Def("otogun", "Integer", 0, 10);
  b.Def("ikinci", "Boolean", 0, 5).Def("ikinciyol", "String", 75, 75);
  b.Def("sonyedek", "Date", 0, 10);
  b.Raw({0x00});
  b.Raw({0x01, 0x00});  // no index definitions
  b.Raw({0x01, 0x02, 0x07, 0x02, 0x05, 0x02, 0x03, 0x02, 0x05, 0x02, 0x03, 0x02, 0x05, 0x02, 0x01,
         0x02, 0x09, 0x00});
  return b;
}

const Bytes kFirstStartRecords = {0x01, 0x01, 0x02, 0x00, 0x08, 0x09, 0x08, 0x02,
                                  0x07, 0x09, 0x09, 0x09, 0x09, 0x09, 0x00, 0x00};

std::string MessageOfLoad(const Bytes& bytes, TMemTable& table) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), int32_t(bytes.size()));
  stream.SetPosition(0);
  try {
    TBinaryTableFormat().LoadFromStream(table, stream);
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(loaded)";
}

void Load(const Bytes& bytes, TMemTable& table) {
  const std::string message = MessageOfLoad(bytes, table);
  ASSERT_EQ(message, "(loaded)");
}

Bytes Save(const TMemTable& table) {
  TMemoryStream stream;
  TBinaryTableFormat().SaveToStream(table, stream);
  return stream.Bytes();
}

// A temporary folder mapped as drive C: for one test.
class TDriveC {
 public:
  TDriveC() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zvr-XXXXXX").string();
    FRoot = ::mkdtemp(pattern.data());
    ::setenv("ZELVORA_DRIVE_C", FRoot.c_str(), 1);
    std::filesystem::create_directories(FRoot + "/Zelvora");
  }
  ~TDriveC() {
    ::unsetenv("ZELVORA_DRIVE_C");
    std::error_code ignored;
    std::filesystem::remove_all(FRoot, ignored);
  }
  std::string Read(const std::string& name) const {
    std::ifstream file(FRoot + "/Zelvora/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  void Write(const std::string& name, const std::string& content) const {
    std::ofstream(FRoot + "/Zelvora/" + name, std::ios::binary) << content;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(FRoot + "/Zelvora"))
      names.push_back(entry.path().filename().string());
    return names;
  }
  std::string Host(const std::string& name) const { return FRoot + "/Zelvora/" + name; }

 private:
  std::string FRoot;
};

const char* const kSettingsFile = "C:\\Zelvora\\Vozidir.zvr";

}  // namespace

// ------------------------------------------------------------ exact bytes

TEST(BinaryTableFormat, FirstStartFileIsTheFixed330Bytes) {
  TDriveC drive;
  TMemTable table;
  DefineSettings(table);
  FillFirstStart(table);
  TBinaryTableFormat().SaveToFile(table, kSettingsFile);

  const std::string expected = SettingsHead().Raw(kFirstStartRecords).AsString();
  const std::string written = drive.Read("Vozidir.zvr");
  EXPECT_EQ(written.size(), 330u);
  EXPECT_EQ(written, expected);
  // The definition of elle, byte by byte.
  const Bytes elle = {0x06, 0x04, 'e',  'l',  'l',  'e',  0x06, 0x07, 'B', 'o',  'o',  'l',  'e',
                      'a',  'n',  0x02, 0x00, 0x06, 0x04, 'e',  'l',  'l', 'e',  0x06, 0x00, 0x02,
                      0x05, 0x08, 0x08, 0x06, 0x04, 'D',  'a',  't',  'a', 0x06, 0x00};
  EXPECT_EQ(written.substr(8, elle.size()), std::string(elle.begin(), elle.end()));
  EXPECT_EQ(written.substr(0, 8), std::string("TPF0\x03\xFB\x00\x01", 8));
  // The save leaves the cursor and the state alone.
  EXPECT_TRUE(table.Active());
  EXPECT_EQ(table.RecNo(), 1);
}

TEST(BinaryTableFormat, RecordAfterABackupWithSecondCopy) {
  TMemTable table;
  Load(SettingsHead().Raw(kFirstStartRecords).Get(), table);
  // The other program enables the second copy; the backup records its date.
  table.Edit();
  table.FieldByName("ikinci").SetAsBoolean(true);
  table.FieldByName("ikinciyol").SetAsString("E:\\Kopya");
  table.FieldByName("sonyedek").SetAsDateTime(EncodeDate(2024, 1, 15));
  table.Post();

  TBytes records;
  records.Raw({0x01, 0x01, 0x02, 0x01, 0x08, 0x09, 0x08, 0x02, 0x07, 0x09, 0x09, 0x08, 0x09, 0x08,
               0x06, 0x08});
  records.Text("E:\\Kopya").Raw({0x08, 0x05, 0, 0, 0, 0, 0, 0, 0xFA, 0xB0, 0x0E, 0x40, 0x00, 0x00});
  EXPECT_EQ(Save(table), SettingsHead().Raw(records.Get()).Get());
  EXPECT_DOUBLE_EQ(table.FieldByName("sonyedek").AsDateTime(), 45306.0);
}

// Every field type: its type code, its value bytes, and the value read back.
TEST(BinaryTableFormat, ValueEncodingByFieldType) {
  struct TCase {
    TFieldType Type;
    const char* TypeName;
    int Size;
    std::string Text;  // set with SetAsString
    Bytes Value;
  };
  const std::string longText(300, 'x');
  Bytes longValue = {0x0C, 0x2C, 0x01, 0x00, 0x00};
  longValue.insert(longValue.end(), longText.begin(), longText.end());
  const std::vector<TCase> cases = {
      {ftBoolean, "Boolean", 0, "True", {0x09}},
      {ftBoolean, "Boolean", 0, "False", {0x08}},
      {ftInteger, "Integer", 0, "-128", {0x02, 0x80}},
      {ftInteger, "Integer", 0, "300", {0x03, 0x2C, 0x01}},
      {ftInteger, "Integer", 0, "-32769", {0x04, 0xFF, 0x7F, 0xFF, 0xFF}},
      {ftSmallint, "SmallInt", 0, "-2", {0x02, 0xFE}},
      {ftWord, "Word", 0, "65535", {0x04, 0xFF, 0xFF, 0x00, 0x00}},
      {ftAutoInc, "AutoInc", 0, "1", {0x02, 0x01}},
      {ftFloat, "Float", 0, "1,5", {0x05, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x3F}},
      {ftFloat, "Float", 0, "-2", {0x05, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x00, 0xC0}},
      {ftFloat,
       "Float",
       0,
       "0,1",
       {0x05, 0x00, 0xD0, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xFB, 0x3F}},
      {ftCurrency, "Currency", 0, "12,5", {0x05, 0, 0, 0, 0, 0, 0, 0, 0xC8, 0x02, 0x40}},
      {ftBCD, "BCD", 0, "3", {0x05, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0x00, 0x40}},
      {ftDate, "Date", 0, "15.01.2024", {0x05, 0, 0, 0, 0, 0, 0, 0xFA, 0xB0, 0x0E, 0x40}},
      {ftTime, "Time", 0, "12:00:00", {0x05, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFE, 0x3F}},
      {ftDateTime,
       "DateTime",
       0,
       "15.01.2024 12:00:00",
       {0x05, 0, 0, 0, 0, 0, 0x80, 0xFA, 0xB0, 0x0E, 0x40}},
      // 2^62 + 1 needs all 64 bits of the significand.
      {ftLargeint,
       "LargeInt",
       0,
       "4611686018427387905",
       {0x05, 0x02, 0, 0, 0, 0, 0, 0, 0x80, 0x3D, 0x40}},
      {ftString, "String", 10, "abc", {0x06, 0x03, 'a', 'b', 'c'}},
      {ftString, "String", 10, "Ö", {0x14, 0x02, 0x00, 0x00, 0x00, 0xC3, 0x96}},
      {ftMemo, "Memo", 0, longText, longValue},
      {ftWideString, "WideString", 5, "ğ", {0x14, 0x02, 0x00, 0x00, 0x00, 0xC4, 0x9F}},
      {ftFixedChar, "FixedChar", 2, "ab", {0x06, 0x02, 'a', 'b'}},
      {ftGuid, "Guid", 38, "{0}", {0x06, 0x03, '{', '0', '}'}},
      {ftFMTBcd, "FMTBcdField", 0, "1.25", {0x06, 0x04, '1', '.', '2', '5'}},
      {ftBlob, "Blob", 0, "", {0x06, 0x00}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.TypeName) + " " + c.Text.substr(0, 20));
    TMemTable table;
    table.AddField("f", c.Type, c.Size);
    table.Open();
    table.Append();
    table.Fields(0).SetAsString(c.Text);
    table.Post();

    const Bytes saved = Save(table);
    TBytes records;
    records.Raw({0x01, 0x01, 0x02, 0x00, 0x08}).Raw(c.Value).Raw({0x00, 0x00});
    const Bytes tail = records.Get();
    ASSERT_GE(saved.size(), tail.size());
    EXPECT_EQ(Bytes(saved.end() - long(tail.size()), saved.end()), tail);
    TBytes header;
    header.Raw({0x01, 0x02, 0x01, 0x02, int(c.Type), 0x00});
    const Bytes head = header.Get();
    EXPECT_EQ(Bytes(saved.end() - long(tail.size() + head.size()), saved.end() - long(tail.size())),
              head);

    TMemTable loaded;
    Load(saved, loaded);
    ASSERT_EQ(loaded.FieldCount(), 1);
    EXPECT_EQ(loaded.Fields(0).DataType(), c.Type);
    EXPECT_EQ(loaded.Fields(0).AsString(), table.Fields(0).AsString());
    EXPECT_EQ(Save(loaded), saved);
  }
}

// ------------------------------------------------------- older versions

// The same table in every older layout: a Boolean, an Integer, a String of
// size 5 and a Date; two records.
TEST(BinaryTableFormat, LoadsEachOlderVersion) {
  const Bytes date = {0x05, 0, 0, 0, 0, 0, 0, 0xFA, 0xB0, 0x0E, 0x40};
  for (int version : {100, 200, 230, 249, 250, 251}) {
    SCOPED_TRACE(version);
    TBytes b;
    b.Text("TPF0");
    if (version != 100) b.Int(version);
    b.Raw({0x01})
        .Def("b", "Boolean", 0, 5, version)
        .Def("i", "Integer", 0, 10, version)
        .Def("s", "String", 5, 5, version)
        .Def("d", "Date", 0, 10, version)
        .Raw({0x00});
    if (version >= 200) {
      b.Raw({0x01}).Str("byI").Str("i").Str("byI").Bool(true).Bool(false).Bool(false).Bool(true);
      b.Raw({0x00});
    }
    b.Raw({0x01}).Int(4).Int(5).Int(3).Int(1).Int(9).Raw({0x00});
    b.Raw({0x01});
    // Record 1: true, 7, "abcdefg" (cut to 5), the date; status 2 where stored.
    if (version >= 230) b.Raw({0x01}).Int(2);
    if (version >= 249) b.Bool(false);
    b.Bool(true);
    if (version >= 249) b.Bool(false);
    b.Int(7);
    if (version >= 249) b.Bool(false);
    b.Str("abcdefg");
    if (version >= 249) b.Bool(false);
    b.Raw(date);
    if (version >= 230) b.Raw({0x00});
    // Record 2: false, -1, "", and a date of 0 (null); from 249 on the string is null.
    if (version >= 230) b.Raw({0x01}).Int(1);
    if (version >= 249) b.Bool(false);
    b.Bool(false);
    if (version >= 249) b.Bool(false);
    b.Int(-1);
    if (version >= 249)
      b.Bool(true);
    else
      b.Str("");
    if (version >= 249) b.Bool(false);
    b.Raw({0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    if (version >= 230) b.Raw({0x00});
    b.Raw({0x00});

    TMemTable table;
    Load(b.Get(), table);
    ASSERT_EQ(table.FieldCount(), 4);
    EXPECT_EQ(table.FieldByName("s").Size(), 5);
    ASSERT_EQ(table.RecordCount(), 2);
    EXPECT_EQ(table.RecNo(), 1);
    EXPECT_TRUE(table.FieldByName("b").AsBoolean());
    EXPECT_EQ(table.FieldByName("i").AsInteger(), 7);
    EXPECT_EQ(table.FieldByName("s").AsString(), "abcde");
    EXPECT_DOUBLE_EQ(table.FieldByName("d").AsDateTime(), 45306.0);
    EXPECT_EQ(table.UpdateStatus(), version >= 230 ? usInserted : usUnmodified);
    table.Next();
    EXPECT_FALSE(table.FieldByName("b").IsNull());
    EXPECT_FALSE(table.FieldByName("b").AsBoolean());
    EXPECT_EQ(table.FieldByName("i").AsInteger(), -1);
    EXPECT_EQ(table.FieldByName("s").IsNull(), version >= 249);
    EXPECT_TRUE(table.FieldByName("d").IsNull());
    EXPECT_EQ(table.UpdateStatus(), version >= 230 ? usModified : usUnmodified);
    ASSERT_EQ(table.IndexDefs().size(), version >= 200 ? 1u : 0u);
    if (version >= 200) {
      const TIndexDef& index = table.IndexDefs()[0];
      EXPECT_EQ(index.Name, "byI");
      EXPECT_EQ(index.Fields, "i");
      EXPECT_TRUE(index.Descending);
      EXPECT_FALSE(index.CaseInsensitive);
      EXPECT_FALSE(index.NonMaintained);
      EXPECT_TRUE(index.Unique);
    }
  }
}

TEST(BinaryTableFormat, KindAndDefaultExpressionFollowTheVersion) {
  for (int version : {249, 250, 251}) {
    SCOPED_TRACE(version);
    TBytes b;
    b.Text("TPF0").Int(version).Raw({0x01});
    b.Str("c").Str("Integer").Int(0).Str("Label").Str("999").Int(4).Bool(true).Bool(true);
    if (version >= 250) b.Str("Lookupish");  // an unknown kind counts as Data
    if (version >= 251) b.Str("42");
    b.Raw({0x00, 0x01, 0x00, 0x01, 0x02, 0x01, 0x02, 0x03, 0x00, 0x01, 0x00});
    TMemTable table;
    Load(b.Get(), table);
    const TField& field = table.FieldByName("c");
    EXPECT_EQ(field.DisplayWidth(), 4);
    EXPECT_TRUE(field.Def().Required);
    EXPECT_TRUE(field.Def().ReadOnly);
    EXPECT_EQ(field.Def().FieldKind, fkData);
    EXPECT_EQ(field.Def().DefaultExpression, version >= 251 ? "42" : "");
    EXPECT_EQ(field.DisplayName(), "c");  // the stored display name is not restored
    EXPECT_EQ(table.RecordCount(), 0);
  }
}

// ------------------------------------------------------------- tag forms

TEST(BinaryTableFormat, ReadsEveryTagFormOfAValue) {
  struct TCase {
    const char* Name;
    const char* Type;
    int Size;
    Bytes Value;
    std::string Expected;  // AsString, or an error message
  };
  const std::vector<TCase> cases = {
      {"short string", "String", 20, {0x06, 0x02, 'h', 'i'}, "hi"},
      {"long string", "String", 20, {0x0C, 0x02, 0, 0, 0, 'h', 'i'}, "hi"},
      {"UTF-8 string", "String", 20, {0x14, 0x04, 0, 0, 0, 'a', 0xC4, 0x9F, 'b'}, "ağb"},
      // "ağ" + U+1F600 as a surrogate pair.
      {"wide string",
       "String",
       20,
       {0x12, 0x04, 0, 0, 0, 'a', 0, 0x1F, 0x01, 0x3D, 0xD8, 0x00, 0xDE},
       "a\xC4\x9F\xF0\x9F\x98\x80"},
      {"wide lone surrogate", "String", 20, {0x12, 0x01, 0, 0, 0, 0x00, 0xD8}, "\xEF\xBF\xBD"},
      {"wide cut to size",
       "String",
       2,
       {0x12, 0x03, 0, 0, 0, 'a', 0, 0x1F, 0x01, 'c', 0},
       "a\xC4\x9F"},
      {"float from int8", "Float", 0, {0x02, 0xFF}, "-1"},
      {"float from int16", "Float", 0, {0x03, 0x00, 0x01}, "256"},
      {"float from int32", "Float", 0, {0x04, 0xA0, 0x86, 0x01, 0x00}, "100000"},
      {"float from int64", "Float", 0, {0x13, 0, 0, 0, 0, 0, 0, 0, 0x01}, "7,20575940379279E16"},
      {"largeint from int64",
       "LargeInt",
       0,
       {0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
       "9223372036854775807"},
      {"largeint from extended",
       "LargeInt",
       0,
       {0x05, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x3E, 0xC0},
       "-9223372036854775808"},
      {"largeint rounds 2.5 away from zero",
       "LargeInt",
       0,
       {0x05, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0x00, 0x40},
       "3"},
      {"date from integer", "Date", 0, {0x04, 0xFA, 0xB0, 0x00, 0x00}, "15.01.2024"},
      {"boolean true only for 0x09", "Boolean", 0, {0x02}, "False"},
      {"integer refuses int64",
       "Integer",
       0,
       {0x13, 1, 0, 0, 0, 0, 0, 0, 0},
       "Invalid property value"},
      {"integer refuses a string", "Integer", 0, {0x06, 0x01, '1'}, "Invalid property value"},
      {"string refuses an integer", "String", 5, {0x02, 0x01}, "Invalid property value"},
      {"float refuses a string", "Float", 0, {0x06, 0x01, '1'}, "Invalid property value"},
      {"float refuses infinity",
       "Float",
       0,
       {0x05, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x7F},
       "Invalid property value"},
      {"largeint out of range",
       "LargeInt",
       0,
       {0x05, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x3E, 0x40},
       "Invalid property value"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBytes b;
    b.Text("TPF0").Int(251).Raw({0x01}).Def("f", c.Type, c.Size, 10).Raw({0x00, 0x01, 0x00});
    b.Raw({0x01, 0x02, 0x01, 0x02, 0x00, 0x00});
    b.Raw({0x01, 0x01, 0x02, 0x00, 0x08}).Raw(c.Value).Raw({0x00, 0x00});
    TMemTable table;
    const std::string message = MessageOfLoad(b.Get(), table);
    if (message == "(loaded)")
      EXPECT_EQ(table.Fields(0).AsString(), c.Expected);
    else
      EXPECT_EQ(message, c.Expected);
  }
}

TEST(BinaryTableFormat, KeepsTheFirstVersionOfARecord) {
  TBytes b;
  b.Text("TPF0").Int(251).Raw({0x01}).Def("i", "Integer", 0, 10).Raw({0x00, 0x01, 0x00});
  b.Raw({0x01, 0x02, 0x01, 0x02, 0x03, 0x00});
  b.Raw({0x01});
  b.Raw({0x01}).Int(1).Bool(false).Int(5).Int(0).Bool(false).Int(4).Int(2).Bool(true).Raw({0x00});
  b.Raw({0x01}).Int(3).Bool(false).Int(6).Raw({0x00});
  b.Raw({0x00});
  TMemTable table;
  Load(b.Get(), table);
  ASSERT_EQ(table.RecordCount(), 2);
  EXPECT_EQ(table.FieldByName("i").AsInteger(), 5);
  EXPECT_EQ(table.UpdateStatus(), usModified);
  table.Next();
  EXPECT_EQ(table.FieldByName("i").AsInteger(), 6);
  EXPECT_EQ(table.UpdateStatus(), usDeleted);
}

// ---------------------------------------------------------------- errors

TEST(BinaryTableFormat, LoadErrors) {
  auto head = [](const std::string& type) {
    TBytes b;
    b.Text("TPF0").Int(251).Raw({0x01}).Def("elle", type, 0, 5).Raw({0x00});
    return b;
  };
  const Bytes file = SettingsHead().Raw(kFirstStartRecords).Get();
  struct TCase {
    const char* Name;
    Bytes Stream;
    std::string Message;
  };
  const std::vector<TCase> cases = {
      {"empty", {}, "Stream read error"},
      {"short signature", {'T', 'P'}, "Stream read error"},
      {"other signature", {'P', 'K', 0x03, 0x04, 0x01}, "Invalid stream format"},
      {"cut after the signature", {'T', 'P', 'F', '0'}, "Stream read error"},
      {"cut inside the definitions", Bytes(file.begin(), file.begin() + 100), "Stream read error"},
      {"cut before the last byte", Bytes(file.begin(), file.end() - 1), "Stream read error"},
      {"lower-case type name", head("boolean").Get(), "Unknown field type (boolean)"},
      {"type no table holds", head("Cursor").Get(), "Unknown field type (Cursor)"},
      {"version as a string", TBytes().Text("TPF0").Str("251").Get(), "Invalid property value"},
      {"definitions not a list", TBytes().Text("TPF0").Int(251).Int(1).Get(),
       "Invalid property value"},
      {"size as a string",
       TBytes().Text("TPF0").Int(251).Raw({0x01}).Str("a").Str("Integer").Str("0").Get(),
       "Invalid property value"},
      {"no fields",
       TBytes().Text("TPF0").Int(251).Raw({0x01, 0x00, 0x01, 0x00, 0x01, 0x02, 0x00, 0x00}).Get(),
       "Couldnt determine field count for load."},
      {"header count too small",
       head("Boolean").Raw({0x01, 0x00, 0x01, 0x02, 0x00, 0x02, 0x05}).Get(),
       "Invalid property value"},
      {"record not a list",
       head("Boolean").Raw({0x01, 0x00, 0x01, 0x02, 0x01, 0x02, 0x05, 0x00, 0x01, 0x02}).Get(),
       "Invalid property value"},
      // A long string claiming 2 GB: read in pieces, it fails at the end of the stream.
      {"huge string length",
       TBytes().Text("TPF0").Int(251).Raw({0x01, 0x0C, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}).Get(),
       "Stream read error"},
      {"huge wide string count",
       TBytes().Text("TPF0").Int(251).Raw({0x01, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}).Get(),
       "Stream read error"},
      {"huge header count",
       head("Boolean").Raw({0x01, 0x00, 0x01, 0x04, 0xFF, 0xFF, 0xFF, 0x7F, 0x02, 0x05}).Get(),
       "Stream read error"},
      {"date out of range",
       head("Date")
           .Raw({0x01, 0x00, 0x01, 0x02, 0x01, 0x02, 0x09, 0x00, 0x01, 0x01, 0x02, 0x00, 0x08,
                 0x05, 0,    0,    0,    0,    0,    0,    0,    0x80, 0x40, 0x40, 0x00, 0x00})
           .Get(),
       "Invalid argument to date encode"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TMemTable table;
    EXPECT_EQ(MessageOfLoad(c.Stream, table), c.Message);
  }
}

TEST(BinaryTableFormat, EmptyDefinitionsKeepTheTablesFields) {
  TMemTable table;
  DefineSettings(table);
  table.Open();
  TBytes b;
  b.Text("TPF0").Int(251).Raw({0x01, 0x00, 0x01, 0x00, 0x01, 0x02, 0x00, 0x00});
  b.Raw({0x01, 0x01, 0x02, 0x00, 0x08, 0x09}).Raw({0x09, 0x09, 0x09, 0x09, 0x09, 0x09});
  b.Raw({0x00, 0x00});
  Load(b.Get(), table);
  EXPECT_EQ(table.FieldCount(), 7);
  EXPECT_EQ(table.RecordCount(), 1);
  EXPECT_TRUE(table.FieldByName("elle").AsBoolean());
}

TEST(BinaryTableFormat, SavingAClosedTableFails) {
  TMemTable table;
  DefineSettings(table);
  TMemoryStream stream;
  try {
    TBinaryTableFormat().SaveToStream(table, stream);
    FAIL() << "saved a closed table";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Cannot perform this operation on a closed dataset");
  }
  EXPECT_EQ(stream.Size(), 0);
}

// ------------------------------------------------------------ round trip

TEST(BinaryTableFormat, RoundTripKeepsDefinitionsRecordsAndStatuses) {
  TMemTable table;
  TFieldDef def;
  def.Name = "yol";
  def.DataType = ftString;
  def.Size = 75;
  def.DisplayLabel = "Yol";
  def.EditMask = "!>";
  def.DisplayWidth = 30;
  def.Required = true;
  def.DefaultExpression = "'C:\\'";
  table.AddField(def);
  table.AddField("tarih", ftDateTime);
  table.AddField("sayi", ftLargeint);
  table.AddField("notlar", ftMemo);
  table.IndexDefs().push_back({"ix", "yol;tarih", "ix", false, true, false, true});
  table.Open();
  const std::vector<std::string> paths = {"D:\\Yedek Ğ", "E:\\Kopya", ""};
  for (size_t i = 0; i < paths.size(); ++i) {
    table.Append();
    table.FieldByName("yol").SetAsString(paths[i]);
    table.FieldByName("tarih").SetAsDateTime(EncodeDate(2024, 3, 7) + EncodeTime(9, 5, 30, 0));
    table.FieldByName("sayi").SetAsInteger(-(int64_t(1) << 60) - int64_t(i));
    table.FieldByName("notlar").SetAsString(std::string(20000 + i, char('a' + i)));
    table.Post();
  }
  table.First();
  table.Edit();
  table.FieldByName("sayi").Clear();
  table.Post();
  table.Last();

  TBinaryTableFormat format;
  format.SetBufferSize(10);  // raised to 16384; the records need several buffers
  EXPECT_EQ(format.BufferSize(), 16384);
  EXPECT_EQ(format.Version(), "3.00");
  TMemoryStream stream;
  format.SaveToStream(table, stream);
  EXPECT_EQ(table.RecNo(), 3);
  stream.WriteBuffer("tail", 4);
  stream.SetPosition(0);

  TMemTable loaded;
  format.LoadFromStream(loaded, stream);
  EXPECT_EQ(stream.Position(), stream.Size() - 4);  // just after the table
  ASSERT_EQ(loaded.FieldCount(), 4);
  EXPECT_EQ(loaded.FieldByName("yol").DisplayWidth(), 30);
  EXPECT_TRUE(loaded.FieldByName("yol").Def().Required);
  EXPECT_EQ(loaded.FieldByName("yol").Def().DefaultExpression, "'C:\\'");
  ASSERT_EQ(loaded.IndexDefs().size(), 1u);
  EXPECT_EQ(loaded.IndexDefs()[0].Fields, "yol;tarih");
  ASSERT_EQ(loaded.RecordCount(), 3);
  EXPECT_EQ(loaded.RecNo(), 1);
  for (int r = 0; r < 3; ++r) {
    SCOPED_TRACE(r);
    loaded.SetRecNo(r + 1);
    table.SetRecNo(r + 1);
    EXPECT_EQ(loaded.UpdateStatus(), table.UpdateStatus());
    for (int f = 0; f < 4; ++f) {
      EXPECT_EQ(loaded.Fields(f).IsNull(), table.Fields(f).IsNull());
      EXPECT_EQ(loaded.Fields(f).AsString(), table.Fields(f).AsString());
    }
  }
  // On the last record: a 64-bit value no double holds, kept exactly.
  EXPECT_EQ(loaded.FieldByName("sayi").AsInteger(), -(int64_t(1) << 60) - 2);
  loaded.First();
  EXPECT_EQ(loaded.UpdateStatus(), usModified);
  EXPECT_TRUE(loaded.FieldByName("sayi").IsNull());
}

TEST(BinaryTableFormat, TurkishSecondFolderIsStoredAsUtf8AndReadBack) {
  TDriveC drive;
  TMemTable table;
  DefineSettings(table);
  FillFirstStart(table);
  table.Edit();
  table.FieldByName("ikinciyol").SetAsString("E:\\Öğrenci Yedeği");
  table.Post();
  TBinaryTableFormat format;
  format.SaveToFile(table, kSettingsFile);
  const std::string bytes = drive.Read("Vozidir.zvr");
  const std::string utf8 = "E:\\Öğrenci Yedeği";
  EXPECT_NE(bytes.find(std::string("\x14", 1) + char(utf8.size()) + std::string(3, '\0') + utf8),
            std::string::npos);

  TMemTable loaded;
  DefineSettings(loaded);
  loaded.Open();
  format.LoadFromFile(loaded, kSettingsFile);
  EXPECT_EQ(loaded.FieldByName("ikinciyol").AsString(), utf8);
  EXPECT_EQ(drive.Read("Vozidir.zvr"), bytes);  // loading leaves the file alone
}

// ------------------------------------------------------------- safe save

namespace {

// Writes the first half of what a save would write, then fails.
class TFailingFormat : public TBinaryTableFormat {
 public:
  void SaveToStream(const TMemTable& table, TStream& stream) override {
    TMemoryStream full;
    TBinaryTableFormat::SaveToStream(table, full);
    stream.WriteBuffer(full.Memory(), int32_t(full.Size() / 2));
    throw EWriteError();
  }
};

}  // namespace

TEST(BinaryTableFormat, FailedSaveKeepsThePreviousFile) {
  TDriveC drive;
  const std::string previous = "previous settings of the other program";
  drive.Write("Vozidir.zvr", previous);
  TMemTable table;
  DefineSettings(table);
  FillFirstStart(table);

  EXPECT_THROW(TFailingFormat().SaveToFile(table, kSettingsFile), EWriteError);
  EXPECT_EQ(drive.Read("Vozidir.zvr"), previous);
  EXPECT_EQ(drive.Names(), std::vector<std::string>{"Vozidir.zvr"});  // no temporary file left

  // A real write failure: the process may not write more than 100 bytes per file.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 100;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool failed = false;
  try {
    TBinaryTableFormat().SaveToFile(table, kSettingsFile);
  } catch (const EWriteError&) {
    failed = true;
  }
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
  EXPECT_TRUE(failed);
  EXPECT_EQ(drive.Read("Vozidir.zvr"), previous);
  EXPECT_EQ(drive.Names(), std::vector<std::string>{"Vozidir.zvr"});

  // A save that succeeds replaces the file and leaves nothing else behind.
  TBinaryTableFormat().SaveToFile(table, kSettingsFile);
  EXPECT_EQ(drive.Read("Vozidir.zvr"), SettingsHead().Raw(kFirstStartRecords).AsString());
  EXPECT_EQ(drive.Names(), std::vector<std::string>{"Vozidir.zvr"});
}

TEST(BinaryTableFormat, ReadOnlyFileIsNotReplaced) {
  TDriveC drive;
  drive.Write("Vozidir.zvr", "old");
  std::filesystem::permissions(drive.Host("Vozidir.zvr"), std::filesystem::perms::owner_read |
                                                              std::filesystem::perms::group_read);
  TMemTable table;
  DefineSettings(table);
  FillFirstStart(table);
  try {
    TBinaryTableFormat().SaveToFile(table, kSettingsFile);
    FAIL() << "replaced a read-only file";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file \"C:\\Zelvora\\Vozidir.zvr\". Access is denied");
  }
  EXPECT_EQ(drive.Read("Vozidir.zvr"), "old");
  EXPECT_EQ(drive.Names(), std::vector<std::string>{"Vozidir.zvr"});
}

TEST(BinaryTableFormat, LoadingAMissingFileFails) {
  TDriveC drive;
  TMemTable table;
  DefineSettings(table);
  table.Open();
  try {
    TBinaryTableFormat().LoadFromFile(table, kSettingsFile);
    FAIL() << "loaded a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(),
              "Cannot open file \"C:\\Zelvora\\Vozidir.zvr\". The system cannot find the file "
              "specified");
  }
}
