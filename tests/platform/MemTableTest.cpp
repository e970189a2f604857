#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "platform/MemTable.h"

namespace {

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no error)";
}

// The restore program's backup list.
void DefineBackupList(TMemTable& kl) {
  kl.AddField("tarih", ftString, 20);
  kl.AddField("dosya", ftString, 25);
}

}  // namespace

TEST(MemTable, BackupListCutsTextToTheFieldSize) {
  struct TCase {
    std::string Text;
    std::string Tarih;  // kept by the 20-character field
    std::string Dosya;  // kept by the 25-character field
  };
  const std::vector<TCase> cases = {
      {"07/03/2024 09:05", "07/03/2024 09:05", "07/03/2024 09:05"},
      {"", "", ""},
      {std::string(20, 'a'), std::string(20, 'a'), std::string(20, 'a')},
      {"202403070905-extra-long-name.zip", "202403070905-extra-l", "202403070905-extra-long-n"},
      // Sizes count characters: a Turkish letter is one, though two bytes.
      {"ğğğğğğğğğğğğğğğğğğğğğğğğğğğğ", "ğğğğğğğğğğğğğğğğğğğğ", "ğğğğğğğğğğğğğğğğğğğğğğğğğ"},
      {"Öz yedek 2024 Mart ayı.zip", "Öz yedek 2024 Mart a", "Öz yedek 2024 Mart ayı.zi"},
  };
  TMemTable kl;
  DefineBackupList(kl);
  kl.Open();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    kl.Append();
    kl.FieldByName("tarih").SetAsString(c.Text);
    kl.FieldByName("dosya").SetAsString(c.Text);
    kl.Post();
    EXPECT_EQ(kl.FieldByName("tarih").AsString(), c.Tarih);
    EXPECT_EQ(kl.FieldByName("dosya").AsString(), c.Dosya);
    EXPECT_FALSE(kl.FieldByName("tarih").IsNull());
  }
  EXPECT_EQ(kl.RecordCount(), int(cases.size()));
  EXPECT_EQ(kl.RecNo(), int(cases.size()));  // the last record appended is current
}

TEST(MemTable, ClosedTableAndUnknownFieldErrors) {
  TMemTable table;
  DefineBackupList(table);
  const std::string closed = "Cannot perform this operation on a closed dataset";
  EXPECT_FALSE(table.Active());
  EXPECT_EQ(MessageOf([&] { table.Append(); }), closed);
  EXPECT_EQ(MessageOf([&] { table.Edit(); }), closed);
  EXPECT_EQ(MessageOf([&] { table.Post(); }), closed);
  EXPECT_EQ(MessageOf([&] { table.First(); }), closed);
  EXPECT_EQ(MessageOf([&] { table.RecNo(); }), closed);
  EXPECT_EQ(MessageOf([&] { table.FieldByName("tarih").AsString(); }), closed);
  EXPECT_EQ(MessageOf([&] { table.FieldByName("nope"); }), "Field 'nope' not found");
  table.Open();
  EXPECT_EQ(MessageOf([&] { table.FieldByName("Tarih").AsString(); }), "(no error)");
  EXPECT_EQ(MessageOf([&] { table.FieldByName("sonyedek"); }), "Field 'sonyedek' not found");
  EXPECT_EQ(MessageOf([&] { table.AddField("x", ftInteger); }),
            "Cannot perform this operation on an open dataset");
  EXPECT_EQ(MessageOf([&] { table.FieldByName("tarih").SetAsString("x"); }),
            "Dataset not in edit or insert mode");
  EXPECT_EQ(MessageOf([&] { table.Post(); }), "Dataset not in edit or insert mode");
  try {
    table.Close();
    table.Edit();
    FAIL() << "edited a closed table";
  } catch (const EDatabaseError&) {
  }
}

TEST(MemTable, AppendEditPostAndUpdateStatus) {
  TMemTable table;
  table.AddField("elle", ftBoolean);
  table.AddField("ellegun", ftInteger);
  table.Open();
  EXPECT_EQ(table.RecNo(), 0);
  EXPECT_TRUE(table.Eof());

  // An edit on an empty table appends.
  table.Edit();
  EXPECT_EQ(table.State(), dsInsert);
  table.FieldByName("elle").SetAsBoolean(true);
  table.FieldByName("ellegun").SetAsString("7");
  table.Post();
  EXPECT_EQ(table.RecordCount(), 1);
  EXPECT_EQ(table.UpdateStatus(), usUnmodified);
  EXPECT_EQ(table.FieldByName("ellegun").AsInteger(), 7);

  table.Append();
  table.FieldByName("ellegun").SetAsInteger(3);
  table.Append();  // posts the pending record first
  table.Cancel();
  EXPECT_EQ(table.RecordCount(), 2);
  EXPECT_EQ(table.RecNo(), 2);
  EXPECT_TRUE(table.FieldByName("elle").IsNull());
  EXPECT_FALSE(table.FieldByName("elle").AsBoolean());

  table.First();
  table.Edit();
  table.FieldByName("ellegun").SetAsInteger(8);
  EXPECT_EQ(table.FieldByName("ellegun").AsInteger(), 8);  // the pending value
  table.Cancel();
  EXPECT_EQ(table.FieldByName("ellegun").AsInteger(), 7);
  EXPECT_EQ(table.UpdateStatus(), usUnmodified);
  table.Edit();
  table.FieldByName("ellegun").Clear();
  table.Post();
  EXPECT_EQ(table.UpdateStatus(), usModified);
  EXPECT_TRUE(table.FieldByName("ellegun").IsNull());
  EXPECT_EQ(table.FieldByName("ellegun").AsString(), "");

  table.Next();
  EXPECT_EQ(table.RecNo(), 2);
  EXPECT_FALSE(table.Eof());
  table.Next();
  EXPECT_TRUE(table.Eof());
  EXPECT_EQ(table.RecNo(), 2);
  table.SetRecNo(1);
  EXPECT_EQ(table.FieldByName("elle").AsString(), "True");

  table.Close();
  table.Open();
  EXPECT_EQ(table.RecordCount(), 0);
}

TEST(MemTable, ConversionsByFieldType) {
  TMemTable table;
  table.AddField("b", ftBoolean);
  table.AddField("i", ftInteger);
  table.AddField("s", ftSmallint);
  table.AddField("w", ftWord);
  table.AddField("f", ftFloat);
  table.AddField("d", ftDate);
  table.AddField("t", ftTime);
  table.AddField("dt", ftDateTime);
  table.AddField("text", ftString, 30);
  table.Open();
  table.Append();

  struct TCase {
    const char* Field;
    std::string Set;
    std::string Text;  // AsString afterwards, or the error
  };
  const std::vector<TCase> cases = {
      {"b", "true", "True"},
      {"b", "FALSE", "False"},
      {"b", "evet", "'evet' is not a valid boolean value for field 'b'"},
      {"b", "", ""},
      {"i", "-2147483648", "-2147483648"},
      {"i", "2147483648",
       "2147483648 is not a valid value for field 'i'. The allowed range is -2147483648 to "
       "2147483647"},
      {"i", "7a", "'7a' is not a valid integer value"},
      {"s", "-32769",
       "-32769 is not a valid value for field 's'. The allowed range is -32768 to 32767"},
      {"w", "-1", "-1 is not a valid value for field 'w'. The allowed range is 0 to 65535"},
      {"f", "1,25", "1,25"},
      {"f", "2.5", "2,5"},
      {"f", "1E20", "1E20"},
      {"f", "abc", "'abc' is not a valid floating point value"},
      {"d", "15.01.2024", "15.01.2024"},
      {"d", "31.02.2024", "'31.02.2024' is not a valid date"},
      {"d", "15.01.2024 10:30:00", "15.01.2024"},  // a date keeps the whole day only
      {"t", "10:30:15", "10:30:15"},
      {"t", "25:00", "'25:00' is not a valid time"},
      {"dt", "07.03.2024 09:05:30", "07.03.2024 09:05:30"},
      {"dt", "07.03.2024", "07.03.2024"},
      {"text", "E:\\Kopya", "E:\\Kopya"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Field) + " <- " + c.Set);
    TField& field = table.FieldByName(c.Field);
    const std::string message = MessageOf([&] { field.SetAsString(c.Set); });
    EXPECT_EQ(message == "(no error)" ? field.AsString() : message, c.Text);
  }

  TField& d = table.FieldByName("d");
  d.SetAsDateTime(EncodeDate(2024, 1, 15) + 0.75);
  EXPECT_DOUBLE_EQ(d.AsDateTime(), 45306.0);
  EXPECT_DOUBLE_EQ(d.AsFloat(), 45306.0);
  EXPECT_EQ(MessageOf([&] { d.SetAsDateTime(1e300); }), "Invalid argument to date encode");
  EXPECT_EQ(MessageOf([&] { d.AsBoolean(); }), "Cannot access field 'd' as type Boolean");
  EXPECT_EQ(MessageOf([&] { table.FieldByName("b").SetAsInteger(1); }),
            "Cannot access field 'b' as type Integer");
  table.FieldByName("f").SetAsInteger(3);
  EXPECT_EQ(table.FieldByName("f").AsInteger(), 3);
  table.FieldByName("i").SetAsFloat(2.5);
  EXPECT_EQ(table.FieldByName("i").AsInteger(), 3);
  table.FieldByName("text").SetAsBoolean(true);
  EXPECT_TRUE(table.FieldByName("text").AsBoolean());
  table.FieldByName("text").SetAsDateTime(EncodeDate(2024, 3, 7));
  EXPECT_DOUBLE_EQ(table.FieldByName("text").AsDateTime(), EncodeDate(2024, 3, 7));
  table.Post();
}

TEST(MemTable, FieldDefinitionsAndDisplayWidths) {
  TMemTable table;
  table.AddField("elle", ftBoolean);
  table.AddField("ellegun", ftInteger);
  table.AddField("ikinciyol", ftString, 75);
  table.AddField("sonyedek", ftDate);
  EXPECT_EQ(MessageOf([&] { table.AddField("ELLE", ftInteger); }), "Duplicate field name 'ELLE'");
  EXPECT_EQ(MessageOf([&] { table.AddField("c", ftCursor); }), "Field 'c' is of an unknown type");
  ASSERT_EQ(table.FieldCount(), 4);
  EXPECT_EQ(table.Fields(0).DisplayWidth(), 5);
  EXPECT_EQ(table.Fields(1).DisplayWidth(), 10);
  EXPECT_EQ(table.Fields(2).DisplayWidth(), 75);
  EXPECT_EQ(table.Fields(3).DisplayWidth(), 10);
  EXPECT_EQ(table.Fields(2).DisplayName(), "ikinciyol");
  EXPECT_EQ(table.FieldByName("SonYedek").Index(), 3);
  table.ClearFields();
  EXPECT_EQ(table.FieldCount(), 0);
}
