// The settings-file loader on any file. A load either fails with the
// documented errors (or EConvertError for a date beyond the calendar) or
// gives a table whose every value reads, and which saves to bytes that load
// and save again unchanged.
#include <string>
#include <vector>

#include "backup/BinaryTableFormat.h"
#include "fuzz/FuzzSupport.h"
#include "platform/MemTable.h"

namespace {

// Reads every value of every record as text, the way the settings window does.
void ReadEveryValue(TMemTable& table) {
  table.First();
  while (!table.Eof()) {
    for (int i = 0; i < table.FieldCount(); ++i) {
      TField& field = table.Fields(i);
      if (!field.IsNull()) static_cast<void>(field.AsString());
    }
    table.Next();
  }
}

std::vector<uint8_t> Saved(TBinaryTableFormat& format, const TMemTable& table) {
  TMemoryStream stream;
  format.SaveToStream(table, stream);
  return stream.Bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream file;
  if (size) file.WriteBuffer(data, int32_t(size));
  file.SetPosition(0);
  TBinaryTableFormat format;
  TMemTable table;
  try {
    format.LoadFromStream(table, file);
  } catch (const EReadError&) {
    return 0;
  } catch (const EDatabaseError&) {
    return 0;
  } catch (const EConvertError&) {
    // A date beyond the calendar: "Invalid argument to date encode", as the loader's tests expect.
    return 0;
  }
  FUZZ_CHECK(table.Active(), "a load that succeeds leaves the table closed");
  FUZZ_CHECK(file.Position() <= int64_t(size), "the load read past the file");
  ReadEveryValue(table);

  const std::vector<uint8_t> first = Saved(format, table);
  TMemoryStream again;
  again.WriteBuffer(first.data(), int32_t(first.size()));
  again.SetPosition(0);
  TMemTable reloaded;
  format.LoadFromStream(reloaded, again);
  FUZZ_CHECK(again.Position() == again.Size(), "a saved table does not load to its end");
  FUZZ_CHECK(reloaded.RecordCount() == table.RecordCount(), "records lost in a save and load");
  FUZZ_CHECK(Saved(format, reloaded) == first, "a saved table does not save back the same");
  return 0;
}
